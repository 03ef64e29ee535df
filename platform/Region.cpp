#include "Region.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "CanvasShapes.h"

namespace {

bool Keep(TRegionOp op, bool inA, bool inB) {
    switch (op) {
    case roAnd: return inA && inB;
    case roOr: return inA || inB;
    case roXor: return inA != inB;
    case roDiff: return inA && !inB;
    case roCopy: return inB;
    }
    return false;
}

// Boolean operation on two sorted, canonical span lists of one row.
void CombineSpans(const std::vector<int32_t>& a, const std::vector<int32_t>& b, TRegionOp op,
                  std::vector<int32_t>& out) {
    out.clear();
    size_t i = 0, j = 0;
    bool inA = false, inB = false, inOut = false;
    while (i < a.size() || j < b.size()) {
        int32_t xa = i < a.size() ? a[i] : INT32_MAX;
        int32_t xb = j < b.size() ? b[j] : INT32_MAX;
        int32_t x = std::min(xa, xb);
        if (xa == x) {
            inA = !inA;
            ++i;
        }
        if (xb == x) {
            inB = !inB;
            ++j;
        }
        bool now = Keep(op, inA, inB);
        if (now != inOut) {
            out.push_back(x);
            inOut = now;
        }
    }
}

const std::vector<int32_t>* SpansAt(const std::vector<TRegion::TBand>& bands, size_t& index,
                                    int32_t y) {
    while (index < bands.size() && bands[index].Bottom <= y)
        ++index;
    if (index < bands.size() && bands[index].Top <= y) return &bands[index].Spans;
    return nullptr;
}

bool SingleRect(const TRegion& r, TRect& rect) {
    const auto& bands = r.Bands();
    if (bands.size() != 1 || bands[0].Spans.size() != 2) return false;
    rect = {bands[0].Spans[0], bands[0].Top, bands[0].Spans[1], bands[0].Bottom};
    return true;
}

bool Covers(const TRect& outer, const TRect& inner) {
    return inner.Left >= outer.Left && inner.Top >= outer.Top && inner.Right <= outer.Right &&
           inner.Bottom <= outer.Bottom;
}

int32_t Clamp(double v, int32_t lo, int32_t hi) {
    if (!(v > lo)) return lo;
    if (!(v < hi)) return hi;
    return int32_t(v);
}

// Values a hair off an integer come from interpolating along edges between integer vertices;
// taking them as the integer keeps the top-left rule exact for those vertices.
double Snap(double x) {
    double r = std::round(x);
    return std::abs(x - r) < 1e-7 ? r : x;
}

struct TEdge {
    double YTop, YBottom, XTop, Slope;
    int Dir;
};

} // namespace

// -- TRegionBuilder

void TRegionBuilder::AddRows(int32_t top, int32_t bottom, std::span<const int32_t> spans) {
    if (bottom <= top) return;
    FMerged.clear();
    for (size_t i = 0; i + 1 < spans.size(); i += 2) {
        int32_t l = spans[i], r = spans[i + 1];
        if (r <= l) continue;
        if (!FMerged.empty() && l <= FMerged.back())
            FMerged.back() = std::max(FMerged.back(), r);
        else {
            FMerged.push_back(l);
            FMerged.push_back(r);
        }
    }
    if (FMerged.empty()) return;
    auto& bands = FRegion.FBands;
    if (!bands.empty() && bands.back().Bottom == top && bands.back().Spans == FMerged) {
        bands.back().Bottom = bottom;
        return;
    }
    bands.push_back({top, bottom, FMerged});
}

TRegion TRegionBuilder::Finish() {
    return std::move(FRegion);
}

// -- TRegion

TRegion::TRegion(const TRect& rect) {
    if (!rect.IsEmpty()) FBands.push_back({rect.Top, rect.Bottom, {rect.Left, rect.Right}});
}

TRegion TRegion::Ellipse(const TRect& rect) {
    TRect r = rect.Normalized();
    if (r.IsEmpty()) return {};
    return FromFigures({CanvasShapes::EllipseFigure(r.Left, r.Top, r.Right - 1, r.Bottom - 1)},
                       fmAlternate);
}

TRegion TRegion::RoundRect(const TRect& rect, int32_t cornerWidth, int32_t cornerHeight) {
    TRect r = rect.Normalized();
    if (r.IsEmpty()) return {};
    return FromFigures({CanvasShapes::RoundRectFigure(r.Left, r.Top, r.Right - 1, r.Bottom - 1,
                                                      std::max(0.0, (cornerWidth - 1) / 2.0),
                                                      std::max(0.0, (cornerHeight - 1) / 2.0))},
                       fmAlternate);
}

TRegion TRegion::Polygon(std::span<const TPoint> points, TFillMode mode) {
    TPolyFigure figure;
    figure.Closed = true;
    figure.Points.assign(points.begin(), points.end());
    return FromFigures({figure}, mode);
}

TRegion TRegion::FromFigures(const TPolyFigures& figures, TFillMode mode, const TRect* limit) {
    TRect bound(-kMaxRegionExtent, -kMaxRegionExtent, kMaxRegionExtent, kMaxRegionExtent);
    if (limit) bound = bound.Intersected(*limit);
    if (bound.IsEmpty()) return {};

    // An upright rectangle is by far the most common outline; take it without scanning.
    if (figures.size() == 1 && figures[0].Points.size() == 4) {
        const auto& p = figures[0].Points;
        bool upright =
            (p[0].Y == p[1].Y && p[1].X == p[2].X && p[2].Y == p[3].Y && p[3].X == p[0].X) ||
            (p[0].X == p[1].X && p[1].Y == p[2].Y && p[2].X == p[3].X && p[3].Y == p[0].Y);
        bool finite = std::all_of(p.begin(), p.end(), [](const TPointF& q) {
            return std::isfinite(q.X) && std::isfinite(q.Y);
        });
        if (upright && finite) {
            double l = std::min(p[0].X, p[2].X), r = std::max(p[0].X, p[2].X);
            double t = std::min(p[0].Y, p[2].Y), b = std::max(p[0].Y, p[2].Y);
            TRect rect(Clamp(std::ceil(l), bound.Left, bound.Right),
                       Clamp(std::ceil(t), bound.Top, bound.Bottom),
                       Clamp(std::ceil(r), bound.Left, bound.Right),
                       Clamp(std::ceil(b), bound.Top, bound.Bottom));
            return TRegion(rect);
        }
    }

    std::vector<TEdge> edges;
    double minY = INFINITY, maxY = -INFINITY;
    for (const auto& figure : figures) {
        const auto& pts = figure.Points;
        bool finite = std::all_of(pts.begin(), pts.end(), [](const TPointF& q) {
            return std::isfinite(q.X) && std::isfinite(q.Y);
        });
        if (!finite || pts.size() < 3) continue;
        for (size_t k = 0; k < pts.size(); ++k) {
            TPointF a = pts[k], b = pts[(k + 1) % pts.size()];
            if (a.Y == b.Y) continue;
            int dir = b.Y > a.Y ? 1 : -1;
            if (dir < 0) std::swap(a, b);
            edges.push_back({a.Y, b.Y, a.X, (b.X - a.X) / (b.Y - a.Y), dir});
            minY = std::min(minY, a.Y);
            maxY = std::max(maxY, b.Y);
        }
    }
    if (edges.empty()) return {};
    std::sort(edges.begin(), edges.end(),
              [](const TEdge& a, const TEdge& b) { return a.YTop < b.YTop; });

    int32_t rowStart = Clamp(std::ceil(minY), bound.Top, bound.Bottom);
    int32_t rowEnd = Clamp(std::ceil(maxY), bound.Top, bound.Bottom);
    TRegionBuilder builder;
    std::vector<size_t> active;
    std::vector<std::pair<double, int>> crossings;
    std::vector<int32_t> spans;
    size_t next = 0;
    for (int32_t y = rowStart; y < rowEnd; ++y) {
        while (next < edges.size() && edges[next].YTop <= y)
            active.push_back(next++);
        std::erase_if(active, [&](size_t e) { return edges[e].YBottom <= y; });
        crossings.clear();
        for (size_t e : active) {
            const TEdge& edge = edges[e];
            crossings.push_back({Snap(edge.XTop + (y - edge.YTop) * edge.Slope), edge.Dir});
        }
        std::sort(crossings.begin(), crossings.end());
        spans.clear();
        auto addSpan = [&](double from, double to) {
            int32_t l = Clamp(std::ceil(from), bound.Left, bound.Right);
            int32_t r = Clamp(std::ceil(to), bound.Left, bound.Right);
            if (l < r) {
                spans.push_back(l);
                spans.push_back(r);
            }
        };
        if (mode == fmWinding) {
            int winding = 0;
            double from = 0;
            for (const auto& [x, dir] : crossings) {
                int before = winding;
                winding += dir;
                if (before == 0 && winding != 0)
                    from = x;
                else if (before != 0 && winding == 0)
                    addSpan(from, x);
            }
        } else {
            for (size_t k = 0; k + 1 < crossings.size(); k += 2)
                addSpan(crossings[k].first, crossings[k + 1].first);
        }
        builder.AddRow(y, spans);
    }
    return builder.Finish();
}

TRegion TRegion::Combine(const TRegion& a, const TRegion& b, TRegionOp op) {
    if (op == roCopy) return b;
    TRect ra, rb;
    if (op == roAnd) {
        // Clipping to one rectangle is by far the most common combination.
        bool ar = SingleRect(a, ra), br = SingleRect(b, rb);
        if (ar && br) return TRegion(ra.Intersected(rb));
        if (br && Covers(rb, a.Bounds())) return a;
        if (ar && Covers(ra, b.Bounds())) return b;
    }
    if (a.IsEmpty()) return op == roAnd || op == roDiff ? TRegion() : b;
    if (b.IsEmpty()) return op == roAnd ? TRegion() : a;

    std::vector<int32_t> ys;
    ys.reserve(2 * (a.FBands.size() + b.FBands.size()));
    for (const auto* r : {&a, &b})
        for (const auto& band : r->FBands) {
            ys.push_back(band.Top);
            ys.push_back(band.Bottom);
        }
    std::sort(ys.begin(), ys.end());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());

    static const std::vector<int32_t> kNone;
    TRegionBuilder builder;
    std::vector<int32_t> spans;
    size_t ia = 0, ib = 0;
    for (size_t k = 0; k + 1 < ys.size(); ++k) {
        const auto* sa = SpansAt(a.FBands, ia, ys[k]);
        const auto* sb = SpansAt(b.FBands, ib, ys[k]);
        CombineSpans(sa ? *sa : kNone, sb ? *sb : kNone, op, spans);
        builder.AddRows(ys[k], ys[k + 1], spans);
    }
    return builder.Finish();
}

TRect TRegion::Bounds() const {
    if (FBands.empty()) return {};
    TRect r(INT32_MAX, FBands.front().Top, INT32_MIN, FBands.back().Bottom);
    for (const auto& band : FBands) {
        r.Left = std::min(r.Left, band.Spans.front());
        r.Right = std::max(r.Right, band.Spans.back());
    }
    return r;
}

bool TRegion::Contains(int32_t x, int32_t y) const {
    auto it = std::upper_bound(FBands.begin(), FBands.end(), y,
                               [](int32_t v, const TBand& band) { return v < band.Top; });
    if (it == FBands.begin()) return false;
    --it;
    if (y >= it->Bottom) return false;
    const auto& s = it->Spans;
    // The count of span edges at or before x is odd exactly inside a span.
    return (std::upper_bound(s.begin(), s.end(), x) - s.begin()) % 2 == 1;
}

bool TRegion::Intersects(const TRect& rect) const {
    if (rect.IsEmpty()) return false;
    for (const auto& band : FBands) {
        if (band.Bottom <= rect.Top) continue;
        if (band.Top >= rect.Bottom) break;
        for (size_t i = 0; i + 1 < band.Spans.size(); i += 2)
            if (band.Spans[i] < rect.Right && rect.Left < band.Spans[i + 1]) return true;
    }
    return false;
}

void TRegion::Offset(int32_t dx, int32_t dy) {
    for (auto& band : FBands) {
        band.Top += dy;
        band.Bottom += dy;
        for (auto& x : band.Spans)
            x += dx;
    }
}

TRegion TRegion::Offsetted(int32_t dx, int32_t dy) const {
    TRegion r = *this;
    r.Offset(dx, dy);
    return r;
}

TRegion TRegion::Transformed(double scaleX, double scaleY, int32_t dx, int32_t dy) const {
    if (!(scaleX > 0) || !(scaleY > 0)) return {};
    auto map = [](int32_t v, double scale, int32_t offset) {
        return Clamp(std::round(v * scale) + offset, -kMaxRegionExtent, kMaxRegionExtent);
    };
    TRegionBuilder builder;
    std::vector<int32_t> spans;
    for (const auto& band : FBands) {
        spans.clear();
        for (int32_t x : band.Spans)
            spans.push_back(map(x, scaleX, dx));
        builder.AddRows(map(band.Top, scaleY, dy), map(band.Bottom, scaleY, dy), spans);
    }
    return builder.Finish();
}

std::vector<TRect> TRegion::Rects() const {
    std::vector<TRect> rects;
    for (const auto& band : FBands)
        for (size_t i = 0; i + 1 < band.Spans.size(); i += 2)
            rects.push_back({band.Spans[i], band.Top, band.Spans[i + 1], band.Bottom});
    return rects;
}
