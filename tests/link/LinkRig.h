#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "ConnectThread.h"
#include "SimServer.h"

// A connection thread against an in-process simulator on an ephemeral loopback port, with
// intervals short enough for tests. Every message the thread posts is rendered as one line of
// text, so a test compares a conversation as a list of lines.
class TLinkRig : public IConnectThreadHost {
public:
    explicit TLinkRig(const std::string& siteJson)
        : Server(TSimSite::Parse(siteJson, GC_TEST_DATA_DIR)) {
        uint16_t port = Server.Start("127.0.0.1", 0);
        Thread = std::make_unique<TConnectThread>(*this, Line);
        Thread->Host = "127.0.0.1:" + std::to_string(port);
        Thread->StationIdent = "7";
        Thread->UserName = "tester";
        Thread->Timings.ReconnectSpacing = 100;
        Thread->Timings.IdleWaitBound = 1000;
        Thread->Timings.ConnectTimeout = 2000;
        Thread->Timings.ReadTimeout = 2000;
        Thread->Timings.QuitReplyTimeout = 1000;
        Updater = testing::TempDir() + "/gc_link_updater_" +
                  testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    ~TLinkRig() override {
        Thread.reset();
        Server.Stop();
    }

    void PostMessage(TMessage message) override { Pump.Post(std::move(message)); }
    std::string UpdaterPath() const override { return Updater; }

    static std::string Render(TMessage& message);

    // Drains the queue into Seen until a line starting with prefix arrives after the one the
    // previous wait matched (true) or the bound passes (false). The bound only keeps a broken
    // build from hanging.
    bool WaitFor(const std::string& prefix, int seconds = 20);
    // The line the last successful wait matched. Later messages may already sit behind it in
    // Seen (a 201 repeats right after a 207), so tests look here rather than at Seen.back().
    const std::string& Matched() const { return Seen.at(Cursor - 1); }
    // The lines seen after the first "connected", up to and including the first line that
    // starts with prefix.
    std::vector<std::string> ConversationUntil(const std::string& prefix);

    TSimServer Server;
    TTcpClient Client;
    TServerLine Line{Client};
    TMessagePump Pump;
    std::unique_ptr<TConnectThread> Thread;
    std::string Updater;
    std::vector<std::string> Seen;
    size_t Cursor = 0;
};
