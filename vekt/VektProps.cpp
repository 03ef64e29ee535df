#include "VektProps.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "SysUtils.h"

namespace {

// Every queue that may still point at properties; a property going away drops its entries.
std::vector<TPropRefList*>& LiveQueues() {
    static std::vector<TPropRefList*> queues;
    return queues;
}

const std::vector<TSubPropInfo>& NoPublished() {
    static const std::vector<TSubPropInfo> none;
    return none;
}

std::string JoinSet(int64_t bits, const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size() && i < 63; ++i)
        if ((bits >> i) & 1) text += (text.empty() ? "" : ",") + names[i];
    return text;
}

} // namespace

// --- TCustomProp ---

TCustomProp::TCustomProp(TPropList* list, const std::string& name, TPropKind kind, uint8_t style)
    : FName(name)
    , FStyle(style)
    , FKind(kind) {
    if (list) list->Add(this, name);
}

TCustomProp::~TCustomProp() {
    FNotifyLink.reset();
    if (FQueuedCount > 0)
        for (TPropRefList* queue : LiveQueues())
            queue->Remove(*this);
    if (FList) FList->Detach(this);
}

std::string TCustomProp::QualifiedName(std::string_view subPropName) const {
    std::string name = FName;
    for (const TCustomProp* p = FParentProp; p; p = p->FParentProp)
        name = p->FName + "." + name;
    if (!subPropName.empty()) name += "." + std::string(subPropName);
    return name;
}

void TCustomProp::SetParentProp(TCustomProp* parent, const std::string& name) {
    FParentProp = parent;
    FName = name;
}

TCustomProp& TCustomProp::RootProp() {
    TCustomProp* p = this;
    while (p->FParentProp)
        p = p->FParentProp;
    return *p;
}

TPropList* TCustomProp::OwnerList() const {
    const TCustomProp* p = this;
    while (!p->FList && p->FParentProp)
        p = p->FParentProp;
    return p->FList;
}

IPropControl* TCustomProp::OwnerControl() const {
    TPropList* list = OwnerList();
    return list ? list->Control() : nullptr;
}

TNotifyLink& TCustomProp::NotifyLink() {
    if (!FNotifyLink) FNotifyLink = std::make_unique<TNotifyLink>(this);
    return *FNotifyLink;
}

bool TCustomProp::IsReadOnly() const {
    if (TPropList* list = OwnerList()) return list->IsReadOnly(*this);
    for (const TCustomProp* p = this; p; p = p->FParentProp)
        if (p->FStyle & propReadOnly) return true;
    return false;
}

std::string TCustomProp::GetDisplayValue() {
    return "(" + std::string(ClassName()) + ")";
}

void TCustomProp::SetDisplayValue(const std::string& text) {
    SetPropValue("", TVariant(text));
}

void TCustomProp::DoBeforeChanged() {
    if (TPropList* list = OwnerList()) list->PropBeforeChanged(*this);
    if (FNotifyLink) FNotifyLink->PropNotify(this, true);
}

void TCustomProp::DoChanged() {
    if (TPropList* list = OwnerList()) list->PropChanged(*this);
    if (FNotifyLink) FNotifyLink->PropNotify(this, false);
}

void TCustomProp::SetPropValue(std::string_view propName, const TVariant& value) {
    if (propName.empty()) return;
    int i = IndexOfPublished(propName);
    if (i >= 0) SetPublished(i, value);
}

TVariant TCustomProp::GetPropValue(std::string_view propName) {
    if (propName.empty()) return TVariant();
    int i = IndexOfPublished(propName);
    return i >= 0 ? GetPublished(i) : TVariant();
}

TPropKind TCustomProp::GetPropType(std::string_view propName) {
    if (propName.empty()) return FKind;
    int i = IndexOfPublished(propName);
    if (i < 0) return pkPlain;
    switch (Published()[i].Type) {
    case TSubPropType::Data: return pkData;
    case TSubPropType::Object: return pkComplex;
    default: return pkPlain;
    }
}

void TCustomProp::Setup(TCanvas&, int) {}

// No editors are registered in this system; classes with their own editing override Edit.
bool TCustomProp::Edit() {
    return false;
}

void TCustomProp::GetEnumList(std::vector<TEnumItem>& items) {
    items.clear();
}

const std::vector<TSubPropInfo>& TCustomProp::Published() const {
    return NoPublished();
}

int TCustomProp::IndexOfPublished(std::string_view name) const {
    const std::vector<TSubPropInfo>& table = Published();
    for (size_t i = 0; i < table.size(); ++i)
        if (SameText(table[i].Name, name)) return static_cast<int>(i);
    return -1;
}

TCustomProp* TCustomProp::GetSubPropObject(std::string_view name) {
    int i = IndexOfPublished(name);
    if (i < 0 || Published()[i].Type != TSubPropType::Object) return nullptr;
    return PublishedObject(i);
}

bool TCustomProp::IsSubPropStored(std::string_view subPropName) {
    int i = IndexOfPublished(subPropName);
    if (i < 0) return true;
    const TSubPropInfo& info = Published()[i];
    switch (info.Type) {
    case TSubPropType::Data:
    case TSubPropType::Object: return IsPublishedStored(i);
    case TSubPropType::String:
        if (GetString(i).empty()) return false;
        break;
    case TSubPropType::Float:
        if (GetFloat(i) == 0.0) return false;
        break;
    default:
        if (info.HasDefault && GetOrdinal(i) == info.Default) return false;
        break;
    }
    return IsPublishedStored(i);
}

int64_t TCustomProp::GetOrdinal(int) const {
    return 0;
}
void TCustomProp::StoreOrdinal(int, int64_t) {}
std::string TCustomProp::GetString(int) const {
    return {};
}
void TCustomProp::StoreString(int, const std::string&) {}
double TCustomProp::GetFloat(int) const {
    return 0.0;
}
void TCustomProp::StoreFloat(int, double) {}
TVariant TCustomProp::GetData(int) {
    return TVariant();
}
void TCustomProp::SetData(int, const TVariant&) {}
TCustomProp* TCustomProp::PublishedObject(int) {
    return nullptr;
}
bool TCustomProp::IsPublishedStored(int) {
    return true;
}

TVariant TCustomProp::GetPublished(int index) {
    const TSubPropInfo& info = Published()[index];
    switch (info.Type) {
    case TSubPropType::Integer: return TVariant(static_cast<int32_t>(GetOrdinal(index)));
    case TSubPropType::Int64: return TVariant(GetOrdinal(index));
    case TSubPropType::Float: return TVariant(GetFloat(index));
    case TSubPropType::Enum: {
        int64_t i = GetOrdinal(index);
        if (!info.Names || i < 0 || i >= static_cast<int64_t>(info.Names->size()))
            return TVariant(IntToStr(i));
        return TVariant((*info.Names)[i]);
    }
    case TSubPropType::Boolean: return TVariant(GetOrdinal(index) ? "True" : "False");
    case TSubPropType::Set: return TVariant(JoinSet(GetOrdinal(index), *info.Names));
    case TSubPropType::String: return TVariant(GetString(index));
    case TSubPropType::Data: return GetData(index);
    case TSubPropType::Object: return TVariant();
    }
    return TVariant();
}

namespace {

int64_t EnumFromValue(const TVariant& value, const std::vector<std::string>& names) {
    if (value.IsOrdinal() && value.VarType() != varBoolean) {
        int64_t i = value.AsInt64();
        if (i >= 0 && i < static_cast<int64_t>(names.size())) return i;
        throw EConvertError("'" + value.AsString() + "' is not a valid enumeration value");
    }
    std::string text = Trim(value.AsString());
    for (size_t i = 0; i < names.size(); ++i)
        if (SameText(names[i], text)) return static_cast<int64_t>(i);
    throw EConvertError("'" + text + "' is not a valid enumeration value");
}

bool BoolFromValue(const TVariant& value) {
    if (value.VarType() == varBoolean || value.IsOrdinal()) return value.AsInt64() != 0;
    std::string text = Trim(value.AsString());
    if (SameText(text, "True")) return true;
    if (SameText(text, "False")) return false;
    throw EConvertError("'" + text + "' is not a valid boolean value");
}

int64_t SetFromValue(const TVariant& value, const std::vector<std::string>& names) {
    if (value.IsOrdinal()) return value.AsInt64();
    std::string text = Trim(value.AsString());
    if (!text.empty() && text.front() == '[') {
        if (text.back() != ']') throw EConvertError("'" + text + "' is not a valid set value");
        text = Trim(text.substr(1, text.size() - 2));
    }
    int64_t bits = 0;
    size_t start = 0;
    while (start <= text.size() && !text.empty()) {
        size_t comma = text.find(',', start);
        std::string element = Trim(
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        size_t i = 0;
        while (i < names.size() && !SameText(names[i], element))
            ++i;
        if (i == names.size()) throw EConvertError("'" + element + "' is not a valid set element");
        bits |= int64_t(1) << i;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return bits;
}

int64_t IntegerFromValue(const TVariant& value, bool wide) {
    if (value.IsString()) {
        std::string text = Trim(value.AsString());
        return wide ? StrToInt64(text) : StrToInt(text);
    }
    return wide ? value.AsInt64() : value.AsInteger();
}

double FloatFromValue(const TVariant& value) {
    if (value.IsString()) {
        double d;
        std::string text = value.AsString();
        if (!TryStrToFloatDot(text, d))
            throw EConvertError("'" + text + "' is not a valid floating point value");
        return d;
    }
    return value.AsDouble();
}

} // namespace

void TCustomProp::SetPublished(int index, const TVariant& value) {
    const TSubPropInfo& info = Published()[index];
    switch (info.Type) {
    case TSubPropType::Integer: ChangeOrdinal(index, IntegerFromValue(value, false)); break;
    case TSubPropType::Int64: ChangeOrdinal(index, IntegerFromValue(value, true)); break;
    case TSubPropType::Float: ChangeFloat(index, FloatFromValue(value)); break;
    case TSubPropType::Enum: ChangeOrdinal(index, EnumFromValue(value, *info.Names)); break;
    case TSubPropType::Boolean: ChangeOrdinal(index, BoolFromValue(value) ? 1 : 0); break;
    case TSubPropType::Set: ChangeOrdinal(index, SetFromValue(value, *info.Names)); break;
    case TSubPropType::String: ChangeString(index, value.AsString()); break;
    case TSubPropType::Data: SetData(index, value); break;
    case TSubPropType::Object: break;
    }
}

bool TCustomProp::ChangeOrdinal(int index, int64_t value) {
    if (GetOrdinal(index) == value || IsReadOnly()) return false;
    DoBeforeChanged();
    StoreOrdinal(index, value);
    DoChanged();
    return true;
}

bool TCustomProp::ChangeString(int index, const std::string& value) {
    if (GetString(index) == value || IsReadOnly()) return false;
    DoBeforeChanged();
    StoreString(index, value);
    DoChanged();
    return true;
}

bool TCustomProp::ChangeFloat(int index, double value) {
    if (GetFloat(index) == value || IsReadOnly()) return false;
    DoBeforeChanged();
    StoreFloat(index, value);
    DoChanged();
    return true;
}

// --- TEnumProp, TBoolProp ---

TEnumProp::TEnumProp(TPropList* list, const std::string& name, uint8_t style)
    : TCustomProp(list, name, pkPlain, style) {}

int TEnumProp::AddItem(const std::string& name) {
    FItems.push_back(name);
    return static_cast<int>(FItems.size()) - 1;
}

void TEnumProp::SetEnumIndex(int index) {
    if (index < 0 || index >= static_cast<int>(FItems.size())) return;
    ChangeField(FIndex, index);
}

std::string TEnumProp::Current() const {
    if (FIndex < 0 || FIndex >= static_cast<int>(FItems.size())) return {};
    return FItems[FIndex];
}

int TEnumProp::IndexOfName(std::string_view name) const {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (SameText(FItems[i], name)) return static_cast<int>(i);
    return -1;
}

std::string TEnumProp::GetDisplayValue() {
    return Current();
}

void TEnumProp::SetPropValue(std::string_view propName, const TVariant& value) {
    if (!propName.empty()) return TCustomProp::SetPropValue(propName, value);
    int i = IndexOfName(value.AsString());
    if (i >= 0) SetEnumIndex(i);
}

TVariant TEnumProp::GetPropValue(std::string_view propName) {
    if (!propName.empty()) return TCustomProp::GetPropValue(propName);
    if (FIndex < 0 || FIndex >= static_cast<int>(FItems.size())) return TVariant();
    return TVariant(FItems[FIndex]);
}

void TEnumProp::GetEnumList(std::vector<TEnumItem>& items) {
    items.clear();
    for (const std::string& name : FItems)
        items.push_back({name, nullptr});
}

TBoolProp::TBoolProp(TPropList* list, const std::string& name, uint8_t style)
    : TEnumProp(list, name, style) {
    FItems = {"False", "True"};
}

void TBoolProp::SetPropValue(std::string_view propName, const TVariant& value) {
    if (propName.empty() && value.VarType() == varBoolean) return SetValue(value.AsBoolean());
    TEnumProp::SetPropValue(propName, value);
}

TVariant TBoolProp::GetPropValue(std::string_view propName) {
    if (!propName.empty()) return TCustomProp::GetPropValue(propName);
    return TVariant(GetValue());
}

// --- TIntProp, TLongWordProp ---

namespace {

std::string DocUnitsText(int64_t value) {
    return FloatToStrFixedDot(static_cast<double>(value) / 1000.0, 3);
}

// A display text typed in document-unit pixels; the value in document units.
int64_t DocUnitsFromText(const std::string& text) {
    double pixels;
    if (!TryStrToFloatDot(text, pixels))
        throw EConvertError("'" + text + "' is not a valid floating point value");
    return std::llround(pixels * 1000.0);
}

} // namespace

TIntProp::TIntProp(TPropList* list, const std::string& name, uint8_t style)
    : TCustomProp(list, name, pkPlain, style) {}

int32_t TIntProp::GetValue() const {
    if (FGetter) return FGetter();
    return FExternal ? *FExternal : FValue;
}

void TIntProp::SetValue(int32_t value) {
    if (GetValue() == value || IsReadOnly()) return;
    DoBeforeChanged();
    (FExternal ? *FExternal : FValue) = value;
    DoChanged();
}

void TIntProp::BindTo(int32_t* external) {
    FExternal = external;
}

std::string TIntProp::GetDisplayValue() {
    if (Style() & propDocUnits) return DocUnitsText(GetValue());
    return IntToStr(GetValue());
}

void TIntProp::SetDisplayValue(const std::string& text) {
    if (!(Style() & propDocUnits)) return TCustomProp::SetDisplayValue(text);
    int64_t value = DocUnitsFromText(text);
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        throw EConvertError("'" + text + "' is out of range");
    SetValue(static_cast<int32_t>(value));
}

void TIntProp::SetPropValue(std::string_view propName, const TVariant& value) {
    if (!propName.empty()) return TCustomProp::SetPropValue(propName, value);
    SetValue(value.AsInteger());
}

TVariant TIntProp::GetPropValue(std::string_view propName) {
    if (!propName.empty()) return TCustomProp::GetPropValue(propName);
    return TVariant(GetValue());
}

TLongWordProp::TLongWordProp(TPropList* list, const std::string& name, uint8_t style)
    : TCustomProp(list, name, pkPlain, style) {}

std::string TLongWordProp::GetDisplayValue() {
    if (Style() & propDocUnits) return DocUnitsText(FValue);
    return IntToStr(FValue);
}

void TLongWordProp::SetDisplayValue(const std::string& text) {
    if (!(Style() & propDocUnits)) return TCustomProp::SetDisplayValue(text);
    int64_t value = DocUnitsFromText(text);
    if (value < 0 || value > std::numeric_limits<uint32_t>::max())
        throw EConvertError("'" + text + "' is out of range");
    SetValue(static_cast<uint32_t>(value));
}

void TLongWordProp::SetPropValue(std::string_view propName, const TVariant& value) {
    if (!propName.empty()) return TCustomProp::SetPropValue(propName, value);
    SetValue(value.AsLongWord());
}

TVariant TLongWordProp::GetPropValue(std::string_view propName) {
    if (!propName.empty()) return TCustomProp::GetPropValue(propName);
    return TVariant::LongWord(FValue);
}

// --- TStrProp ---

TStrProp::TStrProp(TPropList* list, const std::string& name, uint8_t style)
    : TCustomProp(list, name, pkPlain, style) {}

std::string TStrProp::GetValue() const {
    return FGetter ? FGetter() : FValue;
}

void TStrProp::SetValue(const std::string& value) {
    if (GetValue() == value || IsReadOnly()) return;
    DoBeforeChanged();
    FValue = value;
    DoChanged();
}

std::string TStrProp::GetDisplayValue() {
    return GetValue();
}

void TStrProp::SetPropValue(std::string_view propName, const TVariant& value) {
    if (!propName.empty()) return TCustomProp::SetPropValue(propName, value);
    SetValue(value.AsString());
}

TVariant TStrProp::GetPropValue(std::string_view propName) {
    if (!propName.empty()) return TCustomProp::GetPropValue(propName);
    return TVariant(GetValue());
}

// --- TStrListProp ---

TStrListProp::TStrListProp(TPropList* list, const std::string& name, uint8_t style)
    : TCustomProp(list, name, pkStrList, style) {}

void TStrListProp::SetLines(std::vector<std::string> lines) {
    ChangeField(FLines, lines);
}

std::string TStrListProp::Text() const {
    std::string text;
    for (size_t i = 0; i < FLines.size(); ++i) {
        if (i > 0) text += "\r\n";
        text += FLines[i];
    }
    return text;
}

void TStrListProp::SetText(std::string_view text) {
    std::vector<std::string> lines;
    size_t i = 0;
    while (i < text.size()) {
        size_t end = text.find_first_of("\r\n", i);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(i));
            break;
        }
        lines.emplace_back(text.substr(i, end - i));
        i = end + 1;
        if (text[end] == '\r' && i < text.size() && text[i] == '\n') ++i;
    }
    SetLines(std::move(lines));
}

int TStrListProp::IndexOfName(std::string_view name) const {
    for (size_t i = 0; i < FLines.size(); ++i) {
        size_t eq = FLines[i].find('=');
        if (eq != std::string::npos && SameText(std::string_view(FLines[i]).substr(0, eq), name))
            return static_cast<int>(i);
    }
    return -1;
}

std::string TStrListProp::ValueByName(std::string_view name) const {
    int i = IndexOfName(name);
    if (i < 0) return {};
    return FLines[i].substr(FLines[i].find('=') + 1);
}

void TStrListProp::SetValueByName(std::string_view name, const std::string& value) {
    std::string key = Trim(name);
    std::vector<std::string> lines = FLines;
    int i = IndexOfName(key);
    if (i < 0)
        lines.push_back(key + "=" + value);
    else
        lines[i] = lines[i].substr(0, lines[i].find('=') + 1) + value;
    SetLines(std::move(lines));
}

void TStrListProp::SetPropValue(std::string_view propName, const TVariant& value) {
    if (!propName.empty()) return TCustomProp::SetPropValue(propName, value);
    if (value.IsEmpty()) return SetLines({});
    if (!value.IsArray()) return;
    std::vector<std::string> lines;
    if (value.VarType() == (varArray | varByte)) {
        const std::vector<uint8_t>& bytes = value.ByteArray();
        for (uint8_t b : bytes)
            lines.push_back(IntToStr(b));
    } else {
        for (const TVariant& item : value.Items())
            lines.push_back(item.AsString());
    }
    SetLines(std::move(lines));
}

TVariant TStrListProp::GetPropValue(std::string_view propName) {
    if (!propName.empty()) return TCustomProp::GetPropValue(propName);
    if (FLines.empty()) return TVariant();
    std::vector<TVariant> items;
    items.reserve(FLines.size());
    for (const std::string& line : FLines)
        items.emplace_back(line);
    return TVariant::Array(std::move(items));
}

// --- TDataProp ---

TDataProp::TDataProp(TPropList* list, const std::string& name, uint8_t style)
    : TCustomProp(list, name, pkData, style) {}

void TDataProp::SetPropValue(std::string_view propName, const TVariant& value) {
    if (!propName.empty()) return TCustomProp::SetPropValue(propName, value);
    if (!value.IsEmpty() && value.VarType() != (varArray | varByte)) return;
    const std::vector<uint8_t>& bytes = value.ByteArray();
    if ((OnGetData && OnGetData() == bytes) || IsReadOnly()) return;
    DoBeforeChanged();
    if (OnSetData) OnSetData(bytes);
    DoChanged();
}

TVariant TDataProp::GetPropValue(std::string_view propName) {
    if (!propName.empty()) return TCustomProp::GetPropValue(propName);
    if (!OnGetData) return TVariant();
    return TVariant::Bytes(OnGetData());
}

// --- TPropList ---

TPropList::TPropList(IPropControl* control)
    : FControl(control)
    , FNotifyLink(this) {}

TPropList::~TPropList() {
    *FAlive = false;
    FNotifyLink.DestroyNotify();
    Clear();
}

bool TPropList::IsReservedName(std::string_view name) {
    for (const char* reserved :
         {"document", "clipboard", "library", "object", "property", "end", "vektbinary"})
        if (name == reserved) return true;
    return false;
}

size_t TPropList::LowerBound(std::string_view name) const {
    size_t lo = 0, hi = FItems.size();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (CompareText(FItems[mid].Name, name) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

void TPropList::Add(TCustomProp* prop, const std::string& name) {
    size_t at = LowerBound(name);
    bool taken = at < FItems.size() && SameText(FItems[at].Name, name);
    if (prop->FList || (!IsLoading() && (taken || IsReservedName(name))))
        throw Exception(Format("Property %s already exist", name.c_str()));
    // A second property of a name, accepted while loading, goes after the first one.
    while (at < FItems.size() && SameText(FItems[at].Name, name))
        ++at;
    FItems.insert(FItems.begin() + static_cast<ptrdiff_t>(at), TItem{name, prop});
    prop->FList = this;
    prop->FName = name;
}

void TPropList::Detach(TCustomProp* prop) {
    int i = IndexOf(prop);
    if (i >= 0) FItems.erase(FItems.begin() + i);
    prop->FList = nullptr;
}

void TPropList::Delete(int index) {
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    TCustomProp* prop = FItems[index].Prop;
    FItems.erase(FItems.begin() + index);
    prop->FList = nullptr;
    delete prop;
}

void TPropList::Clear() {
    while (!FItems.empty())
        Delete(Count() - 1);
}

int TPropList::IndexOf(const TCustomProp* prop) const {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].Prop == prop) return static_cast<int>(i);
    return -1;
}

TCustomProp* TPropList::ByName(std::string_view name) const {
    size_t at = LowerBound(name);
    if (at < FItems.size() && SameText(FItems[at].Name, name)) return FItems[at].Prop;
    return nullptr;
}

bool TPropList::IsReadOnly(const TCustomProp& prop) {
    // Undo and redo read values back into properties: read-only ones must take them too.
    if (IsLoading() && FHistory && FHistory->IsRestoring()) return false;
    for (const TCustomProp* p = &prop; p; p = p->ParentProp())
        if (p->Style() & propReadOnly) return true;
    bool readOnly = false;
    if (OnPropReadOnly) OnPropReadOnly(const_cast<TCustomProp&>(prop), readOnly);
    return readOnly;
}

bool TPropList::IsStored(TCustomProp& prop, std::string_view subPropName) {
    bool stored = subPropName.empty() ? true : prop.IsSubPropStored(subPropName);
    if (OnPropStored) OnPropStored(prop, subPropName, stored);
    return stored;
}

void TPropList::BeginLoading() {
    if (FMode == TMode::Saving) throw Exception("Can't switch to loading mode");
    FMode = TMode::Loading;
    ++FModeCount;
}

void TPropList::BeginSaving() {
    if (FMode == TMode::Loading) throw Exception("Can't switch to saving mode");
    FMode = TMode::Saving;
    ++FModeCount;
}

void TPropList::EndMode() {
    if (FModeCount > 0 && --FModeCount == 0) FMode = TMode::None;
}

void TPropList::PropBeforeChanged(TCustomProp& prop) {
    if (FHistory && !prop.SuppressHistory && !prop.RootProp().SuppressHistory) {
        const THistoryActionClass* actionClass = FHistory->PropChangeActionClass();
        if (OnPropHistoryAction) OnPropHistoryAction(prop, actionClass);
        // A sub-object's value lives in its top-level property; that is what undo restores.
        if (actionClass) FHistory->RecordPropAction(actionClass, prop.RootProp());
    }
    if (OnPropBeforeChanged) OnPropBeforeChanged(prop);
    FNotifyLink.PropNotify(&prop, true);
}

void TPropList::PropChanged(TCustomProp& prop) {
    if (OnPropChanged) OnPropChanged(prop);
    FNotifyLink.PropNotify(&prop, false);
}

// --- TPropRefList ---

TPropRefList::TPropRefList() {
    LiveQueues().push_back(this);
}

TPropRefList::~TPropRefList() {
    Clear();
    std::vector<TPropRefList*>& queues = LiveQueues();
    queues.erase(std::remove(queues.begin(), queues.end(), this), queues.end());
}

void TPropRefList::Add(TCustomProp& prop, std::string_view subPropName, const TVariant& value) {
    constexpr size_t MaxSubPropName = 255;
    FEntries.push_back({&prop, std::string(subPropName.substr(0, MaxSubPropName)), value});
    ++prop.FQueuedCount;
    ++FLive;
}

int TPropRefList::Count() const {
    return FLive;
}

void TPropRefList::Drop(TEntry& entry) {
    if (entry.Prop) {
        --entry.Prop->FQueuedCount;
        entry.Prop = nullptr;
        --FLive;
    }
}

void TPropRefList::Remove(TCustomProp& prop) {
    for (TEntry& e : FEntries)
        if (e.Prop == &prop) Drop(e);
}

void TPropRefList::Clear() {
    for (TEntry& e : FEntries)
        Drop(e);
    FEntries.clear();
}

void TPropRefList::Apply() {
    while (!FEntries.empty()) {
        TEntry entry = std::move(FEntries.back());
        FEntries.pop_back();
        if (!entry.Prop) continue;
        TCustomProp* prop = entry.Prop;
        --prop->FQueuedCount;
        --FLive;
        TPropList* list = prop->OwnerList();
        if (!list) {
            prop->SetPropValue(entry.SubPropName, entry.Value);
            continue;
        }
        TPropRefList* saved = list->FRefQueue;
        std::shared_ptr<bool> alive = list->FAlive;
        auto restore = [&] {
            if (*alive) {
                list->FRefQueue = saved;
                --list->FResolveCount;
            }
        };
        ++list->FResolveCount;
        list->FRefQueue = this;
        try {
            prop->SetPropValue(entry.SubPropName, entry.Value);
        } catch (...) {
            restore();
            throw;
        }
        restore();
    }
    ClearIds();
}

void TPropRefList::MapId(uint32_t documentId, uint32_t newId) {
    FIdMap.emplace(documentId, newId);
}

uint32_t TPropRefList::TranslateId(uint32_t documentId) const {
    if (FKept.IsUsed(documentId)) return documentId;
    auto it = FIdMap.find(documentId);
    return it == FIdMap.end() ? documentId : it->second;
}

void TPropRefList::ClearIds() {
    FKept.Clear();
    FIdMap.clear();
}
