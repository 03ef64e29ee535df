#pragma once

#include <memory>

#include "Canvas.h"

class TBitmap;

// The raster canvas: paints into a TBitmap's pixels. Everything that decides which pixels a
// shape covers is ours and keeps the original surface's rules: the scan converter of TRegion
// for interiors and for the outlines of wide pens, a one-pixel line stepper for cosmetic pens,
// and span code that writes brushes, hatches and patterns through the sixteen raster modes
// with the top-byte convention. Qt supplies what a toolkit is for: QPainterPathStroker makes
// the outline of wide pens (caps, joins, dashes), QPainter draws the glyphs (straight into the
// bitmap when it is a pfDevice surface, else into a layer that is then written like a fill),
// and QRawFont with fontconfig provides faces and metrics (QtFonts.h). Widgets are painted
// through a bitmap (a back buffer), as the document panel paints anyway.
std::unique_ptr<TCanvas> CreateQtCanvas(TBitmap& bitmap);

// Installs the Qt back end for TBitmap::Canvas and the icon decoder; idempotent. Text needs a
// QGuiApplication: when none exists one is made on the platform QT_QPA_PLATFORM names
// (offscreen when unset), so tests and tools need no display.
void InstallQtCanvasBackend();
