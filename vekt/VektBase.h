#pragma once

// The control model of the vector document engine: a document is a tree of controls owned by
// one panel. TVektControl is the base of every object in it; the structural classes (groups,
// clones, layers, schemes, the grid) and the panel's document side live here too. All of it runs
// on the user-interface thread.
//
// Units: control geometry (Left, Top, Width, Height, DocRect) is in document units, 1000 to a
// pixel at Scale 100; Left and Top are relative to the parent. Client coordinates are pixels of
// the panel's view (PaintRect, IsPointInside, FindControlAtPoint).
//
// Ownership: a parent owns its children; the panel owns its three roots and through them the
// document. A control that has no parent belongs to whoever created or extracted it; it is freed
// with Free() (never with delete: destruction has to run the virtual teardown first).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Types.h"
#include "VektPath.h"
#include "VektProps.h"
#include "VektUtils.h"

class TCanvas;
class TAlphaBuffer;
class TVektControl;
class TVektPanel;
class TVektLayer;
class TVektLayers;
class TVektCustomScheme;
class TVektSchemes;
class TVektGrid;

// --- Control state, arguments of the virtual operations ---

enum : uint8_t {
    csCreating = 0x01,     // until the end of InitControl
    csDestroying = 0x02,   // set before destruction starts
    csMoving = 0x04,       // between parents
    csExtracting = 0x08,   // children are detached instead of freed
    csResizing = 0x10,     // between StartResizing and FinishResizing
    csInEndUpdate = 0x20,  // EndUpdate is sending its pending notifications
    csHistoryGroup = 0x40, // this control opened a create or destroy history group
    csLoading = 0x80,      // LoadFromFiler runs
};

enum TTransparencyMode : uint8_t { tmAuto = 0, tmBuffered = 1, tmNever = 2 };

// The point (absolute, document units) moved as Translate moves control corners: relative to
// Center, mirrored, rotated, rounded to the nearest integer.
TPoint TranslatePoint(const TPoint& point, const TTranslateInfo& info);

struct THintInfo {
    std::string HintStr;
};

// A depth-first walk over a subtree: the root first, then its subtree in pre-order (children in
// list order), never leaving the root's subtree. The tree must not change during the walk.
struct TPassControlRec {
    TVektControl* Root = nullptr;
    TVektControl* Control = nullptr;
    std::vector<int> Stack; // child index at each level below the root

    void Start(TVektControl* root);
    // To the next control; skipChildren passes over the current control's subtree. False when
    // the walk is over (Control is then none).
    bool Next(bool skipChildren = false);
};

// --- The undo history as the control model drives it ---

// The action classes the control model records, under the names the history registers them.
inline constexpr THistoryActionClass HistoryControlCreate{"TControlCreateHistoryGroup"};
inline constexpr THistoryActionClass HistoryControlDestroy{"TControlDestroyHistoryGroup"};
inline constexpr THistoryActionClass HistoryOrder{"TOrderHistoryAction"};
inline constexpr THistoryActionClass HistoryDocRect{"TDocRectHistoryAction"};
inline constexpr THistoryActionClass HistoryPoints{"TPointsHistoryAction"};

// The panel's undo history. Property changes reach it through IPropHistory (every control's
// property list is connected to its panel's history); the control model opens groups around the
// creation and destruction of controls, records order and rectangle actions, and suspends
// recording while it rebuilds a document.
class IVektHistory : public IPropHistory {
public:
    // Recording is possible at all; callers skip preparing actions otherwise.
    virtual bool IsActive() = 0;
    // Opens an action (or a group) of that class for the control. False when the history refused
    // it; then there is nothing to end or cancel.
    virtual bool BeginAction(const THistoryActionClass& actionClass, TVektControl* source,
                             bool doRecord) = 0;
    // Finishes the innermost recording action or group.
    virtual bool EndAction() = 0;
    // Drops the innermost recording action or group.
    virtual void CancelAction() = 0;
    // BeginAction with recording, then EndAction.
    virtual bool RecordAction(const THistoryActionClass& actionClass, TVektControl* source) = 0;
    // A counter: while positive nothing is recorded. EnableRecording reports whether the counter
    // was already 0.
    virtual void DisableRecording() = 0;
    virtual bool EnableRecording() = 0;
    virtual void Clear() = 0;
    // During an undo or redo step: the control being restored; otherwise none.
    virtual TVektControl* GetProcessingControl() = 0;
};

// A history that records nothing: every action is refused.
class TVektNullHistory : public IVektHistory {
public:
    const THistoryActionClass* PropChangeActionClass() override { return nullptr; }
    void RecordPropAction(const THistoryActionClass*, TCustomProp&) override {}
    bool IsRestoring() override { return false; }
    bool IsActive() override { return false; }
    bool BeginAction(const THistoryActionClass&, TVektControl*, bool) override { return false; }
    bool EndAction() override { return false; }
    void CancelAction() override {}
    bool RecordAction(const THistoryActionClass&, TVektControl*) override { return false; }
    void DisableRecording() override { ++FDisableCount; }
    bool EnableRecording() override;
    void Clear() override {}
    TVektControl* GetProcessingControl() override { return nullptr; }

private:
    int FDisableCount = 0;
};

// --- Control classes and their registry ---

// A control class as documents name it: lookups by class name ignore case.
struct TVektControlClass {
    const char* ClassName;
    TVektControl* (*NewInstance)();
};

template <class T>
const TVektControlClass& ControlClassOf() {
    static const TVektControlClass cls{T::StaticClassName,
                                       []() -> TVektControl* { return new T(); }};
    return cls;
}

// The registry starts with the classes of this unit (TVektLayer, TVektScheme, TVektControl,
// TVektServiceControl, TVektGroup, TVektClone, in that order); registering a class again keeps
// its first entry.
void RegisterControlClass(const TVektControlClass& cls);
const TVektControlClass* FindControlClass(std::string_view className);
const std::vector<const TVektControlClass*>& RegisteredControlClasses();

// Frees through TVektControl::Free, for owners that hold a control in a smart pointer.
struct TVektControlFree {
    void operator()(TVektControl* control) const;
};
using TVektControlPtr = std::unique_ptr<TVektControl, TVektControlFree>;

// --- TVektControl ---

class TVektControl : public IPropControl {
public:
    static constexpr const char* StaticClassName = "TVektControl";

    TVektControl();
    TVektControl(const TVektControl&) = delete;
    TVektControl& operator=(const TVektControl&) = delete;

    // Creates a control of class T on the panel (or none), under parent (or none). The C++
    // constructor only builds an inert object; the creation sequence runs afterwards so that
    // overrides take part. On an exception the half-built control is freed and the exception
    // passes on. A control without parent is the caller's to free.
    template <class T>
    static T* New(TVektPanel* panel, TVektLayer* layer = nullptr, TVektControl* parent = nullptr) {
        T* control = new T();
        control->RunCreate(panel, layer, parent);
        return control;
    }
    static TVektControl* NewOfClass(const TVektControlClass& cls, TVektPanel* panel,
                                    TVektLayer* layer = nullptr, TVektControl* parent = nullptr);

    // Frees the control and its subtree, detaching it from its parent and panel.
    void Free();

    virtual const char* ClassName() const { return StaticClassName; }

    // The virtual operations, in their fixed order. Path operations (points, edit points) belong
    // to shapes with points; the base reports none.
    virtual void InitControl(TVektControl* parent, TVektLayer* layer);
    virtual void DoneControl();
    virtual void CreateProperties();
    virtual void ControlCreate();
    virtual void ControlDestroy();
    virtual void ControlTranslate(const TTranslateInfo& info);
    virtual void StartSelectionMove() {}
    virtual void FinishSelectionMove() {}
    virtual void MirrorInResize(bool horizontal, bool vertical);
    virtual void Reroute() {}
    virtual bool GetCreationInfo(TCreationInfo& info);
    // A curve with this control's outline, or none when the class cannot be converted.
    virtual TVektControl* CreateCurveControl() { return nullptr; }
    virtual bool GetEditPointsAt(const TPoint& point, TEditPointsInfo& info);
    virtual bool MoveEditPoint(int index, TPoint& delta, bool smooth, bool symmetric,
                               const TSelectedArray* selected);
    virtual bool MoveCurveSegment(int index, int nextIndex, double t, TPoint& delta);
    virtual void DoNotify(TVektNotify notify);
    virtual void GetHintInfo(THintInfo& hintInfo);
    // paintRect: the control's rectangle in client pixels.
    virtual void Paint(TCanvas& canvas, const TRect& paintRect);
    // paintX, paintY: the control's absolute position in document units.
    virtual void PaintAll(TCanvas& canvas, int32_t paintX, int32_t paintY);
    // origin: absolute document units.
    virtual void StartResizing(const TPoint& origin);
    virtual void FinishResizing();
    virtual void PropBeforeChanged(TCustomProp& prop);
    virtual void PropChanged(TCustomProp& prop);
    virtual void PropStored(TCustomProp& prop, std::string_view subPropName, bool& isStored);
    virtual void PropReadOnly(TCustomProp& prop, bool& isReadOnly);
    virtual void PropHistoryAction(TCustomProp& prop, const THistoryActionClass*& actionClass);
    // In client pixels; false when the control has no anchor.
    virtual bool GetAnchorPoint(TPoint& point);
    virtual void GetLinkProps(TLinkProp*& linkA, TLinkProp*& linkB);
    virtual bool GetDefaultLinkPoint(int index, TPoint& point);
    virtual int GetDefaultLinkPointCount() { return 0; }
    virtual TPoint GetPoint(int index);
    virtual void SetPoint(int index, const TPoint& point);
    virtual TPointType GetPointType(int index);
    virtual void SetPointType(int index, TPointType type);
    virtual int GetPointCount() { return 0; }
    virtual bool GetIsPointsClosed() { return true; }
    virtual void SetIsPointsClosed(bool value);
    virtual const TPathInfo* GetPathInfo() { return nullptr; }
    // rect: absolute, document units.
    virtual void SetDocRect(const TRect& rect);
    virtual bool IsValidName(bool nonEmpty, bool uniqueInParent);
    // The area this control paints when placed at (refreshX, refreshY), document units.
    virtual TRect GetRefreshRect(int32_t refreshX, int32_t refreshY);
    TNotifyLink& GetNotifyLink() override;
    virtual void TranslateLinkPoints(const TTranslateInfo& info);
    virtual void ScaleLinkPoints(const TRect& oldRect, const TRect& newRect);
    virtual bool IsSelectable();
    virtual bool IsGroup() { return false; }
    // The creation sequence (the virtual constructor): sets up the lists, then InitControl.
    virtual void Create(TVektPanel* panel, TVektLayer* layer, TVektControl* parent);
    virtual int CursorInCreate() { return 7; }
    virtual bool IsConnector() { return false; }
    virtual void BeginUpdate();
    // True when the update count returned to zero.
    virtual bool EndUpdate();
    virtual void BeginGroupUpdate();
    virtual void EndGroupUpdate();
    virtual void Invalidate();
    // Makes control a child of this one (moving it from its old parent and panel); its index, or
    // -1 when refused.
    virtual int Add(TVektControl* control);
    virtual void Delete(int index);
    // Detaches control from this one; the caller then owns it.
    virtual void Extract(TVektControl* control);
    virtual void Clear();
    virtual void ChangeOrder(int curIndex, int newIndex);
    // x, y: client pixels.
    virtual TVektControl* FindControlAtPoint(int32_t x, int32_t y);
    virtual void BeginPointsEdit();
    virtual void EndPointsEdit();
    virtual int GetNodeIndex(int pointIndex);
    virtual int GetPointIndex(int nodeIndex);
    virtual int InsertPoint(int index, const TPoint& point);
    virtual int InsertCurvePoints(int index, const TPoint& point, const TPoint& ctrlPointA,
                                  const TPoint& ctrlPointB);
    virtual bool DeletePoint(int index);
    virtual int InsertNearestPoint(const TPoint& point);
    virtual bool SetPointsEx(const TPointArray& points, const TPointTypeArray& types);
    virtual bool GetPointsEx(TPointArray& points, TPointTypeArray& types);
    virtual bool EditPoints(TPathEditFunc func, const TSelectedArray& selected,
                            const TPathEditOffset* params);
    virtual TPathEditFuncs EditPointsCaps(const TSelectedArray& selected);
    virtual bool FlattenPoints(int curvature);
    virtual bool FindNearestPoint(const TPoint& point, TNearestPoint& info);
    virtual bool FindNearestPathSegment(const TPoint& point, TNearestPoint* nearest, bool forInsert,
                                        bool forSelect, const TSelectedArray* selected,
                                        int& pointIndex, int& nextIndex);
    // x, y: client pixels.
    virtual bool IsPointInside(int32_t x, int32_t y);
    // The point (absolute, document units) belongs to a connector's link property and must stay
    // valid until it is deleted here; it then moves with this control.
    int AddLinkPoint(TPoint* point) override;
    int IndexOfLinkPoint(const TPoint* point) override;
    void DeleteLinkPoint(int index) override;
    virtual void Translate(const TTranslateInfo& info);
    virtual void SaveToFiler(TVektFiler& filer, int indent);
    virtual void LoadFromFiler(TVektFiler& filer);
    virtual void AssignStyle(TVektControl& source);

    // --- Tree ---
    TVektPanel* Panel() const { return FPanel; }
    TVektControl* Parent() const { return FParent; }
    // Setting it calls newParent->Add(this), or oldParent->Extract(this) for none.
    void SetParent(TVektControl* parent);
    TVektLayer* Layer() const { return FLayer; }
    void SetLayer(TVektLayer* layer);
    int Count() const { return static_cast<int>(FChildren.size()); }
    TVektControl* Controls(int index) const { return FChildren[index].get(); }
    int IndexOf(const TVektControl* control) const;
    // Among the children, case-sensitive, first match.
    TVektControl* FindByName(std::string_view name) const;
    // In the subtree (this control included), pre-order.
    TVektControl* FindByID(uint32_t id);
    // The nearest scheme ancestor.
    TVektCustomScheme* OwnerScheme() const;
    // The control itself when it has no parent.
    TVektControl* TopParent();
    uint8_t State() const { return FState; }
    int UpdateCount() const { return FUpdateCount; }

    // --- Standard properties ---
    uint32_t ID() const;
    void SetID(uint32_t id);
    std::string Name() const;
    void SetName(const std::string& name);
    int32_t Tag() const;
    void SetTag(int32_t value);
    int32_t Left() const;
    void SetLeft(int32_t value);
    int32_t Top() const;
    void SetTop(int32_t value);
    int32_t Width() const;
    void SetWidth(int32_t value);
    int32_t Height() const;
    void SetHeight(int32_t value);
    bool Visible() const;
    void SetVisible(bool value);
    bool ShowHint() const;
    bool Selectable() const;
    void SetSelectable(bool value);
    int32_t Transparency() const;
    void SetTransparency(int32_t value);
    // The Hint lines joined by CR LF.
    std::string Hint() const;
    TPropList& Props() { return *FProps; }
    TLongWordProp* PropID() const { return FIDProp; }
    TStrProp* PropName() const { return FNameProp; }
    TIntProp* PropLeft() const { return FLeftProp; }
    TIntProp* PropTop() const { return FTopProp; }
    TIntProp* PropWidth() const { return FWidthProp; }
    TIntProp* PropHeight() const { return FHeightProp; }
    TBoolProp* PropVisible() const { return FVisibleProp; }
    TLayerProp* PropLayer() const { return FLayerProp; }
    TSchemeRefProp* PropReference() const { return FReferenceProp; }
    TBoolProp* PropSelectable() const { return FSelectableProp; }

    // --- Geometry ---
    // (Left, Top, Left + Width, Top + Height) offset by every ancestor's Left and Top.
    TRect DocRect() const;
    // DocRect in client pixels at the panel's Scale and Origin.
    TRect PaintRect() const;
    // A point relative to this control (document units) in the panel's client pixels, and back.
    TPoint ClientToOwner(const TPoint& point) const;
    TPoint OwnerToClient(const TPoint& point) const;

    bool IsSelected() const;
    void SetSelected(bool value);

    // --- Link points ---
    int LinkPointsCount() const { return static_cast<int>(FLinkPoints.size()); }
    TPoint LinkPoints(int index) const { return *FLinkPoints[index]; }
    // Moves the point; sends fnLinkPoints.
    void SetLinkPoints(int index, const TPoint& point);

    // While a translation runs, link points are moved by it rather than rescaled.
    void BeginTranslate() { ++FTranslateCount; }
    void EndTranslate() {
        if (FTranslateCount > 0) --FTranslateCount;
    }

    // Painting state.
    bool PaintsWithoutVisibilityTest() const { return FNoVisibilityTest; }
    bool IsContainerWithoutOwnPainting() const { return FNoOwnPaint; }
    TTransparencyMode TransparencyMode() const { return FTransparencyMode; }
    void SetTransparencyMode(TTransparencyMode mode) { FTransparencyMode = mode; }

    // --- IPropControl ---
    uint32_t GetID() override { return ID(); }
    std::string GetName() override { return Name(); }
    TPropList& GetProps() override { return *FProps; }
    IPropPanel* GetPropPanel() override;
    IPropControl* GetTopParent() override { return TopParent(); }
    IPropControl* FindInSubtree(uint32_t id) override { return FindByID(id); }
    IPropControl* GetLayerControl() override;
    void SetLayerControl(IPropControl* layer) override;

protected:
    // Destruction goes through Free.
    ~TVektControl() override;

    // Runs the creation sequence; frees the control when it throws.
    void RunCreate(TVektPanel* panel, TVektLayer* layer, TVektControl* parent);
    bool IsGeometryProp(const TCustomProp& prop) const {
        return &prop == FLeftProp || &prop == FTopProp || &prop == FWidthProp ||
               &prop == FHeightProp;
    }
    // Changes a standard property's style (service controls lock their geometry).
    static void AddStyle(TCustomProp* prop, uint8_t style) {
        prop->SetStyle(prop->Style() | style);
    }
    static void RemoveStyle(TCustomProp* prop, uint8_t style) {
        prop->SetStyle(prop->Style() & ~style);
    }

    // Painting state, set by the classes.
    bool FNoVisibilityTest = false;
    bool FNoOwnPaint = false;
    TTransparencyMode FTransparencyMode = tmAuto;
    TAlphaBuffer* FAlphaBuffer = nullptr; // the transparency buffer in use while painting

    // The resize snapshot, relative to its origin.
    struct TResizeSnapshot {
        TPoint Origin;
        TRect Rect;
        std::vector<TPoint> LinkPoints;
    };
    const TResizeSnapshot* ResizeSnapshot() const { return FResize.get(); }

private:
    friend class TVektPanel;
    friend class TVektGroup;
    friend class TVektLayer;
    friend class TVektLayers;
    friend class TVektSchemes;
    friend class TVektGrid;

    void WireProps();
    // Sets the ID without the panel's check; read-only states do not stop it.
    void SetIdRaw(uint32_t id);
    // Moves this subtree to another panel (or to none): IDs, history binding, layers.
    void MoveToPanel(TVektPanel* panel);
    // Gives every control of this subtree that is on a layer of another panel this layer.
    void AdoptLayers(TVektLayer* layer);
    void RecordRectChange();
    void FollowLinkPoints();

    TVektPanel* FPanel = nullptr;
    TVektControl* FParent = nullptr;
    TVektLayer* FLayer = nullptr;
    uint8_t FState = 0;
    bool FOnUnparentedList = false;
    bool FIdGuard = false;    // SetIdRaw runs
    bool FFixingSize = false; // a Width or Height of 0 or less is being turned into 1
    std::vector<std::unique_ptr<TVektControl, TVektControlFree>> FChildren;
    std::unique_ptr<TPropList> FProps;
    uint32_t FLastID = 0;
    int FUpdateCount = 0;
    bool FPendingRect = false;
    bool FPendingLinkPoints = false;
    int FPointsEditCount = 0;
    int FGroupUpdateCount = 0;
    int FTranslateCount = 0;
    std::unique_ptr<TNotifyLink> FNotifyLink;
    std::vector<TPoint*> FLinkPoints;
    TRect FPrevRect;
    TRect FLinkRefRect;
    std::unique_ptr<TResizeSnapshot> FResize;

    TLongWordProp* FIDProp = nullptr;
    TIntProp* FTagProp = nullptr;
    TStrProp* FNameProp = nullptr;
    TIntProp* FLeftProp = nullptr;
    TIntProp* FTopProp = nullptr;
    TIntProp* FWidthProp = nullptr;
    TIntProp* FHeightProp = nullptr;
    TBoolProp* FVisibleProp = nullptr;
    TStrListProp* FHintProp = nullptr;
    TBoolProp* FShowHintProp = nullptr;
    TLayerProp* FLayerProp = nullptr;
    TSchemeRefProp* FReferenceProp = nullptr;
    TUserDataProp* FUserDataProp = nullptr;
    TIntProp* FTransparencyProp = nullptr;
    TBoolProp* FSelectableProp = nullptr;

    friend struct TVektControlFree;
};

// --- Structural classes ---

// Marks controls that are not drawing content: layers and their root, schemes and their root,
// the grid.
class TVektServiceControl : public TVektControl {
public:
    static constexpr const char* StaticClassName = "TVektServiceControl";
    const char* ClassName() const override { return StaticClassName; }
};

// A container whose rectangle always encloses its children.
class TVektGroup : public TVektControl {
public:
    static constexpr const char* StaticClassName = "TVektGroup";
    const char* ClassName() const override { return StaticClassName; }

    void ControlCreate() override;
    void ControlTranslate(const TTranslateInfo& info) override;
    void PropBeforeChanged(TCustomProp& prop) override;
    void PropChanged(TCustomProp& prop) override;
    TRect GetRefreshRect(int32_t refreshX, int32_t refreshY) override;
    bool IsGroup() override { return true; }
    void EndGroupUpdate() override;
    bool IsPointInside(int32_t x, int32_t y) override;
    void Translate(const TTranslateInfo& info) override;

    // Fits the group's rectangle to its children, keeping their absolute positions. Inside a
    // group-update bracket it waits for the bracket to close.
    void Refit();

private:
    bool FRefitPending = false;
    bool FMoving = false;
    bool FResizingChildren = false;
    bool FRefitting = false;
    bool FSnapshotTaken = false; // the subtree's resize snapshot waits for the new size
    TRect FMoveRect;             // the rectangle before a move
    TSize FSizeBeforeResize;

    void FinishChildrenResizing();
};

// Repeats the picture of another control (its Source).
class TVektClone : public TVektControl {
public:
    static constexpr const char* StaticClassName = "TVektClone";
    const char* ClassName() const override { return StaticClassName; }

    void CreateProperties() override;
    void ControlCreate() override;
    void ControlDestroy() override;
    void PropChanged(TCustomProp& prop) override;
    void PropStored(TCustomProp& prop, std::string_view subPropName, bool& isStored) override;
    void PropReadOnly(TCustomProp& prop, bool& isReadOnly) override;
    TRect GetRefreshRect(int32_t refreshX, int32_t refreshY) override;

    TVektControl* Source() const;
    void SetSource(TVektControl* source);
    bool AutoSize() const { return FAutoSizeProp->GetValue(); }
    void SetAutoSize(bool value) { FAutoSizeProp->SetValue(value); }
    TLinkProp* PropSource() const { return FSourceProp; }

private:
    void FollowSourceSize();
    void SourceNotify(const TNotifyInfo& info);

    TLinkProp* FSourceProp = nullptr;
    TBoolProp* FAutoSizeProp = nullptr;
    bool FFollowing = false; // copying the source's size past the AutoSize lock
    bool FInRefresh = false; // a source that contains this clone would ask it back
};

class TVektLayer : public TVektServiceControl {
public:
    static constexpr const char* StaticClassName = "TVektLayer";
    const char* ClassName() const override { return StaticClassName; }

    void CreateProperties() override;
    void ControlCreate() override;
    void ControlDestroy() override;
    void PropBeforeChanged(TCustomProp& prop) override;
    void PropChanged(TCustomProp& prop) override;
    void PropStored(TCustomProp& prop, std::string_view subPropName, bool& isStored) override;
    void Invalidate() override;

    bool Moveable() const { return FMoveableProp && FMoveableProp->GetValue(); }
    void SetMoveable(bool value) { FMoveableProp->SetValue(value); }
    bool Resizable() const { return FResizableProp && FResizableProp->GetValue(); }
    void SetResizable(bool value) { FResizableProp->SetValue(value); }
    bool ReadOnly() const { return FReadOnlyProp && FReadOnlyProp->GetValue(); }
    void SetReadOnly(bool value) { FReadOnlyProp->SetValue(value); }

private:
    void UnselectControls();

    TBoolProp* FMoveableProp = nullptr;
    TBoolProp* FResizableProp = nullptr;
    TBoolProp* FReadOnlyProp = nullptr;
    std::string FPrevName;
    bool FRestoringName = false;
};

// The layers root.
class TVektLayers : public TVektServiceControl {
public:
    static constexpr const char* StaticClassName = "TVektLayers";
    const char* ClassName() const override { return StaticClassName; }

    void ControlCreate() override;
    // Only layers; a layer whose name is used among the layers gives that layer's index.
    int Add(TVektControl* control) override;
    void Delete(int index) override;
    void ChangeOrder(int curIndex, int newIndex) override;

    TVektLayer* Layers(int index) const;
    TVektLayer* FindLayer(std::string_view name) const;
};

// Base of schemes (pages).
class TVektCustomScheme : public TVektServiceControl {
public:
    static constexpr const char* StaticClassName = "TVektCustomScheme";
    const char* ClassName() const override { return StaticClassName; }

    void CreateProperties() override;
    void ControlCreate() override;
    void ControlDestroy() override;
    void PaintAll(TCanvas& canvas, int32_t paintX, int32_t paintY) override;
    void PropBeforeChanged(TCustomProp& prop) override;
    void PropChanged(TCustomProp& prop) override;
    void PropStored(TCustomProp& prop, std::string_view subPropName, bool& isStored) override;
    TVektControl* FindControlAtPoint(int32_t x, int32_t y) override;

    bool Default() const { return FDefaultProp && FDefaultProp->GetValue(); }
    void SetDefault(bool value) { FDefaultProp->SetValue(value); }

private:
    TBoolProp* FDefaultProp = nullptr;
    bool FDefaultGuard = false;
    std::string FPrevName;
    bool FRestoringName = false;
};

// A page with its background.
class TVektScheme : public TVektCustomScheme {
public:
    static constexpr const char* StaticClassName = "TVektScheme";
    const char* ClassName() const override { return StaticClassName; }

    void CreateProperties() override;
    void ControlCreate() override;
    void PropStored(TCustomProp& prop, std::string_view subPropName, bool& isStored) override;

    TBrushProp* Brush() const { return FBrushProp; }
    TPictureProp* Picture() const { return FPictureProp; }
    TBackgroundOptionsProp* Background() const { return FBackgroundProp; }

private:
    TBrushProp* FBrushProp = nullptr;
    TPictureProp* FPictureProp = nullptr;
    TBackgroundOptionsProp* FBackgroundProp = nullptr;
};

// The schemes root: the document itself.
class TVektSchemes : public TVektServiceControl {
public:
    static constexpr const char* StaticClassName = "TVektSchemes";
    static constexpr int32_t DocumentVersion = 170;
    static constexpr int32_t DefaultConnectorsMinGap = 8000;
    const char* ClassName() const override { return StaticClassName; }

    void CreateProperties() override;
    void ControlCreate() override;
    void PropChanged(TCustomProp& prop) override;
    void PropStored(TCustomProp& prop, std::string_view subPropName, bool& isStored) override;
    // Only schemes.
    int Add(TVektControl* control) override;
    void Delete(int index) override;
    void ChangeOrder(int curIndex, int newIndex) override;

    TVektCustomScheme* Schemes(int index) const;
    int32_t Version() const { return FVersionProp->GetValue(); }
    int32_t ConnectorsMinGap() const { return FConnectorsMinGapProp->GetValue(); }
    void SetConnectorsMinGap(int32_t value) { FConnectorsMinGapProp->SetValue(value); }
    bool ConnectorLinkToPoint() const { return FConnectorLinkToPointProp->GetValue(); }

private:
    TIntProp* FVersionProp = nullptr;
    TIntProp* FConnectorsMinGapProp = nullptr;
    TBoolProp* FConnectorLinkToPointProp = nullptr;
};

// The panel's grid: a service control as large as the page. Its drawing settings come with the
// panel's painting.
class TVektGrid : public TVektServiceControl {
public:
    static constexpr const char* StaticClassName = "TVektGrid";
    const char* ClassName() const override { return StaticClassName; }

    void CreateProperties() override;
    void ControlCreate() override;
};

// --- TVektPanel: the document side ---

class TVektPanel : public IPropPanel {
public:
    using TOnNotify =
        std::function<void(TVektPanel& sender, TVektControl* control, TVektNotify notify)>;
    using TOnPropChange = std::function<void(TVektControl* control, TCustomProp& prop)>;

    static constexpr int32_t DefaultDocWidth = 320000;
    static constexpr int32_t DefaultDocHeight = 240000;
    static constexpr int32_t MinScale = 1;
    static constexpr int32_t MaxScale = 50000;

    // A new panel holds one scheme and one layer.
    TVektPanel();
    ~TVektPanel() override;
    TVektPanel(const TVektPanel&) = delete;
    TVektPanel& operator=(const TVektPanel&) = delete;

    // The component name that links from other panels carry.
    std::string ComponentName;

    // --- Document structure ---
    TVektSchemes* Schemes() const { return FSchemes; }
    TVektLayers* Layers() const { return FLayers; }
    TVektGrid* Grid() const { return FGrid; }
    // Controls that have this panel but no parent. The panel does not own them.
    const std::vector<TVektControl*>& Unparented() const { return FUnparented; }
    TVektCustomScheme* ActiveScheme() const { return FActiveScheme; }
    void SetActiveScheme(TVektCustomScheme* scheme);
    TVektLayer* ActiveLayer() const { return FActiveLayer; }
    void SetActiveLayer(TVektLayer* layer);
    // Removes every scheme and layer (with the controls on them), with the history suspended.
    virtual void EmptyDocument();
    // EmptyDocument, then one scheme and one layer, both active.
    virtual void NewDocument();

    // --- Loading ---
    // A counter: IDs, names and deferred references are settled when it returns to zero.
    virtual void BeginLoading();
    virtual void EndLoading();
    bool IsLoading() const { return FLoadingCount > 0; }
    // The deferred values of the current load; none outside a load.
    TPropRefList* RefQueue() const { return FRefQueue.get(); }
    // Reads one object block whose "object" line (or record) is firstLine, creating the control
    // under parent (a layer or scheme without parent joins its root, and is dropped under any
    // other parent; any other control without parent is dropped unless allowUnparented).
    // Unknown classes are skipped with their block. While pasting, a control without a layer
    // takes the active layer and a control put into a scheme is selected.
    virtual TVektControl* LoadControl(TVektFiler& filer, TVektControl* parent, bool allowUnparented,
                                      const std::string& firstLine);
    // The name and class an object line (or record 4) gives; false for a text line without ":".
    static bool ParseObjectLine(const TVektFiler& filer, const std::string& line, std::string& name,
                                std::string& className);

    // --- Documents ---
    enum : int { lmReplace = 0, lmPaste = 1 };
    // Write documents in the binary form; set from the last document read.
    bool SaveAsBinary = false;
    // Progress of the filers CreateFiler made, in percent, for the process they work for.
    using TOnProgress =
        std::function<void(TVektPanel& sender, int progress, TVektFilerProcess process)>;
    TOnProgress OnProgress;
    // Reads a document (lmReplace) or pasted controls (lmPaste) from the stream's position.
    bool LoadFromStream(TStream& stream, int loadMode);
    // lmReplace replaces the document: a document that fails to load leaves a new document and
    // the error passes on. lmPaste puts the controls of a clipboard (or document) block into
    // the active scheme. The first line must open a document (or, when pasting, a clipboard)
    // block: "Data format error" otherwise.
    virtual void LoadFromFiler(TVektFiler& filer, int loadMode);
    // The document (the schemes root's properties, the layers, then root's children, or root
    // itself; root defaults to the schemes root with childrenOnly), or the selection as a
    // clipboard block. In the binary form when SaveAsBinary is set; a binary section is left
    // open (no record 9) until the filer leaves the binary form.
    void SaveToFiler(TVektFiler& filer, bool selectionOnly, bool childrenOnly = false,
                     TVektControl* root = nullptr);
    // A filer whose progress goes to OnProgress: reading for ppLoad, writing for ppSave, both
    // for ppCopy (writing as 0-50, reading as 50-100).
    std::unique_ptr<TVektFiler> CreateFiler(TStream& stream, TVektFilerProcess process,
                                            bool binary);
    // Replaces this document by a copy of source's.
    void Assign(TVektPanel& source);
    // The load mode of the document load that runs (lmReplace outside one).
    int LoadMode() const { return FLoadMode; }

    // --- Clipboard ---
    static constexpr const char* ControlsClipboardFormat = "VektGraphics controls";
    // The controls format is there, or (unless controlsOnly) a picture or plain text that a
    // registered picture or text class could take.
    bool CanPaste(bool controlsOnly);
    // Pastes the controls format into the active scheme; false when there was nothing to paste.
    bool PasteFromClipboard(bool controlsOnly);
    // Puts the selection on the clipboard in the controls format; false without a selection.
    bool CopyToClipboard();

    // --- IDs and names ---
    TIdPool& IdPool() { return FIdPool; }
    // The control with this ID in the document, the layers or the unparented controls.
    TVektControl* FindByID(uint32_t id) const;
    bool AutoNames = true;
    bool AutoNameNumbs = false;
    // The class name without "TVekt" (or "T"), numbered with the smallest positive number that
    // no other control of the scope (a subtree, or the schemes and then the layers) carries.
    std::string AutoName(const TVektControl& control, TVektControl* scope, bool numbered);

    // --- Selection (direct children of schemes only) ---
    bool Select(TVektControl* control);
    bool Unselect(TVektControl* control);
    bool IsSelected(const TVektControl* control) const;
    void UnselectAll();
    int SelectedCount() const { return static_cast<int>(FSelection.size()); }
    TVektControl* Selected(int index) const { return FSelection[index]; }
    // Rotates and mirrors the selection by whole quarter turns (the angle is rounded to one);
    // controls on read-only layers stay.
    void TranslateSelection(const TTranslateInfo& info);

    // --- View ---
    // Page size in document units; mirrored by the schemes root's Width and Height.
    int32_t DocWidth() const { return FDocWidth; }
    int32_t DocHeight() const { return FDocHeight; }
    void SetDocWidth(int32_t value);
    void SetDocHeight(int32_t value);
    // Percent; clamped to MinScale..MaxScale.
    int32_t Scale() const { return FScale; }
    void SetScale(int32_t value);
    // The pixel of the scaled document shown at the client's top-left corner.
    TPoint Origin() const { return FOrigin; }
    void SetOrigin(const TPoint& origin) { FOrigin = origin; }
    TPoint DocToClient(const TPoint& point) const;
    TRect DocToClient(const TRect& rect) const;
    TPoint ClientToDoc(const TPoint& point) const;
    int32_t ConnectorsMinGap() const;
    void SetConnectorsMinGap(int32_t value);

    // --- What controls report ---
    virtual void DoNotify(TVektControl* control, TVektNotify notify);
    virtual void DoPropBeforeChanged(TVektControl* control, TCustomProp& prop);
    virtual void DoPropChanged(TVektControl* control, TCustomProp& prop);
    // Repaints the control's area when it shows; true when its children must be invalidated too.
    virtual bool InvalidateControl(TVektControl* control);
    // Repaints the whole view.
    virtual void Invalidate();
    // The area waiting to be repainted, client pixels; everything after Invalidate.
    const TRect& UpdateRect() const { return FUpdateRect; }
    bool UpdateAll() const { return FUpdateAll; }
    void Validate() {
        FUpdateRect = TRect();
        FUpdateAll = false;
    }

    bool Modified = false;
    bool IsDestroying() const { return FDestroying; }

    IVektHistory& History() { return *FHistory; }
    // Replaces the history; every control's property list is connected to the new one.
    void SetHistory(std::unique_ptr<IVektHistory> history);

    TNotifyLink& NotifyLink() { return FNotifyLink; }
    TOnNotify OnNotify;
    TOnPropChange OnPropBeforeChanged;
    TOnPropChange OnPropChanged;

    // --- IPropPanel ---
    IPropControl* FindControlByID(uint32_t id) override { return FindByID(id); }
    std::string GetComponentName() override { return ComponentName; }
    void GetLayerControls(std::vector<IPropControl*>& layers) override;
    void GetSchemeControls(std::vector<IPropControl*>& schemes) override;
    void JumpToScheme(IPropControl* scheme) override;

protected:
    // Adds a client-pixel rectangle to the area waiting to be repainted.
    virtual void InvalidateClientRect(const TRect& rect);

private:
    friend class TVektControl;
    friend class TVektLayer;
    friend class TVektLayers;
    friend class TVektSchemes;
    friend class TVektCustomScheme;
    friend class TVektGrid;

    TVektControl* ReadControl(TVektFiler& filer, TVektControl* parent, bool allowUnparented,
                              const std::string& firstLine);
    void AddUnparented(TVektControl* control);
    void RemoveUnparented(TVektControl* control);
    // Registers the control's current ID (which must be free) with the pool.
    void RegisterId(TVektControl& control);
    void ReleaseId(TVektControl& control, uint32_t id);
    uint32_t NewIdFor(TVektControl& control);
    // The control's ID property changed from oldId: takes the new ID, or replaces a taken one.
    void CheckID(TVektControl& control, uint32_t oldId);
    bool IsDocumentControl(TVektControl* control);
    void RerouteConnectors();
    void ApplyReferences();

    TVektSchemes* FSchemes = nullptr;
    TVektLayers* FLayers = nullptr;
    TVektGrid* FGrid = nullptr;
    bool FCreatingRoots = false;
    std::vector<TVektControl*> FUnparented;
    TVektCustomScheme* FActiveScheme = nullptr;
    TVektLayer* FActiveLayer = nullptr;
    TIdPool FIdPool;
    // Who holds each ID of the pool; FindByID answers from it.
    std::unordered_map<uint32_t, TVektControl*> FIdIndex;
    int FLoadingCount = 0;
    int FLoadMode = lmReplace;
    std::unique_ptr<TPropRefList> FRefQueue;
    std::unique_ptr<IVektHistory> FHistory;
    std::vector<TVektControl*> FSelection;
    int32_t FDocWidth = DefaultDocWidth;
    int32_t FDocHeight = DefaultDocHeight;
    int32_t FScale = 100;
    TPoint FOrigin;
    TRect FUpdateRect;
    bool FUpdateAll = false;
    bool FDestroying = false;
    TNotifyLink FNotifyLink;
};
