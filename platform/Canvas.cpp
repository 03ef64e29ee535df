#include "Canvas.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "Bitmap.h"
#include "CanvasShapes.h"
#include "CodePage.h"

namespace {

// The fixed colours behind the system colour indexes (a light desktop scheme).
constexpr TColor kSystemColors[] = {
    RGB(0xC8, 0xC8, 0xC8), RGB(0x00, 0x00, 0x00), RGB(0x99, 0xB4, 0xD1), RGB(0xBF, 0xCD, 0xDB),
    RGB(0xF0, 0xF0, 0xF0), RGB(0xFF, 0xFF, 0xFF), RGB(0x64, 0x64, 0x64), RGB(0x00, 0x00, 0x00),
    RGB(0x00, 0x00, 0x00), RGB(0x00, 0x00, 0x00), RGB(0xB4, 0xB4, 0xB4), RGB(0xF4, 0xF7, 0xFC),
    RGB(0xAB, 0xAB, 0xAB), RGB(0x33, 0x99, 0xFF), RGB(0xFF, 0xFF, 0xFF), RGB(0xF0, 0xF0, 0xF0),
    RGB(0xA0, 0xA0, 0xA0), RGB(0x6D, 0x6D, 0x6D), RGB(0x00, 0x00, 0x00), RGB(0x43, 0x4E, 0x54),
    RGB(0xFF, 0xFF, 0xFF), RGB(0x69, 0x69, 0x69), RGB(0xE3, 0xE3, 0xE3), RGB(0x00, 0x00, 0x00),
    RGB(0xFF, 0xFF, 0xE1),
};

TCanvasBackend* gBackend = nullptr;

// Malformed bytes become U+FFFD one by one, so a bad byte never swallows good text.
std::u32string DecodeUtf8(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        unsigned char c = text[i];
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        }
        int extra = (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 0;
        char32_t cp = c & (0x3F >> extra);
        bool ok = extra > 0 && i + extra < text.size();
        for (int k = 1; ok && k <= extra; ++k) {
            unsigned char next = text[i + k];
            if ((next >> 6) != 2)
                ok = false;
            else
                cp = cp << 6 | (next & 0x3F);
        }
        if (!ok) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += extra + 1;
    }
    return out;
}

TPoint RoundPoint(TPointF p) {
    return {int32_t(std::lround(p.X)), int32_t(std::lround(p.Y))};
}

TPolyFigure IntFigure(std::span<const TPoint> points, bool closed) {
    TPolyFigure f;
    f.Closed = closed;
    f.Points.assign(points.begin(), points.end());
    return f;
}

// Three Bezier points of the quarter (or shorter) elliptic arc from parameter a0 to a1.
void QuarterBezier(double cx, double cy, double rx, double ry, double a0, double a1,
                   std::vector<TPointF>& out) {
    double k = 4.0 / 3.0 * std::tan((a1 - a0) / 4);
    auto at = [&](double t) { return TPointF(cx + rx * std::cos(t), cy - ry * std::sin(t)); };
    auto d = [&](double t) { return TPointF(-rx * std::sin(t), -ry * std::cos(t)); };
    TPointF p0 = at(a0), p3 = at(a1), d0 = d(a0), d1 = d(a1);
    out.push_back({p0.X + k * d0.X, p0.Y + k * d0.Y});
    out.push_back({p3.X - k * d1.X, p3.Y - k * d1.Y});
    out.push_back(p3);
}

const std::shared_ptr<const TBitmap>& FocusPattern() {
    static const std::shared_ptr<const TBitmap> pattern = [] {
        auto b = std::make_shared<TBitmap>(2, 2);
        b->ScanLine(0)[0] = 0xFFFFFFFFu;
        b->ScanLine(0)[1] = 0xFF000000u;
        b->ScanLine(1)[0] = 0xFF000000u;
        b->ScanLine(1)[1] = 0xFFFFFFFFu;
        return b;
    }();
    return pattern;
}

// The text of one DrawText line with its advances (tabs expanded) and width.
struct TTextLine {
    std::u32string Chars;
    std::vector<int32_t> Advances;
    int32_t Width = 0;
};

bool IsBlank(char32_t c) {
    return c == U' ' || c == U'\t';
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Colours, brushes, fonts

TColor ColorToRGB(TColor color) {
    if ((uint32_t(color) & 0xFF000000u) == uint32_t(clSystemColor)) {
        uint32_t index = uint32_t(color) & 0xFF;
        if (index < std::size(kSystemColors)) return kSystemColors[index];
        return clBlack;
    }
    return color;
}

uint32_t ColorToPixel(TColor color) {
    TColor c = ColorToRGB(color);
    return uint32_t(GetRValue(c)) << 16 | uint32_t(GetGValue(c)) << 8 | GetBValue(c);
}

TColor PixelToColor(uint32_t pixel) {
    return RGB(uint8_t(pixel >> 16), uint8_t(pixel >> 8), uint8_t(pixel));
}

const char* const kPenStyleNames[7] = {"psSolid",      "psDash",  "psDot",        "psDashDot",
                                       "psDashDotDot", "psClear", "psInsideFrame"};
const char* const kPenModeNames[16] = {
    "pmBlack",       "pmWhite",      "pmNop",         "pmNot",        "pmCopy",  "pmNotCopy",
    "pmMergePenNot", "pmMaskPenNot", "pmMergeNotPen", "pmMaskNotPen", "pmMerge", "pmNotMerge",
    "pmMask",        "pmNotMask",    "pmXor",         "pmNotXor"};
const char* const kPenEndCapNames[3] = {"pecFlat", "pecSquare", "pecRound"};
const char* const kPenJoinNames[3] = {"pjBevel", "pjMiter", "pjRound"};
const char* const kBrushStyleNames[8] = {"bsSolid",    "bsClear",     "bsHorizontal",
                                         "bsVertical", "bsFDiagonal", "bsBDiagonal",
                                         "bsCross",    "bsDiagCross"};
const char* const kFontPitchNames[3] = {"fpDefault", "fpVariable", "fpFixed"};
const char* const kFontStyleNames[4] = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};

uint8_t HatchPatternRow(TBrushStyle style, int row) {
    row &= 7;
    switch (style) {
    case bsHorizontal: return row == 0 ? 0xFF : 0x00;
    case bsVertical: return 0x80;
    case bsFDiagonal: return uint8_t(0x80 >> row);
    case bsBDiagonal: return uint8_t(1 << row);
    case bsCross: return row == 0 ? 0xFF : 0x80;
    case bsDiagCross: return uint8_t((0x80 >> row) | (1 << row));
    default: return 0;
    }
}

TFontStyles TFont::Style() const {
    TFontStyles s = 0;
    if (Weight >= kFontWeightBold) s |= FontStyleBit(fsBold);
    if (Italic) s |= FontStyleBit(fsItalic);
    if (Underline) s |= FontStyleBit(fsUnderline);
    if (StrikeOut) s |= FontStyleBit(fsStrikeOut);
    return s;
}

void TFont::SetStyle(TFontStyles style) {
    Weight = (style & FontStyleBit(fsBold)) ? kFontWeightBold : kFontWeightNormal;
    Italic = style & FontStyleBit(fsItalic);
    Underline = style & FontStyleBit(fsUnderline);
    StrikeOut = style & FontStyleBit(fsStrikeOut);
}

// ---------------------------------------------------------------------------------------------
// Back end

std::unique_ptr<TBitmap> TCanvasBackend::DecodeIcon(std::span<const uint8_t>) {
    return nullptr;
}

TCanvasBackend* CanvasBackend() {
    return gBackend;
}
void SetCanvasBackend(TCanvasBackend* backend) {
    gBackend = backend;
}

// ---------------------------------------------------------------------------------------------
// State

TCanvas::TCanvas() = default;
TCanvas::~TCanvas() = default;

void TCanvas::SetPen(const TPen& pen) {
    FState.Pen = pen;
}

void TCanvas::SetBrush(const TBrush& brush) {
    FState.Brush = brush;
    if (!brush.Bitmap && brush.Style == bsSolid && brush.Color != clNone) {
        FState.BkMode = bkOpaque;
        FState.BkColor = brush.Color;
    } else {
        FState.BkMode = bkTransparent;
    }
}

void TCanvas::SetFont(const TFont& font) {
    FState.Font = font;
}
void TCanvas::SetBrushOrigin(TPoint origin) {
    FState.BrushOrigin = origin;
}
void TCanvas::SetBkMode(TBkMode mode) {
    FState.BkMode = mode;
}
void TCanvas::SetBkColor(TColor color) {
    FState.BkColor = color;
}
void TCanvas::SetPolyFillMode(TFillMode mode) {
    FState.FillMode = mode;
}
void TCanvas::SetTextAlign(uint32_t align) {
    FState.TextAlign = align;
}

int TCanvas::SaveState() {
    FSaved.push_back(FState);
    return int(FSaved.size());
}

void TCanvas::RestoreState(int level) {
    int depth = int(FSaved.size());
    if (level < 0) level = depth + 1 + level;
    if (level < 1 || level > depth) return;
    FState = std::move(FSaved[level - 1]);
    FSaved.resize(level - 1);
    ClipChanged();
}

// ---------------------------------------------------------------------------------------------
// Clip

bool TCanvas::GetClipRegion(TRegion& region) const {
    if (!FState.Clip) {
        region = TRegion();
        return false;
    }
    region = *FState.Clip;
    return true;
}

void TCanvas::SetClipRegion(const TRegion* region) {
    if (region)
        FState.Clip = *region;
    else
        FState.Clip.reset();
    ClipChanged();
}

void TCanvas::CombineClipRegion(const TRegion& region, TRegionOp op) {
    TSize size = Size();
    TRegion current = FState.Clip ? *FState.Clip : TRegion(TRect(0, 0, size.Width, size.Height));
    FState.Clip = TRegion::Combine(current, region, op);
    ClipChanged();
}

void TCanvas::IntersectClipRect(const TRect& rect) {
    CombineClipRegion(TRegion(rect), roAnd);
}
void TCanvas::ExcludeClipRect(const TRect& rect) {
    CombineClipRegion(TRegion(rect), roDiff);
}

TRect TCanvas::ClipBox() const {
    TSize size = Size();
    TRect surface(0, 0, size.Width, size.Height);
    return FState.Clip ? FState.Clip->Bounds().Intersected(surface) : surface;
}

void TCanvas::PushClip() {
    FClipStack.push_back(FState.Clip);
}

void TCanvas::PopClip() {
    if (FClipStack.empty()) return;
    FState.Clip = std::move(FClipStack.back());
    FClipStack.pop_back();
    ClipChanged();
}

// ---------------------------------------------------------------------------------------------
// Drawing helpers

bool TCanvas::PenVisible() const {
    const TPen& p = FState.Pen;
    return p.Style != psClear && p.Color != clNone && p.Mode != pmNop;
}

bool TCanvas::BrushVisible() const {
    const TBrush& b = FState.Brush;
    if (b.Bitmap) return !b.Bitmap->Empty();
    return b.Style != bsClear && b.Color != clNone;
}

void TCanvas::FillArea(const TRegion& area, const TBrush& brush, TPenMode mode) {
    if (mode == pmNop || area.IsEmpty()) return;
    TSize size = Size();
    TRegion clipped = TRegion::Combine(
        area, FState.Clip ? *FState.Clip : TRegion(TRect(0, 0, size.Width, size.Height)), roAnd);
    if (!clipped.IsEmpty()) RenderFill(clipped, brush, mode);
}

TPen TCanvas::StrokePen() const {
    TPen pen = FState.Pen;
    if (pen.Style == psInsideFrame) pen.Style = psSolid;
    if (!pen.Geometric) {
        if (pen.Width > 1) {
            pen.Style = psSolid;
            pen.EndCap = pecRound;
            pen.Join = pjRound;
        } else {
            pen.Width = 1;
        }
    } else {
        pen.Width = std::max(pen.Width, 1);
    }
    return pen;
}

void TCanvas::StrokeFigures(const TPolyFigures& figures) {
    RenderStroke(figures, StrokePen());
}

void TCanvas::RenderShape(const TRegion& interior, const TBrush& brush, const TPolyFigures* outline,
                          const TPen& pen) {
    if (!interior.IsEmpty()) RenderFill(interior, brush, pen.Mode);
    if (outline) RenderStroke(*outline, pen);
}

void TCanvas::DrawShape(const TPolyFigures& fill, const TPolyFigures& stroke) {
    if (FState.Pen.Mode == pmNop) return;
    TRegion interior;
    if (BrushVisible()) {
        TRect box = ClipBox();
        TSize size = Size();
        interior = TRegion::Combine(
            TRegion::FromFigures(fill, FState.FillMode, &box),
            FState.Clip ? *FState.Clip : TRegion(TRect(0, 0, size.Width, size.Height)), roAnd);
    }
    bool pen = PenVisible();
    if (interior.IsEmpty() && !pen) return;
    RenderShape(interior, FState.Brush, pen ? &stroke : nullptr, StrokePen());
}

void TCanvas::ShapeBox(const TRect& rect, double& l, double& t, double& r, double& b) const {
    TRect n = rect.Normalized();
    l = n.Left;
    t = n.Top;
    r = n.Right - 1;
    b = n.Bottom - 1;
    const TPen& p = FState.Pen;
    if (p.Style == psInsideFrame && PenVisible() && p.Width > 1) {
        double inset = (p.Width - 1) / 2.0;
        l += inset;
        t += inset;
        r -= inset;
        b -= inset;
        if (l > r) l = r = (l + r) / 2;
        if (t > b) t = b = (t + b) / 2;
    }
}

// ---------------------------------------------------------------------------------------------
// Path recording

void TCanvas::DropPath() {
    FPathState = TPathState::None;
    FPathPoints.clear();
    FPathTypes.clear();
    FFigureStart = -1;
}

void TCanvas::PathMoveTo(TPoint p) {
    FFigureStart = int32_t(FPathPoints.size());
    FPathPoints.push_back(p);
    FPathTypes.push_back(pptMoveTo);
}

void TCanvas::PathLineTo(TPoint p) {
    if (FFigureStart < 0) PathMoveTo(FState.PenPos);
    FPathPoints.push_back(p);
    FPathTypes.push_back(pptLineTo);
}

void TCanvas::PathBezierTo(TPoint c1, TPoint c2, TPoint p) {
    if (FFigureStart < 0) PathMoveTo(FState.PenPos);
    for (TPoint q : {c1, c2, p}) {
        FPathPoints.push_back(q);
        FPathTypes.push_back(pptBezierTo);
    }
}

// beziers: a start point and three points per piece. moveFirst starts a new figure at the
// start point, else a line leads there from the open figure.
void TCanvas::PathAddFloat(const std::vector<TPointF>& beziers, bool moveFirst, bool close) {
    if (beziers.empty()) return;
    if (moveFirst)
        PathMoveTo(RoundPoint(beziers[0]));
    else
        PathLineTo(RoundPoint(beziers[0]));
    for (size_t i = 1; i + 2 < beziers.size(); i += 3)
        PathBezierTo(RoundPoint(beziers[i]), RoundPoint(beziers[i + 1]),
                     RoundPoint(beziers[i + 2]));
    if (close) {
        FPathTypes.back() |= pptCloseFigure;
        FFigureStart = -1;
    }
}

TPolyFigures TCanvas::PathFigures(bool closeAll) const {
    TPolyFigures figures;
    size_t n = FPathPoints.size();
    for (size_t i = 0; i < n; ++i) {
        uint8_t type = FPathTypes[i] & ~pptCloseFigure;
        if (type == pptMoveTo || figures.empty()) {
            figures.push_back({});
            figures.back().Points.push_back(FPathPoints[i]);
        } else if (type == pptLineTo) {
            figures.back().Points.push_back(FPathPoints[i]);
        } else if (type == pptBezierTo && i + 2 < n) {
            auto& pts = figures.back().Points;
            CanvasShapes::FlattenBezier(pts.back(), FPathPoints[i], FPathPoints[i + 1],
                                        FPathPoints[i + 2], pts);
            i += 2;
        }
        if (FPathTypes[i] & pptCloseFigure) figures.back().Closed = true;
    }
    if (closeAll)
        for (auto& f : figures)
            f.Closed = true;
    return figures;
}

void TCanvas::BeginPath() {
    DropPath();
    FPathState = TPathState::Open;
}

bool TCanvas::EndPath() {
    if (FPathState != TPathState::Open) return false;
    FPathState = TPathState::Closed;
    FFigureStart = -1;
    return true;
}

void TCanvas::AbortPath() {
    DropPath();
}

bool TCanvas::CloseFigure() {
    if (FPathState != TPathState::Open || FFigureStart < 0) return false;
    FPathTypes.back() |= pptCloseFigure;
    FFigureStart = -1;
    return true;
}

bool TCanvas::StrokePath() {
    if (FPathState != TPathState::Closed) return false;
    TPolyFigures figures = PathFigures(false);
    DropPath();
    if (PenVisible()) StrokeFigures(figures);
    return true;
}

bool TCanvas::FillPath() {
    if (FPathState != TPathState::Closed) return false;
    TPolyFigures figures = PathFigures(true);
    DropPath();
    if (FState.Pen.Mode != pmNop && BrushVisible()) {
        TRect box = ClipBox();
        FillArea(TRegion::FromFigures(figures, FState.FillMode, &box), FState.Brush,
                 FState.Pen.Mode);
    }
    return true;
}

bool TCanvas::StrokeAndFillPath() {
    if (FPathState != TPathState::Closed) return false;
    TPolyFigures figures = PathFigures(true);
    DropPath();
    DrawShape(figures, figures);
    return true;
}

bool TCanvas::SelectClipPath(TRegionOp op) {
    if (FPathState != TPathState::Closed) return false;
    TRegion region = TRegion::FromFigures(PathFigures(true), FState.FillMode);
    DropPath();
    CombineClipRegion(region, op);
    return true;
}

bool TCanvas::FlattenPath() {
    if (FPathState != TPathState::Closed) return false;
    std::vector<TPoint> points;
    std::vector<uint8_t> types;
    size_t n = FPathPoints.size();
    for (size_t i = 0; i < n; ++i) {
        uint8_t type = FPathTypes[i] & ~pptCloseFigure;
        if (type == pptBezierTo && i + 2 < n && !points.empty()) {
            std::vector<TPointF> flat;
            CanvasShapes::FlattenBezier(points.back(), FPathPoints[i], FPathPoints[i + 1],
                                        FPathPoints[i + 2], flat);
            i += 2;
            for (const TPointF& f : flat) {
                TPoint p = RoundPoint(f);
                if (p == points.back() && (types.back() & ~pptCloseFigure) != pptMoveTo) continue;
                points.push_back(p);
                types.push_back(pptLineTo);
            }
        } else {
            points.push_back(FPathPoints[i]);
            types.push_back(type);
        }
        if (FPathTypes[i] & pptCloseFigure) types.back() |= pptCloseFigure;
    }
    FPathPoints = std::move(points);
    FPathTypes = std::move(types);
    return true;
}

bool TCanvas::GetPath(std::vector<TPoint>& points, std::vector<uint8_t>& types) const {
    if (FPathState != TPathState::Closed) {
        points.clear();
        types.clear();
        return false;
    }
    points = FPathPoints;
    types = FPathTypes;
    return true;
}

TRegion TCanvas::PathToRegion() {
    if (FPathState != TPathState::Closed) return {};
    TRegion region = TRegion::FromFigures(PathFigures(true), FState.FillMode);
    DropPath();
    return region;
}

// ---------------------------------------------------------------------------------------------
// Lines and shapes

void TCanvas::MoveTo(int32_t x, int32_t y) {
    FState.PenPos = {x, y};
    if (FPathState == TPathState::Open) FFigureStart = -1;
}

void TCanvas::LineTo(int32_t x, int32_t y) {
    TPoint from = FState.PenPos;
    if (FPathState == TPathState::Open) {
        PathLineTo({x, y});
        FState.PenPos = {x, y};
        return;
    }
    FState.PenPos = {x, y};
    if (PenVisible()) {
        TPoint line[2] = {from, {x, y}};
        StrokeFigures({IntFigure(line, false)});
    }
}

void TCanvas::Polyline(std::span<const TPoint> points) {
    if (points.size() < 2) return;
    if (FPathState == TPathState::Open) {
        PathMoveTo(points[0]);
        for (size_t i = 1; i < points.size(); ++i)
            PathLineTo(points[i]);
        return;
    }
    if (PenVisible()) StrokeFigures({IntFigure(points, false)});
}

void TCanvas::PolyBezier(std::span<const TPoint> points) {
    if (points.size() < 4 || (points.size() - 1) % 3 != 0) return;
    if (FPathState == TPathState::Open) {
        PathMoveTo(points[0]);
        for (size_t i = 1; i + 2 < points.size(); i += 3)
            PathBezierTo(points[i], points[i + 1], points[i + 2]);
        return;
    }
    if (!PenVisible()) return;
    TPolyFigure figure;
    figure.Points.push_back(points[0]);
    for (size_t i = 1; i + 2 < points.size(); i += 3)
        CanvasShapes::FlattenBezier(figure.Points.back(), points[i], points[i + 1], points[i + 2],
                                    figure.Points);
    StrokeFigures({figure});
}

void TCanvas::PolyBezierTo(std::span<const TPoint> points) {
    if (points.empty() || points.size() % 3 != 0) return;
    TPoint from = FState.PenPos;
    if (FPathState == TPathState::Open) {
        for (size_t i = 0; i + 2 < points.size(); i += 3)
            PathBezierTo(points[i], points[i + 1], points[i + 2]);
        FState.PenPos = points.back();
        return;
    }
    FState.PenPos = points.back();
    if (!PenVisible()) return;
    TPolyFigure figure;
    figure.Points.push_back(from);
    for (size_t i = 0; i + 2 < points.size(); i += 3)
        CanvasShapes::FlattenBezier(figure.Points.back(), points[i], points[i + 1], points[i + 2],
                                    figure.Points);
    StrokeFigures({figure});
}

namespace {
enum { kArc, kArcTo, kPie, kChord };
}

void TCanvas::ArcShape(const TRect& rect, TPoint start, TPoint end, int kind) {
    TRect n = rect.Normalized();
    if (FPathState == TPathState::Open) {
        double l = n.Left, t = n.Top, r = n.Right - 1, b = n.Bottom - 1;
        auto beziers = CanvasShapes::ArcBeziers(l, t, r, b, start, end);
        PathAddFloat(beziers, kind != kArcTo, false);
        if (kind == kPie) PathLineTo(RoundPoint({(l + r) / 2, (t + b) / 2}));
        if (kind == kPie || kind == kChord) CloseFigure();
        if (kind == kArcTo) FState.PenPos = RoundPoint(beziers.back());
        return;
    }
    double l, t, r, b;
    ShapeBox(rect, l, t, r, b);
    std::vector<TPointF> points = CanvasShapes::ArcPoints(l, t, r, b, start, end);
    TPolyFigure figure;
    if (kind == kArcTo) figure.Points.push_back(FState.PenPos);
    figure.Points.insert(figure.Points.end(), points.begin(), points.end());
    if (kind == kArcTo) FState.PenPos = RoundPoint(points.back());
    if (kind == kPie) figure.Points.push_back({(l + r) / 2, (t + b) / 2});
    if (kind == kArc || kind == kArcTo) {
        if (PenVisible() && FState.Pen.Mode != pmNop) StrokeFigures({figure});
        return;
    }
    figure.Closed = true;
    TPolyFigures figures{std::move(figure)};
    DrawShape(figures, figures);
}

void TCanvas::Arc(const TRect& rect, TPoint start, TPoint end) {
    ArcShape(rect, start, end, kArc);
}
void TCanvas::ArcTo(const TRect& rect, TPoint start, TPoint end) {
    ArcShape(rect, start, end, kArcTo);
}
void TCanvas::Pie(const TRect& rect, TPoint start, TPoint end) {
    ArcShape(rect, start, end, kPie);
}
void TCanvas::Chord(const TRect& rect, TPoint start, TPoint end) {
    ArcShape(rect, start, end, kChord);
}

void TCanvas::Polygon(std::span<const TPoint> points) {
    if (points.size() < 2) return;
    if (FPathState == TPathState::Open) {
        PathMoveTo(points[0]);
        for (size_t i = 1; i < points.size(); ++i)
            PathLineTo(points[i]);
        CloseFigure();
        return;
    }
    TPolyFigure figure = IntFigure(points, true);
    TPolyFigures figures{std::move(figure)};
    DrawShape(figures, figures);
}

void TCanvas::Rectangle(const TRect& rect) {
    TRect n = rect.Normalized();
    if (FPathState == TPathState::Open) {
        PathMoveTo({n.Left, n.Top});
        PathLineTo({n.Right - 1, n.Top});
        PathLineTo({n.Right - 1, n.Bottom - 1});
        PathLineTo({n.Left, n.Bottom - 1});
        CloseFigure();
        return;
    }
    double l, t, r, b;
    ShapeBox(rect, l, t, r, b);
    TPolyFigure figure = CanvasShapes::RectangleFigure(l, t, r, b);
    TPolyFigures figures{std::move(figure)};
    DrawShape(figures, figures);
}

void TCanvas::RoundRect(const TRect& rect, int32_t cornerWidth, int32_t cornerHeight) {
    TRect n = rect.Normalized();
    double rx = std::max(0.0, (std::min(std::abs(cornerWidth), n.Width()) - 1) / 2.0);
    double ry = std::max(0.0, (std::min(std::abs(cornerHeight), n.Height()) - 1) / 2.0);
    if (FPathState == TPathState::Open) {
        double l = n.Left, t = n.Top, r = n.Right - 1, b = n.Bottom - 1;
        rx = std::min(rx, (r - l) / 2);
        ry = std::min(ry, (b - t) / 2);
        constexpr double h = std::numbers::pi / 2;
        std::vector<TPointF> pts{{l + rx, t}};
        auto lineTo = [&](double x, double y) {
            // A straight piece as a Bezier with its controls on the line keeps one point type.
            TPointF p0 = pts.back();
            pts.push_back({p0.X + (x - p0.X) / 3, p0.Y + (y - p0.Y) / 3});
            pts.push_back({p0.X + 2 * (x - p0.X) / 3, p0.Y + 2 * (y - p0.Y) / 3});
            pts.push_back({x, y});
        };
        lineTo(r - rx, t);
        QuarterBezier(r - rx, t + ry, rx, ry, h, 0, pts);
        lineTo(r, b - ry);
        QuarterBezier(r - rx, b - ry, rx, ry, 0, -h, pts);
        lineTo(l + rx, b);
        QuarterBezier(l + rx, b - ry, rx, ry, -h, -2 * h, pts);
        lineTo(l, t + ry);
        QuarterBezier(l + rx, t + ry, rx, ry, 2 * h, h, pts);
        PathAddFloat(pts, true, true);
        return;
    }
    double l, t, r, b;
    ShapeBox(rect, l, t, r, b);
    TPolyFigure figure = CanvasShapes::RoundRectFigure(l, t, r, b, rx, ry);
    TPolyFigures figures{std::move(figure)};
    DrawShape(figures, figures);
}

void TCanvas::Ellipse(const TRect& rect) {
    TRect n = rect.Normalized();
    if (FPathState == TPathState::Open) {
        double l = n.Left, t = n.Top, r = n.Right - 1, b = n.Bottom - 1;
        TPointF ray(r + 1, (t + b) / 2);
        PathAddFloat(CanvasShapes::ArcBeziers(l, t, r, b, ray, ray), true, true);
        return;
    }
    double l, t, r, b;
    ShapeBox(rect, l, t, r, b);
    TPolyFigure figure = CanvasShapes::EllipseFigure(l, t, r, b);
    TPolyFigures figures{std::move(figure)};
    DrawShape(figures, figures);
}

void TCanvas::FillRect(const TRect& rect) {
    if (BrushVisible()) FillArea(TRegion(rect), FState.Brush, pmCopy);
}

void TCanvas::FrameRect(const TRect& rect) {
    if (!BrushVisible() || rect.IsEmpty()) return;
    FillArea(TRegion::Combine(TRegion(rect), TRegion(rect.Inflated(-1, -1)), roDiff), FState.Brush,
             pmCopy);
}

void TCanvas::DrawFocusRect(const TRect& rect) {
    if (rect.IsEmpty()) return;
    TPoint origin = FState.BrushOrigin;
    FState.BrushOrigin = {0, 0};
    FillArea(TRegion::Combine(TRegion(rect), TRegion(rect.Inflated(-1, -1)), roDiff),
             TBrush{clBlack, bsSolid, FocusPattern()}, pmXor);
    FState.BrushOrigin = origin;
}

void TCanvas::FillRegion(const TRegion& region) {
    if (BrushVisible()) FillArea(region, FState.Brush, pmCopy);
}

// ---------------------------------------------------------------------------------------------
// Text

void TCanvas::OutputText(int32_t x, int32_t y, uint32_t options, const TRect* rect,
                         std::u32string chars, std::vector<int32_t> advances) {
    if (FPathState == TPathState::Open) return;
    const TFont& font = FState.Font;
    std::vector<int32_t> steps(chars.size());
    if (!chars.empty()) FontAdvances(font, chars, steps.data());
    for (size_t i = 0; i < std::min(advances.size(), steps.size()); ++i)
        steps[i] = advances[i];
    int64_t total = 0;
    std::vector<int32_t> positions(chars.size());
    for (size_t i = 0; i < chars.size(); ++i) {
        positions[i] = int32_t(total);
        total += steps[i];
    }

    TTextMetric tm = FontMetrics(font);
    double angle = tm.Outline ? font.Escapement / 10.0 * std::numbers::pi / 180 : 0;
    double ux = std::cos(angle), uy = -std::sin(angle); // along the baseline
    double dx = -uy, dy = ux;                           // towards the descent
    uint32_t align = FState.TextAlign;
    double along = (align & taCenter) == taCenter ? -double(total / 2)
                   : (align & taRight)            ? -double(total)
                                                  : 0;
    double down = (align & taBaseline) == taBaseline ? 0
                  : (align & taBottom)               ? -tm.Descent
                                                     : tm.Ascent;
    TPointF base(x + along * ux + down * dx, y + along * uy + down * dy);
    auto point = [&](double a, double d) {
        return TPointF(base.X + a * ux + d * dx, base.Y + a * uy + d * dy);
    };
    auto band = [&](double a0, double a1, double d0, double d1) {
        TPolyFigure f;
        f.Closed = true;
        f.Points = {point(a0, d0), point(a1, d0), point(a1, d1), point(a0, d1)};
        return TRegion::FromFigures({f}, fmWinding);
    };

    bool clipped = (options & etoClipped) && rect;
    if (clipped) {
        PushClip();
        IntersectClipRect(*rect);
    }
    TBrush background{FState.BkColor, bsSolid, nullptr};
    if ((options & etoOpaque) && rect) FillArea(TRegion(*rect), background, pmCopy);
    if (FState.BkMode == bkOpaque && total > 0)
        FillArea(band(0, double(total), -tm.Ascent, tm.Descent), background, pmCopy);

    if (!chars.empty() && font.Color != clNone) {
        TTextRun run;
        run.Origin = RoundPoint(base);
        run.Chars = std::move(chars);
        run.Positions = std::move(positions);
        run.Font = font;
        if (!tm.Outline) run.Font.Escapement = 0;
        RenderText(run);

        if ((font.Underline || font.StrikeOut) && total > 0) {
            TOutlineTextMetric otm;
            int32_t underPos, underSize, strikePos, strikeSize;
            if (FontOutlineMetrics(font, otm)) {
                underPos = otm.UnderscorePosition;
                underSize = otm.UnderscoreSize;
                strikePos = otm.StrikeoutPosition;
                strikeSize = otm.StrikeoutSize;
            } else {
                underPos = -std::max(1, tm.Descent / 2);
                underSize = tm.Height / 20;
                strikePos = tm.Ascent / 3;
                strikeSize = tm.Height / 20;
            }
            TBrush ink{font.Color, bsSolid, nullptr};
            if (font.Underline) {
                double top = -underPos;
                FillArea(band(0, double(total), top, top + std::max(1, underSize)), ink, pmCopy);
            }
            if (font.StrikeOut) {
                double top = -strikePos;
                FillArea(band(0, double(total), top, top + std::max(1, strikeSize)), ink, pmCopy);
            }
        }
    }
    if (clipped) PopClip();
}

void TCanvas::TextOut(int32_t x, int32_t y, std::string_view text) {
    OutputText(x, y, 0, nullptr, DecodeUtf8(text), {});
}

void TCanvas::ExtTextOut(int32_t x, int32_t y, uint32_t options, const TRect* rect,
                         std::string_view text, std::span<const int32_t> advances) {
    OutputText(x, y, options, rect, DecodeUtf8(text),
               std::vector<int32_t>(advances.begin(), advances.end()));
}

void TCanvas::DrawTextLine(int32_t x, int32_t y, std::u32string_view chars,
                           const std::vector<int32_t>& advances) {
    uint32_t align = FState.TextAlign;
    FState.TextAlign = taLeft | taTop;
    OutputText(x, y, 0, nullptr, std::u32string(chars), advances);
    FState.TextAlign = align;
}

int32_t TCanvas::DrawText(std::string_view text, TRect& rect, uint32_t format) {
    std::u32string chars = DecodeUtf8(text);
    if (!(format & dtNoPrefix)) {
        std::u32string shown;
        for (size_t i = 0; i < chars.size(); ++i) {
            if (chars[i] == U'&') {
                if (i + 1 < chars.size() && chars[i + 1] == U'&') shown.push_back(U'&');
                ++i;
                if (i < chars.size() && chars[i] != U'&') shown.push_back(chars[i]);
                continue;
            }
            shown.push_back(chars[i]);
        }
        chars = std::move(shown);
    }

    TTextMetric tm = FontMetrics(FState.Font);
    int32_t lineHeight = tm.Height + ((format & dtExternalLeading) ? tm.ExternalLeading : 0);
    int32_t tabWidth = 8 * std::max(1, tm.AveCharWidth);
    bool expandTabs = format & dtExpandTabs;
    bool singleLine = format & dtSingleLine;
    bool wordBreak = (format & dtWordBreak) && !singleLine;

    auto measure = [&](std::u32string_view s) {
        TTextLine line;
        line.Chars = s;
        line.Advances.resize(s.size());
        if (!s.empty()) FontAdvances(FState.Font, s, line.Advances.data());
        int64_t x = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            if (expandTabs && s[i] == U'\t') line.Advances[i] = int32_t(tabWidth - x % tabWidth);
            x += line.Advances[i];
        }
        line.Width = int32_t(x);
        return line;
    };

    std::vector<std::u32string> paragraphs;
    if (!chars.empty()) {
        if (singleLine) {
            paragraphs.push_back(chars);
        } else {
            std::u32string current;
            for (size_t i = 0; i < chars.size(); ++i) {
                char32_t c = chars[i];
                if (c == U'\r' || c == U'\n') {
                    if (i + 1 < chars.size() && (chars[i + 1] == U'\r' || chars[i + 1] == U'\n') &&
                        chars[i + 1] != c)
                        ++i;
                    paragraphs.push_back(std::move(current));
                    current.clear();
                } else {
                    current.push_back(c);
                }
            }
            paragraphs.push_back(std::move(current));
        }
    }

    std::vector<TTextLine> lines;
    for (const auto& para : paragraphs) {
        if (!wordBreak) {
            lines.push_back(measure(para));
            continue;
        }
        // Greedy breaking between words; the blanks at a break are dropped.
        std::u32string line;
        size_t i = 0;
        bool emitted = false;
        while (i < para.size()) {
            size_t j = i;
            if (IsBlank(para[i])) {
                while (j < para.size() && IsBlank(para[j]))
                    ++j;
                if (!line.empty()) line.append(para, i, j - i);
                i = j;
                continue;
            }
            while (j < para.size() && !IsBlank(para[j]))
                ++j;
            std::u32string candidate = line + para.substr(i, j - i);
            bool hasWord =
                std::any_of(line.begin(), line.end(), [](char32_t c) { return !IsBlank(c); });
            if (hasWord && measure(candidate).Width > rect.Width()) {
                while (!line.empty() && IsBlank(line.back()))
                    line.pop_back();
                lines.push_back(measure(line));
                emitted = true;
                line = para.substr(i, j - i);
            } else {
                line = std::move(candidate);
            }
            i = j;
        }
        while (!line.empty() && IsBlank(line.back()))
            line.pop_back();
        if (!line.empty() || !emitted) lines.push_back(measure(line));
    }

    int32_t widest = 0;
    for (const auto& l : lines)
        widest = std::max(widest, l.Width);
    int32_t height = int32_t(lines.size()) * lineHeight;

    if (format & dtCalcRect) {
        if (lines.size() > 1 && wordBreak)
            rect.Right = std::max(rect.Right, rect.Left + widest);
        else
            rect.Right = rect.Left + widest;
        rect.Bottom = rect.Top + height;
        return height;
    }

    int32_t y = rect.Top;
    if (singleLine && (format & dtVCenter))
        y = rect.Top + (rect.Height() - lineHeight) / 2;
    else if (singleLine && (format & dtBottom))
        y = rect.Bottom - lineHeight;
    int32_t result =
        singleLine && (format & (dtVCenter | dtBottom)) ? y - rect.Top + height : height;

    bool clip = !(format & dtNoClip);
    if (clip) {
        PushClip();
        IntersectClipRect(rect);
    }
    for (const auto& l : lines) {
        int32_t x = rect.Left;
        if (format & dtRight)
            x = rect.Right - l.Width;
        else if (format & dtCenter)
            x = rect.Left + (rect.Width() - l.Width) / 2;
        DrawTextLine(x, y, l.Chars, l.Advances);
        y += lineHeight;
    }
    if (clip) PopClip();
    return result;
}

TSize TCanvas::TextExtent(std::string_view text) {
    std::u32string chars = DecodeUtf8(text);
    std::vector<int32_t> advances(chars.size());
    if (!chars.empty()) FontAdvances(FState.Font, chars, advances.data());
    int64_t width = 0;
    for (int32_t a : advances)
        width += a;
    return {int32_t(width), FontMetrics(FState.Font).Height};
}

std::vector<int32_t> TCanvas::GetTextAdvances(std::string_view text) {
    std::u32string chars = DecodeUtf8(text);
    std::vector<int32_t> advances(chars.size());
    if (!chars.empty()) FontAdvances(FState.Font, chars, advances.data());
    return advances;
}

TTextMetric TCanvas::GetTextMetrics() {
    return FontMetrics(FState.Font);
}

bool TCanvas::GetOutlineTextMetrics(TOutlineTextMetric& metrics) {
    return FontOutlineMetrics(FState.Font, metrics);
}

bool TCanvas::CharCodes(uint32_t first, uint32_t last, std::u32string& chars) const {
    if (last < first || last > 255) return false;
    chars.clear();
    for (uint32_t code = first; code <= last; ++code)
        chars.push_back(FState.Font.Charset == kSymbolCharset
                            ? char32_t(code)
                            : AnsiCharToUnicode(static_cast<unsigned char>(code)));
    return true;
}

bool TCanvas::GetCharWidths(uint32_t first, uint32_t last, int32_t* widths) {
    std::u32string chars;
    if (!CharCodes(first, last, chars)) return false;
    FontAdvances(FState.Font, chars, widths);
    return true;
}

bool TCanvas::GetCharABCWidths(uint32_t first, uint32_t last, TABC* abc) {
    std::u32string chars;
    if (!CharCodes(first, last, chars)) return false;
    for (size_t i = 0; i < chars.size(); ++i)
        abc[i] = FontABC(FState.Font, chars[i]);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Bitmaps

void TCanvas::Draw(int32_t x, int32_t y, const TGraphic& graphic) {
    graphic.Draw(*this, TRect(x, y, x + graphic.Width(), y + graphic.Height()));
}

void TCanvas::StretchDraw(const TRect& dest, const TGraphic& graphic) {
    graphic.Draw(*this, dest);
}

void TCanvas::StretchBitmap(const TRect& dest, const TBitmap& bitmap, const TRect& source) {
    if (bitmap.Empty() || dest.Width() == 0 || dest.Height() == 0 || source.Width() == 0 ||
        source.Height() == 0)
        return;
    bool flipX = (dest.Width() < 0) != (source.Width() < 0);
    bool flipY = (dest.Height() < 0) != (source.Height() < 0);
    RenderBitmap(dest.Normalized(), flipX, flipY, bitmap, source.Normalized(), std::nullopt);
}

void TCanvas::TransparentBitmap(const TRect& dest, const TBitmap& bitmap, const TRect& source,
                                TColor key) {
    if (bitmap.Empty() || dest.Width() == 0 || dest.Height() == 0 || source.Width() == 0 ||
        source.Height() == 0)
        return;
    bool flipX = (dest.Width() < 0) != (source.Width() < 0);
    bool flipY = (dest.Height() < 0) != (source.Height() < 0);
    RenderBitmap(dest.Normalized(), flipX, flipY, bitmap, source.Normalized(), ColorToPixel(key));
}

void TCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect) {
    TBitmap* surface = source.Surface();
    if (!surface) return;
    source.Flush();
    if (&source == this) {
        // Reading and writing one surface: take the source pixels first.
        TBitmap copy(*surface);
        StretchBitmap(dest, copy, sourceRect);
        return;
    }
    StretchBitmap(dest, *surface, sourceRect);
}

TColor TCanvas::GetPixel(int32_t x, int32_t y) {
    TSize size = Size();
    if (x < 0 || y < 0 || x >= size.Width || y >= size.Height) return clNone;
    return ReadPixel(x, y);
}

void TCanvas::SetPixel(int32_t x, int32_t y, TColor color) {
    TSize size = Size();
    if (x < 0 || y < 0 || x >= size.Width || y >= size.Height) return;
    if (FState.Clip && !FState.Clip->Contains(x, y)) return;
    WritePixel(x, y, color);
}
