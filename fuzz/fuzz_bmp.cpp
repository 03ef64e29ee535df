// Arbitrary bytes as a BMP file image: reading either gives a bitmap that the writer writes and
// the reader reads back to the same pixels, or raises our error and leaves the bitmap as it was.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "BmpCodec.h"

namespace {
// Keeps each run fast; the full limit only changes how much is allocated.
constexpr int32_t kFuzzMaxDimension = 512;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TBitmap bitmap(1, 1);
    try {
        ReadBmpFileImage({data, size}, bitmap, kFuzzMaxDimension);
    } catch (const EInvalidGraphic&) {
        if (bitmap.Width() != 1 || bitmap.Height() != 1) __builtin_trap();
        return 0;
    }
    std::vector<uint8_t> file = WriteBmpFileImage(bitmap);
    TBitmap back;
    ReadBmpFileImage(file, back);
    if (back.Width() != bitmap.Width() || back.Height() != bitmap.Height() ||
        back.PixelFormat() != bitmap.PixelFormat())
        __builtin_trap();
    const TBitmap &read = bitmap, &again = back;
    for (int32_t y = 0; y < read.Height(); ++y)
        if (!std::equal(read.ScanLine(y), read.ScanLine(y) + read.Width(), again.ScanLine(y)))
            __builtin_trap();
    return 0;
}
