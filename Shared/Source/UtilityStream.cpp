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
        if (Open)
            inflateEnd(&Stream);
    }
};

} // namespace

void DecompressStream(TStream& source, TVelmarMemoryStream& dest) {
    int64_t available = source.GetSize() - source.GetPosition();
    if (available <= 0) {
        dest.SetPosition(0);
        return;
    }
    if (available > static_cast<int64_t>(UINT32_MAX))
        throw EDecompressionError("Stream error");
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
    if (rc != Z_OK)
        throw EDecompressionError(ZlibErrorText(rc));
    inflater.Open = true;

    int64_t produced = 0;
    for (;;) {
        inflater.Stream.next_out = output.data() + produced;
        int64_t room = static_cast<int64_t>(output.size()) - produced;
        inflater.Stream.avail_out = static_cast<uInt>(room < UINT32_MAX ? room : UINT32_MAX);
        uInt before = inflater.Stream.avail_out;
        rc = inflate(&inflater.Stream, Z_NO_FLUSH);
        produced += before - inflater.Stream.avail_out;
        if (rc == Z_STREAM_END)
            break;
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
