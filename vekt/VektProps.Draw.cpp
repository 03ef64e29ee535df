// Drawing with brush and background properties: gradients, bitmap brushes, page backgrounds.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "VektProps.h"

namespace {

// A brush tile is at least this many pixels on each side, so a tiny pattern does not cost one
// copy per pixel of a large area.
constexpr int32_t kMinTileSize = 64;

// Start of the tile grid anchored at origin that covers start.
int32_t FirstTile(int32_t origin, int32_t start, int32_t size) {
    int64_t d = int64_t(start) - origin;
    int64_t k = d >= 0 ? d / size : -((-d + size - 1) / size);
    return static_cast<int32_t>(origin + k * size);
}

// With a clear pen Rectangle and Ellipse leave out their last column and row; the bands of a
// gradient must cover them.
TRect Filled(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    return TRect(left, top, right + 1, bottom + 1);
}

} // namespace

void TBrushProp::Setup(TCanvas& canvas, int) {
    TBrush brush;
    brush.Color = ColorToRGB(FColor);
    brush.Style = FBrushStyle;
    if (FMethod != bmHatch || FColor == clNone) brush.Style = bsClear;
    canvas.SetBrush(brush);
}

void TBrushProp::PaintSpecial(TCanvas& canvas, const TRect& rect, int32_t originX, int32_t originY,
                              const TRect& clipRect) {
    if (FMethod == bmHatch || rect.IsEmpty()) return;
    TRect area = rect.Intersected(clipRect);
    if (area.IsEmpty()) return;
    int saved = canvas.SaveState();
    canvas.IntersectClipRect(clipRect);
    if (FMethod == bmGradient)
        PaintGradient(canvas, rect);
    else
        PaintBitmap(canvas, rect, originX, originY, area);
    canvas.RestoreState(saved);
}

void TBrushProp::PaintGradient(TCanvas& canvas, const TRect& rect) {
    TColor begin = ColorToRGB(FGradBeginColor), end = ColorToRGB(FGradEndColor);
    bool corner = FGradStyle >= gsTopLeft;
    if (corner) // the corner styles run from the end colour to the begin colour
        std::swap(begin, end);
    int r = GetRValue(begin), g = GetGValue(begin), b = GetBValue(begin);
    int dr = GetRValue(end) - r, dg = GetGValue(end) - g, db = GetBValue(end) - b;
    int64_t w = rect.Width(), h = rect.Height();
    int64_t n = std::max({std::abs(dr), std::abs(dg), std::abs(db), 1});
    switch (FGradStyle) {
    case gsHorizontal: n = std::min(n, w); break;
    case gsVertical: n = std::min(n, h); break;
    case gsSquare:
    case gsElliptic: n = std::min(n, std::min(w, h) / 2); break;
    default: n = std::min(n, std::min(w, h)); break;
    }
    if (n <= 0) return;
    TPen pen = canvas.Pen(); // the mode stays as given
    pen.Style = psClear;
    canvas.SetPen(pen);
    int32_t cx = rect.Left + static_cast<int32_t>(w / 2);
    int32_t cy = rect.Top + static_cast<int32_t>(h / 2);
    for (int64_t i = 0; i < n; ++i) {
        TBrush brush;
        brush.Style = bsSolid;
        brush.Color = n == 1 ? begin
                             : RGB(static_cast<uint8_t>(r + i * dr / (n - 1)),
                                   static_cast<uint8_t>(g + i * dg / (n - 1)),
                                   static_cast<uint8_t>(b + i * db / (n - 1)));
        canvas.SetBrush(brush);
        int64_t k = n - i; // the shapes shrink from the whole rectangle
        switch (FGradStyle) {
        case gsHorizontal:
            canvas.Rectangle(Filled(static_cast<int32_t>(rect.Left + i * w / n), rect.Top,
                                    static_cast<int32_t>(rect.Left + (i + 1) * w / n),
                                    rect.Bottom));
            break;
        case gsVertical:
            canvas.Rectangle(Filled(rect.Left, static_cast<int32_t>(rect.Top + i * h / n),
                                    rect.Right, static_cast<int32_t>(rect.Top + (i + 1) * h / n)));
            break;
        case gsSquare: {
            int32_t hw = static_cast<int32_t>(k * w / (2 * n));
            int32_t hh = static_cast<int32_t>(k * h / (2 * n));
            canvas.Rectangle(Filled(cx - hw, cy - hh, cx + hw, cy + hh));
            break;
        }
        case gsElliptic: {
            auto rx = static_cast<int32_t>(std::lround(double(k) * double(w) / double(n) / 1.4));
            auto ry = static_cast<int32_t>(std::lround(double(k) * double(h) / double(n) / 1.4));
            canvas.Ellipse(Filled(cx - rx, cy - ry, cx + rx, cy + ry));
            break;
        }
        default: {
            auto sw = static_cast<int32_t>(k * w / n), sh = static_cast<int32_t>(k * h / n);
            bool right = FGradStyle == gsTopRight || FGradStyle == gsBottomRight;
            bool bottom = FGradStyle == gsBottomLeft || FGradStyle == gsBottomRight;
            int32_t left = right ? rect.Right - sw : rect.Left;
            int32_t top = bottom ? rect.Bottom - sh : rect.Top;
            canvas.Rectangle(Filled(left, top, left + sw, top + sh));
            break;
        }
        }
    }
}

std::shared_ptr<TBitmap> TBrushProp::MakeTile() const {
    int32_t bw = FBitmap->Width(), bh = FBitmap->Height();
    int32_t nx = (kMinTileSize + bw - 1) / bw, ny = (kMinTileSize + bh - 1) / bh;
    auto tile = std::make_shared<TBitmap>(bw * nx, bh * ny, FBitmap->PixelFormat());
    for (int32_t y = 0; y < tile->Height(); ++y) {
        const uint32_t* source = FBitmap->ScanLine(y % bh);
        uint32_t* target = tile->ScanLine(y);
        for (int32_t x = 0; x < tile->Width(); ++x)
            target[x] = source[x % bw];
    }
    return tile;
}

void TBrushProp::PaintBitmap(TCanvas& canvas, const TRect& rect, int32_t originX, int32_t originY,
                             const TRect& area) {
    if (!FBitmap || FBitmap->Empty()) return;
    const TBitmap& bitmap = *FBitmap;
    int32_t bw = bitmap.Width(), bh = bitmap.Height();
    auto put = [&](const TBitmap& source, const TRect& dest) {
        TRect whole(0, 0, source.Width(), source.Height());
        if (FBitmapMasked)
            canvas.TransparentBitmap(dest, source, whole, FBitmapMaskColor);
        else
            canvas.StretchBitmap(dest, source, whole);
    };
    switch (FBitmapDisplay) {
    case bdStretch: put(bitmap, rect); return;
    case bdCenter: {
        int32_t x = rect.Left + (rect.Width() - bw) / 2, y = rect.Top + (rect.Height() - bh) / 2;
        put(bitmap, TRect(x, y, x + bw, y + bh));
        return;
    }
    case bdTile: break;
    }
    if (!FBitmapMasked) {
        // A pattern brush anchored at the origin tiles in one fill.
        TBrush brush;
        brush.Bitmap = FBitmap;
        canvas.SetBrush(brush);
        canvas.SetBrushOrigin(TPoint(originX, originY));
        canvas.FillRect(area);
        return;
    }
    std::shared_ptr<TBitmap> tile = FBitmapCache && FTile ? FTile : MakeTile();
    if (FBitmapCache) FTile = tile;
    int32_t tw = tile->Width(), th = tile->Height();
    for (int32_t y = FirstTile(originY, area.Top, th); y < area.Bottom; y += th)
        for (int32_t x = FirstTile(originX, area.Left, tw); x < area.Right; x += tw)
            put(*tile, TRect(x, y, x + tw, y + th));
}

// --- TBackgroundOptionsProp ---

TRect TBackgroundOptionsProp::GetPictureRect(const TPictureProp& picture, const TRect& rect,
                                             int scale) const {
    TSize size = picture.PictureSize();
    if (picture.Empty() || size.Width <= 0 || size.Height <= 0) return TRect();
    int32_t w = size.Width, h = size.Height;
    bool stretchH = HasOption(bpStretchHoriz), stretchV = HasOption(bpStretchVert);
    if (stretchH) {
        w = rect.Width();
    } else {
        if (HasOption(bpNewWidth)) w = MulDiv(FWidth, 1, 1000);
        if (HasOption(bpScaledSize)) w = MulDiv(w, scale, 100);
    }
    if (stretchV) {
        h = rect.Height();
    } else {
        if (HasOption(bpNewHeight)) h = MulDiv(FHeight, 1, 1000);
        if (HasOption(bpScaledSize)) h = MulDiv(h, scale, 100);
    }
    int32_t x = 0, y = 0;
    if (HasOption(bpCenterHoriz))
        x = (rect.Width() - w) / 2;
    else if (HasOption(bpAlignRight))
        x = rect.Width() - w;
    if (HasOption(bpCenterVert))
        y = (rect.Height() - h) / 2;
    else if (HasOption(bpAlignBottom))
        y = rect.Height() - h;
    if (HasOption(bpOffsetLeft) && !stretchH) x += MulDiv(FLeft, 1, 1000);
    if (HasOption(bpOffsetTop) && !stretchV) y += MulDiv(FTop, 1, 1000);
    return TRect(rect.Left + x, rect.Top + y, rect.Left + x + w, rect.Top + y + h);
}

void TBackgroundOptionsProp::PaintBackground(TCanvas& canvas, const TRect& rect, int scale,
                                             TBrushProp* brush, TPictureProp* picture,
                                             bool useMask) {
    int saved = canvas.SaveState();
    if (FBrushEnabled && brush && !brush->IsClear()) {
        brush->Setup(canvas, scale);
        TPen pen = canvas.Pen();
        pen.Style = psClear;
        pen.Mode = pmCopy;
        canvas.SetPen(pen);
        if (brush->Method() == bmHatch)
            canvas.Rectangle(Filled(rect.Left, rect.Top, rect.Right, rect.Bottom));
        else
            brush->PaintSpecial(canvas, rect, rect.Left, rect.Top, rect);
    }
    if (FPictureEnabled && picture && !picture->Empty())
        picture->Draw(canvas, GetPictureRect(*picture, rect, scale), useMask);
    canvas.RestoreState(saved);
}
