#include "Debug.h"

#include <cstdarg>
#include <cstdio>

#include "DebugPipe.h"

void DebugLog(const std::string& text) { TDebugPipe::Instance().Write(text); }

void DebugLogFmt(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length));
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    }
    va_end(args);
    DebugLog(text);
}
