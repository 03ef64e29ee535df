// guardlink: runs the console's connection thread against a server and prints every message it
// hands over, one JSON object a line. See --help.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "ConnectThread.h"
#include "LinkMonitor.h"
#include "SysUtils.h"

namespace {

const char* const Usage = R"(Usage: guardlink [options]

Runs the console's connection thread against a monitoring server and prints every message the
thread hands over, one JSON object per line, on standard output. Stops on SIGINT or SIGTERM,
after --seconds or after --messages, and then says "Quit" to the server like the console does.

Options:
  --server ADDR[:PORT]  server address (default 127.0.0.1, port 4704)
  --station ID          station identifier sent at login (default empty)
  --user NAME           user name sent at login (default: the system's user name)
  --clients             fetch the object list ("GetClients") after each login, print its
                        objects and apply every status record to its object
  --save-clients FILE   keep the raw object list in FILE (implies --clients)
  --save-drawing FILE   ask for the drawing after every settings message and save the payload
  --save-updater FILE   where a downloaded updater is written
                        (default: $TMPDIR/guardlink-update.bin)
  --seconds N           stop after N seconds
  --messages N          stop after N messages
  --retry-ms N          spacing of connection attempts (default 30000)
  --help                show this text

Output: one object per line; every object has "t" (milliseconds since the start) and "msg".
  {"msg":"connection","connected":true}
  {"msg":"connection","connected":false,"reason":TEXT}
  {"msg":"event","kind":200}
  {"msg":"event","kind":201|202,"text":TEXT,"caption":TEXT,"link":TEXT}
  {"msg":"event","kind":203,"settings":{"StationID":TEXT,"AutoStart":BOOL,
      "ConfirmNewAlarm":BOOL,"StopScreensaver":BOOL,"PopupAlarms":BOOL,"AlarmSound":BOOL,
      "PreventExit":BOOL,"DrawingVersion":INT,"ClientsMode":BOOL}}
  {"msg":"event","kind":204,"size":BYTES[,"saved":FILE]}
  {"msg":"event","kind":206,"text":TEXT}
  {"msg":"event","kind":207,"id":INT,"name":TEXT,"size":BYTES,"state":HEX
      [,"object":{state fields}|,"object-error":TEXT]}
  {"msg":"update-ready","path":FILE,"size":BYTES}
  {"msg":"clients","home":INT,"size":BYTES,"objects":COUNT[,"saved":FILE]}
  {"msg":"object","type":TEXT,"id":INT,"name":TEXT,"fields":{data fields},
      "state":{state fields}}
  {"msg":"error","text":TEXT}      an exchange of guardlink's own failed
With --clients, the list is decoded with the console's object classes by type name; entries
of a type they do not know are skipped by their length. "object" of a 207 event holds the
object's state fields after the record was applied; a status record for an id the list does
not hold has no "object". An object list that fails to decode prints the objects read before
the fault, then an "error" line.
)";

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "guardlink: %s\n", message.c_str());
    std::exit(2);
}

std::string DefaultUpdaterPath() {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = tmp && *tmp ? tmp : "/tmp";
    if (folder.back() != '/') folder += '/';
    return folder + "guardlink-update.bin";
}

class THost : public IConnectThreadHost {
public:
    explicit THost(TMessagePump& pump)
        : FPump(pump) {}
    void PostMessage(TMessage message) override { FPump.Post(std::move(message)); }
    std::string UpdaterPath() const override { return Path; }
    std::string Path;

private:
    TMessagePump& FPump;
};

std::atomic<bool> StopRequested{false};

} // namespace

int main(int argc, char** argv) {
    TLinkOptions options;
    std::string server = "127.0.0.1", station, user = LoginUserName();
    std::string updaterPath = DefaultUpdaterPath();
    int32_t seconds = 0, retryMs = static_cast<int32_t>(ReconnectSpacing);
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Fail(arg + " needs a value");
            return argv[++i];
        };
        auto number = [&](int32_t low) {
            std::string text = value();
            int32_t n = 0;
            if (!TryStrToInt(text, n) || n < low)
                Fail(arg + ": not a number of at least " + std::to_string(low) + ": " + text);
            return n;
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        } else if (arg == "--server") {
            server = value();
        } else if (arg == "--station") {
            station = value();
        } else if (arg == "--user") {
            user = value();
        } else if (arg == "--clients") {
            options.Clients = true;
        } else if (arg == "--save-clients") {
            options.Clients = true;
            options.SaveClients = value();
        } else if (arg == "--save-drawing") {
            options.SaveDrawing = value();
        } else if (arg == "--save-updater") {
            updaterPath = value();
        } else if (arg == "--seconds") {
            seconds = number(1);
        } else if (arg == "--messages") {
            options.MaxMessages = number(1);
        } else if (arg == "--retry-ms") {
            retryMs = number(1);
        } else {
            Fail("unknown argument " + arg + " (see --help)");
        }
    }

    // Signals are taken on a thread of their own; block them before any thread starts.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    TMessagePump pump;
    THost host(pump);
    host.Path = updaterPath;
    TTcpClient connection;
    TServerLine line(connection);
    TConnectThread thread(host, line);
    thread.Host = server;
    thread.StationIdent = station;
    thread.UserName = user;
    thread.Timings.ReconnectSpacing = static_cast<uint32_t>(retryMs);

    TLinkMonitor monitor(options, line, thread, stdout);
    monitor.UpdaterPath = updaterPath;

    std::thread signalWaiter([&] {
        timespec tick{0, 100 * 1000 * 1000};
        while (!StopRequested.load()) {
            if (sigtimedwait(&signals, nullptr, &tick) > 0) {
                StopRequested.store(true);
                pump.Quit();
            }
        }
    });

    auto started = std::chrono::steady_clock::now();
    thread.Start();
    while (!pump.Quitting() && !monitor.Done()) {
        pump.WaitMessage(100);
        pump.ProcessMessages([&](TMessage& message) { monitor.Handle(message); });
        if (seconds > 0 &&
            std::chrono::steady_clock::now() - started >= std::chrono::seconds(seconds))
            break;
    }
    thread.Terminate();
    thread.WaitFor();
    // What the thread posted while ending (its "Terminating" state) still goes out.
    monitor.Finishing = true;
    while (pump.ProcessMessages([&](TMessage& message) { monitor.Handle(message); }) > 0) {}

    StopRequested.store(true);
    signalWaiter.join();
    return 0;
}
