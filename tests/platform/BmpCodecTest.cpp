#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Bitmap.h"
#include "BmpCodec.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

struct TBmpLayout {
    uint32_t HeaderSize = 40;
    int32_t Width = 1;
    int32_t Height = 1;
    uint16_t BitCount = 24;
    uint32_t Compression = 0;
    std::vector<uint32_t> Palette; // 0x00RRGGBB
    std::vector<uint32_t> Masks;
    Bytes Pixels; // as stored
};

// A BMP file image laid out the way writers lay it out: headers, masks, palette, pixels.
Bytes MakeBmp(const TBmpLayout& s) {
    bool core = s.HeaderSize == 12;
    Bytes b(14 + s.HeaderSize, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 14, s.HeaderSize);
    if (core) {
        Put16(b, 18, uint32_t(s.Width));
        Put16(b, 20, uint32_t(s.Height));
        Put16(b, 22, 1);
        Put16(b, 24, s.BitCount);
    } else {
        Put32(b, 18, uint32_t(s.Width));
        Put32(b, 22, uint32_t(s.Height));
        Put16(b, 26, 1);
        Put16(b, 28, s.BitCount);
        Put32(b, 30, s.Compression);
        Put32(b, 46, uint32_t(s.Palette.size()));
        for (size_t i = 0; i < s.Masks.size() && s.HeaderSize > 40; ++i)
            Put32(b, 54 + 4 * i, s.Masks[i]);
    }
    if (s.HeaderSize == 40)
        for (uint32_t m : s.Masks)
            for (int i = 0; i < 4; ++i)
                b.push_back(uint8_t(m >> (8 * i)));
    for (uint32_t c : s.Palette) {
        b.push_back(uint8_t(c));
        b.push_back(uint8_t(c >> 8));
        b.push_back(uint8_t(c >> 16));
        if (!core) b.push_back(0);
    }
    Put32(b, 10, uint32_t(b.size()));
    b.insert(b.end(), s.Pixels.begin(), s.Pixels.end());
    Put32(b, 2, uint32_t(b.size()));
    return b;
}

std::vector<uint32_t> Colours(const TBitmap& b) {
    std::vector<uint32_t> out;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x)
            out.push_back(b.ScanLine(y)[x] & 0xFFFFFF);
    return out;
}

constexpr uint32_t R = 0xFF0000, G = 0x00FF00, B = 0x0000FF, K = 0x000000, W = 0xFFFFFF;

} // namespace

TEST(BmpCodec, ReadsEveryDepthAndLayout) {
    struct Case {
        const char* name;
        TBmpLayout layout;
        std::vector<uint32_t> pixels; // top row first
        TPixelFormat format = pfDevice;
    };
    const std::vector<Case> cases = {
        {"1 bit, rows bottom-up",
         {40, 3, 2, 1, 0, {K, W}, {}, {0xA0, 0, 0, 0, 0x40, 0, 0, 0}},
         {K, W, K, W, K, W}},
        {"4 bits", {40, 3, 1, 4, 0, {R, G, B}, {}, {0x01, 0x20, 0, 0}}, {R, G, B}},
        {"8 bits top-down, an index past the palette is black",
         {40, 2, -2, 8, 0, {R, G, B}, {}, {0, 1, 0, 0, 2, 9, 0, 0}},
         {R, G, B, K}},
        {"RLE8 runs, absolute run, skipped pixel",
         {40, 4, 2, 8, 1, {R, G, B}, {}, {4, 1, 0, 0, 0, 3, 0, 2, 0, 0, 0, 1}},
         {R, B, R, R, G, G, G, G}},
        {"RLE8 delta",
         {40, 3, 2, 8, 1, {R, G, B}, {}, {0, 2, 1, 1, 1, 2, 0, 1}},
         {R, B, R, R, R, R}},
        {"RLE4 alternating nibbles", {40, 4, 1, 4, 2, {R, G}, {}, {4, 0x01, 0, 1}}, {R, G, R, G}},
        {"16 bits 5-5-5", {40, 2, 1, 16, 0, {}, {}, {0x00, 0x7C, 0x1F, 0x00}}, {R, B}},
        {"16 bits with 5-6-5 masks",
         {40, 2, 1, 16, 3, {}, {0xF800, 0x07E0, 0x001F}, {0x00, 0xF8, 0xE0, 0x07}},
         {R, G}},
        {"24 bits, padded rows",
         {40, 1, 2, 24, 0, {}, {}, {0x11, 0x22, 0x33, 0, 0x44, 0x55, 0x66, 0}},
         {0x665544, 0x332211}},
        {"32 bits keep their top byte",
         {40, 1, 1, 32, 0, {}, {}, {1, 2, 3, 0x80}},
         {0x030201},
         pf32bit},
        {"32 bits with masks in a large header",
         {124, 1, 1, 32, 3, {}, {0x0000FF00, 0x00FF0000, 0xFF000000}, {0, 0x11, 0x22, 0x33}},
         {0x112233},
         pf32bit},
        {"core header with a three-byte palette",
         {12, 2, 1, 8, 0, {G, B}, {}, {1, 0, 0, 0}},
         {B, G}},
        {"core header 24 bits", {12, 2, 1, 24, 0, {}, {}, {0, 0, 255, 255, 0, 0, 0, 0}}, {R, B}},
    };
    for (const auto& c : cases) {
        TBitmap bitmap;
        ASSERT_NO_THROW(ReadBmpFileImage(MakeBmp(c.layout), bitmap)) << c.name;
        EXPECT_EQ(bitmap.Width(), c.layout.Width) << c.name;
        EXPECT_EQ(bitmap.Height(), std::abs(c.layout.Height)) << c.name;
        EXPECT_EQ(Colours(bitmap), c.pixels) << c.name;
        EXPECT_EQ(bitmap.PixelFormat(), c.format) << c.name;
    }
    TBitmap full;
    ReadBmpFileImage(MakeBmp({40, 1, 1, 32, 0, {}, {}, {1, 2, 3, 0x80}}), full);
    EXPECT_EQ(full.ScanLine(0)[0], 0x80030201u);
}

TEST(BmpCodec, RefusesMalformedFilesSayingWhere) {
    auto with = [](Bytes b, size_t at, uint32_t v) {
        Put32(b, at, v);
        return b;
    };
    Bytes good = MakeBmp({40, 4, 4, 24, 0, {}, {}, Bytes(48, 0)});
    Bytes badMagic = good;
    badMagic[0] = 'X';
    Bytes truncatedRows = good;
    truncatedRows.resize(good.size() - 20);
    struct Case {
        const char* name;
        Bytes bytes;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"too short", Bytes{'B', 'M', 0, 0}, "fewer than its headers need"},
        {"bad magic", badMagic, "does not start with \"BM\""},
        {"unknown header", with(good, 14, 20), "header size 20 at offset 14"},
        {"header past the end", Bytes(good.begin(), good.begin() + 30), "needs 40 bytes"},
        {"zero width", with(good, 18, 0), "width 0 at offset 18"},
        {"too large", with(good, 18, 20000), "20000 x 4 pixels exceed the limit of 16384 x 16384"},
        {"bad depth", MakeBmp({40, 1, 1, 7, 0, {}, {}, {0}}), "7 bits per pixel"},
        {"compression that does not fit", MakeBmp({40, 1, 1, 8, 2, {R}, {}, {0}}),
         "compression 2 at offset 30"},
        {"RLE top-down", MakeBmp({40, 1, -1, 8, 1, {R}, {}, {0, 1}}), "top-down"},
        {"palette past the end", with(with(MakeBmp({40, 1, 1, 8, 0, {R}, {}, {}}), 46, 200), 10, 0),
         "palette of 200 colours at offset 54"},
        {"pixels inside the headers", with(good, 10, 20), "offset 20 (offset 10) lies inside"},
        {"pixels past the end", with(good, 10, 5000), "lies beyond the end of the file"},
        {"rows cut short", truncatedRows, "the 4 rows of pixels need 48 bytes from offset 54"},
        {"RLE run past the end", MakeBmp({40, 8, 1, 8, 1, {R}, {}, {0, 5, 0, 0}}),
         "RLE run of 5 pixels at offset 58"},
        {"RLE delta past the end", MakeBmp({40, 8, 1, 8, 1, {R}, {}, {0, 2, 1}}),
         "RLE delta at offset 58"},
    };
    for (const auto& c : cases) {
        TBitmap bitmap(2, 2);
        try {
            ReadBmpFileImage(c.bytes, bitmap);
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(e.Message().rfind("Bitmap image is not valid: ", 0), 0u) << c.name;
            EXPECT_NE(e.Message().find(c.message), std::string::npos)
                << c.name << ": " << e.Message();
        }
        EXPECT_EQ(bitmap.Width(), 2) << c.name << ": a failed read changed the bitmap";
    }
}

TEST(BmpCodec, WritesWhatItReads) {
    for (TPixelFormat format : {pfDevice, pf32bit}) {
        TBitmap b(3, 2, format);
        const uint32_t pixels[] = {0x12345678, 0x00FF0000, 0x80808080,
                                   0x00000001, 0xFFFFFFFF, 0x7F00FF00};
        for (int i = 0; i < 6; ++i)
            b.ScanLine(i / 3)[i % 3] = pixels[i];
        Bytes file = WriteBmpFileImage(b);
        TBitmap back;
        ReadBmpFileImage(file, back);
        EXPECT_EQ(back.PixelFormat(), format);
        for (int i = 0; i < 6; ++i) {
            uint32_t want = format == pf32bit ? pixels[i] : pixels[i] | 0xFF000000;
            EXPECT_EQ(back.ScanLine(i / 3)[i % 3], want) << i;
        }
        EXPECT_EQ(WriteBmpFileImage(back), file);
    }
}

TEST(Bitmap, KeepsTheBytesReadUntilItsPixelsChange) {
    Bytes file = MakeBmp({40, 2, 1, 8, 0, {R, G}, {}, {1, 0, 0, 0}});
    TBitmap b;
    b.LoadFromBytes(file);
    EXPECT_EQ(b.SaveToBytes(), file);
    const TBitmap& view = b;
    EXPECT_EQ(view.ScanLine(0)[0] & 0xFFFFFF, G);
    EXPECT_EQ(b.SaveToBytes(), file) << "reading pixels is no change";
    b.ScanLine(0)[0] = 0xFF0000FF;
    Bytes rewritten = b.SaveToBytes();
    EXPECT_EQ(rewritten[28], 24) << "a changed bitmap is written as 24 bits";
    b.LoadFromBytes({});
    EXPECT_TRUE(b.Empty());
}

TEST(Bitmap, ResizesWithinTheLimit) {
    TBitmap b(2, 2, pf32bit);
    b.ScanLine(1)[1] = 0x00ABCDEF;
    b.SetSize(3, 3);
    EXPECT_EQ(b.ScanLine(1)[1], 0x00ABCDEFu);
    EXPECT_EQ(b.ScanLine(2)[2], 0u);
    EXPECT_EQ(b.TransparentColor(), clBlack) << "the bottom-left pixel, by default";
    b.SetPixelFormat(pfDevice);
    EXPECT_EQ(b.ScanLine(1)[1], 0xFFABCDEFu);
    b.SetSize(4, 1);
    EXPECT_EQ(b.ScanLine(0)[3], 0xFFFFFFFFu) << "new device pixels are white";
    EXPECT_THROW(b.SetSize(kMaxBitmapDimension + 1, 1), EInvalidGraphic);
    EXPECT_THROW(b.ScanLine(1), EInvalidGraphic);
    EXPECT_EQ(b.Width(), 4);
}
