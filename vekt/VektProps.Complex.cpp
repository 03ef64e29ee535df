// The complex property classes: brush, line cap, pen, font and background options, with their
// published sub-properties in writing order.
#include <cmath>
#include <iterator>

#include "SysUtils.h"
#include "VektProps.h"

namespace {

using TNames = std::vector<std::string>;

TSubPropInfo Ordinal(const char* name, TSubPropType type, int64_t defaultValue,
                     const TNames* names = nullptr) {
    return TSubPropInfo{name, type, names, true, defaultValue};
}

TSubPropInfo NoDefault(const char* name, TSubPropType type) {
    return TSubPropInfo{name, type, nullptr, false, 0};
}

} // namespace

const std::vector<std::string>& BrushMethodNames() {
    static const TNames names = {"bmHatch", "bmGradient", "bmBitmap"};
    return names;
}
const std::vector<std::string>& BrushStyleNames() {
    static const TNames names(std::begin(kBrushStyleNames), std::end(kBrushStyleNames));
    return names;
}
const std::vector<std::string>& BitmapDisplayNames() {
    static const TNames names = {"bdCenter", "bdTile", "bdStretch"};
    return names;
}
const std::vector<std::string>& GradientStyleNames() {
    static const TNames names = {"gsHorizontal", "gsVertical", "gsSquare",     "gsElliptic",
                                 "gsTopLeft",    "gsTopRight", "gsBottomLeft", "gsBottomRight"};
    return names;
}
const std::vector<std::string>& PenStyleNames() {
    static const TNames names(std::begin(kPenStyleNames), std::end(kPenStyleNames));
    return names;
}
const std::vector<std::string>& PenModeNames() {
    static const TNames names(std::begin(kPenModeNames), std::end(kPenModeNames));
    return names;
}
const std::vector<std::string>& PenEndCapNames() {
    static const TNames names(std::begin(kPenEndCapNames), std::end(kPenEndCapNames));
    return names;
}
const std::vector<std::string>& PenJoinNames() {
    static const TNames names(std::begin(kPenJoinNames), std::end(kPenJoinNames));
    return names;
}
const std::vector<std::string>& FontPitchNames() {
    static const TNames names(std::begin(kFontPitchNames), std::end(kFontPitchNames));
    return names;
}
const std::vector<std::string>& FontStyleNames() {
    static const TNames names(std::begin(kFontStyleNames), std::end(kFontStyleNames));
    return names;
}
const std::vector<std::string>& BackgroundOptionNames() {
    static const TNames names = {"bpOffsetLeft",   "bpOffsetTop",   "bpNewWidth",   "bpNewHeight",
                                 "bpStretchHoriz", "bpStretchVert", "bpScaledSize", "bpCenterHoriz",
                                 "bpCenterVert",   "bpAlignRight",  "bpAlignBottom"};
    return names;
}

// --- TBrushProp ---

TBrushProp::TBrushProp(TPropList* list, const std::string& name, uint8_t style)
    : TCustomProp(list, name, pkComplex, style) {}

const std::vector<TSubPropInfo>& TBrushProp::Published() const {
    using T = TSubPropType;
    static const std::vector<TSubPropInfo> table = {
        Ordinal("Method", T::Enum, bmHatch, &BrushMethodNames()),
        Ordinal("Color", T::Integer, clNone),
        Ordinal("Style", T::Enum, bsSolid, &BrushStyleNames()),
        NoDefault("Bitmap", T::Data),
        NoDefault("BitmapLinkName", T::String),
        Ordinal("BitmapMasked", T::Boolean, 0),
        Ordinal("BitmapMaskColor", T::Integer, 0),
        Ordinal("BitmapCache", T::Boolean, 0),
        Ordinal("BitmapDisplay", T::Enum, bdTile, &BitmapDisplayNames()),
        Ordinal("GradStyle", T::Enum, gsHorizontal, &GradientStyleNames()),
        Ordinal("GradBeginColor", T::Integer, 0),
        Ordinal("GradEndColor", T::Integer, 0),
    };
    return table;
}

int64_t TBrushProp::GetOrdinal(int index) const {
    switch (index) {
    case kMethod: return FMethod;
    case kColor: return FColor;
    case kStyle: return FBrushStyle;
    case kBitmapMasked: return FBitmapMasked;
    case kBitmapMaskColor: return FBitmapMaskColor;
    case kBitmapCache: return FBitmapCache;
    case kBitmapDisplay: return FBitmapDisplay;
    case kGradStyle: return FGradStyle;
    case kGradBeginColor: return FGradBeginColor;
    case kGradEndColor: return FGradEndColor;
    default: return 0;
    }
}

void TBrushProp::StoreOrdinal(int index, int64_t value) {
    switch (index) {
    case kMethod: FMethod = static_cast<TBrushMethod>(value); break;
    case kColor: FColor = static_cast<TColor>(value); break;
    case kStyle: FBrushStyle = static_cast<TBrushStyle>(value); break;
    case kBitmapMasked: FBitmapMasked = value != 0; break;
    case kBitmapMaskColor: FBitmapMaskColor = static_cast<TColor>(value); break;
    case kBitmapCache: FBitmapCache = value != 0; break;
    case kBitmapDisplay: FBitmapDisplay = static_cast<TBitmapDisplay>(value); break;
    case kGradStyle: FGradStyle = static_cast<TGradientStyle>(value); break;
    case kGradBeginColor: FGradBeginColor = static_cast<TColor>(value); break;
    case kGradEndColor: FGradEndColor = static_cast<TColor>(value); break;
    default: break;
    }
}

std::string TBrushProp::GetString(int index) const {
    return index == kBitmapLinkName ? FBitmapLinkName : std::string();
}

void TBrushProp::StoreString(int index, const std::string& value) {
    if (index == kBitmapLinkName) FBitmapLinkName = value;
}

TVariant TBrushProp::GetData(int index) {
    if (index != kBitmap || !FBitmap) return TVariant();
    return TVariant::Bytes(FBitmap->SaveToBytes());
}

void TBrushProp::SetData(int index, const TVariant& value) {
    if (index != kBitmap) return;
    const std::vector<uint8_t>& bytes = value.ByteArray();
    // The text form writes an empty block for no bitmap, so empty bytes are no bitmap either.
    if (bytes.empty()) {
        SetBitmap(nullptr);
        return;
    }
    if (FBitmap && FBitmap->SaveToBytes() == bytes) return;
    auto bitmap = std::make_shared<TBitmap>();
    try {
        bitmap->LoadFromBytes(bytes);
    } catch (const Exception&) {
        SetBitmap(nullptr); // the old bitmap is gone either way
        throw;
    }
    if (IsReadOnly()) return;
    DoBeforeChanged();
    FBitmap = std::move(bitmap);
    DoChanged();
}

void TBrushProp::SetBitmap(const TBitmap* bitmap) {
    if ((!bitmap && !FBitmap) || IsReadOnly()) return;
    DoBeforeChanged();
    FBitmap = bitmap ? std::make_shared<TBitmap>(*bitmap) : nullptr;
    DoChanged();
}

void TBrushProp::DoChanged() {
    FTile.reset(); // a new bitmap or cache setting needs a new tile
    TCustomProp::DoChanged();
}

bool TBrushProp::IsPublishedStored(int index) {
    if (index == kBitmap) return FBitmap && FBitmapLinkName.empty();
    return true;
}

bool TBrushProp::IsClear() const {
    switch (FMethod) {
    case bmHatch: return FColor == clNone || FBrushStyle == bsClear;
    case bmBitmap: return !FBitmap || FBitmap->Empty();
    case bmGradient: return false;
    }
    return false;
}

void TBrushProp::Translate(int rotate, bool mirror) {
    if (FMethod != bmGradient) return;
    // Rounded half to even, as the rest of the engine rounds angles. A clockwise turn (negative
    // angle) is the counter-clockwise turn that ends in the same place.
    int q = static_cast<int>(std::nearbyint(static_cast<double>(rotate % 360) / 90.0));
    q = ((q % 4) + 4) % 4;
    TGradientStyle style = FGradStyle;
    TColor begin = FGradBeginColor, end = FGradEndColor;
    auto swapColors = [&] { std::swap(begin, end); };
    switch (FGradStyle) {
    case gsHorizontal:
        if (mirror) swapColors();
        if (q == 1) {
            style = gsVertical;
            swapColors();
        } else if (q == 2) {
            swapColors();
        } else if (q == 3) {
            style = gsVertical;
        }
        break;
    case gsVertical:
        if (q == 1) {
            style = gsHorizontal;
        } else if (q == 2) {
            swapColors();
        } else if (q == 3) {
            style = gsHorizontal;
            swapColors();
        }
        break;
    case gsTopLeft:
    case gsBottomLeft:
    case gsBottomRight:
    case gsTopRight: {
        static const TGradientStyle cycle[4] = {gsTopLeft, gsBottomLeft, gsBottomRight, gsTopRight};
        int i = 0;
        while (cycle[i] != FGradStyle)
            ++i;
        style = cycle[mirror ? (q + 3 - i + 4) % 4 : (q + i) % 4];
        break;
    }
    case gsSquare:
    case gsElliptic: break;
    }
    SetGradStyle(style);
    SetGradBeginColor(begin);
    SetGradEndColor(end);
}

// --- TLineCapProp ---

TLineCapProp::TLineCapProp(TPropList* list, const std::string& name, uint8_t style)
    : TCustomProp(list, name, pkComplex, style) {}

const std::vector<TSubPropInfo>& TLineCapProp::Published() const {
    using T = TSubPropType;
    static const std::vector<TSubPropInfo> table = {
        Ordinal("CapStyle", T::Integer, 0),         Ordinal("FixedSize", T::Boolean, 0),
        Ordinal("Size", T::Integer, 8000),          Ordinal("FixedOutlineColor", T::Boolean, 0),
        Ordinal("OutlineColor", T::Integer, 0),     Ordinal("FixedFillColor", T::Boolean, 0),
        Ordinal("FillColor", T::Integer, 0xFFFFFF),
    };
    return table;
}

int64_t TLineCapProp::GetOrdinal(int index) const {
    switch (index) {
    case kCapStyle: return FCapStyle;
    case kFixedSize: return FFixedSize;
    case kSize: return FSize;
    case kFixedOutlineColor: return FFixedOutlineColor;
    case kOutlineColor: return FOutlineColor;
    case kFixedFillColor: return FFixedFillColor;
    case kFillColor: return FFillColor;
    default: return 0;
    }
}

void TLineCapProp::StoreOrdinal(int index, int64_t value) {
    int32_t v = static_cast<int32_t>(value);
    switch (index) {
    case kCapStyle: FCapStyle = v; break;
    case kFixedSize: FFixedSize = v != 0; break;
    case kSize: FSize = v; break;
    case kFixedOutlineColor: FFixedOutlineColor = v != 0; break;
    case kOutlineColor: FOutlineColor = v; break;
    case kFixedFillColor: FFixedFillColor = v != 0; break;
    case kFillColor: FFillColor = v; break;
    default: break;
    }
}

// --- TPenProp ---

TPenProp::TPenProp(TPropList* list, const std::string& name, uint8_t style)
    : TCustomProp(list, name, pkComplex, style) {}

const std::vector<TSubPropInfo>& TPenProp::Published() const {
    using T = TSubPropType;
    static const std::vector<TSubPropInfo> table = {
        Ordinal("Color", T::Integer, 0),
        Ordinal("Style", T::Enum, psSolid, &PenStyleNames()),
        Ordinal("Mode", T::Enum, pmCopy, &PenModeNames()),
        Ordinal("Width", T::Integer, 1),
        Ordinal("EndCap", T::Enum, pecSquare, &PenEndCapNames()),
        Ordinal("Join", T::Enum, pjMiter, &PenJoinNames()),
        Ordinal("SolidAsInside", T::Boolean, 1),
    };
    return table;
}

int64_t TPenProp::GetOrdinal(int index) const {
    switch (index) {
    case kColor: return FColor;
    case kStyle: return FPenStyle;
    case kMode: return FMode;
    case kWidth: return FWidth;
    case kEndCap: return FEndCap;
    case kJoin: return FJoin;
    case kSolidAsInside: return FSolidAsInside;
    default: return 0;
    }
}

void TPenProp::StoreOrdinal(int index, int64_t value) {
    switch (index) {
    case kColor: FColor = static_cast<TColor>(value); break;
    case kStyle: FPenStyle = static_cast<TPenStyle>(value); break;
    case kMode: FMode = static_cast<TPenMode>(value); break;
    case kWidth: FWidth = static_cast<int32_t>(value); break;
    case kEndCap: FEndCap = static_cast<TPenEndCap>(value); break;
    case kJoin: FJoin = static_cast<TPenJoin>(value); break;
    case kSolidAsInside: FSolidAsInside = value != 0; break;
    default: break;
    }
}

TPenParams TPenProp::GetPenParams(int scale, bool styledWidePens) const {
    TPenParams params;
    params.EndCap = FEndCap;
    params.Join = FJoin;
    params.Color = FColor;
    if (FWidth <= 0) return params; // no pen
    int width = MulDiv(FWidth, scale, 100000);
    if (width < 1) width = 1;
    TPenStyle style = FPenStyle;
    if (FColor == clNone)
        style = psClear;
    else if (style == psSolid && width > 1 && FSolidAsInside)
        style = psInsideFrame;
    params.Style = style;
    params.Width = width;
    params.Geometric = width > 1 && styledWidePens &&
                       (style != psSolid || FEndCap != pecRound || FJoin != pjRound);
    // Without an extended pen the platform draws dashes and dots only one pixel wide. An
    // inside-frame pen is solid, so it keeps its width.
    if (!params.Geometric && style != psSolid && style != psInsideFrame && style != psClear)
        params.Width = 0;
    return params;
}

int32_t TPenProp::GetActualWidth() const {
    if (FWidth <= 0 || FPenStyle == psClear || FColor == clNone) return 0;
    if (MulDiv(FWidth, 100, 100000) == 0) return 1000;
    return FWidth;
}

void TPenProp::Setup(TCanvas& canvas, int scale) {
    TPenParams params = GetPenParams(scale, StyledWidePens());
    TPen pen;
    pen.Color = ColorToRGB(FColor);
    pen.Width = params.Width;
    pen.Style = params.Style;
    pen.Mode = FMode;
    pen.Geometric = params.Geometric;
    pen.EndCap = FEndCap;
    pen.Join = FJoin;
    canvas.SetPen(pen);
}

bool TPenProp::StyledWidePens() {
    static const bool styled = [] {
        TBitmap bitmap(10, 1);
        bitmap.Fill(0xFFFFFFFF);
        TCanvas& canvas = bitmap.Canvas();
        TPen pen;
        pen.Color = clBlack;
        pen.Width = 3;
        pen.Style = psDot;
        pen.Geometric = true;
        pen.EndCap = pecSquare;
        pen.Join = pjBevel;
        canvas.SetPen(pen);
        canvas.MoveTo(0, 0);
        canvas.LineTo(10, 0);
        canvas.Flush();
        const uint32_t* row = bitmap.ScanLine(0);
        for (int x = 1; x < 10; ++x)
            if (row[x] != row[0]) return true;
        return false;
    }();
    return styled;
}

// --- TFontProp ---

namespace {
TFontDialogHook& FontDialogHook() {
    static TFontDialogHook hook;
    return hook;
}
} // namespace

void SetFontDialogHook(TFontDialogHook hook) {
    FontDialogHook() = std::move(hook);
}

TFontProp::TFontProp(TPropList* list, const std::string& name, uint8_t style)
    : TCustomProp(list, name, pkComplex, style | propHasEditor) {}

const std::vector<TSubPropInfo>& TFontProp::Published() const {
    using T = TSubPropType;
    static const std::vector<TSubPropInfo> table = {
        NoDefault("PixelsPerInch", T::Integer),
        Ordinal("Charset", T::Integer, 1),
        Ordinal("Color", T::Integer, 0),
        NoDefault("Height", T::Integer),
        NoDefault("Name", T::String),
        Ordinal("Pitch", T::Enum, fpDefault, &FontPitchNames()),
        NoDefault("Size", T::Integer),
        Ordinal("Style", T::Set, 0, &FontStyleNames()),
    };
    return table;
}

int32_t TFontProp::Size() const {
    return -MulDiv(FHeight, 72, 96);
}

void TFontProp::SetSize(int32_t value) {
    ChangeOrdinal(kSize, value);
}

void TFontProp::AssignPlatformFont(const std::string& name, int sizeInPoints, uint8_t styles,
                                   TColor color, uint8_t charset, TFontPitch pitch) {
    SetFontName(name);
    SetHeight(static_cast<int32_t>(static_cast<int64_t>(sizeInPoints) * 96 * 1000 / -72));
    SetFontStyles(styles);
    SetColor(color);
    SetCharset(charset);
    SetPitch(pitch);
}

void TFontProp::AssignFont(const TFont& font) {
    int32_t pixels = font.Height == 0 ? kDefaultFontHeight : font.Height;
    int32_t points = -MulDiv(pixels, 72, 96);
    AssignPlatformFont(font.Name, points, font.Style(), font.Color, font.Charset, font.Pitch);
}

TFont TFontProp::GetFont(int scale) const {
    TFont font;
    font.Name = FFontName;
    font.Height = MulDiv(FHeight, scale, 100000);
    // Height 0 would ask for the platform's default size: a font zoomed far out would come out
    // larger than at 100 %.
    if (font.Height == 0 && FHeight != 0) font.Height = FHeight < 0 ? -1 : 1;
    font.SetStyle(FStyles);
    font.Charset = FCharset;
    font.Pitch = FPitch;
    font.Color = ColorToRGB(FColor);
    return font;
}

void TFontProp::Setup(TCanvas& canvas, int scale) {
    canvas.SetFont(GetFont(scale));
}

bool TFontProp::Edit() {
    if (TCustomProp::Edit()) return true;
    return FontDialogHook() && FontDialogHook()(*this);
}

int64_t TFontProp::GetOrdinal(int index) const {
    switch (index) {
    case kPixelsPerInch: return PixelsPerInch();
    case kCharset: return FCharset;
    case kColor: return FColor;
    case kHeight: return FHeight;
    case kPitch: return FPitch;
    case kSize: return Size();
    case kStyle: return FStyles;
    default: return 0;
    }
}

void TFontProp::StoreOrdinal(int index, int64_t value) {
    switch (index) {
    case kCharset: FCharset = static_cast<uint8_t>(value); break;
    case kColor: FColor = static_cast<TColor>(value); break;
    case kHeight: FHeight = static_cast<int32_t>(value); break;
    case kSize: FHeight = -MulDiv(static_cast<int32_t>(value), 96, 72); break;
    case kPitch: FPitch = static_cast<TFontPitch>(value); break;
    case kStyle: FStyles = static_cast<uint8_t>(value & 0x0F); break;
    default: break;
    }
}

std::string TFontProp::GetString(int index) const {
    return index == kName ? FFontName : std::string();
}

void TFontProp::StoreString(int index, const std::string& value) {
    if (index == kName) FFontName = value;
}

void TFontProp::SetPublished(int index, const TVariant& value) {
    if (index == kPixelsPerInch) return; // always 96
    TCustomProp::SetPublished(index, value);
}

bool TFontProp::IsPublishedStored(int index) {
    switch (index) {
    case kPixelsPerInch:
    case kHeight: return false;
    case kName: return FFontName != "Arial";
    default: return true;
    }
}

// --- TBackgroundOptionsProp ---

TBackgroundOptionsProp::TBackgroundOptionsProp(TPropList* list, const std::string& name,
                                               uint8_t style)
    : TCustomProp(list, name, pkComplex, style) {}

const std::vector<TSubPropInfo>& TBackgroundOptionsProp::Published() const {
    using T = TSubPropType;
    static const std::vector<TSubPropInfo> table = {
        Ordinal("PictureEnabled", T::Boolean, 1),
        Ordinal("BrushEnabled", T::Boolean, 1),
        Ordinal("PictureOptions", T::Set, DefaultOptions, &BackgroundOptionNames()),
        Ordinal("Top", T::Integer, 0),
        Ordinal("Left", T::Integer, 0),
        Ordinal("Width", T::Integer, 0),
        Ordinal("Height", T::Integer, 0),
    };
    return table;
}

int64_t TBackgroundOptionsProp::GetOrdinal(int index) const {
    switch (index) {
    case kPictureEnabled: return FPictureEnabled;
    case kBrushEnabled: return FBrushEnabled;
    case kPictureOptions: return FOptions;
    case kTop: return FTop;
    case kLeft: return FLeft;
    case kWidth: return FWidth;
    case kHeight: return FHeight;
    default: return 0;
    }
}

void TBackgroundOptionsProp::StoreOrdinal(int index, int64_t value) {
    int32_t v = static_cast<int32_t>(value);
    switch (index) {
    case kPictureEnabled: FPictureEnabled = v != 0; break;
    case kBrushEnabled: FBrushEnabled = v != 0; break;
    case kPictureOptions: FOptions = static_cast<uint16_t>(value & 0x7FF); break;
    case kTop: FTop = v; break;
    case kLeft: FLeft = v; break;
    case kWidth: FWidth = v; break;
    case kHeight: FHeight = v; break;
    default: break;
    }
}
