// TVektPanel's document side: the roots, the active scheme and layer, document reset, loading,
// IDs, automatic names, the selection, the view conversions and the notification table. Also
// the registry of control classes.
#include <algorithm>
#include <climits>
#include <cmath>

#include "SysUtils.h"
#include "VektBase.h"

// --- Class registry ---

namespace {

std::vector<const TVektControlClass*>& Registry() {
    static std::vector<const TVektControlClass*> classes = {
        &ControlClassOf<TVektLayer>(),   &ControlClassOf<TVektScheme>(),
        &ControlClassOf<TVektControl>(), &ControlClassOf<TVektServiceControl>(),
        &ControlClassOf<TVektGroup>(),   &ControlClassOf<TVektClone>(),
    };
    return classes;
}

} // namespace

void RegisterControlClass(const TVektControlClass& cls) {
    std::vector<const TVektControlClass*>& classes = Registry();
    for (const TVektControlClass* known : classes)
        if (known == &cls || SameText(known->ClassName, cls.ClassName)) return;
    classes.push_back(&cls);
}

const TVektControlClass* FindControlClass(std::string_view className) {
    for (const TVektControlClass* cls : Registry())
        if (SameText(cls->ClassName, className)) return cls;
    return nullptr;
}

const std::vector<const TVektControlClass*>& RegisteredControlClasses() {
    return Registry();
}

// --- Construction and destruction ---

TVektPanel::TVektPanel()
    : FHistory(std::make_unique<TVektNullHistory>())
    , FNotifyLink(this) {
    try {
        FCreatingRoots = true;
        FSchemes = TVektControl::New<TVektSchemes>(this);
        FLayers = TVektControl::New<TVektLayers>(this);
        FGrid = TVektControl::New<TVektGrid>(this);
        FCreatingRoots = false;
        NewDocument();
    } catch (...) {
        for (TVektControl* root :
             {static_cast<TVektControl*>(FGrid), static_cast<TVektControl*>(FLayers),
              static_cast<TVektControl*>(FSchemes)})
            if (root) root->Free();
        throw;
    }
    Modified = false;
}

TVektPanel::~TVektPanel() {
    FDestroying = true;
    FNotifyLink.DestroyNotify();
    History().DisableRecording();
    try {
        EmptyDocument();
    } catch (const std::exception& e) {
        ApplicationHandleException(e);
    }
    History().Clear();
    // Controls without parent belong to their holders; they only lose this panel.
    while (!FUnparented.empty()) {
        TVektControl* control = FUnparented.back();
        control->MoveToPanel(nullptr);
        RemoveUnparented(control);
    }
    // The grid and the layers root first: the document root is asked for while they go.
    if (FGrid) FGrid->Free();
    FGrid = nullptr;
    if (FLayers) FLayers->Free();
    FLayers = nullptr;
    if (FSchemes) FSchemes->Free();
    FSchemes = nullptr;
}

void TVektPanel::SetHistory(std::unique_ptr<IVektHistory> history) {
    if (!history) history = std::make_unique<TVektNullHistory>();
    FHistory = std::move(history);
    auto rebind = [this](TVektControl* top) {
        if (!top) return;
        TPassControlRec pass;
        pass.Start(top);
        do {
            if (pass.Control->FProps && !(pass.Control->State() & csCreating))
                pass.Control->FProps->SetHistory(FHistory.get());
        } while (pass.Next());
    };
    rebind(FSchemes);
    rebind(FLayers);
    rebind(FGrid);
    for (TVektControl* control : FUnparented)
        rebind(control);
}

// --- Document structure ---

void TVektPanel::SetActiveScheme(TVektCustomScheme* scheme) {
    if (scheme && scheme->Parent() != FSchemes) return;
    if (scheme == FActiveScheme) return;
    UnselectAll();
    FActiveScheme = scheme;
    DoNotify(nullptr, fnSchemes);
    Invalidate();
}

void TVektPanel::SetActiveLayer(TVektLayer* layer) {
    if (layer && layer->Parent() != FLayers) return;
    if (layer == FActiveLayer) return;
    FActiveLayer = layer;
    DoNotify(nullptr, fnLayers);
}

namespace {

// Suspends recording for a scope.
struct TRecordingPause {
    IVektHistory& History;
    explicit TRecordingPause(IVektHistory& history)
        : History(history) {
        History.DisableRecording();
    }
    ~TRecordingPause() { History.EnableRecording(); }
};

} // namespace

void TVektPanel::EmptyDocument() {
    TRecordingPause pause(History());
    History().Clear();
    if (FRefQueue) FRefQueue->Clear();
    UnselectAll();
    SetActiveScheme(nullptr);
    if (FSchemes) FSchemes->Clear();
    SetActiveLayer(nullptr);
    if (FLayers) FLayers->Clear();
}

void TVektPanel::NewDocument() {
    TRecordingPause pause(History());
    EmptyDocument();
    if (FSchemes->Count() > 0)
        SetActiveScheme(FSchemes->Schemes(0));
    else
        SetActiveScheme(TVektControl::New<TVektScheme>(this, nullptr, FSchemes));
    if (FLayers->Count() > 0)
        SetActiveLayer(FLayers->Layers(0));
    else
        SetActiveLayer(TVektControl::New<TVektLayer>(this, nullptr, FLayers));
}

void TVektPanel::AddUnparented(TVektControl* control) {
    if (control->FOnUnparentedList) return;
    FUnparented.push_back(control);
    control->FOnUnparentedList = true;
}

void TVektPanel::RemoveUnparented(TVektControl* control) {
    if (!control->FOnUnparentedList) return;
    auto it = std::find(FUnparented.rbegin(), FUnparented.rend(), control);
    if (it != FUnparented.rend()) FUnparented.erase(std::next(it).base());
    control->FOnUnparentedList = false;
}

// --- Loading ---

void TVektPanel::BeginLoading() {
    if (FLoadingCount++ == 0 && !FRefQueue) FRefQueue = std::make_unique<TPropRefList>();
}

void TVektPanel::EndLoading() {
    if (FLoadingCount == 0) return;
    if (--FLoadingCount == 0) ApplyReferences();
}

void TVektPanel::ApplyReferences() {
    // The queue goes away with its ID map whatever happens while it is applied.
    std::unique_ptr<TPropRefList> queue = std::move(FRefQueue);
    if (queue) queue->Apply();
}

TVektControl* TVektPanel::LoadControl(TVektFiler& filer, TVektControl* parent, bool allowUnparented,
                                      const std::string& firstLine) {
    if (RegisteredControlClasses().empty()) return nullptr;
    TVektControl* control = nullptr;
    {
        TRecordingPause pause(History());
        BeginLoading();
        try {
            control = ReadControl(filer, parent, allowUnparented, firstLine);
        } catch (...) {
            try {
                EndLoading();
            } catch (...) {
                // The first failure is the one to report.
            }
            throw;
        }
        EndLoading();
    }
    if (control) History().RecordAction(HistoryControlCreate, control);
    return control;
}

bool TVektPanel::ParseObjectLine(const TVektFiler& filer, const std::string& line,
                                 std::string& name, std::string& className) {
    if (filer.RecordCommand() == TVektBinaryData::bcObject) {
        name = filer.RecordKey(0);
        className = Trim(filer.RecordKey(1));
        return true;
    }
    size_t colon = line.rfind(':');
    if (colon == std::string::npos) return false;
    constexpr size_t keyword = 6; // "object"
    name = colon > keyword ? Trim(line.substr(keyword, colon - keyword)) : std::string();
    className = Trim(line.substr(colon + 1));
    return true;
}

TVektControl* TVektPanel::ReadControl(TVektFiler& filer, TVektControl* parent, bool allowUnparented,
                                      const std::string& firstLine) {
    std::string name, className;
    const TVektControlClass* cls =
        ParseObjectLine(filer, firstLine, name, className) ? FindControlClass(className) : nullptr;
    if (!cls) {
        filer.SkipBlock();
        return nullptr;
    }

    TVektControl* control = TVektControl::NewOfClass(*cls, this, nullptr, parent);
    bool keep = true;
    try {
        control->SetName(name);
        // Layers and schemes live only under their roots.
        if (dynamic_cast<TVektLayer*>(control)) {
            if (!control->Parent()) FLayers->Add(control);
            keep = control->Parent() == FLayers;
        } else if (dynamic_cast<TVektCustomScheme*>(control)) {
            if (!control->Parent()) FSchemes->Add(control);
            keep = control->Parent() == FSchemes;
        } else if (!control->Parent()) {
            keep = allowUnparented;
        }
        if (keep) {
            control->LoadFromFiler(filer);
            if (FLoadMode == lmPaste) {
                TLayerProp* layer = control->PropLayer();
                if (!control->Layer() && layer && !(layer->Style() & propNotStored) &&
                    control->Props().IsStored(*layer, ""))
                    control->SetLayer(FActiveLayer);
                if (dynamic_cast<TVektCustomScheme*>(control->Parent())) Select(control);
            }
        }
    } catch (...) {
        control->Free();
        throw;
    }
    if (!keep) {
        control->Free();
        filer.SkipBlock();
        return nullptr;
    }
    return control;
}

// --- IDs ---

void TVektPanel::RegisterId(TVektControl& control) {
    uint32_t id = control.ID();
    if (id == 0 || !FIdPool.Use(id)) return;
    FIdIndex[id] = &control;
}

void TVektPanel::ReleaseId(TVektControl& control, uint32_t id) {
    if (id == 0) return;
    auto it = FIdIndex.find(id);
    // Only the holder gives an ID back.
    if (it == FIdIndex.end() || it->second != &control) return;
    FIdIndex.erase(it);
    FIdPool.Release(id);
}

uint32_t TVektPanel::NewIdFor(TVektControl& control) {
    uint32_t id = FIdPool.NewId();
    if (id != 0) FIdIndex[id] = &control;
    return id;
}

void TVektPanel::CheckID(TVektControl& control, uint32_t oldId) {
    uint32_t id = control.ID();
    if (id == 0) {
        ReleaseId(control, oldId);
        return;
    }
    if (!FIdPool.IsUsed(id)) {
        FIdPool.Use(id);
        FIdIndex[id] = &control;
        ReleaseId(control, oldId);
        if (IsLoading() && FRefQueue) FRefQueue->KeptIds().Use(id);
        return;
    }
    // Taken: the control keeps the ID it had, or gets a new one.
    auto it = FIdIndex.find(oldId);
    bool ownsOld = oldId != 0 && it != FIdIndex.end() && it->second == &control;
    uint32_t replacement = ownsOld ? oldId : NewIdFor(control);
    control.SetIdRaw(replacement);
    if (IsLoading() && FRefQueue) FRefQueue->MapId(id, replacement);
}

TVektControl* TVektPanel::FindByID(uint32_t id) const {
    if (!FIdPool.IsUsed(id)) return nullptr;
    auto it = FIdIndex.find(id);
    return it == FIdIndex.end() ? nullptr : it->second;
}

// --- Automatic names ---

std::string TVektPanel::AutoName(const TVektControl& control, TVektControl* scope, bool numbered) {
    std::string base = control.ClassName();
    if (base.size() > 5 && base.compare(0, 5, "TVekt") == 0)
        base.erase(0, 5);
    else if (!base.empty() && base[0] == 'T')
        base.erase(0, 1);
    if (!numbered) return base;

    std::vector<bool> taken; // taken[n] for the numbers in use
    if (!IsLoading()) {
        auto collect = [&](TVektControl* top) {
            if (!top) return;
            TPassControlRec pass;
            pass.Start(top);
            do {
                if (pass.Control == &control) continue;
                std::string name = pass.Control->Name();
                if (name.size() <= base.size() || name.compare(0, base.size(), base) != 0) continue;
                int32_t n;
                if (TryStrToInt(std::string_view(name).substr(base.size()), n) && n > 0 &&
                    static_cast<size_t>(n) <= 1'000'000) {
                    if (taken.size() <= static_cast<size_t>(n)) taken.resize(n + 1);
                    taken[n] = true;
                }
            } while (pass.Next());
        };
        if (scope) {
            collect(scope);
        } else {
            collect(FSchemes);
            collect(FLayers);
        }
    }
    size_t n = 1;
    while (n < taken.size() && taken[n])
        ++n;
    return base + std::to_string(n);
}

// --- Selection ---

bool TVektPanel::Select(TVektControl* control) {
    if (!control || IsSelected(control) || control->FPanel != this || !control->IsSelectable() ||
        !dynamic_cast<TVektCustomScheme*>(control->Parent()))
        return false;
    FSelection.push_back(control);
    control->DoNotify(fnSelect);
    return true;
}

bool TVektPanel::Unselect(TVektControl* control) {
    auto it = std::find(FSelection.begin(), FSelection.end(), control);
    if (it == FSelection.end()) return false;
    FSelection.erase(it);
    control->DoNotify(fnSelect);
    return true;
}

bool TVektPanel::IsSelected(const TVektControl* control) const {
    return std::find(FSelection.begin(), FSelection.end(), control) != FSelection.end();
}

void TVektPanel::UnselectAll() {
    while (!FSelection.empty())
        Unselect(FSelection.back());
}

void TVektPanel::TranslateSelection(const TTranslateInfo& info) {
    TTranslateInfo snapped = info;
    // Rounded half to even, as the rest of the engine rounds angles.
    snapped.Rotate =
        static_cast<int32_t>(std::nearbyint(static_cast<double>(info.Rotate % 360) / 90.0)) * 90;
    std::vector<TVektControl*> selected = FSelection;
    for (TVektControl* control : selected)
        if (!(control->Layer() && control->Layer()->ReadOnly())) control->Translate(snapped);
}

// --- View ---

void TVektPanel::SetDocWidth(int32_t value) {
    if (FSchemes)
        FSchemes->SetWidth(value);
    else
        FDocWidth = value;
}

void TVektPanel::SetDocHeight(int32_t value) {
    if (FSchemes)
        FSchemes->SetHeight(value);
    else
        FDocHeight = value;
}

void TVektPanel::SetScale(int32_t value) {
    value = std::clamp(value, MinScale, MaxScale);
    if (value == FScale) return;
    FScale = value;
    Invalidate();
    DoNotify(nullptr, fnScale);
}

TPoint TVektPanel::DocToClient(const TPoint& point) const {
    auto toClient = [this](int32_t units, int32_t origin) {
        return static_cast<int32_t>(std::clamp<int64_t>(
            int64_t(MulDiv(units, FScale, 100000)) - origin, INT32_MIN, INT32_MAX));
    };
    return TPoint(toClient(point.X, FOrigin.X), toClient(point.Y, FOrigin.Y));
}

TRect TVektPanel::DocToClient(const TRect& rect) const {
    return TRect(DocToClient(rect.TopLeft()), DocToClient(rect.BottomRight()));
}

TPoint TVektPanel::ClientToDoc(const TPoint& point) const {
    auto toDoc = [this](int64_t pixels) {
        return MulDiv(static_cast<int32_t>(std::clamp<int64_t>(pixels, INT32_MIN, INT32_MAX)),
                      100000, FScale);
    };
    return TPoint(toDoc(int64_t(point.X) + FOrigin.X), toDoc(int64_t(point.Y) + FOrigin.Y));
}

int32_t TVektPanel::ConnectorsMinGap() const {
    return FSchemes ? FSchemes->ConnectorsMinGap() : TVektSchemes::DefaultConnectorsMinGap;
}

void TVektPanel::SetConnectorsMinGap(int32_t value) {
    if (FSchemes) FSchemes->SetConnectorsMinGap(value);
}

void TVektPanel::RerouteConnectors() {
    if (!FSchemes) return;
    std::vector<TVektControl*> connectors;
    TPassControlRec pass;
    pass.Start(FSchemes);
    do {
        if (pass.Control->IsConnector()) connectors.push_back(pass.Control);
    } while (pass.Next());
    for (TVektControl* connector : connectors)
        connector->Reroute();
}

// --- Invalidation ---

bool TVektPanel::InvalidateControl(TVektControl* control) {
    if (!control || control->UpdateCount() > 0) return false;
    bool isScheme = dynamic_cast<TVektCustomScheme*>(control) != nullptr;
    if (!isScheme && (!FActiveScheme || control->OwnerScheme() != FActiveScheme)) return false;
    if (control->Layer() && !control->Layer()->Visible()) return false;
    if (!control->IsContainerWithoutOwnPainting()) {
        TRect doc = control->DocRect();
        InvalidateClientRect(DocToClient(control->GetRefreshRect(doc.Left, doc.Top)));
    }
    // A scheme's area is the page, which holds its children; other containers may have children
    // that reach outside their own rectangle.
    return !isScheme && control->Count() > 0;
}

void TVektPanel::Invalidate() {
    FUpdateAll = true;
}

void TVektPanel::InvalidateClientRect(const TRect& rect) {
    FUpdateRect = FUpdateRect.United(rect.Normalized());
}

// --- What controls report ---

bool TVektPanel::IsDocumentControl(TVektControl* control) {
    TVektControl* top = control->TopParent();
    return top == FSchemes || top == FLayers;
}

void TVektPanel::DoNotify(TVektControl* control, TVektNotify notify) {
    switch (notify) {
    case fnOrder:
    case fnLayers:
    case fnSchemes:
    case fnCreated:
    case fnDestroyed: Modified = true; break;
    default: break;
    }
    if (OnNotify && (notify == fnDestroyed || !control || IsDocumentControl(control)))
        OnNotify(*this, control, notify);
    FNotifyLink.ControlNotify(control, notify);
}

void TVektPanel::DoPropBeforeChanged(TVektControl* control, TCustomProp& prop) {
    if (OnPropBeforeChanged) OnPropBeforeChanged(control, prop);
}

void TVektPanel::DoPropChanged(TVektControl* control, TCustomProp& prop) {
    Modified = true;
    if (OnPropChanged) OnPropChanged(control, prop);
}

// --- IPropPanel ---

void TVektPanel::GetLayerControls(std::vector<IPropControl*>& layers) {
    layers.clear();
    for (int i = 0; FLayers && i < FLayers->Count(); ++i)
        layers.push_back(FLayers->Controls(i));
}

void TVektPanel::GetSchemeControls(std::vector<IPropControl*>& schemes) {
    schemes.clear();
    for (int i = 0; FSchemes && i < FSchemes->Count(); ++i)
        schemes.push_back(FSchemes->Controls(i));
}

void TVektPanel::JumpToScheme(IPropControl* scheme) {
    if (auto* target = dynamic_cast<TVektCustomScheme*>(scheme)) SetActiveScheme(target);
}
