#include "LinkRig.h"

#include <thread>

std::string TLinkRig::Render(TMessage& message) {
    switch (message.Msg) {
    case WM_CONNECTION_STATE: {
        if (message.LParam == 1)
            return message.WParam.Empty() ? "connected" : "connected with a record?";
        auto parcel = message.WParam.Take<TextParcel>();
        return "disconnected: " + (parcel ? parcel->Text : std::string("(no parcel)"));
    }
    case WM_UPDATE_READY: return "update ready";
    case WM_SERVER_EVENT: break;
    default: return "message " + std::to_string(message.Msg);
    }
    std::string kind = std::to_string(message.LParam);
    switch (message.LParam) {
    case 200: return message.WParam.Empty() ? "200" : "200 with a record?";
    case 201:
    case 202:
    case 206: {
        auto parcel = message.WParam.Take<TextParcel>();
        return kind + " " + (parcel ? parcel->Text : std::string("(no parcel)"));
    }
    case 203: {
        auto s = message.WParam.Take<SettingsRecord>();
        if (!s) return "203 (no record)";
        return "203 station=" + s->StationID + " auto=" + std::to_string(s->AutoStart) +
               " confirm=" + std::to_string(s->ConfirmNewAlarm) +
               " screensaver=" + std::to_string(s->StopScreensaver) +
               " popup=" + std::to_string(s->PopupAlarms) +
               " sound=" + std::to_string(s->AlarmSound) +
               " prevent=" + std::to_string(s->PreventExit) +
               " drawing=" + std::to_string(s->DrawingVersion) +
               " dynamic=" + std::to_string(s->ClientsMode);
    }
    case 204: {
        auto stream = message.WParam.Take<TVelmarMemoryStream>();
        if (!stream) return "204 (no stream)";
        return "204 " + std::to_string(stream->GetSize()) + " bytes at " +
               std::to_string(stream->GetPosition());
    }
    case 207: {
        auto r = message.WParam.Take<ObjStatusRecord>();
        if (!r) return "207 (no record)";
        std::string hex = BytesToHex(std::string(reinterpret_cast<const char*>(r->State->Data()),
                                                 static_cast<size_t>(r->State->GetSize())));
        return "207 id=" + std::to_string(r->ObjectId) + " name=" + r->Name + " state=" + hex +
               " at " + std::to_string(r->State->Position());
    }
    default: return kind + " posted?";
    }
}

bool TLinkRig::WaitFor(const std::string& prefix, int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        for (; Cursor < Seen.size(); ++Cursor)
            if (Seen[Cursor].rfind(prefix, 0) == 0) {
                ++Cursor;
                return true;
            }
        if (std::chrono::steady_clock::now() > deadline) return false;
        Pump.WaitMessage(50);
        Pump.ProcessMessages([this](TMessage& m) { Seen.push_back(Render(m)); });
    }
}

std::vector<std::string> TLinkRig::ConversationUntil(const std::string& prefix) {
    EXPECT_TRUE(WaitFor(prefix)) << "never saw \"" << prefix << "\"";
    std::vector<std::string> lines;
    bool connected = false;
    for (const std::string& line : Seen) {
        if (!connected) {
            connected = line == "connected";
            continue;
        }
        lines.push_back(line);
        if (line.rfind(prefix, 0) == 0) break;
    }
    return lines;
}
