#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SysUtils.h"
#include "VektProps.h"

TEST(PenProp, PixelWidthsAtSeveralScales) {
    struct Case {
        const char* name;
        int32_t width;
        int scale;
        TColor color;
        TPenStyle style;
        bool solidAsInside;
        bool styledWidePens;
        TPenStyle pixelStyle;
        int pixels;
        bool geometric;
    } cases[] = {
        {"1 unit at 10 %", 1, 10, 0, psSolid, true, true, psSolid, 1, false},
        {"1 unit at 5000 %", 1, 5000, 0, psSolid, true, true, psSolid, 1, false},
        {"1000 at 100 %", 1000, 100, 0, psSolid, true, true, psSolid, 1, false},
        {"3000 at 50 % rounds 1.5 up", 3000, 50, 0, psSolid, false, true, psSolid, 2, true},
        {"3000 at 33 %", 3000, 33, 0, psSolid, false, true, psSolid, 1, false},
        {"3000 at 100 %", 3000, 100, 0, psSolid, true, true, psInsideFrame, 3, true},
        {"3000 at 200 %", 3000, 200, 0, psSolid, true, true, psInsideFrame, 6, true},
        {"2000 at 1000 %", 2000, 1000, 0, psSolid, false, true, psSolid, 20, true},
        {"no colour", 3000, 100, clNone, psSolid, true, true, psClear, 3, true},
        {"zero width", 0, 100, 0, psSolid, true, true, psClear, 0, false},
        {"negative width", -5, 100, 0, psSolid, true, true, psClear, 0, false},
        {"dashes wide", 3000, 100, 0, psDash, true, true, psDash, 3, true},
        {"dashes without styled pens", 3000, 100, 0, psDash, true, false, psDash, 0, false},
        {"inside frame without styled pens", 3000, 100, 0, psSolid, true, false, psInsideFrame, 3,
         false},
    };
    for (const Case& c : cases) {
        TPenProp pen(nullptr, "Pen");
        pen.SetWidth(c.width);
        pen.SetColor(c.color);
        pen.SetPenStyle(c.style);
        pen.SetSolidAsInside(c.solidAsInside);
        TPenParams params = pen.GetPenParams(c.scale, c.styledWidePens);
        EXPECT_EQ(params.Style, c.pixelStyle) << c.name;
        EXPECT_EQ(params.Width, c.pixels) << c.name;
        EXPECT_EQ(params.Geometric, c.geometric) << c.name;
    }

    TPenProp round(nullptr, "Pen");
    round.SetWidth(3000);
    round.SetSolidAsInside(false);
    round.SetEndCap(pecRound);
    round.SetJoin(pjRound);
    EXPECT_FALSE(round.GetPenParams(100, true).Geometric); // a plain wide pen draws it all
}

TEST(PenProp, ActualWidth) {
    struct Case {
        int32_t width;
        TColor color;
        TPenStyle style;
        int32_t actual;
    } cases[] = {
        {3000, 0, psSolid, 3000}, {499, 0, psSolid, 1000},    {500, 0, psSolid, 500},
        {1, 0, psDot, 1000},      {3000, clNone, psSolid, 0}, {3000, 0, psClear, 0},
        {0, 0, psSolid, 0},
    };
    for (const Case& c : cases) {
        TPenProp pen(nullptr, "Pen");
        pen.SetWidth(c.width);
        pen.SetColor(c.color);
        pen.SetPenStyle(c.style);
        EXPECT_EQ(pen.GetActualWidth(), c.actual) << c.width;
    }
}

TEST(BrushProp, IsClear) {
    TBrushProp brush(nullptr, "Brush");
    EXPECT_TRUE(brush.IsClear()); // a fresh brush has no colour
    brush.SetColor(0xFFFFFF);
    EXPECT_FALSE(brush.IsClear());
    brush.SetBrushStyle(bsClear);
    EXPECT_TRUE(brush.IsClear());
    brush.SetMethod(bmGradient);
    EXPECT_FALSE(brush.IsClear());
    brush.SetMethod(bmBitmap);
    EXPECT_TRUE(brush.IsClear());
    TBitmap empty;
    brush.SetBitmap(&empty);
    EXPECT_TRUE(brush.IsClear());
    TBitmap pattern(2, 2);
    brush.SetBitmap(&pattern);
    EXPECT_FALSE(brush.IsClear());
    brush.SetPropValue("Bitmap", TVariant());
    EXPECT_TRUE(brush.IsClear());
    // Regression (fuzzer): an empty block read back as a bitmap that wrote "{ }" and then
    // read as none. Empty bytes are no bitmap.
    brush.SetPropValue("Bitmap", TVariant::Bytes({}));
    EXPECT_FALSE(brush.HasBitmap());
    EXPECT_FALSE(brush.IsSubPropStored("Bitmap"));
}

TEST(BrushProp, TranslateKeepsGradientsRight) {
    struct Case {
        TGradientStyle style;
        int rotate;
        bool mirror;
        TGradientStyle result;
        bool swapped;
    } cases[] = {
        {gsHorizontal, 0, true, gsHorizontal, true},
        {gsHorizontal, 90, false, gsVertical, true},
        {gsHorizontal, 90, true, gsVertical, false},
        {gsHorizontal, 180, false, gsHorizontal, true},
        {gsHorizontal, 270, false, gsVertical, false},
        {gsHorizontal, -90, false, gsVertical, false}, // a clockwise quarter turn
        {gsVertical, 90, false, gsHorizontal, false},
        {gsVertical, 180, false, gsVertical, true},
        {gsVertical, 270, false, gsHorizontal, true},
        {gsVertical, 0, true, gsVertical, false},
        {gsTopLeft, 90, false, gsBottomLeft, false},
        {gsTopLeft, 180, false, gsBottomRight, false},
        {gsTopRight, 90, false, gsTopLeft, false},
        {gsTopLeft, 0, true, gsTopRight, false},
        {gsBottomLeft, 0, true, gsBottomRight, false},
        {gsBottomLeft, 90, true, gsTopRight, false},
        {gsSquare, 90, true, gsSquare, false},
        {gsElliptic, 180, false, gsElliptic, false},
    };
    for (const Case& c : cases) {
        TBrushProp brush(nullptr, "Brush");
        brush.SetMethod(bmGradient);
        brush.SetGradStyle(c.style);
        brush.SetGradBeginColor(1);
        brush.SetGradEndColor(2);
        brush.Translate(c.rotate, c.mirror);
        EXPECT_EQ(brush.GradStyle(), c.result) << c.style << " " << c.rotate << " " << c.mirror;
        EXPECT_EQ(brush.GradBeginColor(), c.swapped ? 2 : 1) << c.style << " " << c.rotate;
    }
    TBrushProp hatch(nullptr, "Brush");
    hatch.SetGradBeginColor(1);
    hatch.Translate(90, true);
    EXPECT_EQ(hatch.GradStyle(), gsHorizontal);
    EXPECT_EQ(hatch.GradBeginColor(), 1);
}

TEST(FontProp, SizeAndHeightAreOneNumber) {
    TFontProp font(nullptr, "Font");
    EXPECT_EQ(font.Height(), -11000);
    EXPECT_EQ(font.Size(), 8250);
    EXPECT_EQ(font.PixelsPerInch(), 96);
    EXPECT_TRUE(font.Style() & propHasEditor);
    font.SetPropValue("Size", TVariant("12000"));
    EXPECT_EQ(font.Height(), -16000);
    font.SetPropValue("PixelsPerInch", TVariant(120)); // always 96
    EXPECT_EQ(font.GetPropValue("PixelsPerInch"), TVariant(96));
    font.AssignPlatformFont("Tahoma", 10, 1 << fsBold, 0xFF, 0, fpVariable);
    EXPECT_EQ(font.Height(), -13333);
    EXPECT_EQ(font.GetPropValue("Style"), TVariant("fsBold"));
    EXPECT_FALSE(font.Edit()); // no font dialog in this process
}

TEST(PlainProps, DisplayTextsAndDocumentUnits) {
    TIntProp plain(nullptr, "Tag");
    TIntProp units(nullptr, "Left", propDocUnits);
    TLongWordProp id(nullptr, "ID", propDocUnits);
    units.SetDisplayValue("12.3456");
    EXPECT_EQ(units.GetValue(), 12346);
    EXPECT_EQ(units.GetDisplayValue(), "12.346");
    units.SetDisplayValue("-0.0004");
    EXPECT_EQ(units.GetDisplayValue(), "0.000");
    id.SetDisplayValue("2");
    EXPECT_EQ(id.GetValue(), 2000u);
    plain.SetDisplayValue("42");
    EXPECT_EQ(plain.GetDisplayValue(), "42");
    EXPECT_THROW(units.SetDisplayValue("1,5"), EConvertError);

    int32_t external = 7;
    TIntProp bound(nullptr, "Bound");
    bound.BindTo(&external);
    bound.SetValue(9);
    EXPECT_EQ(external, 9);
    TIntProp computed(nullptr, "Computed");
    computed.SetGetter([] { return 320000; });
    EXPECT_EQ(computed.GetPropValue(""), TVariant(320000));

    TBrushProp brush(nullptr, "Brush");
    TStrListProp text(nullptr, "Text");
    TDataProp data(nullptr, "Data");
    EXPECT_EQ(brush.GetDisplayValue(), "(Brush)");
    EXPECT_EQ(text.GetDisplayValue(), "(Text)");
    EXPECT_EQ(data.GetDisplayValue(), "(Data)");
    EXPECT_TRUE(data.GetPropValue("").IsEmpty()); // no getter
    EXPECT_EQ(brush.GetPropType("BITMAP"), pkData);
    EXPECT_EQ(brush.GetPropType("Color"), pkPlain);
    EXPECT_EQ(brush.GetPropType(""), pkComplex);
}

TEST(StrListProp, LinesAndNamedValues) {
    TStrListProp list(nullptr, "UserData");
    list.SetText("a=1\r\nb\rc\nd");
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"a=1", "b", "c", "d"}));
    EXPECT_EQ(list.Text(), "a=1\r\nb\r\nc\r\nd");
    EXPECT_EQ(list.ValueByName("A"), "1");
    EXPECT_EQ(list.ValueByName("b"), "");
    list.SetValueByName(" ParadoxAFM ", "Zone");
    list.SetValueByName("a", "x=y");
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"a=x=y", "b", "c", "d", "ParadoxAFM=Zone"}));
    EXPECT_EQ(list.Count(), 5);
    list.SetPropValue("", TVariant("ignored"));
    EXPECT_EQ(list.Count(), 5);
    list.SetPropValue("", TVariant());
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(list.GetPropValue("").IsEmpty());
}

TEST(VektUtils, MulDivRoundsHalfAwayFromZero) {
    EXPECT_EQ(MulDiv(3000, 50, 100000), 2);
    EXPECT_EQ(MulDiv(-3000, 50, 100000), -2);
    EXPECT_EQ(MulDiv(-11000, 72, 96), -8250);
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(0x7FFFFFFF, 4, 1), -1);
}
