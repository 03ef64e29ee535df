#include "SysUtils.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <pwd.h>
#include <sys/time.h>
#include <unistd.h>

std::string FormatV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (length > 0) {
        out.resize(static_cast<size_t>(length));
        std::vsnprintf(out.data(), out.size() + 1, format, args);
    }
    return out;
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = FormatV(format, args);
    va_end(args);
    return out;
}

std::string IntToStr(int64_t value) {
    return std::to_string(value);
}

namespace {

bool ParseInteger(std::string_view text, int64_t minimum, int64_t maximum, int64_t& value) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16, ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16, i += 2;
    }
    if (i == text.size()) return false;
    // Accumulate negatively so the most negative value parses without overflow.
    int64_t result = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        if (result < (std::numeric_limits<int64_t>::min() + digit) / base) return false;
        result = result * base - digit;
    }
    if (!negative) {
        if (result == std::numeric_limits<int64_t>::min()) return false;
        result = -result;
    }
    if (result < minimum || result > maximum) return false;
    value = result;
    return true;
}

} // namespace

bool TryStrToInt64(std::string_view text, int64_t& value) {
    return ParseInteger(text, std::numeric_limits<int64_t>::min(),
                        std::numeric_limits<int64_t>::max(), value);
}

bool TryStrToInt(std::string_view text, int32_t& value) {
    int64_t wide;
    if (!ParseInteger(text, std::numeric_limits<int32_t>::min(),
                      std::numeric_limits<int32_t>::max(), wide))
        return false;
    value = static_cast<int32_t>(wide);
    return true;
}

int32_t StrToInt(std::string_view text) {
    int32_t value;
    if (!TryStrToInt(text, value))
        throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
    return value;
}

int64_t StrToInt64(std::string_view text) {
    int64_t value;
    if (!TryStrToInt64(text, value))
        throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
    return value;
}

bool TryStrToBool(std::string_view text, bool& value) {
    if (SameText(text, "True")) {
        value = true;
        return true;
    }
    if (SameText(text, "False")) {
        value = false;
        return true;
    }
    int64_t number;
    if (TryStrToInt64(text, number)) {
        value = number != 0;
        return true;
    }
    return false;
}

bool StrToBool(std::string_view text) {
    bool value;
    if (!TryStrToBool(text, value))
        throw EConvertError("'" + std::string(text) + "' is not a valid boolean value");
    return value;
}

namespace {
bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}
} // namespace

std::string TrimLeft(std::string_view text) {
    size_t begin = 0;
    while (begin < text.size() && IsBlank(text[begin]))
        ++begin;
    return std::string(text.substr(begin));
}

std::string TrimRight(std::string_view text) {
    size_t end = text.size();
    while (end > 0 && IsBlank(text[end - 1]))
        --end;
    return std::string(text.substr(0, end));
}

std::string Trim(std::string_view text) {
    return TrimLeft(TrimRight(text));
}

std::string UpperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string LowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

int CompareText(std::string_view a, std::string_view b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareText(a, b) == 0;
}

bool StartsText(std::string_view prefix, std::string_view text) {
    return text.size() >= prefix.size() && SameText(prefix, text.substr(0, prefix.size()));
}

double Now() {
    timeval now;
    gettimeofday(&now, nullptr);
    time_t seconds = now.tv_sec;
    tm local;
    localtime_r(&seconds, &local);
    // Days from 1899-12-30 to 1970-01-01 are 25569; shift by the local offset first.
    double localSeconds = static_cast<double>(seconds + local.tm_gmtoff) + now.tv_usec / 1e6;
    return 25569.0 + localSeconds / 86400.0;
}

std::string FloatToStrDot(double value) {
    if (!std::isfinite(value)) return std::isnan(value) ? "NAN" : (value > 0 ? "INF" : "-INF");
    char buffer[64];
    auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    std::string text(buffer, result.ptr);
    size_t e = text.find('e');
    if (e != std::string::npos) {
        std::string exponent = text.substr(e + 1);
        bool negative = !exponent.empty() && exponent[0] == '-';
        if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) exponent.erase(0, 1);
        while (exponent.size() > 1 && exponent[0] == '0')
            exponent.erase(0, 1);
        text = text.substr(0, e) + "E" + (negative ? "-" : "") + exponent;
    }
    return text;
}

std::string FloatToStrFixedDot(double value, int decimals) {
    if (!std::isfinite(value)) return FloatToStrDot(value);
    char buffer[400];
    auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) return FloatToStrDot(value);
    std::string text(buffer, result.ptr);
    // "-0.000" reads as a negative number that is not there.
    if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
    return text;
}

bool TryStrToFloatDot(std::string_view text, double& value) {
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    std::string_view body = text.substr(begin, end - begin);
    if (!body.empty() && body[0] == '+') body.remove_prefix(1);
    if (body.empty() || body[0] == '+') return false;
    // from_chars would take "inf" and "nan"; only digits, ".", a sign and an exponent may pass.
    for (char c : body)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return false;
    double parsed = 0;
    auto result = std::from_chars(body.data(), body.data() + body.size(), parsed);
    if (result.ec != std::errc() || result.ptr != body.data() + body.size() ||
        !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

namespace {
void DefaultApplicationExceptionHandler(const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
}
TApplicationExceptionHandler applicationExceptionHandler = DefaultApplicationExceptionHandler;
} // namespace

void ApplicationHandleException(const std::exception& error) {
    if (applicationExceptionHandler) applicationExceptionHandler(error);
}

TApplicationExceptionHandler SetApplicationExceptionHandler(TApplicationExceptionHandler handler) {
    TApplicationExceptionHandler previous = applicationExceptionHandler;
    applicationExceptionHandler = handler ? handler : DefaultApplicationExceptionHandler;
    return previous;
}

std::string GetLoginUserName() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<size_t>(size) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_name && *found->pw_name)
        return found->pw_name;
    const char* user = std::getenv("USER");
    return user ? user : "";
}
