#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "PropText.h"
#include "SysUtils.h"
#include "VektUtils.h"

namespace {

// Collects "receiver<-sender:kind" for every notification the links it watches receive.
struct TLog {
    std::vector<std::string> Lines;
    void Watch(TNotifyLink& link, const std::string& name) {
        link.OnNotify = [this, name](TNotifyLink&, TNotifyLink& sender, const TNotifyInfo& info) {
            Lines.push_back(name + "<-" + static_cast<const char*>(sender.Owner()) + ":" +
                            std::to_string(info.Kind));
        };
    }
};

std::vector<std::string> handled;
void RecordHandled(const std::exception& e) {
    handled.push_back(e.what());
}

} // namespace

TEST(NotifyLink, SubscriptionsAreTwoWayWithCounts) {
    char a[] = "a", b[] = "b";
    TNotifyLink sender(a), listener(b);
    sender.Subscribe(listener);
    sender.Subscribe(listener);
    EXPECT_EQ(sender.CountOf(listener), 2);
    EXPECT_EQ(listener.CountOf(sender), 0); // back entry: nothing flows from listener to sender
    sender.Unsubscribe(listener);
    EXPECT_EQ(sender.CountOf(listener), 1);
    sender.Unsubscribe(listener);
    EXPECT_EQ(sender.CountOf(listener), -1);
    EXPECT_EQ(listener.CountOf(sender), -1);

    // Mutual subscriptions: dropping one direction keeps the pair for the other.
    sender.Subscribe(listener);
    listener.Subscribe(sender);
    sender.Unsubscribe(listener);
    EXPECT_EQ(sender.CountOf(listener), 0);
    EXPECT_EQ(listener.CountOf(sender), 1);
    EXPECT_THROW(TNotifyLink(nullptr), Exception);
    try {
        TNotifyLink orphan(nullptr);
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Owner must exist");
    }
}

TEST(NotifyLink, NotifiesPositiveCountsAndSurvivesFailingReceivers) {
    char s[] = "s", x[] = "x", y[] = "y", z[] = "z";
    TLog log; // outlives the links: they report their own destruction to it
    TNotifyLink sender(s), first(x), second(y), backOnly(z);
    log.Watch(first, "x");
    log.Watch(second, "y");
    log.Watch(backOnly, "z");
    sender.Subscribe(first);
    sender.Subscribe(second);
    backOnly.Subscribe(sender); // sender only holds a back entry for z
    first.OnNotify = [&](TNotifyLink&, TNotifyLink&, const TNotifyInfo&) {
        log.Lines.push_back("x throws");
        throw Exception("receiver failed");
    };
    handled.clear();
    TApplicationExceptionHandler previous = SetApplicationExceptionHandler(RecordHandled);
    sender.PropNotify(nullptr, false);
    first.OnNotify = nullptr; // it would throw again when it goes away
    SetApplicationExceptionHandler(previous);
    EXPECT_EQ(log.Lines, (std::vector<std::string>{"x throws", "y<-s:3"}));
    EXPECT_EQ(handled, (std::vector<std::string>{"receiver failed"}));
}

TEST(NotifyLink, DestroyGoesToOwnCallbackThenPeersNewestFirst) {
    char s[] = "s", a[] = "a", b[] = "b", c[] = "c";
    TLog log;
    auto sender = std::make_unique<TNotifyLink>(s);
    TNotifyLink pa(a), pb(b), pc(c);
    log.Watch(*sender, "s");
    log.Watch(pa, "a");
    log.Watch(pb, "b");
    log.Watch(pc, "c");
    sender->Subscribe(pa);
    pb.Subscribe(*sender); // only a back entry on the sender's side: still told
    sender->Subscribe(pc);
    sender.reset();
    EXPECT_EQ(log.Lines, (std::vector<std::string>{"s<-s:1", "c<-s:1", "b<-s:1", "a<-s:1"}));
    EXPECT_EQ(pa.PeerCount() + pb.PeerCount() + pc.PeerCount(), 0);
}

TEST(NotifyLink, CallbacksMayFreePeersAndTheSenderWhileItWalks) {
    char s[] = "s", a[] = "a", b[] = "b";
    auto sender = std::make_unique<TNotifyLink>(s);
    auto victim = std::make_unique<TNotifyLink>(b);
    TNotifyLink killer(a);
    int victimCalls = 0;
    killer.OnNotify = [&](TNotifyLink&, TNotifyLink&, const TNotifyInfo&) { victim.reset(); };
    victim->OnNotify = [&](TNotifyLink&, TNotifyLink&, const TNotifyInfo& info) {
        victimCalls += info.Kind != nkDestroy; // its own end it hears, the rest it must not
    };
    sender->Subscribe(killer);
    sender->Subscribe(*victim);
    sender->PropNotify(nullptr, true);
    EXPECT_EQ(victimCalls, 0);
    EXPECT_EQ(sender->PeerCount(), 1);

    killer.OnNotify = [&](TNotifyLink&, TNotifyLink&, const TNotifyInfo&) { sender.reset(); };
    sender->PropNotify(nullptr, true); // frees itself from inside its own walk
    EXPECT_EQ(sender, nullptr);
    EXPECT_EQ(killer.PeerCount(), 0);
}

TEST(IdPool, KeepsMergedRanges) {
    TIdPool pool;
    EXPECT_EQ(pool.NewId(), 1u);
    EXPECT_EQ(pool.NewId(), 2u);
    EXPECT_TRUE(pool.Use(5));
    EXPECT_FALSE(pool.Use(5));
    EXPECT_FALSE(pool.Use(0));
    EXPECT_TRUE(pool.Use(4));
    EXPECT_EQ(pool.Ranges(), (std::vector<uint32_t>{1, 2, 4, 5}));
    EXPECT_EQ(pool.NewId(), 3u); // fills the gap and merges
    EXPECT_EQ(pool.Ranges(), (std::vector<uint32_t>{1, 5}));
    pool.Release(3);
    EXPECT_EQ(pool.Ranges(), (std::vector<uint32_t>{1, 2, 4, 5}));
    pool.Release(1);
    pool.Release(5);
    EXPECT_EQ(pool.Ranges(), (std::vector<uint32_t>{2, 2, 4, 4}));
    EXPECT_FALSE(pool.IsUsed(3));
    EXPECT_TRUE(pool.IsUsed(4));
    EXPECT_EQ(pool.NewId(), 1u);
    EXPECT_TRUE(pool.Use(0xFFFFFFFFu));
    EXPECT_TRUE(pool.IsUsed(0xFFFFFFFFu));
}

TEST(VektFiler, ReadsLinesByTheLineRules) {
    struct Case {
        const char* name;
        std::string input;
        std::vector<std::string> lines;
    } cases[] = {
        {"crlf", "a\r\nb\r\n", {"a", "b"}},
        {"lfcr is one break", "a\n\rb", {"a", "b"}},
        {"two crs are two breaks", "a\r\rb", {"a", "", "b"}},
        {"leading spaces skipped, tabs kept", "   x = 1\r\n\ty\r\n", {"x = 1", "\ty"}},
        {"last line without break", "a\r\nb", {"a", "b"}},
        {"blank line is an empty line", "  \r\nz", {"", "z"}},
        {"code page", "\xE4\r\n", {"\xC3\xA4"}},
    };
    for (const Case& c : cases) {
        TMemoryStream stream;
        TVektFiler filer(WriteText(stream, c.input));
        std::vector<std::string> lines;
        std::string line;
        while (filer.ReadLine(line))
            lines.push_back(line);
        EXPECT_EQ(lines, c.lines) << c.name;
    }
}

TEST(VektFiler, LongLinesCrossTheBuffer) {
    std::string big(TVektFiler::BufferSize + 10, 'x');
    TMemoryStream stream;
    TVektFiler filer(WriteText(stream, "  " + big + "\r\nnext"));
    std::string line;
    ASSERT_TRUE(filer.ReadLine(line));
    EXPECT_EQ(line, big);
    ASSERT_TRUE(filer.ReadLine(line));
    EXPECT_EQ(line, "next");
    EXPECT_FALSE(filer.ReadLine(line));
}

TEST(VektFiler, KeywordsAndBlockSkipping) {
    EXPECT_TRUE(IsKeywordLine("", "end"));
    EXPECT_TRUE(IsKeywordLine("end", "end"));
    EXPECT_TRUE(IsKeywordLine("endless", "end"));
    EXPECT_FALSE(IsKeywordLine("End", "end"));
    EXPECT_FALSE(IsKeywordLine("Pro = 1", "property"));

    TMemoryStream stream;
    TVektFiler filer(WriteText(stream, "object A: T\r\n property P\r\n X = 1\r\n end\r\n"
                                       "end\r\nafter\r\n"));
    std::string line;
    ASSERT_TRUE(filer.ReadLine(line));
    filer.SkipBlock(); // the property block inside does not end the object
    ASSERT_TRUE(filer.ReadLine(line));
    EXPECT_EQ(line, "after");

    TMemoryStream written;
    TVektFiler writer(written);
    writer.WriteLine("a\xC3\xA4");
    EXPECT_EQ(StreamText(written), "a\xE4\r\n");
}
