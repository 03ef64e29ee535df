#include "BmpCodec.h"

#include <bit>
#include <string>

#include "Bitmap.h"
#include "SysUtils.h"

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitFields = 3, kBiAlphaBitFields = 6;
constexpr int32_t kPixelsPerMetre = 3780; // 96 dots per inch

[[noreturn]] void Fail(const std::string& why) {
    throw EInvalidGraphic("Bitmap image is not valid: " + why);
}

class TBytes {
public:
    explicit TBytes(std::span<const uint8_t> bytes)
        : FBytes(bytes) {}
    size_t Size() const { return FBytes.size(); }
    uint8_t U8(size_t at) const { return FBytes[at]; }
    uint16_t U16(size_t at) const { return uint16_t(FBytes[at] | FBytes[at + 1] << 8); }
    uint32_t U32(size_t at) const {
        return uint32_t(FBytes[at]) | uint32_t(FBytes[at + 1]) << 8 |
               uint32_t(FBytes[at + 2]) << 16 | uint32_t(FBytes[at + 3]) << 24;
    }
    int32_t I32(size_t at) const { return int32_t(U32(at)); }
    const uint8_t* At(size_t at) const { return FBytes.data() + at; }

private:
    std::span<const uint8_t> FBytes;
};

// One colour channel of a bit-field pixel, scaled to eight bits.
struct TChannel {
    uint32_t Mask = 0;
    int Shift = 0;
    int Bits = 0;

    explicit TChannel(uint32_t mask = 0)
        : Mask(mask) {
        if (mask) {
            Shift = std::countr_zero(mask);
            Bits = 32 - std::countl_zero(mask) - Shift;
        }
    }
    uint32_t Get(uint32_t v) const {
        if (!Mask) return 0;
        uint32_t value = (v & Mask) >> Shift;
        if (Bits >= 8) return value >> (Bits - 8);
        uint32_t max = (1u << Bits) - 1;
        return (value * 255 + max / 2) / max;
    }
};

struct TLayout {
    int32_t Width = 0;
    int32_t Height = 0; // rows
    bool TopDown = false;
    uint32_t BitCount = 0;
    uint32_t Compression = kBiRgb;
    size_t PixelOffset = 0;
    std::vector<uint32_t> Palette; // 0x00RRGGBB
    TChannel Red, Green, Blue, Alpha;
    bool HasMasks = false;
};

TLayout ReadLayout(const TBytes& in, int32_t maxDimension) {
    TLayout l;
    size_t size = in.Size();
    if (size < kFileHeaderSize + 4)
        Fail(Format("the file has %zu bytes, fewer than its headers need", size));
    if (in.U8(0) != 'B' || in.U8(1) != 'M') Fail("it does not start with \"BM\"");
    uint32_t pixelOffset = in.U32(10);
    uint32_t headerSize = in.U32(14);
    if (headerSize != kCoreHeaderSize && headerSize != kInfoHeaderSize && headerSize != 52 &&
        headerSize != 56 && headerSize != 108 && headerSize != 124)
        Fail(Format("the header size %u at offset 14 is not one of a bitmap header", headerSize));
    if (kFileHeaderSize + headerSize > size)
        Fail(Format("the header at offset 14 needs %u bytes, the file ends after %zu", headerSize,
                    size - kFileHeaderSize));
    bool core = headerSize == kCoreHeaderSize;
    int64_t width, height;
    uint32_t clrUsed = 0;
    if (core) {
        width = in.U16(18);
        height = int16_t(in.U16(20));
        l.BitCount = in.U16(24);
    } else {
        width = in.I32(18);
        height = in.I32(22);
        l.BitCount = in.U16(28);
        l.Compression = in.U32(30);
        clrUsed = in.U32(46);
    }
    if (width <= 0) Fail(Format("the width %lld at offset 18 is not positive", (long long)width));
    if (height == 0) Fail("the height at offset 22 is 0");
    l.TopDown = height < 0;
    if (height < 0) height = -height;
    if (width > maxDimension || height > maxDimension)
        Fail(Format("%lld x %lld pixels exceed the limit of %d x %d", (long long)width,
                    (long long)height, maxDimension, maxDimension));
    l.Width = int32_t(width);
    l.Height = int32_t(height);

    uint32_t bpp = l.BitCount;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        Fail(Format("%u bits per pixel (offset %d) is not a bitmap depth", bpp, core ? 24 : 28));
    uint32_t c = l.Compression;
    bool fits = c == kBiRgb || (c == kBiRle8 && bpp == 8) || (c == kBiRle4 && bpp == 4) ||
                ((c == kBiBitFields || c == kBiAlphaBitFields) && (bpp == 16 || bpp == 32));
    if (!fits)
        Fail(Format("compression %u at offset 30 does not fit %u bits per pixel or is not "
                    "supported",
                    c, bpp));
    if ((c == kBiRle8 || c == kBiRle4) && l.TopDown)
        Fail("a top-down image (negative height at offset 22) cannot be RLE compressed");

    size_t tableStart = kFileHeaderSize + headerSize;
    if (c == kBiBitFields || c == kBiAlphaBitFields) {
        size_t maskCount = c == kBiAlphaBitFields ? 4 : 3;
        size_t maskAt = kFileHeaderSize + kInfoHeaderSize;
        if (headerSize == kInfoHeaderSize) {
            tableStart += 4 * maskCount;
            if (tableStart > size)
                Fail(Format("the colour masks at offset %zu run past the end of the file", maskAt));
        } else if (headerSize < 56) {
            maskCount = 3;
        }
        l.Red = TChannel(in.U32(maskAt));
        l.Green = TChannel(in.U32(maskAt + 4));
        l.Blue = TChannel(in.U32(maskAt + 8));
        if (maskCount == 4 || headerSize >= 56) l.Alpha = TChannel(in.U32(maskAt + 12));
        l.HasMasks = true;
    } else if (bpp == 16) {
        l.Red = TChannel(0x7C00);
        l.Green = TChannel(0x03E0);
        l.Blue = TChannel(0x001F);
    }

    if (bpp <= 8) {
        uint64_t count = clrUsed ? clrUsed : (1u << bpp);
        count = std::min<uint64_t>(count, 1u << bpp);
        size_t entry = core ? 3 : 4;
        // Writers often store fewer entries than the depth implies; the pixel offset says
        // where the palette really ends.
        if (pixelOffset >= tableStart + entry)
            count = std::min<uint64_t>(count, (pixelOffset - tableStart) / entry);
        if (tableStart + count * entry > size)
            Fail(Format("the palette of %llu colours at offset %zu runs past the end of the file "
                        "(%zu bytes)",
                        (unsigned long long)count, tableStart, size));
        for (size_t i = 0; i < count; ++i) {
            size_t at = tableStart + i * entry;
            l.Palette.push_back(uint32_t(in.U8(at)) | uint32_t(in.U8(at + 1)) << 8 |
                                uint32_t(in.U8(at + 2)) << 16);
        }
        tableStart += count * entry;
    }

    // Some writers leave the offset 0; the pixels then follow the tables.
    if (pixelOffset == 0) pixelOffset = uint32_t(tableStart);
    if (pixelOffset < tableStart)
        Fail(Format("the pixel data offset %u (offset 10) lies inside the headers, which end at "
                    "%zu",
                    pixelOffset, tableStart));
    if (pixelOffset > size)
        Fail(Format("the pixel data offset %u (offset 10) lies beyond the end of the file (%zu "
                    "bytes)",
                    pixelOffset, size));
    l.PixelOffset = pixelOffset;
    return l;
}

uint32_t PaletteColour(const TLayout& l, uint32_t index) {
    return index < l.Palette.size() ? l.Palette[index] : 0;
}

void ReadUncompressed(const TBytes& in, const TLayout& l, std::vector<uint32_t>& pixels,
                      bool& keepsTopByte) {
    uint64_t rowBits = uint64_t(l.Width) * l.BitCount;
    uint64_t stride = (rowBits + 31) / 32 * 4;
    // The last row's padding is often left out; the pixels themselves must be there.
    uint64_t need = stride * (l.Height - 1) + (rowBits + 7) / 8;
    if (l.PixelOffset + need > in.Size())
        Fail(Format("the %d rows of pixels need %llu bytes from offset %zu, the file has %zu",
                    l.Height, (unsigned long long)need, l.PixelOffset, in.Size() - l.PixelOffset));
    keepsTopByte = l.BitCount == 32;
    for (int32_t r = 0; r < l.Height; ++r) {
        const uint8_t* row = in.At(l.PixelOffset + size_t(stride) * r);
        uint32_t* out = pixels.data() + size_t(l.TopDown ? r : l.Height - 1 - r) * l.Width;
        for (int32_t x = 0; x < l.Width; ++x) {
            uint32_t p;
            switch (l.BitCount) {
            case 1: p = PaletteColour(l, (row[x >> 3] >> (7 - (x & 7))) & 1); break;
            case 4: p = PaletteColour(l, (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15); break;
            case 8: p = PaletteColour(l, row[x]); break;
            case 16: {
                uint32_t v = uint32_t(row[2 * x] | row[2 * x + 1] << 8);
                p = l.Red.Get(v) << 16 | l.Green.Get(v) << 8 | l.Blue.Get(v);
                break;
            }
            case 24: p = uint32_t(row[3 * x]) | row[3 * x + 1] << 8 | row[3 * x + 2] << 16; break;
            default: {
                uint32_t v = uint32_t(row[4 * x]) | uint32_t(row[4 * x + 1]) << 8 |
                             uint32_t(row[4 * x + 2]) << 16 | uint32_t(row[4 * x + 3]) << 24;
                if (l.HasMasks)
                    p = l.Red.Get(v) << 16 | l.Green.Get(v) << 8 | l.Blue.Get(v) |
                        l.Alpha.Get(v) << 24;
                else
                    p = v;
                break;
            }
            }
            out[x] = p;
        }
    }
}

void ReadRle(const TBytes& in, const TLayout& l, std::vector<uint32_t>& pixels) {
    bool four = l.Compression == kBiRle4;
    std::fill(pixels.begin(), pixels.end(), PaletteColour(l, 0));
    size_t at = l.PixelOffset, end = in.Size();
    int64_t x = 0, y = 0; // y counts rows from the bottom
    auto put = [&](uint32_t index) {
        if (x < l.Width && y < l.Height)
            pixels[size_t(l.Height - 1 - y) * l.Width + size_t(x)] = PaletteColour(l, index);
        ++x;
    };
    // A missing end-of-bitmap mark at the very end of the data is tolerated; a run whose
    // bytes are not there is not.
    while (at + 2 <= end && y < l.Height) {
        uint8_t count = in.U8(at), value = in.U8(at + 1);
        size_t markAt = at;
        at += 2;
        if (count > 0) {
            for (int i = 0; i < count && x < l.Width; ++i)
                put(four ? ((i & 1) ? value & 15 : value >> 4) : value);
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of bitmap
            break;
        } else if (value == 2) { // delta
            if (at + 2 > end)
                Fail(Format("the RLE delta at offset %zu runs past the end of the file", markAt));
            x += in.U8(at);
            y += in.U8(at + 1);
            at += 2;
        } else { // absolute run, padded to a 16-bit boundary
            size_t bytes = four ? (value + 1) / 2 : value;
            size_t padded = (bytes + 1) & ~size_t(1);
            if (at + bytes > end)
                Fail(Format("the RLE run of %u pixels at offset %zu runs past the end of the file",
                            value, markAt));
            for (int i = 0; i < value; ++i) {
                uint8_t b = in.U8(at + (four ? i / 2 : i));
                put(four ? ((i & 1) ? b & 15 : b >> 4) : b);
            }
            at += std::min(padded, end - at);
        }
    }
}

void PutU16(std::vector<uint8_t>& out, size_t at, uint16_t v) {
    out[at] = uint8_t(v);
    out[at + 1] = uint8_t(v >> 8);
}
void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = uint8_t(v >> (8 * i));
}

} // namespace

void ReadBmpFileImage(std::span<const uint8_t> bytes, TBitmap& bitmap, int32_t maxDimension) {
    TBytes in(bytes);
    TLayout l = ReadLayout(in, std::min(maxDimension, kMaxBitmapDimension));
    std::vector<uint32_t> pixels;
    try {
        pixels.resize(size_t(l.Width) * size_t(l.Height));
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    }
    bool keepsTopByte = false;
    if (l.Compression == kBiRle8 || l.Compression == kBiRle4)
        ReadRle(in, l, pixels);
    else
        ReadUncompressed(in, l, pixels, keepsTopByte);
    if (!keepsTopByte)
        for (auto& p : pixels)
            p |= 0xFF000000u;
    bitmap.Assign(l.Width, l.Height, keepsTopByte ? pf32bit : pfDevice, std::move(pixels));
}

std::vector<uint8_t> WriteBmpFileImage(const TBitmap& bitmap) {
    int32_t w = bitmap.Width(), h = bitmap.Height();
    if (w <= 0 || h <= 0) return {};
    bool full = bitmap.PixelFormat() == pf32bit;
    size_t stride = full ? size_t(w) * 4 : (size_t(w) * 3 + 3) & ~size_t(3);
    size_t dataOffset = kFileHeaderSize + kInfoHeaderSize;
    std::vector<uint8_t> out(dataOffset + stride * h, 0);
    out[0] = 'B';
    out[1] = 'M';
    PutU32(out, 2, uint32_t(out.size()));
    PutU32(out, 10, uint32_t(dataOffset));
    PutU32(out, 14, kInfoHeaderSize);
    PutU32(out, 18, uint32_t(w));
    PutU32(out, 22, uint32_t(h));
    PutU16(out, 26, 1);
    PutU16(out, 28, full ? 32 : 24);
    PutU32(out, 30, kBiRgb);
    PutU32(out, 34, uint32_t(stride * h));
    PutU32(out, 38, kPixelsPerMetre);
    PutU32(out, 42, kPixelsPerMetre);
    for (int32_t y = 0; y < h; ++y) {
        const uint32_t* src = bitmap.ScanLine(h - 1 - y);
        uint8_t* row = out.data() + dataOffset + stride * y;
        for (int32_t x = 0; x < w; ++x) {
            uint32_t p = src[x];
            if (full) {
                for (int i = 0; i < 4; ++i)
                    row[4 * x + i] = uint8_t(p >> (8 * i));
            } else {
                row[3 * x] = uint8_t(p);
                row[3 * x + 1] = uint8_t(p >> 8);
                row[3 * x + 2] = uint8_t(p >> 16);
            }
        }
    }
    return out;
}
