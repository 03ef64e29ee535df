#include <gtest/gtest.h>

#include <QImage>
#include <string>
#include <vector>

#include "Icon.h"
#include "QtCanvas.h"
#include "QtImages.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& b, uint32_t v, int n) {
    for (int i = 0; i < n; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

// An icon file with one 2 x 2 picture of 32 bits: top row opaque red and fully transparent,
// bottom row opaque green and opaque blue.
Bytes TwoByTwoIcon() {
    Bytes image;
    Put(image, 40, 4);
    Put(image, 2, 4);
    Put(image, 4, 4); // the colour and mask halves
    Put(image, 1, 2);
    Put(image, 32, 2);
    for (int i = 0; i < 6; ++i)
        Put(image, 0, 4);
    // Rows bottom-up, bytes B, G, R, A.
    Put(image, 0xFF00FF00, 4);
    Put(image, 0xFF0000FF, 4);
    Put(image, 0xFFFF0000, 4);
    Put(image, 0x00000000, 4);
    Put(image, 0, 4); // the mask rows, padded to 32 bits
    Put(image, 0, 4);
    Bytes file;
    Put(file, 0, 2);
    Put(file, 1, 2);
    Put(file, 1, 2);
    file.insert(file.end(), {2, 2, 0, 0});
    Put(file, 1, 2);
    Put(file, 32, 2);
    Put(file, uint32_t(image.size()), 4);
    Put(file, 22, 4);
    file.insert(file.end(), image.begin(), image.end());
    return file;
}

class TQtEnvironment : public testing::Environment {
public:
    void SetUp() override { InstallQtCanvasBackend(); }
};
const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new TQtEnvironment);

} // namespace

TEST(Icon, DecodesThroughQtAndLeavesTransparentPartsOut) {
    TIcon icon;
    Bytes file = TwoByTwoIcon();
    icon.LoadFromBytes(file);
    EXPECT_EQ(icon.Width(), 2);
    EXPECT_EQ(icon.Height(), 2);
    const TBitmap* picture = icon.Picture();
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->ScanLine(0)[0], 0x00FF0000u) << "opaque: top byte 0";
    EXPECT_EQ(picture->ScanLine(0)[1] >> 24, 255u) << "transparent: top byte 255";

    TBitmap b(4, 4);
    b.Fill(0xFFFFFFFF);
    b.Canvas().StretchDraw({0, 0, 4, 4}, icon);
    EXPECT_EQ(b.ScanLine(0)[0], 0xFFFF0000u);
    EXPECT_EQ(b.ScanLine(1)[3], 0xFFFFFFFFu) << "the transparent quarter is left alone";
    EXPECT_EQ(b.ScanLine(3)[0], 0xFF00FF00u);
    EXPECT_EQ(b.ScanLine(3)[3], 0xFF0000FFu);
    EXPECT_EQ(icon.SaveToBytes(), file);
}

TEST(Icon, RefusesADirectoryThatDoesNotHold) {
    Bytes good = TwoByTwoIcon();
    auto with = [&](size_t at, uint8_t v) {
        Bytes b = good;
        b[at] = v;
        return b;
    };
    struct Case {
        const char* name;
        Bytes bytes;
        const char* message;
    };
    const Case cases[] = {
        {"too short", Bytes{0, 0, 1}, "fewer than its directory needs"},
        {"not an icon", with(2, 7), "does not start with an icon directory"},
        {"no pictures", with(4, 0), "lists no pictures"},
        {"directory past the end", with(4, 200), "directory of 200 pictures"},
        {"picture past the end", with(14, 0xF0), "picture 0 (entry at offset 6) lies outside"},
    };
    for (const auto& c : cases) {
        TIcon icon;
        try {
            icon.LoadFromBytes(c.bytes);
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const EInvalidGraphic& e) {
            EXPECT_NE(e.Message().find(c.message), std::string::npos)
                << c.name << ": " << e.Message();
        }
    }
}

TEST(Png, WritesTheBitmapsColours) {
    TBitmap b(3, 2, pf32bit);
    const uint32_t pixels[] = {0x00FF0000, 0xFF00FF00, 0x000000FF, 0x00123456, 0x00FFFFFF, 0};
    for (int i = 0; i < 6; ++i)
        b.ScanLine(i / 3)[i % 3] = pixels[i];
    std::vector<uint8_t> png = QtImages::EncodePng(b);
    QImage back = QImage::fromData(png.data(), int(png.size()), "PNG");
    ASSERT_FALSE(back.isNull());
    ASSERT_EQ(back.size(), QSize(3, 2));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(back.pixel(i % 3, i / 3), pixels[i] | 0xFF000000u) << i;
    EXPECT_THROW(QtImages::EncodePng(TBitmap()), EInvalidGraphic);
}
