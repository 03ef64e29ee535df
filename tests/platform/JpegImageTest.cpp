#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "JpegImage.h"

#include <jpeglib.h>

namespace {

using Bytes = std::vector<uint8_t>;

// A JPEG file of w x h pixels with `components` bytes per pixel in `space`.
Bytes EncodeJpeg(int w, int h, int components, J_COLOR_SPACE space, const Bytes& samples,
                 bool progressive = false) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = unsigned(w);
    cinfo.image_height = unsigned(h);
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    if (progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(samples.data() + size_t(cinfo.next_scanline) * w * components);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes file(out, out + size);
    free(out);
    return file;
}

// Left half red, right half blue.
Bytes HalvesRgb(int w, int h) {
    Bytes s;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            bool left = x < w / 2;
            s.insert(s.end(), {uint8_t(left ? 255 : 0), 0, uint8_t(left ? 0 : 255)});
        }
    return s;
}

bool Near(uint32_t pixel, uint32_t want) {
    for (int shift : {0, 8, 16})
        if (std::abs(int((pixel >> shift) & 0xFF) - int((want >> shift) & 0xFF)) > 24) return false;
    return true;
}

} // namespace

TEST(JpegImage, DecodesEveryColourSpace) {
    struct Case {
        const char* name;
        Bytes file;
        uint32_t left, right; // expected colours of the two halves
    };
    const Case cases[] = {
        {"baseline colour", EncodeJpeg(32, 16, 3, JCS_RGB, HalvesRgb(32, 16)), 0xFF0000, 0x0000FF},
        {"progressive colour", EncodeJpeg(32, 16, 3, JCS_RGB, HalvesRgb(32, 16), true), 0xFF0000,
         0x0000FF},
        {"grey", EncodeJpeg(32, 16, 1, JCS_GRAYSCALE, Bytes(32 * 16, 0x80)), 0x808080, 0x808080},
        // Inverted CMYK as Adobe writes it: 255 means no ink. Magenta and yellow ink is red.
        {"inverted CMYK",
         EncodeJpeg(32, 16, 4, JCS_CMYK,
                    [] {
                        Bytes s;
                        for (int i = 0; i < 32 * 16; ++i)
                            s.insert(s.end(), {255, 0, 0, 255});
                        return s;
                    }()),
         0xFF0000, 0xFF0000},
    };
    for (const auto& c : cases) {
        TJPEGImage image;
        ASSERT_NO_THROW(image.LoadFromBytes(c.file)) << c.name;
        ASSERT_EQ(image.Width(), 32) << c.name;
        ASSERT_EQ(image.Height(), 16) << c.name;
        const TBitmap& b = image.Bitmap();
        EXPECT_EQ(b.PixelFormat(), pfDevice);
        EXPECT_TRUE(Near(b.ScanLine(8)[4], c.left))
            << c.name << std::hex << " " << b.ScanLine(8)[4];
        EXPECT_TRUE(Near(b.ScanLine(8)[28], c.right))
            << c.name << std::hex << " " << b.ScanLine(8)[28];
        EXPECT_EQ(image.SaveToBytes(), c.file) << c.name << ": the encoded bytes are kept";
    }
}

TEST(JpegImage, RefusesDamagedFilesAndKeepsThePictureItHad) {
    Bytes good = EncodeJpeg(32, 16, 3, JCS_RGB, HalvesRgb(32, 16));
    Bytes truncated(good.begin(), good.begin() + long(good.size() / 2));
    // The start-of-frame segment holds the height and width as big-endian 16-bit values.
    Bytes huge = good;
    for (size_t i = 0; i + 8 < huge.size(); ++i)
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = 0x4E; // 20000 rows
            huge[i + 6] = 0x20;
            break;
        }
    // Entropy-coded data start after the start-of-scan header.
    Bytes scrambled = good;
    size_t scan = 0;
    for (size_t i = 0; i + 1 < scrambled.size(); ++i)
        if (scrambled[i] == 0xFF && scrambled[i + 1] == 0xDA) scan = i;
    ASSERT_GT(scan, 0u);
    for (size_t i = scan + 20; i + 2 < scrambled.size(); i += 3)
        scrambled[i] ^= 0x5A;
    struct Case {
        const char* name;
        Bytes bytes;
        const char* message;
    };
    const Case cases[] = {
        {"not a JPEG", Bytes{'B', 'M', 0, 0, 0, 0}, "Not a JPEG file"},
        {"truncated", truncated, "Premature end of JPEG file"},
        {"larger than the limit", huge, "32 x 20000 pixels exceed the limit of 16384 x 16384"},
        {"damaged entropy data", scrambled, "Corrupt JPEG data"},
    };
    for (const auto& c : cases) {
        TJPEGImage image;
        image.LoadFromBytes(good);
        try {
            image.LoadFromBytes(c.bytes);
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(e.Message().rfind("JPEG image is not valid: ", 0), 0u) << e.Message();
            EXPECT_NE(e.Message().find(c.message), std::string::npos)
                << c.name << ": " << e.Message();
            EXPECT_NE(e.Message().find("(at byte "), std::string::npos) << e.Message();
        }
        EXPECT_EQ(image.Width(), 32) << c.name;
        EXPECT_EQ(image.SaveToBytes(), good) << c.name;
    }
}
