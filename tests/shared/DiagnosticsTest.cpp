#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Debug.h"
#include "DebugPipe.h"
#include "Ticks.h"
#include "Utilities.h"
#include "Version.h"

TEST(Diagnostics, BugCheckPrefixesItsMessage) {
    EBugCheckError e("Object is readonly! Use clone for update!");
    EXPECT_STREQ(e.what(), "BUGCHECK: Object is readonly! Use clone for update!");
    EXPECT_TRUE(dynamic_cast<const Exception*>(&e));
}

TEST(Diagnostics, AppendWithSeparator) {
    struct Case {
        std::string text, item, separator, result;
    } cases[] = {
        {"a", "b", ",", "a,b"},     {"a,", "b", ",", "a,b"},    {"", "b", ",", "b"},
        {"x; ", "y", "; ", "x; y"}, {"x;", "y", "; ", "x;; y"},
    };
    for (Case c : cases) {
        AppendWithSeparator(c.text, c.item, c.separator);
        EXPECT_EQ(c.text, c.result);
    }
}

namespace {
uint32_t FakeNow = 0;
uint32_t FakeTicks() {
    return FakeNow;
}
} // namespace

TEST(Diagnostics, TicksMeasureAcrossTheWrap) {
    SetTickSourceForTesting(FakeTicks);
    FakeNow = 100;
    uint32_t since = 0xFFFFFF00u; // 356 ms before the wrap-around to FakeNow
    EXPECT_EQ(ElapsedTicks(since), 356u);
    EXPECT_TRUE(TicksPassed(since, 355));
    EXPECT_FALSE(TicksPassed(since, 356)) << "exactly the interval has not passed it";
    SetTickSourceForTesting(nullptr);
    uint32_t start = GetTickCount();
    EXPECT_LT(ElapsedTicks(start), 1000u);
}

TEST(Diagnostics, OwnFileVersionComesFromTheBuild) {
    uint16_t major, minor, release, build;
    GetOwnFileVersion(major, minor, release, build);
    EXPECT_EQ(major, GC_VERSION_MAJOR);
    EXPECT_EQ(minor, GC_VERSION_MINOR);
    EXPECT_EQ(release, GC_VERSION_RELEASE);
    EXPECT_EQ(build, GC_VERSION_BUILD);
}

class DebugPipeTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/gc_debugpipe_XXXXXX";
        Folder = mkdtemp(pattern);
        setenv("XDG_RUNTIME_DIR", Folder.c_str(), 1);
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + Folder + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
    std::string Folder;
};

TEST_F(DebugPipeTest, DisabledChannelDropsLinesAndOpensNothing) {
    TDebugPipe pipe;
    pipe.SetEnabled(true);
    std::string path = pipe.PipePath();
    pipe.SetEnabled(false);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    pipe.Write("dropped");
    EXPECT_FALSE(pipe.IsConnected());
    char byte;
    EXPECT_LE(read(reader, &byte, 1), 0);
    close(reader);
    EXPECT_FALSE(TDebugPipe::Instance().Enabled()) << "the process-wide channel starts disabled";
}

TEST_F(DebugPipeTest, EnabledChannelWritesOneFramedMessagePerLine) {
    TDebugPipe pipe;
    pipe.SetEnabled(true);
    pipe.Write("nobody listens"); // no FIFO yet: dropped, tried again next time
    EXPECT_FALSE(pipe.IsConnected());

    ASSERT_EQ(mkfifo(pipe.PipePath().c_str(), 0600), 0);
    int reader = open(pipe.PipePath().c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    pipe.Write("Showing zone Ovi");
    EXPECT_TRUE(pipe.IsConnected());

    char frame[256];
    ssize_t n = read(reader, frame, sizeof frame);
    ASSERT_EQ(n, 24 + 16);
    uint32_t pid, length, reserved;
    std::memcpy(&pid, frame + 8, 4);
    std::memcpy(&length, frame + 16, 4);
    std::memcpy(&reserved, frame + 20, 4);
    EXPECT_EQ(pid, static_cast<uint32_t>(getpid()));
    EXPECT_EQ(length, 16u);
    EXPECT_EQ(reserved, 0u);
    EXPECT_EQ(std::string(frame + 24, 16), "Showing zone Ovi");

    close(reader); // the reader goes away: the next write fails quietly and disconnects
    pipe.Write("after the reader left");
    EXPECT_FALSE(pipe.IsConnected());
}

TEST(Diagnostics, MessageFrameLayout) {
    std::string m = TDebugPipe::BuildMessage(1.0, 7, 9, "ä");
    ASSERT_EQ(m.size(), 25u);
    EXPECT_EQ(m.substr(0, 8), std::string("\0\0\0\0\0\0\xF0\x3F", 8));
    EXPECT_EQ(m.substr(8, 4), std::string("\x07\0\0\0", 4));
    EXPECT_EQ(m.substr(12, 4), std::string("\x09\0\0\0", 4));
    EXPECT_EQ(m.substr(16, 4), std::string("\x01\0\0\0", 4));
    EXPECT_EQ(m.substr(24), "\xE4");
}
