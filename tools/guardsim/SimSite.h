#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "Exception.h"

// A bad site or scenario file; the message names the file and the fault.
GC_DECLARE_EXCEPTION(ESiteError, Exception);

// One scheduled event of a scenario. An event comes due At milliseconds after a client has
// logged in, or Delay milliseconds after the client sent the command named by On; it then waits
// for the client's next "Poll" (and wakes an idle client).
struct TSimEvent {
    enum class TKind {
        Alarm,    // 201, or 202 when Silent: starts an alarm, answered to every Poll until it ends
        AlarmEnd, // the alarm ends: the next Poll is answered 200
        Status,   // 207 with an object's state section
        Message,  // 206 with Text
        Settings, // 203, after applying SettingsSet to the server-side settings
        Drawing,  // 204, after replacing the drawing when Document or Payload names a file
        Disconnect, // 205: the server ends the conversation
        Version,    // the greeting offers Version from the next connection on; nothing is sent
        Raw,        // Bytes sent as they are instead of a reply (for clients that must cope)
        Close,      // the server drops the connection without a word
    };

    TKind Kind = TKind::Message;
    int64_t At = -1;
    std::string On;
    int64_t Delay = 0;
    int Repeat = 1;

    std::string Text;
    bool Silent = false;
    int32_t Id = 0;
    std::string Name;
    bool HasState = false;
    std::string State;          // a ready state section, when given
    nlohmann::ordered_json Set; // object state fields to change before sending (Status)
    std::vector<std::pair<std::string, std::string>> SettingsSet;
    std::string Version;
    std::string Bytes;
    bool CloseAfter = false;    // Raw: drop the connection right after the bytes
    std::string DrawingPayload; // already packed, when the event replaces the drawing

    static const char* KindName(TKind kind);
};

// One monitored object as the site file gives it.
struct TSimObjectEntry {
    std::string Type;
    int32_t Id = 0;
    std::string Name;
    nlohmann::ordered_json Fields = nlohmann::ordered_json::object();
    // A ready record for a type the model has no class for (sent as it is, to check that
    // clients skip it).
    bool HasRecord = false;
    std::string Record;
};

// Everything a site file says. Paths inside it are relative to the file's folder.
struct TSimSite {
    std::vector<std::string> Greeting; // the lines of the greeting reply
    std::vector<std::pair<std::string, std::string>> Settings;
    std::vector<std::string> Stations; // accepted station identifiers; empty accepts all
    std::string DrawingPayload;        // the "GetBackground" payload; empty: none
    std::string UpdaterPayload;        // the "Upgrade" payload; empty: none
    bool HasUpdater = false;
    bool HasDrawing = false;
    int32_t HomeObjectId = 0;
    std::vector<TSimObjectEntry> Objects;
    std::string ClientsPayload; // a ready "GetClients" list, when the file gives one
    bool HasClientsPayload = false;
    std::vector<TSimEvent> Scenario;

    static TSimSite Load(const std::string& fileName);
    static TSimSite Parse(const std::string& jsonText, const std::string& baseDir,
                          const std::string& sourceName = "site");
    // Replaces the scenario with the events of a scenario file (a list, or an object with
    // "scenario").
    void LoadScenario(const std::string& fileName);

    // The greeting's second line for a version: "<name> <version>".
    static std::string VersionLine(const std::string& version);
};

// The drawing payload for a document: one zlib stream holding section 0 with the document.
std::string PackDrawing(const std::string& document);

std::string ReadWholeFile(const std::string& fileName);
std::string HexToBytes(const std::string& hex);
std::string BytesToHex(const std::string& bytes);
