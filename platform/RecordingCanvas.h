#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Canvas.h"

class TGraphic;

enum class TCanvasOpKind : uint8_t {
    SetPen,
    SetBrush,
    SetFont,
    SetBrushOrigin,
    SetBkMode,
    SetBkColor,
    SetPolyFillMode,
    SetTextAlign,
    SaveState,
    RestoreState,
    SetClipRegion,
    CombineClipRegion,
    IntersectClipRect,
    ExcludeClipRect,
    PushClip,
    PopClip,
    MoveTo,
    LineTo,
    Polyline,
    PolyBezier,
    PolyBezierTo,
    Arc,
    ArcTo,
    Polygon,
    Rectangle,
    RoundRect,
    Ellipse,
    Pie,
    Chord,
    FillRect,
    FrameRect,
    DrawFocusRect,
    FillRegion,
    BeginPath,
    EndPath,
    AbortPath,
    CloseFigure,
    StrokePath,
    FillPath,
    StrokeAndFillPath,
    SelectClipPath,
    FlattenPath,
    PathToRegion,
    TextOut,
    ExtTextOut,
    DrawText,
    StretchDraw,
    StretchBitmap,
    TransparentBitmap,
    SetPixel,
};

// One recorded call with its arguments. Which fields count depends on the kind:
// Rect for rectangle arguments (the destination of bitmaps), Points for points (the radial
// points of arcs), Values for the other integers (corner sizes, modes, flags, levels, region
// operators), Source for the source rectangle of bitmaps.
struct TCanvasOp {
    TCanvasOpKind Kind = TCanvasOpKind::SaveState;
    TRect Rect;
    TRect Source;
    bool HasRect = false; // ExtTextOut: whether a rectangle was given
    std::vector<TPoint> Points;
    std::vector<int32_t> Values;
    std::vector<int32_t> Advances;
    std::string Text;
    TColor Color = clNone;
    TPen Pen;
    TBrush Brush;
    TFont Font;
    std::optional<TRegion> Region;
    std::shared_ptr<const TGraphic> Graphic;

    // The call as one line, e.g. "Rectangle(0,0,10,10)" or "SetPen(color=$0000FF, width=1,
    // style=psSolid, mode=pmCopy)".
    std::string ToString() const;
};

// A canvas that paints nothing and records every call with its arguments, for tests of drawing
// algorithms without pixels and as the body of a recorded picture. The calls it logs are the
// ones made on it: operations the base class builds from others (the lines DrawText draws, a
// bitmap drawn through StretchDraw) are not logged twice. Clip, path and text layout behave as
// on any canvas, so GetPath, ClipBox and DrawText's measurements are real.
//
// Font measurements come from a reference canvas when one is given (its font is set to this
// canvas's font first); otherwise from fixed synthetic metrics: an em of 2048 units, ascent
// 1854, descent 434, line gap 67, every character 1024 units wide with A = 64, B = 896, C = 64,
// scaled to the font's pixel height and rounded per character.
class TRecordingCanvas : public TCanvas {
public:
    explicit TRecordingCanvas(TSize size = TSize(640, 480), TCanvas* reference = nullptr);

    TSize Size() const override { return FSize; }
    void SetSize(TSize size) { FSize = size; }
    // Not owned; must outlive its use here.
    void SetReference(TCanvas* reference) { FReference = reference; }
    // Whether synthetic fonts are outline fonts (true): tests of the non-outline paths set it.
    void SetOutlineFonts(bool value) { FOutlineFonts = value; }

    const std::vector<TCanvasOp>& Ops() const { return FOps; }
    // One line per recorded call, each ending in "\n". Without state, the calls that only set
    // pen, brush, font, origin, background, fill mode or text alignment are left out.
    std::string Log(bool withState = true) const;
    void Clear() { FOps.clear(); }
    // Replaces the record (copies of a recorded picture).
    void SetOps(std::vector<TCanvasOp> ops) { FOps = std::move(ops); }

    // Plays the recorded calls onto target with (0, 0, Size()) mapped onto dest: coordinates,
    // rectangles, regions, corner sizes, font heights, advances and the widths of wide pens
    // scale; one-pixel pens stay one pixel. The target's state and clip are saved before and
    // restored after; recorded clips stay within the target's clip.
    void PlayTo(TCanvas& target, const TRect& dest) const;

    void SetPen(const TPen& pen) override;
    void SetBrush(const TBrush& brush) override;
    void SetFont(const TFont& font) override;
    void SetBrushOrigin(TPoint origin) override;
    void SetBkMode(TBkMode mode) override;
    void SetBkColor(TColor color) override;
    void SetPolyFillMode(TFillMode mode) override;
    void SetTextAlign(uint32_t align) override;
    int SaveState() override;
    void RestoreState(int level = -1) override;
    void SetClipRegion(const TRegion* region) override;
    void CombineClipRegion(const TRegion& region, TRegionOp op) override;
    void IntersectClipRect(const TRect& rect) override;
    void ExcludeClipRect(const TRect& rect) override;
    void PushClip() override;
    void PopClip() override;
    void MoveTo(int32_t x, int32_t y) override;
    void LineTo(int32_t x, int32_t y) override;
    void Polyline(std::span<const TPoint> points) override;
    void PolyBezier(std::span<const TPoint> points) override;
    void PolyBezierTo(std::span<const TPoint> points) override;
    void Arc(const TRect& rect, TPoint start, TPoint end) override;
    void ArcTo(const TRect& rect, TPoint start, TPoint end) override;
    void Polygon(std::span<const TPoint> points) override;
    void Rectangle(const TRect& rect) override;
    void RoundRect(const TRect& rect, int32_t cornerWidth, int32_t cornerHeight) override;
    void Ellipse(const TRect& rect) override;
    void Pie(const TRect& rect, TPoint start, TPoint end) override;
    void Chord(const TRect& rect, TPoint start, TPoint end) override;
    void FillRect(const TRect& rect) override;
    void FrameRect(const TRect& rect) override;
    void DrawFocusRect(const TRect& rect) override;
    void FillRegion(const TRegion& region) override;
    void BeginPath() override;
    bool EndPath() override;
    void AbortPath() override;
    bool CloseFigure() override;
    bool StrokePath() override;
    bool FillPath() override;
    bool StrokeAndFillPath() override;
    bool SelectClipPath(TRegionOp op) override;
    bool FlattenPath() override;
    TRegion PathToRegion() override;
    void TextOut(int32_t x, int32_t y, std::string_view text) override;
    void ExtTextOut(int32_t x, int32_t y, uint32_t options, const TRect* rect,
                    std::string_view text, std::span<const int32_t> advances = {}) override;
    int32_t DrawText(std::string_view text, TRect& rect, uint32_t format) override;
    void Draw(int32_t x, int32_t y, const TGraphic& graphic) override;
    void StretchDraw(const TRect& dest, const TGraphic& graphic) override;
    void StretchBitmap(const TRect& dest, const TBitmap& bitmap, const TRect& source) override;
    void TransparentBitmap(const TRect& dest, const TBitmap& bitmap, const TRect& source,
                           TColor key) override;
    void CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect) override;
    void SetPixel(int32_t x, int32_t y, TColor color) override;

protected:
    void RenderFill(const TRegion&, const TBrush&, TPenMode) override {}
    void RenderStroke(const TPolyFigures&, const TPen&) override {}
    void RenderText(const TTextRun&) override {}
    void RenderBitmap(const TRect&, bool, bool, const TBitmap&, const TRect&,
                      std::optional<uint32_t>) override {}
    TColor ReadPixel(int32_t, int32_t) override { return clNone; }
    void WritePixel(int32_t, int32_t, TColor) override {}
    TTextMetric FontMetrics(const TFont& font) override;
    bool FontOutlineMetrics(const TFont& font, TOutlineTextMetric& metrics) override;
    void FontAdvances(const TFont& font, std::u32string_view chars, int32_t* advances) override;
    TABC FontABC(const TFont& font, char32_t ch) override;

private:
    // Records op unless a recorded call is running (its inner calls are not logged).
    TCanvasOp& Record(TCanvasOpKind kind);
    struct TMute {
        explicit TMute(TRecordingCanvas& canvas)
            : Canvas(canvas) {
            ++Canvas.FMute;
        }
        ~TMute() { --Canvas.FMute; }
        TRecordingCanvas& Canvas;
    };

    TSize FSize;
    TCanvas* FReference = nullptr;
    bool FOutlineFonts = true;
    int FMute = 0;
    std::vector<TCanvasOp> FOps;
    TCanvasOp FDiscard;
};
