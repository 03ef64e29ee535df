// TVektControl geometry: rectangles in document units and client pixels, hit testing,
// translation (rotation and mirror) and the point operations that shapes with points replace.
#include <algorithm>
#include <cmath>
#include <limits>

#include "VektBase.h"

namespace {

int32_t Clamp32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

int32_t Round32(double value) {
    if (!(value > -2147483648.0)) return std::numeric_limits<int32_t>::min();
    if (!(value < 2147483647.0)) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(std::lround(value));
}

} // namespace

// --- Rectangles ---

TRect TVektControl::DocRect() const {
    int64_t left = Left(), top = Top();
    for (const TVektControl* p = FParent; p; p = p->FParent) {
        left += p->Left();
        top += p->Top();
    }
    return TRect(Clamp32(left), Clamp32(top), Clamp32(left + Width()), Clamp32(top + Height()));
}

TRect TVektControl::PaintRect() const {
    TRect doc = DocRect();
    if (FPanel) return FPanel->DocToClient(doc);
    return TRect(MulDiv(doc.Left, 100, 100000), MulDiv(doc.Top, 100, 100000),
                 MulDiv(doc.Right, 100, 100000), MulDiv(doc.Bottom, 100, 100000));
}

TPoint TVektControl::ClientToOwner(const TPoint& point) const {
    TRect doc = DocRect();
    TPoint absolute(Clamp32(int64_t(point.X) + doc.Left), Clamp32(int64_t(point.Y) + doc.Top));
    return FPanel ? FPanel->DocToClient(absolute) : absolute;
}

TPoint TVektControl::OwnerToClient(const TPoint& point) const {
    TPoint absolute = FPanel ? FPanel->ClientToDoc(point) : point;
    TRect doc = DocRect();
    return TPoint(Clamp32(int64_t(absolute.X) - doc.Left), Clamp32(int64_t(absolute.Y) - doc.Top));
}

void TVektControl::SetDocRect(const TRect& rect) {
    int64_t left = rect.Left, top = rect.Top;
    for (const TVektControl* p = FParent; p; p = p->FParent) {
        left -= p->Left();
        top -= p->Top();
    }
    BeginUpdate();
    try {
        SetLeft(Clamp32(left));
        SetTop(Clamp32(top));
        SetWidth(Clamp32(int64_t(rect.Right) - rect.Left));
        SetHeight(Clamp32(int64_t(rect.Bottom) - rect.Top));
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

TRect TVektControl::GetRefreshRect(int32_t refreshX, int32_t refreshY) {
    return TRect(refreshX, refreshY, Clamp32(int64_t(refreshX) + Width()),
                 Clamp32(int64_t(refreshY) + Height()));
}

// --- Hit testing ---

bool TVektControl::IsPointInside(int32_t x, int32_t y) {
    return PaintRect().Contains(x, y);
}

TVektControl* TVektControl::FindControlAtPoint(int32_t x, int32_t y) {
    for (int i = Count(); i-- > 0;) {
        TVektControl* child = Controls(i);
        if (child->Visible() && child->IsSelectable() && child->IsPointInside(x, y)) return child;
    }
    return nullptr;
}

bool TVektControl::IsSelectable() {
    if (!Selectable()) return false;
    if (FLayer && (!FLayer->Visible() || !FLayer->Selectable())) return false;
    for (const TVektControl* p = FParent; p; p = p->FParent)
        if (!p->Selectable()) return false;
    return true;
}

// --- Translation ---

TPoint TranslatePoint(const TPoint& point, const TTranslateInfo& info) {
    double x = double(point.X) - info.Center.X;
    double y = double(point.Y) - info.Center.Y;
    if (info.Mirror) x = -x;
    // Quarter turns are exact, so that rotating four times gives the start back.
    double c, s;
    int rotate = info.Rotate % 360;
    if (rotate < 0) rotate += 360;
    switch (rotate) {
    case 0: c = 1, s = 0; break;
    case 90: c = 0, s = -1; break;
    case 180: c = -1, s = 0; break;
    case 270: c = 0, s = 1; break;
    default: {
        double t = -double(info.Rotate) * M_PI / 180.0;
        c = std::cos(t);
        s = std::sin(t);
    }
    }
    return TPoint(Round32(x * c - y * s + info.Center.X), Round32(x * s + y * c + info.Center.Y));
}

void TVektControl::Translate(const TTranslateInfo& info) {
    Invalidate();
    for (int i = 0; i < Count(); ++i)
        Controls(i)->Translate(info);
    ControlTranslate(info);
}

void TVektControl::ControlTranslate(const TTranslateInfo& info) {
    BeginTranslate();
    try {
        TRect rect = DocRect();
        TPoint a = TranslatePoint(rect.TopLeft(), info);
        TPoint b = TranslatePoint(rect.BottomRight(), info);
        SetDocRect(TRect(a, b).Normalized());
        if (!(FPanel && FPanel->History().GetProcessingControl() == this))
            TranslateLinkPoints(info);
    } catch (...) {
        EndTranslate();
        throw;
    }
    EndTranslate();
}

void TVektControl::TranslateLinkPoints(const TTranslateInfo& info) {
    if (!FLinkPoints.empty()) {
        BeginUpdate();
        for (int i = 0; i < LinkPointsCount(); ++i)
            SetLinkPoints(i, TranslatePoint(LinkPoints(i), info));
        EndUpdate();
    }
    FLinkRefRect = DocRect();
}

// --- Painting ---

void TVektControl::Paint(TCanvas&, const TRect&) {}

void TVektControl::PaintAll(TCanvas& canvas, int32_t paintX, int32_t paintY) {
    if (!Visible() || (FLayer && !FLayer->Visible())) return;
    if (!FNoOwnPaint) {
        TRect doc(paintX, paintY, Clamp32(int64_t(paintX) + Width()),
                  Clamp32(int64_t(paintY) + Height()));
        Paint(canvas, FPanel ? FPanel->DocToClient(doc) : doc);
    }
    for (int i = 0; i < Count(); ++i) {
        TVektControl* child = Controls(i);
        child->PaintAll(canvas, Clamp32(int64_t(paintX) + child->Left()),
                        Clamp32(int64_t(paintY) + child->Top()));
    }
}

// --- Points: the base has none ---

bool TVektControl::GetCreationInfo(TCreationInfo&) {
    return false;
}

bool TVektControl::GetEditPointsAt(const TPoint&, TEditPointsInfo&) {
    return false;
}

bool TVektControl::MoveEditPoint(int, TPoint& delta, bool, bool, const TSelectedArray*) {
    delta = TPoint();
    return false;
}

bool TVektControl::MoveCurveSegment(int, int, double, TPoint& delta) {
    delta = TPoint();
    return false;
}

bool TVektControl::GetAnchorPoint(TPoint& point) {
    point = PaintRect().TopLeft();
    return false;
}

void TVektControl::GetLinkProps(TLinkProp*& linkA, TLinkProp*& linkB) {
    linkA = nullptr;
    linkB = nullptr;
}

bool TVektControl::GetDefaultLinkPoint(int, TPoint& point) {
    point = TPoint();
    return false;
}

TPoint TVektControl::GetPoint(int) {
    return TPoint();
}

void TVektControl::SetPoint(int, const TPoint&) {}

TPointType TVektControl::GetPointType(int index) {
    if (index == GetPointCount() - 1) return GetIsPointsClosed() ? ptEndNodeClose : ptEndNode;
    return ptNode;
}

void TVektControl::SetPointType(int, TPointType) {}

void TVektControl::SetIsPointsClosed(bool) {}

int TVektControl::GetNodeIndex(int pointIndex) {
    if (pointIndex < 0 || pointIndex >= GetPointCount() || GetPointType(pointIndex) == ptControl)
        return -1;
    int nodes = 0;
    for (int i = 0; i < pointIndex; ++i)
        if (GetPointType(i) != ptControl) ++nodes;
    return nodes;
}

int TVektControl::GetPointIndex(int nodeIndex) {
    if (nodeIndex < 0) return -1;
    int count = GetPointCount();
    for (int i = 0, nodes = 0; i < count; ++i) {
        if (GetPointType(i) == ptControl) continue;
        if (nodes++ == nodeIndex) return i;
    }
    return -1;
}

int TVektControl::InsertPoint(int, const TPoint&) {
    return -1;
}

int TVektControl::InsertCurvePoints(int, const TPoint&, const TPoint&, const TPoint&) {
    return -1;
}

bool TVektControl::DeletePoint(int) {
    return false;
}

int TVektControl::InsertNearestPoint(const TPoint&) {
    return -1;
}

bool TVektControl::SetPointsEx(const TPointArray&, const TPointTypeArray&) {
    return false;
}

bool TVektControl::GetPointsEx(TPointArray& points, TPointTypeArray& types) {
    int count = GetPointCount();
    points.resize(static_cast<size_t>(std::max(count, 0)));
    types.resize(points.size());
    for (int i = 0; i < count; ++i) {
        points[i] = GetPoint(i);
        types[i] = GetPointType(i);
    }
    return count > 0;
}

bool TVektControl::EditPoints(TPathEditFunc, const TSelectedArray&, const TPathEditOffset*) {
    return false;
}

TPathEditFuncs TVektControl::EditPointsCaps(const TSelectedArray&) {
    return 0;
}

bool TVektControl::FlattenPoints(int) {
    return false;
}

bool TVektControl::FindNearestPoint(const TPoint&, TNearestPoint&) {
    return false;
}

bool TVektControl::FindNearestPathSegment(const TPoint&, TNearestPoint*, bool, bool,
                                          const TSelectedArray*, int& pointIndex, int& nextIndex) {
    pointIndex = -1;
    nextIndex = -1;
    return false;
}
