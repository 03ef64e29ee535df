#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "Canvas.h"

// A picture that documents can hold and the canvas can draw: bitmaps here, JPEG images
// (JpegImage.h), recorded pictures (Metafile.h) and icons (Icon.h).
class TGraphic {
public:
    virtual ~TGraphic() = default;

    // The class name the persisted picture form stores ("TBitmap", "TJPEGImage", ...).
    virtual const char* ClassName() const = 0;
    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
    bool Empty() const { return Width() <= 0 || Height() <= 0; }

    // Draws the graphic stretched over dest.
    virtual void Draw(TCanvas& canvas, const TRect& dest) const = 0;

    // The class's own stream data (a BMP file image for a bitmap, a JPEG file, ...). Loading
    // raises EInvalidGraphic for data it cannot read and then leaves the graphic as it was.
    virtual void LoadFromBytes(std::span<const uint8_t> bytes) = 0;
    virtual std::vector<uint8_t> SaveToBytes() const = 0;

    virtual std::unique_ptr<TGraphic> Clone() const = 0;

    // A transparent graphic leaves some pixels out when drawn: a bitmap those of its
    // transparent colour.
    bool Transparent() const { return FTransparent; }
    virtual void SetTransparent(bool value) { FTransparent = value; }

protected:
    TGraphic() = default;
    TGraphic(const TGraphic&) = default;
    TGraphic& operator=(const TGraphic&) = default;

private:
    bool FTransparent = false;
};

// pfDevice: an opaque surface; every pixel's top byte is 0xFF.
// pf32bit: the top byte is the caller's; drawing through the canvas writes 0 into the top byte
// of every pixel it paints and leaves other pixels alone. Filling a pf32bit bitmap with
// 0xFF000000 before drawing therefore tells afterwards which pixels were painted.
enum TPixelFormat : uint8_t { pfDevice, pf32bit };

// Largest accepted width or height, for bitmaps made by code and read from files alike.
constexpr int32_t kMaxBitmapDimension = 16384;

// A top-down 32-bit bitmap: pixel (x, y) is ScanLine(y)[x], 0xAARRGGBB (bytes B, G, R, A).
class TBitmap : public TGraphic {
public:
    TBitmap();
    // Raises EInvalidGraphic for a negative size or one beyond kMaxBitmapDimension.
    TBitmap(int32_t width, int32_t height, TPixelFormat format = pfDevice);
    ~TBitmap() override;
    // Copies pixels, format and transparency; the copy gets its own canvas.
    TBitmap(const TBitmap& other);
    TBitmap& operator=(const TBitmap& other);
    // Moves pixels, format and transparency; the source is left empty and keeps its canvas.
    TBitmap(TBitmap&& other) noexcept;
    TBitmap& operator=(TBitmap&& other) noexcept;

    const char* ClassName() const override { return "TBitmap"; }
    int32_t Width() const override { return FWidth; }
    int32_t Height() const override { return FHeight; }

    // Keeps the pixels both sizes share; new pixels are white for pfDevice and 0 for pf32bit.
    void SetSize(int32_t width, int32_t height);
    TPixelFormat PixelFormat() const { return FFormat; }
    // Switching to pfDevice sets every top byte to 0xFF; to pf32bit sets them to 0 (painted).
    void SetPixelFormat(TPixelFormat format);

    // Pixel access ends any drawing the canvas still holds back. Rows are Width() pixels.
    uint32_t* ScanLine(int32_t y);
    const uint32_t* ScanLine(int32_t y) const;
    uint32_t* Bits() { return ScanLine(0); }
    const uint32_t* Bits() const { return ScanLine(0); }
    void Fill(uint32_t pixel);
    // For the canvas painting into this bitmap: the pixels, without flushing that canvas.
    uint32_t* SurfaceBits();
    const uint32_t* SurfaceBits() const { return FPixels.empty() ? nullptr : FPixels.data(); }

    // The canvas painting into this bitmap, made by the installed back end on first use.
    TCanvas& Canvas();

    // The colour a transparent bitmap leaves out: the one set, or with clDefault (the initial
    // value) the colour of the bottom-left pixel.
    TColor TransparentColor() const;
    TColor TransparentColorValue() const { return FTransparentColor; }
    void SetTransparentColor(TColor color) { FTransparentColor = color; }

    void Draw(TCanvas& canvas, const TRect& dest) const override;
    // A complete BMP file image (BmpCodec.h). Bitmaps read from 32-bit files are pf32bit, all
    // others pfDevice. Until the pixels are changed, SaveToBytes returns the bytes read.
    void LoadFromBytes(std::span<const uint8_t> bytes) override;
    std::vector<uint8_t> SaveToBytes() const override;
    std::unique_ptr<TGraphic> Clone() const override;

    // Replaces size, format and pixels at once (pixels.size() must be width * height).
    void Assign(int32_t width, int32_t height, TPixelFormat format, std::vector<uint32_t> pixels);

private:
    void Touch();
    void FlushCanvas() const;

    int32_t FWidth = 0;
    int32_t FHeight = 0;
    TPixelFormat FFormat = pfDevice;
    TColor FTransparentColor = clDefault;
    std::vector<uint32_t> FPixels;
    std::vector<uint8_t> FLoadedBytes; // the file image read, while the pixels are unchanged
    std::unique_ptr<TCanvas> FCanvas;
};
