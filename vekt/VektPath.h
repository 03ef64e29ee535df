#pragma once

// The path model as controls with points see it: parallel arrays of points and point types, a
// per-point selection, and the point-editing functions. The geometry over these arrays (bounds,
// hit testing, flattening, editing) builds on the same types.

#include <cstdint>
#include <vector>

#include "Types.h"

enum TPointType : uint8_t {
    ptNode = 0,
    ptEndNode = 1,
    ptEndNodeClose = 2,
    ptControl = 3,
};

using TPointArray = std::vector<TPoint>;
using TPointTypeArray = std::vector<TPointType>;
// One flag byte per point of the parallel point array.
using TSelectedArray = std::vector<uint8_t>;

enum TPathEditFunc : uint8_t {
    pfOffset = 0,
    pfJoin = 1,
    pfBreak = 2,
    pfClose = 3,
    pfToLine = 4,
    pfToCurve = 5,
};
// A set of TPathEditFunc: bit n stands for code n.
using TPathEditFuncs = uint8_t;

struct TPathEditOffset {
    TPoint Delta;
    bool MoveControls = false;
};

// Defined with the path geometry and the shapes that use them.
struct TPathInfo;
struct TNearestPoint;
struct TCreationInfo;
struct TEditPointsInfo;
