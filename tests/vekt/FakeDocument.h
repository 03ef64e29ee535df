#pragma once

// A minimal control tree standing in for the control model in property tests: controls with an
// ID, a name, a property list, a notify link, children and a layer, on a panel with layers and
// schemes.
#include <algorithm>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "VektProps.h"

class TFakePanel;

class TFakeControl : public IPropControl {
public:
    TFakeControl(TFakePanel* panel, uint32_t id, std::string name)
        : Panel(panel)
        , ID(id)
        , Name(std::move(name))
        , Props(this)
        , Link(this) {}
    ~TFakeControl() override {
        Link.DestroyNotify();
        Children.clear();
        Props.Clear();
    }

    uint32_t GetID() override { return ID; }
    std::string GetName() override { return Name; }
    TPropList& GetProps() override { return Props; }
    TNotifyLink& GetNotifyLink() override { return Link; }
    IPropPanel* GetPropPanel() override;
    IPropControl* GetTopParent() override {
        TFakeControl* c = this;
        while (c->Parent)
            c = c->Parent;
        return c;
    }
    IPropControl* FindInSubtree(uint32_t id) override {
        if (ID == id) return this;
        for (auto& child : Children)
            if (IPropControl* found = child->FindInSubtree(id)) return found;
        return nullptr;
    }
    IPropControl* GetLayerControl() override { return Layer; }
    void SetLayerControl(IPropControl* layer) override {
        TCustomProp* prop = Props.ByName("Layer");
        if (layer == Layer || (prop && prop->IsReadOnly())) return;
        if (prop) prop->DoBeforeChanged();
        Layer = layer;
        if (prop) prop->DoChanged();
    }

    int AddLinkPoint(TPoint* point) override {
        LinkPoints.push_back(point);
        return static_cast<int>(LinkPoints.size()) - 1;
    }
    int IndexOfLinkPoint(const TPoint* point) override {
        auto it = std::find(LinkPoints.begin(), LinkPoints.end(), point);
        return it == LinkPoints.end() ? -1 : static_cast<int>(it - LinkPoints.begin());
    }
    void DeleteLinkPoint(int index) override { LinkPoints.erase(LinkPoints.begin() + index); }

    TFakeControl& AddChild(uint32_t id, std::string name) {
        Children.push_back(std::make_unique<TFakeControl>(Panel, id, std::move(name)));
        Children.back()->Parent = this;
        return *Children.back();
    }
    void Rename(std::string name) {
        Name = std::move(name);
        Link.ControlNotify(nullptr, fnName);
    }

    TFakePanel* Panel;
    uint32_t ID;
    std::string Name;
    TFakeControl* Parent = nullptr;
    IPropControl* Layer = nullptr;
    std::vector<std::unique_ptr<TFakeControl>> Children;
    std::vector<TPoint*> LinkPoints;
    TPropList Props;
    TNotifyLink Link;
};

class TFakePanel : public IPropPanel {
public:
    explicit TFakePanel(std::string name = "Panel1")
        : ComponentName(std::move(name)) {}

    IPropControl* FindControlByID(uint32_t id) override {
        for (auto& c : Roots)
            if (IPropControl* found = c->FindInSubtree(id)) return found;
        return nullptr;
    }
    std::string GetComponentName() override { return ComponentName; }
    void GetLayerControls(std::vector<IPropControl*>& layers) override { layers = Layers; }
    void GetSchemeControls(std::vector<IPropControl*>& schemes) override { schemes = Schemes; }
    void JumpToScheme(IPropControl* scheme) override { Jumped = scheme; }

    TFakeControl& AddRoot(uint32_t id, std::string name) {
        Roots.push_back(std::make_unique<TFakeControl>(this, id, std::move(name)));
        return *Roots.back();
    }
    void Remove(TFakeControl& control) {
        Roots.erase(std::remove_if(Roots.begin(), Roots.end(),
                                   [&](auto& c) { return c.get() == &control; }),
                    Roots.end());
    }

    std::string ComponentName;
    std::vector<std::unique_ptr<TFakeControl>> Roots;
    std::vector<IPropControl*> Layers, Schemes;
    IPropControl* Jumped = nullptr;
};

inline IPropPanel* TFakeControl::GetPropPanel() {
    return Panel;
}

// Records what the history is asked to do.
class TFakeHistory : public IPropHistory {
public:
    const THistoryActionClass* PropChangeActionClass() override { return &PropAction; }
    void RecordPropAction(const THistoryActionClass* actionClass, TCustomProp& prop) override {
        Recorded.push_back(std::string(actionClass->ClassName) + ":" + prop.Name());
        if (Events) Events->push_back("history " + Recorded.back());
    }
    bool IsRestoring() override { return Restoring; }

    THistoryActionClass PropAction{"TPropHistoryAction"};
    std::vector<std::string> Recorded;
    std::vector<std::string>* Events = nullptr;
    bool Restoring = false;
};

// Gives list one property of every value class that needs no control of its own, the way a
// document control would hold them; the data property reads and writes data. Enum takes the
// given items.
inline void AddPropOfEveryClass(TPropList& l, std::vector<uint8_t>& data,
                                std::initializer_list<const char*> enumItems) {
    auto* e = new TEnumProp(&l, "Enum");
    for (const char* item : enumItems)
        e->AddItem(item);
    new TBoolProp(&l, "Bool");
    new TIntProp(&l, "Int", propDocUnits);
    new TLongWordProp(&l, "LongWord");
    new TStrProp(&l, "Str");
    new TStrListProp(&l, "StrList");
    new TUserDataProp(&l, "UserData");
    auto* d = new TDataProp(&l, "Data");
    d->OnGetData = [&data] { return data; };
    d->OnSetData = [&data](const std::vector<uint8_t>& bytes) { data = bytes; };
    new TBrushProp(&l, "Brush");
    new TLineCapProp(&l, "Cap");
    new TPenProp(&l, "Pen");
    new TFontProp(&l, "Font");
    new TBackgroundOptionsProp(&l, "Background");
    new TLayerProp(&l, "Layer", propDeferredLoad);
    new TSchemeRefProp(&l, "Reference", propDeferredLoad);
    new TLinkProp(&l, "Link", propDeferredLoad);
}
