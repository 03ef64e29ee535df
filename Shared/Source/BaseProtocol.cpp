#include "BaseProtocol.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "CodePage.h"
#include "Debug.h"

static_assert(std::endian::native == std::endian::little,
              "the record encoding is little-endian and read with plain copies");

namespace {

const char* const ReadBeyondEnd = "Attempt to read beyond end of buffer!";

[[noreturn]] void Fail(const char* message) {
    throw Exception(message);
}

[[noreturn]] void UnsupportedVariant(const char* prefix, uint16_t tag) {
    std::string name;
    switch (tag) {
    case varDispatch:
    case varError:
    case varVariant:
    case varUnknown:
    case varStrArg:
    case varAny: name = TVariant::TypeName(tag); break;
    default: name = std::to_string(tag); break;
    }
    throw Exception(std::string(prefix) + "Unsupported variant type: " + name);
}

} // namespace

// --- ByteBlock ---

ByteBlock::~ByteBlock() {
    std::free(Data);
}

ByteBlock::ByteBlock(const ByteBlock& other) {
    *this = other;
}

ByteBlock& ByteBlock::operator=(const ByteBlock& other) {
    if (this != &other) {
        if (Capacity < other.Size) Reallocate(other.Size);
        if (other.Size > 0) std::memcpy(Data, other.Data, static_cast<size_t>(other.Size));
        Size = other.Size;
    }
    return *this;
}

void ByteBlock::Reallocate(int32_t capacity) {
    if (capacity == 0) {
        std::free(Data);
        Data = nullptr;
    } else {
        void* memory = std::realloc(Data, static_cast<size_t>(capacity));
        if (!memory) throw EOutOfMemory();
        Data = static_cast<uint8_t*>(memory);
    }
    Capacity = capacity;
    if (Size > capacity) Size = capacity;
}

// --- TBaseProtocol readers ---

void TBaseProtocol::CheckReadable(int64_t) {}

int16_t TBaseProtocol::ReadSmallInt() {
    int16_t value;
    ReadBuf(2, &value);
    return value;
}

int32_t TBaseProtocol::ReadInteger() {
    int32_t value;
    ReadBuf(4, &value);
    return value;
}

int64_t TBaseProtocol::ReadInt64() {
    int64_t value;
    ReadBuf(8, &value);
    return value;
}

uint8_t TBaseProtocol::ReadByte() {
    uint8_t value;
    ReadBuf(1, &value);
    return value;
}

uint16_t TBaseProtocol::ReadWord() {
    uint16_t value;
    ReadBuf(2, &value);
    return value;
}

uint32_t TBaseProtocol::ReadLongWord() {
    uint32_t value;
    ReadBuf(4, &value);
    return value;
}

bool TBaseProtocol::ReadBoolean() {
    return ReadByte() == 1;
}

std::string TBaseProtocol::ReadString() {
    int32_t length = ReadInteger();
    if (length <= 0) return {};
    CheckReadable(length);
    std::string bytes(static_cast<size_t>(length), '\0');
    ReadBuf(length, bytes.data());
    return AnsiToUtf8(bytes);
}

double TBaseProtocol::ReadDateTime() {
    return ReadDouble();
}

double TBaseProtocol::ReadDouble() {
    double value;
    ReadBuf(8, &value);
    return value;
}

TVariant TBaseProtocol::ReadVariant() {
    uint16_t tag = ReadWord();
    switch (tag) {
    case varEmpty:
    case varNull: return TVariant::Null();
    case varSmallint:
    case varInteger:
    case varShortInt: return TVariant(ReadInteger());
    case varSingle:
    case varDouble:
    case varCurrency: return TVariant(ReadDouble());
    case varDate: return TVariant::Date(ReadDateTime());
    case varOleStr:
    case varString: return TVariant(ReadString());
    case varBoolean: return TVariant(ReadBoolean());
    case varByte: return TVariant::Byte(ReadByte());
    case varWord:
    case varLongWord: return TVariant::Word(ReadWord());
    case varInt64: return TVariant(ReadInt64());
    default: UnsupportedVariant("ReadVariant: ", tag);
    }
}

void TBaseProtocol::ReadBlock(ByteBlock& block) {
    int32_t length = ReadInteger();
    // A negative or oversized length is refused before the block is touched.
    if (length < 0) Fail(ReadBeyondEnd);
    CheckReadable(length);
    if (block.Capacity < length) block.Reallocate(length);
    block.Size = length;
    ReadBuf(length, block.Data);
}

// --- TBaseProtocol writers ---

void TBaseProtocol::WriteSmallInt(int16_t value) {
    WriteBuf(2, &value);
}
void TBaseProtocol::WriteInteger(int32_t value) {
    WriteBuf(4, &value);
}
void TBaseProtocol::WriteInt64(int64_t value) {
    WriteBuf(8, &value);
}
void TBaseProtocol::WriteByte(uint8_t value) {
    WriteBuf(1, &value);
}
void TBaseProtocol::WriteWord(uint16_t value) {
    WriteBuf(2, &value);
}
void TBaseProtocol::WriteLongWord(uint32_t value) {
    WriteBuf(4, &value);
}
void TBaseProtocol::WriteBoolean(bool value) {
    WriteByte(value ? 1 : 0);
}
void TBaseProtocol::WriteDateTime(double value) {
    WriteDouble(value);
}
void TBaseProtocol::WriteDouble(double value) {
    WriteBuf(8, &value);
}

void TBaseProtocol::WriteString(const std::string& text) {
    std::string bytes = Utf8ToAnsi(text);
    if (bytes.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        Fail("Stream too big!");
    auto length = static_cast<int32_t>(bytes.size());
    WriteInteger(length);
    if (length > 0) WriteBuf(length, bytes.data());
}

void TBaseProtocol::WriteVariant(const TVariant& value) {
    uint16_t tag = value.VarType();
    WriteWord(tag);
    switch (tag) {
    case varEmpty:
    case varNull: break;
    case varSmallint:
    case varInteger:
    case varShortInt: WriteInteger(static_cast<int32_t>(value.AsInt64())); break;
    case varSingle:
    case varDouble:
    case varCurrency: WriteDouble(value.AsDouble()); break;
    case varDate: WriteDateTime(value.AsDouble()); break;
    case varOleStr:
    case varString: WriteString(value.AsString()); break;
    case varBoolean: WriteBoolean(value.AsBoolean()); break;
    case varByte: WriteByte(static_cast<uint8_t>(value.AsInt64())); break;
    // The format carries only the low 16 bits of an unsigned 32-bit value.
    case varWord:
    case varLongWord: WriteWord(static_cast<uint16_t>(value.AsInt64())); break;
    case varInt64: WriteInt64(value.AsInt64()); break;
    default: UnsupportedVariant("WriteVariant: ", tag);
    }
}

void TBaseProtocol::WriteBlock(const ByteBlock& block, bool lengthPrefixed) {
    if (lengthPrefixed) WriteInteger(block.Size);
    WriteBuf(block.Size, block.Data);
}

// --- TBufferProtocol ---

TBufferProtocol::TBufferProtocol(uint16_t granularity)
    : FBuffer(new ByteBlock)
    , FGranularity(granularity) {
    if (granularity == 0) {
        delete FBuffer;
        throw EBugCheckError("Buffer granularity must be at least 1");
    }
}

TBufferProtocol::TBufferProtocol(TStream* stream, uint16_t granularity)
    : TBufferProtocol(granularity) {
    if (stream) {
        WriteStream(*stream, false);
        SetPosition(0);
    } else {
        SetSize(0);
    }
}

TBufferProtocol::~TBufferProtocol() {
    if (OwnsBuffer) delete FBuffer;
}

int32_t TBufferProtocol::GetSize() const {
    return FBuffer->Size;
}

void TBufferProtocol::SetSize(int32_t n) {
    if (n == FBuffer->Size) return;
    if (n < 0) Fail("Attempt to set negative size!");
    if (FBuffer->Capacity < n) {
        int64_t capacity = (static_cast<int64_t>(n) + FGranularity - 1) / FGranularity;
        capacity *= FGranularity;
        if (capacity > std::numeric_limits<int32_t>::max())
            capacity = std::numeric_limits<int32_t>::max();
        FBuffer->Reallocate(static_cast<int32_t>(capacity));
    }
    FBuffer->Size = n;
    if (FPosition > n) FPosition = n;
}

void TBufferProtocol::SetPosition(int32_t n) {
    if (n == FPosition) return;
    if (n < 0) Fail("Attempt to set negative position!");
    if (n > FBuffer->Size) Fail("Attempt to move beyond end of buffer!");
    FPosition = n;
}

void TBufferProtocol::CheckReadable(int64_t count) {
    if (FBuffer->Size < FPosition + count) Fail(ReadBeyondEnd);
}

void TBufferProtocol::WriteBuf(int32_t count, const void* source) {
    if (count <= 0) return;
    int64_t end = static_cast<int64_t>(FPosition) + count;
    if (end > std::numeric_limits<int32_t>::max()) throw EOutOfMemory();
    if (end > FBuffer->Size) SetSize(static_cast<int32_t>(end));
    std::memcpy(FBuffer->Data + FPosition, source, static_cast<size_t>(count));
    FPosition = static_cast<int32_t>(end);
}

void TBufferProtocol::ReadBuf(int32_t count, void* dest) {
    if (count <= 0) return;
    CheckReadable(count);
    std::memcpy(dest, FBuffer->Data + FPosition, static_cast<size_t>(count));
    FPosition += count;
}

void TBufferProtocol::ReadStream(TStream& dest, bool lengthPrefixed) {
    int32_t n = lengthPrefixed ? ReadInteger() : FBuffer->Size - FPosition;
    if (n <= 0) return;
    CheckReadable(n);
    if (dest.Write(FBuffer->Data + FPosition, n) != n) Fail("Stream wrote less than requested!");
    FPosition += n;
}

void TBufferProtocol::WriteStream(TStream& source, bool lengthPrefixed) {
    int64_t size = source.GetSize();
    if (size > std::numeric_limits<int32_t>::max()) Fail("Stream too big!");
    source.SetPosition(0);
    if (lengthPrefixed) WriteInteger(static_cast<int32_t>(size));
    if (size <= 0) return;
    int64_t end = FPosition + size;
    if (end > std::numeric_limits<int32_t>::max()) throw EOutOfMemory();
    if (end > FBuffer->Size) SetSize(static_cast<int32_t>(end));
    if (source.Read(FBuffer->Data + FPosition, size) != size)
        Fail("Stream returned less than requested!");
    FPosition = static_cast<int32_t>(end);
}

void TBufferProtocol::PatchInteger(int32_t value, int32_t offset) {
    int32_t saved = FPosition;
    SetPosition(offset);
    WriteInteger(value);
    FPosition = saved;
}

bool BuffersDiffer(const TBufferProtocol& a, const TBufferProtocol& b) {
    int32_t size = a.GetSize();
    if (size != b.GetSize()) return true;
    return size > 0 && std::memcmp(a.Data(), b.Data(), static_cast<size_t>(size)) != 0;
}
