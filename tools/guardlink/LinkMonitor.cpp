#include "LinkMonitor.h"

#include <cerrno>
#include <cstring>

#include "ClientList.h"
#include "Exception.h"
#include "ObjectFields.h"

using json = nlohmann::ordered_json;

namespace {

std::string Hex(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        hex.push_back(digits[data[i] >> 4]);
        hex.push_back(digits[data[i] & 15]);
    }
    return hex;
}

} // namespace

void SaveFileWhole(const std::string& fileName, const void* data, size_t size) {
    std::string part = fileName + ".part";
    FILE* file = std::fopen(part.c_str(), "wb");
    if (!file) throw Exception("cannot write " + part + ": " + std::strerror(errno));
    bool ok = std::fwrite(data, 1, size, file) == size;
    ok = std::fclose(file) == 0 && ok;
    if (!ok || std::rename(part.c_str(), fileName.c_str()) != 0) {
        int error = errno;
        std::remove(part.c_str());
        throw Exception("cannot write " + fileName + ": " + std::strerror(error));
    }
}

TLinkMonitor::TLinkMonitor(const TLinkOptions& options, TServerLine& line, TConnectThread& thread,
                           FILE* out)
    : FOptions(options)
    , FLine(line)
    , FThread(thread)
    , FOut(out) {}

TLinkMonitor::~TLinkMonitor() = default;

void TLinkMonitor::Print(json& line) {
    json out;
    out["t"] = std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - FStart)
                   .count();
    for (auto& [key, value] : line.items())
        out[key] = value;
    std::string text = out.dump(-1, ' ', false, json::error_handler_t::replace);
    std::fprintf(FOut, "%s\n", text.c_str());
    std::fflush(FOut);
}

void TLinkMonitor::Error(const std::string& text) {
    json line{{"msg", "error"}, {"text", text}};
    Print(line);
}

void TLinkMonitor::Handle(TMessage& message) {
    ++FCount;
    json line;
    switch (message.Msg) {
    case WM_CONNECTION_STATE: {
        line["msg"] = "connection";
        line["connected"] = message.LParam == 1;
        if (auto parcel = message.WParam.Take<TextParcel>()) line["reason"] = parcel->Text;
        Print(line);
        if (message.LParam == 1 && FOptions.Clients && !Finishing) LoadClients();
        return;
    }
    case WM_UPDATE_READY: {
        line["msg"] = "update-ready";
        line["path"] = UpdaterPath;
        FILE* file = std::fopen(UpdaterPath.c_str(), "rb");
        long size = -1;
        if (file) {
            std::fseek(file, 0, SEEK_END);
            size = std::ftell(file);
            std::fclose(file);
        }
        line["size"] = size;
        Print(line);
        return;
    }
    case WM_SERVER_EVENT: break;
    default:
        line["msg"] = "unknown";
        line["number"] = message.Msg;
        Print(line);
        return;
    }

    int kind = static_cast<int>(message.LParam);
    line["msg"] = "event";
    line["kind"] = kind;
    switch (kind) {
    case 201:
    case 202:
    case 206:
        if (auto parcel = message.WParam.Take<TextParcel>()) {
            line["text"] = parcel->Text;
            if (kind != 206) {
                size_t equals = parcel->Text.find('=');
                line["caption"] = parcel->Text.substr(0, equals);
                line["link"] =
                    equals == std::string::npos ? std::string() : parcel->Text.substr(equals + 1);
            }
        }
        break;
    case 203:
        if (auto settings = message.WParam.Take<SettingsRecord>()) {
            line["settings"] = json{{"StationID", settings->StationID},
                                    {"AutoStart", settings->AutoStart},
                                    {"ConfirmNewAlarm", settings->ConfirmNewAlarm},
                                    {"StopScreensaver", settings->StopScreensaver},
                                    {"PopupAlarms", settings->PopupAlarms},
                                    {"AlarmSound", settings->AlarmSound},
                                    {"PreventExit", settings->PreventExit},
                                    {"DrawingVersion", settings->DrawingVersion},
                                    {"ClientsMode", settings->ClientsMode}};
            if (!FOptions.SaveDrawing.empty() && !Finishing) FThread.SetBackgroundWanted(true);
        }
        break;
    case 204:
        if (auto stream = message.WParam.Take<TVelmarMemoryStream>()) {
            line["size"] = stream->GetSize();
            if (!FOptions.SaveDrawing.empty()) {
                try {
                    SaveFileWhole(FOptions.SaveDrawing, stream->Memory(),
                                  static_cast<size_t>(stream->GetSize()));
                    line["saved"] = FOptions.SaveDrawing;
                } catch (const std::exception& e) {
                    Print(line);
                    Error(e.what());
                    return;
                }
            }
        }
        break;
    case 207:
        if (auto record = message.WParam.Take<ObjStatusRecord>()) {
            line["id"] = record->ObjectId;
            line["name"] = record->Name;
            line["size"] = record->State->GetSize();
            line["state"] =
                Hex(record->State->Data(), static_cast<size_t>(record->State->GetSize()));
            if (FOptions.Clients) ApplyStatus(*record, line);
        }
        break;
    default: break;
    }
    Print(line);
}

void TLinkMonitor::LoadClients() {
    std::unique_ptr<TUtilityStream> stream;
    try {
        stream = RequestClients(FLine);
    } catch (const std::exception& e) {
        Error(std::string("GetClients: ") + e.what());
        return;
    }
    json line{{"msg", "clients"}};
    FObjects.Clear();
    std::string failure;
    int32_t home = 0;
    TBufferProtocol list(stream.get(), 32);
    try {
        home = ReadClientList(list, CreateModelObject, [this](std::unique_ptr<TCustomSysObject> o) {
            FObjects.Add(std::move(o));
        });
    } catch (const std::exception& e) {
        failure = e.what();
    }
    line["home"] = home;
    line["size"] = stream->GetSize();
    line["objects"] = FObjects.Count();
    if (!FOptions.SaveClients.empty()) {
        try {
            SaveFileWhole(FOptions.SaveClients, stream->Memory(),
                          static_cast<size_t>(stream->GetSize()));
            line["saved"] = FOptions.SaveClients;
        } catch (const std::exception& e) {
            Print(line);
            Error(e.what());
            return;
        }
    }
    Print(line);
    for (int i = 0; i < FObjects.Count(); ++i) {
        TCustomSysObject* object = FObjects.Items(i);
        json item{{"msg", "object"},
                  {"type", object->ClassTypeName()},
                  {"id", object->Id()},
                  {"name", object->Name()},
                  {"fields", DataFields(*object)},
                  {"state", StateFields(*object)}};
        Print(item);
    }
    if (!failure.empty()) Error("GetClients: " + failure);
}

void TLinkMonitor::ApplyStatus(ObjStatusRecord& record, json& line) {
    if (TCustomSysObject* object = FObjects.FindById(record.ObjectId)) {
        try {
            record.State->SetPosition(0);
            object->BeginStateUpdate();
            try {
                object->ReadState(*record.State, record.State->GetSize());
            } catch (...) {
                object->EndStateUpdate();
                throw;
            }
            object->EndStateUpdate();
            line["object"] = StateFields(*object);
        } catch (const std::exception& e) {
            line["object-error"] = e.what();
        }
    }
}
