#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

#include "Exception.h"

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

std::string IntToStr(int64_t value);

// Conversions of the platform: optional leading blanks, an optional sign, decimal digits or a
// "$"/"0x" hexadecimal number. Anything else raises EConvertError with
// "'<text>' is not a valid integer value".
int32_t StrToInt(std::string_view text);
int64_t StrToInt64(std::string_view text);
bool TryStrToInt(std::string_view text, int32_t& value);
bool TryStrToInt64(std::string_view text, int64_t& value);

// A number (non-zero is true) or "True"/"False" in any letter case; anything else raises
// EConvertError with "'<text>' is not a valid boolean value".
bool StrToBool(std::string_view text);
bool TryStrToBool(std::string_view text, bool& value);

// Removes leading and trailing blanks and control characters (every byte up to and including
// the space).
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

// ASCII letter case only, as the protocol keywords and property names need.
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);
int CompareText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view text);

// Local date and time as an OLE Automation date (days since 30 December 1899).
double Now();

// Floating-point text that does not depend on the process locale: documents always carry "."
// as the decimal separator. FloatToStrDot is the general format with up to 15 significant
// digits ("1.5", "1E20", "2.5E-7"); FloatToStrFixedDot writes a fixed number of decimals.
std::string FloatToStrDot(double value);
std::string FloatToStrFixedDot(double value, int decimals);
// Optional blanks around an optional sign, digits with an optional "." part and an optional
// exponent; nothing else. Infinite and NaN results are refused.
bool TryStrToFloatDot(std::string_view text, double& value);

// Where an error that escapes an event handler ends up (the message loop's default handler on
// the user-interface thread). Notification hubs call it so one failing receiver does not keep
// the others from hearing. The default writes the message to stderr.
void ApplicationHandleException(const std::exception& error);
using TApplicationExceptionHandler = void (*)(const std::exception& error);
TApplicationExceptionHandler SetApplicationExceptionHandler(TApplicationExceptionHandler handler);

// Name of the user the process runs as (the password database, else $USER); empty when the
// system cannot tell.
std::string GetLoginUserName();
