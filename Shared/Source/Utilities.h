#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Milliseconds since the tick `since`, in wrapping 32-bit arithmetic.
uint32_t ElapsedTicks(uint32_t since);
// True when more than `interval` milliseconds have passed since `since`.
bool TicksPassed(uint32_t since, uint32_t interval);

// Appends item to text, with the separator between them unless text is empty or already ends
// with it.
void AppendWithSeparator(std::string& text, std::string_view item, std::string_view separator);

// The program's file version, as the build stamped it.
void GetOwnFileVersion(uint16_t& major, uint16_t& minor, uint16_t& release, uint16_t& build);
