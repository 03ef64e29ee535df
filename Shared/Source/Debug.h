#pragma once

#include <string>

#include "Exception.h"

// An internal inconsistency: the message is stored as "BUGCHECK: " + message.
class EBugCheckError : public Exception {
public:
    explicit EBugCheckError(const std::string& message)
        : Exception("BUGCHECK: " + message) {}
};

// A value refused for display (zone and partition number ranges); carries the Finnish text.
GC_DECLARE_EXCEPTION(EDisplayError, Exception);

// Hands a line to the process-wide diagnostic channel (dropped while it is disabled).
void DebugLog(const std::string& text);
void DebugLogFmt(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A broken internal assumption of our own code, reported with where it was made.
GC_DECLARE_EXCEPTION(EAssertionFailed, Exception);
