#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "Messages.h"

namespace {

// Counts its destructions, so a test sees who freed a record and when.
struct TRecord {
    explicit TRecord(int* freed, int value = 0)
        : Freed(freed)
        , Value(value) {}
    ~TRecord() { ++*Freed; }
    int* Freed;
    int Value;
};

TMessage Make(uint32_t msg, intptr_t lparam, std::unique_ptr<TRecord> record = nullptr) {
    TMessage message;
    message.Msg = msg;
    message.LParam = lparam;
    if (record) message.WParam = TMessageParam(std::move(record));
    return message;
}

} // namespace

TEST(MessagePump, DeliversEachPostersMessagesInOrder) {
    TMessagePump pump;
    constexpr int Threads = 4, PerThread = 2000;
    std::vector<std::thread> posters;
    for (int t = 0; t < Threads; ++t)
        posters.emplace_back([&pump, t] {
            for (int i = 0; i < PerThread; ++i)
                pump.Post(Make(WM_USER + static_cast<uint32_t>(t), i));
        });
    std::vector<intptr_t> next(Threads, 0);
    int delivered = 0;
    auto handler = [&](TMessage& m) {
        int t = static_cast<int>(m.Msg - WM_USER);
        EXPECT_EQ(m.LParam, next[t]) << "poster " << t;
        next[t] = m.LParam + 1;
        ++delivered;
    };
    while (delivered < Threads * PerThread) {
        pump.WaitMessage(1000);
        pump.ProcessMessages(handler);
    }
    for (std::thread& poster : posters)
        poster.join();
    EXPECT_EQ(pump.Pending(), 0u);
}

TEST(MessagePump, TheHandlerOwnsTheRecord) {
    int freed = 0;
    TMessagePump pump;
    pump.Post(Make(1, 0, std::make_unique<TRecord>(&freed, 7)));
    pump.Post(Make(2, 0, std::make_unique<TRecord>(&freed, 8)));
    pump.Post(Make(3, 0, std::make_unique<TRecord>(&freed, 9)));
    std::unique_ptr<TRecord> kept;
    pump.ProcessMessages([&](TMessage& m) {
        if (m.Msg == 1) {
            // The wrong type is refused and the record stays with the message.
            EXPECT_EQ(m.WParam.Take<int>(), nullptr);
            EXPECT_FALSE(m.WParam.Empty());
        } else if (m.Msg == 2) {
            kept = m.WParam.Take<TRecord>();
            EXPECT_TRUE(m.WParam.Empty());
        } else {
            throw std::runtime_error("handler failed");
        }
    });
    // Untaken records are freed with their message, also when the handler fails.
    EXPECT_EQ(freed, 2);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->Value, 8);
    kept.reset();
    EXPECT_EQ(freed, 3);

    // Messages still queued when the pump goes are freed with it.
    {
        TMessagePump dropped;
        dropped.Post(Make(4, 0, std::make_unique<TRecord>(&freed)));
    }
    EXPECT_EQ(freed, 4);
}

TEST(MessagePump, HandlerErrorsAreReportedAndTheLoopCarriesOn) {
    TMessagePump pump;
    std::vector<std::string> errors;
    pump.OnHandlerError = [&](const std::exception& e) { errors.push_back(e.what()); };
    for (uint32_t i = 1; i <= 4; ++i)
        pump.Post(Make(i, 0));
    std::vector<uint32_t> seen;
    pump.ProcessMessages([&](TMessage& m) {
        seen.push_back(m.Msg);
        if (m.Msg == 2) throw std::runtime_error("two failed");
        if (m.Msg == 3) pump.Quit();
    });
    EXPECT_EQ(seen, (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(errors, std::vector<std::string>{"two failed"});
    // Quit keeps what was not delivered, in order, ahead of later posts.
    pump.Post(Make(5, 0));
    EXPECT_EQ(pump.Pending(), 2u);
    std::thread runner([&] { pump.Run([&](TMessage& m) { seen.push_back(m.Msg); }); });
    runner.join(); // Run returns at once: the pump is quitting
    EXPECT_TRUE(pump.Quitting());
}
