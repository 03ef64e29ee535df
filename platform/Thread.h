#pragma once

#include <atomic>
#include <thread>

// A worker thread object that is created suspended: the owner sets it up, then calls Start.
// Terminate only asks; Execute watches Terminated() and returns by itself. The object is not
// freed when the thread ends: its owner waits for it and frees it.
class TThread {
public:
    TThread() = default;
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Start();
    // Asks the thread to end and calls TerminateRequested, so a thread blocked in a wait of its
    // own can be woken. Any thread may call it.
    void Terminate();
    // Blocks until Execute has returned; safe to call more than once.
    void WaitFor();

    bool Terminated() const { return FTerminated.load(); }
    bool Started() const { return FThread.joinable() || FFinished.load(); }
    bool Finished() const { return FFinished.load(); }

protected:
    virtual void Execute() = 0;
    virtual void TerminateRequested() {}
    // Lets Execute mark itself terminated when it ends on its own account.
    void SetTerminated() { FTerminated.store(true); }

private:
    std::thread FThread;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
};
