#include "Utilities.h"

#include "Ticks.h"
#include "Version.h"

uint32_t ElapsedTicks(uint32_t since) { return GetTickCount() - since; }

bool TicksPassed(uint32_t since, uint32_t interval) { return ElapsedTicks(since) > interval; }

void AppendWithSeparator(std::string& text, std::string_view item, std::string_view separator) {
    if (text.empty()) {
        text = item;
    } else if (text.size() >= separator.size() &&
               std::string_view(text).substr(text.size() - separator.size()) == separator) {
        text += item;
    } else {
        text += separator;
        text += item;
    }
}

void GetOwnFileVersion(uint16_t& major, uint16_t& minor, uint16_t& release, uint16_t& build) {
    major = GC_VERSION_MAJOR;
    minor = GC_VERSION_MINOR;
    release = GC_VERSION_RELEASE;
    build = GC_VERSION_BUILD;
}
