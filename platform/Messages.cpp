#include "Messages.h"

#include <chrono>

#include "SysUtils.h"

void TMessagePump::Post(TMessage message) {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FQueue.push_back(std::move(message));
    }
    FSignal.notify_all();
}

void TMessagePump::Deliver(const TMessageHandler& handler, TMessage& message) {
    try {
        handler(message);
    } catch (const std::exception& e) {
        if (OnHandlerError)
            OnHandlerError(e);
        else
            ApplicationHandleException(e);
    }
}

int TMessagePump::ProcessMessages(const TMessageHandler& handler) {
    // Take the whole batch at once so a handler that posts does not starve the caller, and the
    // lock is never held while a handler runs.
    std::deque<TMessage> batch;
    {
        std::lock_guard<std::mutex> lock(FLock);
        batch.swap(FQueue);
    }
    int delivered = 0;
    while (!batch.empty()) {
        TMessage message = std::move(batch.front());
        batch.pop_front();
        Deliver(handler, message);
        ++delivered;
        if (Quitting()) {
            // Keep what was not delivered, ahead of anything posted meanwhile.
            std::lock_guard<std::mutex> lock(FLock);
            while (!batch.empty()) {
                FQueue.push_front(std::move(batch.back()));
                batch.pop_back();
            }
            break;
        }
    }
    return delivered;
}

bool TMessagePump::WaitMessage(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(FLock);
    FSignal.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                     [this] { return !FQueue.empty() || FQuit; });
    return !FQueue.empty();
}

void TMessagePump::Run(const TMessageHandler& handler) {
    while (!Quitting()) {
        {
            std::unique_lock<std::mutex> lock(FLock);
            FSignal.wait(lock, [this] { return !FQueue.empty() || FQuit; });
        }
        ProcessMessages(handler);
    }
}

void TMessagePump::Quit() {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FQuit = true;
    }
    FSignal.notify_all();
}

bool TMessagePump::Quitting() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FQuit;
}

size_t TMessagePump::Pending() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FQueue.size();
}
