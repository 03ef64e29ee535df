#pragma once

#include <cstdint>
#include <string>

#include "Exception.h"

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// Byte stream with a size and a position. Read and Write move as many bytes as they can and
// return how many; ReadBuffer and WriteBuffer move exactly the count or raise.
class TStream {
public:
    virtual ~TStream() = default;

    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    virtual int64_t GetSize();
    virtual void SetSize(int64_t size) = 0;

    int64_t GetPosition() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }

    // Raises EReadError "Stream read error" / EWriteError "Stream write error" when short.
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);

    // Copies count bytes from source's position; count 0 copies the whole source from its start.
    int64_t CopyFrom(TStream& source, int64_t count);
};

// A stream over a block of memory it does not grow itself.
class TCustomMemoryStream : public TStream {
public:
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t GetSize() override { return FSize; }

    void* Memory() const { return FMemory; }
    void SaveToStream(TStream& stream);
    void SaveToFile(const std::string& fileName);

protected:
    void SetPointer(void* memory, int64_t size);

    void* FMemory = nullptr;
    int64_t FSize = 0;
    int64_t FPosition = 0;
};

// Growable memory stream. Capacity requests go through Realloc, which descendants override to
// change how memory is obtained.
class TMemoryStream : public TCustomMemoryStream {
public:
    TMemoryStream() = default;
    ~TMemoryStream() override;
    TMemoryStream(const TMemoryStream&) = delete;
    TMemoryStream& operator=(const TMemoryStream&) = delete;

    int64_t Write(const void* buffer, int64_t count) override;
    void SetSize(int64_t size) override;

    void Clear();
    int64_t Capacity() const { return FCapacity; }
    void SetCapacity(int64_t capacity);
    void LoadFromStream(TStream& stream);
    void LoadFromFile(const std::string& fileName);

protected:
    // Returns memory for at least newCapacity bytes (the request may be adjusted in place), or
    // frees it and returns nullptr for 0. The default rounds requests up to 8192 bytes, except
    // a request equal to the current size, and raises EOutOfMemory when the heap refuses.
    virtual void* Realloc(int64_t& newCapacity);

private:
    int64_t FCapacity = 0;
};

enum : uint16_t {
    fmCreate = 0xFF00,
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
};

// A stream over a file. fmCreate creates or truncates; the open modes need an existing file.
// Failures raise EFCreateError / EFOpenError naming the file and the system's reason.
class TFileStream : public TStream {
public:
    TFileStream(const std::string& fileName, uint16_t mode, unsigned permissions = 0644);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;

    const std::string& FileName() const { return FFileName; }
    int Handle() const { return FHandle; }

private:
    std::string FFileName;
    int FHandle = -1;
};
