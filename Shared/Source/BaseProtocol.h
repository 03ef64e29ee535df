#pragma once

#include <cstdint>
#include <string>

#include "Classes.h"
#include "Variant.h"

// Growable block of bytes: the buffer of a TBufferProtocol and the target of ReadBlock.
// Capacity never shrinks while the block lives.
class ByteBlock {
public:
    ByteBlock() = default;
    ~ByteBlock();
    ByteBlock(const ByteBlock& other);
    ByteBlock& operator=(const ByteBlock& other);

    int32_t Size = 0;
    int32_t Capacity = 0;
    uint8_t* Data = nullptr;

    // Reallocates to exactly capacity bytes, keeping the content; raises EOutOfMemory.
    void Reallocate(int32_t capacity);
};

// The system's binary record encoding: little-endian integers, strings and blocks with a 4-byte
// length, variants with a 2-byte type tag. Every typed reader and writer is built on the four
// virtual operations, so a descendant that implements those gets the whole encoding.
//
// Failures raise Exception with fixed messages ("Attempt to read beyond end of buffer!" ...);
// a failed primitive leaves the cursor where it was.
class TBaseProtocol {
public:
    virtual ~TBaseProtocol() = default;

    virtual void WriteBuf(int32_t count, const void* source) = 0;
    virtual void ReadBuf(int32_t count, void* dest) = 0;
    virtual void ReadStream(TStream& dest, bool lengthPrefixed) = 0;
    virtual void WriteStream(TStream& source, bool lengthPrefixed) = 0;

    int16_t ReadSmallInt();
    int32_t ReadInteger();
    int64_t ReadInt64();
    uint8_t ReadByte();
    uint16_t ReadWord();
    uint32_t ReadLongWord();
    bool ReadBoolean();
    std::string ReadString(); // the wire's single-byte code page, returned as UTF-8
    double ReadDateTime();
    double ReadDouble();
    TVariant ReadVariant();
    void ReadBlock(ByteBlock& block);

    void WriteSmallInt(int16_t value);
    void WriteInteger(int32_t value);
    void WriteInt64(int64_t value);
    void WriteByte(uint8_t value);
    void WriteWord(uint16_t value);
    void WriteLongWord(uint32_t value);
    void WriteBoolean(bool value);
    void WriteString(const std::string& text); // UTF-8 in, single-byte code page on the wire
    void WriteDateTime(double value);
    void WriteDouble(double value);
    void WriteVariant(const TVariant& value);
    void WriteBlock(const ByteBlock& block, bool lengthPrefixed);

protected:
    // Called by ReadBlock and ReadString before they commit to a length read from the input, so
    // no hostile length drives an allocation. Descendants that know their size refuse early.
    virtual void CheckReadable(int64_t count);
};

// The codec over a ByteBlock in memory, with a cursor 0 <= Position <= Size.
class TBufferProtocol : public TBaseProtocol {
public:
    explicit TBufferProtocol(uint16_t granularity);
    // Copies the whole of stream (from its first byte) and rewinds; a null stream gives size 0.
    TBufferProtocol(TStream* stream, uint16_t granularity);
    ~TBufferProtocol() override;
    TBufferProtocol(const TBufferProtocol&) = delete;
    TBufferProtocol& operator=(const TBufferProtocol&) = delete;

    void WriteBuf(int32_t count, const void* source) override;
    void ReadBuf(int32_t count, void* dest) override;
    void ReadStream(TStream& dest, bool lengthPrefixed) override;
    void WriteStream(TStream& source, bool lengthPrefixed) override;

    virtual int32_t GetSize() const;
    virtual void SetSize(int32_t n);
    virtual void SetPosition(int32_t n);

    // Overwrites (or extends with) 4 bytes at offset and leaves the cursor where it was; used to
    // fill in a length placeholder after the content is written.
    void PatchInteger(int32_t value, int32_t offset);

    int32_t Position() const { return FPosition; }
    uint16_t Granularity() const { return FGranularity; }
    int32_t Capacity() const { return FBuffer->Capacity; }
    const uint8_t* Data() const { return FBuffer->Data; }
    ByteBlock* Buffer() const { return FBuffer; }

    // When true (the default) the destructor frees the buffer.
    bool OwnsBuffer = true;

protected:
    void CheckReadable(int64_t count) override;

private:
    ByteBlock* FBuffer;
    int32_t FPosition = 0;
    uint16_t FGranularity;
};

// False when both buffers have the same size and bytes; cursors are ignored.
bool BuffersDiffer(const TBufferProtocol& a, const TBufferProtocol& b);
