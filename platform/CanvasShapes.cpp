#include "CanvasShapes.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace CanvasShapes {

namespace {

constexpr double kPi = std::numbers::pi;
// Keeps the four extreme points of an ellipse off the pixel centres they would touch exactly.
constexpr double kRadiusTrim = 1e-6;

// Segments per full turn so that no chord strays more than kFlatness from a circle of radius r;
// a multiple of four keeps the outline symmetric about both axes.
int SegmentsPerTurn(double radius) {
    if (!(radius > kFlatness)) return 8;
    double step = 2 * std::acos(1 - kFlatness / radius);
    int quarter = int(std::ceil((kPi / 2) / step));
    return std::clamp(quarter * 4, 8, 4096);
}

struct TEllipse {
    double Cx, Cy, Rx, Ry;
    TPointF At(double t) const { return {Cx + Rx * std::cos(t), Cy - Ry * std::sin(t)}; }
};

TEllipse BoxEllipse(double left, double top, double right, double bottom) {
    if (right < left) std::swap(left, right);
    if (bottom < top) std::swap(top, bottom);
    return {(left + right) / 2, (top + bottom) / 2, std::max(0.0, (right - left) / 2 - kRadiusTrim),
            std::max(0.0, (bottom - top) / 2 - kRadiusTrim)};
}

// The parameter of the ellipse point on the ray from the centre through p (screen y down).
double RayParameter(const TEllipse& e, TPointF p) {
    double dx = p.X - e.Cx;
    double dy = e.Cy - p.Y;
    if (dx == 0 && dy == 0) return 0;
    double angle = std::atan2(dy, dx);
    if (e.Rx == 0 || e.Ry == 0) return angle;
    return std::atan2(e.Rx * std::sin(angle), e.Ry * std::cos(angle));
}

void ArcRange(const TEllipse& e, TPointF start, TPointF end, double& t0, double& sweep) {
    t0 = RayParameter(e, start);
    double t1 = RayParameter(e, end);
    sweep = t1 - t0;
    while (sweep <= 1e-12)
        sweep += 2 * kPi;
    if (sweep > 2 * kPi) sweep = 2 * kPi;
}

double Distance(TPointF a, TPointF b) {
    return std::hypot(b.X - a.X, b.Y - a.Y);
}

// Distance of p from the line through a and b (from a when they coincide).
double LineDistance(TPointF p, TPointF a, TPointF b) {
    double len = Distance(a, b);
    if (len < 1e-12) return Distance(p, a);
    return std::abs((b.X - a.X) * (a.Y - p.Y) - (a.X - p.X) * (b.Y - a.Y)) / len;
}

void Flatten(TPointF p0, TPointF p1, TPointF p2, TPointF p3, std::vector<TPointF>& out, int depth) {
    if (depth >= 16 || std::max(LineDistance(p1, p0, p3), LineDistance(p2, p0, p3)) <= kFlatness) {
        out.push_back(p3);
        return;
    }
    TPointF a{(p0.X + p1.X) / 2, (p0.Y + p1.Y) / 2};
    TPointF b{(p1.X + p2.X) / 2, (p1.Y + p2.Y) / 2};
    TPointF c{(p2.X + p3.X) / 2, (p2.Y + p3.Y) / 2};
    TPointF ab{(a.X + b.X) / 2, (a.Y + b.Y) / 2};
    TPointF bc{(b.X + c.X) / 2, (b.Y + c.Y) / 2};
    TPointF m{(ab.X + bc.X) / 2, (ab.Y + bc.Y) / 2};
    Flatten(p0, a, ab, m, out, depth + 1);
    Flatten(m, bc, c, p3, out, depth + 1);
}

} // namespace

TPolyFigure RectangleFigure(double left, double top, double right, double bottom) {
    return {{{left, top}, {right, top}, {right, bottom}, {left, bottom}}, true};
}

TPolyFigure EllipseFigure(double left, double top, double right, double bottom) {
    TEllipse e = BoxEllipse(left, top, right, bottom);
    int n = SegmentsPerTurn(std::max(e.Rx, e.Ry));
    TPolyFigure figure;
    figure.Closed = true;
    figure.Points.reserve(n);
    for (int i = 0; i < n; ++i)
        figure.Points.push_back(e.At(2 * kPi * i / n));
    return figure;
}

TPolyFigure RoundRectFigure(double left, double top, double right, double bottom, double rx,
                            double ry) {
    if (right < left) std::swap(left, right);
    if (bottom < top) std::swap(top, bottom);
    rx = std::min(rx, (right - left) / 2);
    ry = std::min(ry, (bottom - top) / 2);
    if (!(rx > 0) || !(ry > 0)) return RectangleFigure(left, top, right, bottom);
    rx = std::max(0.0, rx - kRadiusTrim);
    ry = std::max(0.0, ry - kRadiusTrim);
    int quarter = SegmentsPerTurn(std::max(rx, ry)) / 4;
    // Corner centres counter-clockwise from the top right, each with its quarter turn.
    const TPointF centres[4] = {{right - rx, top + ry},
                                {left + rx, top + ry},
                                {left + rx, bottom - ry},
                                {right - rx, bottom - ry}};
    TPolyFigure figure;
    figure.Closed = true;
    for (int c = 0; c < 4; ++c) {
        for (int i = 0; i <= quarter; ++i) {
            double t = kPi / 2 * (c + double(i) / quarter);
            figure.Points.push_back(
                {centres[c].X + rx * std::cos(t), centres[c].Y - ry * std::sin(t)});
        }
    }
    return figure;
}

std::vector<TPointF> ArcPoints(double left, double top, double right, double bottom, TPointF start,
                               TPointF end) {
    TEllipse e = BoxEllipse(left, top, right, bottom);
    double t0, sweep;
    ArcRange(e, start, end, t0, sweep);
    int n = std::max(1, int(std::ceil(SegmentsPerTurn(std::max(e.Rx, e.Ry)) * sweep / (2 * kPi))));
    std::vector<TPointF> points;
    points.reserve(n + 1);
    for (int i = 0; i <= n; ++i)
        points.push_back(e.At(t0 + sweep * i / n));
    return points;
}

std::vector<TPointF> ArcBeziers(double left, double top, double right, double bottom, TPointF start,
                                TPointF end) {
    TEllipse e = BoxEllipse(left, top, right, bottom);
    double t0, sweep;
    ArcRange(e, start, end, t0, sweep);
    int pieces = std::max(1, int(std::ceil(sweep / (kPi / 2) - 1e-9)));
    double step = sweep / pieces;
    double k = 4.0 / 3.0 * std::tan(step / 4);
    auto tangent = [&](double t) { return TPointF(-e.Rx * std::sin(t), -e.Ry * std::cos(t)); };
    std::vector<TPointF> points{e.At(t0)};
    for (int i = 0; i < pieces; ++i) {
        double a = t0 + step * i;
        double b = a + step;
        TPointF p0 = e.At(a), p3 = e.At(b), d0 = tangent(a), d1 = tangent(b);
        points.push_back({p0.X + k * d0.X, p0.Y + k * d0.Y});
        points.push_back({p3.X - k * d1.X, p3.Y - k * d1.Y});
        points.push_back(p3);
    }
    return points;
}

void FlattenBezier(TPointF p0, TPointF p1, TPointF p2, TPointF p3, std::vector<TPointF>& out) {
    Flatten(p0, p1, p2, p3, out, 0);
}

} // namespace CanvasShapes
