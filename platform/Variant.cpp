#include "Variant.h"

#include <cmath>
#include <limits>

#include "SysUtils.h"

TVariant TVariant::Int(uint16_t type, int64_t value) {
    TVariant v;
    v.FType = type;
    v.FValue = value;
    return v;
}

TVariant TVariant::Float(uint16_t type, double value) {
    TVariant v;
    v.FType = type;
    v.FValue = value;
    return v;
}

TVariant TVariant::Currency(double value) {
    return CurrencyScaled(static_cast<int64_t>(std::llround(value * 10000.0)));
}

TVariant TVariant::OleStr(std::string value) {
    TVariant v(std::move(value));
    v.FType = varOleStr;
    return v;
}

TVariant TVariant::Array(std::vector<TVariant> items) {
    TVariant v;
    v.FType = varArray | varVariant;
    v.FValue = std::move(items);
    return v;
}

TVariant TVariant::Bytes(std::vector<uint8_t> bytes) {
    TVariant v;
    v.FType = varArray | varByte;
    v.FValue = std::move(bytes);
    return v;
}

TVariant TVariant::OfType(uint16_t type) {
    TVariant v;
    v.FType = type;
    return v;
}

bool TVariant::IsOrdinal() const {
    switch (FType) {
    case varSmallint:
    case varInteger:
    case varBoolean:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
    case varUInt64: return true;
    default: return false;
    }
}

bool TVariant::IsFloat() const {
    return FType == varSingle || FType == varDouble || FType == varCurrency || FType == varDate;
}

std::string TVariant::TypeName(uint16_t type) {
    std::string base;
    switch (type & varTypeMask) {
    case varEmpty: base = "Empty"; break;
    case varNull: base = "Null"; break;
    case varSmallint: base = "SmallInt"; break;
    case varInteger: base = "Integer"; break;
    case varSingle: base = "Single"; break;
    case varDouble: base = "Double"; break;
    case varCurrency: base = "Currency"; break;
    case varDate: base = "Date"; break;
    case varOleStr: base = "OleStr"; break;
    case varDispatch: base = "Dispatch"; break;
    case varError: base = "Error"; break;
    case varBoolean: base = "Boolean"; break;
    case varVariant: base = "Variant"; break;
    case varUnknown: base = "Unknown"; break;
    case varShortInt: base = "ShortInt"; break;
    case varByte: base = "Byte"; break;
    case varWord: base = "Word"; break;
    case varLongWord: base = "LongWord"; break;
    case varInt64: base = "Int64"; break;
    case varUInt64: base = "UInt64"; break;
    case varString: base = "String"; break;
    case varAny: base = "Any"; break;
    default: base = Format("$%04X", type & varTypeMask); break;
    }
    if (type & varArray) base = "Array " + base;
    if (type & varByRef) base = "ByRef " + base;
    return base;
}

void TVariant::CastError(uint16_t to) const {
    throw EVariantError("Could not convert variant of type (" + TypeName(FType) + ") into type (" +
                        TypeName(to) + ")");
}

int64_t TVariant::AsInt64() const {
    if (IsOrdinal()) return std::get<int64_t>(FValue);
    switch (FType) {
    case varEmpty: return 0;
    case varCurrency: return std::llround(static_cast<double>(std::get<int64_t>(FValue)) / 10000.0);
    case varSingle:
    case varDouble:
    case varDate: {
        double d = std::get<double>(FValue);
        if (!std::isfinite(d) || d >= 9.2233720368547758e18 || d < -9.2233720368547758e18)
            CastError(varInt64);
        return std::llround(d);
    }
    case varString:
    case varOleStr: {
        int64_t value;
        if (!TryStrToInt64(std::get<std::string>(FValue), value)) CastError(varInt64);
        return value;
    }
    default: CastError(varInt64);
    }
}

int32_t TVariant::AsInteger() const {
    int64_t value = AsInt64();
    // Unsigned 32-bit values wrap into the signed range, as colour values need.
    if (FType == varLongWord || (value > std::numeric_limits<int32_t>::max() &&
                                 value <= std::numeric_limits<uint32_t>::max()))
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        CastError(varInteger);
    return static_cast<int32_t>(value);
}

uint32_t TVariant::AsLongWord() const {
    int64_t value = AsInt64();
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<uint32_t>::max())
        CastError(varLongWord);
    return static_cast<uint32_t>(value);
}

double TVariant::AsDouble() const {
    if (IsOrdinal()) return static_cast<double>(std::get<int64_t>(FValue));
    switch (FType) {
    case varEmpty: return 0.0;
    case varCurrency: return static_cast<double>(std::get<int64_t>(FValue)) / 10000.0;
    case varSingle:
    case varDouble:
    case varDate: return std::get<double>(FValue);
    case varString:
    case varOleStr: {
        // Texts carry "." whatever the process locale says.
        double value;
        if (!TryStrToFloatDot(std::get<std::string>(FValue), value)) CastError(varDouble);
        return value;
    }
    default: CastError(varDouble);
    }
}

int64_t TVariant::CurrencyValueScaled() const {
    if (FType == varCurrency) return std::get<int64_t>(FValue);
    return static_cast<int64_t>(std::llround(AsDouble() * 10000.0));
}

bool TVariant::AsBoolean() const {
    if (IsOrdinal()) return std::get<int64_t>(FValue) != 0;
    switch (FType) {
    case varEmpty: return false;
    case varCurrency: return std::get<int64_t>(FValue) != 0;
    case varSingle:
    case varDouble:
    case varDate: return std::get<double>(FValue) != 0.0;
    case varString:
    case varOleStr: {
        bool value;
        if (!TryStrToBool(std::get<std::string>(FValue), value)) CastError(varBoolean);
        return value;
    }
    default: CastError(varBoolean);
    }
}

std::string TVariant::AsString() const {
    switch (FType) {
    case varEmpty: return "";
    case varBoolean: return std::get<int64_t>(FValue) ? "True" : "False";
    case varUInt64: return std::to_string(static_cast<uint64_t>(std::get<int64_t>(FValue)));
    case varCurrency:
        return FloatToStrDot(static_cast<double>(std::get<int64_t>(FValue)) / 10000.0);
    case varSingle:
    case varDouble:
    case varDate: return FloatToStrDot(std::get<double>(FValue));
    case varString:
    case varOleStr: return std::get<std::string>(FValue);
    default:
        if (IsOrdinal()) return std::to_string(std::get<int64_t>(FValue));
        CastError(varString);
    }
}

const std::vector<TVariant>& TVariant::Items() const {
    if (auto items = std::get_if<std::vector<TVariant>>(&FValue)) return *items;
    static const std::vector<TVariant> none;
    return none;
}

const std::vector<uint8_t>& TVariant::ByteArray() const {
    if (auto bytes = std::get_if<std::vector<uint8_t>>(&FValue)) return *bytes;
    static const std::vector<uint8_t> none;
    return none;
}
