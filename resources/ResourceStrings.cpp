#include "ResourceStrings.h"

#include <array>
#include <utility>

namespace {

// Kept in the order of the enumeration; the static_assert below catches a missing entry.
constexpr std::pair<TResStringId, const char*> Table[] = {
    {rsNoConnection, "Ei yhteyttä"},

    {rsKindUnknown, "Tuntematon kohde"},
    {rsKindService, "Service"},
    {rsKindDepartment, "Department"},
    {rsKindLightClient, "Light client"},
    {rsKindZone, "Silmukka"},
    {rsKindPartition, "Alue"},
    {rsKindPanel, "Paneeli"},

    {rsServiceOffline, "offline"},
    {rsServiceConnected, "yhdistetty"},
    {rsZoneNumberTooHigh, "Yritys asettaa silmukkahakemisto > 192"},
    {rsZoneNumberTooLow, "Yritys asettaa silmukkahakemisto < 1"},
    {rsPartitionNumberTooHigh, "Yritys asettaa aluehakemisto > 8"},
    {rsPartitionNumberTooLow, "Yritys asettaa aluehakemisto < 1"},

    {rsServerDisconnected, "Palvelinyhteys poikki"},
};

constexpr bool InOrder() {
    for (int i = 0; i < static_cast<int>(std::size(Table)); ++i)
        if (Table[i].first != i) return false;
    return std::size(Table) == rsStringCount;
}
static_assert(InOrder(), "the string table must list every id once, in enumeration order");

} // namespace

const char* LoadResString(TResStringId id) {
    if (id < 0 || id >= rsStringCount) return "";
    return Table[id].second;
}
