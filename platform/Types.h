#pragma once

#include <algorithm>
#include <cstdint>

// Geometry value types of the drawing layer and the document engine. Coordinates are signed
// 32-bit integers; what they count (document units or device pixels) is the caller's contract.

struct TPoint {
    int32_t X = 0;
    int32_t Y = 0;

    constexpr TPoint() = default;
    constexpr TPoint(int32_t x, int32_t y)
        : X(x)
        , Y(y) {}

    constexpr void Offset(int32_t dx, int32_t dy) {
        X += dx;
        Y += dy;
    }
    [[nodiscard]] constexpr TPoint Offsetted(int32_t dx, int32_t dy) const {
        return {X + dx, Y + dy};
    }

    constexpr bool operator==(const TPoint&) const = default;
    constexpr TPoint operator+(const TPoint& o) const { return {X + o.X, Y + o.Y}; }
    constexpr TPoint operator-(const TPoint& o) const { return {X - o.X, Y - o.Y}; }
};

// Sub-pixel geometry: shapes are built in floating point before they are rasterized.
struct TPointF {
    double X = 0;
    double Y = 0;

    constexpr TPointF() = default;
    constexpr TPointF(double x, double y)
        : X(x)
        , Y(y) {}
    constexpr TPointF(const TPoint& p)
        : X(p.X)
        , Y(p.Y) {}

    constexpr void Offset(double dx, double dy) {
        X += dx;
        Y += dy;
    }
    [[nodiscard]] constexpr TPointF Offsetted(double dx, double dy) const {
        return {X + dx, Y + dy};
    }

    constexpr bool operator==(const TPointF&) const = default;
};

struct TSize {
    int32_t Width = 0;
    int32_t Height = 0;

    constexpr TSize() = default;
    constexpr TSize(int32_t width, int32_t height)
        : Width(width)
        , Height(height) {}
    constexpr bool operator==(const TSize&) const = default;
};

// A rectangle given by its edges. Right and Bottom lie one past the last pixel column and row
// when the rectangle is in pixels, so Width() is Right - Left and (Left, Top, Left, Top) is
// empty. A rectangle with Right < Left or Bottom < Top is empty too; Normalized() orders it.
struct TRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;

    constexpr TRect() = default;
    constexpr TRect(int32_t left, int32_t top, int32_t right, int32_t bottom)
        : Left(left)
        , Top(top)
        , Right(right)
        , Bottom(bottom) {}
    constexpr TRect(const TPoint& topLeft, const TPoint& bottomRight)
        : Left(topLeft.X)
        , Top(topLeft.Y)
        , Right(bottomRight.X)
        , Bottom(bottomRight.Y) {}

    constexpr int32_t Width() const { return Right - Left; }
    constexpr int32_t Height() const { return Bottom - Top; }
    constexpr TSize Size() const { return {Width(), Height()}; }
    constexpr TPoint TopLeft() const { return {Left, Top}; }
    constexpr TPoint BottomRight() const { return {Right, Bottom}; }
    constexpr bool IsEmpty() const { return Right <= Left || Bottom <= Top; }

    // Left and top edges inclusive, right and bottom exclusive.
    constexpr bool Contains(int32_t x, int32_t y) const {
        return x >= Left && x < Right && y >= Top && y < Bottom;
    }
    constexpr bool Contains(const TPoint& p) const { return Contains(p.X, p.Y); }
    constexpr bool Intersects(const TRect& o) const {
        return !IsEmpty() && !o.IsEmpty() && o.Left < Right && Left < o.Right && o.Top < Bottom &&
               Top < o.Bottom;
    }

    constexpr void Offset(int32_t dx, int32_t dy) {
        Left += dx;
        Right += dx;
        Top += dy;
        Bottom += dy;
    }
    [[nodiscard]] constexpr TRect Offsetted(int32_t dx, int32_t dy) const {
        return {Left + dx, Top + dy, Right + dx, Bottom + dy};
    }
    // Grows every side outwards by dx and dy (shrinks for negative values).
    constexpr void Inflate(int32_t dx, int32_t dy) {
        Left -= dx;
        Right += dx;
        Top -= dy;
        Bottom += dy;
    }
    [[nodiscard]] constexpr TRect Inflated(int32_t dx, int32_t dy) const {
        return {Left - dx, Top - dy, Right + dx, Bottom + dy};
    }
    [[nodiscard]] constexpr TRect Normalized() const {
        return {std::min(Left, Right), std::min(Top, Bottom), std::max(Left, Right),
                std::max(Top, Bottom)};
    }

    // The common part, or the all-zero rectangle when there is none.
    [[nodiscard]] constexpr TRect Intersected(const TRect& o) const {
        TRect r{std::max(Left, o.Left), std::max(Top, o.Top), std::min(Right, o.Right),
                std::min(Bottom, o.Bottom)};
        return r.IsEmpty() ? TRect() : r;
    }
    // The smallest rectangle holding both; an empty operand does not count.
    [[nodiscard]] constexpr TRect United(const TRect& o) const {
        if (o.IsEmpty()) return IsEmpty() ? TRect() : *this;
        if (IsEmpty()) return o;
        return {std::min(Left, o.Left), std::min(Top, o.Top), std::max(Right, o.Right),
                std::max(Bottom, o.Bottom)};
    }

    constexpr bool operator==(const TRect&) const = default;
};

// a * b / c in 64 bits, rounded to the nearest integer with halves away from zero. A zero
// divisor or a result outside 32 bits gives -1, which callers of the drawing layer rely on to
// recognise a failed scale.
constexpr int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
    if (c == 0) return -1;
    int64_t num = int64_t(a) * b;
    bool negative = (num < 0) != (c < 0);
    uint64_t n = num < 0 ? uint64_t(-num) : uint64_t(num);
    uint64_t d = c < 0 ? uint64_t(-int64_t(c)) : uint64_t(c);
    uint64_t q = (n + d / 2) / d;
    if (q > (negative ? uint64_t(INT32_MAX) + 1 : uint64_t(INT32_MAX))) return -1;
    return negative ? int32_t(-int64_t(q)) : int32_t(q);
}
