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
    // The events wait for the object list, which guardlink fetches once it is connected. Nine
    // messages always reach past the 205: a 200 of the first Poll may come or not, and after the
    // 205 the next conversation starts at once.
    TSimServer server(TSimSite::Parse(R"({
        "settings": {"Station ID": "7", "Auto start": "True", "Confirm new alarm": "0",
            "Stop screensaver": "0", "Popup alarms": "0", "Alarm sound": "0",
            "Prevent exit": "0", "Drawing version": "12", "Clients mode": "Dynamic"},
        "drawing": {"text": "document"},
        "home": 99,
        "objects": [
            {"type": "Service", "id": 4, "name": "Palvelu", "fields": {"Online": true}},
            {"type": "Camera", "id": 30, "name": "Kamera", "record": "01020304"},
            {"type": "Department", "id": 9, "name": "Osasto", "fields": {"Members": [4]}}
        ],
        "scenario": [
            {"kind": "alarm", "text": "Murto=http://x/1", "on": "GetClients"},
            {"kind": "status", "id": 4, "set": {"Online": false}, "on": "GetClients"},
            {"kind": "status", "id": 11, "name": "Alue 1", "state": "01ff", "on": "GetClients"},
            {"kind": "message", "text": "Soita", "on": "GetClients"},
            {"kind": "disconnect", "on": "GetClients"}
        ]})",
                                      "."));
    uint16_t port = server.Start("127.0.0.1", 0);
    // The list holds the service, the unknown type's entry and the department; guardlink decodes
    // only the service and skips the other two by their lengths.
    size_t listSize = server.Objects().ClientsPayload().size();
    std::string dir = testing::TempDir();
    std::string drawing = dir + "/gc_guardlink_drawing", clients = dir + "/gc_guardlink_clients";
    TRun run = RunGuardLink("--server 127.0.0.1:" + std::to_string(port) +
                            " --station 7 --user tester --messages 9 --retry-ms 100 "
                            "--save-drawing " +
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
    const std::vector<std::string> expectedLines = {
        R"({"msg":"clients","home":99,"size":)" + std::to_string(listSize) +
            R"(,"objects":1,"saved":")" + clients + "\"}",
        R"({"msg":"object","type":"Service","id":4,"name":"Palvelu","fields":{"Name":"Palvelu",)"
        R"("Category":0,"OptionA":true,"OptionB":false,"Data":null,"ParamA":1,"ParamB":4,)"
        R"("Value1":0,"Value2":0,"Time1":0.0,"Time2":0.0,"Info":""},"state":{"Online":true,)"
        R"("StatusCode":1,"StatusText":"offline","StatusDetail":""}})",
        R"({"msg":"event","kind":201,"text":"Murto=http://x/1","caption":"Murto","link":"http://x/1"})",
        R"({"msg":"event","kind":207,"id":4,"name":"Palvelu","size":17,)"
        R"("state":"0001070000006f66666c696e6500000000","object":{"Online":false,)"
        R"("StatusCode":1,"StatusText":"offline","StatusDetail":""}})",
        R"({"msg":"event","kind":207,"id":11,"name":"Alue 1","size":2,"state":"01ff"})",
        R"({"msg":"event","kind":206,"text":"Soita"})",
        R"({"msg":"event","kind":204,"size":)" + std::to_string(packed.size()) + R"(,"saved":")" +
            drawing + "\"}",
        R"({"msg":"connection","connected":false,"reason":"Palvelinyhteys poikki"})",
    };
    for (const std::string& expected : expectedLines)
        EXPECT_NE(std::find(keys.begin(), keys.end(), expected), keys.end()) << expected << "\n"
                                                                             << run.Text;
    EXPECT_EQ(keys.back(), R"({"msg":"connection","connected":false,"reason":"Terminating"})");
    EXPECT_EQ(Slurp(drawing), packed);
    std::string list = Slurp(clients);
    EXPECT_EQ(list.size(), listSize);
    EXPECT_EQ(list.substr(0, 4), std::string("\x63\0\0\0", 4));
    std::remove(drawing.c_str());
    std::remove(clients.c_str());
}

TEST(GuardLink, DecodesThePanelModelAndAppliesStatusRecords) {
    // A zone comes before its panel and a partition after it, as a server may send them; the
    // panel frees the members it still lists when guardlink ends, so ownership must hold too.
    TSimServer server(TSimSite::Parse(R"({
        "settings": {"Auto start": "0", "Confirm new alarm": "0", "Stop screensaver": "0",
            "Popup alarms": "0", "Alarm sound": "0", "Prevent exit": "0", "Drawing version": "1"},
        "home": 11,
        "objects": [
            {"type": "Zone", "id": 12, "name": "Ovi", "fields": {"PanelId": 10,
             "PartitionId": 11, "ZoneNumber": 3}},
            {"type": "Panel", "id": 10, "name": "Keskus", "fields": {"ConnectionState": 4}},
            {"type": "Partition", "id": 11, "name": "Alue 1", "fields": {"PanelId": 10,
             "PartitionNumber": 1, "ReadyStatus": 1}},
            {"type": "LightClient", "id": 20, "name": "Valo", "fields": {"StatusFlags": 2}}
        ],
        "scenario": [
            {"kind": "status", "id": 12, "set": {"ZoneState": 2}, "on": "GetClients"},
            {"kind": "status", "id": 11, "set": {"ArmStatus": 1}, "on": "GetClients"},
            {"kind": "status", "id": 20, "set": {"StatusFlags": 6, "DetailText": "palaa"},
             "on": "GetClients"},
            {"kind": "disconnect", "on": "GetClients"}
        ]})",
                                      "."));
    uint16_t port = server.Start("127.0.0.1", 0);
    TRun run = RunGuardLink("--server 127.0.0.1:" + std::to_string(port) +
                            " --clients --messages 7 --retry-ms 100");
    server.Stop();
    ASSERT_EQ(run.Status, 0) << run.Text;

    std::vector<std::string> objects, applied;
    for (const json& line : run.Lines) {
        if (line["msg"] == "object")
            objects.push_back(line["type"].get<std::string>() + " " +
                              std::to_string(line["id"].get<int>()) + " " + line["state"].dump());
        if (line["msg"] == "event" && line["kind"] == 207)
            applied.push_back(std::to_string(line["id"].get<int>()) + " " + line["object"].dump());
    }
    EXPECT_EQ(objects, (std::vector<std::string>{
                           R"(Zone 12 {"ZoneState":0})",
                           R"(Panel 10 {"ConnectionState":4,"ConnectionText":"","StateValue1":100,)"
                           R"("StateValue2":0,"StateValue3":0,"StateByte1":0,"StateLong":0,)"
                           R"("StateByte2":0,"StateByte3":0})",
                           R"(Partition 11 {"ArmStatus":0,"ReadyStatus":1})",
                           R"(LightClient 20 {"StatusFlags":2,"StatusText1":"","StatusText2":"",)"
                           R"("DetailText":"","StatusTime":0.0})",
                       }))
        << run.Text;
    EXPECT_EQ(applied, (std::vector<std::string>{
                           R"(12 {"ZoneState":2})",
                           R"(11 {"ArmStatus":1,"ReadyStatus":1})",
                           R"(20 {"StatusFlags":6,"StatusText1":"","StatusText2":"",)"
                           R"("DetailText":"palaa","StatusTime":0.0})",
                       }))
        << run.Text;
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
