// guardsim: a monitoring-server simulator for tests, demos and anyone building drawings or
// servers. See --help.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "SimServer.h"
#include "SysUtils.h"

namespace {

const char* const Usage = R"(Usage: guardsim [options] SITE.json

A monitoring-server simulator speaking the console's line protocol. It serves the site file's
greeting, settings, drawing, updater and objects to every client that connects (each its own
conversation) and plays the scenario to each client from its login on.

Options:
  --address ADDR    local IPv4 address to listen on (default 127.0.0.1)
  --port N          port to listen on (default 4704; 0 picks a free port)
  --scenario FILE   play the events of FILE instead of the site's own scenario
  --log FILE        write the conversation log to FILE (default: standard error)
  --quiet           write no conversation log
  --port-file FILE  write the port number to FILE once listening
  --seconds N       stop after N seconds (default: run until interrupted)
  --help            show this text

Site file (JSON object; file names are relative to the site file):
  "version": "1.0"            the greeting's second line becomes "GuardSim 1.0"
  "greeting": [lines]         or the whole greeting, line by line
  "settings": {key: value}    the "GetSettings" lines "key = value", in this order
  "stations": [ids]           accepted station identifiers (others get
                              "401 Employee number not valid!"); absent: all accepted
  "drawing": FILE             a document, packed into the drawing payload; or
             {"document": FILE} / {"payload": FILE} for a ready payload
  "updater": FILE             the "Upgrade" payload
  "home": ID                  first value of the "GetClients" list
  "objects": [{"type": T, "id": N, "name": S, "fields": {field: value}}]
                              made with the console's object classes; "fields" names their
                              fields ("Online", "Info", "Members" ...). A type without a class
                              needs "record" (hex of a ready record) and is sent as it is
  "clients_payload": FILE     a ready "GetClients" list instead of "objects"
  "scenario": [events] or FILE
A FILE may also be given inline as {"text": "..."} or {"hex": "..."}.

Scenario events (JSON objects):
  "kind"    alarm | alarm-end | status | message | settings | drawing | disconnect |
            version | raw | close
  "at"      milliseconds after the client's login; or
  "on"      a command ("Alarm", "DisarmPartition", "GetClients", ...) whose first arrival
            schedules the event, "delay" milliseconds later
  "repeat"  send the event this many times (default 1)
  alarm: "text" (caption, optionally "=link"), "silent" (202 instead of 201); the alarm is
         answered to every Poll until an alarm-end
  status: "id", "name", "set" {field: value} changes the site object, whose state section
          is sent; or "state" (hex of a ready state section) for any id
  message: "text"      settings: "set" {key: value}     drawing: "document" / "payload"
  version: "version" (offered in the greeting from the next connection on)
  raw: "text" or "hex" sent instead of a reply; "close": true drops the connection after it
  close: drop the connection instead of answering the Poll
Due events wait for the client's next Poll; an idle client is woken with "200 Event pending".
"Alarm <text>" from a client starts an alarm with that text; "DisarmPartition <id>" takes the
partition out of its exit delay and sends its new status.
)";

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "guardsim: %s\n", message.c_str());
    std::exit(2);
}

} // namespace

int main(int argc, char** argv) {
    std::string siteFile, address = "127.0.0.1", scenarioFile, logFile, portFile;
    int32_t port = 4704, seconds = 0;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Fail(arg + " needs a value");
            return argv[++i];
        };
        auto number = [&](int32_t low, int32_t high) {
            std::string text = value();
            int32_t n = 0;
            if (!TryStrToInt(text, n) || n < low || n > high)
                Fail(arg + ": not a number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ": " + text);
            return n;
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        } else if (arg == "--address") {
            address = value();
        } else if (arg == "--port") {
            port = number(0, 65535);
        } else if (arg == "--scenario") {
            scenarioFile = value();
        } else if (arg == "--log") {
            logFile = value();
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--port-file") {
            portFile = value();
        } else if (arg == "--seconds") {
            seconds = number(1, 1000000);
        } else if (!arg.empty() && arg[0] == '-') {
            Fail("unknown option " + arg + " (see --help)");
        } else if (siteFile.empty()) {
            siteFile = arg;
        } else {
            Fail("only one site file, please (see --help)");
        }
    }
    if (siteFile.empty()) Fail("no site file given (see --help)");

    // Signals are taken synchronously below; block them before any thread starts.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    try {
        TSimSite site = TSimSite::Load(siteFile);
        if (!scenarioFile.empty()) site.LoadScenario(scenarioFile);
        FILE* log = stderr;
        if (quiet) {
            log = nullptr;
        } else if (!logFile.empty()) {
            log = std::fopen(logFile.c_str(), "a");
            if (!log) Fail("cannot open " + logFile + ": " + std::strerror(errno));
        }
        TSimServer server(std::move(site));
        server.Log.SetOutput(log);
        uint16_t bound = server.Start(address, static_cast<uint16_t>(port));
        std::printf("guardsim: listening on %s:%u\n", address.c_str(), bound);
        std::fflush(stdout);
        if (!portFile.empty()) {
            FILE* out = std::fopen(portFile.c_str(), "w");
            if (!out) Fail("cannot write " + portFile + ": " + std::strerror(errno));
            std::fprintf(out, "%u\n", bound);
            std::fclose(out);
        }
        timespec limit{seconds, 0};
        int caught =
            seconds > 0 ? sigtimedwait(&signals, nullptr, &limit) : sigwaitinfo(&signals, nullptr);
        (void)caught;
        server.Stop();
        server.Log.Note("stopped");
        if (log && log != stderr) std::fclose(log);
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    return 0;
}
