#include "Classes.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int64_t TStream::GetSize() {
    int64_t position = Seek(0, TSeekOrigin::soCurrent);
    int64_t size = Seek(0, TSeekOrigin::soEnd);
    Seek(position, TSeekOrigin::soBeginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count > 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.GetSize();
    }
    constexpr int64_t ChunkSize = 64 * 1024;
    char chunk[ChunkSize];
    int64_t done = 0;
    while (done < count) {
        int64_t n = count - done < ChunkSize ? count - done : ChunkSize;
        source.ReadBuffer(chunk, n);
        WriteBuffer(chunk, n);
        done += n;
    }
    return done;
}

// --- TCustomMemoryStream ---

void TCustomMemoryStream::SetPointer(void* memory, int64_t size) {
    FMemory = memory;
    FSize = size;
}

int64_t TCustomMemoryStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || FPosition >= FSize) return 0;
    int64_t n = FSize - FPosition < count ? FSize - FPosition : count;
    std::memcpy(buffer, static_cast<char*>(FMemory) + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int64_t TCustomMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    switch (origin) {
    case TSeekOrigin::soBeginning: FPosition = offset; break;
    case TSeekOrigin::soCurrent: FPosition += offset; break;
    case TSeekOrigin::soEnd: FPosition = FSize + offset; break;
    }
    if (FPosition < 0) FPosition = 0;
    return FPosition;
}

void TCustomMemoryStream::SaveToStream(TStream& stream) {
    stream.WriteBuffer(FMemory, FSize);
}

void TCustomMemoryStream::SaveToFile(const std::string& fileName) {
    TFileStream file(fileName, fmCreate);
    SaveToStream(file);
}

// --- TMemoryStream ---

TMemoryStream::~TMemoryStream() {
    Clear();
}

void TMemoryStream::Clear() {
    SetCapacity(0);
    FSize = 0;
    FPosition = 0;
}

void* TMemoryStream::Realloc(int64_t& newCapacity) {
    constexpr int64_t MemoryDelta = 8192;
    if (newCapacity > 0 && newCapacity != FSize)
        newCapacity = (newCapacity + (MemoryDelta - 1)) & ~(MemoryDelta - 1);
    if (newCapacity == FCapacity) return FMemory;
    if (newCapacity == 0) {
        std::free(FMemory);
        return nullptr;
    }
    void* memory = std::realloc(FMemory, static_cast<size_t>(newCapacity));
    if (!memory) throw EOutOfMemory();
    return memory;
}

void TMemoryStream::SetCapacity(int64_t capacity) {
    void* memory = Realloc(capacity);
    FMemory = memory;
    FCapacity = capacity;
}

void TMemoryStream::SetSize(int64_t size) {
    if (size < 0) size = 0;
    int64_t oldPosition = FPosition;
    SetCapacity(size);
    FSize = size;
    if (oldPosition > size) Seek(0, TSeekOrigin::soEnd);
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0 || FPosition < 0) return 0;
    int64_t end = FPosition + count;
    if (end > FSize) {
        if (end > FCapacity) SetCapacity(end);
        FSize = end;
    }
    std::memcpy(static_cast<char*>(FMemory) + FPosition, buffer, static_cast<size_t>(count));
    FPosition = end;
    return count;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
    stream.SetPosition(0);
    int64_t count = stream.GetSize();
    SetSize(count);
    if (count > 0) stream.ReadBuffer(FMemory, count);
    FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead);
    LoadFromStream(file);
}

// --- TFileStream ---

TFileStream::TFileStream(const std::string& fileName, uint16_t mode, unsigned permissions)
    : FFileName(fileName) {
    if (mode == fmCreate) {
        FHandle = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, permissions);
        if (FHandle < 0)
            throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
        return;
    }
    int flags = O_CLOEXEC;
    switch (mode & 3) {
    case fmOpenWrite: flags |= O_WRONLY; break;
    case fmOpenReadWrite: flags |= O_RDWR; break;
    default: flags |= O_RDONLY; break;
    }
    FHandle = ::open(fileName.c_str(), flags);
    if (FHandle < 0)
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
}

TFileStream::~TFileStream() {
    if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        ssize_t n =
            ::read(FHandle, static_cast<char*>(buffer) + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        ssize_t n = ::write(FHandle, static_cast<const char*>(buffer) + done,
                            static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                 : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                    : SEEK_END;
    off_t result = ::lseek(FHandle, static_cast<off_t>(offset), whence);
    return result < 0 ? -1 : static_cast<int64_t>(result);
}

void TFileStream::SetSize(int64_t size) {
    int64_t position = GetPosition();
    if (::ftruncate(FHandle, static_cast<off_t>(size)) != 0)
        throw EStreamError("Stream write error");
    if (position > size) Seek(size, TSeekOrigin::soBeginning);
}
