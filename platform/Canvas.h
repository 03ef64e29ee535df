#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Exception.h"
#include "Region.h"
#include "Types.h"

// The drawing surface of the document engine: pens, brushes, fonts, raster modes, shapes,
// paths, regions and the clip, text with explicit advances, font metrics and bitmaps. It keeps
// the pixel rules of the Windows device context the engine was designed against (see the
// comments at each operation); nothing here depends on a toolkit. The raster implementation is
// gc_platform_qt (QtCanvas.h); TRecordingCanvas (RecordingCanvas.h) logs calls for tests and
// backs the recorded picture (Metafile.h).
//
// Every coordinate is in device pixels. Canvases are used by the user-interface thread only.

class TBitmap;
class TGraphic;

// ---------------------------------------------------------------------------------------------
// Colours

// 0x00BBGGRR: red in the low byte. A top byte of 0xFF marks a system colour whose index is the
// low byte; the two special values clNone and clDefault name no colour.
using TColor = int32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clNone = 0x1FFFFFFF;    // 536870911: nothing is drawn
constexpr TColor clDefault = 0x20000000; // the context's default

constexpr TColor clSystemColor = int32_t(0xFF000000u);
constexpr TColor clScrollBar = clSystemColor | 0;
constexpr TColor clBackground = clSystemColor | 1;
constexpr TColor clActiveCaption = clSystemColor | 2;
constexpr TColor clInactiveCaption = clSystemColor | 3;
constexpr TColor clMenu = clSystemColor | 4;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowFrame = clSystemColor | 6;
constexpr TColor clMenuText = clSystemColor | 7;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clCaptionText = clSystemColor | 9;
constexpr TColor clActiveBorder = clSystemColor | 10;
constexpr TColor clInactiveBorder = clSystemColor | 11;
constexpr TColor clAppWorkSpace = clSystemColor | 12;
constexpr TColor clHighlight = clSystemColor | 13;
constexpr TColor clHighlightText = clSystemColor | 14;
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clBtnShadow = clSystemColor | 16;
constexpr TColor clGrayText = clSystemColor | 17;
constexpr TColor clBtnText = clSystemColor | 18;
constexpr TColor clInactiveCaptionText = clSystemColor | 19;
constexpr TColor clBtnHighlight = clSystemColor | 20;
constexpr TColor cl3DDkShadow = clSystemColor | 21;
constexpr TColor cl3DLight = clSystemColor | 22;
constexpr TColor clInfoText = clSystemColor | 23;
constexpr TColor clInfoBk = clSystemColor | 24;

constexpr TColor RGB(uint8_t r, uint8_t g, uint8_t b) {
    return TColor(r | (uint32_t(g) << 8) | (uint32_t(b) << 16));
}
constexpr uint8_t GetRValue(TColor c) {
    return uint8_t(c);
}
constexpr uint8_t GetGValue(TColor c) {
    return uint8_t(uint32_t(c) >> 8);
}
constexpr uint8_t GetBValue(TColor c) {
    return uint8_t(uint32_t(c) >> 16);
}

// System colours become their fixed RGB value (this system has no themes); every other value,
// clNone and clDefault included, is returned unchanged.
TColor ColorToRGB(TColor color);
// A colour as a 32-bit pixel 0x00RRGGBB (the byte order of TBitmap). Only the low 24 bits of a
// non-system colour count, so clNone gives white as it would on the original surface.
uint32_t ColorToPixel(TColor color);
TColor PixelToColor(uint32_t pixel);

// ---------------------------------------------------------------------------------------------
// Pens

enum TPenStyle : uint8_t {
    psSolid,
    psDash,
    psDot,
    psDashDot,
    psDashDotDot,
    psClear,
    psInsideFrame
};

// Binary raster operations between the pen or brush colour P and the surface S.
enum TPenMode : uint8_t {
    pmBlack,       // 0
    pmWhite,       // 1
    pmNop,         // S
    pmNot,         // ~S
    pmCopy,        // P
    pmNotCopy,     // ~P
    pmMergePenNot, // P | ~S
    pmMaskPenNot,  // P & ~S
    pmMergeNotPen, // ~P | S
    pmMaskNotPen,  // ~P & S
    pmMerge,       // P | S
    pmNotMerge,    // ~(P | S)
    pmMask,        // P & S
    pmNotMask,     // ~(P & S)
    pmXor,         // P ^ S
    pmNotXor,      // ~(P ^ S)
};

enum TPenEndCap : uint8_t { pecFlat, pecSquare, pecRound };
enum TPenJoin : uint8_t { pjBevel, pjMiter, pjRound };

// A pen as a value. Width is in pixels.
//
// Geometric = false is the plain pen:
// - Width 0 or 1: a cosmetic pen, one pixel wide whatever else is set. Styled lines use fixed
//   pixel patterns (dash 18 on 6 off, dot 3/3, dash-dot 9/6/3/6, dash-dot-dot 9/3/3/3/3/3)
//   whose gaps get the background colour when the background mode is opaque.
// - Width above 1: a solid line that wide with round caps and round joins. A dashed or dotted
//   style draws solid at that width (as the original plain pen does); callers that want
//   styled wide lines ask for a geometric pen, and those that cannot have one use width 0.
// Geometric = true: Width pixels (at least 1) with EndCap and Join; dashes are in units of the
// width (dash 4/2, dot 1/2, dash-dot 4/2/1/2, dash-dot-dot 4/2/1/2/1/2) and their gaps stay
// transparent.
//
// psInsideFrame draws solid; for the shapes given by a bounding rectangle (Rectangle,
// RoundRect, Ellipse, Arc, Pie, Chord) a pen wider than one pixel is moved inwards so that the
// whole line stays inside the rectangle. psClear draws nothing and neither does clNone.
// Mode applies to the lines and to the interiors of shapes and paths; FillRect, FrameRect,
// FillRegion, text and bitmaps always copy.
struct TPen {
    TColor Color = clBlack;
    int32_t Width = 1;
    TPenStyle Style = psSolid;
    TPenMode Mode = pmCopy;
    bool Geometric = false;
    TPenEndCap EndCap = pecRound;
    TPenJoin Join = pjRound;

    bool operator==(const TPen&) const = default;
};

// ---------------------------------------------------------------------------------------------
// Brushes

enum TBrushStyle : uint8_t {
    bsSolid,
    bsClear,
    bsHorizontal, // ---
    bsVertical,   // |||
    bsFDiagonal,  // \\\ (top left to bottom right)
    bsBDiagonal,  // /// (bottom left to top right)
    bsCross,      // +++
    bsDiagCross,  // xxx
};

// A brush as a value. With a Bitmap the brush is a pattern brush: the bitmap is tiled from the
// brush origin and Style and Color do not count. Hatch styles paint Color on an 8 x 8 pattern
// anchored at the brush origin; the pattern's other pixels get the background colour when the
// background mode is opaque, else they are left alone.
struct TBrush {
    TColor Color = clWhite;
    TBrushStyle Style = bsSolid;
    std::shared_ptr<const TBitmap> Bitmap;

    bool operator==(const TBrush&) const = default;
};

// The names documents use for the enumerations of this header, indexed by value.
extern const char* const kPenStyleNames[7];
extern const char* const kPenModeNames[16];
extern const char* const kPenEndCapNames[3];
extern const char* const kPenJoinNames[3];
extern const char* const kBrushStyleNames[8];

// Row `row` (0..7) of the hatch pattern of `style`: bit 7 - x is set when pixel x of the row is
// a hatch pixel, x and row counted from the brush origin. 0 for bsSolid and bsClear.
uint8_t HatchPatternRow(TBrushStyle style, int row);

// ---------------------------------------------------------------------------------------------
// Fonts

enum TFontPitch : uint8_t { fpDefault, fpVariable, fpFixed };
enum TFontStyle : uint8_t { fsBold, fsItalic, fsUnderline, fsStrikeOut };
extern const char* const kFontPitchNames[3];
extern const char* const kFontStyleNames[4];
// A set of TFontStyle: bit (1 << style).
using TFontStyles = uint8_t;
constexpr TFontStyles FontStyleBit(TFontStyle style) {
    return TFontStyles(1u << style);
}

constexpr int32_t kFontWeightNormal = 400;
constexpr int32_t kFontWeightBold = 700;
// The height the platform gives a font nobody sized, in pixels (character height).
constexpr int32_t kDefaultFontHeight = -11;
constexpr uint8_t kDefaultCharset = 1;
constexpr uint8_t kSymbolCharset = 2;

// A logical font. Height is in pixels: negative for the character (em) height, positive for the
// cell height (ascent + descent), 0 for kDefaultFontHeight. Escapement turns the text's
// baseline counter-clockwise, in tenths of a degree; only outline fonts turn. Character codes
// 0..255 of the metric queries are Windows-1252 for every charset but kSymbolCharset, whose
// codes are taken as they stand.
//
// Face names are mapped to what the system has (QtFonts.h says how); a missing face never
// means no text.
struct TFont {
    std::string Name = "Arial";
    int32_t Height = kDefaultFontHeight;
    int32_t Weight = kFontWeightNormal;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    uint8_t Charset = kDefaultCharset;
    TFontPitch Pitch = fpDefault;
    int32_t Escapement = 0;
    TColor Color = clBlack;

    TFontStyles Style() const;
    // fsBold sets Weight to bold or normal; the other bits set their flags.
    void SetStyle(TFontStyles style);

    bool operator==(const TFont&) const = default;
};

// Metrics of the current font at its pixel size.
struct TTextMetric {
    int32_t Height = 0; // cell height: Ascent + Descent
    int32_t Ascent = 0;
    int32_t Descent = 0;
    int32_t InternalLeading = 0; // Height minus the em height
    int32_t ExternalLeading = 0; // extra space the font asks for between lines
    int32_t AveCharWidth = 0;
    int32_t MaxCharWidth = 0;
    int32_t Weight = kFontWeightNormal;
    bool Italic = false;
    bool Underlined = false;
    bool StruckOut = false;
    bool FixedPitch = false;
    bool Outline = false; // an outline (scalable) font
    uint8_t Charset = kDefaultCharset;
};

// Design metrics of an outline font, at the current pixel size like the original query (create
// the font with Height = -EmSquare to read them in design units).
struct TOutlineTextMetric {
    TTextMetric TextMetric;
    uint32_t EmSquare = 0; // design units per em
    int32_t Ascent = 0;    // typographic ascent, descent (negative) and line gap
    int32_t Descent = 0;
    int32_t LineGap = 0;
    TRect FontBox; // the union of all glyph boxes, y up
    int32_t UnderscoreSize = 0;
    int32_t UnderscorePosition = 0; // below the baseline when negative
    int32_t StrikeoutSize = 0;
    int32_t StrikeoutPosition = 0; // above the baseline
};

// The A (left bearing), B (black box) and C (right bearing) widths of a character; A + B + C
// is its advance.
struct TABC {
    int32_t A = 0;
    int32_t B = 0;
    int32_t C = 0;
    bool operator==(const TABC&) const = default;
};

// ---------------------------------------------------------------------------------------------
// Flags

enum TBkMode : uint8_t { bkTransparent = 1, bkOpaque = 2 };

// TextOut reference point: one horizontal and one vertical value, or-ed.
enum : uint32_t {
    taLeft = 0,
    taRight = 2,
    taCenter = 6,
    taTop = 0,
    taBottom = 8,
    taBaseline = 24,
};

// ExtTextOut options.
enum : uint32_t {
    etoOpaque = 2,  // fill the rectangle with the background colour first
    etoClipped = 4, // clip the text to the rectangle
};

// DrawText format flags.
enum : uint32_t {
    dtLeft = 0,
    dtCenter = 1,
    dtRight = 2,
    dtVCenter = 4, // with dtSingleLine
    dtBottom = 8,  // with dtSingleLine
    dtWordBreak = 0x10,
    dtSingleLine = 0x20,
    dtExpandTabs = 0x40,
    dtNoClip = 0x100,
    dtExternalLeading = 0x200,
    dtCalcRect = 0x400,
    dtNoPrefix = 0x800,
};

// Point types of a recorded path as GetPath reports them; pptCloseFigure is or-ed into the
// type of a figure's last point when the figure is closed.
enum TPathPointType : uint8_t {
    pptCloseFigure = 1,
    pptLineTo = 2,
    pptBezierTo = 4,
    pptMoveTo = 6,
};

// ---------------------------------------------------------------------------------------------
// The canvas

// A text run as the raster implementations receive it: the characters, where each one starts
// along the baseline (Positions[i], pixels from Origin, before the run is turned by the font's
// escapement), and the font. Origin is the left end of the baseline.
struct TTextRun {
    TPoint Origin;
    std::u32string Chars;
    std::vector<int32_t> Positions;
    TFont Font;
};

// Drawing surface. The public operations are virtual so that the recording canvas can log
// them; the base class implements them all on top of the protected Render* hooks, which is
// where a raster implementation starts.
//
// Shape rules (those of the original surface):
// - A rectangle (l, t, r, b) covers the pixels l..r-1, t..b-1: right and bottom are excluded.
// - Rectangle, RoundRect, Ellipse, Arc, Pie and Chord place their outline on the pixel centres
//   l..r-1, t..b-1. A one-pixel pen therefore covers l..r-1; with a clear pen the interior
//   alone is filled and comes out one pixel smaller (l..r-2): callers that want the full
//   rectangle filled without an outline add one pixel to the right and bottom.
// - Interiors hold the pixels whose centre is inside the outline (top and left edges inside,
//   right and bottom outside), the rule of TRegion.
// - LineTo and Polyline leave out the last pixel of an open line.
// - Nothing is anti-aliased.
//
// While a path is open (BeginPath .. EndPath) the line and shape operations add to the path
// and draw nothing; text is not recorded into paths.
class TCanvas {
public:
    TCanvas();
    virtual ~TCanvas();
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    // The drawable area is (0, 0, Size).
    virtual TSize Size() const = 0;
    // The bitmap the canvas paints into, or none (recording canvases).
    virtual TBitmap* Surface() { return nullptr; }
    // Makes the surface's pixels current after drawing (raster implementations may batch).
    virtual void Flush() {}

    // -- State. Setting the brush also sets the background the way text and styled lines use
    // it: a solid brush makes the background opaque in the brush colour, any other brush
    // makes it transparent. SetBkMode and SetBkColor change that afterwards.
    virtual void SetPen(const TPen& pen);
    const TPen& Pen() const { return FState.Pen; }
    virtual void SetBrush(const TBrush& brush);
    const TBrush& Brush() const { return FState.Brush; }
    virtual void SetFont(const TFont& font);
    const TFont& Font() const { return FState.Font; }
    // Hatch and pattern brushes are anchored at this point (the pixel where pattern pixel 0, 0
    // falls).
    virtual void SetBrushOrigin(TPoint origin);
    TPoint BrushOrigin() const { return FState.BrushOrigin; }
    virtual void SetBkMode(TBkMode mode);
    TBkMode BkMode() const { return FState.BkMode; }
    virtual void SetBkColor(TColor color);
    TColor BkColor() const { return FState.BkColor; }
    // Fill rule of Polygon, FillPath, StrokeAndFillPath, SelectClipPath and PathToRegion.
    virtual void SetPolyFillMode(TFillMode mode);
    TFillMode PolyFillMode() const { return FState.FillMode; }
    virtual void SetTextAlign(uint32_t align);
    uint32_t TextAlign() const { return FState.TextAlign; }

    // Saves pen, brush, font, brush origin, background, fill mode, text alignment, pen position
    // and clip; returns the new depth (1 for the first save). RestoreState(n) returns to the
    // state saved at depth n and drops the saves above it; a negative n counts back from the
    // top (-1: the last save). Restoring a depth that was never saved does nothing.
    virtual int SaveState();
    virtual void RestoreState(int level = -1);

    // -- Clip. No clip means the whole surface.
    // Copies the clip into region; false (region emptied) when there is no clip.
    bool GetClipRegion(TRegion& region) const;
    // Replaces the clip; nullptr removes it.
    virtual void SetClipRegion(const TRegion* region);
    // Combines the clip with region; without a clip the current clip is the whole surface.
    virtual void CombineClipRegion(const TRegion& region, TRegionOp op);
    virtual void IntersectClipRect(const TRect& rect);
    virtual void ExcludeClipRect(const TRect& rect);
    // The bounds of what may be drawn: the clip's bounds within the surface.
    TRect ClipBox() const;
    // A clip stack on top of the state saves, for the common "clip, paint, restore" bracket.
    virtual void PushClip();
    virtual void PopClip();

    // -- Lines. The pen position is where the next LineTo starts.
    virtual void MoveTo(int32_t x, int32_t y);
    TPoint PenPos() const { return FState.PenPos; }
    virtual void LineTo(int32_t x, int32_t y);
    virtual void Polyline(std::span<const TPoint> points);
    // Cubic Bezier pieces: a start point, then three points (two controls and an end) per piece.
    // Counts that do not fit draw nothing.
    virtual void PolyBezier(std::span<const TPoint> points);
    // Pieces from the pen position; three points each. The pen position moves to the end.
    virtual void PolyBezierTo(std::span<const TPoint> points);
    // The elliptic arc of the ellipse in rect from the ray through start to the ray through end
    // (both from the centre), counter-clockwise. ArcTo first draws a line from the pen position
    // to the arc's start and leaves the pen position at the arc's end.
    virtual void Arc(const TRect& rect, TPoint start, TPoint end);
    virtual void ArcTo(const TRect& rect, TPoint start, TPoint end);

    // -- Shapes: outlined with the pen, filled with the brush.
    virtual void Polygon(std::span<const TPoint> points);
    virtual void Rectangle(const TRect& rect);
    // cornerWidth and cornerHeight are the size of the ellipse that rounds the corners.
    virtual void RoundRect(const TRect& rect, int32_t cornerWidth, int32_t cornerHeight);
    virtual void Ellipse(const TRect& rect);
    // The arc closed by two lines to the centre / by the chord between its ends.
    virtual void Pie(const TRect& rect, TPoint start, TPoint end);
    virtual void Chord(const TRect& rect, TPoint start, TPoint end);
    // The brush over every pixel of rect (right and bottom excluded); no pen, no raster mode.
    virtual void FillRect(const TRect& rect);
    // A one-pixel frame along the inside of rect, painted with the brush.
    virtual void FrameRect(const TRect& rect);
    // The dotted frame of keyboard focus, drawn by inverting every other pixel; drawing it
    // twice removes it.
    virtual void DrawFocusRect(const TRect& rect);
    virtual void FillRegion(const TRegion& region);

    // -- Paths. Drawing operations between BeginPath and EndPath build the path; EndPath closes
    // the bracket and the path is then stroked, filled, turned into a clip or read back, which
    // consumes it (GetPath and FlattenPath keep it). Operations out of order return false.
    virtual void BeginPath();
    virtual bool EndPath();
    virtual void AbortPath();
    virtual bool CloseFigure();
    virtual bool StrokePath();
    virtual bool FillPath();
    virtual bool StrokeAndFillPath();
    virtual bool SelectClipPath(TRegionOp op);
    virtual bool FlattenPath();
    bool GetPath(std::vector<TPoint>& points, std::vector<uint8_t>& types) const;
    // The pixels FillPath would fill; consumes the path. Empty when there is no closed path.
    virtual TRegion PathToRegion();
    bool IsPathOpen() const { return FPathState == TPathState::Open; }

    // -- Text. Texts are UTF-8; advances and positions count characters (code points).
    // The text at the reference point chosen by TextAlign, in the font colour, the background
    // behind the character cells filled when the background mode is opaque.
    virtual void TextOut(int32_t x, int32_t y, std::string_view text);
    // As TextOut with explicit advances: character i starts advances[0] + ... + advances[i-1]
    // pixels along the baseline from the reference point. Missing advances are the font's own.
    // etoOpaque fills rect with the background colour first, etoClipped clips to rect.
    virtual void ExtTextOut(int32_t x, int32_t y, uint32_t options, const TRect* rect,
                            std::string_view text, std::span<const int32_t> advances = {});
    // Multi-line text in rect: lines break at CR, LF, CR LF and LF CR; dtWordBreak also breaks
    // between words to fit the width (a word wider than the line stays whole); dtExpandTabs
    // sets tab stops every 8 average character widths; without dtNoPrefix "&x" shows "x" and
    // "&&" shows "&". Lines are one cell height apart (plus the external leading with
    // dtExternalLeading). dtCalcRect draws nothing and sets rect.Bottom to the text's bottom
    // and rect.Right to the widest line's end (for more than one word-broken line rect.Right
    // only grows). Unless dtNoClip the text is clipped to rect. Returns the text height.
    virtual int32_t DrawText(std::string_view text, TRect& rect, uint32_t format);
    // Width of the text in the current font (sum of the advances) by its cell height.
    TSize TextExtent(std::string_view text);
    int32_t TextWidth(std::string_view text) { return TextExtent(text).Width; }
    int32_t TextHeight(std::string_view text) { return TextExtent(text).Height; }
    // The font's own advance of every character of text, whole pixels.
    std::vector<int32_t> GetTextAdvances(std::string_view text);
    TABC GetCharABC(char32_t ch) { return FontABC(FState.Font, ch); }
    TTextMetric GetTextMetrics();
    // False for a font without outline metrics.
    bool GetOutlineTextMetrics(TOutlineTextMetric& metrics);
    // Advance widths / ABC widths of the character codes first..last (see TFont for the code
    // page), one entry per code. False when the range is empty or above 255.
    bool GetCharWidths(uint32_t first, uint32_t last, int32_t* widths);
    bool GetCharABCWidths(uint32_t first, uint32_t last, TABC* abc);

    // -- Bitmaps. These copy pixels; raster modes do not apply.
    // A graphic drawn by its own rules (a transparent bitmap leaves its transparent colour out).
    virtual void Draw(int32_t x, int32_t y, const TGraphic& graphic);
    virtual void StretchDraw(const TRect& dest, const TGraphic& graphic);
    // Part of a bitmap stretched over dest (nearest pixel; dest may be mirrored by giving it
    // right < left or bottom < top).
    virtual void StretchBitmap(const TRect& dest, const TBitmap& bitmap, const TRect& source);
    // The same, leaving out the source pixels of colour key.
    virtual void TransparentBitmap(const TRect& dest, const TBitmap& bitmap, const TRect& source,
                                   TColor key);
    // Pixels of another canvas stretched over dest. Nothing happens when the source has no
    // surface.
    virtual void CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect);
    // clNone outside the surface or when there are no pixels.
    virtual TColor GetPixel(int32_t x, int32_t y);
    virtual void SetPixel(int32_t x, int32_t y, TColor color);

protected:
    // -- Hooks of raster implementations. Regions arrive clipped; strokes and text must be
    // clipped by the implementation (ClipRegion()).
    // Fills area with brush, combined with the surface by mode; the background (BkMode,
    // BkColor) applies to hatch gaps.
    virtual void RenderFill(const TRegion& area, const TBrush& brush, TPenMode mode) = 0;
    // Strokes the figures with pen (never clear, colour not clNone).
    virtual void RenderStroke(const TPolyFigures& figures, const TPen& pen) = 0;
    // A shape's interior (empty when the brush draws nothing) and outline (nullptr when the
    // pen draws nothing), combined by pen.Mode. The default fills, then strokes; a raster
    // implementation overrides it so that a mode that does not repeat (pmXor ...) reaches the
    // pixels under the outline once, not twice.
    virtual void RenderShape(const TRegion& interior, const TBrush& brush,
                             const TPolyFigures* outline, const TPen& pen);
    // Draws the glyphs of run in run.Font.Color, turned by run.Font.Escapement around Origin.
    virtual void RenderText(const TTextRun& run) = 0;
    // Copies source (inside bitmap) over dest (normalized; mirrored when flipX / flipY),
    // leaving out pixels equal to keyPixel when given.
    virtual void RenderBitmap(const TRect& dest, bool flipX, bool flipY, const TBitmap& bitmap,
                              const TRect& source, std::optional<uint32_t> keyPixel) = 0;
    virtual TColor ReadPixel(int32_t x, int32_t y) = 0;
    virtual void WritePixel(int32_t x, int32_t y, TColor color) = 0;
    // Font queries for one font; the public operations pass the current font.
    virtual TTextMetric FontMetrics(const TFont& font) = 0;
    virtual bool FontOutlineMetrics(const TFont& font, TOutlineTextMetric& metrics) = 0;
    // Advance of each character at the font's pixel size, whole pixels.
    virtual void FontAdvances(const TFont& font, std::u32string_view chars, int32_t* advances) = 0;
    virtual TABC FontABC(const TFont& font, char32_t ch) = 0;
    // Called after every change of the clip.
    virtual void ClipChanged() {}

    // The clip, or nullptr for none.
    const TRegion* ClipRegion() const { return FState.Clip ? &*FState.Clip : nullptr; }

private:
    enum class TPathState : uint8_t { None, Open, Closed };
    struct TState {
        TPen Pen;
        TBrush Brush;
        TFont Font;
        TPoint BrushOrigin;
        TBkMode BkMode = bkOpaque;
        TColor BkColor = clWhite;
        TFillMode FillMode = fmAlternate;
        uint32_t TextAlign = taLeft | taTop;
        TPoint PenPos;
        std::optional<TRegion> Clip;
    };

    bool PenVisible() const;
    bool BrushVisible() const;
    // Fills and strokes a shape; the stroke outline comes from the same figures unless given.
    void DrawShape(const TPolyFigures& fill, const TPolyFigures& stroke);
    void FillArea(const TRegion& area, const TBrush& brush, TPenMode mode);
    void StrokeFigures(const TPolyFigures& figures);
    // The pen as the raster hooks receive it: inside-frame drawn solid, the plain wide pen
    // solid and round, widths at least one.
    TPen StrokePen() const;
    // Box of a bounding-rectangle shape in pixel centres, moved inwards for inside-frame pens.
    void ShapeBox(const TRect& rect, double& l, double& t, double& r, double& b) const;
    void ArcShape(const TRect& rect, TPoint start, TPoint end, int kind);
    TPolyFigures PathFigures(bool closeAll) const;
    void PathMoveTo(TPoint p);
    void PathLineTo(TPoint p);
    void PathBezierTo(TPoint c1, TPoint c2, TPoint p);
    void PathAddFloat(const std::vector<TPointF>& beziers, bool moveFirst, bool close);
    void DropPath();
    void DrawTextLine(int32_t x, int32_t y, std::u32string_view chars,
                      const std::vector<int32_t>& advances);
    void OutputText(int32_t x, int32_t y, uint32_t options, const TRect* rect, std::u32string chars,
                    std::vector<int32_t> advances);
    bool CharCodes(uint32_t first, uint32_t last, std::u32string& chars) const;

    TState FState;
    std::vector<TState> FSaved;
    std::vector<std::optional<TRegion>> FClipStack;
    TPathState FPathState = TPathState::None;
    std::vector<TPoint> FPathPoints;
    std::vector<uint8_t> FPathTypes;
    int32_t FFigureStart = -1; // index of the open figure's move-to, -1 when none
};

// ---------------------------------------------------------------------------------------------
// Raster back end

// Makes the canvases that paint into bitmaps. gc_platform_qt installs one
// (InstallQtCanvasBackend); without a back end a bitmap's canvas records calls and paints
// nothing, so code that never looks at pixels runs without a toolkit.
class TCanvasBackend {
public:
    virtual ~TCanvasBackend() = default;
    // A canvas painting into bitmap; it must not outlive the bitmap.
    virtual std::unique_ptr<TCanvas> CreateBitmapCanvas(TBitmap& bitmap) = 0;
    // Decodes an icon file image into its largest picture; nullptr when this back end cannot.
    virtual std::unique_ptr<TBitmap> DecodeIcon(std::span<const uint8_t> bytes);
};

// The installed back end (not owned), or nullptr.
TCanvasBackend* CanvasBackend();
void SetCanvasBackend(TCanvasBackend* backend);

// Raised for image data that cannot be decoded or a bitmap size that cannot be had.
GC_DECLARE_EXCEPTION(EInvalidGraphic, Exception);
