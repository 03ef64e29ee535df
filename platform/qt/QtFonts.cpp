#include "QtFonts.h"

#include <QFont>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <fontconfig/fontconfig.h>
#include <map>
#include <memory>
#include <tuple>
#include <unordered_map>

#include "SysUtils.h"

namespace QtFonts {

namespace {

constexpr const char* kFallbackFamily = "DejaVu Sans";
// Drawing fonts are kept per pixel size; zooming makes many sizes, so the cache is bounded.
constexpr size_t kMaxDrawingFonts = 256;
constexpr int32_t kMaxDrawingEm = 8192;
constexpr int32_t kMaxEm = 65536;

struct TMetricAlias {
    const char* Face;
    const char* Family;
};
const TMetricAlias kMetricAliases[] = {
    {"arial", "Liberation Sans"},
    {"arial narrow", "Liberation Sans Narrow"},
    {"times new roman", "Liberation Serif"},
    {"times", "Liberation Serif"},
    {"courier new", "Liberation Mono"},
    {"courier", "Liberation Mono"},
    {"calibri", "Carlito"},
};

// The installed family fontconfig finds for `family`, when it is that family itself.
std::string InstalledFamily(const std::string& family) {
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    std::string found;
    if (match) {
        FcChar8* name = nullptr;
        for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch; ++i)
            if (SameText(reinterpret_cast<const char*>(name), family)) {
                found = reinterpret_cast<const char*>(name);
                break;
            }
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    return found;
}

std::string DefaultSans() {
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    std::string found = "Sans";
    FcChar8* name = nullptr;
    if (match && FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch)
        found = reinterpret_cast<const char*>(name);
    if (match) FcPatternDestroy(match);
    FcPatternDestroy(pattern);
    return found;
}

int32_t Be16(const QByteArray& table, int at, int32_t fallback, bool isSigned) {
    if (at + 2 > table.size()) return fallback;
    int32_t v = uint8_t(table[at]) << 8 | uint8_t(table[at + 1]);
    return isSigned ? int16_t(v) : v;
}
int32_t S16(const QByteArray& t, int at, int32_t fallback = 0) {
    return Be16(t, at, fallback, true);
}
int32_t U16(const QByteArray& t, int at, int32_t fallback = 0) {
    return Be16(t, at, fallback, false);
}

int32_t Round(double v) {
    return int32_t(std::lround(v));
}

struct TGlyph {
    quint32 Index = 0;
    int32_t Advance = 0; // design units
    int32_t A = 0;
    int32_t B = 0;
};

// A face at its design size: its tables and the design metrics of every character asked for.
struct TDesign {
    QRawFont Raw;
    int32_t Em = 2048;
    int32_t WinAscent = 0, WinDescent = 0;
    int32_t HheaAscent = 0, HheaDescent = 0, HheaLineGap = 0, MaxAdvance = 0;
    int32_t TypoAscent = 0, TypoDescent = 0, TypoLineGap = 0;
    int32_t AvgCharWidth = 0;
    int32_t UnderlinePosition = 0, UnderlineThickness = 0;
    int32_t StrikeoutPosition = 0, StrikeoutSize = 0;
    int32_t XMin = 0, YMin = 0, XMax = 0, YMax = 0;
    bool FixedPitch = false;
    std::unordered_map<char32_t, TGlyph> Glyphs;

    const TGlyph& Glyph(char32_t ch) {
        auto it = Glyphs.find(ch);
        if (it != Glyphs.end()) return it->second;
        TGlyph g;
        QString s = QString::fromUcs4(&ch, 1);
        quint32 indexes[2] = {0, 0};
        int count = 2;
        if (Raw.glyphIndexesForChars(s.constData(), int(s.size()), indexes, &count) && count > 0)
            g.Index = indexes[0];
        QPointF advance;
        if (Raw.advancesForGlyphIndexes(&g.Index, &advance, 1, QRawFont::UseDesignMetrics))
            g.Advance = Round(advance.x());
        QRectF box = Raw.pathForGlyph(g.Index).boundingRect();
        if (box.width() > 0) {
            g.A = Round(box.left());
            g.B = std::max(1, Round(box.right()) - g.A);
        }
        return Glyphs.emplace(ch, g).first->second;
    }
};

QFont MakeFont(const std::string& family, int32_t weight, bool italic, int32_t pixels) {
    QFont f(QString::fromStdString(family));
    f.setPixelSize(std::max(1, pixels));
    f.setWeight(QFont::Weight(std::clamp(weight == 0 ? kFontWeightNormal : weight, 100, 900)));
    f.setItalic(italic);
    f.setKerning(false);
    f.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::NoFontMerging));
    return f;
}

using TFaceKey = std::tuple<std::string, int32_t, bool>;

TFaceKey FaceKey(const TFont& font) {
    // Fonts come in regular and bold; weights in between pick the nearer of the two.
    return {MapFontFamily(font.Name), font.Weight >= 600 ? kFontWeightBold : kFontWeightNormal,
            font.Italic};
}

TDesign& Design(const TFont& font) {
    static std::map<TFaceKey, std::unique_ptr<TDesign>> designs;
    TFaceKey key = FaceKey(font);
    auto it = designs.find(key);
    if (it != designs.end()) return *it->second;
    auto d = std::make_unique<TDesign>();
    const auto& [family, weight, italic] = key;
    QRawFont probe = QRawFont::fromFont(MakeFont(family, weight, italic, 100));
    if (!probe.isValid())
        probe = QRawFont::fromFont(MakeFont(kFallbackFamily, weight, italic, 100));
    d->Em = probe.isValid() ? std::max(16, int32_t(probe.unitsPerEm())) : 2048;
    d->Raw = QRawFont::fromFont(MakeFont(
        probe.isValid() ? probe.familyName().toStdString() : family, weight, italic, d->Em));
    QByteArray head = d->Raw.fontTable("head"), hhea = d->Raw.fontTable("hhea"),
               os2 = d->Raw.fontTable("OS/2"), post = d->Raw.fontTable("post");
    d->XMin = S16(head, 36);
    d->YMin = S16(head, 38);
    d->XMax = S16(head, 40);
    d->YMax = S16(head, 42);
    d->HheaAscent = S16(hhea, 4, d->Em * 9 / 10);
    d->HheaDescent = S16(hhea, 6, -d->Em / 5);
    d->HheaLineGap = S16(hhea, 8);
    d->MaxAdvance = U16(hhea, 10, d->Em);
    d->AvgCharWidth = S16(os2, 2, d->Em / 2);
    d->StrikeoutSize = S16(os2, 26, d->Em / 20);
    d->StrikeoutPosition = S16(os2, 28, d->Em / 4);
    d->TypoAscent = S16(os2, 68, d->HheaAscent);
    d->TypoDescent = S16(os2, 70, d->HheaDescent);
    d->TypoLineGap = S16(os2, 72, d->HheaLineGap);
    d->WinAscent = U16(os2, 74, d->HheaAscent);
    d->WinDescent = U16(os2, 76, -d->HheaDescent);
    d->UnderlinePosition = S16(post, 8, -d->Em / 10);
    d->UnderlineThickness = S16(post, 10, d->Em / 20);
    d->FixedPitch = post.size() >= 16 && (uint8_t(post[12]) | uint8_t(post[13]) |
                                          uint8_t(post[14]) | uint8_t(post[15])) != 0;
    if (d->WinAscent + d->WinDescent <= 0) {
        d->WinAscent = d->Em * 9 / 10;
        d->WinDescent = d->Em / 5;
    }
    return *designs.emplace(key, std::move(d)).first->second;
}

int32_t ScaledBy(int32_t design, int32_t em, int32_t unitsPerEm) {
    return Round(double(design) * em / unitsPerEm);
}

} // namespace

std::string MapFontFamily(std::string_view face) {
    static std::unordered_map<std::string, std::string> mapped;
    std::string key = LowerCase(Trim(face));
    auto it = mapped.find(key);
    if (it != mapped.end()) return it->second;
    std::string family;
    for (const auto& alias : kMetricAliases)
        if (key == alias.Face) family = InstalledFamily(alias.Family);
    if (family.empty() && !key.empty()) family = InstalledFamily(Trim(face));
    if (family.empty()) family = InstalledFamily(kFallbackFamily);
    if (family.empty()) family = DefaultSans();
    return mapped.emplace(key, family).first->second;
}

int32_t EmPixels(const TFont& font) {
    int32_t h = font.Height == 0 ? kDefaultFontHeight : font.Height;
    if (h < 0) return std::min(kMaxEm, h == INT32_MIN ? kMaxEm : -h);
    TDesign& d = Design(font);
    return std::clamp(MulDiv(h, d.Em, d.WinAscent + d.WinDescent), 1, kMaxEm);
}

TTextMetric Metrics(const TFont& font) {
    TDesign& d = Design(font);
    int32_t em = EmPixels(font);
    auto s = [&](int32_t v) { return ScaledBy(v, em, d.Em); };
    TTextMetric tm;
    tm.Ascent = s(d.WinAscent);
    tm.Descent = s(d.WinDescent);
    tm.Height = tm.Ascent + tm.Descent;
    tm.InternalLeading = tm.Height - em;
    int32_t cell = d.WinAscent + d.WinDescent;
    tm.ExternalLeading = s(std::max(0, d.HheaLineGap - (cell - (d.HheaAscent - d.HheaDescent))));
    tm.AveCharWidth = s(d.AvgCharWidth);
    tm.MaxCharWidth = s(d.MaxAdvance);
    tm.Weight = font.Weight == 0 ? kFontWeightNormal : font.Weight;
    tm.Italic = font.Italic;
    tm.Underlined = font.Underline;
    tm.StruckOut = font.StrikeOut;
    tm.FixedPitch = d.FixedPitch;
    tm.Outline = true;
    tm.Charset = font.Charset;
    return tm;
}

bool OutlineMetrics(const TFont& font, TOutlineTextMetric& metrics) {
    TDesign& d = Design(font);
    int32_t em = EmPixels(font);
    auto s = [&](int32_t v) { return ScaledBy(v, em, d.Em); };
    metrics = TOutlineTextMetric();
    metrics.TextMetric = Metrics(font);
    metrics.EmSquare = uint32_t(d.Em);
    metrics.Ascent = s(d.TypoAscent);
    metrics.Descent = s(d.TypoDescent);
    metrics.LineGap = s(d.TypoLineGap);
    metrics.FontBox = {s(d.XMin), s(d.YMax), s(d.XMax), s(d.YMin)};
    metrics.UnderscoreSize = std::max(1, s(d.UnderlineThickness));
    metrics.UnderscorePosition = s(d.UnderlinePosition);
    metrics.StrikeoutSize = std::max(1, s(d.StrikeoutSize));
    metrics.StrikeoutPosition = s(d.StrikeoutPosition);
    return true;
}

void Advances(const TFont& font, std::u32string_view chars, int32_t* advances) {
    TDesign& d = Design(font);
    int32_t em = EmPixels(font);
    for (size_t i = 0; i < chars.size(); ++i)
        advances[i] = ScaledBy(d.Glyph(chars[i]).Advance, em, d.Em);
}

TABC ABC(const TFont& font, char32_t ch) {
    TDesign& d = Design(font);
    int32_t em = EmPixels(font);
    const TGlyph& g = d.Glyph(ch);
    TABC abc;
    abc.A = ScaledBy(g.A, em, d.Em);
    abc.B = g.B > 0 ? std::max(1, ScaledBy(g.B, em, d.Em)) : 0;
    abc.C = ScaledBy(g.Advance, em, d.Em) - abc.A - abc.B;
    return abc;
}

QRawFont DrawingFont(const TFont& font) {
    static std::map<std::tuple<std::string, int32_t, bool, int32_t>, QRawFont> fonts;
    TDesign& d = Design(font);
    auto [family, weight, italic] = FaceKey(font);
    int32_t em = std::min(EmPixels(font), kMaxDrawingEm);
    auto key = std::make_tuple(d.Raw.familyName().toStdString(), weight, italic, em);
    auto it = fonts.find(key);
    if (it != fonts.end()) return it->second;
    if (fonts.size() >= kMaxDrawingFonts) fonts.clear();
    QRawFont raw = QRawFont::fromFont(MakeFont(std::get<0>(key), weight, italic, em));
    return fonts.emplace(key, raw).first->second;
}

void Glyphs(const TFont& font, std::u32string_view chars, std::vector<quint32>& glyphs) {
    TDesign& d = Design(font);
    glyphs.resize(chars.size());
    for (size_t i = 0; i < chars.size(); ++i)
        glyphs[i] = d.Glyph(chars[i]).Index;
}

} // namespace QtFonts
