#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <typeinfo>

// First message number free for the program's own messages.
constexpr uint32_t WM_USER = 1024;

// The record a posted message carries. It owns what it holds: whoever has the message owns the
// record, so a handler that does not take it still frees it when the message goes away.
class TMessageParam {
public:
    TMessageParam() = default;
    template <class T>
    explicit TMessageParam(std::unique_ptr<T> value)
        : FValue(value.release(), [](void* p) { delete static_cast<T*>(p); })
        , FType(&typeid(T)) {
        if (!FValue) FType = nullptr;
    }

    bool Empty() const { return !FValue; }

    // The record when it is exactly a T, else nullptr; ownership stays with the message.
    template <class T>
    T* Get() const {
        return FType && *FType == typeid(T) ? static_cast<T*>(FValue.get()) : nullptr;
    }

    // Hands the record over when it is exactly a T; otherwise returns nullptr and keeps it.
    template <class T>
    std::unique_ptr<T> Take() {
        T* value = Get<T>();
        if (!value) return nullptr;
        FValue.release();
        FType = nullptr;
        return std::unique_ptr<T>(value);
    }

private:
    using TOwner = std::unique_ptr<void, void (*)(void*)>;
    TOwner FValue{nullptr, [](void*) {}};
    const std::type_info* FType = nullptr;
};

struct TMessage {
    uint32_t Msg = 0;
    TMessageParam WParam;
    intptr_t LParam = 0;
};

// Where worker threads hand their messages to the user-interface thread. Post may be called from
// any thread; the receiving side delivers messages in the order they were posted.
class IMessagePoster {
public:
    virtual ~IMessagePoster() = default;
    virtual void Post(TMessage message) = 0;
};

// Receives each message on the thread that drains the queue; the message (and so its record) is
// the handler's to keep or drop.
using TMessageHandler = std::function<void(TMessage&)>;

// The plain message queue for programs without a toolkit loop (tools, tests): any thread posts,
// one thread drains. An error that escapes a handler goes to OnHandlerError (by default the
// application's exception handler) and the pump carries on with the next message, as a window
// loop does.
class TMessagePump : public IMessagePoster {
public:
    void Post(TMessage message) override;

    // Delivers every message queued now, in order; returns how many it delivered.
    int ProcessMessages(const TMessageHandler& handler);
    // Waits until a message is queued, Quit is called or timeoutMs passes; true when a message
    // is waiting.
    bool WaitMessage(uint32_t timeoutMs);
    // Delivers messages until Quit; the messages still queued then stay queued.
    void Run(const TMessageHandler& handler);
    // Ends Run; safe from any thread and from a handler.
    void Quit();
    bool Quitting() const;
    size_t Pending() const;

    std::function<void(const std::exception&)> OnHandlerError;

private:
    void Deliver(const TMessageHandler& handler, TMessage& message);

    mutable std::mutex FLock;
    std::condition_variable FSignal;
    std::deque<TMessage> FQueue;
    bool FQuit = false;
};
