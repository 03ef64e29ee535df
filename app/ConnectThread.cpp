#include "ConnectThread.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "ResourceStrings.h"
#include "SysUtils.h"
#include "Ticks.h"
#include "Utilities.h"

const char* const TerminatingReason = "Terminating";

namespace {

// The buffer the system's user-name call fills holds 255 characters.
constexpr size_t MaxUserNameLength = 255;

// Granularity of the codec a status record's state is copied into.
constexpr uint16_t StatusGranularity = 32;

// The value of key in a "GetSettings" reply: the rest of the first line that begins with the
// key, after the key and its three-character separator; empty when no line has it.
bool FindSetting(const TTcpReply& reply, const std::string& key, std::string& value) {
    for (const std::string& line : reply.Text) {
        if (line.compare(0, key.size(), key) == 0) {
            value = line.size() > key.size() + 3 ? line.substr(key.size() + 3) : std::string();
            return true;
        }
    }
    value.clear();
    return false;
}

std::string Setting(const TTcpReply& reply, const std::string& key) {
    std::string value;
    FindSetting(reply, key, value);
    return value;
}

} // namespace

// --- the line and its bracket ---

TLineBracket::TLineBracket(TServerLine& line)
    : FLine(line) {
    FLine.LineWanted.fetch_add(1);
    FLine.Connection.Wake();
    FLine.LineLock.lock();
}

TLineBracket::~TLineBracket() {
    FLine.LineWanted.fetch_sub(1);
    FLine.LineLock.unlock();
}

namespace {

// Runs one exchange of another thread in the bracket. A line that broke half-way through a
// reply or payload is closed: the bytes still due would otherwise be read as the replies of the
// connection thread's next exchanges. The thread then finds the line closed and reconnects.
template <class TExchange>
void BorrowLine(TServerLine& line, TExchange exchange) {
    TLineBracket bracket(line);
    try {
        exchange(line.Connection);
    } catch (const ESocketError&) {
        line.Connection.Disconnect(false);
        throw;
    }
}

} // namespace

std::unique_ptr<TUtilityStream> RequestClients(TServerLine& line) {
    auto stream = std::make_unique<TUtilityStream>();
    BorrowLine(line, [&](TTcpClient& connection) {
        connection.SendCmd("GetClients", 200);
        connection.ReadPayload(*stream);
    });
    stream->SetPosition(0);
    return stream;
}

void SendAlarm(TServerLine& line, const std::string& text) {
    BorrowLine(line, [&](TTcpClient& connection) { connection.SendCmd("Alarm " + text, 200); });
}

void SendDisarmPartition(TServerLine& line, int32_t partitionId) {
    BorrowLine(line, [&](TTcpClient& connection) {
        connection.SendCmd("DisarmPartition " + IntToStr(partitionId), 200);
    });
}

std::string LoginUserName() {
    std::string name = GetLoginUserName();
    if (name.empty() || name.size() > MaxUserNameLength) return "Unknown";
    return name;
}

// --- TConnectThread ---

TConnectThread::TConnectThread(IConnectThreadHost& owner, TServerLine& line)
    : FOwner(owner)
    , FLine(line)
    , Connection(line.Connection) {}

TConnectThread::~TConnectThread() {
    Terminate();
    WaitFor();
}

bool TConnectThread::IsNewerVersion(const std::string& line, uint16_t ownMajor, uint16_t ownMinor) {
    size_t space = line.find(' ');
    std::string version = space == std::string::npos ? line : line.substr(space + 1);
    size_t dot = version.find('.');
    std::string majorText = dot == std::string::npos ? std::string() : version.substr(0, dot);
    std::string minorText = version.substr(dot == std::string::npos ? 0 : dot + 1, 6);
    auto serverMajor = static_cast<uint16_t>(StrToInt(majorText));
    auto serverMinor = static_cast<uint16_t>(StrToInt(minorText));
    return int64_t(serverMajor) * 1000 + serverMinor > int64_t(ownMajor) * 1000 + ownMinor;
}

bool TConnectThread::IsNewerVersion(const std::string& line) const {
    uint16_t major, minor, release, build;
    GetOwnFileVersion(major, minor, release, build);
    return IsNewerVersion(line, major, minor);
}

void TConnectThread::SetBackgroundWanted(bool wanted) {
    FBackgroundWanted.store(wanted);
    if (wanted) Connection.Wake();
}

void TConnectThread::TerminateRequested() {
    Connection.Wake();
}

void TConnectThread::PostConnectionState(bool connected, const std::string& reason) {
    FConnected.store(connected);
    TMessage message;
    message.Msg = WM_CONNECTION_STATE;
    message.LParam = connected ? 1 : 0;
    if (!connected)
        message.WParam = TMessageParam(std::make_unique<TextParcel>(TextParcel{reason}));
    FOwner.PostMessage(std::move(message));
}

void TConnectThread::PostEvent(int32_t kind, TMessageParam payload) {
    TMessage message;
    message.Msg = WM_SERVER_EVENT;
    message.WParam = std::move(payload);
    message.LParam = kind;
    FOwner.PostMessage(std::move(message));
}

void TConnectThread::SleepLoop() {
    std::this_thread::sleep_for(std::chrono::milliseconds(Timings.LoopSleep));
}

void TConnectThread::Execute() {
    Connection.ReadTimeout = Timings.ReadTimeout;
    // The first attempt is immediate.
    uint32_t lastAttempt = GetTickCount() - Timings.ReconnectSpacing - 1;
    while (!Terminated()) {
        SleepLoop();
        try {
            if (TicksPassed(lastAttempt, Timings.ReconnectSpacing)) {
                std::lock_guard<std::recursive_mutex> lock(FLine.LineLock);
                lastAttempt = GetTickCount();
                if (!Connection.Connected()) Login();
            }
            if (Terminated()) break;
            if (Connected()) {
                if (BackgroundWanted()) FetchBackground();
                std::lock_guard<std::recursive_mutex> lock(FLine.LineLock);
                PollCycle();
            }
        } catch (const std::exception& e) {
            std::lock_guard<std::recursive_mutex> lock(FLine.LineLock);
            PostConnectionState(false, e.what());
            Connection.Disconnect(false);
        }
    }

    try {
        std::lock_guard<std::recursive_mutex> lock(FLine.LineLock);
        if (Connection.Connected()) {
            Connection.ReadTimeout = std::min(Timings.ReadTimeout, Timings.QuitReplyTimeout);
            Connection.SendCmd("Quit", 200);
        }
        Connection.Disconnect();
    } catch (const std::exception&) {
        // The conversation ends either way; the owner only needs to hear that it did.
        Connection.Disconnect(false);
    }
    SetTerminated();
    PostConnectionState(false, TerminatingReason);
}

void TConnectThread::Login() {
    Connection.Connect(Host, ServerPort, Timings.ConnectTimeout);
    LoginExchanges();
}

void TConnectThread::LoginExchanges() {
    TTcpReply greeting = Connection.GetResponse(200);
    if (greeting.Text.size() < 2) throw EListError("List index out of bounds (1)");
    bool update = IsNewerVersion(greeting.Text[1]);
    Connection.SendCmd(StationIdent, 200);
    Connection.SendCmd(UserName, 200);
    if (update) {
        DownloadUpgrade();
        Connection.SendCmd("Quit", 200);
        Connection.Disconnect();
        SetTerminated();
        return;
    }
    FetchSettings();
    PostConnectionState(true, std::string());
}

void TConnectThread::FetchSettings() {
    TLineBracket bracket(FLine);
    TTcpReply reply = Connection.SendCmd("GetSettings");
    std::string stationId;
    if (FindSetting(reply, "Station ID", stationId)) StationIdent = stationId;
    auto record = std::make_unique<SettingsRecord>();
    record->StationID = StationIdent;
    record->AutoStart = StrToBool(Setting(reply, "Auto start"));
    record->ConfirmNewAlarm = StrToBool(Setting(reply, "Confirm new alarm"));
    record->StopScreensaver = StrToBool(Setting(reply, "Stop screensaver"));
    record->PopupAlarms = StrToBool(Setting(reply, "Popup alarms"));
    record->AlarmSound = StrToBool(Setting(reply, "Alarm sound"));
    record->PreventExit = StrToBool(Setting(reply, "Prevent exit"));
    record->DrawingVersion = StrToInt(Setting(reply, "Drawing version"));
    record->ClientsMode = Setting(reply, "Clients mode") == "Dynamic";
    PostEvent(203, TMessageParam(std::move(record)));
}

void TConnectThread::FetchBackground() {
    auto stream = std::make_unique<TVelmarMemoryStream>();
    {
        TLineBracket bracket(FLine);
        Connection.SendCmd("GetBackground", 200);
        Connection.ReadPayload(*stream);
    }
    stream->SetPosition(0);
    FBackgroundWanted.store(false);
    PostEvent(204, TMessageParam(std::move(stream)));
}

void TConnectThread::DownloadUpgrade() {
    std::string path = FOwner.UpdaterPath();
    std::remove(path.c_str());
    {
        TLineBracket bracket(FLine);
        try {
            // The updater is started as a program, so it is written executable.
            TFileStream file(path, fmCreate, 0755);
            Connection.SendCmd("Upgrade", 200);
            Connection.ReadPayload(file);
        } catch (...) {
            // A cut-short download must not leave an updater that looks complete.
            std::remove(path.c_str());
            throw;
        }
    }
    TMessage message;
    message.Msg = WM_UPDATE_READY;
    FOwner.PostMessage(std::move(message));
}

void TConnectThread::PollCycle() {
    TTcpReply reply = Connection.SendCmd("Poll");
    int32_t code = reply.Code;
    std::string text = reply.WholeText();
    uint32_t pollTick = GetTickCount();

    switch (code) {
    case 203: FetchSettings(); break;
    case 204: FetchBackground(); break;
    case 205:
        Connection.SendCmd("Quit", 200);
        Connection.Disconnect();
        PostConnectionState(false, LoadResString(rsServerDisconnected));
        break;
    case 206: PostEvent(206, TMessageParam(std::make_unique<TextParcel>(TextParcel{text}))); break;
    case 207: {
        TVelmarMemoryStream payload;
        Connection.ReadPayload(payload);
        size_t equals = text.find('=');
        auto record = std::make_unique<ObjStatusRecord>();
        record->ObjectId =
            StrToInt(equals == std::string::npos ? std::string_view()
                                                 : std::string_view(text).substr(0, equals));
        record->Name = equals == std::string::npos ? std::string() : text.substr(equals + 1, 255);
        record->State = std::make_unique<TBufferProtocol>(&payload, StatusGranularity);
        PostEvent(207, TMessageParam(std::move(record)));
        break;
    }
    default: break;
    }

    if (code != LastCode || text != LastText) {
        if (code == 200)
            PostEvent(200, TMessageParam());
        else if (code == 201 || code == 202)
            PostEvent(code, TMessageParam(std::make_unique<TextParcel>(TextParcel{text})));
    }
    LastCode = code;
    LastText = text;

    if (code == 200) IdleWait(pollTick);
}

void TConnectThread::IdleWait(uint32_t pollTick) {
    // The conditions are checked before each data check as well as after it, so a requester
    // that is already waiting gets the line without a first check's delay.
    while (!Terminated() && FLine.LineWanted.load() == 0 && !BackgroundWanted()) {
        if (!Connection.Connected()) throw ESocketError("Not connected");
        if (Connection.WaitForData(Timings.IdleDataCheck)) {
            Connection.GetResponse();
            return;
        }
        if (TicksPassed(pollTick, Timings.IdleWaitBound)) return;
    }
}
