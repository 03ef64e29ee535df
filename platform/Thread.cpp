#include "Thread.h"

#include <cstdio>
#include <exception>

TThread::~TThread() {
    // A descendant must stop its thread in its own destructor, while its Execute still has an
    // object to run on; this is the last line of defence against a detached run.
    if (FThread.joinable()) {
        Terminate();
        FThread.join();
    }
}

void TThread::Start() {
    if (FThread.joinable() || FFinished.load()) return;
    FThread = std::thread([this] {
        try {
            Execute();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "thread ended by an error: %s\n", e.what());
        }
        FFinished.store(true);
    });
}

void TThread::Terminate() {
    FTerminated.store(true);
    TerminateRequested();
}

void TThread::WaitFor() {
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}
