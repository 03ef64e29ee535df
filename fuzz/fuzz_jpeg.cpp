// Arbitrary bytes as a JPEG file image: decoding either gives a device bitmap within the size
// limit or raises our error, leaving the bitmap as it was, and never prints or exits.
#include <cstddef>
#include <cstdint>

#include "JpegImage.h"

namespace {
constexpr int32_t kFuzzMaxDimension = 512;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TBitmap bitmap(1, 1);
    try {
        ReadJpegFileImage({data, size}, bitmap, kFuzzMaxDimension);
    } catch (const EInvalidGraphic&) {
        if (bitmap.Width() != 1 || bitmap.Height() != 1) __builtin_trap();
        return 0;
    }
    if (bitmap.Width() < 1 || bitmap.Width() > kFuzzMaxDimension || bitmap.Height() < 1 ||
        bitmap.Height() > kFuzzMaxDimension || bitmap.PixelFormat() != pfDevice)
        __builtin_trap();
    return 0;
}
