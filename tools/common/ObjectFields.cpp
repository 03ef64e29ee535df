#include "ObjectFields.h"

#include <functional>
#include <limits>
#include <type_traits>
#include <vector>

#include "ClientList.h"
#include "MonCommon.h"
#include "MonCommon2.h"
#include "ParadoxCommon.h"

using json = nlohmann::ordered_json;

namespace {

[[noreturn]] void Refuse(const std::string& field, const std::string& why) {
    throw Exception("field \"" + field + "\": " + why);
}

template <class T>
T Number(const std::string& field, const json& value) {
    if (!value.is_number_integer()) Refuse(field, "expected an integer, not " + value.dump());
    if (value.is_number_unsigned()) {
        auto n = value.get<uint64_t>();
        if (n > static_cast<uint64_t>(std::numeric_limits<T>::max()))
            Refuse(field, value.dump() + " is out of range");
        return static_cast<T>(n);
    }
    auto n = value.get<int64_t>();
    if (n < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
        n > static_cast<int64_t>(std::numeric_limits<T>::max()))
        Refuse(field, value.dump() + " is out of range");
    return static_cast<T>(n);
}

bool Boolean(const std::string& field, const json& value) {
    if (!value.is_boolean()) Refuse(field, "expected true or false, not " + value.dump());
    return value.get<bool>();
}

std::string Text(const std::string& field, const json& value) {
    if (!value.is_string()) Refuse(field, "expected a string, not " + value.dump());
    return value.get<std::string>();
}

double Real(const std::string& field, const json& value) {
    if (!value.is_number()) Refuse(field, "expected a number, not " + value.dump());
    return value.get<double>();
}

TVariant VariantOf(const std::string& field, const json& value) {
    if (value.is_null()) return TVariant::Null();
    if (value.is_boolean()) return TVariant(value.get<bool>());
    if (value.is_number_integer()) {
        int64_t n = value.get<int64_t>();
        if (n >= std::numeric_limits<int32_t>::min() && n <= std::numeric_limits<int32_t>::max())
            return TVariant(static_cast<int32_t>(n));
        return TVariant(n);
    }
    if (value.is_number()) return TVariant(value.get<double>());
    if (value.is_string()) return TVariant(value.get<std::string>());
    Refuse(field, "a carried value is null, a boolean, a number or a string, not " + value.dump());
}

json JsonOf(const TVariant& value) {
    if (value.IsEmptyOrNull()) return nullptr;
    if (value.VarType() == varBoolean) return value.AsBoolean();
    if (value.IsOrdinal()) return value.AsInt64();
    if (value.IsFloat()) return value.AsDouble();
    if (value.IsString()) return value.AsString();
    return TVariant::TypeName(value.VarType());
}

struct TField {
    const char* Name;
    bool State;
    std::function<json(const TCustomSysObject&)> Get;
    std::function<void(TCustomSysObject&, const std::string&, const json&)> Set;
};

template <class V>
V FromJson(const std::string& field, const json& value) {
    if constexpr (std::is_same_v<V, bool>)
        return Boolean(field, value);
    else if constexpr (std::is_same_v<V, std::string>)
        return Text(field, value);
    else if constexpr (std::is_same_v<V, double>)
        return Real(field, value);
    else if constexpr (std::is_same_v<V, TVariant>)
        return VariantOf(field, value);
    else
        return Number<V>(field, value);
}

template <class V>
json ToJson(const V& value) {
    if constexpr (std::is_same_v<V, TVariant>)
        return JsonOf(value);
    else
        return value;
}

// A field read and written through the class's own getter and setter.
template <class C, class R, class A>
TField Field(const char* name, bool state, R (C::*get)() const, void (C::*set)(A)) {
    using V = std::decay_t<A>;
    return {name, state,
            [get](const TCustomSysObject& o) -> json {
                return ToJson<std::decay_t<R>>((dynamic_cast<const C&>(o).*get)());
            },
            [set](TCustomSysObject& o, const std::string& f, const json& v) {
                (dynamic_cast<C&>(o).*set)(FromJson<V>(f, v));
            }};
}

const std::vector<TField>& CommonFields() {
    using O = TCustomSysObject;
    static const std::vector<TField> fields = {
        Field("Name", false, &O::Name, &O::SetName),
        Field("Category", false, &O::Category, &O::SetCategory),
        Field("OptionA", false, &O::OptionA, &O::SetOptionA),
        Field("OptionB", false, &O::OptionB, &O::SetOptionB),
        Field("Data", false, &O::Data, &O::SetData),
        Field("ParamA", false, &O::ParamA, &O::SetParamA),
        Field("ParamB", false, &O::ParamB, &O::SetParamB),
    };
    return fields;
}

const std::vector<TField>& ServiceFields() {
    using S = TSysService;
    static const std::vector<TField> fields = {
        Field("Value1", false, &S::Value1, &S::SetValue1),
        Field("Value2", false, &S::Value2, &S::SetValue2),
        Field("Time1", false, &S::Time1, &S::SetTime1),
        Field("Time2", false, &S::Time2, &S::SetTime2),
        Field("Info", false, &S::Info, &S::SetInfo),
        Field("Online", true, &S::Online, &S::SetOnline),
        Field("StatusCode", true, &S::StatusCode, &S::SetStatusCode),
        Field("StatusText", true, &S::StatusText, &S::SetStatusText),
        Field("StatusDetail", true, &S::StatusDetail, &S::SetStatusDetail),
    };
    return fields;
}

const std::vector<TField>& DepartmentFields() {
    using O = TCustomSysObject;
    using D = TDepartment;
    static const std::vector<TField> fields = {
        {"Members", false,
         [](const O& o) -> json {
             json members = json::array();
             const D& d = dynamic_cast<const D&>(o);
             for (int i = 0; i < d.MemberCount(); ++i)
                 members.push_back(d.Members(i));
             return members;
         },
         [](O& o, const std::string& f, const json& v) {
             if (!v.is_array()) Refuse(f, "expected a list of object ids, not " + v.dump());
             for (const json& id : v)
                 dynamic_cast<D&>(o).AddMember(Number<int32_t>(f, id), true);
         }},
    };
    return fields;
}

const std::vector<TField>& PanelFields() {
    using O = TCustomSysObject;
    using P = TParadoxPanel;
    static const std::vector<TField> fields = {
        Field("PanelValue", false, &P::PanelValue, &P::SetPanelValue),
        Field("PanelText1", false, &P::PanelText1, &P::SetPanelText1),
        Field("PanelByte", false, &P::PanelByte, &P::SetPanelByte),
        Field("PanelText2", false, &P::PanelText2, &P::SetPanelText2),
        Field("PanelText3", false, &P::PanelText3, &P::SetPanelText3),
        Field("PanelFlag1", false, &P::PanelFlag1, &P::SetPanelFlag1),
        Field("ZoneStatusEnabled", false, &P::ZoneStatusEnabled, &P::SetZoneStatusEnabled),
        Field("PanelFlag2", false, &P::PanelFlag2, &P::SetPanelFlag2),
        Field("PanelText4", false, &P::PanelText4, &P::SetPanelText4),
        Field("PanelWord1", false, &P::PanelWord1, &P::SetPanelWord1),
        Field("PanelFlag3", false, &P::PanelFlag3, &P::SetPanelFlag3),
        Field("PanelWord2", false, &P::PanelWord2, &P::SetPanelWord2),
        Field("PanelText5", false, &P::PanelText5, &P::SetPanelText5),
        Field("PanelFlag4", false, &P::PanelFlag4, &P::SetPanelFlag4),
        Field("PanelText6", false, &P::PanelText6, &P::SetPanelText6),
        Field("PanelFlag5", false, &P::PanelFlag5, &P::SetPanelFlag5),
        Field("PanelText7", false, &P::PanelText7, &P::SetPanelText7),
        // The pairs the panel stores together are set one half at a time here.
        {"ConnectionState", true,
         [](const O& o) -> json { return dynamic_cast<const P&>(o).ConnectionState(); },
         [](O& o, const std::string& f, const json& v) {
             P& p = dynamic_cast<P&>(o);
             p.SetConnection(Number<int32_t>(f, v), p.ConnectionText());
         }},
        {"ConnectionText", true,
         [](const O& o) -> json { return dynamic_cast<const P&>(o).ConnectionText(); },
         [](O& o, const std::string& f, const json& v) {
             P& p = dynamic_cast<P&>(o);
             p.SetConnection(p.ConnectionState(), Text(f, v));
         }},
        {"StateValue1", true,
         [](const O& o) -> json { return dynamic_cast<const P&>(o).StateValue1(); },
         [](O& o, const std::string& f, const json& v) {
             P& p = dynamic_cast<P&>(o);
             p.SetStateValues(p.StateValue2(), Number<int32_t>(f, v));
         }},
        {"StateValue2", true,
         [](const O& o) -> json { return dynamic_cast<const P&>(o).StateValue2(); },
         [](O& o, const std::string& f, const json& v) {
             P& p = dynamic_cast<P&>(o);
             p.SetStateValues(Number<int32_t>(f, v), p.StateValue1());
         }},
        Field("StateValue3", true, &P::StateValue3, &P::SetStateValue3),
        Field("StateByte1", true, &P::StateByte1, &P::SetStateByte1),
        Field("StateLong", true, &P::StateLong, &P::SetStateLong),
        Field("StateByte2", true, &P::StateByte2, &P::SetStateByte2),
        Field("StateByte3", true, &P::StateByte3, &P::SetStateByte3),
    };
    return fields;
}

const std::vector<TField>& PartitionFields() {
    using P = TParadoxPartition;
    static const std::vector<TField> fields = {
        Field("PanelId", false, &P::PanelId, &P::SetPanelId),
        Field("PartitionNumber", false, &P::PartitionNumber, &P::SetPartitionNumber),
        Field("PartitionData", false, &P::PartitionData, &P::SetPartitionData),
        Field("PartitionOption", false, &P::PartitionOption, &P::SetPartitionOption),
        Field("ArmStatus", true, &P::ArmStatus, &P::SetArmStatus),
        Field("ReadyStatus", true, &P::ReadyStatus, &P::SetReadyStatus),
    };
    return fields;
}

const std::vector<TField>& ZoneFields() {
    using Z = TParadoxZone;
    static const std::vector<TField> fields = {
        Field("PanelId", false, &Z::PanelId, &Z::SetPanelId),
        Field("PartitionId", false, &Z::PartitionId, &Z::SetPartitionId),
        Field("ZoneNumber", false, &Z::ZoneNumber, &Z::SetZoneNumber),
        Field("ZoneValue", false, &Z::ZoneValue, &Z::SetZoneValue),
        Field("ZoneOption", false, &Z::ZoneOption, &Z::SetZoneOption),
        Field("BypassUntil", false, &Z::BypassUntil, &Z::SetBypassUntil),
        Field("BypassReason", false, &Z::BypassReason, &Z::SetBypassReason),
        Field("ZoneState", true, &Z::ZoneState, &Z::SetZoneState),
    };
    return fields;
}

const std::vector<TField>& LightClientFields() {
    using L = TLightClient;
    static const std::vector<TField> fields = {
        Field("LightValue", false, &L::LightValue, &L::SetLightValue),
        Field("Option1", false, &L::Option1, &L::SetOption1),
        Field("Option2", false, &L::Option2, &L::SetOption2),
        Field("Option3", false, &L::Option3, &L::SetOption3),
        Field("Option4", false, &L::Option4, &L::SetOption4),
        Field("Option5", false, &L::Option5, &L::SetOption5),
        Field("Option6", false, &L::Option6, &L::SetOption6),
        Field("LightData", false, &L::LightData, &L::SetLightData),
        Field("StatusFlags", true, &L::StatusFlags, &L::SetStatusFlags),
        Field("StatusText1", true, &L::StatusText1, &L::SetStatusText1),
        Field("StatusText2", true, &L::StatusText2, &L::SetStatusText2),
        Field("DetailText", true, &L::DetailText, &L::SetDetailText),
        Field("StatusTime", true, &L::StatusTime, &L::SetStatusTime),
    };
    return fields;
}

// The fields of the object's class, common fields first.
std::vector<const TField*> FieldsOf(const TCustomSysObject& object) {
    std::vector<const TField*> fields;
    for (const TField& field : CommonFields())
        fields.push_back(&field);
    const std::vector<TField>* own = nullptr;
    if (dynamic_cast<const TSysService*>(&object))
        own = &ServiceFields();
    else if (dynamic_cast<const TDepartment*>(&object))
        own = &DepartmentFields();
    else if (dynamic_cast<const TParadoxPanel*>(&object))
        own = &PanelFields();
    else if (dynamic_cast<const TParadoxPartition*>(&object))
        own = &PartitionFields();
    else if (dynamic_cast<const TParadoxZone*>(&object))
        own = &ZoneFields();
    else if (dynamic_cast<const TLightClient*>(&object))
        own = &LightClientFields();
    if (own)
        for (const TField& field : *own)
            fields.push_back(&field);
    return fields;
}

json Collect(const TCustomSysObject& object, bool state) {
    json out = json::object();
    for (const TField* field : FieldsOf(object))
        if (field->State == state) out[field->Name] = field->Get(object);
    return out;
}

} // namespace

std::unique_ptr<TCustomSysObject> CreateSiteObject(const std::string& typeName) {
    if (typeName == TDepartment::ClassType) return TCustomSysObject::Create<TDepartment>();
    std::unique_ptr<TCustomSysObject> object = CreateModelObject(typeName);
    if (object) {
        object->SetReadOnly(false);
        // Close the bracket the received-object factory leaves open for a first load.
        object->BeginUpdate();
        object->EndUpdate();
    }
    return object;
}

void ApplyFields(TCustomSysObject& object, const json& fields) {
    if (!fields.is_object())
        throw Exception("fields must be an object of name and value, not " + fields.dump());
    std::vector<const TField*> known = FieldsOf(object);
    object.BeginUpdate();
    object.BeginStateUpdate();
    try {
        for (auto it = fields.begin(); it != fields.end(); ++it) {
            auto found = std::find_if(known.begin(), known.end(),
                                      [&](const TField* f) { return it.key() == f->Name; });
            if (found == known.end())
                Refuse(it.key(), std::string("a ") + object.ClassTypeName() + " has no such field");
            (*found)->Set(object, it.key(), it.value());
        }
    } catch (...) {
        object.EndStateUpdate();
        object.EndUpdate();
        throw;
    }
    object.EndStateUpdate();
    object.EndUpdate();
}

json DataFields(const TCustomSysObject& object) {
    return Collect(object, false);
}

json StateFields(const TCustomSysObject& object) {
    return Collect(object, true);
}

std::string StateSection(TCustomSysObject& object) {
    TBufferProtocol state(64);
    object.WriteState(state);
    return std::string(reinterpret_cast<const char*>(state.Data()),
                       static_cast<size_t>(state.GetSize()));
}
