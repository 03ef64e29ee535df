// Properties that name other objects of the document: the layer, scheme references and links.
#include <limits>

#include "SysUtils.h"
#include "VektProps.h"

namespace {

TFindPanelHook& FindPanelHook() {
    static TFindPanelHook hook;
    return hook;
}

} // namespace

void SetFindPanelHook(TFindPanelHook hook) {
    FindPanelHook() = std::move(hook);
}

// --- TLayerProp ---

TLayerProp::TLayerProp(TPropList* list, const std::string& name, uint8_t style)
    : TStrProp(list, name, style) {}

std::string TLayerProp::GetValue() const {
    IPropControl* control = OwnerControl();
    if (!control) return TStrProp::GetValue();
    IPropControl* layer = control->GetLayerControl();
    return layer ? layer->GetName() : std::string();
}

void TLayerProp::SetValue(const std::string& value) {
    IPropControl* control = OwnerControl();
    if (!control) return TStrProp::SetValue(value);
    if (GetValue() == value) return;
    IPropPanel* panel = control->GetPropPanel();
    if (!panel) return;
    std::vector<IPropControl*> layers;
    panel->GetLayerControls(layers);
    for (IPropControl* layer : layers) {
        if (layer->GetName() == value) {
            // The control runs this property's change protocol when its layer changes.
            control->SetLayerControl(layer);
            return;
        }
    }
}

void TLayerProp::GetEnumList(std::vector<TEnumItem>& items) {
    items.clear();
    IPropControl* control = OwnerControl();
    IPropPanel* panel = control ? control->GetPropPanel() : nullptr;
    if (!panel) return;
    std::vector<IPropControl*> layers;
    panel->GetLayerControls(layers);
    for (IPropControl* layer : layers)
        items.push_back({layer->GetName(), layer});
}

// --- TSchemeRefProp ---

TSchemeRefProp::TSchemeRefProp(TPropList* list, const std::string& name, uint8_t style)
    : TCustomProp(list, name, pkPlain, style) {}

namespace {

std::vector<IPropControl*> SchemesOf(const TCustomProp& prop) {
    std::vector<IPropControl*> schemes;
    IPropControl* control = prop.OwnerControl();
    if (IPropPanel* panel = control ? control->GetPropPanel() : nullptr)
        panel->GetSchemeControls(schemes);
    return schemes;
}

} // namespace

IPropControl* TSchemeRefProp::Scheme() const {
    if (FValue == 0) return nullptr;
    for (IPropControl* scheme : SchemesOf(*this))
        if (scheme->GetID() == FValue) return scheme;
    return nullptr;
}

void TSchemeRefProp::JumpToScheme() {
    IPropControl* scheme = Scheme();
    IPropControl* control = OwnerControl();
    if (scheme && control && control->GetPropPanel()) control->GetPropPanel()->JumpToScheme(scheme);
}

std::string TSchemeRefProp::GetDisplayValue() {
    IPropControl* scheme = Scheme();
    return scheme ? scheme->GetName() : std::string();
}

void TSchemeRefProp::SetPropValue(std::string_view propName, const TVariant& value) {
    if (!propName.empty()) return TCustomProp::SetPropValue(propName, value);
    if (value.VarType() == varInteger || value.VarType() == varLongWord)
        return SetValue(value.AsLongWord());
    std::string text = value.IsEmptyOrNull() ? std::string() : value.AsString();
    int64_t id;
    if (TryStrToInt64(text, id) && id >= std::numeric_limits<int32_t>::min() &&
        id <= std::numeric_limits<uint32_t>::max())
        return SetValue(static_cast<uint32_t>(id));
    uint32_t found = 0;
    if (!text.empty())
        for (IPropControl* scheme : SchemesOf(*this))
            if (scheme->GetName() == text) {
                found = scheme->GetID();
                break;
            }
    SetValue(found);
}

TVariant TSchemeRefProp::GetPropValue(std::string_view propName) {
    if (!propName.empty()) return TCustomProp::GetPropValue(propName);
    return TVariant::LongWord(FValue);
}

void TSchemeRefProp::GetEnumList(std::vector<TEnumItem>& items) {
    items.clear();
    items.push_back({"", nullptr});
    for (IPropControl* scheme : SchemesOf(*this))
        items.push_back({scheme->GetName(), scheme});
}

// --- TLinkProp ---

TLinkProp::TLinkProp(TPropList* list, const std::string& name, uint8_t style)
    : TCustomProp(list, name, pkPlain, style) {}

TLinkProp::~TLinkProp() {
    // The handler points at this object, which is gone once the base destructor frees the link.
    if (HasNotifyLink()) NotifyLink().OnNotify = nullptr;
}

namespace {

std::string QuotePanelName(const std::string& name) {
    bool quote = false;
    for (char c : name)
        if (static_cast<unsigned char>(c) < '!' || c == '"' || c == '\\') quote = true;
    if (!quote) return name;
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

} // namespace

const std::string& TLinkProp::Path() {
    if (FPathValid) return FPath;
    FPath.clear();
    if (FControl) {
        std::string name;
        for (char c : FControl->GetName())
            if (static_cast<unsigned char>(c) >= ' ' && c != '\\') name += c;
        FPath = "\\" + std::to_string(FControl->GetID()) + ":" + name;
        if (FProp) FPath += "\\" + FProp->Name();
        IPropControl* owner = OwnerControl();
        IPropPanel* ownPanel = owner ? owner->GetPropPanel() : nullptr;
        IPropPanel* panel = FControl->GetPropPanel();
        if (panel && panel != ownPanel) FPath = QuotePanelName(panel->GetComponentName()) + FPath;
    }
    FPathValid = true;
    return FPath;
}

bool TLinkProp::ResolvePath(const std::string& path, IPropControl*& control, TCustomProp*& prop) {
    control = nullptr;
    prop = nullptr;
    if (path.empty()) return false;
    IPropControl* owner = OwnerControl();
    IPropPanel* panel = owner ? owner->GetPropPanel() : nullptr;
    size_t pos = 0;
    bool otherPanel = false;
    if (path[0] != '\\') {
        std::string panelName;
        if (path[0] == '"') {
            pos = 1;
            while (pos < path.size()) {
                if (path[pos] == '"') {
                    if (pos + 1 < path.size() && path[pos + 1] == '"') {
                        panelName += '"';
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    break;
                }
                panelName += path[pos++];
            }
        } else {
            pos = path.find('\\');
            if (pos == std::string::npos) return false;
            panelName = path.substr(0, pos);
        }
        panel = FindPanelHook() ? FindPanelHook()(panelName) : nullptr;
        if (!panel) return false;
        otherPanel = true;
    }
    if (pos >= path.size() || path[pos] != '\\') return false;
    size_t colon = path.find(':', pos + 1);
    if (colon == std::string::npos) return false;
    int64_t id;
    if (!TryStrToInt64(path.substr(pos + 1, colon - pos - 1), id) || id <= 0 ||
        id > std::numeric_limits<uint32_t>::max())
        return false;
    size_t slash = path.find('\\', colon + 1);
    TPropList* list = OwnerList();
    uint32_t target = static_cast<uint32_t>(id);
    if (list && list->RefQueue()) target = list->RefQueue()->TranslateId(target);
    IPropControl* found = panel ? panel->FindControlByID(target) : nullptr;
    if (!found && owner && !otherPanel)
        if (IPropControl* top = owner->GetTopParent()) found = top->FindInSubtree(target);
    if (!found) return false;
    if (slash != std::string::npos) {
        prop = found->GetProps().ByName(std::string_view(path).substr(slash + 1));
        if (!prop) return false;
    }
    control = found;
    return true;
}

void TLinkProp::Attach(IPropControl* control, TCustomProp* prop) {
    TNotifyLink& own = NotifyLink();
    if (!own.OnNotify)
        own.OnNotify = [this](TNotifyLink&, TNotifyLink& sender, const TNotifyInfo& info) {
            LinkNotify(sender, info);
        };
    if (FControl) FControl->GetNotifyLink().Unsubscribe(own);
    if (FProp) FProp->NotifyLink().Unsubscribe(own);
    FControl = control;
    FProp = prop;
    FPathValid = false;
    if (FControl) FControl->GetNotifyLink().Subscribe(own);
    // The linked property may be freed before its control; it then tells us so.
    if (FProp) FProp->NotifyLink().Subscribe(own);
}

void TLinkProp::SetLink(IPropControl* control, TCustomProp* prop) {
    if (!control) prop = nullptr;
    if ((control == FControl && prop == FProp) || IsReadOnly()) return;
    DoBeforeChanged();
    IPropControl* old = FControl;
    Attach(control, prop);
    TargetChanged(old);
    DoChanged();
}

void TLinkProp::LinkNotify(TNotifyLink& sender, const TNotifyInfo& info) {
    if (HasNotifyLink() && &sender == &NotifyLink()) return; // our own link going away
    bool fromControl = FControl && &sender == &FControl->GetNotifyLink();
    bool fromProp = FProp && FProp->HasNotifyLink() && &sender == &FProp->NotifyLink();
    if (!fromControl && !fromProp) return;
    if (info.Kind == nkDestroy) {
        // The target is going away: unlink through the change protocol so undo can bring the
        // link back with the target. A read-only link must still let go of the pointer.
        IPropControl* old = FControl;
        if (IsReadOnly()) {
            Attach(nullptr, nullptr);
            TargetChanged(old);
        } else {
            SetLink(nullptr, nullptr);
        }
    } else if (fromProp) {
        return; // the linked property's own changes also come through its control
    } else if (info.Kind == nkControlNotify && (info.Notify == fnName || info.Notify == fnID)) {
        FPathValid = false;
    }
    if (OnLinkNotify) OnLinkNotify(*this, info);
}

void TLinkProp::SetPropValue(std::string_view propName, const TVariant& value) {
    if (!propName.empty()) return TCustomProp::SetPropValue(propName, value);
    IPropControl* control;
    TCustomProp* prop;
    ResolvePath(value.IsEmptyOrNull() ? std::string() : value.AsString(), control, prop);
    SetLink(control, prop);
}

TVariant TLinkProp::GetPropValue(std::string_view propName) {
    if (!propName.empty()) return TCustomProp::GetPropValue(propName);
    return TVariant(Path());
}

// --- TLinkPointProp ---

TLinkPointProp::TLinkPointProp(TPropList* list, const std::string& name, uint8_t style)
    : TLinkProp(list, name, style) {
    if (!list || !list->Control()) throw Exception("Can't create link prop");
}

TLinkPointProp::~TLinkPointProp() {
    // The target is alive here: its going away would have unlinked us first.
    if (IPropControl* control = LinkedControl()) {
        int i = control->IndexOfLinkPoint(&FPoint);
        if (i >= 0) control->DeleteLinkPoint(i);
    }
}

void TLinkPointProp::TargetChanged(IPropControl* oldControl) {
    if (oldControl) {
        int i = oldControl->IndexOfLinkPoint(&FPoint);
        if (i >= 0) oldControl->DeleteLinkPoint(i);
    }
    if (IPropControl* control = LinkedControl()) control->AddLinkPoint(&FPoint);
}
