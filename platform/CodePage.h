#pragma once

#include <string>
#include <string_view>

// Conversion between our internal UTF-8 text and the single-byte code page the wire and the
// document files carry (Windows-1252). The five bytes the code page leaves undefined map to the
// C1 controls of the same value, so every byte string survives a round trip unchanged; a
// character that has no byte becomes "?". Malformed UTF-8 yields one "?" per bad byte.
std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);

// One character, for callers that work byte by byte. Returns '?' for what does not fit.
char UnicodeToAnsiChar(char32_t code);
char32_t AnsiCharToUnicode(unsigned char byte);
