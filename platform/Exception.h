#pragma once

#include <exception>
#include <string>

// Root of every error the system raises. The message is part of the behaviour: callers show
// it to the operator, report it as a connection-state reason or compare it in tests, so it is
// kept exactly as raised.
class Exception : public std::exception {
public:
    explicit Exception(std::string message)
        : FMessage(std::move(message)) {}

    const std::string& Message() const noexcept { return FMessage; }
    void SetMessage(std::string message) { FMessage = std::move(message); }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

#define GC_DECLARE_EXCEPTION(Name, Base)                                                           \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        using Base::Base;                                                                          \
    }

GC_DECLARE_EXCEPTION(EStreamError, Exception);
GC_DECLARE_EXCEPTION(EReadError, EStreamError);
GC_DECLARE_EXCEPTION(EWriteError, EStreamError);
GC_DECLARE_EXCEPTION(EFOpenError, EStreamError);
GC_DECLARE_EXCEPTION(EFCreateError, EStreamError);
GC_DECLARE_EXCEPTION(EConvertError, Exception);
GC_DECLARE_EXCEPTION(EListError, Exception);
GC_DECLARE_EXCEPTION(EVariantError, Exception);
GC_DECLARE_EXCEPTION(EInvalidOperation, Exception);
GC_DECLARE_EXCEPTION(EOSError, Exception);

// Memory exhaustion surfaced as one of our errors rather than std::bad_alloc, so the handlers
// that roll back half-read objects see it like any other failure.
class EOutOfMemory : public Exception {
public:
    EOutOfMemory()
        : Exception("Out of memory") {}
    using Exception::Exception;
};
