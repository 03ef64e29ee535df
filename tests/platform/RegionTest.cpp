#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "Region.h"

namespace {

// The region's pixels inside (0, 0, w, h) as rows of '#' and '.'.
std::string Mask(const TRegion& region, int w, int h) {
    std::string s;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            s += region.Contains(x, y) ? '#' : '.';
        s += '\n';
    }
    return s;
}

} // namespace

TEST(Region, ShapesKeepThePixelRules) {
    struct Case {
        const char* name;
        TRegion region;
        const char* mask;
    };
    const TPoint triangle[] = {{0, 0}, {6, 0}, {0, 6}};
    // Two overlapping squares traced as one outline: the overlap is a hole under the alternate
    // rule and filled under the winding rule.
    const TPoint twoSquares[] = {{0, 0}, {4, 0}, {4, 4}, {0, 4}, {0, 0},
                                 {2, 2}, {6, 2}, {6, 6}, {2, 6}, {2, 2}};
    const Case cases[] = {
        {"rect excludes right and bottom", TRegion(TRect(1, 1, 4, 3)),
         "........\n.###....\n.###....\n........\n........\n........\n........\n........\n"},
        {"ellipse lies inside the centres 0..7", TRegion::Ellipse(TRect(0, 0, 8, 8)),
         "........\n..####..\n.######.\n.######.\n.######.\n.######.\n..####..\n........\n"},
        {"triangle keeps its top and left edges", TRegion::Polygon(triangle, fmAlternate),
         "######..\n#####...\n####....\n###.....\n##......\n#.......\n........\n........\n"},
        {"alternate leaves the overlap out", TRegion::Polygon(twoSquares, fmAlternate),
         "####....\n####....\n##..##..\n##..##..\n..####..\n..####..\n........\n........\n"},
        {"winding fills the overlap", TRegion::Polygon(twoSquares, fmWinding),
         "####....\n####....\n######..\n######..\n..####..\n..####..\n........\n........\n"},
        {"round rect cuts its corners", TRegion::RoundRect(TRect(0, 0, 7, 7), 4, 4),
         "..###...\n.#####..\n######..\n######..\n######..\n.#####..\n........\n........\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Mask(c.region, 8, 8), c.mask) << c.name;
}

TEST(Region, EllipseIsSymmetricAtEverySize) {
    // Odd and even boxes put extreme points on pixel centres in different ways; the mask must
    // read the same mirrored left to right and top to bottom.
    for (int size = 2; size <= 24; ++size) {
        TRegion e = TRegion::Ellipse(TRect(0, 0, size, size));
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                bool in = e.Contains(x, y);
                ASSERT_EQ(in, e.Contains(size - 1 - x, y)) << size << ": " << x << "," << y;
                ASSERT_EQ(in, e.Contains(x, size - 1 - y)) << size << ": " << x << "," << y;
                ASSERT_EQ(in, e.Contains(y, x)) << size << ": " << x << "," << y;
            }
    }
}

TEST(Region, CombinesByEveryOperator) {
    TRegion a(TRect(0, 0, 4, 4)), b(TRect(2, 2, 6, 6));
    struct Case {
        TRegionOp op;
        const char* mask;
    };
    const Case cases[] = {
        {roAnd, "......\n......\n..##..\n..##..\n......\n......\n"},
        {roOr, "####..\n####..\n######\n######\n..####\n..####\n"},
        {roXor, "####..\n####..\n##..##\n##..##\n..####\n..####\n"},
        {roDiff, "####..\n####..\n##....\n##....\n......\n......\n"},
        {roCopy, "......\n......\n..####\n..####\n..####\n..####\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Mask(TRegion::Combine(a, b, c.op), 6, 6), c.mask) << int(c.op);
    EXPECT_TRUE(TRegion::Combine(a, TRegion(), roAnd).IsEmpty());
    EXPECT_EQ(TRegion::Combine(TRegion(), b, roOr), b);
}

TEST(Region, IsCanonicalSoEqualPixelsCompareEqual) {
    // The same pixels built from left and right halves, from rows, and as one rectangle.
    TRegion halves = TRegion::Combine(TRegion(TRect(0, 0, 3, 5)), TRegion(TRect(3, 0, 7, 5)), roOr);
    TRegion rows = TRegion::Combine(TRegion(TRect(0, 0, 7, 2)), TRegion(TRect(0, 2, 7, 5)), roOr);
    TRegion whole(TRect(0, 0, 7, 5));
    EXPECT_EQ(halves, whole);
    EXPECT_EQ(rows, whole);
    EXPECT_EQ(whole.Rects().size(), 1u);
    EXPECT_EQ(TRegion::Combine(whole, TRegion(TRect(2, 1, 3, 2)), roDiff).Rects().size(), 4u);
}

TEST(Region, AnswersQueriesAndMoves) {
    TRegion r = TRegion::Combine(TRegion(TRect(0, 0, 2, 2)), TRegion(TRect(10, 10, 12, 12)), roOr);
    EXPECT_EQ(r.Bounds(), TRect(0, 0, 12, 12));
    EXPECT_TRUE(r.Intersects(TRect(1, 1, 5, 5)));
    EXPECT_FALSE(r.Intersects(TRect(3, 3, 9, 9)));
    EXPECT_FALSE(r.Contains(2, 0));
    r.Offset(5, -1);
    EXPECT_TRUE(r.Contains(5, -1));
    EXPECT_TRUE(r.Contains(16, 10));
    EXPECT_EQ(TRegion().Bounds(), TRect());
    // Scaling keeps touching rectangles touching.
    TRegion steps = TRegion::Combine(TRegion(TRect(0, 0, 1, 1)), TRegion(TRect(1, 1, 3, 2)), roOr);
    EXPECT_EQ(steps.Transformed(1.5, 2, 10, 0),
              TRegion::Combine(TRegion(TRect(10, 0, 12, 2)), TRegion(TRect(12, 2, 15, 4)), roOr));
}

TEST(Region, HostileOutlinesStayBounded) {
    TPolyFigure huge{{{-1e12, -1e12}, {1e12, -1e12}, {1e12, 1e12}, {-1e12, 1e12}}, true};
    TRegion r = TRegion::FromFigures({huge}, fmWinding);
    EXPECT_EQ(r.Bounds(), TRect(-TRegion::kMaxRegionExtent, -TRegion::kMaxRegionExtent,
                                TRegion::kMaxRegionExtent, TRegion::kMaxRegionExtent));
    TPolyFigure slanted{{{0, 0}, {1e9, 3e9}, {-5, 7}}, true};
    TRect limit(0, 0, 50, 50);
    EXPECT_TRUE(TRegion::FromFigures({slanted}, fmAlternate, &limit).Bounds().Width() <= 50);
    TPolyFigure broken{{{0, 0}, {NAN, 4}, {4, 4}}, true};
    EXPECT_TRUE(TRegion::FromFigures({broken}, fmAlternate).IsEmpty());
}
