#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

#include "ClientList.h"
#include "ObjectFields.h"
#include "SimServer.h"
#include "SimSite.h"

TEST(SimSite, ReadsTheSiteAndItsScenario) {
    TSimSite site = TSimSite::Parse(R"({
        "version": "1.12",
        "settings": {"Auto start": true, "Drawing version": 4, "Clients mode": "Dynamic"},
        "updater": {"hex": "4d5a"},
        "home": 10,
        "scenario": [
            {"kind": "alarm", "text": "Murto", "at": 100},
            {"kind": "status", "id": 11, "state": "0102", "on": "DisarmPartition", "delay": 5},
            {"kind": "raw", "hex": "32 30 30", "close": true, "repeat": 3}
        ]})",
                                    ".");
    EXPECT_EQ(site.Greeting,
              (std::vector<std::string>{"GuardSim monitoring server ready", "GuardSim 1.12"}));
    EXPECT_EQ(site.Settings,
              (std::vector<std::pair<std::string, std::string>>{
                  {"Auto start", "True"}, {"Drawing version", "4"}, {"Clients mode", "Dynamic"}}));
    EXPECT_EQ(site.UpdaterPayload, "MZ");
    EXPECT_FALSE(site.HasDrawing);
    ASSERT_EQ(site.Scenario.size(), 3u);
    EXPECT_EQ(site.Scenario[0].At, 100);
    EXPECT_EQ(site.Scenario[1].On, "DisarmPartition");
    EXPECT_EQ(site.Scenario[1].At, -1);
    EXPECT_EQ(site.Scenario[1].State, "\x01\x02");
    EXPECT_EQ(site.Scenario[2].Bytes, "200");
    EXPECT_TRUE(site.Scenario[2].CloseAfter);
    EXPECT_EQ(site.Scenario[2].Repeat, 3);
}

TEST(SimSite, RefusesBadSitesWithAClearMessage) {
    struct TCase {
        const char* Name;
        const char* Json;
        const char* Fragment;
    } cases[] = {
        {"not JSON", "{\"settings\": ", "site: [json.exception.parse_error"},
        {"not an object", "[1, 2]", "site: the site must be a JSON object"},
        {"an unknown event kind", R"({"scenario": [{"kind": "explode"}]})",
         "site: unknown event kind \"explode\""},
        {"a status without an id", R"({"scenario": [{"kind": "status", "state": "00"}]})",
         "site: a \"status\" event needs the object's \"id\""},
        {"bad hexadecimal", R"({"scenario": [{"kind": "raw", "hex": "0g"}]})",
         "site: not a hexadecimal digit: 'g'"},
        {"odd hexadecimal", R"({"scenario": [{"kind": "raw", "hex": "123"}]})",
         "site: odd number of hexadecimal digits"},
        {"a missing file", R"({"drawing": "no-such-file.vekt"})",
         "site: cannot open \"./no-such-file.vekt\""},
        {"a setting of the wrong type", R"({"settings": {"Auto start": [1]}})",
         "site: a setting must be a string, a boolean or a number"},
        {"a negative repeat", R"({"scenario": [{"kind": "message", "repeat": 0}]})",
         "site: \"repeat\" must be at least 1"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        try {
            TSimSite::Parse(c.Json, ".");
            ADD_FAILURE() << "must be refused";
        } catch (const ESiteError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.Fragment, 0), 0u) << e.what();
        }
    }
}

TEST(SimSite, PackedDrawingIsOneZlibStreamWithSectionZero) {
    std::string packed = PackDrawing("document Document\nend\n");
    ASSERT_GE(packed.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(packed[0]), 0x78); // a zlib header
}

TEST(GuardSim, ExitsWithOneLineForABadSite) {
    std::string command = GC_BINARY_DIR "/tools/guardsim/guardsim /no/such/site.json 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[1024];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    int status = ::pclose(pipe);
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_EQ(output, "guardsim: cannot open \"/no/such/site.json\": No such file or directory\n");
}

TEST(SimObjects, ServesTheSiteObjectsThroughTheModelRecords) {
    TSimSite site = TSimSite::Parse(R"({
        "home": 4,
        "objects": [
            {"type": "Service", "id": 4, "name": "P\u00e4\u00e4", "fields": {"Online": true,
             "Value1": 7, "Info": "x", "Data": 12}},
            {"type": "Camera", "id": 30, "record": "01020304"},
            {"type": "Department", "id": 9, "name": "Osasto", "fields": {"Members": [5, 4]}}
        ]})",
                                    ".");
    TSimObjects objects(site);
    std::string payload = objects.ClientsPayload();
    TBufferProtocol list(32);
    list.WriteBuf(static_cast<int32_t>(payload.size()), payload.data());
    list.SetPosition(0);
    std::vector<std::unique_ptr<TCustomSysObject>> read;
    int32_t home = ReadClientList(list, CreateSiteObject, [&](std::unique_ptr<TCustomSysObject> o) {
        read.push_back(std::move(o));
    });
    EXPECT_EQ(home, 4);
    ASSERT_EQ(read.size(), 2u) << "the unknown type is skipped by its length";
    EXPECT_EQ(DataFields(*read[0]).dump(),
              R"({"Name":"Pää","Category":0,"OptionA":true,"OptionB":false,"Data":12,)"
              R"("ParamA":1,"ParamB":4,"Value1":7,"Value2":0,"Time1":0.0,"Time2":0.0,"Info":"x"})");
    EXPECT_EQ(StateFields(*read[0]).dump(),
              R"({"Online":true,"StatusCode":1,"StatusText":"offline","StatusDetail":""})");
    EXPECT_EQ(DataFields(*read[1])["Members"].dump(), "[4,5]");

    // A status event changes the site object and sends its state section.
    TSimEvent event;
    event.Kind = TSimEvent::TKind::Status;
    event.Id = 4;
    event.Set = nlohmann::ordered_json::parse(R"({"StatusText": "huolto", "Online": false})");
    std::string text, state;
    objects.Status(event, text, state);
    EXPECT_EQ(text, "4=Pää");
    TBufferProtocol section(32);
    section.WriteBuf(static_cast<int32_t>(state.size()), state.data());
    section.SetPosition(0);
    read[0]->BeginStateUpdate();
    read[0]->ReadState(section, section.GetSize());
    read[0]->EndStateUpdate();
    EXPECT_EQ(StateFields(*read[0]).dump(),
              R"({"Online":false,"StatusCode":1,"StatusText":"offline","StatusDetail":""})");
}

TEST(SimObjects, RefusesObjectsAndEventsTheModelCannotPlay) {
    struct TCase {
        const char* Name;
        const char* Json;
        const char* Message;
    } cases[] = {
        {"a type without a class", R"({"objects": [{"type": "Camera", "id": 30}]})",
         "object 30 (Camera): no class for this type; give its \"record\" instead"},
        {"an unknown field", R"({"objects": [{"type": "Service", "id": 4, "fields": {"On": 1}}]})",
         "object 4 (Service): field \"On\": a Service has no such field"},
        {"a field of the wrong type",
         R"({"objects": [{"type": "Service", "id": 4, "fields": {"Online": 1}}]})",
         "object 4 (Service): field \"Online\": expected true or false, not 1"},
        {"a field out of range",
         R"({"objects": [{"type": "Service", "id": 4, "fields": {"Value1": 70000}}]})",
         "object 4 (Service): field \"Value1\": 70000 is out of range"},
        {"a value the model refuses",
         R"({"objects": [{"type": "Zone", "id": 12, "fields": {"ZoneNumber": 193}}]})",
         "object 12 (Zone): Yritys asettaa silmukkahakemisto > 192"},
        {"a status of an object the site lacks", R"({"scenario": [{"kind": "status", "id": 8}]})",
         "status event for object 8: the site has no such object and the event no \"state\""},
        {"a status with a refused field",
         R"({"objects": [{"type": "Service", "id": 4}],
             "scenario": [{"kind": "status", "id": 4, "set": {"Colour": 1}}]})",
         "status event for object 4: field \"Colour\": a Service has no such field"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        try {
            TSimServer server(TSimSite::Parse(c.Json, "."));
            ADD_FAILURE() << "must be refused";
        } catch (const ESiteError& e) {
            EXPECT_STREQ(e.what(), c.Message);
        }
    }
}
