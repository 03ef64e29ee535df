#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "Bitmap.h"

// BMP file images as documents and picture properties carry them.
//
// Reading accepts the core (12-byte), info (40-byte) and later (52, 56, 108, 124-byte) headers;
// 1, 4 and 8 bits with a palette, RLE8 and RLE4, 16 and 32 bits plain or with bit-field masks,
// and 24 bits; rows bottom-up or top-down. The data are untrusted: every size, offset and
// count is checked against the bytes that are there before it is used, and an image wider or
// higher than kMaxBitmapDimension is refused. Failures raise EInvalidGraphic with a message
// that names the fault and the byte offset where it lies. Palette indexes beyond the palette
// give black; pixels an RLE image skips get palette entry 0. maxDimension lowers the size
// limit for callers that want less (the fuzz targets).
void ReadBmpFileImage(std::span<const uint8_t> bytes, TBitmap& bitmap,
                      int32_t maxDimension = kMaxBitmapDimension);

// A complete BMP file image with an info header, bottom-up: 24 bits for a pfDevice bitmap,
// 32 bits (top bytes kept) for a pf32bit one.
std::vector<uint8_t> WriteBmpFileImage(const TBitmap& bitmap);
