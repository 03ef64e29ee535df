// TVektControl: creation and destruction, the tree, the standard properties and their change
// handling, update brackets and notifications.
#include "VektBase.h"

#include <algorithm>
#include <limits>

#include "SysUtils.h"

namespace {

int32_t Clamp32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// Restores a counter or flag on every way out, exceptions included.
struct TStateFlagGuard {
    uint8_t& State;
    uint8_t Flag;
    bool WasSet;
    TStateFlagGuard(uint8_t& state, uint8_t flag)
        : State(state)
        , Flag(flag)
        , WasSet(state & flag) {
        State |= flag;
    }
    ~TStateFlagGuard() {
        if (!WasSet) State &= ~Flag;
    }
};

} // namespace

// --- TPassControlRec ---

void TPassControlRec::Start(TVektControl* root) {
    Root = root;
    Control = root;
    Stack.clear();
}

bool TPassControlRec::Next(bool skipChildren) {
    if (!Control) return false;
    if (!skipChildren && Control->Count() > 0) {
        Stack.push_back(0);
        Control = Control->Controls(0);
        return true;
    }
    while (!Stack.empty()) {
        TVektControl* parent = Control->Parent();
        int next = Stack.back() + 1;
        if (next < parent->Count()) {
            Stack.back() = next;
            Control = parent->Controls(next);
            return true;
        }
        Stack.pop_back();
        Control = parent;
    }
    Control = nullptr;
    return false;
}

// --- TVektNullHistory ---

bool TVektNullHistory::EnableRecording() {
    bool wasZero = FDisableCount == 0;
    if (FDisableCount > 0) --FDisableCount;
    return wasZero;
}

// --- Creation and destruction ---

void TVektControlFree::operator()(TVektControl* control) const {
    if (control) control->Free();
}

TVektControl::TVektControl() = default;

TVektControl::~TVektControl() {
    // Only an interrupted teardown leaves children behind; they are whole controls of their own.
    while (!FChildren.empty()) {
        TVektControl* child = FChildren.back().release();
        FChildren.pop_back();
        child->FParent = nullptr;
        child->Free();
    }
}

TVektControl* TVektControl::NewOfClass(const TVektControlClass& cls, TVektPanel* panel,
                                       TVektLayer* layer, TVektControl* parent) {
    TVektControl* control = cls.NewInstance();
    control->RunCreate(panel, layer, parent);
    return control;
}

void TVektControl::RunCreate(TVektPanel* panel, TVektLayer* layer, TVektControl* parent) {
    try {
        Create(panel, layer, parent);
    } catch (...) {
        Free();
        throw;
    }
}

void TVektControl::Free() {
    if (FState & csDestroying) return;
    FState |= csDestroying;
    try {
        DoneControl();
    } catch (...) {
        delete this;
        throw;
    }
    delete this;
}

void TVektControl::Create(TVektPanel* panel, TVektLayer* layer, TVektControl* parent) {
    FState |= csCreating;
    FPanel = panel;
    FProps = std::make_unique<TPropList>(this);
    WireProps();
    InitControl(parent, layer);
}

void TVektControl::WireProps() {
    FProps->OnPropChanged = [this](TCustomProp& prop) { PropChanged(prop); };
    FProps->OnPropBeforeChanged = [this](TCustomProp& prop) { PropBeforeChanged(prop); };
    FProps->OnPropStored = [this](TCustomProp& prop, std::string_view sub, bool& stored) {
        PropStored(prop, sub, stored);
    };
    FProps->OnPropReadOnly = [this](TCustomProp& prop, bool& readOnly) {
        PropReadOnly(prop, readOnly);
    };
    // The base leaves the class unchanged, so wiring it always is the same as wiring it only for
    // classes that override it.
    FProps->OnPropHistoryAction = [this](TCustomProp& prop, const THistoryActionClass*& cls) {
        PropHistoryAction(prop, cls);
    };
}

void TVektControl::InitControl(TVektControl* parent, TVektLayer* layer) {
    CreateProperties();
    if (parent)
        parent->Add(this);
    else if (FPanel && !FPanel->FCreatingRoots)
        FPanel->AddUnparented(this);
    // A child keeps the layer it took from its parent unless it is given one.
    if (layer || !parent) FLayer = layer;
    try {
        ControlCreate();
    } catch (...) {
        if ((FState & csHistoryGroup) && FPanel) {
            FState &= ~csHistoryGroup;
            FPanel->History().CancelAction();
        }
        throw;
    }
    FState &= ~csCreating;
    if (FPanel) FProps->SetHistory(&FPanel->History());
    if (FState & csHistoryGroup) {
        FState &= ~csHistoryGroup;
        if (FPanel) FPanel->History().EndAction();
    }
}

void TVektControl::CreateProperties() {
    TPropList* list = FProps.get();
    FIDProp = new TLongWordProp(list, "ID", propNoRepaint);
    FTagProp = new TIntProp(list, "Tag", propNoRepaint);
    FNameProp = new TStrProp(list, "Name", propNotStored | propNoRepaint);
    FLeftProp = new TIntProp(list, "Left", propDocUnits);
    FTopProp = new TIntProp(list, "Top", propDocUnits);
    FWidthProp = new TIntProp(list, "Width", propDocUnits);
    FHeightProp = new TIntProp(list, "Height", propDocUnits);
    FVisibleProp = new TBoolProp(list, "Visible", propNotStored);
    FHintProp = new TStrListProp(list, "Hint", propNoRepaint);
    FShowHintProp = new TBoolProp(list, "ShowHint", propNoRepaint);
    FLayerProp = new TLayerProp(list, "Layer", propDeferredLoad);
    FReferenceProp = new TSchemeRefProp(list, "Reference", propDeferredLoad | propNoRepaint);
    FUserDataProp = new TUserDataProp(list, "UserData");
    FTransparencyProp = new TIntProp(list, "Transparency");
    FSelectableProp = new TBoolProp(list, "Selectable", propNoRepaint);
}

namespace {

bool IsLayerOrScheme(const TVektControl* control) {
    return dynamic_cast<const TVektLayer*>(control) ||
           dynamic_cast<const TVektCustomScheme*>(control);
}

} // namespace

void TVektControl::ControlCreate() {
    if (FPanel) {
        bool loading = FPanel->IsLoading();
        if (!loading) SetIdRaw(FPanel->NewIdFor(*this));
        // Layers and schemes are found by their names, so they get theirs even when automatic
        // names are off.
        bool alwaysNumbered = IsLayerOrScheme(this);
        if (!loading && Name().empty() && (FPanel->AutoNames || alwaysNumbered))
            SetName(FPanel->AutoName(*this, nullptr, alwaysNumbered || FPanel->AutoNameNumbs));
        if (FPanel->History().BeginAction(HistoryControlCreate, this, true))
            FState |= csHistoryGroup;
    }
    FShowHintProp->SetValue(true);
    FSelectableProp->SetValue(true);
    DoNotify(fnCreated);
}

void TVektControl::ControlDestroy() {
    if (FPanel && FPanel->History().BeginAction(HistoryControlDestroy, this, true))
        FState |= csHistoryGroup;
    DoNotify(fnDestroyed);
}

void TVektControl::DoneControl() {
    if (FNotifyLink) FNotifyLink->DestroyNotify();
    std::exception_ptr failure;
    try {
        ControlDestroy();
        Clear();
    } catch (...) {
        failure = std::current_exception();
    }
    // The control must leave the tree and the panel whatever happened above.
    if (FParent) {
        int index = FParent->IndexOf(this);
        if (index >= 0) FParent->Delete(index);
        FParent = nullptr;
    }
    if (FPanel) {
        FPanel->ReleaseId(*this, ID());
        FPanel->RemoveUnparented(this);
        if (FState & csHistoryGroup) {
            FState &= ~csHistoryGroup;
            if (failure)
                FPanel->History().CancelAction();
            else
                FPanel->History().EndAction();
        }
    }
    FProps.reset();
    FNotifyLink.reset();
    if (failure) std::rethrow_exception(failure);
}

// --- Tree ---

void TVektControl::SetParent(TVektControl* parent) {
    if (parent == FParent) return;
    if (parent)
        parent->Add(this);
    else if (FParent)
        FParent->Extract(this);
}

int TVektControl::IndexOf(const TVektControl* control) const {
    // From the end: teardown removes the last child first.
    for (size_t i = FChildren.size(); i-- > 0;)
        if (FChildren[i].get() == control) return static_cast<int>(i);
    return -1;
}

TVektControl* TVektControl::FindByName(std::string_view name) const {
    for (const auto& child : FChildren)
        if (child->Name() == name) return child.get();
    return nullptr;
}

TVektControl* TVektControl::FindByID(uint32_t id) {
    TPassControlRec pass;
    pass.Start(this);
    do {
        if (pass.Control->ID() == id) return pass.Control;
    } while (pass.Next());
    return nullptr;
}

TVektCustomScheme* TVektControl::OwnerScheme() const {
    for (TVektControl* p = FParent; p; p = p->FParent)
        if (auto* scheme = dynamic_cast<TVektCustomScheme*>(p)) return scheme;
    return nullptr;
}

TVektControl* TVektControl::TopParent() {
    TVektControl* c = this;
    while (c->FParent)
        c = c->FParent;
    return c;
}

int TVektControl::Add(TVektControl* control) {
    if (!control) return -1;
    // A control cannot become its own descendant.
    for (TVektControl* p = this; p; p = p->FParent)
        if (p == control) return -1;
    if (control->FParent == this && !(FPanel && FPanel->IsLoading())) return IndexOf(control);

    TVektPanel* oldPanel = control->FPanel;
    bool otherPanel = oldPanel != FPanel;
    bool destroyGroup = false;
    if (!otherPanel) {
        if (FPanel) FPanel->History().RecordAction(HistoryOrder, control);
    } else if (oldPanel) {
        if (FPanel) FPanel->History().DisableRecording();
        destroyGroup = oldPanel->History().BeginAction(HistoryControlDestroy, control, true);
    }

    TVektLayer* layerBefore = control->FLayer;
    {
        TStateFlagGuard moving(control->FState, csMoving);
        if (control->FParent) control->FParent->Extract(control);
        if (otherPanel) {
            if (destroyGroup) oldPanel->History().EndAction();
            control->MoveToPanel(FPanel);
            if (FPanel) FPanel->History().EnableRecording();
        }
        FChildren.emplace_back(control);
        if (FPanel) FPanel->RemoveUnparented(control);
        control->FParent = this;
    }
    int index = Count() - 1;

    if (FLayer && FLayer != control->FLayer) {
        control->SetLayer(FLayer);
    } else if (dynamic_cast<TVektCustomScheme*>(this) && layerBefore &&
               layerBefore->FPanel == FPanel && !(layerBefore->FState & csDestroying)) {
        control->FLayer = layerBefore;
        control->Invalidate();
    } else {
        control->Invalidate();
    }
    if (otherPanel && FPanel) {
        if (FPanel->History().BeginAction(HistoryControlCreate, control, true))
            FPanel->History().EndAction();
    }
    control->DoNotify(fnParent);
    DoNotify(fnOrder);
    return index;
}

void TVektControl::Delete(int index) {
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    TVektControl* child = FChildren[index].get();
    bool destroying = child->FState & csDestroying;
    if (!destroying && !(FState & csExtracting)) {
        child->Free(); // its teardown detaches it through this operation again
        return;
    }
    child->FParent = nullptr;
    if (!destroying && child->FPanel) child->FPanel->AddUnparented(child);
    if (child->FPanel) child->FPanel->Unselect(child);
    FChildren[index].release();
    FChildren.erase(FChildren.begin() + index);
    if (!(child->FState & csMoving)) {
        child->DoNotify(fnParent);
        DoNotify(fnOrder);
    }
}

void TVektControl::Extract(TVektControl* control) {
    int index = IndexOf(control);
    if (index < 0) return;
    {
        TStateFlagGuard extracting(FState, csExtracting);
        if (control->FPanel) control->FPanel->Unselect(control);
        control->Invalidate();
        Delete(index);
    }
    if (IndexOf(control) < 0) {
        control->FParent = nullptr;
        control->FLayer = nullptr;
    }
}

void TVektControl::Clear() {
    while (!FChildren.empty())
        Delete(Count() - 1);
}

void TVektControl::ChangeOrder(int curIndex, int newIndex) {
    if (curIndex < 0 || curIndex >= Count())
        throw EListError(Format("List index out of bounds (%d)", curIndex));
    if (newIndex < 0 || newIndex >= Count())
        throw EListError(Format("List index out of bounds (%d)", newIndex));
    if (curIndex == newIndex) return;
    TVektControl* child = FChildren[curIndex].get();
    if (FPanel) FPanel->History().RecordAction(HistoryOrder, child);
    auto moved = std::move(FChildren[curIndex]);
    FChildren.erase(FChildren.begin() + curIndex);
    FChildren.insert(FChildren.begin() + newIndex, std::move(moved));
    child->Invalidate();
    DoNotify(fnOrder);
}

void TVektControl::SetLayer(TVektLayer* layer) {
    if (layer == FLayer || !FPanel || (layer && layer->FPanel != FPanel)) return;
    if (!FLayerProp || FLayerProp->IsReadOnly()) return;
    FLayerProp->DoBeforeChanged();
    FLayer = layer;
    FLayerProp->DoChanged();
    if (IsSelected() && !IsSelectable()) FPanel->Unselect(this);
    for (int i = 0; i < Count(); ++i)
        Controls(i)->SetLayer(layer);
    Invalidate();
}

void TVektControl::AdoptLayers(TVektLayer* layer) {
    TPassControlRec pass;
    pass.Start(this);
    do {
        TVektLayer* own = pass.Control->FLayer;
        if (own && (own->FPanel != FPanel || (own->FState & csDestroying)))
            pass.Control->FLayer = layer;
    } while (pass.Next());
}

void TVektControl::MoveToPanel(TVektPanel* panel) {
    TVektPanel* oldPanel = FPanel;
    if (oldPanel) oldPanel->RemoveUnparented(this);
    TPassControlRec pass;
    pass.Start(this);
    do {
        TVektControl* c = pass.Control;
        uint32_t id = c->ID();
        if (c->FPanel) {
            c->FPanel->Unselect(c);
            c->FPanel->ReleaseId(*c, id);
        }
        c->FPanel = panel;
        if (c->FProps) c->FProps->SetHistory(panel ? &panel->History() : nullptr);
        if (panel && id != 0) {
            if (panel->FIdPool.IsUsed(id)) {
                c->SetIdRaw(panel->NewIdFor(*c));
                c->DoNotify(fnID);
            } else {
                panel->RegisterId(*c);
            }
        }
    } while (pass.Next());
    AdoptLayers(nullptr);
}

// --- Standard properties ---

uint32_t TVektControl::ID() const {
    return FIDProp ? FIDProp->GetValue() : 0;
}
void TVektControl::SetID(uint32_t id) {
    FIDProp->SetValue(id);
}
std::string TVektControl::Name() const {
    return FNameProp ? FNameProp->GetValue() : std::string();
}
void TVektControl::SetName(const std::string& name) {
    FNameProp->SetValue(name);
}
int32_t TVektControl::Tag() const {
    return FTagProp ? FTagProp->GetValue() : 0;
}
void TVektControl::SetTag(int32_t value) {
    FTagProp->SetValue(value);
}
int32_t TVektControl::Left() const {
    return FLeftProp ? FLeftProp->GetValue() : 0;
}
void TVektControl::SetLeft(int32_t value) {
    FLeftProp->SetValue(value);
}
int32_t TVektControl::Top() const {
    return FTopProp ? FTopProp->GetValue() : 0;
}
void TVektControl::SetTop(int32_t value) {
    FTopProp->SetValue(value);
}
int32_t TVektControl::Width() const {
    return FWidthProp ? FWidthProp->GetValue() : 0;
}
void TVektControl::SetWidth(int32_t value) {
    FWidthProp->SetValue(value);
}
int32_t TVektControl::Height() const {
    return FHeightProp ? FHeightProp->GetValue() : 0;
}
void TVektControl::SetHeight(int32_t value) {
    FHeightProp->SetValue(value);
}
bool TVektControl::Visible() const {
    return FVisibleProp && FVisibleProp->GetValue();
}
void TVektControl::SetVisible(bool value) {
    FVisibleProp->SetValue(value);
}
bool TVektControl::ShowHint() const {
    return FShowHintProp && FShowHintProp->GetValue();
}
bool TVektControl::Selectable() const {
    return FSelectableProp && FSelectableProp->GetValue();
}
void TVektControl::SetSelectable(bool value) {
    FSelectableProp->SetValue(value);
}
int32_t TVektControl::Transparency() const {
    return FTransparencyProp ? FTransparencyProp->GetValue() : 0;
}
void TVektControl::SetTransparency(int32_t value) {
    FTransparencyProp->SetValue(value);
}
std::string TVektControl::Hint() const {
    return FHintProp ? FHintProp->Text() : std::string();
}

void TVektControl::SetIdRaw(uint32_t id) {
    bool saved = FIdGuard;
    FIdGuard = true;
    try {
        FIDProp->SetValue(id);
    } catch (...) {
        FIdGuard = saved;
        throw;
    }
    FIdGuard = saved;
}

IPropPanel* TVektControl::GetPropPanel() {
    return FPanel;
}

IPropControl* TVektControl::GetLayerControl() {
    return FLayer;
}

void TVektControl::SetLayerControl(IPropControl* layer) {
    SetLayer(dynamic_cast<TVektLayer*>(layer));
}

TNotifyLink& TVektControl::GetNotifyLink() {
    if (!FNotifyLink) FNotifyLink = std::make_unique<TNotifyLink>(this);
    return *FNotifyLink;
}

bool TVektControl::IsSelected() const {
    return FPanel && FPanel->IsSelected(this);
}

void TVektControl::SetSelected(bool value) {
    if (!FPanel) return;
    if (value)
        FPanel->Select(this);
    else
        FPanel->Unselect(this);
}

// --- Property changes ---

void TVektControl::PropBeforeChanged(TCustomProp& prop) {
    if (IsGeometryProp(prop) && FUpdateCount == 0 && !FFixingSize) {
        FPrevRect = DocRect();
        if (!FLinkPoints.empty()) FLinkRefRect = FPrevRect;
    }
    if (&prop == FIDProp) FLastID = ID();
    if (!(prop.RootProp().Style() & propNoRepaint)) Invalidate();
    if (FPanel) FPanel->DoPropBeforeChanged(this, prop);
    if (FNotifyLink) FNotifyLink->PropNotify(&prop, true);
}

void TVektControl::PropChanged(TCustomProp& prop) {
    if ((&prop == FWidthProp || &prop == FHeightProp) &&
        static_cast<TIntProp&>(prop).GetValue() <= 0) {
        // The change to 1 reports the new rectangle itself.
        bool saved = FFixingSize;
        FFixingSize = true;
        static_cast<TIntProp&>(prop).SetValue(1);
        FFixingSize = saved;
    } else if (IsGeometryProp(prop)) {
        DoNotify(fnRect);
    } else if (&prop == FNameProp) {
        DoNotify(fnName);
    } else if (&prop == FIDProp) {
        if (!FIdGuard && ID() != FLastID) {
            if (FPanel) FPanel->CheckID(*this, FLastID);
            DoNotify(fnID);
        }
    } else if (&prop == FSelectableProp) {
        if (!Selectable() && IsSelected()) FPanel->Unselect(this);
    }
    if (!(prop.RootProp().Style() & propNoRepaint)) Invalidate();
    if (FPanel) FPanel->DoPropChanged(this, prop);
    if (FNotifyLink) FNotifyLink->PropNotify(&prop, false);
}

void TVektControl::PropStored(TCustomProp& prop, std::string_view subPropName, bool& isStored) {
    if (&prop == FTagProp)
        isStored = Tag() != 0;
    else if (&prop == FReferenceProp)
        isStored = FReferenceProp->GetValue() != 0;
    else if (&prop == FHintProp || &prop == FUserDataProp)
        isStored = static_cast<TStrListProp&>(prop).Count() > 0;
    else if (&prop == FTransparencyProp)
        isStored = Transparency() > 0;
    else if (&prop == FShowHintProp || &prop == FSelectableProp)
        isStored = !static_cast<TBoolProp&>(prop).GetValue();
    else if (prop.Kind() == pkComplex && !subPropName.empty())
        isStored = prop.IsSubPropStored(subPropName);
    else
        isStored = true;
}

void TVektControl::PropReadOnly(TCustomProp& prop, bool& isReadOnly) {
    if (FIdGuard && &prop == FIDProp) return;
    if (!FLayer) return;
    if (FLayer->ReadOnly()) {
        isReadOnly = true;
    } else if (!FLayer->Moveable()) {
        if (&prop == FLeftProp || &prop == FTopProp) isReadOnly = true;
    } else if (!FLayer->Resizable()) {
        if (&prop == FWidthProp || &prop == FHeightProp) isReadOnly = true;
    }
}

void TVektControl::PropHistoryAction(TCustomProp&, const THistoryActionClass*&) {}

// --- Update brackets and notifications ---

void TVektControl::BeginUpdate() {
    if (FUpdateCount++ == 0) {
        Invalidate();
        FPendingRect = false;
        FPendingLinkPoints = false;
        FPrevRect = DocRect();
        if (!(FState & csInEndUpdate)) FLinkRefRect = FPrevRect;
    }
}

bool TVektControl::EndUpdate() {
    if (FUpdateCount == 0) return false;
    if (--FUpdateCount > 0) return false;
    TStateFlagGuard inEndUpdate(FState, csInEndUpdate);
    if (FPendingRect) {
        FPendingRect = false;
        DoNotify(fnRect);
    }
    if (FPendingLinkPoints) {
        FPendingLinkPoints = false;
        DoNotify(fnLinkPoints);
    }
    Invalidate();
    return true;
}

void TVektControl::BeginGroupUpdate() {
    ++FGroupUpdateCount;
}

void TVektControl::EndGroupUpdate() {
    if (FGroupUpdateCount > 0) --FGroupUpdateCount;
}

void TVektControl::BeginPointsEdit() {
    ++FPointsEditCount;
}

void TVektControl::EndPointsEdit() {
    if (FPointsEditCount > 0) --FPointsEditCount;
}

void TVektControl::Invalidate() {
    if (FPanel && FPanel->InvalidateControl(this))
        for (int i = 0; i < Count(); ++i)
            Controls(i)->Invalidate();
}

void TVektControl::RecordRectChange() {
    IVektHistory& history = FPanel->History();
    if (!history.IsActive()) return;
    TRect now = DocRect();
    int32_t dx = now.Left - FPrevRect.Left, dy = now.Top - FPrevRect.Top;
    if ((dx != 0 || dy != 0) && !FChildren.empty()) {
        // The children moved with their container: each records where it was.
        for (int i = 0; i < Count(); ++i) {
            TVektControl* child = Controls(i);
            child->BeginUpdate();
            child->FPrevRect.Offset(-dx, -dy);
            history.RecordAction(child->GetPointCount() > 0 ? HistoryPoints : HistoryDocRect,
                                 child);
            child->EndUpdate();
        }
    }
    history.RecordAction(GetPointCount() > 0 ? HistoryPoints : HistoryDocRect, this);
}

void TVektControl::FollowLinkPoints() {
    TRect now = DocRect();
    if ((FState & csResizing) && FResize) {
        const TRect& snap = FResize->Rect;
        auto place = [](int32_t offset, int32_t snapSize, int32_t newSize) -> int64_t {
            return snapSize == 0 ? 0 : MulDiv(offset, newSize, snapSize);
        };
        BeginUpdate();
        for (size_t i = 0; i < FLinkPoints.size() && i < FResize->LinkPoints.size(); ++i) {
            const TPoint& p = FResize->LinkPoints[i];
            TPoint moved(Clamp32(now.Left + place(p.X - snap.Left, snap.Width(), now.Width())),
                         Clamp32(now.Top + place(p.Y - snap.Top, snap.Height(), now.Height())));
            SetLinkPoints(static_cast<int>(i), moved);
        }
        EndUpdate();
    } else {
        TRect reference = FLinkRefRect;
        ScaleLinkPoints(reference, now);
    }
    FLinkRefRect = now;
}

void TVektControl::DoNotify(TVektNotify notify) {
    if (FUpdateCount > 0) {
        if (notify == fnRect) {
            FPendingRect = true;
            return;
        }
        if (notify == fnLinkPoints) {
            FPendingLinkPoints = true;
            return;
        }
    }
    if (notify == fnRect && FPanel) RecordRectChange();
    if (notify == fnRect || notify == fnParent) {
        if (FParent && FParent->IsGroup() && !(FState & csResizing) &&
            !(FPanel && FPanel->IsLoading()))
            if (auto* group = dynamic_cast<TVektGroup*>(FParent)) group->Refit();
        if (!FLinkPoints.empty() && FTranslateCount == 0) FollowLinkPoints();
    }
    if (FPanel) FPanel->DoNotify(this, notify);
    if (FNotifyLink) FNotifyLink->ControlNotify(this, notify);
}

// --- Link points ---

int TVektControl::AddLinkPoint(TPoint* point) {
    int index = IndexOfLinkPoint(point);
    if (index >= 0) return index;
    // The points are relative to the rectangle they were added at.
    if (FLinkPoints.empty()) FLinkRefRect = DocRect();
    FLinkPoints.push_back(point);
    return LinkPointsCount() - 1;
}

int TVektControl::IndexOfLinkPoint(const TPoint* point) {
    for (size_t i = 0; i < FLinkPoints.size(); ++i)
        if (FLinkPoints[i] == point) return static_cast<int>(i);
    return -1;
}

void TVektControl::DeleteLinkPoint(int index) {
    if (index < 0 || index >= LinkPointsCount())
        throw EListError(Format("List index out of bounds (%d)", index));
    FLinkPoints.erase(FLinkPoints.begin() + index);
}

void TVektControl::SetLinkPoints(int index, const TPoint& point) {
    if (index < 0 || index >= LinkPointsCount())
        throw EListError(Format("List index out of bounds (%d)", index));
    if (*FLinkPoints[index] == point) return;
    *FLinkPoints[index] = point;
    DoNotify(fnLinkPoints);
}

void TVektControl::ScaleLinkPoints(const TRect& oldRect, const TRect& newRect) {
    if (FLinkPoints.empty()) return;
    auto scale = [](int32_t value, int32_t oldStart, int32_t oldSize, int32_t newStart,
                    int32_t newSize) {
        int64_t offset = int64_t(value) - oldStart;
        int64_t scaled = oldSize == newSize ? offset
                         : oldSize == 0     ? 0
                                            : MulDiv(Clamp32(offset), newSize, oldSize);
        return Clamp32(newStart + scaled);
    };
    BeginUpdate();
    for (int i = 0; i < LinkPointsCount(); ++i) {
        TPoint p = LinkPoints(i);
        SetLinkPoints(i,
                      {scale(p.X, oldRect.Left, oldRect.Width(), newRect.Left, newRect.Width()),
                       scale(p.Y, oldRect.Top, oldRect.Height(), newRect.Top, newRect.Height())});
    }
    EndUpdate();
}

// --- Resizing ---

void TVektControl::StartResizing(const TPoint& origin) {
    FState |= csResizing;
    auto snapshot = std::make_unique<TResizeSnapshot>();
    snapshot->Origin = origin;
    snapshot->Rect = DocRect().Offsetted(-origin.X, -origin.Y);
    for (const TPoint* p : FLinkPoints)
        snapshot->LinkPoints.push_back(p->Offsetted(-origin.X, -origin.Y));
    FResize = std::move(snapshot);
}

void TVektControl::FinishResizing() {
    FState &= ~csResizing;
    FResize.reset();
}

void TVektControl::MirrorInResize(bool, bool) {}

// --- Files ---

void TVektControl::SaveToFiler(TVektFiler& filer, int indent) {
    std::string pad(static_cast<size_t>(std::max(indent, 0)), ' ');
    filer.WriteLine(pad + "object " + Name() + ": " + ClassName());
    FProps->SaveAll(filer, indent + 2, false);
    for (int i = 0; i < Count(); ++i)
        Controls(i)->SaveToFiler(filer, indent + 2);
    filer.WriteLine(pad + "end");
    filer.ObjectSaved();
}

void TVektControl::LoadFromFiler(TVektFiler& filer) {
    FState |= csLoading;
    if (FPanel) FPanel->BeginLoading();
    try {
        std::string line;
        bool open = true;
        while (open && filer.NextLine(line)) {
            switch (filer.LineKind(line)) {
            case lkEnd: open = false; break;
            case lkObject:
                if (FPanel)
                    FPanel->LoadControl(filer, this, false, line);
                else
                    filer.SkipBlock();
                break;
            case lkDocument:
            case lkClipboard:
            case lkLibrary: filer.SkipBlock(); break;
            case lkValue:
            case lkProperty:
                FProps->LoadProp(filer, line, FPanel ? FPanel->RefQueue() : nullptr);
                break;
            }
        }
    } catch (...) {
        FState &= ~csLoading;
        if (FPanel) {
            try {
                FPanel->EndLoading();
            } catch (...) {
                // The first failure is the one to report.
            }
        }
        throw;
    }
    FState &= ~csLoading;
    if (FPanel) FPanel->EndLoading();
    DoNotify(fnLoaded);
}

void TVektControl::AssignStyle(TVektControl& source) {
    for (const char* name : {"Pen", "Brush"}) {
        TCustomProp* from = source.Props().ByName(name);
        TCustomProp* to = Props().ByName(name);
        if (from && to && std::string_view(from->ClassName()) == to->ClassName())
            TPropList::AssignProp(*to, *from);
    }
    SetTransparency(source.Transparency());
}

void TVektControl::GetHintInfo(THintInfo& hintInfo) {
    hintInfo.HintStr = Hint();
}

bool TVektControl::IsValidName(bool nonEmpty, bool uniqueInParent) {
    std::string name = Name();
    if (nonEmpty && name.empty()) return false;
    if (uniqueInParent && FParent)
        for (int i = 0; i < FParent->Count(); ++i) {
            TVektControl* sibling = FParent->Controls(i);
            if (sibling != this && sibling->Name() == name) return false;
        }
    return true;
}
