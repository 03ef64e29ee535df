#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "Exception.h"

// Type codes of the tagged value. They are shared by the record codec and the binary document
// form, so their numbers are part of both wire formats.
enum TVarType : uint16_t {
    varEmpty = 0,
    varNull = 1,
    varSmallint = 2,
    varInteger = 3,
    varSingle = 4,
    varDouble = 5,
    varCurrency = 6,
    varDate = 7,
    varOleStr = 8,
    varDispatch = 9,
    varError = 10,
    varBoolean = 11,
    varVariant = 12,
    varUnknown = 13,
    varShortInt = 16,
    varByte = 17,
    varWord = 18,
    varLongWord = 19,
    varInt64 = 20,
    varUInt64 = 21,
    varStrArg = 0x48,
    varString = 0x100,
    varAny = 0x101,
    varTypeMask = 0x0FFF,
    varArray = 0x2000,
    varByRef = 0x4000,
};

// The system's one tagged value: a type code plus its value. Integers of every width share one
// 64-bit slot, floats, currency (kept exact, scaled by 10000) and dates another; texts are UTF-8.
// A value may carry a type code it cannot hold a payload for (varUnknown, varDispatch ...) so
// that encoders can refuse it by name.
class TVariant {
public:
    TVariant() = default;
    TVariant(bool value)
        : FType(varBoolean)
        , FValue(int64_t(value)) {}
    TVariant(int32_t value)
        : FType(varInteger)
        , FValue(int64_t(value)) {}
    TVariant(int64_t value)
        : FType(varInt64)
        , FValue(value) {}
    TVariant(double value)
        : FType(varDouble)
        , FValue(value) {}
    TVariant(const char* value)
        : FType(varString)
        , FValue(std::string(value)) {}
    TVariant(std::string value)
        : FType(varString)
        , FValue(std::move(value)) {}

    static TVariant Null() { return OfType(varNull); }
    static TVariant SmallInt(int16_t value) { return Int(varSmallint, value); }
    static TVariant ShortInt(int8_t value) { return Int(varShortInt, value); }
    static TVariant Byte(uint8_t value) { return Int(varByte, value); }
    static TVariant Word(uint16_t value) { return Int(varWord, value); }
    static TVariant LongWord(uint32_t value) { return Int(varLongWord, value); }
    static TVariant UInt64(uint64_t value) { return Int(varUInt64, static_cast<int64_t>(value)); }
    static TVariant Single(float value) { return Float(varSingle, value); }
    static TVariant Date(double value) { return Float(varDate, value); }
    static TVariant Currency(double value);
    static TVariant CurrencyScaled(int64_t scaledBy10000) {
        return Int(varCurrency, scaledBy10000);
    }
    static TVariant OleStr(std::string value);
    static TVariant Array(std::vector<TVariant> items);
    static TVariant Bytes(std::vector<uint8_t> bytes);
    // A value of the given code without payload; for codes whose values this system never holds.
    static TVariant OfType(uint16_t type);

    uint16_t VarType() const { return FType; }
    bool IsEmpty() const { return FType == varEmpty; }
    bool IsNull() const { return FType == varNull; }
    bool IsEmptyOrNull() const { return FType == varEmpty || FType == varNull; }
    bool IsArray() const { return (FType & varArray) != 0; }
    bool IsString() const { return FType == varString || FType == varOleStr; }
    bool IsOrdinal() const;
    bool IsFloat() const;

    // Conversions raise EVariantError "Could not convert variant of type (A) into type (B)".
    int64_t AsInt64() const;
    int32_t AsInteger() const; // range errors raise EVariantError as well
    uint32_t AsLongWord() const;
    double AsDouble() const;
    bool AsBoolean() const;
    std::string AsString() const;
    int64_t CurrencyValueScaled() const; // the exact currency value times 10000

    const std::vector<TVariant>& Items() const;
    const std::vector<uint8_t>& ByteArray() const;

    // The platform's standard name of a type code ("Integer", "String", "Unknown", "$0048" ...).
    static std::string TypeName(uint16_t type);

    friend bool operator==(const TVariant& a, const TVariant& b) {
        return a.FType == b.FType && a.FValue == b.FValue;
    }

private:
    static TVariant Int(uint16_t type, int64_t value);
    static TVariant Float(uint16_t type, double value);
    [[noreturn]] void CastError(uint16_t to) const;

    uint16_t FType = varEmpty;
    std::variant<std::monostate, int64_t, double, std::string, std::vector<TVariant>,
                 std::vector<uint8_t>>
        FValue;
};
