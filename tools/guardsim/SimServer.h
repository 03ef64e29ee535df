#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SimObjects.h"
#include "SimSite.h"

// Writes the conversation, one time-stamped line per line sent or received.
class TSimLog {
public:
    // nullptr keeps the log silent.
    explicit TSimLog(FILE* out = nullptr)
        : FOut(out) {}
    void SetOutput(FILE* out);
    void Write(int session, const char* direction, const std::string& text);
    void Note(const std::string& text);

private:
    std::mutex FLock;
    FILE* FOut;
};

class TSimSession;

// The monitoring-server simulator: listens on a local address and holds one conversation per
// client on its own thread, serving the site and playing its scenario to each client from its
// login on.
class TSimServer {
public:
    explicit TSimServer(TSimSite site);
    ~TSimServer();
    TSimServer(const TSimServer&) = delete;
    TSimServer& operator=(const TSimServer&) = delete;

    // Binds address:port (port 0 picks a free one) and starts accepting; returns the port.
    uint16_t Start(const std::string& address, uint16_t port);
    // Ends every conversation and stops listening; waits for the threads.
    void Stop();
    uint16_t Port() const { return FPort; }

    TSimLog Log;

    // Every line received from any client, in arrival order (tests check the login order).
    std::vector<std::string> ReceivedLines() const;
    int SessionCount() const { return FSessionCount.load(); }

    // The shared site, under its lock. Sessions read and change it through these.
    std::vector<std::string> Greeting() const;
    void SetVersion(const std::string& version);
    std::vector<std::pair<std::string, std::string>> Settings() const;
    void ChangeSettings(const std::vector<std::pair<std::string, std::string>>& changes);
    bool Drawing(std::string& payload) const;
    void SetDrawing(const std::string& payload);
    bool Updater(std::string& payload) const;
    const std::vector<std::string>& Stations() const { return FSite.Stations; }
    const std::vector<TSimEvent>& Scenario() const { return FSite.Scenario; }
    TSimObjects& Objects() { return *FObjects; }

    void NoteReceived(int session, const std::string& line);

private:
    void AcceptLoop();
    void Reap(bool all);

    TSimSite FSite;
    std::unique_ptr<TSimObjects> FObjects;
    mutable std::mutex FSiteLock;
    int FListen = -1;
    int FStopFd = -1;
    uint16_t FPort = 0;
    std::atomic<bool> FStopping{false};
    std::thread FAcceptThread;
    std::mutex FSessionsLock;
    std::vector<std::unique_ptr<TSimSession>> FSessions;
    std::atomic<int> FSessionCount{0};
    mutable std::mutex FReceivedLock;
    std::vector<std::string> FReceived;
};
