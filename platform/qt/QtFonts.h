#pragma once

#include <QRawFont>
#include <string>
#include <string_view>
#include <vector>

#include "Canvas.h"

// Fonts of the Qt canvas. Documents name Windows faces; they are drawn with installed
// families found through fontconfig, metric-compatible where one exists, so that text measured
// here lays out as it did on the original platform:
//   Arial -> Liberation Sans, Arial Narrow -> Liberation Sans Narrow,
//   Times New Roman / Times -> Liberation Serif, Courier New / Courier -> Liberation Mono,
//   Calibri -> Carlito;
// any other face is used when it is installed, else DejaVu Sans, else fontconfig's sans-serif
// face. A face is never mapped to nothing.
//
// Metrics follow the original surface's rules, read from the font's own tables: the cell is
// the Windows ascent plus descent of the OS/2 table, the external leading what the horizontal
// header's line gap adds to it, and advances and ABC widths are the design values scaled to
// the pixel em and rounded per character. Every mapped face is an outline font.
namespace QtFonts {

std::string MapFontFamily(std::string_view face);

// The em of the font in pixels (its height rule: negative = em, positive = cell, 0 = default).
int32_t EmPixels(const TFont& font);

TTextMetric Metrics(const TFont& font);
bool OutlineMetrics(const TFont& font, TOutlineTextMetric& metrics);
void Advances(const TFont& font, std::u32string_view chars, int32_t* advances);
TABC ABC(const TFont& font, char32_t ch);

// The face at the font's pixel em, rendering without anti-aliasing, and the glyph of each
// character.
QRawFont DrawingFont(const TFont& font);
void Glyphs(const TFont& font, std::u32string_view chars, std::vector<quint32>& glyphs);

} // namespace QtFonts
