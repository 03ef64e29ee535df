#include "Bitmap.h"

#include <algorithm>
#include <utility>

#include "BmpCodec.h"
#include "RecordingCanvas.h"
#include "SysUtils.h"

namespace {

void CheckSize(int32_t width, int32_t height) {
    if (width < 0 || height < 0 || width > kMaxBitmapDimension || height > kMaxBitmapDimension)
        throw EInvalidGraphic(Format("A bitmap of %d x %d pixels cannot be made (the limit is "
                                     "%d x %d)",
                                     width, height, kMaxBitmapDimension, kMaxBitmapDimension));
}

uint32_t BlankPixel(TPixelFormat format) {
    return format == pfDevice ? 0xFFFFFFFFu : 0u;
}

// Without a raster back end a bitmap still has a canvas: it records and paints nothing.
class TBitmapRecordingCanvas : public TRecordingCanvas {
public:
    explicit TBitmapRecordingCanvas(const TBitmap& bitmap)
        : FBitmap(bitmap) {}
    TSize Size() const override { return {FBitmap.Width(), FBitmap.Height()}; }

private:
    const TBitmap& FBitmap;
};

} // namespace

TBitmap::TBitmap() = default;

TBitmap::TBitmap(int32_t width, int32_t height, TPixelFormat format)
    : FFormat(format) {
    SetSize(width, height);
}

TBitmap::~TBitmap() = default;

TBitmap::TBitmap(const TBitmap& other)
    : TGraphic(other) {
    other.FlushCanvas();
    FWidth = other.FWidth;
    FHeight = other.FHeight;
    FFormat = other.FFormat;
    FTransparentColor = other.FTransparentColor;
    FPixels = other.FPixels;
    FLoadedBytes = other.FLoadedBytes;
}

TBitmap& TBitmap::operator=(const TBitmap& other) {
    if (this == &other) return *this;
    other.FlushCanvas();
    FlushCanvas();
    TGraphic::operator=(other);
    FWidth = other.FWidth;
    FHeight = other.FHeight;
    FFormat = other.FFormat;
    FTransparentColor = other.FTransparentColor;
    FPixels = other.FPixels;
    FLoadedBytes = other.FLoadedBytes;
    return *this;
}

TBitmap::TBitmap(TBitmap&& other) noexcept
    : TGraphic(other) {
    *this = std::move(other);
}

TBitmap& TBitmap::operator=(TBitmap&& other) noexcept {
    if (this == &other) return *this;
    other.FlushCanvas();
    FlushCanvas();
    TGraphic::operator=(other);
    FWidth = std::exchange(other.FWidth, 0);
    FHeight = std::exchange(other.FHeight, 0);
    FFormat = other.FFormat;
    FTransparentColor = other.FTransparentColor;
    FPixels = std::move(other.FPixels);
    FLoadedBytes = std::move(other.FLoadedBytes);
    other.FPixels.clear();
    other.FLoadedBytes.clear();
    return *this;
}

void TBitmap::SetSize(int32_t width, int32_t height) {
    CheckSize(width, height);
    if (width == FWidth && height == FHeight && FPixels.size() == size_t(width) * height) return;
    FlushCanvas();
    std::vector<uint32_t> pixels;
    try {
        pixels.assign(size_t(width) * size_t(height), BlankPixel(FFormat));
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    }
    int32_t w = std::min(width, FWidth), h = std::min(height, FHeight);
    for (int32_t y = 0; y < h; ++y)
        std::copy_n(FPixels.data() + size_t(y) * FWidth, w, pixels.data() + size_t(y) * width);
    FPixels = std::move(pixels);
    FWidth = width;
    FHeight = height;
    Touch();
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    if (format == FFormat) return;
    FlushCanvas();
    for (auto& p : FPixels)
        p = format == pfDevice ? p | 0xFF000000u : p & 0x00FFFFFFu;
    FFormat = format;
    Touch();
}

uint32_t* TBitmap::ScanLine(int32_t y) {
    FlushCanvas();
    Touch();
    if (FPixels.empty()) return nullptr;
    if (y < 0 || y >= FHeight) throw EInvalidGraphic("Scan line index out of range");
    return FPixels.data() + size_t(y) * FWidth;
}

const uint32_t* TBitmap::ScanLine(int32_t y) const {
    FlushCanvas();
    if (FPixels.empty()) return nullptr;
    if (y < 0 || y >= FHeight) throw EInvalidGraphic("Scan line index out of range");
    return FPixels.data() + size_t(y) * FWidth;
}

uint32_t* TBitmap::SurfaceBits() {
    Touch();
    return FPixels.empty() ? nullptr : FPixels.data();
}

void TBitmap::Fill(uint32_t pixel) {
    FlushCanvas();
    if (FFormat == pfDevice) pixel |= 0xFF000000u;
    std::fill(FPixels.begin(), FPixels.end(), pixel);
    Touch();
}

TCanvas& TBitmap::Canvas() {
    if (!FCanvas) {
        if (TCanvasBackend* backend = CanvasBackend())
            FCanvas = backend->CreateBitmapCanvas(*this);
        else
            FCanvas = std::make_unique<TBitmapRecordingCanvas>(*this);
    }
    return *FCanvas;
}

TColor TBitmap::TransparentColor() const {
    if (FTransparentColor != clDefault) return FTransparentColor;
    if (FPixels.empty()) return clNone;
    FlushCanvas();
    return PixelToColor(FPixels[size_t(FHeight - 1) * FWidth]);
}

void TBitmap::Draw(TCanvas& canvas, const TRect& dest) const {
    if (Empty()) return;
    TRect source(0, 0, FWidth, FHeight);
    if (Transparent())
        canvas.TransparentBitmap(dest, *this, source, TransparentColor());
    else
        canvas.StretchBitmap(dest, *this, source);
}

void TBitmap::LoadFromBytes(std::span<const uint8_t> bytes) {
    if (bytes.empty()) {
        Assign(0, 0, pfDevice, {});
        return;
    }
    TBitmap read;
    ReadBmpFileImage(bytes, read);
    Assign(read.FWidth, read.FHeight, read.FFormat, std::move(read.FPixels));
    FLoadedBytes.assign(bytes.begin(), bytes.end());
}

std::vector<uint8_t> TBitmap::SaveToBytes() const {
    if (!FLoadedBytes.empty()) return FLoadedBytes;
    return WriteBmpFileImage(*this);
}

std::unique_ptr<TGraphic> TBitmap::Clone() const {
    return std::make_unique<TBitmap>(*this);
}

void TBitmap::Assign(int32_t width, int32_t height, TPixelFormat format,
                     std::vector<uint32_t> pixels) {
    CheckSize(width, height);
    if (pixels.size() != size_t(width) * size_t(height))
        throw EInvalidGraphic(
            Format("%zu pixels given for a bitmap of %d x %d", pixels.size(), width, height));
    FlushCanvas();
    if (format == pfDevice)
        for (auto& p : pixels)
            p |= 0xFF000000u;
    FWidth = width;
    FHeight = height;
    FFormat = format;
    FPixels = std::move(pixels);
    Touch();
}

void TBitmap::Touch() {
    FLoadedBytes.clear();
}

void TBitmap::FlushCanvas() const {
    if (FCanvas) FCanvas->Flush();
}
