// The structural classes: groups, clones, layers and their root, schemes and their root, the
// grid.
#include <algorithm>
#include <initializer_list>
#include <limits>

#include "SysUtils.h"
#include "VektBase.h"

namespace {

int32_t Clamp32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// The child's rectangle in its parent's coordinates.
TRect OwnRect(const TVektControl& c) {
    return TRect(c.Left(), c.Top(), Clamp32(int64_t(c.Left()) + c.Width()),
                 Clamp32(int64_t(c.Top()) + c.Height()));
}

struct TBoolGuard {
    bool& Flag;
    bool Saved;
    explicit TBoolGuard(bool& flag)
        : Flag(flag)
        , Saved(flag) {
        Flag = true;
    }
    ~TBoolGuard() { Flag = Saved; }
};

constexpr uint8_t kLocked = propReadOnly | propNotStored | propNoRepaint;

} // namespace

// --- TVektGroup ---

void TVektGroup::ControlCreate() {
    FNoOwnPaint = true;
    TVektControl::ControlCreate();
    SetVisible(true);
}

void TVektGroup::Refit() {
    if (FMoving || FRefitting || FResizingChildren) return;
    if (FGroupUpdateCount > 0) {
        FRefitPending = true;
        return;
    }
    FRefitPending = false;
    if (Count() == 0) return;
    // Locked geometry cannot follow; refitting then would tear the group from its children.
    for (TCustomProp* prop :
         std::initializer_list<TCustomProp*>{PropLeft(), PropTop(), PropWidth(), PropHeight()})
        if (prop->IsReadOnly()) return;
    for (int i = 0; i < Count(); ++i)
        if (Controls(i)->PropLeft()->IsReadOnly() || Controls(i)->PropTop()->IsReadOnly()) return;

    TRect u = OwnRect(*Controls(0));
    for (int i = 1; i < Count(); ++i) {
        TRect r = OwnRect(*Controls(i));
        if (r.Width() == 0) r.Right = Clamp32(int64_t(r.Right) + 1);
        if (r.Height() == 0) r.Bottom = Clamp32(int64_t(r.Bottom) + 1);
        u = TRect(std::min(u.Left, r.Left), std::min(u.Top, r.Top), std::max(u.Right, r.Right),
                  std::max(u.Bottom, r.Bottom));
    }
    TBoolGuard refitting(FRefitting);
    BeginUpdate();
    try {
        if (u.Left != 0 || u.Top != 0) {
            for (int i = 0; i < Count(); ++i) {
                TVektControl* child = Controls(i);
                child->BeginUpdate();
                child->SetLeft(Clamp32(int64_t(child->Left()) - u.Left));
                child->SetTop(Clamp32(int64_t(child->Top()) - u.Top));
                child->EndUpdate();
            }
            SetLeft(Clamp32(int64_t(Left()) + u.Left));
            SetTop(Clamp32(int64_t(Top()) + u.Top));
        }
        SetWidth(Clamp32(int64_t(u.Right) - u.Left));
        SetHeight(Clamp32(int64_t(u.Bottom) - u.Top));
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TVektGroup::EndGroupUpdate() {
    TVektControl::EndGroupUpdate();
    if (FGroupUpdateCount == 0 && FRefitPending) Refit();
}

void TVektGroup::PropBeforeChanged(TCustomProp& prop) {
    TVektControl::PropBeforeChanged(prop);
    if (&prop == PropLeft() || &prop == PropTop()) {
        FMoveRect = DocRect();
    } else if ((&prop == PropWidth() || &prop == PropHeight()) && !(State() & csResizing) &&
               !FResizingChildren && !FRefitting && !FSnapshotTaken) {
        // The children are scaled from where they stood before the change.
        TPoint origin = DocRect().TopLeft();
        FSizeBeforeResize = TSize(Width(), Height());
        TPassControlRec pass;
        pass.Start(this);
        while (pass.Next())
            pass.Control->StartResizing(origin);
        FSnapshotTaken = true;
    }
}

void TVektGroup::PropChanged(TCustomProp& prop) {
    if (&prop == PropLeft() || &prop == PropTop()) {
        TRect now = DocRect();
        int32_t dx = now.Left - FMoveRect.Left, dy = now.Top - FMoveRect.Top;
        if (dx != 0 || dy != 0) {
            // Connectors attached inside the group follow it.
            TBoolGuard moving(FMoving);
            TPassControlRec pass;
            pass.Start(this);
            while (pass.Next()) {
                TVektControl* c = pass.Control;
                if (c->LinkPointsCount() == 0) continue;
                c->FLinkRefRect = c->DocRect().Offsetted(-dx, -dy);
                c->DoNotify(fnRect);
            }
        }
    } else if ((&prop == PropWidth() || &prop == PropHeight()) && FSnapshotTaken &&
               static_cast<TIntProp&>(prop).GetValue() > 0) {
        TBoolGuard resizing(FResizingChildren);
        FSnapshotTaken = false;
        int32_t oldW = std::max(FSizeBeforeResize.Width, 1);
        int32_t oldH = std::max(FSizeBeforeResize.Height, 1);
        int32_t newW = Width(), newH = Height();
        TPassControlRec pass;
        pass.Start(this);
        try {
            while (pass.Next()) {
                TVektControl* c = pass.Control;
                const TResizeSnapshot* s = c->ResizeSnapshot();
                if (!s) continue;
                TRect r(MulDiv(s->Rect.Left, newW, oldW), MulDiv(s->Rect.Top, newH, oldH),
                        MulDiv(s->Rect.Right, newW, oldW), MulDiv(s->Rect.Bottom, newH, oldH));
                c->SetDocRect(r.Offsetted(s->Origin.X, s->Origin.Y));
            }
        } catch (...) {
            FinishChildrenResizing();
            throw;
        }
        FinishChildrenResizing();
    }
    TVektControl::PropChanged(prop);
}

void TVektGroup::FinishChildrenResizing() {
    TPassControlRec pass;
    pass.Start(this);
    while (pass.Next())
        pass.Control->FinishResizing();
}

TRect TVektGroup::GetRefreshRect(int32_t refreshX, int32_t refreshY) {
    if (Count() == 0) return TVektControl::GetRefreshRect(refreshX, refreshY);
    TRect u;
    for (int i = 0; i < Count(); ++i) {
        TVektControl* child = Controls(i);
        TRect r = child->GetRefreshRect(Clamp32(int64_t(refreshX) + child->Left()),
                                        Clamp32(int64_t(refreshY) + child->Top()));
        u = i == 0 ? r
                   : TRect(std::min(u.Left, r.Left), std::min(u.Top, r.Top),
                           std::max(u.Right, r.Right), std::max(u.Bottom, r.Bottom));
    }
    return u;
}

bool TVektGroup::IsPointInside(int32_t x, int32_t y) {
    for (int i = Count(); i-- > 0;)
        if (Controls(i)->IsPointInside(x, y)) return true;
    return false;
}

void TVektGroup::Translate(const TTranslateInfo& info) {
    int quarter = ((info.Rotate % 360) + 360) % 360;
    if (info.Mirror && PropWidth()->IsReadOnly()) return;
    if (quarter == 180 && PropHeight()->IsReadOnly()) return;
    Invalidate();
    BeginTranslate();
    try {
        BeginGroupUpdate();
        try {
            for (int i = 0; i < Count(); ++i)
                Controls(i)->Translate(info);
        } catch (...) {
            EndGroupUpdate();
            throw;
        }
        EndGroupUpdate();
        Refit();
        ControlTranslate(info);
    } catch (...) {
        EndTranslate();
        throw;
    }
    EndTranslate();
}

void TVektGroup::ControlTranslate(const TTranslateInfo& info) {
    // The rectangle follows the children; only what is attached to the group moves here.
    if (!(Panel() && Panel()->History().GetProcessingControl() == this)) TranslateLinkPoints(info);
}

// --- TVektClone ---

void TVektClone::CreateProperties() {
    TVektControl::CreateProperties();
    FSourceProp = new TLinkProp(&Props(), "Source", propDeferredLoad);
    FAutoSizeProp = new TBoolProp(&Props(), "AutoSize");
}

void TVektClone::ControlCreate() {
    FSourceProp->OnLinkNotify = [this](TLinkProp&, const TNotifyInfo& info) { SourceNotify(info); };
    TVektControl::ControlCreate();
    FAutoSizeProp->SetValue(true);
    SetVisible(true);
}

void TVektClone::ControlDestroy() {
    FSourceProp->OnLinkNotify = nullptr;
    TVektControl::ControlDestroy();
}

TVektControl* TVektClone::Source() const {
    return dynamic_cast<TVektControl*>(FSourceProp->LinkedControl());
}

void TVektClone::SetSource(TVektControl* source) {
    FSourceProp->SetLinkedControl(source);
}

void TVektClone::FollowSourceSize() {
    TVektControl* source = Source();
    if (!source || !AutoSize()) return;
    TBoolGuard following(FFollowing);
    BeginUpdate();
    try {
        SetWidth(source->Width());
        SetHeight(source->Height());
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TVektClone::SourceNotify(const TNotifyInfo& info) {
    if (info.Kind != nkPropChanged || !info.Prop) return;
    TVektControl* source = Source();
    if (!source) return;
    if (info.Prop == source->PropWidth() || info.Prop == source->PropHeight()) {
        if (AutoSize()) {
            FollowSourceSize();
            return;
        }
    }
    if (!(info.Prop->RootProp().Style() & propNoRepaint)) Invalidate();
}

void TVektClone::PropChanged(TCustomProp& prop) {
    if (&prop == FSourceProp) {
        // A clone repeats a real picture, never another clone's.
        if (dynamic_cast<TVektClone*>(Source()))
            FSourceProp->SetLinkedControl(nullptr);
        else
            FollowSourceSize();
    } else if (&prop == FAutoSizeProp) {
        FollowSourceSize();
    }
    TVektControl::PropChanged(prop);
}

void TVektClone::PropStored(TCustomProp& prop, std::string_view subPropName, bool& isStored) {
    if (&prop == FAutoSizeProp)
        isStored = !AutoSize();
    else
        TVektControl::PropStored(prop, subPropName, isStored);
}

void TVektClone::PropReadOnly(TCustomProp& prop, bool& isReadOnly) {
    TVektControl::PropReadOnly(prop, isReadOnly);
    if (!FFollowing && (&prop == PropWidth() || &prop == PropHeight()) && FAutoSizeProp &&
        AutoSize() && Source())
        isReadOnly = true;
}

TRect TVektClone::GetRefreshRect(int32_t refreshX, int32_t refreshY) {
    TRect own = TVektControl::GetRefreshRect(refreshX, refreshY);
    TVektControl* source = Source();
    // A source that contains this clone would ask it back.
    if (!source || FInRefresh) return own;
    TBoolGuard guard(FInRefresh);
    TRect doc = source->DocRect();
    TRect refresh = source->GetRefreshRect(doc.Left, doc.Top);
    int64_t left = int64_t(doc.Left) - refresh.Left, top = int64_t(doc.Top) - refresh.Top;
    int64_t right = int64_t(refresh.Right) - doc.Right,
            bottom = int64_t(refresh.Bottom) - doc.Bottom;
    if (!AutoSize()) {
        int32_t sw = std::max(source->Width(), 1), sh = std::max(source->Height(), 1);
        left = MulDiv(Clamp32(left), Width(), sw);
        right = MulDiv(Clamp32(right), Width(), sw);
        top = MulDiv(Clamp32(top), Height(), sh);
        bottom = MulDiv(Clamp32(bottom), Height(), sh);
    }
    return TRect(Clamp32(own.Left - left), Clamp32(own.Top - top), Clamp32(own.Right + right),
                 Clamp32(own.Bottom + bottom));
}

// --- Names of layers and schemes ---

namespace {

// A layer or scheme keeps a valid name: an invalid one is replaced by the previous name.
void KeepValidName(TVektControl& control, const std::string& previous, bool& restoring) {
    if (restoring || control.IsValidName(true, true)) return;
    std::string rejected = control.Name();
    TBoolGuard guard(restoring);
    control.SetName(previous == rejected ? std::string() : previous);
}

} // namespace

// --- TVektLayer ---

void TVektLayer::CreateProperties() {
    TVektServiceControl::CreateProperties();
    for (TCustomProp* prop : std::initializer_list<TCustomProp*>{
             PropLeft(), PropTop(), PropWidth(), PropHeight(), PropLayer(), PropReference()})
        AddStyle(prop, kLocked);
    RemoveStyle(PropVisible(), propNotStored);
    FMoveableProp = new TBoolProp(&Props(), "Moveable", propNoRepaint);
    FResizableProp = new TBoolProp(&Props(), "Resizable", propNoRepaint);
    FReadOnlyProp = new TBoolProp(&Props(), "ReadOnly", propNoRepaint);
}

void TVektLayer::ControlCreate() {
    TVektServiceControl::ControlCreate();
    FMoveableProp->SetValue(true);
    FResizableProp->SetValue(true);
    SetVisible(true);
}

void TVektLayer::ControlDestroy() {
    if (TVektPanel* panel = Panel()) {
        // Controls on a layer do not outlive it.
        std::function<void(TVektControl*)> freeOnLayer = [&](TVektControl* container) {
            for (int i = container->Count(); i-- > 0;) {
                if (i >= container->Count()) continue;
                TVektControl* c = container->Controls(i);
                if (c->Layer() == this)
                    c->Free();
                else
                    freeOnLayer(c);
            }
        };
        if (panel->Schemes()) freeOnLayer(panel->Schemes());
        std::vector<TVektControl*> unparented = panel->Unparented();
        for (TVektControl* top : unparented) {
            TPassControlRec pass;
            pass.Start(top);
            do {
                if (pass.Control->FLayer == this) pass.Control->FLayer = nullptr;
            } while (pass.Next());
        }
    }
    TVektServiceControl::ControlDestroy();
}

void TVektLayer::UnselectControls() {
    TVektPanel* panel = Panel();
    if (!panel) return;
    for (int i = panel->SelectedCount(); i-- > 0;)
        if (i < panel->SelectedCount() && panel->Selected(i)->Layer() == this)
            panel->Unselect(panel->Selected(i));
}

void TVektLayer::PropBeforeChanged(TCustomProp& prop) {
    if (&prop == PropName() && !FRestoringName) FPrevName = Name();
    TVektServiceControl::PropBeforeChanged(prop);
}

void TVektLayer::PropChanged(TCustomProp& prop) {
    if (&prop == PropName()) KeepValidName(*this, FPrevName, FRestoringName);
    if ((&prop == PropSelectable() && !Selectable()) || (&prop == PropVisible() && !Visible()))
        UnselectControls();
    TVektServiceControl::PropChanged(prop);
}

void TVektLayer::PropStored(TCustomProp& prop, std::string_view subPropName, bool& isStored) {
    if (&prop == PropVisible())
        isStored = !Visible();
    else if (&prop == FMoveableProp || &prop == FResizableProp)
        isStored = !static_cast<TBoolProp&>(prop).GetValue();
    else if (&prop == FReadOnlyProp)
        isStored = ReadOnly();
    else
        TVektServiceControl::PropStored(prop, subPropName, isStored);
}

void TVektLayer::Invalidate() {
    if (Panel()) Panel()->Invalidate();
}

// --- TVektLayers ---

void TVektLayers::ControlCreate() {
    FNoOwnPaint = true;
    TVektServiceControl::ControlCreate();
    SetName("Layers");
    // The roots other than the document take no ID.
    if (Panel() && ID() != 0) {
        Panel()->ReleaseId(*this, ID());
        SetIdRaw(0);
    }
}

TVektLayer* TVektLayers::Layers(int index) const {
    return static_cast<TVektLayer*>(Controls(index));
}

TVektLayer* TVektLayers::FindLayer(std::string_view name) const {
    for (int i = 0; i < Count(); ++i)
        if (Controls(i)->Name() == name) return Layers(i);
    return nullptr;
}

int TVektLayers::Add(TVektControl* control) {
    auto* layer = dynamic_cast<TVektLayer*>(control);
    if (!layer) return -1;
    bool isChild = control->Parent() == this;
    if (!isChild) {
        std::string name = layer->Name();
        if (!name.empty())
            for (int i = 0; i < Count(); ++i)
                if (Controls(i)->Name() == name) return i;
    }
    int index = TVektServiceControl::Add(control);
    if (index >= 0 && !isChild) {
        DoNotify(fnLayers);
        if (Panel() && !Panel()->ActiveLayer()) Panel()->SetActiveLayer(layer);
    }
    return index;
}

void TVektLayers::Delete(int index) {
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    if (Panel() && Panel()->ActiveLayer() == Controls(index)) {
        TVektLayer* next = index + 1 < Count() ? Layers(index + 1)
                           : index > 0         ? Layers(index - 1)
                                               : nullptr;
        Panel()->SetActiveLayer(next);
    }
    TVektServiceControl::Delete(index);
}

void TVektLayers::ChangeOrder(int curIndex, int newIndex) {
    TVektServiceControl::ChangeOrder(curIndex, newIndex);
    DoNotify(fnLayers);
}

// --- TVektCustomScheme ---

void TVektCustomScheme::CreateProperties() {
    TVektServiceControl::CreateProperties();
    for (TCustomProp* prop :
         std::initializer_list<TCustomProp*>{PropLeft(), PropTop(), PropWidth(), PropHeight(),
                                             PropLayer(), Props().ByName("Transparency")})
        AddStyle(prop, kLocked);
    PropWidth()->SetGetter([this] { return Panel() ? Panel()->DocWidth() : 0; });
    PropHeight()->SetGetter([this] { return Panel() ? Panel()->DocHeight() : 0; });
    FDefaultProp = new TBoolProp(&Props(), "Default", propNoRepaint);
}

void TVektCustomScheme::ControlCreate() {
    FNoVisibilityTest = true;
    TVektServiceControl::ControlCreate();
    if (dynamic_cast<TVektSchemes*>(Parent()) && Parent()->Count() == 1) SetDefault(true);
    SetVisible(true);
}

void TVektCustomScheme::ControlDestroy() {
    TVektServiceControl::ControlDestroy();
}

void TVektCustomScheme::PaintAll(TCanvas& canvas, int32_t paintX, int32_t paintY) {
    if (!Visible()) return;
    if (!FNoOwnPaint) {
        TRect doc(paintX, paintY, Clamp32(int64_t(paintX) + Width()),
                  Clamp32(int64_t(paintY) + Height()));
        Paint(canvas, Panel() ? Panel()->DocToClient(doc) : doc);
    }
    TVektLayers* layers = Panel() ? Panel()->Layers() : nullptr;
    if (!layers) return;
    for (int l = 0; l < layers->Count(); ++l) {
        TVektLayer* layer = layers->Layers(l);
        for (int i = 0; i < Count(); ++i) {
            TVektControl* child = Controls(i);
            if (child->Layer() != layer) continue;
            child->PaintAll(canvas, Clamp32(int64_t(paintX) + child->Left()),
                            Clamp32(int64_t(paintY) + child->Top()));
        }
    }
}

void TVektCustomScheme::PropBeforeChanged(TCustomProp& prop) {
    if (&prop == PropName() && !FRestoringName) FPrevName = Name();
    TVektServiceControl::PropBeforeChanged(prop);
}

void TVektCustomScheme::PropChanged(TCustomProp& prop) {
    if (&prop == PropName()) {
        KeepValidName(*this, FPrevName, FRestoringName);
    } else if (&prop == FDefaultProp && !FDefaultGuard) {
        TBoolGuard guard(FDefaultGuard);
        TVektControl* root = Parent();
        if (Default()) {
            for (int i = 0; root && i < root->Count(); ++i)
                if (auto* other = dynamic_cast<TVektCustomScheme*>(root->Controls(i));
                    other && other != this)
                    other->SetDefault(false);
            if (Panel() && !Panel()->ActiveScheme() && root == Panel()->Schemes())
                Panel()->SetActiveScheme(this);
        } else {
            bool another = false;
            for (int i = 0; root && i < root->Count(); ++i)
                if (auto* other = dynamic_cast<TVektCustomScheme*>(root->Controls(i));
                    other && other != this && other->Default())
                    another = true;
            if (!another) SetDefault(true);
        }
    }
    TVektServiceControl::PropChanged(prop);
}

void TVektCustomScheme::PropStored(TCustomProp& prop, std::string_view subPropName,
                                   bool& isStored) {
    if (&prop == FDefaultProp)
        isStored = Default();
    else
        TVektServiceControl::PropStored(prop, subPropName, isStored);
}

TVektControl* TVektCustomScheme::FindControlAtPoint(int32_t x, int32_t y) {
    TVektLayers* layers = Panel() ? Panel()->Layers() : nullptr;
    if (!layers) return nullptr;
    for (int l = layers->Count(); l-- > 0;) {
        TVektLayer* layer = layers->Layers(l);
        if (!layer->Visible() || !layer->Selectable()) continue;
        for (int i = Count(); i-- > 0;) {
            TVektControl* child = Controls(i);
            if (child->Layer() == layer && child->Visible() && child->IsPointInside(x, y))
                return child;
        }
    }
    return nullptr;
}

// --- TVektScheme ---

void TVektScheme::CreateProperties() {
    TVektCustomScheme::CreateProperties();
    FBrushProp = new TBrushProp(&Props(), "Brush");
    FPictureProp = new TPictureProp(&Props(), "Picture");
    FBackgroundProp = new TBackgroundOptionsProp(&Props(), "Background");
}

void TVektScheme::ControlCreate() {
    TVektCustomScheme::ControlCreate();
    FBrushProp->SetColor(clWhite);
}

void TVektScheme::PropStored(TCustomProp& prop, std::string_view subPropName, bool& isStored) {
    if (&prop == FBrushProp && SameText(subPropName, "Color"))
        isStored = FBrushProp->Color() != clWhite;
    else
        TVektCustomScheme::PropStored(prop, subPropName, isStored);
}

// --- TVektSchemes ---

void TVektSchemes::CreateProperties() {
    TVektServiceControl::CreateProperties();
    for (TCustomProp* prop :
         std::initializer_list<TCustomProp*>{PropLeft(), PropTop(), PropVisible(), PropLayer(),
                                             PropReference(), Props().ByName("Transparency")})
        AddStyle(prop, propNotStored | propNoRepaint);
    if (Panel()) {
        // The page size lives in the panel; these two are its views in the document.
        PropWidth()->BindTo(&Panel()->FDocWidth);
        PropHeight()->BindTo(&Panel()->FDocHeight);
    }
    FVersionProp = new TIntProp(&Props(), "Version", propNoRepaint);
    FVersionProp->SetValue(DocumentVersion);
    AddStyle(FVersionProp, propReadOnly);
    FConnectorsMinGapProp =
        new TIntProp(&Props(), "ConnectorsMinGap", propDocUnits | propNoRepaint);
    FConnectorsMinGapProp->SetValue(DefaultConnectorsMinGap);
    FConnectorLinkToPointProp = new TBoolProp(&Props(), "ConnectorLinkToPoint", propNoRepaint);
}

void TVektSchemes::ControlCreate() {
    FNoOwnPaint = true;
    FNoVisibilityTest = true;
    TVektServiceControl::ControlCreate();
    SetID(1);
    SetName("Document");
    SetVisible(true);
    for (TCustomProp* prop :
         std::initializer_list<TCustomProp*>{PropLeft(), PropTop(), PropVisible(), PropLayer(),
                                             PropReference(), Props().ByName("Transparency")})
        AddStyle(prop, propReadOnly);
}

void TVektSchemes::PropChanged(TCustomProp& prop) {
    TVektServiceControl::PropChanged(prop);
    if (!Panel()) return;
    if (&prop == PropWidth() || &prop == PropHeight())
        Panel()->Invalidate();
    else if (&prop == FConnectorsMinGapProp)
        Panel()->RerouteConnectors();
}

void TVektSchemes::PropStored(TCustomProp& prop, std::string_view subPropName, bool& isStored) {
    if (&prop == FVersionProp || &prop == PropWidth() || &prop == PropHeight())
        isStored = true;
    else if (&prop == FConnectorsMinGapProp)
        isStored = ConnectorsMinGap() != DefaultConnectorsMinGap;
    else if (&prop == FConnectorLinkToPointProp)
        isStored = ConnectorLinkToPoint();
    else
        TVektServiceControl::PropStored(prop, subPropName, isStored);
}

TVektCustomScheme* TVektSchemes::Schemes(int index) const {
    return static_cast<TVektCustomScheme*>(Controls(index));
}

int TVektSchemes::Add(TVektControl* control) {
    auto* scheme = dynamic_cast<TVektCustomScheme*>(control);
    if (!scheme) return -1;
    bool isChild = control->Parent() == this;
    int index = TVektServiceControl::Add(control);
    if (index >= 0 && !isChild) {
        DoNotify(fnSchemes);
        if (Panel() && !Panel()->ActiveScheme()) Panel()->SetActiveScheme(scheme);
    }
    return index;
}

void TVektSchemes::Delete(int index) {
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    if (Panel() && Panel()->ActiveScheme() == Controls(index)) {
        TVektCustomScheme* next = index + 1 < Count() ? Schemes(index + 1)
                                  : index > 0         ? Schemes(index - 1)
                                                      : nullptr;
        Panel()->SetActiveScheme(next);
    }
    TVektServiceControl::Delete(index);
}

void TVektSchemes::ChangeOrder(int curIndex, int newIndex) {
    TVektServiceControl::ChangeOrder(curIndex, newIndex);
    DoNotify(fnSchemes);
}

// --- TVektGrid ---

void TVektGrid::CreateProperties() {
    TVektServiceControl::CreateProperties();
    PropWidth()->SetGetter([this] { return Panel() ? Panel()->DocWidth() : 0; });
    PropHeight()->SetGetter([this] { return Panel() ? Panel()->DocHeight() : 0; });
}

void TVektGrid::ControlCreate() {
    FNoVisibilityTest = true;
    TVektServiceControl::ControlCreate();
    SetName("Grid");
    if (Panel() && ID() != 0) {
        Panel()->ReleaseId(*this, ID());
        SetIdRaw(0);
    }
    // Visible stays open: it is the panel's ShowGrid.
    for (int i = 0; i < Props().Count(); ++i)
        if (Props().Props(i) != PropVisible()) AddStyle(Props().Props(i), kLocked);
}
