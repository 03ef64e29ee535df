#include <gtest/gtest.h>

#include <string>

#include "Bitmap.h"
#include "Metafile.h"
#include "QtCanvas.h"
#include "QtFonts.h"
#include "SysUtils.h"

namespace {

class TQtEnvironment : public testing::Environment {
public:
    void SetUp() override { InstallQtCanvasBackend(); }
};
const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new TQtEnvironment);

constexpr uint32_t kWhite = 0xFFFFFF;

// A white device bitmap of w x h.
TBitmap Surface(int w, int h, TPixelFormat format = pfDevice) {
    TBitmap b(w, h, format);
    b.Fill(format == pfDevice ? 0xFFFFFFFF : 0xFF000000);
    return b;
}

// '#' where the pixel differs from `background`, '.' elsewhere, one row per line.
std::string Mask(const TBitmap& b, uint32_t background = kWhite, int w = -1, int h = -1) {
    std::string s;
    for (int y = 0; y < (h < 0 ? b.Height() : h); ++y) {
        for (int x = 0; x < (w < 0 ? b.Width() : w); ++x)
            s += (b.ScanLine(y)[x] & 0xFFFFFF) == background ? '.' : '#';
        s += '\n';
    }
    return s;
}

std::string Row(const TBitmap& b, int y, uint32_t background = kWhite) {
    std::string s;
    for (int x = 0; x < b.Width(); ++x)
        s += (b.ScanLine(y)[x] & 0xFFFFFF) == background ? '.' : '#';
    return s;
}

// The ink columns of a bitmap: for each column, whether any pixel in it is not white.
std::vector<int> InkColumns(const TBitmap& b) {
    std::vector<int> columns;
    for (int x = 0; x < b.Width(); ++x)
        for (int y = 0; y < b.Height(); ++y)
            if ((b.ScanLine(y)[x] & 0xFFFFFF) != kWhite) {
                columns.push_back(x);
                break;
            }
    return columns;
}

} // namespace

TEST(QtCanvasPixels, PensKeepTheirWidthsStylesAndEnds) {
    struct Case {
        const char* name;
        TPen pen;
        const char* rows; // rows 0..6 of a 24 x 7 surface, line from (2, 3) to (20, 3)
    };
    const Case cases[] = {
        {"one pixel, last pixel left out",
         {clBlack, 1},
         "........................\n........................\n........................\n"
         "..##################....\n........................\n........................\n"
         "........................\n"},
        {"width 0 is one pixel too",
         {clBlack, 0},
         "........................\n........................\n........................\n"
         "..##################....\n........................\n........................\n"
         "........................\n"},
        {"geometric flat ends at its points",
         {clBlack, 3, psSolid, pmCopy, true, pecFlat},
         "........................\n........................\n..##################....\n"
         "..##################....\n..##################....\n........................\n"
         "........................\n"},
        {"geometric square ends half a width out",
         {clBlack, 3, psSolid, pmCopy, true, pecSquare},
         "........................\n........................\n.#####################..\n"
         ".#####################..\n.#####################..\n........................\n"
         "........................\n"},
        {"cosmetic dots three on three off",
         {clBlack, 1, psDot},
         "........................\n........................\n........................\n"
         "..###...###...###.......\n........................\n........................\n"
         "........................\n"},
        {"a plain wide dashed pen draws solid and round",
         {clBlack, 3, psDash},
         "........................\n........................\n.#####################..\n"
         ".#####################..\n.#####################..\n........................\n"
         "........................\n"},
        {"geometric dots are a width long, two widths apart",
         {clBlack, 3, psDot, pmCopy, true, pecFlat},
         "........................\n........................\n..###......###..........\n"
         "..###......###..........\n..###......###..........\n........................\n"
         "........................\n"},
    };
    for (const auto& c : cases) {
        TBitmap b = Surface(24, 7);
        TCanvas& canvas = b.Canvas();
        canvas.SetPen(c.pen);
        canvas.MoveTo(2, 3);
        canvas.LineTo(20, 3);
        EXPECT_EQ(Mask(b), c.rows) << c.name;
    }
}

TEST(QtCanvasPixels, CosmeticDashesTakeTheBackgroundInTheirGaps) {
    TBitmap b = Surface(30, 1);
    TCanvas& c = b.Canvas();
    c.SetBrush({clRed, bsSolid, nullptr}); // opaque background in the brush colour
    c.SetPen({clBlack, 1, psDash});
    c.MoveTo(0, 0);
    c.LineTo(30, 0);
    std::string row;
    for (int x = 0; x < 30; ++x) {
        uint32_t p = b.ScanLine(0)[x] & 0xFFFFFF;
        row += p == 0 ? '#' : p == 0xFF0000 ? 'r' : '.';
    }
    EXPECT_EQ(row, "##################rrrrrr######");
}

TEST(QtCanvasPixels, RectanglesLeaveOutTheRightAndBottomEdge) {
    struct Case {
        const char* name;
        TPen pen;
        TRect rect;
        const char* mask; // 10 x 8: '#' pen, 'o' brush
    };
    const Case cases[] = {
        {"one-pixel outline on the last column and row",
         {clBlack, 1},
         {1, 1, 8, 6},
         "..........\n.#######..\n.#ooooo#..\n.#ooooo#..\n.#ooooo#..\n.#######..\n..........\n"
         "..........\n"},
        {"clear pen fills one short",
         {clBlack, 1, psClear},
         {1, 1, 8, 6},
         "..........\n.oooooo...\n.oooooo...\n.oooooo...\n.oooooo...\n..........\n..........\n"
         "..........\n"},
        {"inside frame stays in the rectangle",
         {clBlack, 3, psInsideFrame},
         {1, 0, 9, 8},
         ".########.\n.########.\n.########.\n.###oo###.\n.###oo###.\n.########.\n.########.\n"
         ".########.\n"},
        {"a wide solid pen straddles the outline",
         {clBlack, 3},
         {2, 2, 8, 7},
         "..........\n.########.\n.########.\n.########.\n.###oo###.\n.########.\n.########.\n"
         ".########.\n"},
    };
    for (const auto& c : cases) {
        TBitmap b = Surface(10, 8);
        TCanvas& canvas = b.Canvas();
        canvas.SetPen(c.pen);
        canvas.SetBrush({clBlue, bsSolid, nullptr});
        canvas.Rectangle(c.rect);
        std::string mask;
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 10; ++x) {
                uint32_t p = b.ScanLine(y)[x] & 0xFFFFFF;
                mask += p == 0 ? '#' : p == 0x0000FF ? 'o' : '.';
            }
            mask += '\n';
        }
        EXPECT_EQ(mask, c.mask) << c.name;
    }
    TBitmap b = Surface(10, 4);
    b.Canvas().SetBrush({clBlack, bsSolid, nullptr});
    b.Canvas().FillRect({2, 1, 6, 3});
    EXPECT_EQ(Mask(b), "..........\n..####....\n..####....\n..........\n");
}

TEST(QtCanvasPixels, EllipsesFitTheirRectangle) {
    TBitmap b = Surface(12, 10);
    TCanvas& c = b.Canvas();
    c.SetBrush({clBlue, bsSolid, nullptr});
    c.Ellipse({1, 1, 11, 9});
    std::string mask = Mask(b);
    // The outline touches every side of the rectangle and nothing outside it.
    EXPECT_EQ(Row(b, 0), "............");
    EXPECT_EQ(Row(b, 9), "............");
    EXPECT_NE(Row(b, 1).find('#'), std::string::npos);
    EXPECT_NE(Row(b, 8).find('#'), std::string::npos);
    for (int y = 0; y < 10; ++y) {
        EXPECT_EQ(Row(b, y)[0], '.');
        EXPECT_EQ(Row(b, y)[11], '.');
    }
    EXPECT_EQ(Row(b, 4)[1], '#');
    EXPECT_EQ(Row(b, 4)[10], '#');
    // Left-right symmetric.
    for (int y = 0; y < 10; ++y) {
        std::string row = Row(b, y), mirrored(row.rbegin(), row.rend());
        EXPECT_EQ(row.substr(1, 10), mirrored.substr(1, 10)) << mask;
    }
}

TEST(QtCanvasPixels, ArcsPiesAndChordsKeepToTheirSweep) {
    // Counter-clockwise from the ray through the start point to the ray through the end
    // point: here the upper right quarter (Pie), the upper half (Chord, Arc).
    struct Case {
        const char* name;
        void (TCanvas::*shape)(const TRect&, TPoint, TPoint);
        TPoint start, end;
        TRect allowed;  // every painted pixel lies here
        TPoint painted; // and this one is painted
    };
    const Case cases[] = {
        {"pie, upper right quarter", &TCanvas::Pie, {20, 10}, {10, 0}, {10, 0, 21, 11}, {15, 5}},
        {"chord, upper half", &TCanvas::Chord, {20, 10}, {0, 10}, {0, 0, 21, 11}, {10, 5}},
        {"arc, upper half, outline only",
         &TCanvas::Arc,
         {20, 10},
         {0, 10},
         {0, 0, 21, 11},
         {10, 0}},
        {"arc the other way round, lower half",
         &TCanvas::Arc,
         {0, 10},
         {20, 10},
         {0, 10, 21, 21},
         {10, 20}},
    };
    for (const auto& c : cases) {
        TBitmap b = Surface(22, 22);
        TCanvas& canvas = b.Canvas();
        canvas.SetBrush({clBlue, bsSolid, nullptr});
        (canvas.*c.shape)({0, 0, 21, 21}, c.start, c.end);
        for (int y = 0; y < 22; ++y)
            for (int x = 0; x < 22; ++x) {
                if ((b.ScanLine(y)[x] & 0xFFFFFF) != kWhite) {
                    EXPECT_TRUE(c.allowed.Contains(x, y)) << c.name << " at " << x << "," << y;
                }
            }
        EXPECT_NE(b.ScanLine(c.painted.Y)[c.painted.X] & 0xFFFFFF, kWhite) << c.name;
    }
    // An arc leaves its middle alone; a Bezier runs through its end points.
    TBitmap b = Surface(22, 22);
    b.Canvas().Arc({0, 0, 21, 21}, {20, 10}, {0, 10});
    EXPECT_EQ(b.ScanLine(5)[10] & 0xFFFFFF, kWhite);
    const TPoint curve[] = {{1, 20}, {5, 1}, {15, 1}, {20, 20}};
    b.Canvas().PolyBezier(curve);
    EXPECT_NE(b.ScanLine(20)[1] & 0xFFFFFF, kWhite);
    EXPECT_NE(b.ScanLine(6)[10] & 0xFFFFFF, kWhite) << "the top of the curve";
}

TEST(QtCanvasPixels, HatchesFollowTheirPatternFromTheBrushOrigin) {
    struct Case {
        TBrushStyle style;
        const char* pattern; // 8 rows of 8
    };
    const Case cases[] = {
        {bsHorizontal, "########........................................................"},
        {bsVertical, "#.......#.......#.......#.......#.......#.......#.......#......."},
        {bsFDiagonal, "#........#........#........#........#........#........#........#"},
        {bsBDiagonal, ".......#......#......#......#......#......#......#......#......."},
        {bsCross, "#########.......#.......#.......#.......#.......#.......#......."},
        {bsDiagCross, "#......#.#....#...#..#.....##......##.....#..#...#....#.#......#"},
    };
    for (const auto& c : cases)
        for (TPoint origin : {TPoint(0, 0), TPoint(3, 5)}) {
            TBitmap b = Surface(16, 16);
            TCanvas& canvas = b.Canvas();
            canvas.SetBrushOrigin(origin);
            canvas.SetBrush({clBlack, c.style, nullptr});
            canvas.FillRect({0, 0, 16, 16});
            std::string want, got = Mask(b);
            for (int y = 0; y < 16; ++y) {
                for (int x = 0; x < 16; ++x)
                    want += c.pattern[((y - origin.Y) & 7) * 8 + ((x - origin.X) & 7)];
                want += '\n';
            }
            EXPECT_EQ(got, want) << kBrushStyleNames[c.style] << " from " << origin.X << ","
                                 << origin.Y;
        }
    // A bitmap brush tiles its pattern from the origin as well.
    auto tile = std::make_shared<TBitmap>(3, 1);
    tile->ScanLine(0)[0] = 0xFF000000;
    TBitmap p = Surface(8, 1);
    p.Canvas().SetBrushOrigin({1, 0});
    p.Canvas().SetBrush({clRed, bsSolid, tile});
    p.Canvas().FillRect({0, 0, 8, 1});
    EXPECT_EQ(Mask(p), ".#..#..#\n");
    // With an opaque background the gaps take the background colour.
    TBitmap b = Surface(8, 1);
    b.Canvas().SetBrush({clBlack, bsVertical, nullptr});
    b.Canvas().SetBkMode(bkOpaque);
    b.Canvas().SetBkColor(clRed);
    b.Canvas().FillRect({0, 0, 8, 1});
    EXPECT_EQ(b.ScanLine(0)[0] & 0xFFFFFF, 0u);
    EXPECT_EQ(b.ScanLine(0)[1] & 0xFFFFFF, 0xFF0000u);
}

TEST(QtCanvasPixels, RasterModesCombinePenAndSurface) {
    const uint32_t surface = 0x5AA5F0;
    const TColor pen = PixelToColor(0x3C0FF0);
    struct Case {
        TPenMode mode;
        uint32_t result;
    };
    const Case cases[] = {
        {pmBlack, 0x000000},       {pmWhite, 0xFFFFFF},      {pmNop, 0x5AA5F0},
        {pmNot, 0xA55A0F},         {pmCopy, 0x3C0FF0},       {pmNotCopy, 0xC3F00F},
        {pmMergePenNot, 0xBD5FFF}, {pmMaskPenNot, 0x240A00}, {pmMergeNotPen, 0xDBF5FF},
        {pmMaskNotPen, 0x42A000},  {pmMerge, 0x7EAFF0},      {pmNotMerge, 0x81500F},
        {pmMask, 0x1805F0},        {pmNotMask, 0xE7FA0F},    {pmXor, 0x66AA00},
        {pmNotXor, 0x9955FF},
    };
    for (const auto& c : cases) {
        TBitmap b(6, 3);
        b.Fill(surface);
        TCanvas& canvas = b.Canvas();
        canvas.SetPen({pen, 1, psSolid, c.mode});
        canvas.SetBrush({pen, bsSolid, nullptr});
        canvas.Rectangle({0, 0, 6, 2}); // outline and interior
        canvas.MoveTo(0, 2);
        canvas.LineTo(6, 2); // a line
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 6; ++x)
                ASSERT_EQ(b.ScanLine(y)[x] & 0xFFFFFF, c.result)
                    << kPenModeNames[c.mode] << " at " << x << "," << y;
    }
    // Exclusive or twice restores the surface.
    TBitmap b(6, 6);
    b.Fill(surface);
    TCanvas& canvas = b.Canvas();
    canvas.SetPen({pen, 1, psSolid, pmXor});
    canvas.SetBrush({pen, bsSolid, nullptr});
    for (int i = 0; i < 2; ++i) {
        canvas.Ellipse({0, 0, 6, 6});
        canvas.MoveTo(0, 5);
        canvas.LineTo(5, 0);
    }
    EXPECT_EQ(Mask(b, surface), std::string(6, '.') + "\n" + std::string(6, '.') + "\n" +
                                    std::string(6, '.') + "\n" + std::string(6, '.') + "\n" +
                                    std::string(6, '.') + "\n" + std::string(6, '.') + "\n");
}

TEST(QtCanvasPixels, DrawsOnlyInsideTheClip) {
    TBitmap b = Surface(16, 12);
    TCanvas& c = b.Canvas();
    TRegion clip = TRegion::Ellipse({2, 1, 14, 11});
    c.SetClipRegion(&clip);
    c.SetBrush({clBlack, bsSolid, nullptr});
    c.FillRect({0, 0, 16, 12});
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x)
            EXPECT_EQ((b.ScanLine(y)[x] & 0xFFFFFF) == 0, clip.Contains(x, y)) << x << "," << y;
    // Lines, wide pens and text stay inside as well.
    TBitmap d = Surface(16, 12);
    TCanvas& e = d.Canvas();
    e.SetClipRegion(&clip);
    e.SetPen({clBlack, 1});
    e.MoveTo(0, 0);
    e.LineTo(16, 12);
    e.SetPen({clBlack, 4, psSolid, pmXor, true});
    e.MoveTo(0, 11);
    e.LineTo(16, 0);
    TFont font;
    font.Height = -12;
    e.SetFont(font);
    e.TextOut(0, 0, "WWWW");
    int inside = 0;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x)
            if ((d.ScanLine(y)[x] & 0xFFFFFF) != kWhite) {
                EXPECT_TRUE(clip.Contains(x, y)) << x << "," << y;
                ++inside;
            }
    EXPECT_GT(inside, 20);

    // A rectangular clip takes the quicker way through the line stepper; it holds as well.
    TBitmap r = Surface(16, 12);
    TCanvas& q = r.Canvas();
    TRect box(3, 2, 11, 9);
    q.IntersectClipRect(box);
    q.SetBrush({clWhite, bsClear, nullptr});
    q.MoveTo(0, 0);
    q.LineTo(16, 12);
    q.Rectangle({5, 0, 9, 12}); // its sides cross the box
    int painted = 0;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x)
            if ((r.ScanLine(y)[x] & 0xFFFFFF) != kWhite) {
                EXPECT_TRUE(box.Contains(x, y)) << x << "," << y;
                ++painted;
            }
    EXPECT_EQ(painted, 8 + 2 * 7 - 2); // the diagonal, two sides, where they cross
}

TEST(QtCanvasText, ArialHasItsDesignMetrics) {
    EXPECT_EQ(QtFonts::MapFontFamily("Arial"), "Liberation Sans");
    EXPECT_EQ(QtFonts::MapFontFamily("times new roman"), "Liberation Serif");
    EXPECT_EQ(QtFonts::MapFontFamily("Courier New"), "Liberation Mono");
    EXPECT_EQ(QtFonts::MapFontFamily("Calibri"), "Carlito");
    EXPECT_EQ(QtFonts::MapFontFamily("Tahoma"), "DejaVu Sans");
    EXPECT_EQ(QtFonts::MapFontFamily("No Such Face"), "DejaVu Sans");
    EXPECT_EQ(QtFonts::MapFontFamily(""), "DejaVu Sans");

    TBitmap b = Surface(4, 4);
    TCanvas& c = b.Canvas();
    TFont font;
    font.Name = "Arial";
    font.Height = -2048;
    c.SetFont(font);
    TOutlineTextMetric otm;
    ASSERT_TRUE(c.GetOutlineTextMetrics(otm));
    EXPECT_EQ(otm.EmSquare, 2048u);
    EXPECT_EQ(otm.TextMetric.Ascent, 1854);
    EXPECT_EQ(otm.TextMetric.Descent, 434);
    EXPECT_EQ(otm.TextMetric.Height, 2288);
    EXPECT_EQ(otm.TextMetric.ExternalLeading, 67);
    EXPECT_TRUE(otm.TextMetric.Outline);
    int32_t widths[256];
    TABC abc[256];
    ASSERT_TRUE(c.GetCharWidths(0, 255, widths));
    ASSERT_TRUE(c.GetCharABCWidths(0, 255, abc));
    EXPECT_EQ(widths[int('A')], 1366);
    EXPECT_EQ(widths[int(' ')], 569);
    EXPECT_EQ(abc[int('A')].A + abc[int('A')].B + abc[int('A')].C, 1366);
    EXPECT_EQ(widths[0xE4], widths[int('a')]) << "a-umlaut is as wide as a";

    // At 20 pixels the advances are the design ones scaled and rounded per character.
    font.Height = -20;
    c.SetFont(font);
    EXPECT_EQ(c.TextWidth("A"), 13); // 1366 * 20 / 2048 = 13.3
    EXPECT_EQ(c.TextWidth("AAAA"), 52);
    EXPECT_EQ(c.GetTextMetrics().Height, 22);
    // A positive height is the cell height.
    font.Height = 23;
    c.SetFont(font);
    EXPECT_EQ(c.GetTextMetrics().Height, 23);
}

TEST(QtCanvasText, ExplicitAdvancesPlaceEachGlyph) {
    TBitmap b = Surface(120, 30);
    TCanvas& c = b.Canvas();
    TFont font;
    font.Height = -20;
    c.SetFont(font);
    c.SetBrush({clWhite, bsClear, nullptr});
    const int32_t advances[] = {20, 35};
    c.ExtTextOut(10, 2, 0, nullptr, "III", advances);
    std::vector<int> ink = InkColumns(b);
    ASSERT_FALSE(ink.empty());
    // Three vertical bars of equal width, starting 20 and then 35 pixels apart.
    std::vector<int> starts;
    for (size_t i = 0; i < ink.size(); ++i)
        if (i == 0 || ink[i] != ink[i - 1] + 1) starts.push_back(ink[i]);
    ASSERT_EQ(starts.size(), 3u);
    EXPECT_EQ(starts[1] - starts[0], 20);
    EXPECT_EQ(starts[2] - starts[1], 35);
    EXPECT_GE(starts[0], 10);
    EXPECT_LT(starts[0], 14);
}

TEST(QtCanvasText, DrawsAliasedTurnedAndOpaqueText) {
    TBitmap b = Surface(60, 60);
    TCanvas& c = b.Canvas();
    TFont font;
    font.Height = -16;
    font.Color = clBlue;
    c.SetFont(font);
    c.SetBrush({clWhite, bsClear, nullptr});
    c.TextOut(2, 2, "Hello");
    // Not anti-aliased: every pixel is the background or the ink.
    int ink = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x) {
            uint32_t p = b.ScanLine(y)[x] & 0xFFFFFF;
            ASSERT_TRUE(p == kWhite || p == 0x0000FF) << Format("%06X", p);
            ink += p != kWhite;
        }
    EXPECT_GT(ink, 40);

    // A quarter turn runs the text upwards from the reference point.
    TBitmap t = Surface(40, 80);
    font.Escapement = 900;
    t.Canvas().SetFont(font);
    t.Canvas().SetBrush({clWhite, bsClear, nullptr});
    t.Canvas().TextOut(2, 78, "Hello");
    TRect box(INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 40; ++x)
            if ((t.ScanLine(y)[x] & 0xFFFFFF) != kWhite)
                box = {std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x + 1),
                       std::max(box.Bottom, y + 1)};
    EXPECT_GT(box.Height(), 2 * box.Width());
    EXPECT_LE(box.Bottom, 78);

    // An opaque background fills the cells behind the glyphs.
    TBitmap o = Surface(40, 20);
    font.Escapement = 0;
    o.Canvas().SetFont(font);
    o.Canvas().SetBrush({clYellow, bsSolid, nullptr});
    o.Canvas().TextOut(1, 1, "ab");
    int32_t width = o.Canvas().TextWidth("ab");
    int32_t height = o.Canvas().GetTextMetrics().Height;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) {
            bool cell = x >= 1 && x < 1 + width && y >= 1 && y < 1 + height;
            EXPECT_EQ((o.ScanLine(y)[x] & 0xFFFFFF) != kWhite, cell) << x << "," << y;
        }
}

TEST(QtCanvasText, ClipHoldsForTextAfterTurnedText) {
    // Regression: the clip of the glyph painter was set while the last text's turn was still
    // applied, which moved it and lost the next clipped text.
    TBitmap b = Surface(120, 60);
    TCanvas& c = b.Canvas();
    TFont font;
    font.Height = -12;
    font.Escapement = 450;
    c.SetFont(font);
    c.SetBrush({clWhite, bsClear, nullptr});
    c.TextOut(60, 50, "turned");
    font.Escapement = 0;
    c.SetFont(font);
    TRect box(2, 2, 50, 20);
    c.DrawText("clipped", box, dtLeft);
    int inBox = 0;
    for (int y = box.Top; y < box.Bottom; ++y)
        for (int x = box.Left; x < box.Right; ++x)
            inBox += (b.ScanLine(y)[x] & 0xFFFFFF) != kWhite;
    EXPECT_GT(inBox, 20);
}

TEST(QtCanvasPixels, Paints32BitBuffersWithTheTopByteConvention) {
    TBitmap b = Surface(20, 20, pf32bit);
    TCanvas& c = b.Canvas();
    c.SetPen({clRed, 1});
    c.SetBrush({clGreen, bsSolid, nullptr});
    c.Rectangle({1, 1, 6, 6});
    c.SetBrush({clBlue, bsCross, nullptr});
    c.FillRect({8, 0, 16, 8});
    c.SetPen({clWhite, 3, psSolid, pmXor, true});
    c.MoveTo(0, 12);
    c.LineTo(19, 12);
    TFont font;
    font.Height = -10;
    c.SetFont(font);
    c.TextOut(2, 14, "x");
    int painted = 0, untouched = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            uint32_t p = b.ScanLine(y)[x];
            if (p == 0xFF000000u) {
                ++untouched;
                continue;
            }
            EXPECT_EQ(p >> 24, 0u) << x << "," << y << ": a painted pixel keeps its top byte";
            ++painted;
        }
    EXPECT_EQ(b.ScanLine(1)[1], 0x00FF0000u) << "the red outline";
    EXPECT_EQ(b.ScanLine(3)[3], 0x00008000u) << "the green interior";
    EXPECT_EQ(b.ScanLine(0)[8], 0x000000FFu) << "a hatch pixel";
    EXPECT_EQ(b.ScanLine(1)[9], 0xFF000000u) << "a hatch gap is left alone";
    EXPECT_EQ(b.ScanLine(12)[5], 0x00FFFFFFu) << "white xor the fill value's black";
    EXPECT_GT(untouched, 100);
    EXPECT_GT(painted, 80);
}

TEST(QtCanvasPixels, ARecordedPicturePlaysBackAtTwiceTheSize) {
    TMetafile picture;
    picture.SetSize(12, 10);
    auto draw = [](TCanvas& c, int k) {
        c.SetPen({clRed, 1});
        c.SetBrush({clBlue, bsSolid, nullptr});
        c.Rectangle({1 * k, 1 * k, 6 * k, 5 * k});
        c.SetBrush({clGreen, bsDiagCross, nullptr});
        c.Ellipse({5 * k, 3 * k, 11 * k, 9 * k});
        c.SetPen({clBlack, 2, psSolid, pmCopy, true, pecFlat});
        c.MoveTo(0, 9 * k);
        c.LineTo(12 * k, 0);
    };
    draw(picture.Canvas(), 1);
    TBitmap played = Surface(24, 20);
    played.Canvas().StretchDraw({0, 0, 24, 20}, picture);
    TBitmap direct = Surface(24, 20);
    TCanvas& c = direct.Canvas();
    c.SetPen({clRed, 1});
    c.SetBrush({clBlue, bsSolid, nullptr});
    c.Rectangle({2, 2, 12, 10});
    c.SetBrush({clGreen, bsDiagCross, nullptr});
    c.Ellipse({10, 6, 22, 18});
    c.SetPen({clBlack, 4, psSolid, pmCopy, true, pecFlat}); // wide pens scale, 1-pixel ones not
    c.MoveTo(0, 18);
    c.LineTo(24, 0);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 24; ++x)
            ASSERT_EQ(played.ScanLine(y)[x], direct.ScanLine(y)[x]) << x << "," << y;
    EXPECT_NE(Mask(played), Mask(Surface(24, 20)));
}

TEST(QtCanvasPixels, CopiesAndStretchesBitmaps) {
    TBitmap src(2, 2);
    src.ScanLine(0)[0] = 0xFFFF0000;
    src.ScanLine(0)[1] = 0xFF00FF00;
    src.ScanLine(1)[0] = 0xFF0000FF;
    src.ScanLine(1)[1] = 0xFFFF00FF;
    TBitmap b = Surface(6, 4);
    TCanvas& c = b.Canvas();
    c.StretchBitmap({0, 0, 4, 4}, src, {0, 0, 2, 2});
    EXPECT_EQ(b.ScanLine(0)[1], 0xFFFF0000u);
    EXPECT_EQ(b.ScanLine(1)[2], 0xFF00FF00u);
    EXPECT_EQ(b.ScanLine(3)[3], 0xFFFF00FFu);
    // A transparent colour is left out; a mirrored rectangle mirrors.
    c.TransparentBitmap({4, 0, 6, 2}, src, {0, 0, 2, 2}, PixelToColor(0xFF00FF));
    EXPECT_EQ(b.ScanLine(1)[5], 0xFFFFFFFFu);
    EXPECT_EQ(b.ScanLine(1)[4], 0xFF0000FFu);
    c.StretchBitmap({6, 2, 4, 4}, src, {0, 0, 2, 2});
    EXPECT_EQ(b.ScanLine(2)[5], 0xFFFF0000u) << "mirrored left to right";
    // Copying from another canvas.
    TBitmap d = Surface(4, 4);
    d.Canvas().CopyRect({0, 0, 2, 2}, c, {2, 2, 4, 4});
    EXPECT_EQ(d.ScanLine(1)[1], 0xFFFF00FFu);
    // Copying into a 32-bit buffer paints: the top byte becomes 0.
    TBitmap full = Surface(2, 2, pf32bit);
    full.Canvas().Draw(0, 0, src);
    EXPECT_EQ(full.ScanLine(0)[0], 0x00FF0000u);
}

TEST(QtCanvasPixels, StyledWidePensShowTheirDashes) {
    // The probe the pen property runs once to decide whether styled wide pens are drawn.
    TBitmap b(10, 1);
    b.Fill(0xFFFFFFFF);
    b.Canvas().SetPen({clBlack, 3, psDot, pmCopy, true, pecSquare, pjBevel});
    b.Canvas().MoveTo(0, 0);
    b.Canvas().LineTo(10, 0);
    std::string row = Row(b, 0);
    EXPECT_NE(row.find('#'), std::string::npos) << row;
    EXPECT_NE(row.find('.'), std::string::npos) << row;
}

TEST(QtCanvasPixels, HugeCoordinatesCostOnlyTheirVisiblePart) {
    // A hostile document can put points a billion pixels away; lines, dashes and copies must
    // still be drawn by their visible part, with the dashes in step.
    TBitmap b = Surface(60, 12);
    TCanvas& c = b.Canvas();
    c.SetPen({clBlack, 1, psDot});
    c.MoveTo(-1000000008, 2);
    c.LineTo(1000000008, 2);
    c.SetPen({clBlack, 3, psDash, pmCopy, true, pecFlat});
    c.MoveTo(-1000000008, 6);
    c.LineTo(1000000008, 6);
    TBitmap tile(2, 1);
    tile.ScanLine(0)[0] = 0xFF0000FF;
    tile.ScanLine(0)[1] = 0xFFFF0000;
    c.StretchBitmap({-1000000000, 10, 1000000000, 11}, tile, {0, 0, 2, 1});
    std::string dots, dashes;
    for (int x = 0; x < 60; ++x) {
        dots += (x + 1000000008) % 6 < 3 ? '#' : '.';
        dashes += (x + 1000000008) % 18 < 12 ? '#' : '.';
    }
    EXPECT_EQ(Row(b, 2), dots);
    EXPECT_EQ(Row(b, 6), dashes);
    EXPECT_EQ(b.ScanLine(10)[0], 0xFFFF0000u) << "x = 0 is where the copy's right half starts";
    EXPECT_EQ(b.ScanLine(10)[59], 0xFFFF0000u);
}

TEST(QtCanvasPixels, FocusRectangleDrawnTwiceVanishes) {
    TBitmap b(10, 8);
    b.Fill(0xFF336699);
    b.Canvas().DrawFocusRect({1, 1, 9, 7});
    EXPECT_EQ(Mask(b, 0x336699), "..........\n.#.#.#.#..\n........#.\n.#........\n........#.\n"
                                 ".#........\n..#.#.#.#.\n..........\n");
    b.Canvas().DrawFocusRect({1, 1, 9, 7});
    EXPECT_EQ(Mask(b, 0x336699), Mask(TBitmap(10, 8), 0xFFFFFF));
}
