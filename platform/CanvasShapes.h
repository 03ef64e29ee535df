#pragma once

#include <vector>

#include "Region.h"
#include "Types.h"

// Outlines of the canvas shapes, shared by the canvas (drawing and path recording) and by the
// region constructors, so that a region and the shape drawn over the same rectangle agree.
//
// All coordinates are device pixels where (x, y) is the centre of pixel (x, y). A shape "over
// l, t, r, b" runs through the pixel centres l..r and t..b; the canvas passes r - 1 and b - 1
// for its exclusive rectangles.
namespace CanvasShapes {

// Flatness of every curve the canvas flattens, in pixels.
constexpr double kFlatness = 0.05;

TPolyFigure RectangleFigure(double left, double top, double right, double bottom);

// The ellipse inscribed in the box. The radii are a hair shorter than half the box, so that a
// pixel centre never sits exactly on the outline at the four extreme points: the rasterizer's
// top-left rule would otherwise make the shape lopsided.
TPolyFigure EllipseFigure(double left, double top, double right, double bottom);

// A rectangle whose corners are quarter ellipses with radii rx and ry (clamped to half the box).
TPolyFigure RoundRectFigure(double left, double top, double right, double bottom, double rx,
                            double ry);

// The elliptic arc inscribed in the box from the ray through start to the ray through end, both
// rays leaving the box centre, counter-clockwise on screen. Equal rays give the full ellipse.
// The points run from the arc's start to its end.
std::vector<TPointF> ArcPoints(double left, double top, double right, double bottom, TPointF start,
                               TPointF end);

// The same arc as cubic Bezier pieces of at most a quarter turn: the start point followed by
// three points per piece.
std::vector<TPointF> ArcBeziers(double left, double top, double right, double bottom, TPointF start,
                                TPointF end);

// Appends the flattened curve p0..p3 without p0 (its end point included).
void FlattenBezier(TPointF p0, TPointF p1, TPointF p2, TPointF p3, std::vector<TPointF>& out);

} // namespace CanvasShapes
