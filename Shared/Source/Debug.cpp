#include "Debug.h"

#include <cstdarg>

#include "DebugPipe.h"
#include "SysUtils.h"

void DebugLog(const std::string& text) {
    TDebugPipe::Instance().Write(text);
}

void DebugLogFmt(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    DebugLog(text);
}
