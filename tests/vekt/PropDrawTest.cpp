#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecordingCanvas.h"
#include "SysUtils.h"
#include "VektProps.h"

namespace {

// The shapes a gradient drew, each with the brush colour it was filled with.
std::string Shapes(const TRecordingCanvas& canvas) {
    std::string out;
    TColor colour = clNone;
    for (const TCanvasOp& op : canvas.Ops()) {
        if (op.Kind == TCanvasOpKind::SetBrush) colour = op.Brush.Color;
        if (op.Kind == TCanvasOpKind::Rectangle || op.Kind == TCanvasOpKind::Ellipse)
            out += Format("%06X ", colour) + op.ToString() + "\n";
    }
    return out;
}

std::shared_ptr<TBitmap> Bitmap(int32_t width, int32_t height) {
    auto bitmap = std::make_shared<TBitmap>(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            bitmap->ScanLine(y)[x] = 0xFF000000u | uint32_t(x * 40) << 16 | uint32_t(y * 40);
    return bitmap;
}

} // namespace

TEST(BrushPaint, GradientStepsOnTheRecordingCanvas) {
    struct Case {
        const char* name;
        TGradientStyle style;
        TRect rect;
        TColor begin, end;
        std::string shapes;
    } cases[] = {
        {"horizontal, three steps", gsHorizontal, TRect(0, 0, 10, 4), 0, RGB(3, 0, 0),
         "000000 Rectangle(0,0,4,5)\n000001 Rectangle(3,0,7,5)\n000003 Rectangle(6,0,11,5)\n"},
        {"vertical", gsVertical, TRect(0, 0, 4, 10), 0, RGB(0, 2, 0),
         "000000 Rectangle(0,0,5,6)\n000200 Rectangle(0,5,5,11)\n"},
        {"steps limited by the width", gsHorizontal, TRect(5, 0, 7, 3), 0, RGB(255, 0, 0),
         "000000 Rectangle(5,0,7,4)\n0000FF Rectangle(6,0,8,4)\n"},
        {"one step for equal colours", gsVertical, TRect(0, 0, 4, 4), RGB(9, 9, 9), RGB(9, 9, 9),
         "090909 Rectangle(0,0,5,5)\n"},
        {"square", gsSquare, TRect(0, 0, 10, 10), 0, RGB(0, 0, 2),
         "000000 Rectangle(0,0,11,11)\n020000 Rectangle(3,3,8,8)\n"},
        {"elliptic", gsElliptic, TRect(0, 0, 14, 14), 0, RGB(0, 0, 2),
         "000000 Ellipse(-3,-3,18,18)\n020000 Ellipse(2,2,13,13)\n"},
        {"top left runs from the end colour", gsTopLeft, TRect(0, 0, 8, 4), 0, RGB(2, 0, 0),
         "000002 Rectangle(0,0,9,5)\n000000 Rectangle(0,0,5,3)\n"},
        {"bottom right keeps its corner", gsBottomRight, TRect(0, 0, 8, 4), 0, RGB(2, 0, 0),
         "000002 Rectangle(0,0,9,5)\n000000 Rectangle(4,2,9,5)\n"},
        {"top right", gsTopRight, TRect(0, 0, 8, 4), 0, RGB(2, 0, 0),
         "000002 Rectangle(0,0,9,5)\n000000 Rectangle(4,0,9,3)\n"},
        {"nothing in an empty rectangle", gsHorizontal, TRect(3, 3, 3, 9), 0, RGB(9, 0, 0), ""},
    };
    for (const Case& c : cases) {
        TBrushProp brush(nullptr, "Brush");
        brush.SetMethod(bmGradient);
        brush.SetGradStyle(c.style);
        brush.SetGradBeginColor(c.begin);
        brush.SetGradEndColor(c.end);
        TRecordingCanvas canvas;
        TPen xorPen;
        xorPen.Mode = pmXor;
        canvas.SetPen(xorPen);
        brush.PaintSpecial(canvas, c.rect, 0, 0, TRect(-100, -100, 100, 100));
        EXPECT_EQ(Shapes(canvas), c.shapes) << c.name;
        if (!c.shapes.empty()) {
            EXPECT_EQ(canvas.Pen().Style, psSolid) << c.name; // restored afterwards
            const TCanvasOp* pen = nullptr;
            for (const TCanvasOp& op : canvas.Ops())
                if (op.Kind == TCanvasOpKind::SetPen) pen = &op;
            ASSERT_TRUE(pen) << c.name;
            EXPECT_EQ(pen->Pen.Style, psClear) << c.name;
            EXPECT_EQ(pen->Pen.Mode, pmXor) << c.name; // the mode stays as given
        }
    }
}

TEST(BrushPaint, SetupLeavesSpecialBrushesToPaintSpecial) {
    struct Case {
        TBrushMethod method;
        TColor color;
        TBrushStyle style;
        TBrushStyle result;
    } cases[] = {
        {bmHatch, clRed, bsCross, bsCross},
        {bmHatch, clNone, bsSolid, bsClear},
        {bmGradient, clRed, bsSolid, bsClear},
        {bmBitmap, clRed, bsSolid, bsClear},
    };
    for (const Case& c : cases) {
        TBrushProp brush(nullptr, "Brush");
        brush.SetMethod(c.method);
        brush.SetColor(c.color);
        brush.SetBrushStyle(c.style);
        TRecordingCanvas canvas;
        brush.Setup(canvas, 100);
        EXPECT_EQ(canvas.Brush().Style, c.result) << c.method;
    }
}

TEST(BrushPaint, BitmapsAreCentredTiledOrStretched) {
    struct Case {
        const char* name;
        TBitmapDisplay display;
        bool masked, cache;
        std::string log;
    } cases[] = {
        {"stretched", bdStretch, false, false,
         "SaveState()\nIntersectClipRect(12,12,30,30)\n"
         "StretchBitmap(10,10,20,20,2x2,(0,0,2,2))\nRestoreState(1)\n"},
        {"centred", bdCenter, false, false,
         "SaveState()\nIntersectClipRect(12,12,30,30)\n"
         "StretchBitmap(14,14,16,16,2x2,(0,0,2,2))\nRestoreState(1)\n"},
        {"tiled from the origin", bdTile, false, false,
         "SaveState()\nIntersectClipRect(12,12,30,30)\nSetBrush(bitmap=2x2)\n"
         "SetBrushOrigin(3,3)\nFillRect(12,12,20,20)\nRestoreState(1)\n"},
        {"masked tiles", bdTile, true, true,
         "SaveState()\nIntersectClipRect(12,12,30,30)\n"
         "TransparentBitmap(3,3,67,67,64x64,(0,0,64,64),$FF00FF)\nRestoreState(1)\n"},
        {"masked stretch", bdStretch, true, false,
         "SaveState()\nIntersectClipRect(12,12,30,30)\n"
         "TransparentBitmap(10,10,20,20,2x2,(0,0,2,2),$FF00FF)\nRestoreState(1)\n"},
    };
    std::shared_ptr<TBitmap> bitmap = Bitmap(2, 2);
    for (const Case& c : cases) {
        TBrushProp brush(nullptr, "Brush");
        brush.SetMethod(bmBitmap);
        brush.SetBitmap(bitmap.get());
        brush.SetBitmapDisplay(c.display);
        brush.SetBitmapMasked(c.masked);
        brush.SetBitmapMaskColor(clFuchsia);
        brush.SetBitmapCache(c.cache);
        for (int pass = 0; pass < 2; ++pass) { // a cached tile paints the same
            TRecordingCanvas canvas;
            brush.PaintSpecial(canvas, TRect(10, 10, 20, 20), 3, 3, TRect(12, 12, 30, 30));
            EXPECT_EQ(canvas.Log(), c.log) << c.name << " pass " << pass;
        }
    }
}

TEST(BrushProp, BitmapsAreBmpFileImages) {
    TBrushProp brush(nullptr, "Brush");
    std::shared_ptr<TBitmap> bitmap = Bitmap(3, 2);
    std::vector<uint8_t> bytes = bitmap->SaveToBytes();
    brush.SetPropValue("Bitmap", TVariant::Bytes(bytes));
    ASSERT_TRUE(brush.HasBitmap());
    EXPECT_EQ(brush.Bitmap()->Width(), 3);
    EXPECT_EQ(brush.GetPropValue("Bitmap"), TVariant::Bytes(bytes));
    EXPECT_THROW(brush.SetPropValue("Bitmap", TVariant::Bytes({'B', 'M', 1})), EInvalidGraphic);
    EXPECT_FALSE(brush.HasBitmap()); // dropped before the bad bytes were tried
}

TEST(PenProp, SetupAppliesThePixelPen) {
    TPenProp pen(nullptr, "Pen");
    pen.SetWidth(3000);
    pen.SetColor(clRed);
    pen.SetMode(pmXor);
    pen.SetEndCap(pecRound);
    TRecordingCanvas canvas;
    pen.Setup(canvas, 200);
    EXPECT_EQ(canvas.Pen().Width, 6);
    EXPECT_EQ(canvas.Pen().Color, clRed);
    EXPECT_EQ(canvas.Pen().Mode, pmXor);
    EXPECT_EQ(canvas.Pen().Style, psInsideFrame);
    EXPECT_EQ(canvas.Pen().Geometric, TPenProp::StyledWidePens());
    EXPECT_EQ(canvas.Pen().EndCap, pecRound);
    // Without a raster back end nothing is drawn, so the once-per-process test says no.
    EXPECT_FALSE(TPenProp::StyledWidePens());
}

TEST(FontProp, SetupScalesThePixelHeight) {
    TFontProp font(nullptr, "Font");
    font.SetFontName("Tahoma");
    font.SetFontStyles(FontStyleBit(fsBold) | FontStyleBit(fsUnderline));
    font.SetColor(clBlue);
    TRecordingCanvas canvas;
    font.Setup(canvas, 200);
    EXPECT_EQ(canvas.Font().Name, "Tahoma");
    EXPECT_EQ(canvas.Font().Height, -22);
    EXPECT_EQ(canvas.Font().Weight, kFontWeightBold);
    EXPECT_TRUE(canvas.Font().Underline);
    EXPECT_EQ(canvas.Font().Color, clBlue);
    EXPECT_EQ(font.GetFont(1).Height, -1); // not 0: that would be the default size

    TFont platform;
    platform.Name = "Calibri";
    platform.Height = -16; // 12 points at 96 pixels per inch
    platform.SetStyle(FontStyleBit(fsItalic));
    font.AssignFont(platform);
    EXPECT_EQ(font.Size(), 12000);
    EXPECT_EQ(font.Height(), -16000);
    EXPECT_EQ(font.FontStyles(), FontStyleBit(fsItalic));
}

TEST(BackgroundOptions, PlacesThePicture) {
    struct Case {
        const char* name;
        uint16_t options;
        int32_t left, top, width, height;
        TRect rect;
        int scale;
        TRect result;
    } cases[] = {
        {"centred at 100 %", TBackgroundOptionsProp::DefaultOptions, 0, 0, 0, 0,
         TRect(100, 100, 300, 200), 100, TRect(180, 140, 220, 160)},
        {"centred at 200 %", TBackgroundOptionsProp::DefaultOptions, 0, 0, 0, 0,
         TRect(100, 100, 300, 200), 200, TRect(160, 130, 240, 170)},
        {"half of an odd space rounds toward zero", 1 << bpCenterHoriz, 0, 0, 0, 0,
         TRect(0, 0, 201, 50), 100, TRect(80, 0, 120, 20)},
        {"larger than the rectangle", 1 << bpCenterHoriz | 1 << bpCenterVert, 0, 0, 0, 0,
         TRect(0, 0, 10, 10), 100, TRect(-15, -5, 25, 15)},
        {"stretched", 1 << bpStretchHoriz | 1 << bpStretchVert | 1 << bpOffsetLeft, 5000, 0, 0, 0,
         TRect(100, 100, 300, 200), 150, TRect(100, 100, 300, 200)},
        {"new size unscaled", 1 << bpNewWidth | 1 << bpNewHeight, 0, 0, 10000, 5000,
         TRect(100, 100, 300, 200), 300, TRect(100, 100, 110, 105)},
        {"new size scaled", 1 << bpNewWidth | 1 << bpScaledSize, 0, 0, 10000, 0,
         TRect(0, 0, 300, 200), 300, TRect(0, 0, 30, 60)},
        {"aligned right and bottom", 1 << bpAlignRight | 1 << bpAlignBottom, 0, 0, 0, 0,
         TRect(100, 100, 300, 200), 100, TRect(260, 180, 300, 200)},
        {"offsets", TBackgroundOptionsProp::DefaultOptions | 1 << bpOffsetLeft | 1 << bpOffsetTop,
         3000, -2000, 0, 0, TRect(100, 100, 300, 200), 100, TRect(183, 138, 223, 158)},
    };
    TPictureProp picture(nullptr, "Picture");
    picture.SetGraphic(Bitmap(40, 20).get());
    for (const Case& c : cases) {
        TBackgroundOptionsProp options(nullptr, "Background");
        options.SetPictureOptions(c.options);
        options.SetLeft(c.left);
        options.SetTop(c.top);
        options.SetWidth(c.width);
        options.SetHeight(c.height);
        EXPECT_EQ(options.GetPictureRect(picture, c.rect, c.scale), c.result) << c.name;
    }
    TPictureProp none(nullptr, "Picture");
    TBackgroundOptionsProp options(nullptr, "Background");
    EXPECT_TRUE(options.GetPictureRect(none, TRect(0, 0, 10, 10), 100).IsEmpty());
}

TEST(BackgroundOptions, PaintsBrushThenPicture) {
    TBrushProp brush(nullptr, "Brush");
    brush.SetColor(clWhite);
    TPictureProp picture(nullptr, "Picture");
    picture.SetGraphic(Bitmap(40, 20).get());
    TBackgroundOptionsProp options(nullptr, "Background");
    TRecordingCanvas canvas;
    options.PaintBackground(canvas, TRect(0, 0, 320, 240), 100, &brush, &picture);
    EXPECT_EQ(canvas.Log(false), "SaveState()\nRectangle(0,0,321,241)\nSaveState()\n"
                                 "IntersectClipRect(140,110,180,130)\n"
                                 "StretchDraw(140,110,180,130,TBitmap 40x20)\nRestoreState(2)\n"
                                 "RestoreState(1)\n");

    options.SetBrushEnabled(false);
    options.SetPictureEnabled(false);
    canvas.Clear();
    options.PaintBackground(canvas, TRect(0, 0, 320, 240), 100, &brush, &picture);
    EXPECT_EQ(canvas.Log(false), "SaveState()\nRestoreState(1)\n");
}
