#include <gtest/gtest.h>

#include <string>

#include "Bitmap.h"
#include "Metafile.h"
#include "RecordingCanvas.h"
#include "SysUtils.h"

namespace {

// A recording canvas that also keeps what reaches the raster hooks, so the geometry the base
// class hands to a raster implementation can be checked without pixels.
class TSpyCanvas : public TRecordingCanvas {
public:
    using TRecordingCanvas::TRecordingCanvas;

    std::vector<TRegion> Fills;
    std::vector<TPenMode> FillModes;
    std::vector<TPolyFigures> Strokes;
    std::vector<TTextRun> Runs;

    // The text runs as "x,y:text" lines.
    std::string RunText() const {
        std::string s;
        for (const auto& r : Runs) {
            s += Format("%d,%d:", r.Origin.X, r.Origin.Y);
            for (char32_t c : r.Chars)
                s += char(c);
            s += "\n";
        }
        return s;
    }

protected:
    void RenderFill(const TRegion& area, const TBrush&, TPenMode mode) override {
        Fills.push_back(area);
        FillModes.push_back(mode);
    }
    void RenderStroke(const TPolyFigures& figures, const TPen&) override {
        Strokes.push_back(figures);
    }
    void RenderText(const TTextRun& run) override { Runs.push_back(run); }
};

// The synthetic font at 20 pixels: every character 10 wide, ascent 18, descent 4, cell 22.
TFont Font20() {
    TFont f;
    f.Height = -20;
    return f;
}

std::string FigureText(const TPolyFigure& f) {
    std::string s;
    for (const auto& p : f.Points)
        s += Format("(%g,%g)", p.X, p.Y);
    return s + (f.Closed ? " closed" : " open");
}

} // namespace

TEST(RecordingCanvas, LogsEachCallOnceWithItsArguments) {
    TRecordingCanvas c(TSize(100, 100));
    c.SetPen({clRed, 3, psDash, pmXor, true, pecFlat, pjBevel});
    c.SetBrush({clNone, bsCross, nullptr});
    c.Rectangle({0, 0, 10, 10});
    c.RoundRect({1, 2, 30, 40}, 6, 8);
    const TPoint tri[] = {{0, 0}, {5, 0}, {0, 5}};
    c.Polygon(tri);
    c.Pie({0, 0, 20, 20}, {20, 10}, {10, 0});
    TRect box(0, 0, 50, 20);
    const int32_t advances[] = {5, 6};
    c.ExtTextOut(1, 2, etoOpaque | etoClipped, &box, "ab", advances);
    c.DrawText("one two", box, dtWordBreak | dtCalcRect);
    TBitmap bitmap(4, 3);
    c.StretchDraw({0, 0, 8, 6}, bitmap);
    c.IntersectClipRect({0, 0, 5, 5});
    EXPECT_EQ(c.Log(), "SetPen(color=$0000FF, width=3, style=psDash, mode=pmXor, geometric, "
                       "cap=pecFlat, join=pjBevel)\n"
                       "SetBrush(color=clNone, style=bsCross)\n"
                       "Rectangle(0,0,10,10)\n"
                       "RoundRect(1,2,30,40,6,8)\n"
                       "Polygon((0,0),(5,0),(0,5))\n"
                       "Pie(0,0,20,20,(20,10),(10,0))\n"
                       "ExtTextOut(1,2,opaque|clipped,(0,0,50,20),'ab',[5,6])\n"
                       "DrawText('one two',(0,0,50,20),$0410)\n"
                       "StretchDraw(0,0,8,6,TBitmap 4x3)\n"
                       "IntersectClipRect(0,0,5,5)\n");
    EXPECT_EQ(c.Log(false).find("SetPen"), std::string::npos);
}

TEST(Canvas, ShapesHandTheirOutlineToTheRasterHooks) {
    struct Case {
        const char* name;
        TPen pen;
        const char* fill;   // the filled rectangles
        const char* stroke; // the stroked outline
    };
    const Case cases[] = {
        {"clear pen fills one pixel short of right and bottom",
         {clBlack, 1, psClear},
         "[(0,0,9,6)]",
         ""},
        {"one-pixel pen runs through the last column and row",
         {clBlack, 1, psSolid},
         "[(0,0,9,6)]",
         "(0,0)(9,0)(9,6)(0,6) closed"},
        {"inside-frame pen moves in by half its width",
         {clBlack, 5, psInsideFrame},
         "[(2,2,7,4)]",
         "(2,2)(7,2)(7,4)(2,4) closed"},
        {"wide solid pen stays centred",
         {clBlack, 5, psSolid},
         "[(0,0,9,6)]",
         "(0,0)(9,0)(9,6)(0,6) closed"},
    };
    for (const auto& c : cases) {
        TSpyCanvas spy(TSize(50, 50));
        spy.SetPen(c.pen);
        spy.SetBrush({clWhite, bsSolid, nullptr});
        spy.Rectangle({0, 0, 10, 7});
        ASSERT_EQ(spy.Fills.size(), 1u) << c.name;
        std::string fill = "[";
        for (const auto& r : spy.Fills[0].Rects())
            fill += Format("(%d,%d,%d,%d)", r.Left, r.Top, r.Right, r.Bottom);
        EXPECT_EQ(fill + "]", c.fill) << c.name;
        EXPECT_EQ(spy.Strokes.empty() ? "" : FigureText(spy.Strokes[0][0]), c.stroke) << c.name;
    }
}

TEST(Canvas, RasterModesReachShapesButNotFillRectOrText) {
    TSpyCanvas spy(TSize(50, 50));
    spy.SetPen({clBlack, 1, psSolid, pmXor});
    spy.SetBrush({clRed, bsSolid, nullptr});
    spy.Ellipse({0, 0, 10, 10});
    spy.FillRect({0, 0, 10, 10});
    spy.TextOut(0, 0, "a");
    ASSERT_EQ(spy.FillModes.size(), 3u); // ellipse, rectangle, text background
    EXPECT_EQ(spy.FillModes[0], pmXor);
    EXPECT_EQ(spy.FillModes[1], pmCopy);
    EXPECT_EQ(spy.FillModes[2], pmCopy);
    // pmNop draws nothing at all.
    spy.SetPen({clBlack, 1, psSolid, pmNop});
    spy.Rectangle({0, 0, 10, 10});
    EXPECT_EQ(spy.FillModes.size(), 3u);
    EXPECT_EQ(spy.Strokes.size(), 1u);
}

TEST(Canvas, FillsAreClipped) {
    TSpyCanvas spy(TSize(20, 20));
    spy.FillRect({-5, -5, 30, 30});
    spy.IntersectClipRect({2, 3, 8, 9});
    spy.ExcludeClipRect({2, 3, 8, 4});
    spy.FillRect({0, 0, 5, 5});
    ASSERT_EQ(spy.Fills.size(), 2u);
    EXPECT_EQ(spy.Fills[0], TRegion(TRect(0, 0, 20, 20)));
    EXPECT_EQ(spy.Fills[1], TRegion(TRect(2, 4, 5, 5)));
    // Nothing inside the clip: the hook is not called.
    spy.FillRect({10, 10, 12, 12});
    EXPECT_EQ(spy.Fills.size(), 2u);
}

TEST(Canvas, RecordsPathsAndReadsThemBack) {
    TSpyCanvas c(TSize(100, 100));
    EXPECT_FALSE(c.EndPath());
    c.BeginPath();
    c.MoveTo(0, 0);
    c.LineTo(10, 0);
    c.LineTo(10, 10);
    EXPECT_TRUE(c.CloseFigure());
    c.Rectangle({20, 20, 30, 30});
    c.Ellipse({0, 0, 11, 11});
    EXPECT_FALSE(c.StrokePath()); // still open
    EXPECT_TRUE(c.EndPath());
    EXPECT_TRUE(c.Strokes.empty() && c.Fills.empty()) << "a path draws nothing while recorded";

    std::vector<TPoint> points;
    std::vector<uint8_t> types;
    ASSERT_TRUE(c.GetPath(points, types));
    ASSERT_EQ(points.size(), 3u + 4u + 13u);
    const std::vector<uint8_t> head = {pptMoveTo, pptLineTo, pptLineTo | pptCloseFigure, pptMoveTo,
                                       pptLineTo, pptLineTo, pptLineTo | pptCloseFigure, pptMoveTo};
    EXPECT_EQ(std::vector<uint8_t>(types.begin(), types.begin() + 8), head);
    EXPECT_EQ(points[5], TPoint(29, 29)) << "a rectangle in a path ends at right - 1";
    EXPECT_EQ(points[7], TPoint(10, 5)) << "the ellipse starts at its right end";
    EXPECT_EQ(types.back(), pptBezierTo | pptCloseFigure);

    ASSERT_TRUE(c.FlattenPath());
    ASSERT_TRUE(c.GetPath(points, types));
    EXPECT_EQ(std::count(types.begin(), types.end(), pptBezierTo), 0);
    EXPECT_EQ(types.back() & pptCloseFigure, pptCloseFigure);
    for (size_t i = 7; i < points.size(); ++i)
        EXPECT_TRUE(TRect(0, 0, 11, 11).Contains(points[i])) << i;

    EXPECT_TRUE(c.StrokePath());
    EXPECT_EQ(c.Strokes.size(), 1u);
    EXPECT_EQ(c.Strokes[0].size(), 3u);
    EXPECT_FALSE(c.GetPath(points, types)) << "stroking consumes the path";
}

TEST(Canvas, PathsBecomeClipRegions) {
    TSpyCanvas c(TSize(20, 20));
    const TPoint triangle[] = {{0, 0}, {6, 0}, {0, 6}};
    c.BeginPath();
    c.Polygon(triangle);
    c.EndPath();
    EXPECT_TRUE(c.SelectClipPath(roCopy));
    TRegion clip;
    ASSERT_TRUE(c.GetClipRegion(clip));
    EXPECT_EQ(clip, TRegion::Polygon(triangle, fmAlternate));
    c.BeginPath();
    c.Rectangle({2, 0, 10, 10});
    c.EndPath();
    EXPECT_EQ(c.PathToRegion(), TRegion(TRect(2, 0, 9, 9)));
}

TEST(Canvas, SavesAndRestoresStateAndClip) {
    TRecordingCanvas c(TSize(40, 40));
    c.IntersectClipRect({0, 0, 20, 20});
    int first = c.SaveState();
    c.SetPen({clRed, 4});
    c.IntersectClipRect({5, 5, 30, 30});
    c.PushClip();
    c.ExcludeClipRect({5, 5, 20, 10});
    EXPECT_EQ(c.ClipBox(), TRect(5, 10, 20, 20));
    c.PopClip();
    EXPECT_EQ(c.ClipBox(), TRect(5, 5, 20, 20));
    c.SaveState();
    c.SetClipRegion(nullptr);
    EXPECT_EQ(c.ClipBox(), TRect(0, 0, 40, 40));
    c.RestoreState(5); // never saved: nothing happens
    EXPECT_EQ(c.ClipBox(), TRect(0, 0, 40, 40));
    c.RestoreState(first);
    EXPECT_EQ(c.ClipBox(), TRect(0, 0, 20, 20));
    EXPECT_EQ(c.Pen().Color, clBlack);
    c.RestoreState(); // both saves are gone
    EXPECT_EQ(c.ClipBox(), TRect(0, 0, 20, 20));
}

TEST(Canvas, PlacesTextAtItsReferencePoint) {
    struct Case {
        const char* name;
        uint32_t align;
        int32_t escapement;
        std::vector<int32_t> advances;
        const char* run; // origin and positions
    };
    const Case cases[] = {
        {"top left: the baseline is the ascent down", taLeft | taTop, 0, {}, "5,25 0,10,20"},
        {"centre and baseline", taCenter | taBaseline, 0, {}, "-10,7 0,10,20"},
        {"right and bottom", taRight | taBottom, 0, {}, "-25,3 0,10,20"},
        {"explicit advances", taLeft | taTop, 0, {3, 4}, "5,25 0,3,7"},
        {"turned a quarter: the baseline runs up", taLeft | taTop, 900, {}, "23,7 0,10,20"},
    };
    for (const auto& c : cases) {
        TSpyCanvas spy(TSize(100, 100));
        TFont font = Font20();
        font.Escapement = c.escapement;
        spy.SetFont(font);
        spy.SetTextAlign(c.align);
        spy.ExtTextOut(5, 7, 0, nullptr, "abc", c.advances);
        ASSERT_EQ(spy.Runs.size(), 1u) << c.name;
        const auto& r = spy.Runs[0];
        std::string got = Format("%d,%d %d,%d,%d", r.Origin.X, r.Origin.Y, r.Positions[0],
                                 r.Positions[1], r.Positions[2]);
        EXPECT_EQ(got, c.run) << c.name;
    }
}

TEST(Canvas, OpaqueBackgroundFillsTheTextCells) {
    TSpyCanvas spy(TSize(100, 100));
    spy.SetFont(Font20());
    spy.SetBrush({clYellow, bsSolid, nullptr}); // a solid brush makes the background opaque
    spy.TextOut(10, 10, "ab");
    ASSERT_EQ(spy.Fills.size(), 1u);
    EXPECT_EQ(spy.Fills[0], TRegion(TRect(10, 10, 30, 32)));
    spy.SetBrush({clYellow, bsClear, nullptr});
    spy.TextOut(10, 10, "ab");
    EXPECT_EQ(spy.Fills.size(), 1u);
}

TEST(Canvas, DrawTextLaysOutLines) {
    struct Case {
        const char* name;
        const char* text;
        uint32_t format;
        const char* lines;
    };
    const Case cases[] = {
        {"word break", "aa bb cc", dtWordBreak, "0,18:aa\n0,40:bb\n0,62:cc\n"},
        {"centred lines", "aa bb cc", dtWordBreak | dtCenter, "7,18:aa\n7,40:bb\n7,62:cc\n"},
        {"right aligned", "aa", dtRight, "15,18:aa\n"},
        {"a long word stays whole", "abcdefgh ij", dtWordBreak, "0,18:abcdefgh\n0,40:ij\n"},
        {"line breaks of every kind", "a\r\nb\n\rc\rd\ne", 0,
         "0,18:a\n0,40:b\n0,62:c\n0,84:d\n0,106:e\n"},
        {"an empty line between breaks", "abc\r\n\r\ndef", 0, "0,18:abc\n0,62:def\n"},
        {"prefixes", "&File && more", 0, "0,18:File & more\n"},
        {"no prefixes", "&File", dtNoPrefix, "0,18:&File\n"},
        {"single line centred vertically", "ab", dtSingleLine | dtVCenter, "0,57:ab\n"},
        {"single line at the bottom", "ab", dtSingleLine | dtBottom, "0,96:ab\n"},
    };
    for (const auto& c : cases) {
        TSpyCanvas spy(TSize(200, 200));
        spy.SetFont(Font20());
        spy.SetBrush({clWhite, bsClear, nullptr});
        TRect rect(0, 0, 35, 100);
        spy.DrawText(c.text, rect, c.format);
        EXPECT_EQ(spy.RunText(), c.lines) << c.name;
    }
}

TEST(Canvas, DrawTextMeasuresAndExpandsTabs) {
    TSpyCanvas spy(TSize(200, 200));
    spy.SetFont(Font20());
    struct Case {
        const char* text;
        uint32_t format;
        TRect result;
        int32_t height;
    };
    const Case cases[] = {
        {"aa bb cc", dtWordBreak | dtCalcRect, {0, 0, 35, 66}, 66}, // width kept
        {"aa bb", dtWordBreak | dtCalcRect, {0, 0, 35, 44}, 44},
        {"abcdefgh ij", dtWordBreak | dtCalcRect, {0, 0, 80, 44}, 44}, // widened for the word
        {"abc\r\n\r\ndef", dtCalcRect, {0, 0, 30, 66}, 66},
        {"abc", dtCalcRect, {0, 0, 30, 22}, 22},
        {"", dtCalcRect, {0, 0, 0, 0}, 0},
    };
    for (const auto& c : cases) {
        TRect rect(0, 0, 35, 100);
        EXPECT_EQ(spy.DrawText(c.text, rect, c.format), c.height) << c.text;
        EXPECT_EQ(rect, c.result) << c.text;
    }
    EXPECT_TRUE(spy.Runs.empty()) << "measuring draws nothing";

    TRect rect(0, 0, 200, 100);
    spy.DrawText("a\tb", rect, dtExpandTabs);
    ASSERT_EQ(spy.Runs.size(), 1u);
    EXPECT_EQ(spy.Runs[0].Positions, (std::vector<int32_t>{0, 10, 80}));
}

TEST(Canvas, ReportsSyntheticMetricsAtDesignSize) {
    TRecordingCanvas c;
    TFont font;
    font.Height = -2048;
    c.SetFont(font);
    TOutlineTextMetric otm;
    ASSERT_TRUE(c.GetOutlineTextMetrics(otm));
    EXPECT_EQ(otm.EmSquare, 2048u);
    EXPECT_EQ(otm.TextMetric.Height, 2288);
    EXPECT_EQ(otm.TextMetric.ExternalLeading, 67);
    int32_t widths[256];
    TABC abc[256];
    ASSERT_TRUE(c.GetCharWidths(0, 255, widths));
    ASSERT_TRUE(c.GetCharABCWidths(0, 255, abc));
    EXPECT_EQ(widths[int('A')], 1024);
    EXPECT_EQ(abc[int('A')], (TABC{64, 896, 64}));
    EXPECT_FALSE(c.GetCharWidths(10, 256, widths));
    c.SetOutlineFonts(false);
    EXPECT_FALSE(c.GetOutlineTextMetrics(otm));
    EXPECT_FALSE(c.GetTextMetrics().Outline);
}

TEST(RecordingCanvas, PlaysBackScaledIntoARectangle) {
    TRecordingCanvas picture(TSize(10, 10));
    picture.SetPen({clBlue, 2, psSolid, pmCopy, true, pecFlat, pjMiter});
    picture.Rectangle({1, 1, 5, 5});
    picture.SetPen({clBlue, 1});
    picture.MoveTo(0, 9);
    picture.LineTo(9, 0);
    TFont font = Font20();
    font.Height = -4;
    picture.SetFont(font);
    const int32_t advances[] = {3, 3, 3};
    picture.ExtTextOut(1, 1, 0, nullptr, "abc", advances);
    picture.SetClipRegion(nullptr);

    TRecordingCanvas target(TSize(100, 100));
    target.IntersectClipRect({0, 0, 50, 50});
    target.Clear();
    picture.PlayTo(target, {10, 20, 25, 40}); // 1.5 across, 2 down
    EXPECT_EQ(target.Log(), "SaveState()\n"
                            "SetPen(color=$FF0000, width=4, style=psSolid, mode=pmCopy, geometric, "
                            "cap=pecFlat, join=pjMiter)\n"
                            "Rectangle(12,22,18,30)\n"
                            "SetPen(color=$FF0000, width=1, style=psSolid, mode=pmCopy)\n"
                            "MoveTo(10,38)\n"
                            "LineTo(24,20)\n"
                            "SetFont(name='Arial', height=-8, weight=400, charset=1, "
                            "color=$000000)\n"
                            "ExtTextOut(12,22,0,nil,'abc',[5,4,5])\n"
                            "SetClipRegion([(0,0,50,50)])\n"
                            "RestoreState(1)\n");
    EXPECT_EQ(target.ClipBox(), TRect(0, 0, 50, 50));
}

TEST(Metafile, RecordsCopiesAndKeepsForeignBytes) {
    TMetafile picture;
    picture.SetSize(20, 10);
    picture.Canvas().Ellipse({0, 0, 20, 10});
    std::unique_ptr<TGraphic> copy = picture.Clone();
    EXPECT_EQ(copy->Width(), 20);
    TRecordingCanvas target(TSize(100, 100));
    copy->Draw(target, {0, 0, 40, 20});
    EXPECT_NE(target.Log().find("Ellipse(0,0,40,20)"), std::string::npos);
    EXPECT_TRUE(picture.SaveToBytes().empty());

    // An enhanced metafile header with a frame of 2540 x 1270 hundredths of a millimetre.
    std::vector<uint8_t> emf(88, 0);
    auto put = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            emf[at + i] = uint8_t(v >> (8 * i));
    };
    put(0, 1);
    put(4, 88);
    put(32, 2540);
    put(36, 1270);
    put(40, 0x464D4520);
    TMetafile foreign;
    foreign.LoadFromBytes(emf);
    EXPECT_EQ(foreign.Width(), 96);
    EXPECT_EQ(foreign.Height(), 48);
    EXPECT_EQ(foreign.SaveToBytes(), emf);
}
