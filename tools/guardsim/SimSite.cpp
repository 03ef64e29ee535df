#include "SimSite.h"

#include <cstring>
#include <fstream>
#include <sstream>

#include "UtilityStream.h"

using json = nlohmann::ordered_json;

namespace {

std::string FolderOf(const std::string& fileName) {
    size_t slash = fileName.rfind('/');
    return slash == std::string::npos ? std::string(".") : fileName.substr(0, slash);
}

std::string Resolve(const std::string& baseDir, const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    return baseDir + "/" + path;
}

// Settings values may be written as JSON strings, booleans or numbers; the wire carries text.
std::string SettingText(const json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_boolean()) return value.get<bool>() ? "True" : "False";
    if (value.is_number()) return value.dump();
    throw ESiteError("a setting must be a string, a boolean or a number, not " + value.dump());
}

std::vector<std::pair<std::string, std::string>> ParseSettings(const json& object) {
    if (!object.is_object()) throw ESiteError("\"settings\" must be an object of key and value");
    std::vector<std::pair<std::string, std::string>> settings;
    for (auto it = object.begin(); it != object.end(); ++it)
        settings.emplace_back(it.key(), SettingText(it.value()));
    return settings;
}

// A file or inline text: "path", {"file": path}, {"text": "..."} or {"hex": "..."}.
std::string ContentOf(const json& value, const std::string& baseDir) {
    if (value.is_string()) return ReadWholeFile(Resolve(baseDir, value.get<std::string>()));
    if (value.is_object()) {
        if (value.contains("file"))
            return ReadWholeFile(Resolve(baseDir, value.at("file").get<std::string>()));
        if (value.contains("text")) return value.at("text").get<std::string>();
        if (value.contains("hex")) return HexToBytes(value.at("hex").get<std::string>());
    }
    throw ESiteError("expected a file name or an object with \"file\", \"text\" or \"hex\", not " +
                     value.dump());
}

// A drawing: a document to pack ("document") or a ready payload ("payload").
std::string DrawingOf(const json& value, const std::string& baseDir) {
    if (value.is_object() && value.contains("payload"))
        return ContentOf(value.at("payload"), baseDir);
    if (value.is_object() && value.contains("document"))
        return PackDrawing(ContentOf(value.at("document"), baseDir));
    return PackDrawing(ContentOf(value, baseDir));
}

TSimEvent::TKind KindByName(const std::string& name) {
    using K = TSimEvent::TKind;
    static const std::pair<const char*, K> names[] = {
        {"alarm", K::Alarm},           {"alarm-end", K::AlarmEnd}, {"status", K::Status},
        {"message", K::Message},       {"settings", K::Settings},  {"drawing", K::Drawing},
        {"disconnect", K::Disconnect}, {"version", K::Version},    {"raw", K::Raw},
        {"close", K::Close},
    };
    for (const auto& [text, kind] : names)
        if (name == text) return kind;
    throw ESiteError("unknown event kind \"" + name + "\"");
}

TSimEvent ParseEvent(const json& item, const std::string& baseDir) {
    if (!item.is_object()) throw ESiteError("an event must be an object, not " + item.dump());
    TSimEvent event;
    event.Kind = KindByName(item.at("kind").get<std::string>());
    if (item.contains("at")) event.At = item.at("at").get<int64_t>();
    if (item.contains("on")) event.On = item.at("on").get<std::string>();
    if (event.At < 0 && event.On.empty()) event.At = 0;
    if (item.contains("at") && event.At < 0) throw ESiteError("\"at\" must not be negative");
    event.Delay = item.value("delay", int64_t(0));
    event.Repeat = item.value("repeat", 1);
    if (event.Repeat < 1) throw ESiteError("\"repeat\" must be at least 1");
    event.Text = item.value("text", std::string());
    event.Silent = item.value("silent", false);
    event.Id = item.value("id", 0);
    event.Name = item.value("name", std::string());
    if (item.contains("state")) {
        event.HasState = true;
        event.State = HexToBytes(item.at("state").get<std::string>());
    }
    if (item.contains("set")) {
        if (event.Kind == TSimEvent::TKind::Settings)
            event.SettingsSet = ParseSettings(item.at("set"));
        else
            event.Set = item.at("set");
    }
    event.Version = item.value("version", std::string());
    if (event.Kind == TSimEvent::TKind::Version && event.Version.empty())
        throw ESiteError("a \"version\" event needs \"version\"");
    if (event.Kind == TSimEvent::TKind::Raw) {
        if (item.contains("hex"))
            event.Bytes = HexToBytes(item.at("hex").get<std::string>());
        else
            event.Bytes = item.at("text").get<std::string>();
        event.CloseAfter = item.value("close", false);
    }
    if (event.Kind == TSimEvent::TKind::Drawing &&
        (item.contains("document") || item.contains("payload")))
        event.DrawingPayload = DrawingOf(item, baseDir);
    if (event.Kind == TSimEvent::TKind::Status && event.Id == 0)
        throw ESiteError("a \"status\" event needs the object's \"id\"");
    return event;
}

std::vector<TSimEvent> ParseScenario(const json& list, const std::string& baseDir) {
    const json& events = list.is_object() ? list.at("scenario") : list;
    if (!events.is_array()) throw ESiteError("a scenario must be a list of events");
    std::vector<TSimEvent> scenario;
    for (const json& item : events)
        scenario.push_back(ParseEvent(item, baseDir));
    return scenario;
}

json ParseJson(const std::string& text, const std::string& sourceName) {
    try {
        return json::parse(text);
    } catch (const json::exception& e) {
        throw ESiteError(sourceName + ": " + e.what());
    }
}

} // namespace

const char* TSimEvent::KindName(TKind kind) {
    switch (kind) {
    case TKind::Alarm: return "alarm";
    case TKind::AlarmEnd: return "alarm-end";
    case TKind::Status: return "status";
    case TKind::Message: return "message";
    case TKind::Settings: return "settings";
    case TKind::Drawing: return "drawing";
    case TKind::Disconnect: return "disconnect";
    case TKind::Version: return "version";
    case TKind::Raw: return "raw";
    case TKind::Close: return "close";
    }
    return "?";
}

std::string TSimSite::VersionLine(const std::string& version) {
    return "GuardSim " + version;
}

TSimSite TSimSite::Load(const std::string& fileName) {
    return Parse(ReadWholeFile(fileName), FolderOf(fileName), fileName);
}

TSimSite TSimSite::Parse(const std::string& jsonText, const std::string& baseDir,
                         const std::string& sourceName) {
    json root = ParseJson(jsonText, sourceName);
    TSimSite site;
    try {
        if (!root.is_object()) throw ESiteError("the site must be a JSON object");
        if (root.contains("greeting")) {
            for (const json& line : root.at("greeting"))
                site.Greeting.push_back(line.get<std::string>());
        } else {
            site.Greeting = {"GuardSim monitoring server ready",
                             VersionLine(root.value("version", std::string("1.0")))};
        }
        if (root.contains("settings")) site.Settings = ParseSettings(root.at("settings"));
        if (root.contains("stations"))
            for (const json& station : root.at("stations"))
                site.Stations.push_back(SettingText(station));
        if (root.contains("drawing")) {
            site.DrawingPayload = DrawingOf(root.at("drawing"), baseDir);
            site.HasDrawing = true;
        }
        if (root.contains("updater")) {
            site.UpdaterPayload = ContentOf(root.at("updater"), baseDir);
            site.HasUpdater = true;
        }
        site.HomeObjectId = root.value("home", 0);
        if (root.contains("objects")) {
            for (const json& item : root.at("objects")) {
                TSimObjectEntry entry;
                entry.Type = item.at("type").get<std::string>();
                entry.Id = item.at("id").get<int32_t>();
                entry.Name = item.value("name", std::string());
                if (item.contains("fields")) entry.Fields = item.at("fields");
                if (item.contains("record")) {
                    entry.HasRecord = true;
                    entry.Record = HexToBytes(item.at("record").get<std::string>());
                }
                site.Objects.push_back(std::move(entry));
            }
        }
        if (root.contains("clients_payload")) {
            site.ClientsPayload = ContentOf(root.at("clients_payload"), baseDir);
            site.HasClientsPayload = true;
        }
        if (root.contains("scenario")) {
            const json& scenario = root.at("scenario");
            if (scenario.is_string())
                site.LoadScenario(Resolve(baseDir, scenario.get<std::string>()));
            else
                site.Scenario = ParseScenario(scenario, baseDir);
        }
    } catch (const ESiteError& e) {
        throw ESiteError(sourceName + ": " + e.what());
    } catch (const json::exception& e) {
        throw ESiteError(sourceName + ": " + e.what());
    }
    return site;
}

void TSimSite::LoadScenario(const std::string& fileName) {
    json root = ParseJson(ReadWholeFile(fileName), fileName);
    try {
        Scenario = ParseScenario(root, FolderOf(fileName));
    } catch (const json::exception& e) {
        throw ESiteError(fileName + ": " + e.what());
    } catch (const ESiteError& e) {
        throw ESiteError(fileName + ": " + e.what());
    }
}

std::string PackDrawing(const std::string& document) {
    try {
        TMemoryStream sections;
        WriteDrawingSection(sections, 0, document.data(), static_cast<int64_t>(document.size()));
        sections.SetPosition(0);
        TMemoryStream packed;
        CompressStream(sections, packed);
        return std::string(static_cast<const char*>(packed.Memory()),
                           static_cast<size_t>(packed.GetSize()));
    } catch (const Exception&) {
        throw ESiteError("cannot compress the drawing");
    }
}

std::string ReadWholeFile(const std::string& fileName) {
    std::ifstream file(fileName, std::ios::binary);
    if (!file) throw ESiteError("cannot open \"" + fileName + "\": " + std::strerror(errno));
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::string HexToBytes(const std::string& hex) {
    std::string bytes;
    int high = -1;
    for (char c : hex) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c == ' ' || c == ':')
            continue;
        else
            throw ESiteError(std::string("not a hexadecimal digit: '") + c + "'");
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<char>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0) throw ESiteError("odd number of hexadecimal digits");
    return bytes;
}

std::string BytesToHex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 15]);
    }
    return hex;
}
