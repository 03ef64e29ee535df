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

// num / den rounded half up, for den > 0 and any sign of num.
int64_t RoundDiv(int64_t num, int64_t den) {
    int64_t n = 2 * num + den, d = 2 * den;
    return n >= 0 ? n / d : -((-n + d - 1) / d);
}

TRegion PointsRegion(std::vector<TPoint>& points) {
    std::sort(points.begin(), points.end(),
              [](const TPoint& a, const TPoint& b) { return a.Y != b.Y ? a.Y < b.Y : a.X < b.X; });
    TRegionBuilder builder;
    std::vector<int32_t> spans;
    for (size_t i = 0; i < points.size();) {
        int32_t y = points[i].Y;
        spans.clear();
        while (i < points.size() && points[i].Y == y) {
            int32_t x = points[i].X, end = x + 1;
            while (++i < points.size() && points[i].Y == y && points[i].X <= end)
                end = std::max(end, points[i].X + 1);
            spans.push_back(x);
            spans.push_back(end);
        }
        builder.AddRow(y, spans);
    }
    return builder.Finish();
}

// The pixels of one-pixel lines along the figures, as the original surface sets them: one
// pixel per step along the line's longer axis, the last point of an open figure left out, the
// style pattern running on from segment to segment. Dash pixels go to ink, gap pixels to gaps.
void CosmeticPixels(const TPolyFigures& figures, const QVector<qreal>& dashes,
                    std::vector<TPoint>& ink, std::vector<TPoint>& gaps) {
    std::vector<TPoint> points;
    for (const auto& f : figures) {
        points.clear();
        for (const auto& p : f.Points) {
            if (!std::isfinite(p.X) || !std::isfinite(p.Y)) return;
            TPoint q(int32_t(std::clamp(std::lround(p.X), -(1L << 30), 1L << 30)),
                     int32_t(std::clamp(std::lround(p.Y), -(1L << 30), 1L << 30)));
            if (points.empty() || q != points.back()) points.push_back(q);
        }
        if (f.Closed && points.size() > 1 && points.front() == points.back()) points.pop_back();
        if (points.size() < 2) continue;
        size_t dash = 0;
        int remaining = dashes.isEmpty() ? 0 : int(dashes[0]);
        size_t segments = f.Closed ? points.size() : points.size() - 1;
        for (size_t s = 0; s < segments; ++s) {
            TPoint a = points[s], b = points[(s + 1) % points.size()];
            int64_t dx = int64_t(b.X) - a.X, dy = int64_t(b.Y) - a.Y;
            int64_t steps = std::max(std::abs(dx), std::abs(dy));
            for (int64_t i = 0; i < steps; ++i) {
                TPoint p(int32_t(a.X + RoundDiv(i * dx, steps)),
                         int32_t(a.Y + RoundDiv(i * dy, steps)));
                if (dashes.isEmpty() || dash % 2 == 0)
                    ink.push_back(p);
                else
                    gaps.push_back(p);
                if (!dashes.isEmpty() && --remaining <= 0) {
                    dash = (dash + 1) % size_t(dashes.size());
                    remaining = int(dashes[qsizetype(dash)]);
                }
            }
        }
    }
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
        // Source column of every destination column: nearest pixel, sampled at its centre.
        std::vector<int32_t> columns(size_t(dest.Width()));
        for (int32_t i = 0; i < dest.Width(); ++i) {
            int32_t k =
                int32_t((int64_t(2 * i + 1) * source.Width()) / (2 * int64_t(dest.Width())));
            columns[size_t(i)] = flipX ? source.Right - 1 - k : source.Left + k;
        }
        uint32_t* bits = FBitmap.SurfaceBits();
        int w = FBitmap.Width();
        uint32_t top = TopByte();
        for (const auto& band : area.Bands())
            for (int32_t y = band.Top; y < band.Bottom; ++y) {
                int32_t k = int32_t((int64_t(2 * (y - dest.Top) + 1) * source.Height()) /
                                    (2 * int64_t(dest.Height())));
                int32_t sy = flipY ? source.Bottom - 1 - k : source.Top + k;
                if (sy < 0 || sy >= sh) continue;
                const uint32_t* srcRow = src + size_t(sy) * sw;
                uint32_t* row = bits + size_t(y) * w;
                for (size_t s = 0; s + 1 < band.Spans.size(); s += 2)
                    for (int32_t x = band.Spans[s]; x < band.Spans[s + 1]; ++x) {
                        int32_t sx = columns[size_t(x - dest.Left)];
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
        std::vector<TPoint> ink, gaps;
        CosmeticPixels(figures, DashPattern(pen), ink, gaps);
        if (BkMode() == bkOpaque) ink.insert(ink.end(), gaps.begin(), gaps.end());
        return Clipped(PointsRegion(ink));
    }

    void StrokeCosmetic(const TPolyFigures& figures, const TPen& pen) {
        std::vector<TPoint> ink, gaps;
        CosmeticPixels(figures, DashPattern(pen), ink, gaps);
        TRegion inkArea = Clipped(PointsRegion(ink));
        if (BkMode() == bkOpaque && !gaps.empty()) {
            // Where a line crosses itself a dash wins over a gap.
            TRegion gapArea = TRegion::Combine(Clipped(PointsRegion(gaps)), inkArea, roDiff);
            FillRegionPixels(gapArea, SolidPaint(BkColor()), pen.Mode);
        }
        FillRegionPixels(inkArea, SolidPaint(pen.Color), pen.Mode);
    }

    static TPaint SolidPaint(TColor color) {
        return TPaint(TBrush{color, bsSolid, nullptr}, bkTransparent, clNone, {});
    }

    TRegion WideStrokeRegion(const TPolyFigures& figures, const TPen& pen) {
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
        QPainterPath outline = stroker.createStroke(ToPath(figures));
        TPolyFigures polygons;
        for (const QPolygonF& polygon : outline.toSubpathPolygons()) {
            TPolyFigure f;
            f.Closed = true;
            f.Points.reserve(size_t(polygon.size()));
            for (const QPointF& q : polygon)
                f.Points.push_back({q.x(), q.y()});
            polygons.push_back(std::move(f));
        }
        TRect box = ClipBox();
        return Clipped(TRegion::FromFigures(polygons, fmWinding, &box));
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
