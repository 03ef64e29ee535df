#include "UtilityStream.h"

#include <cstdlib>
#include <vector>
#include <zlib.h>

void* TVelmarMemoryStream::Realloc(int64_t& newCapacity) {
    try {
        return TMemoryStream::Realloc(newCapacity);
    } catch (const EOutOfMemory&) {
        throw EStreamError("Out of memory while expanding memory stream");
    }
}

namespace {

const char* ZlibErrorText(int code) {
    switch (code) {
    case Z_NEED_DICT: return "Need dictionary";
    case Z_ERRNO: return "File error";
    case Z_STREAM_ERROR: return "Stream error";
    case Z_DATA_ERROR: return "Data error";
    case Z_MEM_ERROR: return "Insufficient memory";
    case Z_BUF_ERROR: return "Buffer error";
    case Z_VERSION_ERROR: return "Incompatible version";
    default: return "Unknown error";
    }
}

struct TInflater {
    z_stream Stream{};
    bool Open = false;
    ~TInflater() {
        if (Open) inflateEnd(&Stream);
    }
};

} // namespace

void DecompressStream(TStream& source, TVelmarMemoryStream& dest) {
    int64_t available = source.GetSize() - source.GetPosition();
    if (available <= 0) {
        dest.SetPosition(0);
        return;
    }
    if (available > static_cast<int64_t>(UINT32_MAX)) throw EDecompressionError("Stream error");
    std::vector<uint8_t> input(static_cast<size_t>(available));
    source.ReadBuffer(input.data(), available);

    // The output grows in steps of the input length rounded up to 256 bytes.
    const int64_t step = (available + 255) / 256 * 256;
    std::vector<uint8_t> output;
    output.resize(static_cast<size_t>(step));

    TInflater inflater;
    inflater.Stream.next_in = input.data();
    inflater.Stream.avail_in = static_cast<uInt>(available);
    int rc = inflateInit(&inflater.Stream);
    if (rc != Z_OK) throw EDecompressionError(ZlibErrorText(rc));
    inflater.Open = true;

    int64_t produced = 0;
    for (;;) {
        inflater.Stream.next_out = output.data() + produced;
        int64_t room = static_cast<int64_t>(output.size()) - produced;
        inflater.Stream.avail_out = static_cast<uInt>(room < UINT32_MAX ? room : UINT32_MAX);
        uInt before = inflater.Stream.avail_out;
        rc = inflate(&inflater.Stream, Z_NO_FLUSH);
        produced += before - inflater.Stream.avail_out;
        if (rc == Z_STREAM_END) break;
        bool outputFull = inflater.Stream.avail_out == 0;
        if (rc == Z_OK && outputFull) {
            // Only a full output buffer leads to growth.
        } else if (rc == Z_OK || (rc == Z_BUF_ERROR && outputFull)) {
            continue;
        } else {
            // Z_BUF_ERROR with room left means the input ended before the stream did.
            throw EDecompressionError(ZlibErrorText(rc));
        }
        if (static_cast<int64_t>(output.size()) + step > MaxInflatedSize)
            throw EDecompressionError("Inflated data too large");
        output.resize(output.size() + static_cast<size_t>(step));
    }
    dest.WriteBuffer(output.data(), produced);
    dest.SetPosition(0);
}

namespace {

struct TDeflater {
    z_stream Stream{};
    bool Open = false;
    ~TDeflater() {
        if (Open) deflateEnd(&Stream);
    }
};

} // namespace

void CompressStream(TStream& source, TStream& dest, int level,
                    void (*onProgress)(int percent, void* context), void* context) {
    int64_t total = source.GetSize() - source.GetPosition();
    if (total < 0) total = 0;
    TDeflater deflater;
    int rc = deflateInit(&deflater.Stream, level);
    if (rc != Z_OK) throw EStreamError(std::string("Compression failed: ") + ZlibErrorText(rc));
    deflater.Open = true;

    constexpr size_t ChunkSize = 256 * 1024;
    std::vector<uint8_t> input(ChunkSize), output(ChunkSize);
    int64_t done = 0;
    int lastPercent = -1;
    for (;;) {
        int64_t n = source.Read(input.data(), static_cast<int64_t>(ChunkSize));
        if (n < 0) n = 0;
        done += n;
        int flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
        deflater.Stream.next_in = input.data();
        deflater.Stream.avail_in = static_cast<uInt>(n);
        do {
            deflater.Stream.next_out = output.data();
            deflater.Stream.avail_out = static_cast<uInt>(output.size());
            rc = deflate(&deflater.Stream, flush);
            if (rc == Z_STREAM_ERROR)
                throw EStreamError(std::string("Compression failed: ") + ZlibErrorText(rc));
            dest.WriteBuffer(output.data(),
                             static_cast<int64_t>(output.size() - deflater.Stream.avail_out));
        } while (deflater.Stream.avail_out == 0);
        if (onProgress && total > 0) {
            int percent = static_cast<int>(done * 100 / total);
            if (percent != lastPercent) onProgress(lastPercent = percent, context);
        }
        if (flush == Z_FINISH) break;
    }
}

void WriteDrawingSection(TStream& dest, uint8_t tag, const void* data, int64_t size) {
    uint8_t header[9];
    header[0] = tag;
    uint64_t length = static_cast<uint64_t>(size);
    for (int i = 0; i < 8; ++i)
        header[1 + i] = static_cast<uint8_t>(length >> (8 * i));
    dest.WriteBuffer(header, sizeof header);
    dest.WriteBuffer(data, size);
}

bool FindDrawingDocument(TStream& inflated, int64_t& offset, int64_t& length) {
    int64_t size = inflated.GetSize();
    inflated.SetPosition(0);
    while (inflated.GetPosition() < size) {
        uint8_t tag;
        uint8_t bytes[8];
        if (inflated.Read(&tag, 1) != 1 || inflated.Read(bytes, 8) != 8) return false;
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i)
            value |= uint64_t(bytes[i]) << (8 * i);
        if (tag == 0) {
            offset = inflated.GetPosition();
            length = static_cast<int64_t>(value);
            return true;
        }
        inflated.Seek(static_cast<int64_t>(static_cast<uint32_t>(value)), TSeekOrigin::soCurrent);
    }
    return false;
}
