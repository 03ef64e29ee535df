// The server link under load: status records (207) per second from the simulator through the
// connection thread to the message queue, and the latency from a user-interface "Alarm" request
// to its first byte on the wire while the connection thread waits idle.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "ConnectThread.h"
#include "SimServer.h"

namespace {

using Clock = std::chrono::steady_clock;

class TPumpHost : public IConnectThreadHost {
public:
    void PostMessage(TMessage message) override { Pump.Post(std::move(message)); }
    std::string UpdaterPath() const override { return "/tmp/gc_bench_link_updater"; }
    TMessagePump Pump;
};

const char* const Settings = R"("settings": {"Auto start": "0", "Confirm new alarm": "0",
    "Stop screensaver": "0", "Popup alarms": "0", "Alarm sound": "0", "Prevent exit": "0",
    "Drawing version": "1"})";

void BM_StatusEventsThroughThreadToQueue(benchmark::State& state) {
    const int events = static_cast<int>(state.range(0));
    // A partition's state section: arm and ready bytes.
    TSimServer server(TSimSite::Parse(std::string("{") + Settings +
                                          R"(, "scenario": [{"kind": "status", "id": 11,
                                          "name": "Alue 1", "state": "0102", "repeat": )" +
                                          std::to_string(events) + "}]}",
                                      "."));
    uint16_t port = server.Start("127.0.0.1", 0);
    double seconds = 0;
    for (auto _ : state) {
        TPumpHost host;
        TTcpClient client;
        TServerLine line(client);
        TConnectThread thread(host, line);
        thread.Host = "127.0.0.1:" + std::to_string(port);
        thread.UserName = "bench";
        int received = 0;
        Clock::time_point first, last;
        thread.Start();
        while (received < events) {
            host.Pump.WaitMessage(1000);
            host.Pump.ProcessMessages([&](TMessage& m) {
                if (m.Msg == WM_SERVER_EVENT && m.LParam == 207 &&
                    m.WParam.Get<ObjStatusRecord>()) {
                    if (received++ == 0) first = Clock::now();
                    last = Clock::now();
                }
            });
        }
        seconds = std::chrono::duration<double>(last - first).count();
        state.SetIterationTime(seconds);
        thread.Terminate();
        thread.WaitFor();
    }
    server.Stop();
    state.counters["events_per_s"] = (events - 1) / seconds;
}
BENCHMARK(BM_StatusEventsThroughThreadToQueue)
    ->Arg(5000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A minimal server that answers every Poll with 200 (so the client waits idle) and notes when
// the first byte of each "Alarm" line arrives.
class TStampingServer {
public:
    TStampingServer() {
        FListen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(FListen, reinterpret_cast<sockaddr*>(&local), sizeof local);
        ::listen(FListen, 1);
        socklen_t length = sizeof local;
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&local), &length);
        Port = ntohs(local.sin_port);
        FThread = std::thread([this] { Serve(); });
    }
    ~TStampingServer() {
        FThread.join();
        ::close(FListen);
    }

    // Waits until the client has polled and been told 200 at least `polls` times.
    void WaitForPolls(int polls) {
        std::unique_lock<std::mutex> lock(FLock);
        FChanged.wait(lock, [&] { return FPolls >= polls || FEnded; });
    }
    int Polls() {
        std::lock_guard<std::mutex> lock(FLock);
        return FPolls;
    }
    Clock::time_point LastAlarmArrival() {
        std::unique_lock<std::mutex> lock(FLock);
        FChanged.wait(lock, [&] { return FAlarms > FAlarmsTaken || FEnded; });
        FAlarmsTaken = FAlarms;
        return FAlarmArrival;
    }

    uint16_t Port = 0;

private:
    void Serve() {
        int fd = ::accept(FListen, nullptr, nullptr);
        TTcpClient peer;
        peer.Attach(fd);
        peer.WriteLn("200-bench");
        peer.WriteLn("200 bench 0.0");
        std::string pending;
        char chunk[4096];
        for (;;) {
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            Clock::time_point arrival = Clock::now();
            if (n <= 0) {
                if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                    pollfd p{fd, POLLIN, 0};
                    ::poll(&p, 1, 1000);
                    continue;
                }
                break;
            }
            bool lineStartsHere = pending.empty();
            pending.append(chunk, static_cast<size_t>(n));
            size_t end;
            while ((end = pending.find("\r\n")) != std::string::npos) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 2);
                Answer(peer, line, lineStartsHere ? arrival : Clock::now());
                lineStartsHere = pending.empty();
            }
        }
        std::lock_guard<std::mutex> lock(FLock);
        FEnded = true;
        FChanged.notify_all();
    }

    void Answer(TTcpClient& peer, const std::string& line, Clock::time_point arrival) {
        if (line.rfind("Alarm", 0) == 0) {
            {
                std::lock_guard<std::mutex> lock(FLock);
                FAlarmArrival = arrival;
                ++FAlarms;
            }
            FChanged.notify_all();
            peer.WriteLn("200 Alarm raised");
        } else if (line == "GetSettings") {
            for (const char* key : {"Auto start", "Confirm new alarm", "Stop screensaver",
                                    "Popup alarms", "Alarm sound", "Prevent exit"})
                peer.WriteLn(std::string("200-") + key + " = 0");
            peer.WriteLn("200 Drawing version = 1");
        } else if (line == "Quit") {
            peer.WriteLn("200 Bye");
        } else {
            peer.WriteLn("200 OK");
            if (line == "Poll") {
                std::lock_guard<std::mutex> lock(FLock);
                ++FPolls;
                FChanged.notify_all();
            }
        }
    }

    int FListen = -1;
    std::thread FThread;
    std::mutex FLock;
    std::condition_variable FChanged;
    int FPolls = 0;
    int FAlarms = 0;
    int FAlarmsTaken = 0;
    bool FEnded = false;
    Clock::time_point FAlarmArrival;
};

void BM_AlarmRequestToWireDuringIdleWait(benchmark::State& state) {
    constexpr int Samples = 100;
    std::vector<double> micros;
    for (auto _ : state) {
        TStampingServer server;
        TPumpHost host;
        TTcpClient client;
        TServerLine line(client);
        TConnectThread thread(host, line);
        thread.Host = "127.0.0.1:" + std::to_string(server.Port);
        thread.UserName = "bench";
        thread.Start();
        server.WaitForPolls(1);
        for (int i = 0; i < Samples; ++i) {
            // Let the thread settle into its idle wait after the Poll it just made.
            int polls = server.Polls();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            Clock::time_point asked = Clock::now();
            SendAlarm(line, "Nappi");
            Clock::time_point arrived = server.LastAlarmArrival();
            micros.push_back(std::chrono::duration<double, std::micro>(arrived - asked).count());
            server.WaitForPolls(polls + 1);
            host.Pump.ProcessMessages([](TMessage&) {});
        }
        thread.Terminate();
        thread.WaitFor();
        state.SetIterationTime(1);
    }
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = (micros[Samples / 2 - 1] + micros[Samples / 2]) / 2;
    state.counters["worst_us"] = micros.back();
}
BENCHMARK(BM_AlarmRequestToWireDuringIdleWait)->Iterations(1)->UseManualTime();

} // namespace

BENCHMARK_MAIN();
