#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "Metafile.h"
#include "PropText.h"
#include "RecordingCanvas.h"
#include "VektProps.h"

namespace {

using TBytes = std::vector<uint8_t>;

TBytes Name(const std::string& className) {
    TBytes out(className.size() + 1);
    out[0] = static_cast<uint8_t>(className.size());
    std::copy(className.begin(), className.end(), out.begin() + 1);
    return out;
}

TBytes LE32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

TBytes operator+(TBytes a, const TBytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TBitmap Picture(int32_t width, int32_t height) {
    TBitmap bitmap(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            bitmap.ScanLine(y)[x] = 0xFF000000u | uint32_t(x * 30) << 8 | uint32_t(y * 50);
    return bitmap;
}

// An icon directory with one image of `image` bytes right after it.
TBytes Icon(const TBytes& image) {
    TBytes entry = TBytes{16, 16, 0, 0, 1, 0, 32, 0} + LE32(uint32_t(image.size())) + LE32(22);
    return TBytes{0, 0, 1, 0, 1, 0} + entry + image;
}

std::string TempFile(const std::string& name, const TBytes& bytes) {
    std::string path = (std::filesystem::temp_directory_path() /
                        ("props-" + std::to_string(::getpid()) + "-" + name))
                           .string();
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
}

} // namespace

TEST(PersistedPicture, EveryClassReadsAndWritesBack) {
    TBitmap bitmap = Picture(3, 2);
    TBytes bmp = bitmap.SaveToBytes();
    // A 3 x 2 grey picture as the JPEG encoder writes it.
    TBytes jpeg{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00, 0x01, 0x01, 0x00,
                0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0xFF, 0xDB, 0x00, 0x43, 0x00, 0x10, 0x0B, 0x0C,
                0x0E, 0x0C, 0x0A, 0x10, 0x0E, 0x0D, 0x0E, 0x12, 0x11, 0x10, 0x13, 0x18, 0x28, 0x1A,
                0x18, 0x16, 0x16, 0x18, 0x31, 0x23, 0x25, 0x1D, 0x28, 0x3A, 0x33, 0x3D, 0x3C, 0x39,
                0x33, 0x38, 0x37, 0x40, 0x48, 0x5C, 0x4E, 0x40, 0x44, 0x57, 0x45, 0x37, 0x38, 0x50,
                0x6D, 0x51, 0x57, 0x5F, 0x62, 0x67, 0x68, 0x67, 0x3E, 0x4D, 0x71, 0x79, 0x70, 0x64,
                0x78, 0x5C, 0x65, 0x67, 0x63, 0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x02, 0x00, 0x03,
                0x01, 0x01, 0x11, 0x00, 0xFF, 0xC4, 0x00, 0x14, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xC4,
                0x00, 0x14, 0x10, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00,
                0x3F, 0x00, 0x3F, 0xFF, 0xD9};
    TBytes emf{1, 2, 3, 4, 5};
    TBytes icon = Icon({9, 8, 7, 6});
    struct Case {
        const char* name;
        TBytes bytes;
        const char* className;
        int32_t width;
        TBytes written; // empty: the bytes themselves
    } cases[] = {
        {"bitmap", Name("TBitmap") + LE32(uint32_t(bmp.size())) + bmp, "TBitmap", 3, {}},
        {"empty bitmap", Name("TBitmap") + LE32(0), "TBitmap", 0, {}},
        {"jpeg decoded, bytes kept",
         Name("TJPEGImage") + LE32(uint32_t(jpeg.size())) + jpeg,
         "TJPEGImage",
         3,
         {}},
        {"metafile length counts itself", Name("TMetafile") + LE32(9) + emf, "TMetafile", 0, {}},
        {"empty metafile", Name("TMetafile") + LE32(3), "TMetafile", 0,
         Name("TMetafile") + LE32(4)},
        {"icon ends after its last image", Name("TIcon") + icon + TBytes{0xEE, 0xEE}, "TIcon", 16,
         Name("TIcon") + icon},
        {"further class by name",
         Name("TdxPNGImage") + TBytes{0x89, 'P', 'N', 'G'},
         "TdxPNGImage",
         0,
         {}},
        {"bytes after a bitmap are not read", Name("TBitmap") + LE32(0) + TBytes{1, 2, 3},
         "TBitmap", 0, Name("TBitmap") + LE32(0)},
    };
    for (const Case& c : cases) {
        std::unique_ptr<TGraphic> graphic = ReadPersistedGraphic(c.bytes);
        ASSERT_TRUE(graphic) << c.name;
        EXPECT_STREQ(graphic->ClassName(), c.className) << c.name;
        EXPECT_EQ(graphic->Width(), c.width) << c.name;
        EXPECT_EQ(WritePersistedGraphic(graphic.get()), c.written.empty() ? c.bytes : c.written)
            << c.name;
    }
    EXPECT_EQ(ReadPersistedGraphic(TBytes{0}), nullptr);
    EXPECT_EQ(ReadPersistedGraphic(Name("TFancyImage") + LE32(0)), nullptr);
    EXPECT_EQ(WritePersistedGraphic(nullptr), TBytes{0});
}

TEST(PersistedPicture, RefusesSizesThatDoNotFit) {
    TBytes longName = TBytes{64} + TBytes(64, 'T');
    struct Case {
        TBytes bytes;
        const char* message;
    } cases[] = {
        {longName, "Picture class name of 64 characters"},
        {TBytes{7, 'T', 'B', 'i'}, "Picture data ends inside the class name"},
        {Name("TBitmap") + TBytes{1, 0}, "Picture data of TBitmap ends inside its size"},
        {Name("TBitmap") + LE32(100) + TBytes{'B', 'M', 0},
         "Picture data of TBitmap claims 100 bytes, 3 are left"},
        {Name("TJPEGImage") + LE32(0xFFFFFFFFu),
         "Picture data of TJPEGImage claims 4294967295 bytes, 0 are left"},
        {Name("TJPEGImage") + LE32(4) + TBytes{0xFF, 0xD8, 0xFF, 0xD9},
         "JPEG image is not valid: JPEG datastream contains no image (at byte 4)"},
        {Name("TMetafile") + LE32(10) + TBytes{1},
         "Picture data of TMetafile claims 6 bytes, 1 are left"},
        {Name("TBitmap") + LE32(2) + TBytes{'X', 'X'}, "Bitmap data does not start with \"BM\""},
        {Name("TIcon") + TBytes{0, 0, 1, 0, 5, 0},
         "Icon directory of 5 images does not fit 6 bytes"},
        {Name("TIcon") + TBytes{0, 0, 1, 0, 1, 0} + TBytes(8, 0) + LE32(100) + LE32(22),
         "Icon image 0 lies outside the 22 bytes of the icon"},
        {Name("TIcon") + TBytes{1, 2, 3}, "Icon data has no icon directory"},
    };
    for (const Case& c : cases) {
        try {
            ReadPersistedGraphic(c.bytes);
            ADD_FAILURE() << c.message << ": no error";
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
}

TEST(PictureProp, TextFormRoundTripAndDecodingFailures) {
    TPropList source, target;
    auto* picture = new TPictureProp(&source, "Picture");
    TBitmap bitmap = Picture(4, 3);
    picture->SetGraphic(&bitmap);
    picture->SetMaskColor(0x123456);
    picture->SetMasked(true);
    std::string text = SaveText(source);
    EXPECT_EQ(text.rfind("property Picture\n  Graphic = {\n", 0), 0u);
    EXPECT_NE(text.find("  Masked = True\n  MaskColor = 1193046\n"), std::string::npos);
    auto* copy = new TPictureProp(&target, "Picture");
    LoadText(target, CrLfText(text));
    ASSERT_TRUE(copy->Graphic());
    EXPECT_EQ(copy->PictureSize(), TSize(4, 3));
    EXPECT_TRUE(copy->Masked());
    EXPECT_EQ(copy->MaskColor(), 0x123456);
    EXPECT_EQ(SaveText(target), text);

    // A picture that does not decode: raised with its place, or handed to the hook.
    std::string bad = "property Picture\r\n  Graphic = {\r\n  07544269746D6170FF }\r\nend\r\n";
    try {
        LoadText(target, bad);
        ADD_FAILURE() << "no error";
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), "Picture data of TBitmap ends inside its size (property "
                               "Picture.Graphic, line 3)");
    }
    EXPECT_FALSE(copy->HasPicture());
    std::vector<std::string> errors;
    copy->SetGraphic(&bitmap);
    copy->OnLoadError = [&](TPictureProp&, const Exception& e) { errors.push_back(e.Message()); };
    LoadText(target, bad + "Tag = 1\r\n");
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_FALSE(copy->HasPicture());
}

TEST(PictureProp, FramesOfABitmap) {
    TPictureProp picture(nullptr, "Picture");
    TBitmap bitmap = Picture(8, 4);
    picture.SetGraphic(&bitmap);
    picture.SetColumns(4);
    picture.SetRows(2);
    picture.SetColumns(0); // ignored
    EXPECT_EQ(picture.GetFrameSize(), TSize(2, 2));
    struct Case {
        int32_t frame;
        TRect rect;
    } cases[] = {{0, TRect(0, 0, 2, 2)},
                 {5, TRect(2, 2, 4, 4)},
                 {7, TRect(6, 2, 8, 4)},
                 {8, TRect(0, 0, 8, 4)},
                 {-1, TRect(0, 0, 8, 4)}};
    for (const Case& c : cases)
        EXPECT_EQ(picture.GetFrameRect(c.frame), c.rect) << c.frame;

    TRecordingCanvas canvas;
    picture.Draw(canvas, TRect(10, 10, 30, 30), false, 5);
    EXPECT_EQ(canvas.Log(false), "SaveState()\nIntersectClipRect(10,10,30,30)\n"
                                 "StretchDraw(10,10,30,30,TBitmap 2x2)\nRestoreState(1)\n");

    TMetafile metafile;
    metafile.SetSize(10, 10);
    picture.SetGraphic(&metafile); // not a bitmap: the grid goes
    EXPECT_EQ(picture.Columns(), 1);
    picture.SetColumns(3);
    EXPECT_EQ(picture.Columns(), 1);
    picture.SetFastBuffer(true); // any graphic may have frames then
    picture.SetColumns(2);
    EXPECT_EQ(picture.GetFrameSize(), TSize(5, 10));

    // FastBuffer is written after the grid: reading must not lose the grid of such a picture.
    TPropList list;
    auto* loaded = new TPictureProp(&list, "Picture");
    TPropList source;
    auto* original = new TPictureProp(&source, "Picture");
    original->SetGraphic(&metafile);
    original->SetFastBuffer(true);
    original->SetColumns(2);
    LoadText(list, CrLfText(SaveText(source)));
    EXPECT_EQ(loaded->Columns(), 2);
    EXPECT_TRUE(loaded->FastBuffer());
}

TEST(PictureProp, MaskedBitmapsAreCutToTheirPixels) {
    // A 2 x 1 bitmap whose left pixel is the transparent magenta, drawn at twice its size.
    TBitmap bitmap(2, 1);
    bitmap.ScanLine(0)[0] = 0xFFFF00FF;
    bitmap.ScanLine(0)[1] = 0xFFFF0000;
    bitmap.SetTransparentColor(clFuchsia);
    TPictureProp picture(nullptr, "Picture");
    picture.SetGraphic(&bitmap);
    picture.SetMasked(true);
    TRecordingCanvas canvas;
    picture.Draw(canvas, TRect(10, 10, 14, 12), true);
    EXPECT_EQ(canvas.Log(false), "SaveState()\nIntersectClipRect(10,10,14,12)\n"
                                 "CombineClipRegion([(12,10,14,12)], roAnd)\n"
                                 "StretchDraw(10,10,14,12,TBitmap 2x1)\nRestoreState(1)\n");
}

TEST(PictureProp, LinkedFilesAndEncodedOnlyPictures) {
    TBitmap bitmap = Picture(5, 4);
    std::string good = TempFile("good.bmp", bitmap.SaveToBytes());
    std::string junk = TempFile("junk.bmp", {'n', 'o', 't', ' ', 'b', 'm', 'p'});
    TPropList list;
    auto* picture = new TPictureProp(&list, "Picture");
    picture->SetLinkName(good);
    ASSERT_TRUE(picture->HasPicture());
    EXPECT_EQ(picture->PictureSize(), TSize(5, 4));
    EXPECT_FALSE(picture->IsSubPropStored("Graphic")); // the file carries it
    EXPECT_TRUE(picture->IsSubPropStored("LinkName"));
    picture->SetPropValue("Graphic", TVariant()); // a linked picture ignores Graphic
    EXPECT_TRUE(picture->HasPicture());

    picture->SetLinkName(good + ".missing");
    EXPECT_FALSE(picture->HasPicture());
    EXPECT_THROW(picture->SetLinkName(junk), EInvalidGraphic);
    EXPECT_EQ(picture->LinkName(), junk);
    EXPECT_FALSE(picture->HasPicture());
    EXPECT_THROW(picture->SetLinkName("/dev/zero"), EFOpenError); // never read endlessly
    EXPECT_EQ(ExpandProgramPath("/a/b/../c.bmp"), "/a/c.bmp");
    EXPECT_EQ(std::filesystem::path(ExpandProgramPath("pics\\plan.bmp")).filename(), "plan.bmp");
    std::filesystem::remove(good);
    std::filesystem::remove(junk);

    TPictureProp stored(nullptr, "Picture");
    stored.SetGraphic(&bitmap);
    TVariant bytes = stored.GetPropValue("Graphic");
    stored.KeepEncodedOnly();
    EXPECT_EQ(stored.Graphic(), nullptr);
    EXPECT_TRUE(stored.HasPicture());
    EXPECT_EQ(stored.PictureSize(), TSize(5, 4));
    EXPECT_EQ(stored.GetPropValue("Graphic"), bytes);
    TRecordingCanvas canvas;
    stored.Draw(canvas, TRect(0, 0, 5, 4), false);
    EXPECT_NE(canvas.Log(false).find("StretchDraw(0,0,5,4,TBitmap 5x4)"), std::string::npos);
}
