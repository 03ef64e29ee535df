#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "Types.h"

// How the inside of overlapping or self-crossing outlines is decided.
enum TFillMode : uint8_t {
    fmAlternate = 1, // even-odd: a point is inside when a ray from it crosses an odd count
    fmWinding = 2,   // non-zero winding number
};

// Operators of TRegion::Combine and of the canvas clip.
enum TRegionOp : uint8_t {
    roAnd = 1,  // intersection
    roOr = 2,   // union
    roXor = 3,  // in exactly one
    roDiff = 4, // in the first, not in the second
    roCopy = 5, // the second
};

// One outline in floating-point device coordinates. Filling always closes it; Closed only
// matters for stroking.
struct TPolyFigure {
    std::vector<TPointF> Points;
    bool Closed = false;
};
using TPolyFigures = std::vector<TPolyFigure>;

// A set of pixels, kept as horizontal bands of equal rows, each band a sorted list of
// half-open spans [left, right). The form is canonical (no empty bands, no two adjacent bands
// with the same spans, no touching spans), so two regions with the same pixels compare equal.
//
// Pixel rules of the shape constructors (they are the rules of the canvas as well, so a region
// and the shape drawn over the same rectangle agree):
// - Rect(l, t, r, b) holds the pixels l..r-1 and t..b-1.
// - Polygon, Ellipse and RoundRect hold the pixels whose centre lies inside the outline, where
//   vertex (x, y) is the centre of pixel (x, y); a centre exactly on a left or top edge is
//   inside, on a right or bottom edge outside. Ellipse(l, t, r, b) is therefore the ellipse
//   through the pixel centres l..r-1, t..b-1 without its rim: the same pixels the canvas
//   fills for Ellipse with a clear pen.
class TRegion {
public:
    static constexpr int32_t kMaxRegionExtent = 1 << 18;

    struct TBand {
        int32_t Top = 0;
        int32_t Bottom = 0;
        std::vector<int32_t> Spans; // pairs of left (inclusive), right (exclusive)
        bool operator==(const TBand&) const = default;
    };

    TRegion() = default;
    explicit TRegion(const TRect& rect);

    static TRegion Rect(const TRect& rect) { return TRegion(rect); }
    static TRegion Ellipse(const TRect& rect);
    // cornerWidth and cornerHeight are the size of the ellipse that rounds the corners.
    static TRegion RoundRect(const TRect& rect, int32_t cornerWidth, int32_t cornerHeight);
    static TRegion Polygon(std::span<const TPoint> points, TFillMode mode);
    // The pixels whose centre lies inside the outlines, by the same rule as Polygon, limited to
    // `limit` when given and in any case to kMaxRegionExtent pixels on every side of 0, so that
    // a hostile outline cannot make a region of unbounded size. Non-finite points are ignored.
    static TRegion FromFigures(const TPolyFigures& figures, TFillMode mode,
                               const TRect* limit = nullptr);
    static TRegion Combine(const TRegion& a, const TRegion& b, TRegionOp op);

    bool IsEmpty() const { return FBands.empty(); }
    // The smallest rectangle holding every pixel; all zero for an empty region.
    TRect Bounds() const;
    bool Contains(int32_t x, int32_t y) const;
    bool Contains(const TPoint& p) const { return Contains(p.X, p.Y); }
    bool Intersects(const TRect& rect) const;

    void Offset(int32_t dx, int32_t dy);
    [[nodiscard]] TRegion Offsetted(int32_t dx, int32_t dy) const;
    // Maps every band and span edge e to round(e * scale) + offset per axis. Scaling a region
    // this way keeps rectangles that touch touching, which a recorded picture played back at
    // another size needs for its clip regions.
    [[nodiscard]] TRegion Transformed(double scaleX, double scaleY, int32_t dx, int32_t dy) const;

    // The pixels as non-overlapping rectangles, band by band, left to right.
    std::vector<TRect> Rects() const;
    const std::vector<TBand>& Bands() const { return FBands; }

    bool operator==(const TRegion&) const = default;

private:
    friend class TRegionBuilder;
    std::vector<TBand> FBands;
};

// Collects rows of spans from top to bottom and merges them into a canonical region. Rows must
// come in increasing order; spans of one row must be sorted and may touch (they are merged).
class TRegionBuilder {
public:
    void AddRow(int32_t y, std::span<const int32_t> spans) { AddRows(y, y + 1, spans); }
    void AddRows(int32_t top, int32_t bottom, std::span<const int32_t> spans);
    TRegion Finish();

private:
    TRegion FRegion;
    std::vector<int32_t> FMerged; // reused from row to row
};
