#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include <nlohmann/json.hpp>

#include "SimServer.h"

using json = nlohmann::ordered_json;

namespace {

const std::string GuardLink = GC_BINARY_DIR "/tools/guardlink/guardlink";

struct TRun {
    int Status = -1;
    std::vector<json> Lines;
    std::string Text;
};

TRun RunGuardLink(const std::string& arguments) {
    TRun run;
    FILE* pipe = ::popen((GuardLink + " " + arguments + " 2>&1").c_str(), "r");
    if (!pipe) return run;
    char buffer[65536];
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        run.Text += buffer;
        try {
            run.Lines.push_back(json::parse(buffer));
        } catch (const json::exception&) {}
    }
    int status = ::pclose(pipe);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string Slurp(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// The line's meaning without its time stamp.
std::string Key(const json& line) {
    json copy = line;
    copy.erase("t");
    return copy.dump();
}

} // namespace

TEST(GuardLink, PrintsEveryMessageAsOneJsonLine) {
    // The events wait for the object list, which guardlink fetches once it is connected. Eight
    // messages always reach past the 205: a 200 of the first Poll may come or not, and after the
    // 205 the next conversation starts at once.
    TSimServer server(TSimSite::Parse(R"({
        "settings": {"Station ID": "7", "Auto start": "True", "Confirm new alarm": "0",
            "Stop screensaver": "0", "Popup alarms": "0", "Alarm sound": "0",
            "Prevent exit": "0", "Drawing version": "12", "Clients mode": "Dynamic"},
        "drawing": {"text": "document"},
        "home": 99,
        "scenario": [
            {"kind": "alarm", "text": "Murto=http://x/1", "on": "GetClients"},
            {"kind": "status", "id": 11, "name": "Alue 1", "state": "01ff", "on": "GetClients"},
            {"kind": "message", "text": "Soita", "on": "GetClients"},
            {"kind": "disconnect", "on": "GetClients"}
        ]})",
                                      "."));
    uint16_t port = server.Start("127.0.0.1", 0);
    std::string dir = testing::TempDir();
    std::string drawing = dir + "/gc_guardlink_drawing", clients = dir + "/gc_guardlink_clients";
    TRun run =
        RunGuardLink("--server 127.0.0.1:" + std::to_string(port) +
                     " --station 7 --user tester --messages 8 --retry-ms 100 --save-drawing " +
                     drawing + " --save-clients " + clients);
    server.Stop();
    ASSERT_EQ(run.Status, 0) << run.Text;

    std::vector<std::string> keys;
    for (const json& line : run.Lines) {
        EXPECT_TRUE(line.contains("t")) << line.dump();
        keys.push_back(Key(line));
    }
    ASSERT_GE(keys.size(), 2u) << run.Text;
    EXPECT_EQ(keys[0],
              R"({"msg":"event","kind":203,"settings":{"StationID":"7","AutoStart":true,)"
              R"("ConfirmNewAlarm":false,"StopScreensaver":false,"PopupAlarms":false,)"
              R"("AlarmSound":false,"PreventExit":false,"DrawingVersion":12,"ClientsMode":true}})");
    EXPECT_EQ(keys[1], R"({"msg":"connection","connected":true})");
    std::string packed = PackDrawing("document");
    for (
        const std::string& expected : std::vector<std::string>{
            R"({"msg":"clients","home":99,"size":4,"saved":")" + clients + "\"}",
            R"({"msg":"event","kind":201,"text":"Murto=http://x/1","caption":"Murto","link":"http://x/1"})",
            R"({"msg":"event","kind":207,"id":11,"name":"Alue 1","size":2,"state":"01ff"})",
            R"({"msg":"event","kind":206,"text":"Soita"})",
            R"({"msg":"event","kind":204,"size":)" + std::to_string(packed.size()) +
                R"(,"saved":")" + drawing + "\"}",
            std::string(
                R"({"msg":"connection","connected":false,"reason":"Palvelinyhteys poikki"})"),
        })
        EXPECT_NE(std::find(keys.begin(), keys.end(), expected), keys.end()) << expected << "\n"
                                                                             << run.Text;
    EXPECT_EQ(keys.back(), R"({"msg":"connection","connected":false,"reason":"Terminating"})");
    EXPECT_EQ(Slurp(drawing), packed);
    EXPECT_EQ(Slurp(clients), std::string("\x63\0\0\0", 4));
    std::remove(drawing.c_str());
    std::remove(clients.c_str());
}

TEST(GuardLink, HelpAndBadArguments) {
    TRun help = RunGuardLink("--help");
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Text.find("Usage: guardlink"), std::string::npos);
    EXPECT_NE(help.Text.find("\"msg\":\"event\",\"kind\":207"), std::string::npos);

    for (const char* arguments : {"--bogus", "--messages", "--messages none"}) {
        SCOPED_TRACE(arguments);
        TRun bad = RunGuardLink(arguments);
        EXPECT_EQ(bad.Status, 2);
        EXPECT_EQ(bad.Text.rfind("guardlink: ", 0), 0u) << bad.Text;
        EXPECT_EQ(std::count(bad.Text.begin(), bad.Text.end(), '\n'), 1) << bad.Text;
    }
}
