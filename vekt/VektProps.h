#pragma once

// The property system: every persistent value of a document control is a property object in the
// control's property list. A property owns its value, refuses changes while read-only, announces
// every change before and after it happens, and knows how its value is written to and read from
// the document text form. The binary form shares the same value access (GetPropValue,
// SetPropValue, GetPropType and the published sub-property table): its writer converts the lines
// SaveProp writes, and its reader hands the typed value of a record to TPropList::LoadValue (or
// through TVektFiler::TakeValue when it goes through LoadProp).

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Bitmap.h"
#include "Canvas.h"
#include "Variant.h"
#include "VektUtils.h"

class TCustomProp;
class TPictureProp;
class TPropList;
class TPropRefList;

// --- Styles, kinds, colours ---

enum : uint8_t {
    propReadOnly = 0x01,
    propNotStored = 0x04,
    propNoRepaint = 0x08,
    propHasEditor = 0x20,
    propDocUnits = 0x40,
    propDeferredLoad = 0x80,
};

enum TPropKind : uint8_t { pkPlain = 0, pkComplex = 1, pkStrList = 2, pkData = 3 };

// --- What the property system needs of the rest of the engine ---

// An undo action class as the history's registry knows it; the property system only hands it
// from the history to the owner's callback and back.
struct THistoryActionClass {
    const char* ClassName;
};

// The undo history of the panel, as a property list sees it.
class IPropHistory {
public:
    virtual ~IPropHistory() = default;
    // The class recorded for a property change unless the owner picks another (or none).
    virtual const THistoryActionClass* PropChangeActionClass() = 0;
    // Records an action of that class for the property, before its value changes.
    virtual void RecordPropAction(const THistoryActionClass* actionClass, TCustomProp& prop) = 0;
    // True while an undo or redo step runs: values read back then reach read-only properties.
    virtual bool IsRestoring() = 0;
};

class IPropPanel;

// What link, layer and scheme-reference properties need of the control that owns their list.
// The control class implements it; a list whose owner is no control works without it (those
// properties then hold plain values).
//
// What a control does for its properties:
// - creates its TPropList with itself as the control and wires OnPropBeforeChanged,
//   OnPropChanged, OnPropStored (preset with the sub-property rule; the control decides the
//   rest), OnPropReadOnly, and OnPropHistoryAction when it chooses undo actions itself;
// - hands the list its panel's history (SetHistory) once it is created, and none while it has
//   no panel;
// - runs the Layer property's DoBeforeChanged / DoChanged around SetLayerControl;
// - announces its destruction through GetNotifyLink (DestroyNotify) before its properties
//   are freed, and fnName / fnID / fnRect ... through ControlNotify as they happen: link
//   properties rebuild their paths and unlink on those.
class IPropControl {
public:
    virtual ~IPropControl() = default;
    virtual uint32_t GetID() = 0;
    virtual std::string GetName() = 0;
    virtual TPropList& GetProps() = 0;
    virtual TNotifyLink& GetNotifyLink() = 0;
    // The panel the control lives on, or none.
    virtual IPropPanel* GetPropPanel() = 0;
    // The top of the control's ancestor chain (the control itself when it has no parent).
    virtual IPropControl* GetTopParent() = 0;
    // The control with that ID in this control's subtree (itself included), pre-order; or none.
    virtual IPropControl* FindInSubtree(uint32_t id) = 0;
    // The control's layer (a control itself), or none; changing it runs the Layer property's
    // change protocol on the control side.
    virtual IPropControl* GetLayerControl() = 0;
    virtual void SetLayerControl(IPropControl* layer) = 0;
    // The points of link-point properties attached to this control, which move with it. The
    // control keeps the pointers; the properties own the points and take them back.
    virtual int AddLinkPoint(TPoint* point) = 0;
    virtual int IndexOfLinkPoint(const TPoint* point) = 0;
    virtual void DeleteLinkPoint(int index) = 0;
};

// What the same properties need of the document panel.
class IPropPanel {
public:
    virtual ~IPropPanel() = default;
    virtual IPropControl* FindControlByID(uint32_t id) = 0;
    // The panel's component name, prefixed to links that point into another panel.
    virtual std::string GetComponentName() = 0;
    virtual void GetLayerControls(std::vector<IPropControl*>& layers) = 0;
    virtual void GetSchemeControls(std::vector<IPropControl*>& schemes) = 0;
    virtual void JumpToScheme(IPropControl* scheme) = 0;
};

// Finds the panel a link path names by its component name. This system registers none, so links
// into other panels stay unresolved.
using TFindPanelHook = std::function<IPropPanel*(const std::string& componentName)>;
void SetFindPanelHook(TFindPanelHook hook);

// --- Published sub-properties ---

enum class TSubPropType : uint8_t {
    Integer,
    Int64,
    Float,
    Enum,
    Boolean,
    Set,
    String,
    Data,
    Object
};

// One published sub-property of a complex property class, in writing order.
struct TSubPropInfo {
    const char* Name;
    TSubPropType Type;
    const std::vector<std::string>* Names = nullptr; // Enum and Set
    bool HasDefault = false;                         // ordinal types: Default is not written
    int64_t Default = 0;
};

struct TEnumItem {
    std::string Name;
    IPropControl* Object = nullptr;
};

// --- TCustomProp ---

class TCustomProp {
public:
    // Registers the property in `list` under `name` (the list then owns it); without a list the
    // property is free-standing and belongs to whoever created it.
    TCustomProp(TPropList* list, const std::string& name, TPropKind kind, uint8_t style = 0);
    virtual ~TCustomProp();
    TCustomProp(const TCustomProp&) = delete;
    TCustomProp& operator=(const TCustomProp&) = delete;

    virtual const char* ClassName() const { return "TCustomProp"; }

    const std::string& Name() const { return FName; }
    // "Pen.PenArmed.Color"-style name for messages.
    std::string QualifiedName(std::string_view subPropName = {}) const;
    TPropList* List() const { return FList; }
    // The property this one is a published sub-object of, or none.
    TCustomProp* ParentProp() const { return FParentProp; }
    void SetParentProp(TCustomProp* parent, const std::string& name);
    TCustomProp& RootProp();
    // The list that hears this property's changes: its own, or its parent's.
    TPropList* OwnerList() const;
    IPropControl* OwnerControl() const;

    uint8_t Style() const { return FStyle; }
    void SetStyle(uint8_t style) { FStyle = style; }
    TPropKind Kind() const { return FKind; }

    // While set, a change of this property records no undo action.
    bool SuppressHistory = false;

    // Created on first use.
    TNotifyLink& NotifyLink();
    bool HasNotifyLink() const { return FNotifyLink != nullptr; }

    bool IsReadOnly() const;

    // The virtual operations, in order.
    virtual std::string GetDisplayValue();
    virtual void SetDisplayValue(const std::string& text);
    virtual void DoBeforeChanged();
    virtual void DoChanged();
    // An empty name addresses the property's own value; a name a published sub-property.
    virtual void SetPropValue(std::string_view propName, const TVariant& value);
    virtual TVariant GetPropValue(std::string_view propName);
    virtual TPropKind GetPropType(std::string_view propName);
    // Applies a pen, brush or font to a canvas at a scale in percent; others do nothing.
    virtual void Setup(TCanvas& canvas, int scale);
    virtual bool Edit();
    virtual void GetEnumList(std::vector<TEnumItem>& items);
    virtual bool IsSubPropStored(std::string_view subPropName);

    // Published sub-properties (empty for plain classes).
    virtual const std::vector<TSubPropInfo>& Published() const;
    int IndexOfPublished(std::string_view name) const;
    // The published sub-object of that name, or none.
    TCustomProp* GetSubPropObject(std::string_view name);

protected:
    // Raw access to published values for the generic conversions, defaults and the change
    // protocol; a complex class answers for the indexes of its table.
    virtual int64_t GetOrdinal(int index) const;
    virtual void StoreOrdinal(int index, int64_t value);
    virtual std::string GetString(int index) const;
    virtual void StoreString(int index, const std::string& value);
    virtual double GetFloat(int index) const;
    virtual void StoreFloat(int index, double value);
    virtual TVariant GetData(int index);
    virtual void SetData(int index, const TVariant& value);
    // A published sub-object (Object type): the class creates and owns it, free-standing and
    // parented with SetParentProp, so its changes reach this property's list.
    virtual TCustomProp* PublishedObject(int index);
    // The published stored rule of a sub-property (defaults are handled before it is asked).
    virtual bool IsPublishedStored(int index);
    // Converts `value` for the published slot and changes it through the protocol.
    virtual void SetPublished(int index, const TVariant& value);
    TVariant GetPublished(int index);

    // The change protocol for published slots, for setters of the classes.
    bool ChangeOrdinal(int index, int64_t value);
    bool ChangeString(int index, const std::string& value);
    bool ChangeFloat(int index, double value);

    // Equal → stop; read-only → stop; before; store; after.
    template <class T, class U>
    bool ChangeField(T& field, const U& value) {
        if (field == value || IsReadOnly()) return false;
        DoBeforeChanged();
        field = value;
        DoChanged();
        return true;
    }

private:
    friend class TPropList;
    friend class TPropRefList;

    TPropList* FList = nullptr;
    TCustomProp* FParentProp = nullptr;
    std::string FName;
    uint8_t FStyle;
    TPropKind FKind;
    std::unique_ptr<TNotifyLink> FNotifyLink;
    int FQueuedCount = 0; // entries in reference queues that point here
};

// --- Plain classes ---

class TEnumProp : public TCustomProp {
public:
    TEnumProp(TPropList* list, const std::string& name, uint8_t style = 0);
    const char* ClassName() const override { return "TEnumProp"; }

    int AddItem(const std::string& name);
    const std::vector<std::string>& Items() const { return FItems; }
    int EnumIndex() const { return FIndex; }
    // Out-of-range indexes are ignored.
    void SetEnumIndex(int index);
    // The current name, or empty when the index names none.
    std::string Current() const;

    std::string GetDisplayValue() override;
    void SetPropValue(std::string_view propName, const TVariant& value) override;
    TVariant GetPropValue(std::string_view propName) override;
    void GetEnumList(std::vector<TEnumItem>& items) override;

protected:
    int IndexOfName(std::string_view name) const;
    std::vector<std::string> FItems;
    int FIndex = 0;
};

class TBoolProp : public TEnumProp {
public:
    TBoolProp(TPropList* list, const std::string& name, uint8_t style = 0);
    const char* ClassName() const override { return "TBoolProp"; }
    bool GetValue() const { return FIndex == 1; }
    void SetValue(bool value) { SetEnumIndex(value ? 1 : 0); }
    void SetPropValue(std::string_view propName, const TVariant& value) override;
    TVariant GetPropValue(std::string_view propName) override;
};

class TIntProp : public TCustomProp {
public:
    using TGetter = std::function<int32_t()>;
    TIntProp(TPropList* list, const std::string& name, uint8_t style = 0);
    const char* ClassName() const override { return "TIntProp"; }

    int32_t GetValue() const;
    void SetValue(int32_t value);
    // The value then lives in that variable (which must outlive the property).
    void BindTo(int32_t* external);
    // The value is then whatever the getter returns.
    void SetGetter(TGetter getter) { FGetter = std::move(getter); }

    std::string GetDisplayValue() override;
    void SetDisplayValue(const std::string& text) override;
    void SetPropValue(std::string_view propName, const TVariant& value) override;
    TVariant GetPropValue(std::string_view propName) override;

private:
    int32_t FValue = 0;
    int32_t* FExternal = nullptr;
    TGetter FGetter;
};

class TLongWordProp : public TCustomProp {
public:
    TLongWordProp(TPropList* list, const std::string& name, uint8_t style = 0);
    const char* ClassName() const override { return "TLongWordProp"; }
    uint32_t GetValue() const { return FValue; }
    void SetValue(uint32_t value) { ChangeField(FValue, value); }

    std::string GetDisplayValue() override;
    void SetDisplayValue(const std::string& text) override;
    void SetPropValue(std::string_view propName, const TVariant& value) override;
    TVariant GetPropValue(std::string_view propName) override;

private:
    uint32_t FValue = 0;
};

class TStrProp : public TCustomProp {
public:
    using TGetter = std::function<std::string()>;
    TStrProp(TPropList* list, const std::string& name, uint8_t style = 0);
    const char* ClassName() const override { return "TStrProp"; }

    virtual std::string GetValue() const;
    virtual void SetValue(const std::string& value);
    void SetGetter(TGetter getter) { FGetter = std::move(getter); }

    std::string GetDisplayValue() override;
    void SetPropValue(std::string_view propName, const TVariant& value) override;
    TVariant GetPropValue(std::string_view propName) override;

protected:
    std::string FValue;
    TGetter FGetter;
};

class TStrListProp : public TCustomProp {
public:
    TStrListProp(TPropList* list, const std::string& name, uint8_t style = 0);
    const char* ClassName() const override { return "TStrListProp"; }

    const std::vector<std::string>& Lines() const { return FLines; }
    void SetLines(std::vector<std::string> lines);
    int Count() const { return static_cast<int>(FLines.size()); }
    // All lines joined by CR LF, without a final one.
    std::string Text() const;
    // Splits at CR LF, CR or LF.
    void SetText(std::string_view text);
    // Lines of the form name=value; names compare without case.
    std::string ValueByName(std::string_view name) const;
    void SetValueByName(std::string_view name, const std::string& value);

    std::string GetDisplayValue() override { return "(Text)"; }
    void SetPropValue(std::string_view propName, const TVariant& value) override;
    TVariant GetPropValue(std::string_view propName) override;

private:
    int IndexOfName(std::string_view name) const;
    std::vector<std::string> FLines;
};

class TUserDataProp : public TStrListProp {
public:
    using TStrListProp::TStrListProp;
    const char* ClassName() const override { return "TUserDataProp"; }
};

// Holds nothing itself: the owner supplies and takes the bytes.
class TDataProp : public TCustomProp {
public:
    using TGetter = std::function<std::vector<uint8_t>()>;
    using TSetter = std::function<void(const std::vector<uint8_t>& bytes)>;
    TDataProp(TPropList* list, const std::string& name, uint8_t style = 0);
    const char* ClassName() const override { return "TDataProp"; }

    TGetter OnGetData;
    TSetter OnSetData;

    std::string GetDisplayValue() override { return "(Data)"; }
    void SetPropValue(std::string_view propName, const TVariant& value) override;
    TVariant GetPropValue(std::string_view propName) override;
};

// The name of the owning control's layer; setting it moves the control to the layer of that
// name.
class TLayerProp : public TStrProp {
public:
    TLayerProp(TPropList* list, const std::string& name, uint8_t style = 0);
    const char* ClassName() const override { return "TLayerProp"; }
    std::string GetValue() const override;
    void SetValue(const std::string& value) override;
    void GetEnumList(std::vector<TEnumItem>& items) override;
};

// The ID of another scheme (page).
class TSchemeRefProp : public TCustomProp {
public:
    TSchemeRefProp(TPropList* list, const std::string& name, uint8_t style = 0);
    const char* ClassName() const override { return "TSchemeRefProp"; }

    uint32_t GetValue() const { return FValue; }
    void SetValue(uint32_t id) { ChangeField(FValue, id); }
    // The referenced scheme, or none.
    IPropControl* Scheme() const;
    void JumpToScheme();

    std::string GetDisplayValue() override;
    void SetPropValue(std::string_view propName, const TVariant& value) override;
    TVariant GetPropValue(std::string_view propName) override;
    void GetEnumList(std::vector<TEnumItem>& items) override;

private:
    uint32_t FValue = 0;
};

// A link to a control, optionally to one property of it, held as a path
// "\ID:Name[\PropName]" (prefixed by the panel's name when the control lives in another panel).
// The property subscribes to the linked control's notify link: a name change rebuilds the path,
// the control's destruction clears the link (through the change protocol, so undo restores it).
class TLinkProp : public TCustomProp {
public:
    using TOnLinkNotify = std::function<void(TLinkProp& link, const TNotifyInfo& info)>;
    TLinkProp(TPropList* list, const std::string& name, uint8_t style = 0);
    ~TLinkProp() override;
    const char* ClassName() const override { return "TLinkProp"; }

    IPropControl* LinkedControl() const { return FControl; }
    TCustomProp* LinkedProp() const { return FProp; }
    void SetLinkedControl(IPropControl* control) { SetLink(control, nullptr); }
    void SetLink(IPropControl* control, TCustomProp* prop);
    // The path of the current target; empty without one.
    const std::string& Path();

    // Every notification the linked control sends (after the link's own handling), so owners
    // can follow the target (connectors re-route, clones repaint).
    TOnLinkNotify OnLinkNotify;

    std::string GetDisplayValue() override { return Path(); }
    void SetPropValue(std::string_view propName, const TVariant& value) override;
    TVariant GetPropValue(std::string_view propName) override;

protected:
    // Called with the new target installed, before the change is announced.
    virtual void TargetChanged(IPropControl* oldControl) { (void)oldControl; }
    bool ResolvePath(const std::string& path, IPropControl*& control, TCustomProp*& prop);

private:
    void Attach(IPropControl* control, TCustomProp* prop);
    void LinkNotify(TNotifyLink& sender, const TNotifyInfo& info);

    IPropControl* FControl = nullptr;
    TCustomProp* FProp = nullptr;
    std::string FPath;
    bool FPathValid = true;
};

// A link plus a point (absolute document units) on the linked control; the point is entered in
// the linked control's link points so that it moves with the control. Only a control's list
// can hold one ("Can't create link prop").
class TLinkPointProp : public TLinkProp {
public:
    TLinkPointProp(TPropList* list, const std::string& name, uint8_t style = 0);
    ~TLinkPointProp() override;
    const char* ClassName() const override { return "TLinkPointProp"; }

    const TPoint& Point() const { return FPoint; }
    // Moves the point without a change notification: the linked control and the connector
    // move it as they go.
    void SetPoint(const TPoint& point) { FPoint = point; }
    TPoint* PointRef() { return &FPoint; }

protected:
    void TargetChanged(IPropControl* oldControl) override;

private:
    TPoint FPoint;
};

// --- TPropList ---

// The properties of one control, sorted by name without regard to case; iteration visits them
// in that order. The list owns its properties.
class TPropList {
public:
    enum class TMode : uint8_t { None, Loading, Saving };

    explicit TPropList(IPropControl* control = nullptr);
    ~TPropList();
    TPropList(const TPropList&) = delete;
    TPropList& operator=(const TPropList&) = delete;

    IPropControl* Control() const { return FControl; }

    // Takes ownership. Refuses a used or reserved name, or a property already in a list, with
    // "Property %s already exist" (names are not checked while the list is loading).
    void Add(TCustomProp* prop, const std::string& name);
    void Delete(int index);
    // Frees all properties, last first.
    void Clear();
    int Count() const { return static_cast<int>(FItems.size()); }
    TCustomProp* Props(int index) const { return FItems[index].Prop; }
    const std::string& Names(int index) const { return FItems[index].Name; }
    int IndexOf(const TCustomProp* prop) const;
    TCustomProp* ByName(std::string_view name) const;
    static bool IsReservedName(std::string_view name);

    bool IsReadOnly(const TCustomProp& prop);
    bool IsStored(TCustomProp& prop, std::string_view subPropName);
    TCustomProp* GetSubProp(TCustomProp& prop, std::string_view name) {
        return prop.GetSubPropObject(name);
    }

    // The text form. SaveAll writes regardless of the stored rules and of propNotStored.
    void SaveProp(TVektFiler& filer, TCustomProp& prop, bool saveAll, const std::string& name,
                  int indent);
    void SaveAll(TVektFiler& filer, int indent, bool saveAll);
    // Reads one property line (and the lines that belong to it) starting with firstLine.
    // Unknown properties and blocks are skipped. Invalid values raise the conversion error of
    // their type, with the property and the position in the message.
    void LoadProp(TVektFiler& filer, const std::string& firstLine, TPropRefList* refList);
    // Applies a value read from a document to a property of this list (or a sub-property):
    // queued when the property loads deferred and a queue is given, else set. The binary reader
    // calls it with the typed value of a record.
    void LoadValue(TCustomProp& prop, std::string_view subPropName, const TVariant& value,
                   TPropRefList* refList);

    // Copies source's value into target (a property of the same kind, possibly in another list)
    // through the text form. False when target is read-only.
    static bool AssignProp(TCustomProp& target, TCustomProp& source);

    // One property's value as the undo history keeps it: its line (or block) of the text form
    // with every sub-property written, so defaults come back too. LoadPropState reads from the
    // stream's position in the list's loading mode, which lets an undo or redo reach read-only
    // properties (IPropHistory::IsRestoring). Links resolve at once, by ID.
    static void SavePropState(TStream& stream, TCustomProp& prop);
    static void LoadPropState(TStream& stream, TCustomProp& prop);

    void BeginLoading();
    void BeginSaving();
    void EndMode();
    TMode Mode() const { return FMode; }
    bool IsLoading() const { return FMode == TMode::Loading; }

    TNotifyLink& NotifyLink() { return FNotifyLink; }
    IPropHistory* History() const { return FHistory; }
    void SetHistory(IPropHistory* history) { FHistory = history; }

    // The queue being applied to this list right now, or none.
    TPropRefList* RefQueue() const { return FRefQueue; }
    bool IsResolving() const { return FResolveCount > 0; }

    // Set by the owner.
    std::function<void(TCustomProp& prop)> OnPropChanged;
    std::function<void(TCustomProp& prop)> OnPropBeforeChanged;
    std::function<void(TCustomProp& prop, std::string_view subPropName, bool& stored)> OnPropStored;
    std::function<void(TCustomProp& prop, bool& readOnly)> OnPropReadOnly;
    std::function<void(TCustomProp& prop, const THistoryActionClass*& actionClass)>
        OnPropHistoryAction;

    // The change protocol's list side, called by the properties.
    void PropBeforeChanged(TCustomProp& prop);
    void PropChanged(TCustomProp& prop);

private:
    friend class TCustomProp;
    friend class TPropRefList;
    struct TItem {
        std::string Name;
        TCustomProp* Prop;
    };
    // Index of the first item not below name (case-insensitive).
    size_t LowerBound(std::string_view name) const;
    void Detach(TCustomProp* prop);

    IPropControl* FControl;
    std::vector<TItem> FItems;
    TNotifyLink FNotifyLink;
    // Lets a queue that applies a value tell whether the value's handlers freed this list.
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
    IPropHistory* FHistory = nullptr;
    TPropRefList* FRefQueue = nullptr;
    int FResolveCount = 0;
    TMode FMode = TMode::None;
    int FModeCount = 0;
    bool FClearing = false;
};

// The queue of deferred values of one load, and the load's ID bookkeeping.
class TPropRefList {
public:
    TPropRefList();
    ~TPropRefList();
    TPropRefList(const TPropRefList&) = delete;
    TPropRefList& operator=(const TPropRefList&) = delete;

    void Add(TCustomProp& prop, std::string_view subPropName, const TVariant& value);
    int Count() const;
    // Applies the queued values, last first, each with its list marked as resolving and this
    // queue available to it; then drops the ID bookkeeping.
    void Apply();
    void Clear();
    // Drops every entry of a property (it is going away).
    void Remove(TCustomProp& prop);

    // IDs that stayed as they were in the document.
    TIdPool& KeptIds() { return FKept; }
    // A document ID that had to be replaced, and what it became.
    void MapId(uint32_t documentId, uint32_t newId);
    // What a document ID stands for in the panel now.
    uint32_t TranslateId(uint32_t documentId) const;
    void ClearIds();

private:
    struct TEntry {
        TCustomProp* Prop;
        std::string SubPropName;
        TVariant Value;
    };
    void Drop(TEntry& entry);
    std::vector<TEntry> FEntries;
    int FLive = 0;
    TIdPool FKept;
    std::unordered_map<uint32_t, uint32_t> FIdMap;
};

// --- Pictures ---

// The graphic classes a picture can be read into, by the class name the persisted form
// carries. TBitmap and TMetafile are registered from the start; other decoders register
// themselves when the drawing layer has them.
using TGraphicFactory = std::function<std::unique_ptr<TGraphic>()>;
void RegisterGraphicClass(const std::string& className, TGraphicFactory factory);
std::unique_ptr<TGraphic> CreateGraphic(std::string_view className);

// A picture of a class this process accepts but cannot decode: it has no size and draws
// nothing, and its bytes are kept so that it is written back unchanged.
class TUndecodedGraphic : public TGraphic {
public:
    explicit TUndecodedGraphic(std::string className)
        : FClassName(std::move(className)) {}
    const char* ClassName() const override { return FClassName.c_str(); }
    int32_t Width() const override { return 0; }
    int32_t Height() const override { return 0; }
    void Draw(TCanvas&, const TRect&) const override {}
    void LoadFromBytes(std::span<const uint8_t> bytes) override {
        FBytes.assign(bytes.begin(), bytes.end());
    }
    std::vector<uint8_t> SaveToBytes() const override { return FBytes; }
    std::unique_ptr<TGraphic> Clone() const override {
        return std::make_unique<TUndecodedGraphic>(*this);
    }

private:
    std::string FClassName;
    std::vector<uint8_t> FBytes;
};

// The persisted picture form: the class name as a one-byte length (at most 63) and its
// characters, then the class's data ("TBitmap" and "TJPEGImage": a 4-byte size and that many
// bytes; "TMetafile": a 4-byte length that counts itself, then the metafile; "TIcon": an icon
// file image). A zero length is no picture (nullptr), and so is a class name no accepted class
// has. Sizes that do not fit the bytes raise EInvalidGraphic; nothing past the data is read.
std::unique_ptr<TGraphic> ReadPersistedGraphic(std::span<const uint8_t> bytes);
// The same form for a graphic; a single zero byte for none.
std::vector<uint8_t> WritePersistedGraphic(const TGraphic* graphic);
// A graphic from an image file, chosen by the file's extension. Raises EInvalidGraphic (or a
// file error) when it cannot be read; files larger than 64 MiB or not regular are refused.
std::unique_ptr<TGraphic> LoadGraphicFile(const std::string& fileName);
// A file name of a document expanded against the folder of the program.
std::string ExpandProgramPath(const std::string& fileName);

class TPictureProp : public TCustomProp {
public:
    enum : int { kGraphic, kColumns, kRows, kMasked, kMaskColor, kLinkName, kFastBuffer };
    using TOnLoadError = std::function<void(TPictureProp& picture, const Exception& error)>;

    TPictureProp(TPropList* list, const std::string& name, uint8_t style = 0);
    ~TPictureProp() override;
    const char* ClassName() const override { return "TPictureProp"; }

    // The graphic, decoded; none without a picture. A picture that keeps only its encoded bytes
    // returns none here (see Decoded).
    TGraphic* Graphic() const { return FGraphic.get(); }
    bool HasPicture() const { return FGraphic != nullptr || !FEncoded.empty(); }
    bool IsBitmap() const;
    // Replaces the graphic through the change protocol (a copy is kept); none drops it.
    void SetGraphic(const TGraphic* graphic);
    // The picture decoded: the graphic itself, or a decoded copy of the encoded bytes.
    std::unique_ptr<TGraphic> DecodedCopy() const;
    // Keeps only the encoded bytes until the picture is needed (pictures of inactive schemes).
    void KeepEncodedOnly();
    bool IsEncodedOnly() const { return !FEncoded.empty(); }
    // Pixel size of the picture; (0, 0) without one.
    TSize PictureSize() const;
    bool Empty() const;

    int32_t Columns() const { return FColumns; }
    void SetColumns(int32_t value) { SetPropValue("Columns", TVariant(value)); }
    int32_t Rows() const { return FRows; }
    void SetRows(int32_t value) { SetPropValue("Rows", TVariant(value)); }
    bool Masked() const;
    void SetMasked(bool value) { ChangeOrdinal(kMasked, value); }
    TColor MaskColor() const;
    void SetMaskColor(TColor value) { ChangeOrdinal(kMaskColor, value); }
    const std::string& LinkName() const { return FLinkName; }
    // Loads the picture from that file (see ExpandProgramPath); a missing file drops it.
    void SetLinkName(const std::string& value) { SetPropValue("LinkName", TVariant(value)); }
    bool FastBuffer() const { return FFastBuffer; }
    void SetFastBuffer(bool value) { SetPropValue("FastBuffer", TVariant(value)); }

    // Frames: with Columns x Rows above 1 (bitmaps, or any graphic with FastBuffer), frame k is
    // the cell (k mod Columns, k div Columns); frames outside the grid give the whole picture.
    TSize GetFrameSize() const;
    TRect GetFrameRect(int32_t frameIndex) const;
    // Draws the picture (or one frame of it) stretched over rect; with useMask a transparent
    // bitmap is cut to the pixels that are not its transparent colour.
    void Draw(TCanvas& canvas, const TRect& rect, bool useMask, int32_t frameIndex = -1);

    // Where decoding failures go; without it they are raised again.
    TOnLoadError OnLoadError;

    std::string GetDisplayValue() override { return "(Picture)"; }
    const std::vector<TSubPropInfo>& Published() const override;

protected:
    int64_t GetOrdinal(int index) const override;
    void StoreOrdinal(int index, int64_t value) override;
    std::string GetString(int index) const override;
    void StoreString(int index, const std::string& value) override;
    TVariant GetData(int index) override;
    void SetData(int index, const TVariant& value) override;
    void SetPublished(int index, const TVariant& value) override;
    bool IsPublishedStored(int index) override;

private:
    // Installs a graphic without notifications, taking its transparency into the flags.
    void Install(std::unique_ptr<TGraphic> graphic);
    // Hands a decoding failure, if there was one, to OnLoadError; without one raises it again.
    void Failed(const std::exception_ptr& failure);
    bool FramesAllowed() const;

    std::unique_ptr<TGraphic> FGraphic;
    std::vector<uint8_t> FEncoded; // the persisted form while only it is kept
    TSize FEncodedSize;
    bool FEncodedIsBitmap = false;
    int32_t FColumns = 1;
    int32_t FRows = 1;
    bool FMasked = false;
    TColor FMaskColor = 0;
    std::string FLinkName;
    bool FFastBuffer = false;
};

// A data block larger than this (256 MiB unless changed) is read past and left empty, as when
// memory runs out while its lines are collected. Returns the previous bound; tests lower it.
size_t SetPropDataBlockLimit(size_t bytes);

// Text-form helper shared with the binary converter (QuotePropString lives with the filer).
// The value text of a line as the text reader reads it (string lists and data blocks pull their
// further lines from the filer).
TVariant ReadPropValueText(TVektFiler& filer, const std::string& valueText);

// --- Complex classes ---

// Value types of the drawing attributes the canvas does not have, in the order their names are
// written. Pens, brush styles and fonts use the canvas's own enumerations.
enum TBrushMethod : uint8_t { bmHatch, bmGradient, bmBitmap };
enum TBitmapDisplay : uint8_t { bdCenter, bdTile, bdStretch };
enum TGradientStyle : uint8_t {
    gsHorizontal,
    gsVertical,
    gsSquare,
    gsElliptic,
    gsTopLeft,
    gsTopRight,
    gsBottomLeft,
    gsBottomRight,
};
enum TBackgroundOption : uint8_t {
    bpOffsetLeft,
    bpOffsetTop,
    bpNewWidth,
    bpNewHeight,
    bpStretchHoriz,
    bpStretchVert,
    bpScaledSize,
    bpCenterHoriz,
    bpCenterVert,
    bpAlignRight,
    bpAlignBottom,
};

// The names of each enumeration, as documents carry them.
const std::vector<std::string>& BrushMethodNames();
const std::vector<std::string>& BrushStyleNames();
const std::vector<std::string>& BitmapDisplayNames();
const std::vector<std::string>& GradientStyleNames();
const std::vector<std::string>& PenStyleNames();
const std::vector<std::string>& PenModeNames();
const std::vector<std::string>& PenEndCapNames();
const std::vector<std::string>& PenJoinNames();
const std::vector<std::string>& FontPitchNames();
const std::vector<std::string>& FontStyleNames();
const std::vector<std::string>& BackgroundOptionNames();

class TBrushProp : public TCustomProp {
public:
    enum : int {
        kMethod,
        kColor,
        kStyle,
        kBitmap,
        kBitmapLinkName,
        kBitmapMasked,
        kBitmapMaskColor,
        kBitmapCache,
        kBitmapDisplay,
        kGradStyle,
        kGradBeginColor,
        kGradEndColor,
    };
    TBrushProp(TPropList* list, const std::string& name, uint8_t style = 0);
    const char* ClassName() const override { return "TBrushProp"; }

    TBrushMethod Method() const { return FMethod; }
    void SetMethod(TBrushMethod value) { ChangeOrdinal(kMethod, value); }
    TColor Color() const { return FColor; }
    void SetColor(TColor value) { ChangeOrdinal(kColor, value); }
    TBrushStyle BrushStyle() const { return FBrushStyle; }
    void SetBrushStyle(TBrushStyle value) { ChangeOrdinal(kStyle, value); }
    // The pattern bitmap, or none.
    const std::shared_ptr<TBitmap>& Bitmap() const { return FBitmap; }
    bool HasBitmap() const { return FBitmap != nullptr; }
    // Replaces the bitmap through the change protocol (a copy is kept).
    void SetBitmap(const TBitmap* bitmap);
    const std::string& BitmapLinkName() const { return FBitmapLinkName; }
    void SetBitmapLinkName(const std::string& value) { ChangeString(kBitmapLinkName, value); }
    bool BitmapMasked() const { return FBitmapMasked; }
    void SetBitmapMasked(bool value) { ChangeOrdinal(kBitmapMasked, value); }
    TColor BitmapMaskColor() const { return FBitmapMaskColor; }
    void SetBitmapMaskColor(TColor value) { ChangeOrdinal(kBitmapMaskColor, value); }
    bool BitmapCache() const { return FBitmapCache; }
    void SetBitmapCache(bool value) { ChangeOrdinal(kBitmapCache, value); }
    TBitmapDisplay BitmapDisplay() const { return FBitmapDisplay; }
    void SetBitmapDisplay(TBitmapDisplay value) { ChangeOrdinal(kBitmapDisplay, value); }
    TGradientStyle GradStyle() const { return FGradStyle; }
    void SetGradStyle(TGradientStyle value) { ChangeOrdinal(kGradStyle, value); }
    TColor GradBeginColor() const { return FGradBeginColor; }
    void SetGradBeginColor(TColor value) { ChangeOrdinal(kGradBeginColor, value); }
    TColor GradEndColor() const { return FGradEndColor; }
    void SetGradEndColor(TColor value) { ChangeOrdinal(kGradEndColor, value); }

    bool IsClear() const;
    // Keeps a gradient right when its control is rotated (degrees, counter-clockwise) or
    // mirrored horizontally before the rotation. Other methods do not change.
    void Translate(int rotate, bool mirror);
    void Translate(const TTranslateInfo& info) { Translate(info.Rotate, info.Mirror); }

    // The canvas brush for hatches and solid fills; clear for gradients, bitmaps and clNone
    // (the owner paints those with PaintSpecial).
    void Setup(TCanvas& canvas, int scale) override;
    // Paints a gradient or bitmap brush over rect (pixels), clipped to clipRect; bitmaps tile
    // from (originX, originY). Hatch brushes paint nothing here.
    void PaintSpecial(TCanvas& canvas, const TRect& rect, int32_t originX, int32_t originY,
                      const TRect& clipRect);

    std::string GetDisplayValue() override { return "(Brush)"; }
    const std::vector<TSubPropInfo>& Published() const override;

protected:
    int64_t GetOrdinal(int index) const override;
    void StoreOrdinal(int index, int64_t value) override;
    std::string GetString(int index) const override;
    void StoreString(int index, const std::string& value) override;
    TVariant GetData(int index) override;
    void SetData(int index, const TVariant& value) override;
    bool IsPublishedStored(int index) override;
    void DoChanged() override;

private:
    void PaintGradient(TCanvas& canvas, const TRect& rect);
    void PaintBitmap(TCanvas& canvas, const TRect& rect, int32_t originX, int32_t originY,
                     const TRect& clipRect);
    std::shared_ptr<TBitmap> MakeTile() const;
    void LoadBitmapLink();

    TBrushMethod FMethod = bmHatch;
    TColor FColor = clNone;
    TBrushStyle FBrushStyle = bsSolid;
    std::shared_ptr<TBitmap> FBitmap;
    // A tile of at least kMinTileSize pixels made of the bitmap, kept while BitmapCache is on.
    std::shared_ptr<TBitmap> FTile;
    std::string FBitmapLinkName;
    bool FBitmapMasked = false;
    TColor FBitmapMaskColor = 0;
    bool FBitmapCache = false;
    TBitmapDisplay FBitmapDisplay = bdTile;
    TGradientStyle FGradStyle = gsHorizontal;
    TColor FGradBeginColor = 0;
    TColor FGradEndColor = 0;
};

class TLineCapProp : public TCustomProp {
public:
    enum : int {
        kCapStyle,
        kFixedSize,
        kSize,
        kFixedOutlineColor,
        kOutlineColor,
        kFixedFillColor,
        kFillColor,
    };
    TLineCapProp(TPropList* list, const std::string& name, uint8_t style = 0);
    const char* ClassName() const override { return "TLineCapProp"; }

    int32_t CapStyle() const { return FCapStyle; }
    void SetCapStyle(int32_t value) { ChangeOrdinal(kCapStyle, value); }
    bool FixedSize() const { return FFixedSize; }
    void SetFixedSize(bool value) { ChangeOrdinal(kFixedSize, value); }
    // Document units.
    int32_t Size() const { return FSize; }
    void SetSize(int32_t value) { ChangeOrdinal(kSize, value); }
    bool FixedOutlineColor() const { return FFixedOutlineColor; }
    void SetFixedOutlineColor(bool value) { ChangeOrdinal(kFixedOutlineColor, value); }
    TColor OutlineColor() const { return FOutlineColor; }
    void SetOutlineColor(TColor value) { ChangeOrdinal(kOutlineColor, value); }
    bool FixedFillColor() const { return FFixedFillColor; }
    void SetFixedFillColor(bool value) { ChangeOrdinal(kFixedFillColor, value); }
    TColor FillColor() const { return FFillColor; }
    void SetFillColor(TColor value) { ChangeOrdinal(kFillColor, value); }

    std::string GetDisplayValue() override { return "(LineCap)"; }
    const std::vector<TSubPropInfo>& Published() const override;

protected:
    int64_t GetOrdinal(int index) const override;
    void StoreOrdinal(int index, int64_t value) override;

private:
    int32_t FCapStyle = 0;
    bool FFixedSize = false;
    int32_t FSize = 8000;
    bool FFixedOutlineColor = false;
    TColor FOutlineColor = 0;
    bool FFixedFillColor = false;
    TColor FFillColor = 0xFFFFFF;
};

// The pen as it is set up on a drawing surface at one scale.
struct TPenParams {
    TPenStyle Style = psClear;
    int Width = 0;          // pixels; 0 with a styled cosmetic pen
    bool Geometric = false; // an extended pen with caps and joins
    TPenEndCap EndCap = pecSquare;
    TPenJoin Join = pjMiter;
    TColor Color = 0;
};

class TPenProp : public TCustomProp {
public:
    enum : int { kColor, kStyle, kMode, kWidth, kEndCap, kJoin, kSolidAsInside };
    TPenProp(TPropList* list, const std::string& name, uint8_t style = 0);
    const char* ClassName() const override { return "TPenProp"; }

    TColor Color() const { return FColor; }
    void SetColor(TColor value) { ChangeOrdinal(kColor, value); }
    TPenStyle PenStyle() const { return FPenStyle; }
    void SetPenStyle(TPenStyle value) { ChangeOrdinal(kStyle, value); }
    TPenMode Mode() const { return FMode; }
    void SetMode(TPenMode value) { ChangeOrdinal(kMode, value); }
    // Document units.
    int32_t Width() const { return FWidth; }
    void SetWidth(int32_t value) { ChangeOrdinal(kWidth, value); }
    TPenEndCap EndCap() const { return FEndCap; }
    void SetEndCap(TPenEndCap value) { ChangeOrdinal(kEndCap, value); }
    TPenJoin Join() const { return FJoin; }
    void SetJoin(TPenJoin value) { ChangeOrdinal(kJoin, value); }
    bool SolidAsInside() const { return FSolidAsInside; }
    void SetSolidAsInside(bool value) { ChangeOrdinal(kSolidAsInside, value); }

    // Scale in percent x 1000 (100000 = 100 %). `styledWidePens` tells whether the surface draws
    // styled wide pens (the once-per-process test of the drawing layer).
    TPenParams GetPenParams(int scale, bool styledWidePens) const;
    // Width, or 1000 when the pen draws 1 pixel wide at 100 %, or 0 for a pen that draws nothing.
    int32_t GetActualWidth() const;
    // The canvas pen at the scale, with Mode.
    void Setup(TCanvas& canvas, int scale) override;
    // Whether the raster back end draws styled wide (geometric) pens: a dotted geometric pen 3
    // pixels wide with square caps and bevel joins is drawn along a 10 x 1 bitmap once per
    // process, and the answer is yes when the row's pixels are not all equal.
    static bool StyledWidePens();

    std::string GetDisplayValue() override { return "(Pen)"; }
    const std::vector<TSubPropInfo>& Published() const override;

protected:
    int64_t GetOrdinal(int index) const override;
    void StoreOrdinal(int index, int64_t value) override;

private:
    TColor FColor = 0;
    TPenStyle FPenStyle = psSolid;
    TPenMode FMode = pmCopy;
    int32_t FWidth = 1;
    TPenEndCap FEndCap = pecSquare;
    TPenJoin FJoin = pjMiter;
    bool FSolidAsInside = true;
};

class TFontProp : public TCustomProp {
public:
    enum : int { kPixelsPerInch, kCharset, kColor, kHeight, kName, kPitch, kSize, kStyle };
    TFontProp(TPropList* list, const std::string& name, uint8_t style = 0);
    const char* ClassName() const override { return "TFontProp"; }

    int32_t PixelsPerInch() const { return 96; }
    uint8_t Charset() const { return FCharset; }
    void SetCharset(uint8_t value) { ChangeOrdinal(kCharset, value); }
    TColor Color() const { return FColor; }
    void SetColor(TColor value) { ChangeOrdinal(kColor, value); }
    // Document units; negative for a character height, as the platform's fonts take it.
    int32_t Height() const { return FHeight; }
    void SetHeight(int32_t value) { ChangeOrdinal(kHeight, value); }
    const std::string& FontName() const { return FFontName; }
    void SetFontName(const std::string& value) { ChangeString(kName, value); }
    TFontPitch Pitch() const { return FPitch; }
    void SetPitch(TFontPitch value) { ChangeOrdinal(kPitch, value); }
    // Thousandths of a point: another view of Height.
    int32_t Size() const;
    void SetSize(int32_t value);
    // Bits (1 << TFontStyle).
    uint8_t FontStyles() const { return FStyles; }
    void SetFontStyles(uint8_t value) { ChangeOrdinal(kStyle, value); }
    // Takes a platform font given in points.
    void AssignPlatformFont(const std::string& name, int sizeInPoints, uint8_t styles, TColor color,
                            uint8_t charset, TFontPitch pitch);

    // Takes a canvas font (pixel height at 96 pixels per inch).
    void AssignFont(const TFont& font);
    // The canvas font at the scale: its pixel height is Height x scale / 100000.
    TFont GetFont(int scale) const;
    void Setup(TCanvas& canvas, int scale) override;

    bool Edit() override;
    std::string GetDisplayValue() override { return "(Font)"; }
    const std::vector<TSubPropInfo>& Published() const override;

protected:
    int64_t GetOrdinal(int index) const override;
    void StoreOrdinal(int index, int64_t value) override;
    std::string GetString(int index) const override;
    void StoreString(int index, const std::string& value) override;
    void SetPublished(int index, const TVariant& value) override;
    bool IsPublishedStored(int index) override;

private:
    uint8_t FCharset = 1;
    TColor FColor = 0;
    int32_t FHeight = kDefaultFontHeight * 1000;
    std::string FFontName = "Arial";
    TFontPitch FPitch = fpDefault;
    uint8_t FStyles = 0;
};

// The platform font dialog, for TFontProp::Edit: returns true when a font was chosen and
// assigned. This system registers none unless a user interface does.
using TFontDialogHook = std::function<bool(TFontProp& font)>;
void SetFontDialogHook(TFontDialogHook hook);

class TBackgroundOptionsProp : public TCustomProp {
public:
    enum : int {
        kPictureEnabled,
        kBrushEnabled,
        kPictureOptions,
        kTop,
        kLeft,
        kWidth,
        kHeight,
    };
    static constexpr uint16_t DefaultOptions =
        (1 << bpScaledSize) | (1 << bpCenterHoriz) | (1 << bpCenterVert);

    TBackgroundOptionsProp(TPropList* list, const std::string& name, uint8_t style = 0);
    const char* ClassName() const override { return "TBackgroundOptionsProp"; }

    bool PictureEnabled() const { return FPictureEnabled; }
    void SetPictureEnabled(bool value) { ChangeOrdinal(kPictureEnabled, value); }
    bool BrushEnabled() const { return FBrushEnabled; }
    void SetBrushEnabled(bool value) { ChangeOrdinal(kBrushEnabled, value); }
    // Bits (1 << TBackgroundOption).
    uint16_t PictureOptions() const { return FOptions; }
    void SetPictureOptions(uint16_t value) { ChangeOrdinal(kPictureOptions, value); }
    bool HasOption(TBackgroundOption option) const { return (FOptions >> option) & 1; }
    // Document units.
    int32_t Top() const { return FTop; }
    void SetTop(int32_t value) { ChangeOrdinal(kTop, value); }
    int32_t Left() const { return FLeft; }
    void SetLeft(int32_t value) { ChangeOrdinal(kLeft, value); }
    int32_t Width() const { return FWidth; }
    void SetWidth(int32_t value) { ChangeOrdinal(kWidth, value); }
    int32_t Height() const { return FHeight; }
    void SetHeight(int32_t value) { ChangeOrdinal(kHeight, value); }

    // Where the picture goes in rect (pixels) at the scale; empty for an empty picture.
    TRect GetPictureRect(const TPictureProp& picture, const TRect& rect, int scale) const;
    // The brush over rect (pen clear, copy mode; gradients and bitmaps clipped to rect), then
    // the picture in GetPictureRect. useMask cuts transparent bitmaps to their mask.
    void PaintBackground(TCanvas& canvas, const TRect& rect, int scale, TBrushProp* brush,
                         TPictureProp* picture, bool useMask = false);

    std::string GetDisplayValue() override { return "(BackgroundOptions)"; }
    const std::vector<TSubPropInfo>& Published() const override;

protected:
    int64_t GetOrdinal(int index) const override;
    void StoreOrdinal(int index, int64_t value) override;

private:
    bool FPictureEnabled = true;
    bool FBrushEnabled = true;
    uint16_t FOptions = DefaultOptions;
    int32_t FTop = 0, FLeft = 0, FWidth = 0, FHeight = 0;
};
