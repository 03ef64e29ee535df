#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

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
