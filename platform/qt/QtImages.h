#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

class TBitmap;

// Image formats the Qt build reads and writes.
namespace QtImages {

// The largest picture of an icon file image as a pf32bit bitmap whose top byte is 255 minus
// the picture's opacity (0 where the icon is opaque), the transparency convention of the
// engine's 32-bit buffers; nullptr when the bytes are no icon Qt can read.
std::unique_ptr<TBitmap> DecodeIconImage(std::span<const uint8_t> bytes);

// A PNG file image of the bitmap's colours (opaque). Raises EInvalidGraphic when encoding
// fails.
std::vector<uint8_t> EncodePng(const TBitmap& bitmap);
// Writes EncodePng to a file; raises EFCreateError when the file cannot be written.
void SaveBitmapAsPng(const TBitmap& bitmap, const std::string& fileName);

} // namespace QtImages
