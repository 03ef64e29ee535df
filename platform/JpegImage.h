#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "Bitmap.h"

// Decodes a JPEG file image (baseline or progressive; grey, colour or CMYK) into a pfDevice
// bitmap. The data are untrusted: an image wider or higher than kMaxBitmapDimension, one whose
// decoder would need more than kMaxJpegMemory, more than kMaxJpegScans scans, truncated data
// and damaged entropy data are refused with EInvalidGraphic ("JPEG image is not valid: ...",
// with libjpeg's reason and the byte offset it stopped at). Nothing is printed and the process
// never exits. A failure leaves bitmap unchanged. maxDimension lowers the size limit.
void ReadJpegFileImage(std::span<const uint8_t> bytes, TBitmap& bitmap,
                       int32_t maxDimension = kMaxBitmapDimension);

constexpr long kMaxJpegMemory = 512L << 20;
constexpr int kMaxJpegScans = 500;

// A JPEG picture: decoded when loaded (so a damaged file is reported then, not while painting)
// and keeping its encoded bytes, which are what it writes back.
class TJPEGImage : public TGraphic {
public:
    const char* ClassName() const override { return "TJPEGImage"; }
    int32_t Width() const override { return FBitmap.Width(); }
    int32_t Height() const override { return FBitmap.Height(); }

    void Draw(TCanvas& canvas, const TRect& dest) const override;
    void LoadFromBytes(std::span<const uint8_t> bytes) override;
    std::vector<uint8_t> SaveToBytes() const override { return FBytes; }
    std::unique_ptr<TGraphic> Clone() const override { return std::make_unique<TJPEGImage>(*this); }

    const TBitmap& Bitmap() const { return FBitmap; }

private:
    std::vector<uint8_t> FBytes;
    TBitmap FBitmap;
};
