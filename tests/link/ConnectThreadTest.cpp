#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fstream>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "LinkRig.h"
#include "SysUtils.h"

namespace {

const std::string StandardSettings = R"("settings": {"Station ID": "7", "Auto start": "False",
    "Confirm new alarm": "True", "Stop screensaver": "0", "Popup alarms": "1",
    "Alarm sound": "true", "Prevent exit": "FALSE", "Drawing version": "3",
    "Clients mode": "Static"})";

const std::string StandardRecord =
    "203 station=7 auto=0 confirm=1 screensaver=0 popup=1 sound=1 prevent=0 drawing=3 dynamic=0";

const std::string ServerEnded = "disconnected: Palvelinyhteys poikki";

// A site with the standard settings, a small drawing, the given scenario events and any extra
// top-level members (each starting with a comma).
std::string Site(const std::string& events, const std::string& extra = "") {
    return "{" + StandardSettings + R"(, "drawing": {"text": "document"})" + extra +
           ", \"scenario\": [" + events + "]}";
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

} // namespace

TEST(ConnectThread, LogsInInOrderAndPostsSettingsBeforeTheConnectedState) {
    TLinkRig rig(Site(""));
    // Letters outside ASCII reach the server as "?".
    rig.Thread->StationIdent = "\xc3\x84ij\xc3\xa4";
    rig.Thread->UserName = "M\xc3\xbcller";
    rig.Thread->Start();
    ASSERT_TRUE(rig.WaitFor("200"));
    EXPECT_EQ(rig.Seen, (std::vector<std::string>{StandardRecord, "connected", "200"}));
    std::vector<std::string> received = rig.Server.ReceivedLines();
    ASSERT_GE(received.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(received.begin(), received.begin() + 4),
              (std::vector<std::string>{"?ij?", "M?ller", "GetSettings", "Poll"}));
    EXPECT_TRUE(rig.Thread->Connected());
}

TEST(ConnectThread, ConvertsTheSettingsOrDropsTheConnection) {
    struct TCase {
        const char* Name;
        std::string Settings;
        std::string Expected;
    } cases[] = {
        {"numbers and any letter case",
         R"("Auto start": "1", "Confirm new alarm": "0", "Stop screensaver": "tRUE",
            "Popup alarms": "false", "Alarm sound": "-1", "Prevent exit": "False",
            "Drawing version": "-1", "Clients mode": "Dynamic")",
         "203 station=7 auto=1 confirm=0 screensaver=1 popup=0 sound=1 prevent=0 drawing=-1 "
         "dynamic=1"},
        {"the server's station identifier replaces ours",
         R"("Station ID": "99", "Auto start": "0", "Confirm new alarm": "0",
            "Stop screensaver": "0", "Popup alarms": "0", "Alarm sound": "0",
            "Prevent exit": "0", "Drawing version": "3", "Clients mode": "dynamic")",
         "203 station=99 auto=0 confirm=0 screensaver=0 popup=0 sound=0 prevent=0 drawing=3 "
         "dynamic=0"},
        {"a missing boolean line",
         R"("Auto start": "0", "Confirm new alarm": "0", "Stop screensaver": "0",
            "Popup alarms": "0", "Alarm sound": "0", "Drawing version": "3")",
         "disconnected: '' is not a valid boolean value"},
        {"a boolean that is neither number nor word",
         R"("Auto start": "yes", "Confirm new alarm": "0", "Stop screensaver": "0",
            "Popup alarms": "0", "Alarm sound": "0", "Prevent exit": "0",
            "Drawing version": "3")",
         "disconnected: 'yes' is not a valid boolean value"},
        {"a drawing version that is not a number",
         R"("Auto start": "0", "Confirm new alarm": "0", "Stop screensaver": "0",
            "Popup alarms": "0", "Alarm sound": "0", "Prevent exit": "0",
            "Drawing version": "3a")",
         "disconnected: '3a' is not a valid integer value"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TLinkRig rig("{\"settings\": {" + c.Settings + "}}");
        rig.Thread->Start();
        bool dropped = c.Expected.rfind("disconnected", 0) == 0;
        ASSERT_TRUE(rig.WaitFor(dropped ? "disconnected" : "connected"));
        EXPECT_EQ(rig.Seen.front(), c.Expected);
        if (!dropped) {
            EXPECT_EQ(rig.Seen.at(1), "connected");
        }
        rig.Thread->Terminate();
        rig.Thread->WaitFor();
        if (c.Expected.find("station=99") != std::string::npos) {
            EXPECT_EQ(rig.Thread->StationIdent, "99");
        }
    }
}

// Each scenario's events are all due at login, so the Polls are answered in their order; the
// scenario ends with the server's 205.
TEST(ConnectThread, ActsOnEveryPollCodeAndPostsOnlyChanges) {
    const std::string raw200 = R"({"kind": "raw", "text": "200 OK\r\n"})";
    struct TCase {
        const char* Name;
        std::string Events;
        std::vector<std::string> Expected;
    } cases[] = {
        {"the same alarm twice posts once",
         R"({"kind": "raw", "text": "201 Murto\r\n"}, {"kind": "raw", "text": "201 Murto\r\n"},)" +
             raw200,
         {"201 Murto", "200"}},
        {"the alarm posts again after a status record",
         R"({"kind": "raw", "text": "201 Murto\r\n"},
            {"kind": "status", "id": 11, "name": "Alue 1", "state": "0102"},
            {"kind": "raw", "text": "201 Murto\r\n"})",
         {"201 Murto", "207 id=11 name=Alue 1 state=0102 at 0", "201 Murto"}},
        {"a changed text posts again",
         R"({"kind": "alarm", "text": "Murto"}, {"kind": "alarm", "text": "Palo=http://x/1"})",
         {"201 Murto", "201 Palo=http://x/1"}},
        {"a silent alarm",
         R"({"kind": "alarm", "text": "Hiljainen", "silent": true})",
         {"202 Hiljainen"}},
        {"200 after another code posts once, other codes post nothing",
         raw200 + "," + raw200 + R"(, {"kind": "raw", "text": "299 odd\r\n"},)" + raw200 + "," +
             raw200,
         {"200", "200"}},
        {"a 200 with a new text posts",
         raw200 + R"(, {"kind": "raw", "text": "200 Quiet\r\n"})",
         {"200", "200"}},
        {"operator messages post every time",
         R"({"kind": "message", "text": "Soita"}, {"kind": "message", "text": "Soita"})",
         {"206 Soita", "206 Soita"}},
        {"the whole reply text is joined and trimmed",
         R"({"kind": "raw", "text": "201-  Murto \r\n201 =http://x\r\n"})",
         {"201 Murto\r\n=http://x"}},
        {"bytes above 127 from the server read as ?",
         R"({"kind": "raw", "hex": "32303620486569e46974690d0a"})",
         {"206 Hei?iti"}},
        {"settings changed: fetched again at once",
         R"({"kind": "settings", "set": {"Drawing version": 4}})",
         {"203 station=7 auto=0 confirm=1 screensaver=0 popup=1 sound=1 prevent=0 drawing=4 "
          "dynamic=0"}},
        {"drawing changed: downloaded at once",
         R"({"kind": "drawing"})",
         {"204 " + std::to_string(PackDrawing("document").size()) + " bytes at 0"}},
        {"a status name is cut at 255 characters",
         R"({"kind": "status", "id": 5, "name": ")" + std::string(300, 'n') + R"(", "state": ""})",
         {"207 id=5 name=" + std::string(255, 'n') + " state= at 0"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TLinkRig rig(Site(c.Events + R"(, {"kind": "disconnect"})"));
        rig.Thread->Start();
        std::vector<std::string> expected = c.Expected;
        expected.push_back(ServerEnded);
        EXPECT_EQ(rig.ConversationUntil(ServerEnded), expected);
    }
}

TEST(ConnectThread, ServerEndingTheConversationReconnectsAfterTheSpacing) {
    // An alarm is active when the server says 205.
    TLinkRig rig(Site(R"({"kind": "alarm", "text": "Murto"}, {"kind": "disconnect", "at": 50})"));
    rig.Thread->Start();
    ASSERT_TRUE(rig.WaitFor(ServerEnded));
    EXPECT_FALSE(rig.Thread->Connected());
    ASSERT_TRUE(rig.WaitFor("connected"));
    EXPECT_EQ(rig.Server.SessionCount(), 2);
    std::vector<std::string> received = rig.Server.ReceivedLines();
    auto quit = std::find(received.begin(), received.end(), "Quit");
    ASSERT_NE(quit, received.end()) << "205 is answered with Quit";
    EXPECT_EQ(*(quit + 1), "7") << "the next conversation starts with the login";
}

TEST(ConnectThread, AServerReplyDuringTheIdleWaitMakesTheClientPollAtOnce) {
    // The events come due while the client waits idle; with a minute's idle bound they can only
    // arrive because the simulator's unsolicited reply ends the wait.
    TLinkRig rig(Site(R"({"kind": "message", "text": "Herätys", "at": 200},
                         {"kind": "alarm", "text": "Murto", "at": 400})"));
    rig.Thread->Timings.IdleWaitBound = 60000;
    rig.Thread->Start();
    EXPECT_EQ(rig.ConversationUntil("201"),
              (std::vector<std::string>{"200", "206 Her?tys", "200", "201 Murto"}));
}

TEST(ConnectThread, NewerVersionDownloadsTheUpdaterQuitsAndEnds) {
    TLinkRig rig(Site("", R"(, "version": "60.0", "updater": {"text": "new program"})"));
    std::ofstream(rig.Updater) << "an older download";
    rig.Thread->Start();
    ASSERT_TRUE(rig.WaitFor("disconnected"));
    rig.Thread->WaitFor();
    EXPECT_TRUE(rig.Thread->Finished());
    EXPECT_EQ(rig.Seen, (std::vector<std::string>{"update ready", "disconnected: Terminating"}));
    EXPECT_EQ(ReadFile(rig.Updater), "new program");
    struct stat info {};
    ASSERT_EQ(::stat(rig.Updater.c_str(), &info), 0);
    EXPECT_TRUE(info.st_mode & S_IXUSR);
    EXPECT_EQ(rig.Server.ReceivedLines(),
              (std::vector<std::string>{"7", "tester", "Upgrade", "Quit"}));
    std::remove(rig.Updater.c_str());
}

TEST(ConnectThread, DropsTheConnectionOnMalformedServerInput) {
    struct TCase {
        const char* Name;
        std::string Site;
        std::string Reason;
    } cases[] = {
        {"a greeting of one line", Site("", R"(, "greeting": ["GuardSim"])"),
         "List index out of bounds (1)"},
        {"a version of three numbers", Site("", R"(, "version": "1.12.3")"),
         "'12.3' is not a valid integer value"},
        {"a refused station", Site("", R"(, "stations": ["1"])"), "Employee number not valid!"},
        {"an over-long line",
         Site(R"({"kind": "raw", "text": "206 )" + std::string(16385, 'x') + R"(\r\n"})"),
         "Received a line longer than 16384 bytes"},
        {"a negative payload length",
         Site(R"({"kind": "raw", "hex": "3230372031313d780d0affffffff"})"),
         "Payload length -1 is out of range"},
        {"a payload length past the bound",
         Site(R"({"kind": "raw", "hex": "3230372031313d780d0a7fffffff"})"),
         "Payload length 2147483647 is out of range"},
        {"a payload cut short by a disconnect",
         Site(R"({"kind": "raw", "hex": "3230372031313d780d0a0000001061626364", "close": true})"),
         "Connection closed by the server after 4 of 16 payload bytes"},
        {"a status text without an equals sign",
         Site(R"({"kind": "raw", "hex": "3230372031310d0a00000000"})"),
         "'' is not a valid integer value"},
        {"a status id that is not a number",
         Site(R"({"kind": "raw", "hex": "32303720783d5a6f6e650d0a00000000"})"),
         "'x' is not a valid integer value"},
        {"a reply that never ends its continuation lines",
         Site(R"({"kind": "raw", "text": "201-Murto\r\n"})"), "Read timed out"},
        {"a connection dropped during a Poll", Site(R"({"kind": "close"})"),
         "Connection closed by the server"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TLinkRig rig(c.Site);
        rig.Thread->Timings.ReadTimeout = 300;
        rig.Thread->Start();
        ASSERT_TRUE(rig.WaitFor("disconnected"));
        EXPECT_EQ(rig.Matched(), "disconnected: " + c.Reason);
        EXPECT_FALSE(rig.Thread->Connected());
        // The thread carries on and tries again.
        ASSERT_TRUE(rig.WaitFor("disconnected"));
    }
}

TEST(ConnectThread, IdleWaitGivesTheLineToOtherThreads) {
    TLinkRig rig(Site("", R"(, "home": 1234, "objects": [
        {"type": "Panel", "id": 70, "name": "Keskus"},
        {"type": "Partition", "id": 77, "name": "Alue", "fields": {"PanelId": 70,
         "PartitionNumber": 1, "ArmStatus": 0, "ReadyStatus": 3}}])"));
    rig.Thread->Timings.IdleWaitBound = 60000;
    rig.Thread->Start();
    ASSERT_TRUE(rig.WaitFor("200"));

    // The connection thread now waits idle for up to a minute while holding the line.
    std::unique_ptr<TUtilityStream> clients = RequestClients(rig.Line);
    ASSERT_GT(clients->GetSize(), 4);
    int32_t home = 0;
    std::memcpy(&home, clients->Memory(), 4);
    EXPECT_EQ(home, 1234);
    EXPECT_EQ(clients->GetPosition(), 0);

    SendAlarm(rig.Line, "Hätänappi");
    ASSERT_TRUE(rig.WaitFor("201"));
    EXPECT_EQ(rig.Matched(), "201 H?t?nappi");

    // The partition leaves its exit delay and the server sends its new state.
    SendDisarmPartition(rig.Line, 77);
    ASSERT_TRUE(rig.WaitFor("207"));
    EXPECT_EQ(rig.Matched(), "207 id=77 name=Alue state=0001 at 0");
    try {
        SendDisarmPartition(rig.Line, 70);
        ADD_FAILURE() << "70 is a panel, not a partition";
    } catch (const EReplyError& e) {
        EXPECT_STREQ(e.what(), "No partition 70");
    }

    rig.Thread->SetBackgroundWanted(true);
    ASSERT_TRUE(rig.WaitFor("204"));
    EXPECT_FALSE(rig.Thread->BackgroundWanted());
    EXPECT_EQ(rig.Line.LineWanted.load(), 0);

    std::vector<std::string> received = rig.Server.ReceivedLines();
    for (const char* command :
         {"GetClients", "Alarm H?t?nappi", "DisarmPartition 77", "DisarmPartition 70"})
        EXPECT_NE(std::find(received.begin(), received.end(), command), received.end()) << command;
}

TEST(ConnectThread, TerminationSaysQuitAndReportsTerminating) {
    TLinkRig rig(Site(""));
    rig.Thread->Timings.IdleWaitBound = 60000;
    rig.Thread->Start();
    ASSERT_TRUE(rig.WaitFor("200"));
    rig.Thread->Terminate();
    rig.Thread->WaitFor();
    ASSERT_TRUE(rig.WaitFor("disconnected"));
    EXPECT_EQ(rig.Matched(), "disconnected: Terminating");
    EXPECT_EQ(rig.Server.ReceivedLines().back(), "Quit");
    EXPECT_FALSE(rig.Client.Connected());
}

TEST(ConnectThread, TerminationWithoutAServerStillReportsTerminating) {
    TLinkRig rig(Site(""));
    rig.Thread->Host = "127.0.0.1:1"; // nothing listens there
    rig.Thread->Start();
    ASSERT_TRUE(rig.WaitFor("disconnected"));
    EXPECT_NE(rig.Seen.front().find("Cannot connect to 127.0.0.1:1"), std::string::npos)
        << rig.Seen.front();
    rig.Thread->Terminate();
    rig.Thread->WaitFor();
    ASSERT_TRUE(rig.WaitFor("disconnected: Terminating"));
}

TEST(ConnectThread, IsNewerVersionComparesMajorAndMinor) {
    struct TCase {
        const char* Line;
        uint16_t Major, Minor;
        int Expected; // 1 newer, 0 not newer, -1 conversion error
    } cases[] = {
        {"GuardServer 1.12", 1, 11, 1},
        {"GuardServer 1.11", 1, 11, 0},
        {"GuardServer 1.10", 1, 11, 0},
        {"GuardServer 2.0", 1, 999, 1},
        {"1.2", 1, 1, 1},                   // no space: the whole line is the version
        {"Server version 1.2", 1, 1, -1},   // only the first word is removed
        {"GuardServer 1.12.3", 1, 11, -1},  // three numbers do not parse
        {"GuardServer 1", 1, 0, -1},        // no point
        {"GuardServer 1.1234567", 1, 0, 1}, // the minor number is at most 6 characters
        {"GuardServer 65537.0", 1, 0, 0},   // taken as unsigned 16-bit: 1.0
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Line);
        if (c.Expected < 0) {
            EXPECT_THROW(TConnectThread::IsNewerVersion(c.Line, c.Major, c.Minor), EConvertError);
        } else {
            EXPECT_EQ(TConnectThread::IsNewerVersion(c.Line, c.Major, c.Minor), c.Expected == 1);
        }
    }
}

namespace {

class TNullHost : public IConnectThreadHost {
public:
    void PostMessage(TMessage message) override { Posted.push_back(message.Msg); }
    std::string UpdaterPath() const override { return Path; }
    std::vector<uint32_t> Posted;
    std::string Path;
};

} // namespace

TEST(ConnectThread, AnotherThreadsExchangeThatBreaksClosesTheLine) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    TTcpClient client;
    client.Attach(fds[0]);
    client.ReadTimeout = 2000;
    TServerLine line(client);
    uint32_t length = htonl(100);
    std::string reply =
        "200 Clients follow\r\n" + std::string(reinterpret_cast<const char*>(&length), 4) + "abc";
    ASSERT_EQ(::write(fds[1], reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
    ::shutdown(fds[1], SHUT_WR);
    EXPECT_THROW(RequestClients(line), ESocketError);
    // The rest of the payload must not be read as the connection thread's next reply.
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(line.LineWanted.load(), 0);
    ::close(fds[1]);

    // A wrong code leaves a line in step: the reply was read whole.
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    client.Attach(fds[0]);
    ASSERT_EQ(::write(fds[1], "404 No partition 3\r\n", 20), 20);
    EXPECT_THROW(SendDisarmPartition(line, 3), EReplyError);
    EXPECT_TRUE(client.Connected());
    ::close(fds[1]);
}

TEST(ConnectThread, AnUpdaterCutShortLeavesNoFile) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    TTcpClient client;
    client.Attach(fds[0]);
    TServerLine line(client);
    TNullHost host;
    host.Path = testing::TempDir() + "/gc_link_cut_updater";
    TConnectThread thread(host, line);
    uint32_t length = htonl(100);
    std::string reply = "200 Updater follows\r\n" +
                        std::string(reinterpret_cast<const char*>(&length), 4) + "0123456789";
    ASSERT_EQ(::write(fds[1], reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
    ::close(fds[1]);
    EXPECT_THROW(thread.DownloadUpgrade(), ESocketError);
    EXPECT_NE(::access(host.Path.c_str(), F_OK), 0) << "a partial updater was left behind";
    EXPECT_TRUE(host.Posted.empty());
}
