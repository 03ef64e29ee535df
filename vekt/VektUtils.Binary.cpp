// TVektBinaryData: the records of the binary document form, its string table and the
// conversions between records and the lines of the text form.
#include <cstring>
#include <limits>

#include "CodePage.h"
#include "SysUtils.h"
#include "VektUtils.h"

namespace {

constexpr char kMagicLine[] = "vektbinary\r\n";

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint64_t Get64(const uint8_t* p) {
    return uint64_t(Get32(p)) | uint64_t(Get32(p + 4)) << 32;
}

void Put16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void Put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void Put64(std::string& out, uint64_t v) {
    Put32(out, static_cast<uint32_t>(v));
    Put32(out, static_cast<uint32_t>(v >> 32));
}

void Patch32(std::string& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

[[noreturn]] void ReadError() {
    throw EReadError("Stream read error");
}

[[noreturn]] void WriteError() {
    throw EWriteError("Stream write error");
}

// The flag byte's width bits and the number of bytes they stand for.
uint8_t WidthFor(uint32_t value) {
    return value < 256 ? 1 : value <= 0xFFFF ? 2 : 3;
}

void PutWidth(std::string& out, uint8_t width, uint32_t value) {
    if (width == 1)
        out += static_cast<char>(value);
    else if (width == 2)
        Put16(out, static_cast<uint16_t>(value));
    else
        Put32(out, value);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Consecutive pairs; an odd trailing character is ignored, as the text reader does.
bool DecodeHex(std::string_view hex, std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return true;
}

bool IsHexText(std::string_view text) {
    for (char c : text)
        if (HexDigit(c) < 0 && c != ' ') return false;
    return true;
}

std::string_view TrimSpacesLeft(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    return text.substr(i);
}

std::string_view TrimRightView(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

// "-" or 1-9, then only digits, and the same text back from a 32-bit integer.
bool IsIntegerText(std::string_view text, int32_t& value) {
    if (text.empty() || !(text[0] == '-' || (text[0] >= '1' && text[0] <= '9'))) return false;
    for (size_t i = 1; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    if (text.size() > 11) return false;
    int64_t v = 0;
    for (size_t i = text[0] == '-' ? 1 : 0; i < text.size(); ++i)
        v = v * 10 + (text[i] - '0');
    if (text[0] == '-') v = -v;
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        return false;
    value = static_cast<int32_t>(v);
    return std::to_string(value) == text;
}

} // namespace

TVektBinaryData::TVektBinaryData(TVektFiler& filer)
    : FFiler(filer) {
    Reset();
}

void TVektBinaryData::Reset() {
    FMode = bmIdle;
    FFinished = false;
    FStrings.assign(1, std::string());
    FIndex.clear();
    FIndex.emplace(std::string(), 0);
    FCommand = 0;
    FSize = 0;
    FKeys.clear();
    FUnread = 0;
    FPayload.clear();
    FValue = TVariant();
    FHasValue = false;
    FRecordNumber = 0;
    FRecordOffset = 0;
    DropQueuedLines();
    FPendingForm = TPending::None;
    FPendingName.clear();
    FPendingItems.clear();
    FPendingBytes.clear();
}

// --- String table ---

void TVektBinaryData::AddString(const std::string& raw) {
    if (FStrings.size() >= MaxStrings) {
        if (FMode == bmReading) throw EReadError("String table overflow");
        return;
    }
    if (FMode == bmWriting) FIndex.emplace(raw, static_cast<uint32_t>(FStrings.size()));
    FStrings.push_back(raw);
}

void TVektBinaryData::TrimStrings(uint32_t count) {
    size_t keep = FStrings.size() > count ? FStrings.size() - count : 1;
    if (keep < 1) keep = 1;
    if (FMode == bmWriting)
        for (size_t i = keep; i < FStrings.size(); ++i)
            FIndex.erase(FStrings[i]);
    FStrings.resize(keep);
}

// --- Reading ---

void TVektBinaryData::BeginReading() {
    if (FMode == bmIdle) FMode = bmReading;
    if (FMode != bmReading) throw EReadError("Stream read error");
}

uint32_t TVektBinaryData::ReadKeyValue(uint8_t width) {
    uint8_t bytes[4] = {};
    size_t n = width == 3 ? 4 : width;
    FFiler.ReadBuffer(bytes, n);
    return n == 1 ? bytes[0] : n == 2 ? Get16(bytes) : Get32(bytes);
}

bool TVektBinaryData::ReadRecord() {
    BeginReading();
    SkipPayload();
    FKeys.clear();
    FPayload.clear();
    FValue = TVariant();
    FHasValue = false;
    DropQueuedLines();
    FCommand = 0;
    FRecordOffset = FFiler.FStart + FFiler.Position();

    uint8_t header[HeaderSize];
    size_t got = FFiler.Read(header, HeaderSize);
    if (got == 0) return false;
    ++FRecordNumber;
    if (got < HeaderSize) ReadError();
    uint16_t command = Get16(header);
    uint16_t keyCount = Get16(header + 2);
    FSize = Get32(header + 4);
    if (FSize < HeaderSize) ReadError();
    uint64_t body = FSize - HeaderSize;
    // The whole record must be there before anything is allocated for its parts.
    if (body > static_cast<uint64_t>(FFiler.Remaining())) ReadError();
    if (uint64_t(keyCount) * 2 > body) ReadError();
    FCommand = command;

    FKeys.reserve(keyCount);
    std::string raw;
    for (uint16_t k = 0; k < keyCount; ++k) {
        if (body < 1) ReadError();
        uint8_t flag;
        FFiler.ReadBuffer(&flag, 1);
        --body;
        uint8_t width = flag & 3;
        if (width == 0) ReadError();
        size_t widthBytes = width == 3 ? 4 : width;
        if (body < widthBytes) ReadError();
        uint32_t value = ReadKeyValue(width);
        body -= widthBytes;
        if (flag & 4) {
            if (value >= FStrings.size()) throw EReadError("String table reference out of range");
            FKeys.push_back(AnsiToUtf8(FStrings[value]));
            continue;
        }
        if (value > body) ReadError();
        raw.resize(value);
        FFiler.ReadBuffer(raw.data(), value);
        body -= value;
        if (!(flag & 8)) AddString(raw);
        FKeys.push_back(AnsiToUtf8(raw));
    }
    FUnread = static_cast<uint32_t>(body);

    if (FCommand == bcTrim) {
        if (FUnread < 4) ReadError();
        uint8_t n[4];
        FFiler.ReadBuffer(n, 4);
        FUnread -= 4;
        TrimStrings(Get32(n));
    } else if (FCommand == bcFinish) {
        // Text follows at once: a payload here is not part of it.
        SkipPayload();
        FFinished = true;
    }
    return true;
}

const std::string& TVektBinaryData::Key(int index) const {
    static const std::string none;
    return index >= 0 && index < KeyCount() ? FKeys[index] : none;
}

void TVektBinaryData::SkipPayload() {
    if (FUnread == 0) return;
    uint32_t n = FUnread;
    FUnread = 0;
    FFiler.Skip(n);
}

void TVektBinaryData::ReadPayload() {
    FPayload.resize(FUnread);
    uint32_t n = FUnread;
    FUnread = 0;
    FFiler.ReadBuffer(FPayload.data(), n);
}

int TVektBinaryData::ReadValue(TVariant& value) {
    value = TVariant();
    if (FCommand != bcValue) return -1;
    ReadPayload();
    if (FPayload.size() < 4) ReadError();
    int32_t code = static_cast<int32_t>(Get32(FPayload.data()));
    const uint8_t* p = FPayload.data() + 4;
    size_t n = FPayload.size() - 4;
    auto need = [n](size_t bytes) {
        if (n < bytes) ReadError();
    };
    switch (code) {
    case vcEmpty: break;
    case vcNull: value = TVariant::Null(); break;
    case vcSmallInt:
        need(2);
        value = TVariant::SmallInt(static_cast<int16_t>(Get16(p)));
        break;
    case vcInteger:
        need(4);
        value = TVariant(static_cast<int32_t>(Get32(p)));
        break;
    case vcSingle: {
        need(4);
        uint32_t bits = Get32(p);
        float f;
        std::memcpy(&f, &bits, 4);
        value = TVariant::Single(f);
        break;
    }
    case vcDouble:
    case vcDate: {
        need(8);
        uint64_t bits = Get64(p);
        double d;
        std::memcpy(&d, &bits, 8);
        value = code == vcDate ? TVariant::Date(d) : TVariant(d);
        break;
    }
    case vcCurrency:
        need(8);
        value = TVariant::CurrencyScaled(static_cast<int64_t>(Get64(p)));
        break;
    case vcBoolean:
        need(4);
        value = TVariant(Get32(p) != 0);
        break;
    case vcShortInt:
        need(1);
        value = TVariant::ShortInt(static_cast<int8_t>(p[0]));
        break;
    case vcByte:
        need(1);
        value = TVariant::Byte(p[0]);
        break;
    case vcWord:
        need(2);
        value = TVariant::Word(Get16(p));
        break;
    case vcLongWord:
        need(4);
        value = TVariant::LongWord(Get32(p));
        break;
    case vcInt64:
        need(8);
        value = TVariant(static_cast<int64_t>(Get64(p)));
        break;
    case vcString: {
        need(4);
        uint32_t key = Get32(p);
        if (key >= FKeys.size()) ReadError();
        value = TVariant(FKeys[key]);
        break;
    }
    case vcStrings: {
        need(4);
        uint32_t count = Get32(p);
        size_t at = 4;
        // Every item takes at least its length field: the count cannot outrun the payload.
        if (uint64_t(count) * 4 > n - at) ReadError();
        std::vector<TVariant> items;
        items.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            if (n - at < 4) ReadError();
            uint32_t length = Get32(p + at);
            at += 4;
            if (length > n - at) ReadError();
            items.emplace_back(
                AnsiToUtf8(std::string_view(reinterpret_cast<const char*>(p + at), length)));
            at += length;
        }
        value = TVariant::Array(std::move(items));
        break;
    }
    case vcBytes: value = TVariant::Bytes(std::vector<uint8_t>(p, p + n)); break;
    default: return -1;
    }
    return code;
}

bool TVektBinaryData::RecordToLine(std::string& line) {
    line.clear();
    switch (FCommand) {
    case bcDocument: line = "document " + Key(0); return true;
    case bcClipboard: line = "clipboard"; return true;
    case bcLibrary: line = "library " + Key(0); return true;
    case bcObject: line = "object " + Key(0) + ": " + Key(1); return true;
    case bcProperty: line = "property " + Key(0); return true;
    case bcEnd: line = "end"; return true;
    case bcFinish: FFinished = true; return false;
    case bcValue: break;
    default: return FCommand >= bcExtension; // an extension is an empty line
    }
    int code = ReadValue(FValue);
    FHasValue = code >= 0;
    if (!FHasValue) return true; // no text for a value of an unknown type
    std::string text;
    switch (code) {
    case vcEmpty:
    case vcNull: break;
    case vcString: text = QuotePropString(FValue.AsString()); break;
    case vcStrings: {
        const std::vector<TVariant>& items = FValue.Items();
        if (items.empty()) {
            text = "( )";
            break;
        }
        text = "(";
        for (size_t i = 0; i < items.size(); ++i)
            FQueue.push_back("'" + items[i].AsString() + "'" + (i + 1 == items.size() ? " )" : ""));
        break;
    }
    case vcBytes: {
        static const char digits[] = "0123456789ABCDEF";
        text = "{";
        for (uint8_t b : FValue.ByteArray()) {
            text += digits[b >> 4];
            text += digits[b & 15];
        }
        text += " }";
        break;
    }
    default: text = FValue.AsString(); break;
    }
    line = Key(0) + " = " + text;
    return true;
}

bool TVektBinaryData::TakeQueuedLine(std::string& line) {
    if (FQueuePos >= FQueue.size()) return false;
    line = std::move(FQueue[FQueuePos++]);
    if (FQueuePos == FQueue.size()) DropQueuedLines();
    return true;
}

bool TVektBinaryData::TakeValue(TVariant& value) {
    if (!FHasValue) return false;
    value = std::move(FValue);
    FValue = TVariant();
    FHasValue = false;
    DropQueuedLines();
    return true;
}

// --- Writing ---

void TVektBinaryData::PutKey(std::string& out, const std::string& raw, bool literal) {
    if (!literal) {
        uint32_t index = raw.empty() ? 0 : FIndex.at(raw);
        uint8_t width = WidthFor(index);
        out += static_cast<char>(width | 4);
        PutWidth(out, width, index);
        return;
    }
    if (raw.size() > std::numeric_limits<uint32_t>::max()) WriteError();
    uint32_t length = static_cast<uint32_t>(raw.size());
    uint8_t width = WidthFor(length);
    out += static_cast<char>(width);
    PutWidth(out, width, length);
    out += raw;
    AddString(raw);
}

void TVektBinaryData::WriteRecord(uint16_t command, const std::vector<std::string>& keys,
                                  const void* payload, size_t payloadSize) {
    if (FMode == bmIdle) {
        FMode = bmWriting;
        FFiler.WriteBuffer(kMagicLine, sizeof kMagicLine - 1);
    }
    if (FMode != bmWriting) WriteError();
    if (keys.size() > 0xFFFF) WriteError();

    std::vector<std::string> raws;
    raws.reserve(keys.size());
    for (const std::string& key : keys)
        raws.push_back(Utf8ToAnsi(key));
    // Which keys enter the table: a string already in it, or entered by an earlier key of this
    // record, is a reference. The reader enters literals as it reads them, key by key.
    auto literals = [&](std::vector<bool>& isLiteral) {
        isLiteral.assign(raws.size(), false);
        size_t count = 0;
        for (size_t i = 0; i < raws.size(); ++i) {
            if (raws[i].empty() || FIndex.count(raws[i])) continue;
            bool earlier = false;
            for (size_t j = 0; j < i && !earlier; ++j)
                earlier = isLiteral[j] && raws[j] == raws[i];
            if (!earlier) {
                isLiteral[i] = true;
                ++count;
            }
        }
        return count;
    };
    std::vector<bool> isLiteral;
    size_t entering = literals(isLiteral);
    while (FStrings.size() + entering > MaxStrings && FStrings.size() > 1) {
        std::string trim;
        Put16(trim, bcTrim);
        Put16(trim, 0);
        Put32(trim, HeaderSize + 4);
        Put32(trim, TrimCount);
        FFiler.WriteBuffer(trim.data(), trim.size());
        TrimStrings(TrimCount);
        entering = literals(isLiteral);
    }

    std::string out;
    out.reserve(HeaderSize + payloadSize + 32);
    Put16(out, command);
    Put16(out, static_cast<uint16_t>(raws.size()));
    Put32(out, 0);
    for (size_t i = 0; i < raws.size(); ++i)
        PutKey(out, raws[i], isLiteral[i]);
    if (payloadSize) out.append(static_cast<const char*>(payload), payloadSize);
    if (out.size() > std::numeric_limits<uint32_t>::max()) WriteError();
    Patch32(out, 4, static_cast<uint32_t>(out.size()));
    FFiler.WriteBuffer(out.data(), out.size());
    if (command == bcFinish) FFinished = true;
}

void TVektBinaryData::WriteValueRecord(const std::string& name, int32_t code, const void* data,
                                       size_t size, const std::string* text) {
    std::string payload;
    Put32(payload, static_cast<uint32_t>(code));
    if (text) {
        Put32(payload, 1); // the text is the record's second key
        WriteRecord(bcValue, {name, *text}, payload.data(), payload.size());
        return;
    }
    if (size) payload.append(static_cast<const char*>(data), size);
    WriteRecord(bcValue, {name}, payload.data(), payload.size());
}

void TVektBinaryData::WriteValue(const std::string& name, const TVariant& value) {
    std::string data;
    int32_t code = vcString;
    switch (value.VarType()) {
    case varEmpty: code = vcEmpty; break;
    case varNull: code = vcNull; break;
    case varSmallint:
        code = vcSmallInt;
        Put16(data, static_cast<uint16_t>(value.AsInt64()));
        break;
    case varInteger:
        code = vcInteger;
        Put32(data, static_cast<uint32_t>(value.AsInt64()));
        break;
    case varSingle: {
        code = vcSingle;
        float f = static_cast<float>(value.AsDouble());
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        Put32(data, bits);
        break;
    }
    case varDouble:
    case varDate: {
        code = value.VarType() == varDate ? vcDate : vcDouble;
        double d = value.AsDouble();
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        Put64(data, bits);
        break;
    }
    case varCurrency:
        code = vcCurrency;
        Put64(data, static_cast<uint64_t>(value.CurrencyValueScaled()));
        break;
    case varBoolean:
        code = vcBoolean;
        Put32(data, value.AsBoolean() ? 0xFFFFFFFFu : 0);
        break;
    case varShortInt:
        code = vcShortInt;
        data += static_cast<char>(value.AsInt64());
        break;
    case varByte:
        code = vcByte;
        data += static_cast<char>(value.AsInt64());
        break;
    case varWord:
        code = vcWord;
        Put16(data, static_cast<uint16_t>(value.AsInt64()));
        break;
    case varLongWord:
        code = vcLongWord;
        Put32(data, value.AsLongWord());
        break;
    case varInt64:
        code = vcInt64;
        Put64(data, static_cast<uint64_t>(value.AsInt64()));
        break;
    default:
        if (value.VarType() == (varArray | varByte)) {
            const std::vector<uint8_t>& bytes = value.ByteArray();
            WriteValueRecord(name, vcBytes, bytes.data(), bytes.size(), nullptr);
            return;
        }
        if (value.IsArray()) {
            const std::vector<TVariant>& items = value.Items();
            Put32(data, static_cast<uint32_t>(items.size()));
            for (const TVariant& item : items) {
                std::string raw = Utf8ToAnsi(item.AsString());
                if (raw.size() > std::numeric_limits<uint32_t>::max()) WriteError();
                Put32(data, static_cast<uint32_t>(raw.size()));
                data += raw;
            }
            WriteValueRecord(name, vcStrings, data.data(), data.size(), nullptr);
            return;
        }
        std::string text = value.AsString();
        WriteValueRecord(name, vcString, nullptr, 0, &text);
        return;
    }
    WriteValueRecord(name, code, data.data(), data.size(), nullptr);
}

void TVektBinaryData::FlushPending() {
    TPending form = FPendingForm;
    FPendingForm = TPending::None;
    if (form == TPending::StrList)
        WriteValue(FPendingName, TVariant::Array(std::move(FPendingItems)));
    else if (form == TPending::Data)
        WriteValue(FPendingName, TVariant::Bytes(std::move(FPendingBytes)));
    FPendingItems.clear();
    FPendingBytes.clear();
    FPendingName.clear();
}

void TVektBinaryData::LineToRecords(std::string_view line) {
    std::string_view text = TrimSpacesLeft(line);
    if (FPendingForm == TPending::StrList) {
        text = TrimRightView(text);
        bool closing = !text.empty() && text.back() == ')';
        if (closing) text = TrimRightView(text.substr(0, text.size() - 1));
        if (text.size() >= 2 && text.front() == '\'' && text.back() == '\'')
            FPendingItems.emplace_back(std::string(text.substr(1, text.size() - 2)));
        if (closing) FlushPending();
        return;
    }
    if (FPendingForm == TPending::Data) {
        text = TrimRightView(text);
        bool closing = !text.empty() && text.back() == '}';
        if (closing) text = TrimRightView(text.substr(0, text.size() - 1));
        if (!DecodeHex(text, FPendingBytes)) WriteError();
        if (closing) FlushPending();
        return;
    }

    size_t space = text.find(' ');
    std::string_view word = text.substr(0, space);
    std::string rest = space == std::string_view::npos ? std::string() : Trim(text.substr(space));
    if (word == "document") return WriteRecord(bcDocument, {rest});
    if (word == "clipboard") return WriteRecord(bcClipboard, {});
    if (word == "library") return WriteRecord(bcLibrary, {rest});
    if (word == "object") {
        size_t colon = rest.rfind(':');
        if (colon == std::string::npos) return WriteRecord(bcObject, {rest, std::string()});
        return WriteRecord(bcObject, {Trim(rest.substr(0, colon)), Trim(rest.substr(colon + 1))});
    }
    if (word == "property") return WriteRecord(bcProperty, {rest});
    if (word == "end") return WriteRecord(bcEnd, {});
    if (word == "vektbinary") return;

    size_t eq = text.find('=');
    if (eq == std::string_view::npos) WriteError();
    std::string name = Trim(text.substr(0, eq));
    // The value as the text reader takes it, so both forms read the same.
    std::string value = Trim(text.substr(eq + 1));
    if (!value.empty() && value.front() == '\'') {
        if (value.size() < 2 || value.back() != '\'') WriteError();
        std::string inner = value.substr(1, value.size() - 2);
        return WriteValueRecord(name, vcString, nullptr, 0, &inner);
    }
    if (!value.empty() && value.front() == '(') {
        if (value == "( )" || value.back() != ')') {
            FPendingForm = TPending::StrList;
            FPendingName = name;
            if (value.back() == ')') FlushPending(); // "( )"
            return;
        }
    } else if (!value.empty() && value.front() == '{') {
        if (value.back() != '}') {
            FPendingForm = TPending::Data;
            FPendingName = name;
            if (!DecodeHex(Trim(std::string_view(value).substr(1)), FPendingBytes)) WriteError();
            return;
        }
        std::string inner = Trim(std::string_view(value).substr(1, value.size() - 2));
        if (IsHexText(inner)) {
            std::string digits;
            for (char c : inner)
                if (c != ' ') digits += c;
            std::vector<uint8_t> bytes;
            if (!DecodeHex(digits, bytes)) WriteError();
            return WriteValue(name, TVariant::Bytes(std::move(bytes)));
        }
    }
    int32_t number;
    if (IsIntegerText(value, number)) return WriteValue(name, TVariant(number));
    if (value == "True" || value == "False") return WriteValue(name, TVariant(value == "True"));
    WriteValueRecord(name, vcString, nullptr, 0, &value);
}

void TVektBinaryData::Finish() {
    if (FMode != bmWriting || FFinished) return;
    if (Pending()) FlushPending();
    WriteRecord(bcFinish, {});
}
