#include "SimServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <deque>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "SysUtils.h"
#include "TcpClient.h"

namespace {

uint64_t NowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        if (end == std::string::npos) return lines;
        start = end + 1;
    }
}

// The lines of a reply: every line but the last marks the continuation with "-".
std::vector<std::string> ReplyLines(int code, const std::vector<std::string>& texts) {
    std::vector<std::string> lines;
    for (size_t i = 0; i < texts.size(); ++i)
        lines.push_back(std::to_string(code) + (i + 1 < texts.size() ? "-" : " ") + texts[i]);
    return lines;
}

} // namespace

// --- log ---

void TSimLog::SetOutput(FILE* out) {
    std::lock_guard<std::mutex> lock(FLock);
    FOut = out;
}

void TSimLog::Write(int session, const char* direction, const std::string& text) {
    std::lock_guard<std::mutex> lock(FLock);
    if (!FOut) return;
    timeval now{};
    ::gettimeofday(&now, nullptr);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    std::fprintf(FOut, "%02d:%02d:%02d.%03d #%d %s %s\n", local.tm_hour, local.tm_min, local.tm_sec,
                 static_cast<int>(now.tv_usec / 1000), session, direction, text.c_str());
    std::fflush(FOut);
}

void TSimLog::Note(const std::string& text) {
    Write(0, "--", text);
}

// --- one conversation ---

class TSimSession {
public:
    TSimSession(TSimServer& server, int number, int socket)
        : FServer(server)
        , FNumber(number) {
        FConnection.Attach(socket);
    }

    void Start() {
        FThread = std::thread([this] { Run(); });
    }
    bool Done() const { return FDone.load(); }
    void Join() {
        if (FThread.joinable()) FThread.join();
    }
    // Called by the server from another thread to end the conversation now.
    void Abort() {
        std::lock_guard<std::mutex> lock(FSocketLock);
        FAborted = true;
        if (FConnection.Connected()) ::shutdown(FConnection.Handle(), SHUT_RDWR);
        FConnection.Wake();
    }

private:
    struct TPending {
        const TSimEvent* Event;
        int Remaining;
    };
    struct TTimed {
        uint64_t Due;
        const TSimEvent* Event;
    };

    void Run();
    void Converse();
    void Handle(const std::string& line);
    void Schedule(const TSimEvent& event, uint64_t due);
    void PromoteDue();
    void Answer(const TSimEvent& event);
    void Send(const std::vector<std::string>& lines, bool isPollReply = false);
    void Reply(int code, const std::string& text) { Send(ReplyLines(code, SplitLines(text))); }
    void SendPayload(const std::string& payload);
    void FlushRepeats();
    void Close(const std::string& why);

    TSimServer& FServer;
    int FNumber;
    TTcpClient FConnection;
    std::mutex FSocketLock;
    bool FAborted = false;
    std::thread FThread;
    std::atomic<bool> FDone{false};

    int FPhase = 0; // 0 station identifier, 1 user name, 2 commands
    bool FIdle = false;
    bool FEnded = false;
    bool FAlarm = false;
    bool FAlarmSilent = false;
    std::string FAlarmText;
    std::vector<TTimed> FTimed;
    std::deque<TPending> FPending;
    std::vector<bool> FTriggered;
    // Identical Poll exchanges are logged once with a count, so a client that polls without a
    // pause during an alarm does not flood the log.
    std::vector<std::string> FLastPollReply;
    int FRepeats = 0;
    // Events the conversation made itself (a disarmed partition's status); a deque keeps their
    // addresses while FPending points at them.
    std::deque<TSimEvent> FOwnedEvents;
};

void TSimSession::Run() {
    FServer.Log.Write(FNumber, "--", "client connected");
    try {
        Converse();
    } catch (const std::exception& e) {
        if (!FEnded)
            FServer.Log.Write(FNumber, "--", std::string("conversation ended: ") + e.what());
    }
    FlushRepeats();
    {
        std::lock_guard<std::mutex> lock(FSocketLock);
        FConnection.Disconnect();
    }
    FDone.store(true);
}

void TSimSession::Close(const std::string& why) {
    FlushRepeats();
    FServer.Log.Write(FNumber, "--", why);
    FEnded = true;
}

void TSimSession::FlushRepeats() {
    if (FRepeats > 0)
        FServer.Log.Write(FNumber, "..",
                          "the last Poll exchange repeated " + std::to_string(FRepeats) +
                              " more times");
    FRepeats = 0;
}

void TSimSession::Send(const std::vector<std::string>& lines, bool isPollReply) {
    bool repeated = isPollReply && lines == FLastPollReply;
    if (isPollReply)
        FLastPollReply = lines;
    else
        FLastPollReply.clear();
    if (repeated) {
        ++FRepeats;
    } else {
        FlushRepeats();
        if (isPollReply) FServer.Log.Write(FNumber, "<-", "Poll");
        for (const std::string& line : lines)
            FServer.Log.Write(FNumber, "->", ToProtocolLine(line));
    }
    for (const std::string& line : lines)
        FConnection.WriteLn(line);
}

void TSimSession::SendPayload(const std::string& payload) {
    if (FRepeats == 0)
        FServer.Log.Write(FNumber, "->",
                          "[payload of " + std::to_string(payload.size()) + " bytes]");
    FConnection.WritePayload(payload.data(), payload.size());
}

void TSimSession::Schedule(const TSimEvent& event, uint64_t due) {
    if (event.Kind == TSimEvent::TKind::Version && due <= NowMs()) {
        FServer.SetVersion(event.Version);
        FServer.Log.Write(FNumber, "--", "the greeting now offers version " + event.Version);
        return;
    }
    FTimed.push_back({due, &event});
    std::stable_sort(FTimed.begin(), FTimed.end(),
                     [](const TTimed& a, const TTimed& b) { return a.Due < b.Due; });
}

void TSimSession::PromoteDue() {
    uint64_t now = NowMs();
    size_t due = 0;
    while (due < FTimed.size() && FTimed[due].Due <= now) {
        const TSimEvent& event = *FTimed[due].Event;
        if (event.Kind == TSimEvent::TKind::Version) {
            FServer.SetVersion(event.Version);
            FServer.Log.Write(FNumber, "--", "the greeting now offers version " + event.Version);
        } else {
            FPending.push_back({&event, event.Repeat});
        }
        ++due;
    }
    FTimed.erase(FTimed.begin(), FTimed.begin() + static_cast<ptrdiff_t>(due));
    if (FIdle && !FPending.empty()) {
        // The client waits idle after a 200; a reply of our own wakes it to poll at once.
        FIdle = false;
        Send({"200 Event pending"});
    }
}

void TSimSession::Converse() {
    Send(ReplyLines(200, FServer.Greeting()));
    FTriggered.assign(FServer.Scenario().size(), false);
    while (!FEnded) {
        PromoteDue();
        {
            std::lock_guard<std::mutex> lock(FSocketLock);
            if (FAborted) return;
        }
        uint64_t wait = 1000;
        if (!FTimed.empty()) {
            uint64_t now = NowMs();
            wait =
                FTimed.front().Due > now ? std::min<uint64_t>(FTimed.front().Due - now, 1000) : 0;
        }
        if (!FConnection.WaitForData(static_cast<uint32_t>(wait))) continue;
        std::string line = FConnection.ReadLn();
        FServer.NoteReceived(FNumber, line);
        Handle(line);
    }
}

void TSimSession::Answer(const TSimEvent& event) {
    using K = TSimEvent::TKind;
    switch (event.Kind) {
    case K::Alarm:
        FAlarm = true;
        FAlarmSilent = event.Silent;
        FAlarmText = event.Text;
        Send(ReplyLines(FAlarmSilent ? 202 : 201, SplitLines(FAlarmText)), true);
        break;
    case K::AlarmEnd:
        FAlarm = false;
        Send({"200 OK"}, true);
        FIdle = true;
        break;
    case K::Status: {
        std::string text, payload;
        FServer.Objects().Status(event, text, payload);
        Send({"207 " + text}, true);
        SendPayload(payload);
        break;
    }
    case K::Message: Send(ReplyLines(206, SplitLines(event.Text)), true); break;
    case K::Settings:
        FServer.ChangeSettings(event.SettingsSet);
        Send({"203 Settings changed"}, true);
        break;
    case K::Drawing:
        if (!event.DrawingPayload.empty()) FServer.SetDrawing(event.DrawingPayload);
        Send({"204 Drawing changed"}, true);
        break;
    case K::Disconnect: Send({"205 Server closing the connection"}, true); break;
    case K::Version: break;
    case K::Raw:
        FlushRepeats();
        FLastPollReply.clear();
        FServer.Log.Write(FNumber, "->",
                          "[raw " + std::to_string(event.Bytes.size()) +
                              " bytes: " + BytesToHex(event.Bytes.substr(0, 64)) +
                              (event.Bytes.size() > 64 ? "...]" : "]"));
        FConnection.WriteRaw(event.Bytes.data(), event.Bytes.size());
        // A scripted 200 leaves the client idle just like our own, so due events still wake it.
        FIdle = event.Bytes.rfind("200 ", 0) == 0;
        if (event.CloseAfter) Close("dropping the connection after the raw bytes (scenario)");
        break;
    case K::Close: Close("dropping the connection (scenario)"); break;
    }
}

void TSimSession::Handle(const std::string& received) {
    std::string line = Trim(received);
    FIdle = false;
    if (FPhase == 0) {
        FServer.Log.Write(FNumber, "<-", line);
        const auto& stations = FServer.Stations();
        if (!stations.empty() &&
            std::find(stations.begin(), stations.end(), line) == stations.end()) {
            Reply(401, "Employee number not valid!");
            return;
        }
        Reply(200, "Station " + line + " accepted");
        FPhase = 1;
        return;
    }
    if (FPhase == 1) {
        FServer.Log.Write(FNumber, "<-", line);
        Reply(200, "Welcome " + line);
        FPhase = 2;
        uint64_t now = NowMs();
        for (const TSimEvent& event : FServer.Scenario())
            if (event.On.empty()) Schedule(event, now + static_cast<uint64_t>(event.At));
        return;
    }

    size_t space = line.find(' ');
    std::string command = line.substr(0, space);
    std::string argument = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (command != "Poll") FServer.Log.Write(FNumber, "<-", line);

    if (command == "Poll") {
        if (!FPending.empty()) {
            TPending& next = FPending.front();
            const TSimEvent& event = *next.Event;
            if (--next.Remaining == 0) FPending.pop_front();
            Answer(event);
        } else if (FAlarm) {
            Send(ReplyLines(FAlarmSilent ? 202 : 201, SplitLines(FAlarmText)), true);
        } else {
            Send({"200 OK"}, true);
            FIdle = true;
        }
    } else if (command == "GetSettings") {
        std::vector<std::string> texts{"Settings follow"};
        for (const auto& [key, value] : FServer.Settings())
            texts.push_back(key + " = " + value);
        texts.push_back("End of settings");
        Send(ReplyLines(200, texts));
    } else if (command == "GetBackground") {
        std::string payload;
        if (FServer.Drawing(payload)) {
            Reply(200, "Drawing follows");
            SendPayload(payload);
        } else {
            Reply(404, "No drawing on this site");
        }
    } else if (command == "Upgrade") {
        std::string payload;
        if (FServer.Updater(payload)) {
            Reply(200, "Updater follows");
            SendPayload(payload);
        } else {
            Reply(404, "No updater on this site");
        }
    } else if (command == "GetClients") {
        std::string payload = FServer.Objects().ClientsPayload();
        Reply(200, "Clients follow");
        SendPayload(payload);
    } else if (command == "Alarm") {
        FServer.Log.Write(FNumber, "--", "alarm raised by the client: " + argument);
        FAlarm = true;
        FAlarmSilent = false;
        FAlarmText = argument;
        Reply(200, "Alarm raised");
    } else if (command == "DisarmPartition") {
        int32_t id = 0;
        std::string text, payload;
        if (!TryStrToInt(argument, id) || !FServer.Objects().DisarmPartition(id, text, payload)) {
            Reply(404, "No partition " + argument);
        } else {
            FServer.Log.Write(FNumber, "--", "partition " + argument + " leaves its exit delay");
            Reply(200, "Partition disarmed");
            TSimEvent& status = FOwnedEvents.emplace_back();
            status.Kind = TSimEvent::TKind::Status;
            status.Id = id;
            status.Name = text.substr(text.find('=') + 1);
            status.HasState = true;
            status.State = payload;
            FPending.push_back({&status, 1});
            PromoteDue();
        }
    } else if (command == "Quit") {
        Reply(200, "Bye");
        Close("client quit");
        return;
    } else {
        Reply(500, "Unknown command");
    }

    const auto& scenario = FServer.Scenario();
    for (size_t i = 0; i < scenario.size(); ++i) {
        if (!FTriggered[i] && scenario[i].On == command) {
            FTriggered[i] = true;
            Schedule(scenario[i], NowMs() + static_cast<uint64_t>(scenario[i].Delay));
        }
    }
}

// --- server ---

TSimServer::TSimServer(TSimSite site)
    : FSite(std::move(site)) {
    FObjects = std::make_unique<TSimObjects>(FSite);
    for (const TSimEvent& event : FSite.Scenario)
        FObjects->Check(event);
}

TSimServer::~TSimServer() {
    Stop();
}

uint16_t TSimServer::Start(const std::string& address, uint16_t port) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1)
        throw ESiteError("not an IPv4 address: \"" + address + "\"");
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FListen < 0)
        throw ESiteError(std::string("cannot create a socket: ") + std::strerror(errno));
    int one = 1;
    ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(FListen, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0 ||
        ::listen(FListen, 16) < 0) {
        int error = errno;
        ::close(FListen);
        FListen = -1;
        throw ESiteError("cannot listen on " + address + ":" + std::to_string(port) + ": " +
                         std::strerror(error));
    }
    socklen_t length = sizeof local;
    ::getsockname(FListen, reinterpret_cast<sockaddr*>(&local), &length);
    FPort = ntohs(local.sin_port);
    FStopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    FStopping.store(false);
    FAcceptThread = std::thread([this] { AcceptLoop(); });
    Log.Note("listening on " + address + ":" + std::to_string(FPort));
    return FPort;
}

void TSimServer::Stop() {
    if (FListen < 0) return;
    FStopping.store(true);
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(FStopFd, &one, sizeof one);
    if (FAcceptThread.joinable()) FAcceptThread.join();
    Reap(true);
    ::close(FListen);
    ::close(FStopFd);
    FListen = -1;
    FStopFd = -1;
}

void TSimServer::AcceptLoop() {
    while (!FStopping.load()) {
        pollfd p[2] = {{FListen, POLLIN, 0}, {FStopFd, POLLIN, 0}};
        int ready = ::poll(p, 2, 1000);
        Reap(false);
        if (ready <= 0 || !(p[0].revents & POLLIN)) continue;
        int client = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        std::lock_guard<std::mutex> lock(FSessionsLock);
        int number = FSessionCount.fetch_add(1) + 1;
        FSessions.push_back(std::make_unique<TSimSession>(*this, number, client));
        FSessions.back()->Start();
    }
}

void TSimServer::Reap(bool all) {
    std::lock_guard<std::mutex> lock(FSessionsLock);
    for (auto it = FSessions.begin(); it != FSessions.end();) {
        if (all) (*it)->Abort();
        if (all || (*it)->Done()) {
            (*it)->Join();
            it = FSessions.erase(it);
        } else {
            ++it;
        }
    }
}

std::vector<std::string> TSimServer::ReceivedLines() const {
    std::lock_guard<std::mutex> lock(FReceivedLock);
    return FReceived;
}

void TSimServer::NoteReceived(int session, const std::string& line) {
    std::lock_guard<std::mutex> lock(FReceivedLock);
    (void)session;
    FReceived.push_back(line);
}

std::vector<std::string> TSimServer::Greeting() const {
    std::lock_guard<std::mutex> lock(FSiteLock);
    return FSite.Greeting;
}

void TSimServer::SetVersion(const std::string& version) {
    std::lock_guard<std::mutex> lock(FSiteLock);
    if (FSite.Greeting.size() < 2) FSite.Greeting.resize(2);
    FSite.Greeting[1] = TSimSite::VersionLine(version);
}

std::vector<std::pair<std::string, std::string>> TSimServer::Settings() const {
    std::lock_guard<std::mutex> lock(FSiteLock);
    return FSite.Settings;
}

void TSimServer::ChangeSettings(const std::vector<std::pair<std::string, std::string>>& changes) {
    std::lock_guard<std::mutex> lock(FSiteLock);
    for (const auto& change : changes) {
        auto it = std::find_if(FSite.Settings.begin(), FSite.Settings.end(),
                               [&](const auto& entry) { return entry.first == change.first; });
        if (it != FSite.Settings.end())
            it->second = change.second;
        else
            FSite.Settings.push_back(change);
    }
}

bool TSimServer::Drawing(std::string& payload) const {
    std::lock_guard<std::mutex> lock(FSiteLock);
    payload = FSite.DrawingPayload;
    return FSite.HasDrawing;
}

void TSimServer::SetDrawing(const std::string& payload) {
    std::lock_guard<std::mutex> lock(FSiteLock);
    FSite.DrawingPayload = payload;
    FSite.HasDrawing = true;
}

bool TSimServer::Updater(std::string& payload) const {
    std::lock_guard<std::mutex> lock(FSiteLock);
    payload = FSite.UpdaterPayload;
    return FSite.HasUpdater;
}
