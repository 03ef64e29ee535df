#pragma once

// Builds binary-form records by hand, for inputs the writer would never produce.
#include <cstdint>
#include <string>
#include <vector>

struct TRecordKey {
    std::string Bytes; // flag, width-sized value, literal text
};

// A literal key (entered in the table unless noTable).
inline TRecordKey Lit(const std::string& text, bool noTable = false) {
    TRecordKey key;
    key.Bytes += static_cast<char>(1 | (noTable ? 8 : 0));
    key.Bytes += static_cast<char>(text.size());
    key.Bytes += text;
    return key;
}

// A one-byte reference to a table entry.
inline TRecordKey Ref(uint8_t index) {
    TRecordKey key;
    key.Bytes += static_cast<char>(5);
    key.Bytes += static_cast<char>(index);
    return key;
}

inline std::string Le32(uint32_t v) {
    std::string out;
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

inline std::string Le16(uint16_t v) {
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

// A record with its size worked out (or forced, for records that lie about it).
inline std::string Record(uint16_t command, const std::vector<TRecordKey>& keys,
                          const std::string& payload = {}, int64_t forcedSize = -1,
                          int forcedKeyCount = -1) {
    std::string body;
    for (const TRecordKey& key : keys)
        body += key.Bytes;
    body += payload;
    uint32_t size = forcedSize >= 0 ? static_cast<uint32_t>(forcedSize)
                                    : static_cast<uint32_t>(8 + body.size());
    uint16_t count = forcedKeyCount >= 0 ? static_cast<uint16_t>(forcedKeyCount)
                                         : static_cast<uint16_t>(keys.size());
    return Le16(command) + Le16(count) + Le32(size) + body;
}

// A value record: name, type code and the value's bytes.
inline std::string ValueRecord(const std::string& name, int32_t code, const std::string& value) {
    return Record(5, {Lit(name)}, Le32(static_cast<uint32_t>(code)) + value);
}

inline std::string Magic() {
    return "vektbinary\r\n";
}
