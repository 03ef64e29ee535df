#pragma once

// The string table: every user-interface text (Finnish) and every fixed caption the system
// shows is looked up here by id rather than written where it is used. Texts are UTF-8; the
// wire and document boundaries convert them to the single-byte code page.
enum TResStringId : int {
    // Connection and tray (program)
    rsNoConnection, // "Ei yhteyttä"

    // Kind captions of the monitored objects
    rsKindUnknown,     // "Tuntematon kohde"
    rsKindService,     // "Service"
    rsKindDepartment,  // "Department"
    rsKindLightClient, // "Light client"
    rsKindZone,        // "Silmukka"
    rsKindPartition,   // "Alue"
    rsKindPanel,       // "Paneeli"

    // Monitored objects: service status texts and refused zone and partition numbers
    rsServiceOffline,         // "offline"
    rsServiceConnected,       // "yhdistetty"
    rsZoneNumberTooHigh,      // "Yritys asettaa silmukkahakemisto > 192"
    rsZoneNumberTooLow,       // "Yritys asettaa silmukkahakemisto < 1"
    rsPartitionNumberTooHigh, // "Yritys asettaa aluehakemisto > 8"
    rsPartitionNumberTooLow,  // "Yritys asettaa aluehakemisto < 1"

    // Server link
    rsServerDisconnected, // "Palvelinyhteys poikki"

    rsStringCount
};

const char* LoadResString(TResStringId id);
