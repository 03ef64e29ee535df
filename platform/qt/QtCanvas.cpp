#include "QtCanvas.h"

#include <QGlyphRun>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QRegion>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "Bitmap.h"
#include "QtFonts.h"
#include "QtImages.h"

namespace {

constexpr double kMiterLimit = 5;

uint32_t Rop(TPenMode mode, uint32_t p, uint32_t s) {
    switch (mode) {
    case pmBlack: return 0;
    case pmWhite: return 0xFFFFFF;
    case pmNop: return s;
    case pmNot: return ~s;
    case pmCopy: return p;
    case pmNotCopy: return ~p;
    case pmMergePenNot: return p | ~s;
    case pmMaskPenNot: return p & ~s;
    case pmMergeNotPen: return ~p | s;
    case pmMaskNotPen: return ~p & s;
    case pmMerge: return p | s;
    case pmNotMerge: return ~(p | s);
    case pmMask: return p & s;
    case pmNotMask: return ~(p & s);
    case pmXor: return p ^ s;
    case pmNotXor: return ~(p ^ s);
    }
    return s;
}

int Mod(int v, int m) {
    int r = v % m;
    return r < 0 ? r + m : r;
}

// Where a brush puts colour, pixel by pixel.
class TPaint {
public:
    TPaint(const TBrush& brush, TBkMode bkMode, TColor bkColor, TPoint origin)
        : FOrigin(origin)
        , FInk(ColorToPixel(brush.Color))
        , FBack(ColorToPixel(bkColor))
        , FOpaque(bkMode == bkOpaque) {
        if (brush.Bitmap && !brush.Bitmap->Empty()) {
            FPattern = brush.Bitmap->Bits();
            FPatternW = brush.Bitmap->Width();
            FPatternH = brush.Bitmap->Height();
        } else if (brush.Style != bsSolid) {
            FHatched = true;
            for (int row = 0; row < 8; ++row)
                FRows[row] = HatchPatternRow(brush.Style, row);
        }
    }

    bool Solid() const { return !FPattern && !FHatched; }
    uint32_t Ink() const { return FInk; }

    // The brush's colour at (x, y); false where the brush leaves the surface alone.
    bool At(int x, int y, uint32_t& colour) const {
        if (FPattern) {
            colour = FPattern[size_t(Mod(y - FOrigin.Y, FPatternH)) * FPatternW +
                              Mod(x - FOrigin.X, FPatternW)] &
                     0xFFFFFF;
            return true;
        }
        if (!FHatched) {
            colour = FInk;
            return true;
        }
        bool ink = FRows[Mod(y - FOrigin.Y, 8)] & (0x80 >> Mod(x - FOrigin.X, 8));
        if (ink) {
            colour = FInk;
            return true;
        }
        colour = FBack;
        return FOpaque;
    }

private:
    TPoint FOrigin;
    uint32_t FInk, FBack;
    bool FOpaque;
    bool FHatched = false;
    uint8_t FRows[8] = {};
    const uint32_t* FPattern = nullptr;
    int FPatternW = 0, FPatternH = 0;
};

QVector<qreal> DashPattern(const TPen& pen) {
    if (!pen.Geometric) {
        switch (pen.Style) {
        case psDash: return {18, 6};
        case psDot: return {3, 3};
        case psDashDot: return {9, 6, 3, 6};
        case psDashDotDot: return {9, 3, 3, 3, 3, 3};
        default: return {};
        }
    }
    switch (pen.Style) {
    case psDash: return {4, 2};
    case psDot: return {1, 2};
    case psDashDot: return {4, 2, 1, 2};
    case psDashDotDot: return {4, 2, 1, 2, 1, 2};
    default: return {};
    }
}

QPainterPath ToPath(const TPolyFigures& figures) {
    QPainterPath path;
    for (const auto& f : figures) {
        if (f.Points.empty()) continue;
        path.moveTo(f.Points[0].X, f.Points[0].Y);
        for (size_t i = 1; i < f.Points.size(); ++i)
            path.lineTo(f.Points[i].X, f.Points[i].Y);
        if (f.Closed) path.closeSubpath();
    }
    return path;
}

QRect ToQRect(const TRect& r) {
    return QRect(r.Left, r.Top, r.Width(), r.Height());
}

// A run of pixels [X0, X1) in row Y.
struct TRun {
    int32_t Y, X0, X1;
};

// Collects pixels into runs; a pixel that continues the last run along its row extends it.
class TRunList {
public:
    void Add(int32_t x, int32_t y) {
        if (!FRuns.empty()) {
            TRun& r = FRuns.back();
            if (r.Y == y && x == r.X1) {
                ++r.X1;
                return;
            }
            if (r.Y == y && x == r.X0 - 1) {
                --r.X0;
                return;
            }
        }
        FRuns.push_back({y, x, x + 1});
    }
    void Append(const TRunList& other) {
        FRuns.insert(FRuns.end(), other.FRuns.begin(), other.FRuns.end());
    }
    bool Empty() const { return FRuns.empty(); }

    // The runs as a region; rows are bucketed, so only the runs of one row are ever sorted.
    TRegion Region() const {
        if (FRuns.empty()) return {};
        int32_t top = INT32_MAX, bottom = INT32_MIN;
        for (const auto& r : FRuns) {
            top = std::min(top, r.Y);
            bottom = std::max(bottom, r.Y);
        }
        std::vector<uint32_t> first(size_t(bottom - top) + 2, 0);
        for (const auto& r : FRuns)
            ++first[size_t(r.Y - top) + 1];
        for (size_t i = 1; i < first.size(); ++i)
            first[i] += first[i - 1];
        std::vector<uint32_t> order(FRuns.size());
        std::vector<uint32_t> next(first.begin(), first.end() - 1);
        for (uint32_t i = 0; i < FRuns.size(); ++i)
            order[next[size_t(FRuns[i].Y - top)]++] = i;
        TRegionBuilder builder;
        std::vector<std::pair<int32_t, int32_t>> row;
        std::vector<int32_t> spans;
        for (int32_t y = top; y <= bottom; ++y) {
            size_t k = size_t(y - top);
            if (first[k] == first[k + 1]) continue;
            row.clear();
            for (uint32_t i = first[k]; i < first[k + 1]; ++i)
                row.push_back({FRuns[order[i]].X0, FRuns[order[i]].X1});
            std::sort(row.begin(), row.end());
            spans.clear();
            for (const auto& [x0, x1] : row) {
                spans.push_back(x0);
                spans.push_back(x1);
            }
            builder.AddRow(y, spans);
        }
        return builder.Finish();
    }

private:
    std::vector<TRun> FRuns;
};

// The style pattern of a one-pixel line, stepped pixel by pixel.
class TDashState {
public:
    explicit TDashState(const QVector<qreal>& pattern) {
        for (qreal v : pattern)
            FLengths.push_back(std::max(1, int(v)));
        for (int v : FLengths)
            FPeriod += v;
        Reset();
    }
    void Reset() {
        FIndex = 0;
        FLeft = FLengths.empty() ? 0 : FLengths[0];
    }
    bool Ink() const { return FLengths.empty() || FIndex % 2 == 0; }
    void Step(int64_t count = 1) {
        if (FLengths.empty()) return;
        count %= FPeriod;
        while (count > 0) {
            int64_t take = std::min<int64_t>(count, FLeft);
            FLeft -= int(take);
            count -= take;
            if (FLeft == 0) {
                FIndex = (FIndex + 1) % FLengths.size();
                FLeft = FLengths[FIndex];
            }
        }
    }

private:
    std::vector<int> FLengths;
    int64_t FPeriod = 0;
    size_t FIndex = 0;
    int FLeft = 0;
};

// The pixels of one-pixel lines along the figures, as the original surface sets them: one
// pixel per step along the line's longer axis, the last point of an open figure left out, the
// style pattern running on from segment to segment. Only the steps whose pixel can fall inside
// box are walked, so a line of any length costs what its visible part costs.
// sink(x, y, ink) receives every pixel inside box; ink is false in the style's gaps.
template <typename Sink>
void CosmeticPixels(const TPolyFigures& figures, const QVector<qreal>& pattern, const TRect& box,
                    Sink sink) {
    constexpr long kLimit = 1L << 30;
    std::vector<TPoint> points;
    TDashState dash(pattern);
    for (const auto& f : figures) {
        points.clear();
        for (const auto& p : f.Points) {
            if (!std::isfinite(p.X) || !std::isfinite(p.Y)) return;
            TPoint q(int32_t(std::clamp(std::lround(p.X), -kLimit, kLimit)),
                     int32_t(std::clamp(std::lround(p.Y), -kLimit, kLimit)));
            if (points.empty() || q != points.back()) points.push_back(q);
        }
        if (f.Closed && points.size() > 1 && points.front() == points.back()) points.pop_back();
        if (points.size() < 2) continue;
        dash.Reset();
        size_t segments = f.Closed ? points.size() : points.size() - 1;
        for (size_t s = 0; s < segments; ++s) {
            TPoint a = points[s], b = points[(s + 1) % points.size()];
            int64_t dx = int64_t(b.X) - a.X, dy = int64_t(b.Y) - a.Y;
            int64_t steps = std::max(std::abs(dx), std::abs(dy));
            // Step i moves the longer axis to start + i * sign: keep the steps inside the box.
            bool alongX = std::abs(dx) >= std::abs(dy);
            int64_t start = alongX ? a.X : a.Y, sign = (alongX ? dx : dy) < 0 ? -1 : 1;
            int64_t lo = alongX ? box.Left : box.Top, hi = (alongX ? box.Right : box.Bottom) - 1;
            int64_t first = std::max<int64_t>(sign > 0 ? lo - start : start - hi, 0);
            int64_t last = std::min<int64_t>(sign > 0 ? hi - start : start - lo, steps - 1);
            if (first > last) {
                dash.Step(steps);
                continue;
            }
            dash.Step(first);
            // The shorter axis is minor(i) = start + floor((2 i d + steps) / (2 steps)), kept
            // as a quotient and remainder so that a step costs no division.
            int64_t d = alongX ? dy : dx, den = 2 * steps;
            int64_t num = 2 * first * d + steps;
            int64_t q = num >= 0 ? num / den : -((-num + den - 1) / den);
            int64_t rem = num - q * den;
            int64_t minor0 = alongX ? a.Y : a.X;
            for (int64_t i = first; i <= last; ++i) {
                int32_t major = int32_t(start + i * sign), minor = int32_t(minor0 + q);
                int32_t x = alongX ? major : minor, y = alongX ? minor : major;
                if (box.Contains(x, y)) sink(x, y, dash.Ink());
                dash.Step();
                rem += 2 * d;
                if (rem >= den) {
                    rem -= den;
                    ++q;
                } else if (rem < 0) {
                    rem += den;
                    --q;
                }
            }
            dash.Step(steps - 1 - last);
        }
    }
}

void CosmeticRuns(const TPolyFigures& figures, const QVector<qreal>& pattern, const TRect& box,
                  TRunList& ink, TRunList& gaps) {
    CosmeticPixels(figures, pattern, box,
                   [&](int32_t x, int32_t y, bool dash) { (dash ? ink : gaps).Add(x, y); });
}

// Figures cut to a box, so that the stroker never walks outline far outside the surface: the
// parts that cross the box become open pieces, each with the length of outline before it so
// that dashes stay in step. Figures inside the box are kept whole.
struct TPiece {
    TPolyFigure Figure;
    double Offset = 0;
};

std::vector<TPiece> ClipFigures(const TPolyFigures& figures, double l, double t, double r,
                                double b) {
    std::vector<TPiece> pieces;
    auto inside = [&](const TPointF& p) { return p.X >= l && p.X <= r && p.Y >= t && p.Y <= b; };
    for (const auto& f : figures) {
        if (std::all_of(f.Points.begin(), f.Points.end(), inside)) {
            pieces.push_back({f, 0});
            continue;
        }
        size_t n = f.Points.size();
        size_t segments = f.Closed ? n : (n > 0 ? n - 1 : 0);
        double length = 0;
        bool extending = false;
        for (size_t s = 0; s < segments; ++s) {
            TPointF p = f.Points[s], q = f.Points[(s + 1) % n];
            double dx = q.X - p.X, dy = q.Y - p.Y;
            double segment = std::hypot(dx, dy);
            if (!std::isfinite(segment)) return {};
            // The parameter range of the segment inside the box (Liang-Barsky).
            double t0 = 0, t1 = 1;
            bool visible = true;
            const double dir[4] = {-dx, dx, -dy, dy};
            const double room[4] = {p.X - l, r - p.X, p.Y - t, b - p.Y};
            for (int k = 0; k < 4 && visible; ++k) {
                if (dir[k] == 0) {
                    visible = room[k] >= 0;
                    continue;
                }
                double v = room[k] / dir[k];
                if (dir[k] < 0)
                    t0 = std::max(t0, v);
                else
                    t1 = std::min(t1, v);
                visible = t0 <= t1;
            }
            if (visible) {
                if (!extending || t0 > 0)
                    pieces.push_back(
                        {{{TPointF(p.X + t0 * dx, p.Y + t0 * dy)}, false}, length + t0 * segment});
                pieces.back().Figure.Points.push_back({p.X + t1 * dx, p.Y + t1 * dy});
                extending = t1 >= 1;
            } else {
                extending = false;
            }
            length += segment;
        }
    }
    return pieces;
}

class TQtCanvas : public TCanvas {
public:
    explicit TQtCanvas(TBitmap& bitmap)
        : FBitmap(bitmap) {}
    ~TQtCanvas() override { EndPainter(); }

    TSize Size() const override { return {FBitmap.Width(), FBitmap.Height()}; }
    TBitmap* Surface() override { return &FBitmap; }
    void Flush() override { EndPainter(); }

protected:
    void RenderFill(const TRegion& area, const TBrush& brush, TPenMode mode) override {
        FillRegionPixels(area, TPaint(brush, BkMode(), BkColor(), BrushOrigin()), mode);
    }

    void RenderStroke(const TPolyFigures& figures, const TPen& pen) override {
        if (pen.Width <= 1 && !pen.Geometric)
            StrokeCosmetic(figures, pen);
        else
            StrokeWide(figures, pen);
    }

    void RenderShape(const TRegion& interior, const TBrush& brush, const TPolyFigures* outline,
                     const TPen& pen) override {
        if (!outline || interior.IsEmpty() || Repeatable(pen.Mode)) {
            TCanvas::RenderShape(interior, brush, outline, pen);
            return;
        }
        RenderFill(TRegion::Combine(interior, StrokeMask(*outline, pen), roDiff), brush, pen.Mode);
        RenderStroke(*outline, pen);
    }

    void RenderText(const TTextRun& run) override {
        QRawFont raw = QtFonts::DrawingFont(run.Font);
        if (!raw.isValid()) return;
        std::vector<quint32> glyphs;
        QtFonts::Glyphs(run.Font, run.Chars, glyphs);
        QGlyphRun glyphRun;
        glyphRun.setRawFont(raw);
        glyphRun.setGlyphIndexes(QList<quint32>(glyphs.begin(), glyphs.end()));
        QList<QPointF> positions;
        positions.reserve(qsizetype(run.Positions.size()));
        for (int32_t p : run.Positions)
            positions.append(QPointF(p, 0));
        glyphRun.setPositions(positions);
        double degrees = run.Font.Escapement / 10.0;
        QColor ink = QColor::fromRgb(ColorToPixel(run.Font.Color));

        auto draw = [&](QPainter& p, double dx, double dy) {
            p.translate(run.Origin.X + dx, run.Origin.Y + dy);
            if (degrees != 0) p.rotate(-degrees);
            p.setPen(ink);
            p.drawGlyphRun(QPointF(0, 0), glyphRun);
        };
        if (Direct(pmCopy)) {
            draw(Painter(), 0, 0);
            return;
        }
        // The box the glyphs can reach: the cell, an em of overhang either side, turned.
        TTextMetric tm = QtFonts::Metrics(run.Font);
        double em = QtFonts::EmPixels(run.Font);
        double right = (run.Positions.empty() ? 0 : run.Positions.back()) + 2 * em;
        double a = degrees * std::numbers::pi / 180;
        double ux = std::cos(a), uy = -std::sin(a);
        TRect box;
        bool first = true;
        for (double along : {-em, right})
            for (double down : {-tm.Ascent - em / 2, tm.Descent + em / 2}) {
                double x = run.Origin.X + along * ux - down * uy;
                double y = run.Origin.Y + along * uy + down * ux;
                TRect p(int32_t(std::floor(x)), int32_t(std::floor(y)), int32_t(std::ceil(x)) + 1,
                        int32_t(std::ceil(y)) + 1);
                box = first ? p : box.United(p);
                first = false;
            }
        DrawThroughLayer(box, pmCopy,
                         [&](QPainter& p, TPoint topLeft) { draw(p, -topLeft.X, -topLeft.Y); });
    }

    void RenderBitmap(const TRect& dest, bool flipX, bool flipY, const TBitmap& bitmap,
                      const TRect& source, std::optional<uint32_t> keyPixel) override {
        TRegion area = Clipped(TRegion(dest));
        if (area.IsEmpty()) return;
        const uint32_t* src = bitmap.Bits();
        int sw = bitmap.Width(), sh = bitmap.Height();
        // The source column of every visible destination column: the nearest pixel, sampled
        // at its centre.
        TRect visible = area.Bounds();
        std::vector<int32_t> columns(size_t(visible.Width()));
        for (int32_t x = visible.Left; x < visible.Right; ++x) {
            int64_t i = int64_t(x) - dest.Left;
            int32_t k = int32_t(((2 * i + 1) * source.Width()) / (2 * int64_t(dest.Width())));
            columns[size_t(x - visible.Left)] = flipX ? source.Right - 1 - k : source.Left + k;
        }
        uint32_t* bits = FBitmap.SurfaceBits();
        int w = FBitmap.Width();
        uint32_t top = TopByte();
        for (const auto& band : area.Bands())
            for (int32_t y = band.Top; y < band.Bottom; ++y) {
                int64_t i = int64_t(y) - dest.Top;
                int32_t k = int32_t(((2 * i + 1) * source.Height()) / (2 * int64_t(dest.Height())));
                int32_t sy = flipY ? source.Bottom - 1 - k : source.Top + k;
                if (sy < 0 || sy >= sh) continue;
                const uint32_t* srcRow = src + size_t(sy) * sw;
                uint32_t* row = bits + size_t(y) * w;
                for (size_t s = 0; s + 1 < band.Spans.size(); s += 2)
                    for (int32_t x = band.Spans[s]; x < band.Spans[s + 1]; ++x) {
                        int32_t sx = columns[size_t(x - visible.Left)];
                        if (sx < 0 || sx >= sw) continue;
                        uint32_t p = srcRow[sx] & 0xFFFFFF;
                        if (keyPixel && p == *keyPixel) continue;
                        row[x] = p | top;
                    }
            }
    }

    TColor ReadPixel(int32_t x, int32_t y) override {
        return PixelToColor(FBitmap.SurfaceBits()[size_t(y) * FBitmap.Width() + x]);
    }
    void WritePixel(int32_t x, int32_t y, TColor color) override {
        FBitmap.SurfaceBits()[size_t(y) * FBitmap.Width() + x] = ColorToPixel(color) | TopByte();
    }

    TTextMetric FontMetrics(const TFont& font) override { return QtFonts::Metrics(font); }
    bool FontOutlineMetrics(const TFont& font, TOutlineTextMetric& metrics) override {
        return QtFonts::OutlineMetrics(font, metrics);
    }
    void FontAdvances(const TFont& font, std::u32string_view chars, int32_t* advances) override {
        QtFonts::Advances(font, chars, advances);
    }
    TABC FontABC(const TFont& font, char32_t ch) override { return QtFonts::ABC(font, ch); }

    void ClipChanged() override { FClipStale = true; }

private:
    // Painted pixels of a pf32bit bitmap get a top byte of 0; a device surface keeps 0xFF.
    uint32_t TopByte() const { return FBitmap.PixelFormat() == pf32bit ? 0u : 0xFF000000u; }

    // Qt may paint straight into the bitmap only where what it writes is what we would write.
    bool Direct(TPenMode mode) const { return mode == pmCopy && FBitmap.PixelFormat() == pfDevice; }

    TRegion Clipped(const TRegion& area) const {
        TSize size = Size();
        TRegion surface(TRect(0, 0, size.Width, size.Height));
        const TRegion* clip = ClipRegion();
        return TRegion::Combine(area, clip ? TRegion::Combine(*clip, surface, roAnd) : surface,
                                roAnd);
    }

    void FillRegionPixels(const TRegion& area, const TPaint& paint, TPenMode mode) {
        uint32_t* bits = FBitmap.SurfaceBits();
        if (!bits) return;
        int w = FBitmap.Width(), h = FBitmap.Height();
        uint32_t top = TopByte();
        bool plain = paint.Solid() && mode == pmCopy;
        uint32_t solid = paint.Ink() | top;
        for (const auto& band : area.Bands()) {
            int32_t y0 = std::max(band.Top, 0), y1 = std::min(band.Bottom, h);
            for (int32_t y = y0; y < y1; ++y) {
                uint32_t* row = bits + size_t(y) * w;
                for (size_t s = 0; s + 1 < band.Spans.size(); s += 2) {
                    int32_t x0 = std::max(band.Spans[s], 0), x1 = std::min(band.Spans[s + 1], w);
                    if (plain) {
                        std::fill(row + x0, row + std::max(x0, x1), solid);
                        continue;
                    }
                    for (int32_t x = x0; x < x1; ++x) {
                        uint32_t colour;
                        if (paint.At(x, y, colour))
                            row[x] = (Rop(mode, colour, row[x]) & 0xFFFFFF) | top;
                    }
                }
            }
        }
    }

    // Modes for which painting a pixel twice gives what painting it once does.
    static bool Repeatable(TPenMode mode) {
        switch (mode) {
        case pmBlack:
        case pmWhite:
        case pmNop:
        case pmCopy:
        case pmNotCopy:
        case pmMergeNotPen:
        case pmMaskNotPen:
        case pmMerge:
        case pmMask: return true;
        default: return false;
        }
    }

    // The pixels a stroke paints, within the clip.
    TRegion StrokeMask(const TPolyFigures& figures, const TPen& pen) {
        if (pen.Width > 1 || pen.Geometric) return WideStrokeRegion(figures, pen);
        TRunList ink, gaps;
        CosmeticRuns(figures, DashPattern(pen), ClipBox(), ink, gaps);
        if (BkMode() == bkOpaque) ink.Append(gaps);
        return WithinClip(ink.Region());
    }

    void StrokeCosmetic(const TPolyFigures& figures, const TPen& pen) {
        QVector<qreal> pattern = DashPattern(pen);
        if (ClipIsBox() && pattern.isEmpty() && Repeatable(pen.Mode)) {
            // A clip no finer than the clip box, and a mode under which setting a pixel twice
            // (the corners of a closed outline) changes nothing: the pixels are written as they
            // are stepped.
            uint32_t* bits = FBitmap.SurfaceBits();
            int w = FBitmap.Width();
            uint32_t colour = ColorToPixel(pen.Color), top = TopByte();
            TPenMode mode = pen.Mode;
            CosmeticPixels(figures, pattern, ClipBox(), [&](int32_t x, int32_t y, bool) {
                uint32_t& p = bits[size_t(y) * w + x];
                p = (Rop(mode, colour, p) & 0xFFFFFF) | top;
            });
            return;
        }
        TRunList ink, gaps;
        CosmeticRuns(figures, DashPattern(pen), ClipBox(), ink, gaps);
        TRegion inkArea = WithinClip(ink.Region());
        if (BkMode() == bkOpaque && !gaps.Empty()) {
            // Where a line crosses itself a dash wins over a gap.
            TRegion gapArea = TRegion::Combine(WithinClip(gaps.Region()), inkArea, roDiff);
            FillRegionPixels(gapArea, SolidPaint(BkColor()), pen.Mode);
        }
        FillRegionPixels(inkArea, SolidPaint(pen.Color), pen.Mode);
    }

    // Whether the clip is all of the clip box (no clip, or one rectangle).
    bool ClipIsBox() const {
        const TRegion* clip = ClipRegion();
        return !clip || (clip->Bands().size() == 1 && clip->Bands()[0].Spans.size() == 2);
    }

    // An area that is within the surface already, cut to the clip.
    TRegion WithinClip(TRegion area) const {
        if (const TRegion* clip = ClipRegion()) return TRegion::Combine(area, *clip, roAnd);
        return area;
    }

    static TPaint SolidPaint(TColor color) {
        return TPaint(TBrush{color, bsSolid, nullptr}, bkTransparent, clNone, {});
    }

    TRegion WideStrokeRegion(const TPolyFigures& figures, const TPen& pen) {
        TRect box = ClipBox();
        if (box.IsEmpty()) return {};
        QPainterPathStroker stroker;
        stroker.setWidth(pen.Width);
        stroker.setCapStyle(pen.EndCap == pecFlat     ? Qt::FlatCap
                            : pen.EndCap == pecSquare ? Qt::SquareCap
                                                      : Qt::RoundCap);
        stroker.setJoinStyle(pen.Join == pjBevel   ? Qt::BevelJoin
                             : pen.Join == pjMiter ? Qt::MiterJoin
                                                   : Qt::RoundJoin);
        stroker.setMiterLimit(kMiterLimit);
        QVector<qreal> dashes = DashPattern(pen);
        if (!dashes.isEmpty()) stroker.setDashPattern(dashes);
        // Outline further out than a miter reaches cannot paint inside the box.
        double margin = pen.Width * kMiterLimit + 2;
        std::vector<TPiece> pieces = ClipFigures(figures, box.Left - margin, box.Top - margin,
                                                 box.Right + margin, box.Bottom + margin);
        TPolyFigures polygons;
        auto collect = [&](const QPainterPath& outline) {
            for (const QPolygonF& polygon : outline.toSubpathPolygons()) {
                TPolyFigure f;
                f.Closed = true;
                f.Points.reserve(size_t(polygon.size()));
                for (const QPointF& q : polygon)
                    f.Points.push_back({q.x(), q.y()});
                polygons.push_back(std::move(f));
            }
        };
        if (dashes.isEmpty()) {
            TPolyFigures whole;
            for (auto& piece : pieces)
                whole.push_back(std::move(piece.Figure));
            collect(stroker.createStroke(ToPath(whole)));
        } else {
            for (const auto& piece : pieces) {
                stroker.setDashOffset(piece.Offset / pen.Width);
                collect(stroker.createStroke(ToPath({piece.Figure})));
            }
        }
        return WithinClip(TRegion::FromFigures(polygons, fmWinding, &box));
    }

    void StrokeWide(const TPolyFigures& figures, const TPen& pen) {
        TRegion area = WideStrokeRegion(figures, pen);
        if (!area.IsEmpty()) FillRegionPixels(area, SolidPaint(pen.Color), pen.Mode);
    }

    // Lets Qt draw into a transparent layer over box, then combines every pixel it painted
    // with the surface by mode, within the clip, as a fill would.
    template <typename Draw>
    void DrawThroughLayer(const TRect& wanted, TPenMode mode, Draw draw) {
        TRect box = wanted.Intersected(ClipBox());
        if (box.IsEmpty()) return;
        QImage layer(box.Width(), box.Height(), QImage::Format_ARGB32);
        layer.fill(0);
        {
            QPainter p(&layer);
            p.setRenderHint(QPainter::Antialiasing, false);
            p.setRenderHint(QPainter::TextAntialiasing, false);
            draw(p, box.TopLeft());
        }
        TRegion area = Clipped(TRegion(box));
        uint32_t* bits = FBitmap.SurfaceBits();
        int w = FBitmap.Width();
        uint32_t top = TopByte();
        for (const auto& band : area.Bands())
            for (int32_t y = band.Top; y < band.Bottom; ++y) {
                const auto* src =
                    reinterpret_cast<const uint32_t*>(layer.constScanLine(y - box.Top));
                uint32_t* row = bits + size_t(y) * w;
                for (size_t s = 0; s + 1 < band.Spans.size(); s += 2)
                    for (int32_t x = band.Spans[s]; x < band.Spans[s + 1]; ++x) {
                        uint32_t v = src[x - box.Left];
                        if ((v >> 24) == 0xFF)
                            row[x] = (Rop(mode, v & 0xFFFFFF, row[x]) & 0xFFFFFF) | top;
                    }
            }
    }

    // A painter on the bitmap's own pixels, for drawing Qt can do exactly as we would.
    QPainter& Painter() {
        uint32_t* bits = FBitmap.SurfaceBits();
        int w = FBitmap.Width(), h = FBitmap.Height();
        if (FPainter.isActive() && (bits != FImageBits || w != FImageW || h != FImageH))
            EndPainter();
        if (!FPainter.isActive()) {
            FImage.emplace(reinterpret_cast<uchar*>(bits), w, h, qsizetype(w) * 4,
                           QImage::Format_RGB32);
            FImageBits = bits;
            FImageW = w;
            FImageH = h;
            FPainter.begin(&*FImage);
            FPainter.setRenderHint(QPainter::Antialiasing, false);
            FPainter.setRenderHint(QPainter::TextAntialiasing, false);
            FClipStale = true;
        }
        // The clip is given in the painter's coordinates, so the transform must be reset first.
        FPainter.resetTransform();
        if (FClipStale) {
            if (const TRegion* clip = ClipRegion()) {
                std::vector<TRect> rects = clip->Rects();
                std::vector<QRect> q;
                q.reserve(rects.size());
                for (const auto& r : rects)
                    q.push_back(ToQRect(r));
                QRegion region;
                region.setRects(q.data(), int(q.size()));
                FPainter.setClipRegion(region);
            } else {
                FPainter.setClipping(false);
            }
            FClipStale = false;
        }
        return FPainter;
    }

    void EndPainter() {
        if (FPainter.isActive()) FPainter.end();
        FImage.reset();
        FImageBits = nullptr;
    }

    TBitmap& FBitmap;
    QPainter FPainter;
    std::optional<QImage> FImage; // wraps the bitmap's pixels; never copied, so never detached
    uint32_t* FImageBits = nullptr;
    int FImageW = 0, FImageH = 0;
    bool FClipStale = true;
};

class TQtBackend : public TCanvasBackend {
public:
    std::unique_ptr<TCanvas> CreateBitmapCanvas(TBitmap& bitmap) override {
        return CreateQtCanvas(bitmap);
    }
    std::unique_ptr<TBitmap> DecodeIcon(std::span<const uint8_t> bytes) override {
        return QtImages::DecodeIconImage(bytes);
    }
};

} // namespace

std::unique_ptr<TCanvas> CreateQtCanvas(TBitmap& bitmap) {
    return std::make_unique<TQtCanvas>(bitmap);
}

void InstallQtCanvasBackend() {
    static TQtBackend backend;
    if (!QCoreApplication::instance()) {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "guardconsole";
        static char* argv[] = {name, nullptr};
        static QGuiApplication* app = new QGuiApplication(argc, argv);
        (void)app;
    }
    SetCanvasBackend(&backend);
}
