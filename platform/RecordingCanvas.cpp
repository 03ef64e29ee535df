#include "RecordingCanvas.h"

#include <cmath>

#include "Bitmap.h"
#include "SysUtils.h"

namespace {

// Synthetic font design, in units of a 2048-unit em.
constexpr int32_t kEm = 2048;
constexpr int32_t kAscent = 1854;
constexpr int32_t kDescent = 434;
constexpr int32_t kLineGap = 67;
constexpr int32_t kAdvance = 1024;
constexpr int32_t kBearing = 64;
constexpr int32_t kUnderscoreSize = 150;
constexpr int32_t kUnderscorePosition = -217;
constexpr int32_t kStrikeoutPosition = 530;

const char* const kKindNames[] = {
    "SetPen",
    "SetBrush",
    "SetFont",
    "SetBrushOrigin",
    "SetBkMode",
    "SetBkColor",
    "SetPolyFillMode",
    "SetTextAlign",
    "SaveState",
    "RestoreState",
    "SetClipRegion",
    "CombineClipRegion",
    "IntersectClipRect",
    "ExcludeClipRect",
    "PushClip",
    "PopClip",
    "MoveTo",
    "LineTo",
    "Polyline",
    "PolyBezier",
    "PolyBezierTo",
    "Arc",
    "ArcTo",
    "Polygon",
    "Rectangle",
    "RoundRect",
    "Ellipse",
    "Pie",
    "Chord",
    "FillRect",
    "FrameRect",
    "DrawFocusRect",
    "FillRegion",
    "BeginPath",
    "EndPath",
    "AbortPath",
    "CloseFigure",
    "StrokePath",
    "FillPath",
    "StrokeAndFillPath",
    "SelectClipPath",
    "FlattenPath",
    "PathToRegion",
    "TextOut",
    "ExtTextOut",
    "DrawText",
    "StretchDraw",
    "StretchBitmap",
    "TransparentBitmap",
    "SetPixel",
};
static_assert(std::size(kKindNames) == size_t(TCanvasOpKind::SetPixel) + 1);

const char* const kRegionOpNames[] = {"?", "roAnd", "roOr", "roXor", "roDiff", "roCopy"};

std::string ColorText(TColor c) {
    if (c == clNone) return "clNone";
    if (c == clDefault) return "clDefault";
    if ((uint32_t(c) & 0xFF000000u) != 0) return Format("$%08X", uint32_t(c));
    return Format("$%06X", uint32_t(c));
}

std::string RectText(const TRect& r) {
    return Format("%d,%d,%d,%d", r.Left, r.Top, r.Right, r.Bottom);
}

std::string PointsText(const std::vector<TPoint>& points) {
    std::string s;
    for (const auto& p : points) {
        if (!s.empty()) s += ",";
        s += Format("(%d,%d)", p.X, p.Y);
    }
    return s;
}

std::string RegionText(const std::optional<TRegion>& region) {
    if (!region) return "none";
    std::string s = "[";
    for (const auto& r : region->Rects()) {
        if (s.size() > 1) s += ",";
        // Appended piece by piece: GCC 12 warns wrongly about the concatenated temporaries.
        s += '(';
        s += RectText(r);
        s += ')';
    }
    return s + "]";
}

std::string GraphicText(const std::shared_ptr<const TGraphic>& g) {
    if (!g) return "none";
    return Format("%s %dx%d", g->ClassName(), g->Width(), g->Height());
}

std::string EncodeUtf8(std::u32string_view chars) {
    std::string out;
    for (char32_t c : chars) {
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool IsStateKind(TCanvasOpKind kind) {
    return kind <= TCanvasOpKind::SetTextAlign;
}

// Pixel size of the synthetic em for a logical font height.
int32_t SyntheticEm(const TFont& font) {
    int32_t h = font.Height == 0 ? kDefaultFontHeight : font.Height;
    if (h < 0) return -h;
    return std::max(1, MulDiv(h, kEm, kAscent + kDescent));
}

int32_t Scaled(int32_t design, int32_t em) {
    return MulDiv(design, em, kEm);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TCanvasOp

std::string TCanvasOp::ToString() const {
    std::string name = kKindNames[size_t(Kind)];
    auto call = [&](const std::string& args) { return name + "(" + args + ")"; };
    switch (Kind) {
    case TCanvasOpKind::SetPen: {
        std::string s =
            Format("color=%s, width=%d, style=%s, mode=%s", ColorText(Pen.Color).c_str(), Pen.Width,
                   kPenStyleNames[Pen.Style], kPenModeNames[Pen.Mode]);
        if (Pen.Geometric)
            s += Format(", geometric, cap=%s, join=%s", kPenEndCapNames[Pen.EndCap],
                        kPenJoinNames[Pen.Join]);
        return call(s);
    }
    case TCanvasOpKind::SetBrush:
        if (Brush.Bitmap)
            return call(Format("bitmap=%dx%d", Brush.Bitmap->Width(), Brush.Bitmap->Height()));
        return call(Format("color=%s, style=%s", ColorText(Brush.Color).c_str(),
                           kBrushStyleNames[Brush.Style]));
    case TCanvasOpKind::SetFont: {
        std::string s =
            Format("name='%s', height=%d, weight=%d, charset=%d, color=%s", Font.Name.c_str(),
                   Font.Height, Font.Weight, Font.Charset, ColorText(Font.Color).c_str());
        if (Font.Italic) s += ", italic";
        if (Font.Underline) s += ", underline";
        if (Font.StrikeOut) s += ", strikeout";
        if (Font.Pitch != fpDefault) s += Format(", pitch=%s", kFontPitchNames[Font.Pitch]);
        if (Font.Escapement) s += Format(", escapement=%d", Font.Escapement);
        return call(s);
    }
    case TCanvasOpKind::SetBkMode:
        return call(Values[0] == bkOpaque ? "bkOpaque" : "bkTransparent");
    case TCanvasOpKind::SetBkColor:
    case TCanvasOpKind::SetPixel:
        return call((Points.empty() ? "" : Format("%d,%d,", Points[0].X, Points[0].Y)) +
                    ColorText(Color));
    case TCanvasOpKind::SetPolyFillMode:
        return call(Values[0] == fmWinding ? "fmWinding" : "fmAlternate");
    case TCanvasOpKind::SetTextAlign:
    case TCanvasOpKind::RestoreState: return call(Format("%d", Values[0]));
    case TCanvasOpKind::SetClipRegion:
    case TCanvasOpKind::FillRegion: return call(RegionText(Region));
    case TCanvasOpKind::CombineClipRegion:
        return call(RegionText(Region) + ", " + kRegionOpNames[Values[0]]);
    case TCanvasOpKind::SelectClipPath: return call(kRegionOpNames[Values[0]]);
    case TCanvasOpKind::SetBrushOrigin:
    case TCanvasOpKind::MoveTo:
    case TCanvasOpKind::LineTo: return call(Format("%d,%d", Points[0].X, Points[0].Y));
    case TCanvasOpKind::Polyline:
    case TCanvasOpKind::PolyBezier:
    case TCanvasOpKind::PolyBezierTo:
    case TCanvasOpKind::Polygon: return call(PointsText(Points));
    case TCanvasOpKind::Arc:
    case TCanvasOpKind::ArcTo:
    case TCanvasOpKind::Pie:
    case TCanvasOpKind::Chord: return call(RectText(Rect) + "," + PointsText(Points));
    case TCanvasOpKind::IntersectClipRect:
    case TCanvasOpKind::ExcludeClipRect:
    case TCanvasOpKind::Rectangle:
    case TCanvasOpKind::Ellipse:
    case TCanvasOpKind::FillRect:
    case TCanvasOpKind::FrameRect:
    case TCanvasOpKind::DrawFocusRect: return call(RectText(Rect));
    case TCanvasOpKind::RoundRect:
        return call(RectText(Rect) + Format(",%d,%d", Values[0], Values[1]));
    case TCanvasOpKind::TextOut:
        return call(Format("%d,%d,'%s'", Points[0].X, Points[0].Y, Text.c_str()));
    case TCanvasOpKind::ExtTextOut: {
        uint32_t options = uint32_t(Values[0]);
        std::string opts = (options & etoOpaque) && (options & etoClipped) ? "opaque|clipped"
                           : (options & etoOpaque)                         ? "opaque"
                           : (options & etoClipped)                        ? "clipped"
                                                                           : "0";
        std::string adv = "[";
        for (size_t i = 0; i < Advances.size(); ++i)
            adv += (i ? "," : "") + Format("%d", Advances[i]);
        adv += "]";
        return call(Format("%d,%d,%s,%s,'%s',%s", Points[0].X, Points[0].Y, opts.c_str(),
                           HasRect ? ("(" + RectText(Rect) + ")").c_str() : "nil", Text.c_str(),
                           adv.c_str()));
    }
    case TCanvasOpKind::DrawText:
        return call(Format("'%s',(%s),$%04X", Text.c_str(), RectText(Rect).c_str(), Values[0]));
    case TCanvasOpKind::StretchDraw: return call(RectText(Rect) + "," + GraphicText(Graphic));
    case TCanvasOpKind::StretchBitmap:
        return call(RectText(Rect) + Format(",%dx%d,(", Graphic->Width(), Graphic->Height()) +
                    RectText(Source) + ")");
    case TCanvasOpKind::TransparentBitmap:
        return call(RectText(Rect) + Format(",%dx%d,(", Graphic->Width(), Graphic->Height()) +
                    RectText(Source) + ")," + ColorText(Color));
    default: return call("");
    }
}

// ---------------------------------------------------------------------------------------------
// Recording

TRecordingCanvas::TRecordingCanvas(TSize size, TCanvas* reference)
    : FSize(size)
    , FReference(reference) {}

TCanvasOp& TRecordingCanvas::Record(TCanvasOpKind kind) {
    if (FMute > 0) {
        FDiscard = TCanvasOp();
        return FDiscard;
    }
    FOps.emplace_back();
    FOps.back().Kind = kind;
    return FOps.back();
}

std::string TRecordingCanvas::Log(bool withState) const {
    std::string s;
    for (const auto& op : FOps)
        if (withState || !IsStateKind(op.Kind)) s += op.ToString() + "\n";
    return s;
}

#define GC_RECORD(Kind) TCanvasOp& op = Record(TCanvasOpKind::Kind)
#define GC_FORWARD(Call)                                                                           \
    TMute mute(*this);                                                                             \
    return TCanvas::Call

void TRecordingCanvas::SetPen(const TPen& pen) {
    GC_RECORD(SetPen);
    op.Pen = pen;
    GC_FORWARD(SetPen(pen));
}
void TRecordingCanvas::SetBrush(const TBrush& brush) {
    GC_RECORD(SetBrush);
    op.Brush = brush;
    GC_FORWARD(SetBrush(brush));
}
void TRecordingCanvas::SetFont(const TFont& font) {
    GC_RECORD(SetFont);
    op.Font = font;
    GC_FORWARD(SetFont(font));
}
void TRecordingCanvas::SetBrushOrigin(TPoint origin) {
    GC_RECORD(SetBrushOrigin);
    op.Points = {origin};
    GC_FORWARD(SetBrushOrigin(origin));
}
void TRecordingCanvas::SetBkMode(TBkMode mode) {
    GC_RECORD(SetBkMode);
    op.Values = {mode};
    GC_FORWARD(SetBkMode(mode));
}
void TRecordingCanvas::SetBkColor(TColor color) {
    GC_RECORD(SetBkColor);
    op.Color = color;
    GC_FORWARD(SetBkColor(color));
}
void TRecordingCanvas::SetPolyFillMode(TFillMode mode) {
    GC_RECORD(SetPolyFillMode);
    op.Values = {mode};
    GC_FORWARD(SetPolyFillMode(mode));
}
void TRecordingCanvas::SetTextAlign(uint32_t align) {
    GC_RECORD(SetTextAlign);
    op.Values = {int32_t(align)};
    GC_FORWARD(SetTextAlign(align));
}
int TRecordingCanvas::SaveState() {
    Record(TCanvasOpKind::SaveState);
    GC_FORWARD(SaveState());
}
void TRecordingCanvas::RestoreState(int level) {
    GC_RECORD(RestoreState);
    op.Values = {level};
    GC_FORWARD(RestoreState(level));
}
void TRecordingCanvas::SetClipRegion(const TRegion* region) {
    GC_RECORD(SetClipRegion);
    if (region) op.Region = *region;
    GC_FORWARD(SetClipRegion(region));
}
void TRecordingCanvas::CombineClipRegion(const TRegion& region, TRegionOp regionOp) {
    GC_RECORD(CombineClipRegion);
    op.Region = region;
    op.Values = {regionOp};
    GC_FORWARD(CombineClipRegion(region, regionOp));
}
void TRecordingCanvas::IntersectClipRect(const TRect& rect) {
    GC_RECORD(IntersectClipRect);
    op.Rect = rect;
    GC_FORWARD(IntersectClipRect(rect));
}
void TRecordingCanvas::ExcludeClipRect(const TRect& rect) {
    GC_RECORD(ExcludeClipRect);
    op.Rect = rect;
    GC_FORWARD(ExcludeClipRect(rect));
}
void TRecordingCanvas::PushClip() {
    Record(TCanvasOpKind::PushClip);
    GC_FORWARD(PushClip());
}
void TRecordingCanvas::PopClip() {
    Record(TCanvasOpKind::PopClip);
    GC_FORWARD(PopClip());
}
void TRecordingCanvas::MoveTo(int32_t x, int32_t y) {
    GC_RECORD(MoveTo);
    op.Points = {{x, y}};
    GC_FORWARD(MoveTo(x, y));
}
void TRecordingCanvas::LineTo(int32_t x, int32_t y) {
    GC_RECORD(LineTo);
    op.Points = {{x, y}};
    GC_FORWARD(LineTo(x, y));
}
void TRecordingCanvas::Polyline(std::span<const TPoint> points) {
    GC_RECORD(Polyline);
    op.Points.assign(points.begin(), points.end());
    GC_FORWARD(Polyline(points));
}
void TRecordingCanvas::PolyBezier(std::span<const TPoint> points) {
    GC_RECORD(PolyBezier);
    op.Points.assign(points.begin(), points.end());
    GC_FORWARD(PolyBezier(points));
}
void TRecordingCanvas::PolyBezierTo(std::span<const TPoint> points) {
    GC_RECORD(PolyBezierTo);
    op.Points.assign(points.begin(), points.end());
    GC_FORWARD(PolyBezierTo(points));
}
void TRecordingCanvas::Arc(const TRect& rect, TPoint start, TPoint end) {
    GC_RECORD(Arc);
    op.Rect = rect;
    op.Points = {start, end};
    GC_FORWARD(Arc(rect, start, end));
}
void TRecordingCanvas::ArcTo(const TRect& rect, TPoint start, TPoint end) {
    GC_RECORD(ArcTo);
    op.Rect = rect;
    op.Points = {start, end};
    GC_FORWARD(ArcTo(rect, start, end));
}
void TRecordingCanvas::Polygon(std::span<const TPoint> points) {
    GC_RECORD(Polygon);
    op.Points.assign(points.begin(), points.end());
    GC_FORWARD(Polygon(points));
}
void TRecordingCanvas::Rectangle(const TRect& rect) {
    GC_RECORD(Rectangle);
    op.Rect = rect;
    GC_FORWARD(Rectangle(rect));
}
void TRecordingCanvas::RoundRect(const TRect& rect, int32_t cornerWidth, int32_t cornerHeight) {
    GC_RECORD(RoundRect);
    op.Rect = rect;
    op.Values = {cornerWidth, cornerHeight};
    GC_FORWARD(RoundRect(rect, cornerWidth, cornerHeight));
}
void TRecordingCanvas::Ellipse(const TRect& rect) {
    GC_RECORD(Ellipse);
    op.Rect = rect;
    GC_FORWARD(Ellipse(rect));
}
void TRecordingCanvas::Pie(const TRect& rect, TPoint start, TPoint end) {
    GC_RECORD(Pie);
    op.Rect = rect;
    op.Points = {start, end};
    GC_FORWARD(Pie(rect, start, end));
}
void TRecordingCanvas::Chord(const TRect& rect, TPoint start, TPoint end) {
    GC_RECORD(Chord);
    op.Rect = rect;
    op.Points = {start, end};
    GC_FORWARD(Chord(rect, start, end));
}
void TRecordingCanvas::FillRect(const TRect& rect) {
    GC_RECORD(FillRect);
    op.Rect = rect;
    GC_FORWARD(FillRect(rect));
}
void TRecordingCanvas::FrameRect(const TRect& rect) {
    GC_RECORD(FrameRect);
    op.Rect = rect;
    GC_FORWARD(FrameRect(rect));
}
void TRecordingCanvas::DrawFocusRect(const TRect& rect) {
    GC_RECORD(DrawFocusRect);
    op.Rect = rect;
    GC_FORWARD(DrawFocusRect(rect));
}
void TRecordingCanvas::FillRegion(const TRegion& region) {
    GC_RECORD(FillRegion);
    op.Region = region;
    GC_FORWARD(FillRegion(region));
}
void TRecordingCanvas::BeginPath() {
    Record(TCanvasOpKind::BeginPath);
    GC_FORWARD(BeginPath());
}
bool TRecordingCanvas::EndPath() {
    Record(TCanvasOpKind::EndPath);
    GC_FORWARD(EndPath());
}
void TRecordingCanvas::AbortPath() {
    Record(TCanvasOpKind::AbortPath);
    GC_FORWARD(AbortPath());
}
bool TRecordingCanvas::CloseFigure() {
    Record(TCanvasOpKind::CloseFigure);
    GC_FORWARD(CloseFigure());
}
bool TRecordingCanvas::StrokePath() {
    Record(TCanvasOpKind::StrokePath);
    GC_FORWARD(StrokePath());
}
bool TRecordingCanvas::FillPath() {
    Record(TCanvasOpKind::FillPath);
    GC_FORWARD(FillPath());
}
bool TRecordingCanvas::StrokeAndFillPath() {
    Record(TCanvasOpKind::StrokeAndFillPath);
    GC_FORWARD(StrokeAndFillPath());
}
bool TRecordingCanvas::SelectClipPath(TRegionOp regionOp) {
    GC_RECORD(SelectClipPath);
    op.Values = {regionOp};
    GC_FORWARD(SelectClipPath(regionOp));
}
bool TRecordingCanvas::FlattenPath() {
    Record(TCanvasOpKind::FlattenPath);
    GC_FORWARD(FlattenPath());
}
TRegion TRecordingCanvas::PathToRegion() {
    Record(TCanvasOpKind::PathToRegion);
    GC_FORWARD(PathToRegion());
}
void TRecordingCanvas::TextOut(int32_t x, int32_t y, std::string_view text) {
    GC_RECORD(TextOut);
    op.Points = {{x, y}};
    op.Text = text;
    GC_FORWARD(TextOut(x, y, text));
}
void TRecordingCanvas::ExtTextOut(int32_t x, int32_t y, uint32_t options, const TRect* rect,
                                  std::string_view text, std::span<const int32_t> advances) {
    GC_RECORD(ExtTextOut);
    op.Points = {{x, y}};
    op.Values = {int32_t(options)};
    op.HasRect = rect != nullptr;
    if (rect) op.Rect = *rect;
    op.Text = text;
    op.Advances.assign(advances.begin(), advances.end());
    GC_FORWARD(ExtTextOut(x, y, options, rect, text, advances));
}
int32_t TRecordingCanvas::DrawText(std::string_view text, TRect& rect, uint32_t format) {
    GC_RECORD(DrawText);
    op.Text = text;
    op.Rect = rect;
    op.Values = {int32_t(format)};
    GC_FORWARD(DrawText(text, rect, format));
}
void TRecordingCanvas::Draw(int32_t x, int32_t y, const TGraphic& graphic) {
    GC_RECORD(StretchDraw);
    op.Rect = {x, y, x + graphic.Width(), y + graphic.Height()};
    if (FMute == 0) op.Graphic = graphic.Clone();
    GC_FORWARD(Draw(x, y, graphic));
}
void TRecordingCanvas::StretchDraw(const TRect& dest, const TGraphic& graphic) {
    GC_RECORD(StretchDraw);
    op.Rect = dest;
    if (FMute == 0) op.Graphic = graphic.Clone();
    GC_FORWARD(StretchDraw(dest, graphic));
}
void TRecordingCanvas::StretchBitmap(const TRect& dest, const TBitmap& bitmap,
                                     const TRect& source) {
    GC_RECORD(StretchBitmap);
    op.Rect = dest;
    op.Source = source;
    if (FMute == 0) op.Graphic = std::make_shared<TBitmap>(bitmap);
    GC_FORWARD(StretchBitmap(dest, bitmap, source));
}
void TRecordingCanvas::TransparentBitmap(const TRect& dest, const TBitmap& bitmap,
                                         const TRect& source, TColor key) {
    GC_RECORD(TransparentBitmap);
    op.Rect = dest;
    op.Source = source;
    op.Color = key;
    if (FMute == 0) op.Graphic = std::make_shared<TBitmap>(bitmap);
    GC_FORWARD(TransparentBitmap(dest, bitmap, source, key));
}
void TRecordingCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect) {
    // The source's pixels are taken now, so playing the record back shows them as they were.
    TBitmap* surface = source.Surface();
    if (!surface) return;
    source.Flush();
    GC_RECORD(StretchBitmap);
    op.Rect = dest;
    op.Source = sourceRect;
    if (FMute == 0) op.Graphic = std::make_shared<TBitmap>(*surface);
}
void TRecordingCanvas::SetPixel(int32_t x, int32_t y, TColor color) {
    GC_RECORD(SetPixel);
    op.Points = {{x, y}};
    op.Color = color;
    GC_FORWARD(SetPixel(x, y, color));
}

#undef GC_RECORD
#undef GC_FORWARD

// ---------------------------------------------------------------------------------------------
// Fonts

TTextMetric TRecordingCanvas::FontMetrics(const TFont& font) {
    if (FReference) {
        FReference->SetFont(font);
        return FReference->GetTextMetrics();
    }
    int32_t em = SyntheticEm(font);
    TTextMetric tm;
    tm.Ascent = Scaled(kAscent, em);
    tm.Height = Scaled(kAscent + kDescent, em);
    tm.Descent = tm.Height - tm.Ascent;
    tm.InternalLeading = tm.Height - em;
    tm.ExternalLeading = Scaled(kLineGap, em);
    tm.AveCharWidth = Scaled(kAdvance, em);
    tm.MaxCharWidth = tm.AveCharWidth;
    tm.Weight = font.Weight;
    tm.Italic = font.Italic;
    tm.Underlined = font.Underline;
    tm.StruckOut = font.StrikeOut;
    tm.FixedPitch = true;
    tm.Outline = FOutlineFonts;
    tm.Charset = font.Charset;
    return tm;
}

bool TRecordingCanvas::FontOutlineMetrics(const TFont& font, TOutlineTextMetric& metrics) {
    if (FReference) {
        FReference->SetFont(font);
        return FReference->GetOutlineTextMetrics(metrics);
    }
    if (!FOutlineFonts) return false;
    int32_t em = SyntheticEm(font);
    metrics = TOutlineTextMetric();
    metrics.TextMetric = FontMetrics(font);
    metrics.EmSquare = kEm;
    metrics.Ascent = Scaled(kAscent, em);
    metrics.Descent = -Scaled(kDescent, em);
    metrics.LineGap = Scaled(kLineGap, em);
    metrics.FontBox = {0, Scaled(kAscent, em), Scaled(kAdvance, em), -Scaled(kDescent, em)};
    metrics.UnderscoreSize = std::max(1, Scaled(kUnderscoreSize, em));
    metrics.UnderscorePosition = Scaled(kUnderscorePosition, em);
    metrics.StrikeoutSize = metrics.UnderscoreSize;
    metrics.StrikeoutPosition = Scaled(kStrikeoutPosition, em);
    return true;
}

void TRecordingCanvas::FontAdvances(const TFont& font, std::u32string_view chars,
                                    int32_t* advances) {
    if (FReference) {
        FReference->SetFont(font);
        std::vector<int32_t> a = FReference->GetTextAdvances(EncodeUtf8(chars));
        for (size_t i = 0; i < chars.size(); ++i)
            advances[i] = i < a.size() ? a[i] : 0;
        return;
    }
    int32_t advance = Scaled(kAdvance, SyntheticEm(font));
    for (size_t i = 0; i < chars.size(); ++i)
        advances[i] = advance;
}

TABC TRecordingCanvas::FontABC(const TFont& font, char32_t ch) {
    if (FReference) {
        FReference->SetFont(font);
        return FReference->GetCharABC(ch);
    }
    int32_t em = SyntheticEm(font);
    TABC abc;
    abc.A = Scaled(kBearing, em);
    abc.B = Scaled(kAdvance - 2 * kBearing, em);
    abc.C = Scaled(kAdvance, em) - abc.A - abc.B;
    return abc;
}

// ---------------------------------------------------------------------------------------------
// Playback

namespace {

class TPlayback {
public:
    TPlayback(TCanvas& target, const TRect& dest, TSize frame)
        : Target(target)
        , Dest(dest)
        , Sx(double(dest.Width()) / frame.Width)
        , Sy(double(dest.Height()) / frame.Height) {
        HasClip0 = target.GetClipRegion(Clip0);
    }

    int32_t X(int32_t x) const { return Dest.Left + int32_t(std::lround(x * Sx)); }
    int32_t Y(int32_t y) const { return Dest.Top + int32_t(std::lround(y * Sy)); }
    TPoint P(TPoint p) const { return {X(p.X), Y(p.Y)}; }
    TRect R(const TRect& r) const { return {X(r.Left), Y(r.Top), X(r.Right), Y(r.Bottom)}; }
    std::vector<TPoint> Ps(const std::vector<TPoint>& points) const {
        std::vector<TPoint> out;
        out.reserve(points.size());
        for (const auto& p : points)
            out.push_back(P(p));
        return out;
    }
    TRegion Rg(const TRegion& r) const { return r.Transformed(Sx, Sy, Dest.Left, Dest.Top); }
    // Recorded clips may only narrow what the target allowed before playback.
    void KeepWithinClip0() {
        if (HasClip0) Target.CombineClipRegion(Clip0, roAnd);
    }

    TCanvas& Target;
    TRect Dest;
    double Sx, Sy;
    TRegion Clip0;
    bool HasClip0 = false;
};

} // namespace

void TRecordingCanvas::PlayTo(TCanvas& target, const TRect& dest) const {
    if (FSize.Width <= 0 || FSize.Height <= 0 || dest.Width() == 0 || dest.Height() == 0) return;
    TPlayback pb(target, dest, FSize);
    int base = target.SaveState();
    int depth = 0, pushes = 0;
    for (const auto& op : FOps) {
        switch (op.Kind) {
        case TCanvasOpKind::SetPen: {
            TPen pen = op.Pen;
            if (pen.Geometric || pen.Width > 1)
                pen.Width = std::max<int32_t>(1, std::lround(pen.Width * (pb.Sx + pb.Sy) / 2));
            target.SetPen(pen);
            break;
        }
        case TCanvasOpKind::SetBrush: target.SetBrush(op.Brush); break;
        case TCanvasOpKind::SetFont: {
            TFont font = op.Font;
            int32_t h = font.Height == 0 ? kDefaultFontHeight : font.Height;
            int32_t scaled = int32_t(std::lround(h * pb.Sy));
            font.Height = scaled != 0 ? scaled : (h < 0 ? -1 : 1);
            target.SetFont(font);
            break;
        }
        case TCanvasOpKind::SetBrushOrigin: target.SetBrushOrigin(pb.P(op.Points[0])); break;
        case TCanvasOpKind::SetBkMode: target.SetBkMode(TBkMode(op.Values[0])); break;
        case TCanvasOpKind::SetBkColor: target.SetBkColor(op.Color); break;
        case TCanvasOpKind::SetPolyFillMode: target.SetPolyFillMode(TFillMode(op.Values[0])); break;
        case TCanvasOpKind::SetTextAlign: target.SetTextAlign(uint32_t(op.Values[0])); break;
        case TCanvasOpKind::SaveState:
            target.SaveState();
            ++depth;
            break;
        case TCanvasOpKind::RestoreState: {
            int level = op.Values[0] < 0 ? depth + 1 + op.Values[0] : op.Values[0];
            if (level >= 1 && level <= depth) {
                target.RestoreState(base + level);
                depth = level - 1;
            }
            break;
        }
        case TCanvasOpKind::SetClipRegion:
            if (op.Region) {
                TRegion r = pb.Rg(*op.Region);
                target.SetClipRegion(&r);
                pb.KeepWithinClip0();
            } else {
                target.SetClipRegion(pb.HasClip0 ? &pb.Clip0 : nullptr);
            }
            break;
        case TCanvasOpKind::CombineClipRegion:
            target.CombineClipRegion(pb.Rg(*op.Region), TRegionOp(op.Values[0]));
            pb.KeepWithinClip0();
            break;
        case TCanvasOpKind::IntersectClipRect: target.IntersectClipRect(pb.R(op.Rect)); break;
        case TCanvasOpKind::ExcludeClipRect: target.ExcludeClipRect(pb.R(op.Rect)); break;
        case TCanvasOpKind::PushClip:
            target.PushClip();
            ++pushes;
            break;
        case TCanvasOpKind::PopClip:
            if (pushes > 0) {
                target.PopClip();
                --pushes;
            }
            break;
        case TCanvasOpKind::MoveTo:
            target.MoveTo(pb.X(op.Points[0].X), pb.Y(op.Points[0].Y));
            break;
        case TCanvasOpKind::LineTo:
            target.LineTo(pb.X(op.Points[0].X), pb.Y(op.Points[0].Y));
            break;
        case TCanvasOpKind::Polyline: target.Polyline(pb.Ps(op.Points)); break;
        case TCanvasOpKind::PolyBezier: target.PolyBezier(pb.Ps(op.Points)); break;
        case TCanvasOpKind::PolyBezierTo: target.PolyBezierTo(pb.Ps(op.Points)); break;
        case TCanvasOpKind::Arc:
            target.Arc(pb.R(op.Rect), pb.P(op.Points[0]), pb.P(op.Points[1]));
            break;
        case TCanvasOpKind::ArcTo:
            target.ArcTo(pb.R(op.Rect), pb.P(op.Points[0]), pb.P(op.Points[1]));
            break;
        case TCanvasOpKind::Pie:
            target.Pie(pb.R(op.Rect), pb.P(op.Points[0]), pb.P(op.Points[1]));
            break;
        case TCanvasOpKind::Chord:
            target.Chord(pb.R(op.Rect), pb.P(op.Points[0]), pb.P(op.Points[1]));
            break;
        case TCanvasOpKind::Polygon: target.Polygon(pb.Ps(op.Points)); break;
        case TCanvasOpKind::Rectangle: target.Rectangle(pb.R(op.Rect)); break;
        case TCanvasOpKind::RoundRect:
            target.RoundRect(pb.R(op.Rect), int32_t(std::lround(op.Values[0] * pb.Sx)),
                             int32_t(std::lround(op.Values[1] * pb.Sy)));
            break;
        case TCanvasOpKind::Ellipse: target.Ellipse(pb.R(op.Rect)); break;
        case TCanvasOpKind::FillRect: target.FillRect(pb.R(op.Rect)); break;
        case TCanvasOpKind::FrameRect: target.FrameRect(pb.R(op.Rect)); break;
        case TCanvasOpKind::DrawFocusRect: target.DrawFocusRect(pb.R(op.Rect)); break;
        case TCanvasOpKind::FillRegion: target.FillRegion(pb.Rg(*op.Region)); break;
        case TCanvasOpKind::BeginPath: target.BeginPath(); break;
        case TCanvasOpKind::EndPath: target.EndPath(); break;
        case TCanvasOpKind::AbortPath: target.AbortPath(); break;
        case TCanvasOpKind::CloseFigure: target.CloseFigure(); break;
        case TCanvasOpKind::StrokePath: target.StrokePath(); break;
        case TCanvasOpKind::FillPath: target.FillPath(); break;
        case TCanvasOpKind::StrokeAndFillPath: target.StrokeAndFillPath(); break;
        case TCanvasOpKind::SelectClipPath:
            target.SelectClipPath(TRegionOp(op.Values[0]));
            pb.KeepWithinClip0();
            break;
        case TCanvasOpKind::FlattenPath: target.FlattenPath(); break;
        case TCanvasOpKind::PathToRegion: target.PathToRegion(); break;
        case TCanvasOpKind::TextOut:
            target.TextOut(pb.X(op.Points[0].X), pb.Y(op.Points[0].Y), op.Text);
            break;
        case TCanvasOpKind::ExtTextOut: {
            // Scale the running sum, not each advance, so rounding does not pile up.
            std::vector<int32_t> advances;
            int64_t sum = 0;
            int32_t placed = 0;
            for (int32_t a : op.Advances) {
                sum += a;
                int32_t next = int32_t(std::lround(sum * pb.Sx));
                advances.push_back(next - placed);
                placed = next;
            }
            TRect r = pb.R(op.Rect);
            target.ExtTextOut(pb.X(op.Points[0].X), pb.Y(op.Points[0].Y), uint32_t(op.Values[0]),
                              op.HasRect ? &r : nullptr, op.Text, advances);
            break;
        }
        case TCanvasOpKind::DrawText: {
            TRect r = pb.R(op.Rect);
            target.DrawText(op.Text, r, uint32_t(op.Values[0]));
            break;
        }
        case TCanvasOpKind::StretchDraw:
            if (op.Graphic) target.StretchDraw(pb.R(op.Rect), *op.Graphic);
            break;
        case TCanvasOpKind::StretchBitmap:
            if (op.Graphic)
                target.StretchBitmap(pb.R(op.Rect), static_cast<const TBitmap&>(*op.Graphic),
                                     op.Source);
            break;
        case TCanvasOpKind::TransparentBitmap:
            if (op.Graphic)
                target.TransparentBitmap(pb.R(op.Rect), static_cast<const TBitmap&>(*op.Graphic),
                                         op.Source, op.Color);
            break;
        case TCanvasOpKind::SetPixel: {
            // One recorded pixel covers its scaled cell.
            TPoint p = op.Points[0];
            TRect cell(pb.X(p.X), pb.Y(p.Y), pb.X(p.X + 1), pb.Y(p.Y + 1));
            for (int32_t y = cell.Top; y < std::max(cell.Bottom, cell.Top + 1); ++y)
                for (int32_t x = cell.Left; x < std::max(cell.Right, cell.Left + 1); ++x)
                    target.SetPixel(x, y, op.Color);
            break;
        }
        }
    }
    while (pushes-- > 0)
        target.PopClip();
    if (target.IsPathOpen()) target.AbortPath();
    target.RestoreState(base);
}
