#include "CoreCommon.h"

#include <algorithm>
#include <bit>
#include <exception>

#include "Debug.h"
#include "ResourceStrings.h"
#include "SysUtils.h"

namespace {

const char* const ReadBeyondEnd = "Attempt to read beyond end of buffer!";

// Destruction must not throw, and one failing handler must not stop the object from leaving
// its owner: each step runs on its own.
template <class F>
void Quietly(F&& step) noexcept {
    try {
        step();
    } catch (const std::exception& e) {
        DebugLog(std::string("Handler failed during destruction: ") + e.what());
    } catch (...) {
        DebugLog("Handler failed during destruction");
    }
}

// A section length read from a record, checked against what is left before anything is read
// from the section, so a hostile length can neither move the cursor backwards nor past the end.
int32_t SectionEnd(const TBufferProtocol& protocol, int32_t length) {
    int64_t end = static_cast<int64_t>(protocol.Position()) + length;
    if (length < 0 || end > protocol.GetSize()) throw Exception(ReadBeyondEnd);
    return static_cast<int32_t>(end);
}

} // namespace

bool SameDouble(double a, double b) {
    return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

bool SameVariant(const TVariant& a, const TVariant& b) {
    if (a.VarType() != b.VarType()) return false;
    switch (a.VarType()) {
    case varSingle:
    case varDouble:
    case varDate: return SameDouble(a.AsDouble(), b.AsDouble());
    default: return a == b;
    }
}

// --- TSysHandlerList ---

void TSysHandlerList::Add(TSysObjectHandler callback, void* context) {
    FEntries.push_back({callback, context});
}

void TSysHandlerList::Remove(TSysObjectHandler callback, void* context) {
    for (size_t i = FEntries.size(); i-- > 0;) {
        Entry& e = FEntries[i];
        if (e.Callback == callback && e.Context == context) {
            if (FCalling > 0) {
                // The call under way walks by index; leave a hole and close it afterwards.
                e.Callback = nullptr;
                FHasHoles = true;
            } else {
                FEntries.erase(FEntries.begin() + static_cast<std::ptrdiff_t>(i));
            }
            return;
        }
    }
}

void TSysHandlerList::Call(TCustomSysObject& sender, uint8_t code) {
    struct Depth {
        TSysHandlerList& List;
        explicit Depth(TSysHandlerList& list)
            : List(list) {
            ++List.FCalling;
        }
        ~Depth() {
            if (--List.FCalling == 0 && List.FHasHoles) {
                std::erase_if(List.FEntries, [](const Entry& e) { return !e.Callback; });
                List.FHasHoles = false;
            }
        }
    } depth(*this);
    for (size_t i = FEntries.size(); i-- > 0;) {
        Entry e = FEntries[i];
        if (e.Callback) e.Callback(e.Context, sender, code);
    }
}

int TSysHandlerList::Count() const {
    int count = 0;
    for (const Entry& e : FEntries)
        count += e.Callback != nullptr;
    return count;
}

// --- construction and destruction ---

TCustomSysObject::TCustomSysObject(const TSysObjectCreation& how)
    : FCaption(LoadResString(rsKindUnknown)) {
    FIsClone = how.Clone();
    FLocal = how.Local();
    if (how.ReadOnly()) {
        FCreatedReadOnly = true;
        FReadOnly = true;
    }
    FLoading = how.Loading();
}

void TCustomSysObject::AfterConstruction(TCustomSysObject* cloneSource) {
    FTypeName = ClassTypeName();
    ResetState();
    if (FIsClone && cloneSource) {
        Assign(*cloneSource);
        FOwner = cloneSource->FOwner;
        if (FOwner) FOwnerClassHandler = FOwner->ClassHandlerFor(*this);
    }
}

TCustomSysObject::~TCustomSysObject() {
    if (TSysObjectList* owner = FOwner) {
        Quietly([&] { NotifyChange(SysLeavingOwner); });
        Quietly([&] { owner->ObjectNotify(*this, SysLeavingOwner); });
        // A clone only borrowed the pointer; the list holds it only if someone added it.
        owner->Detach(this);
        FOwner = nullptr;
        Quietly([&] { NotifyChange(SysLeftOwner); });
        Quietly([&] { owner->ObjectNotify(*this, SysLeftOwner); });
    }
    Quietly([&] { NotifyChange(SysDestroying); });
}

// --- setters ---

void TCustomSysObject::SetId(int32_t value) {
    if (FId == value) return;
    BeginChange();
    FId = value;
    EndChange();
}

void TCustomSysObject::SetName(const std::string& value) {
    if (FName == value) return;
    BeginChange();
    FName = value;
    EndChange();
}

void TCustomSysObject::SetOptionA(bool value) {
    if (FOptionA == value) return;
    BeginChange();
    FOptionA = value;
    EndChange();
}

void TCustomSysObject::SetOptionB(bool value) {
    if (FOptionB == value) return;
    BeginChange();
    FOptionB = value;
    EndChange();
}

void TCustomSysObject::SetData(const TVariant& value) {
    if (SameVariant(FData, value)) return;
    BeginChange();
    FData = value;
    EndChange();
}

void TCustomSysObject::SetParamA(uint8_t value) {
    if (FParamA == value) return;
    BeginChange();
    FParamA = value;
    EndChange();
}

void TCustomSysObject::SetParamB(uint8_t value) {
    if (FParamB == value) return;
    BeginChange();
    FParamB = value;
    EndChange();
}

void TCustomSysObject::SetParamC(uint8_t value) {
    if (FParamC == value) return;
    BeginChange();
    FParamC = value;
    EndChange();
}

void TCustomSysObject::SetTypeName(const std::string& value) {
    if (FTypeName == value) return;
    BeginChange();
    FTypeName = value;
    EndChange();
}

void TCustomSysObject::ReceiveCaption(const std::string&) {}

void TCustomSysObject::SetCategory(uint8_t value) {
    if (FCategory == value) return;
    BeginChange();
    FCategory = value;
    EndChange();
}

void TCustomSysObject::SetConfigField(double& field, const double& value) {
    if (SameDouble(field, value)) return;
    BeginChange();
    field = value;
    EndChange();
}

void TCustomSysObject::SetConfigField(TVariant& field, const TVariant& value) {
    if (SameVariant(field, value)) return;
    BeginChange();
    field = value;
    EndChange();
}

void TCustomSysObject::SetStateField(double& field, const double& value) {
    if (SameDouble(field, value)) return;
    StateChanging();
    field = value;
    StateChanged();
}

// --- configuration changes ---

void TCustomSysObject::CheckWritable() {
    if (FReadOnly && !FLoading && !FIsClone)
        throw EBugCheckError("Object is readonly! Use clone for update!");
}

void TCustomSysObject::BeginChange() {
    CheckWritable();
    if (!(FUpdateCount > 0 && FChangePending)) Changing();
}

void TCustomSysObject::EndChange() {
    if (FUpdateCount == 0)
        Changed();
    else
        ++FChangeCount;
}

void TCustomSysObject::Changing() {
    if (FUpdateCount > 0) FChangePending = true;
    NotifyChange(SysChanging);
    OwnerNotify(SysChanging);
}

void TCustomSysObject::Changed() {
    NotifyChange(SysChanged);
    OwnerNotify(SysChanged);
}

void TCustomSysObject::BeginUpdate() {
    if (FUpdateCount == 0) FChangeCount = 0;
    ++FUpdateCount;
}

int TCustomSysObject::EndUpdate() {
    if (FUpdateCount <= 0) throw EBugCheckError("EndUpdate without BeginUpdate!");
    --FUpdateCount;
    int changes = FChangeCount;
    if (FUpdateCount == 0) {
        FLoading = false;
        bool notify = FChangePending || FChangeCount > 0;
        FChangePending = false;
        if (notify) Changed();
    }
    return changes;
}

// --- state changes ---

void TCustomSysObject::StateChanging() {
    // Listeners of a configuration change in progress redraw everything anyway.
    if (FUpdateCount > 0 && FChangeCount > 0) return;
    if (FStateUpdateCount > 0 && FStatePending) return;
    NotifyStateChanging();
}

void TCustomSysObject::StateChanged() {
    if (FStateUpdateCount == 0)
        NotifyStateChanged();
    else
        ++FStateChangeCount;
}

void TCustomSysObject::NotifyStateChanging() {
    if (FStateUpdateCount > 0) FStatePending = true;
    if (FOwner) FOwner->ObjectStateChanging(*this);
}

void TCustomSysObject::NotifyStateChanged() {
    if (FIsClone) return;
    NotifyState(SysStateChanged);
    if (FOwner) FOwner->ObjectStateChanged(*this);
}

void TCustomSysObject::BeginStateUpdate() {
    if (FStateUpdateCount == 0) FStateChangeCount = 0;
    ++FStateUpdateCount;
}

int TCustomSysObject::EndStateUpdate() {
    if (FStateUpdateCount <= 0) throw EBugCheckError("EndStateUpdate without BeginStateUpdate!");
    --FStateUpdateCount;
    int changes = FStateChangeCount;
    if (FStateUpdateCount == 0) {
        bool configurationChanging = FUpdateCount > 0 && FChangeCount > 0;
        bool notify = FStatePending || (FStateChangeCount > 0 && !configurationChanging);
        FStatePending = false;
        if (notify) NotifyStateChanged();
    }
    return changes;
}

// --- handlers ---

void TCustomSysObject::NotifyChange(uint8_t code) {
    FChangeHandlers.Call(*this, code);
}

void TCustomSysObject::NotifyState(uint8_t code) {
    FStateHandlers.Call(*this, code);
}

void TCustomSysObject::AddChangeHandler(TSysObjectHandler callback, void* context) {
    FChangeHandlers.Add(callback, context);
}

void TCustomSysObject::RemoveChangeHandler(TSysObjectHandler callback, void* context) {
    FChangeHandlers.Remove(callback, context);
}

void TCustomSysObject::AddStateHandler(TSysObjectHandler callback, void* context) {
    FStateHandlers.Add(callback, context);
}

void TCustomSysObject::RemoveStateHandler(TSysObjectHandler callback, void* context) {
    FStateHandlers.Remove(callback, context);
}

void TCustomSysObject::OwnerNotify(uint8_t code) {
    if (FOwner) FOwner->ObjectNotify(*this, code);
}

// --- records ---

void TCustomSysObject::WriteToProtocol(TBufferProtocol& protocol) {
    protocol.WriteInteger(FId);
    int32_t recordAt = protocol.Position();
    protocol.WriteInteger(0);
    protocol.WriteString(FName);
    protocol.WriteString(FTypeName);
    protocol.WriteByte(FCategory);
    protocol.WriteBoolean(FOptionA);
    protocol.WriteBoolean(FOptionB);
    protocol.WriteVariant(FData);
    protocol.WriteByte(FParamA);
    protocol.WriteByte(FParamB);
    protocol.WriteString(FCaption);

    int32_t dataAt = protocol.Position();
    protocol.WriteInteger(0);
    WriteData(protocol);
    protocol.PatchInteger(protocol.Position() - dataAt - 4, dataAt);

    int32_t stateAt = protocol.Position();
    protocol.WriteInteger(0);
    WriteState(protocol);
    protocol.PatchInteger(protocol.Position() - stateAt - 4, stateAt);

    protocol.PatchInteger(protocol.Position() - recordAt - 4, recordAt);
}

void TCustomSysObject::ReadRecord(TBufferProtocol& protocol) {
    SetId(protocol.ReadInteger());
    FRecordSize = protocol.ReadInteger();
    SetName(protocol.ReadString());
    SetTypeName(protocol.ReadString());
    SetCategory(protocol.ReadByte());
    SetOptionA(protocol.ReadBoolean());
    SetOptionB(protocol.ReadBoolean());
    SetData(protocol.ReadVariant());
    SetParamA(protocol.ReadByte());
    SetParamB(protocol.ReadByte());
    ReceiveCaption(protocol.ReadString());

    // Each section ends where its length says, whatever the class consumed, so a newer sender
    // may append fields to a section.
    int32_t dataLength = protocol.ReadInteger();
    int32_t dataEnd = SectionEnd(protocol, dataLength);
    if (dataLength > 0) {
        ReadData(protocol, dataLength);
        FDataReceived = true;
    }
    protocol.SetPosition(dataEnd);

    int32_t stateLength = protocol.ReadInteger();
    int32_t stateEnd = SectionEnd(protocol, stateLength);
    if (!FLocal) {
        BeginStateUpdate();
        try {
            if (stateLength < 1)
                ResetState();
            else
                ReadState(protocol, stateLength);
        } catch (...) {
            EndStateUpdate();
            throw;
        }
        EndStateUpdate();
    }
    protocol.SetPosition(stateEnd);
}

void TCustomSysObject::LoadFromProtocol(TBufferProtocol& protocol) {
    bool wasLoading = FLoading;
    FLoading = true;
    std::unique_ptr<TBufferProtocol> snapshot;
    if (FLocal || FLoaded) {
        try {
            snapshot = std::make_unique<TBufferProtocol>(64);
            WriteToProtocol(*snapshot);
        } catch (...) {
            FLoading = wasLoading;
            throw;
        }
    }
    int updateCountBefore = FUpdateCount;
    BeginUpdate();
    try {
        ReadRecord(protocol);
        FLoaded = true;
        EndUpdate();
    } catch (...) {
        std::exception_ptr error = std::current_exception();
        if (snapshot) {
            try {
                Restore(*snapshot, updateCountBefore);
            } catch (...) {
                // The caller must see the load's own error, not the restore's.
            }
        }
        // Without a snapshot the object is half-read and the caller discards it; still close
        // the bracket, so it neither stays writable nor swallows later notifications.
        while (FUpdateCount > updateCountBefore) {
            try {
                EndUpdate();
            } catch (...) {}
        }
        FRestoring = false;
        std::rethrow_exception(error);
    }
}

void TCustomSysObject::Restore(TBufferProtocol& snapshot, int updateCountBefore) {
    if (FUpdateCount == updateCountBefore)
        BeginUpdate(); // the failure came from the closing EndUpdate
    FRestoring = true;
    FLoading = true;
    snapshot.SetPosition(0);
    ReadRecord(snapshot);
    EndUpdate();
}

void TCustomSysObject::Assign(TCustomSysObject& source) {
    BeginUpdate();
    try {
        TBufferProtocol record(64);
        source.WriteToProtocol(record);
        record.SetPosition(0);
        LoadFromProtocol(record);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

// --- TSysObjectList ---

TSysObjectList::~TSysObjectList() {
    FDestroying = true;
    while (!FItems.empty())
        delete FItems.back();
}

TCustomSysObject* TSysObjectList::Add(std::unique_ptr<TCustomSysObject> object) {
    if (!object) return nullptr;
    if (object->FOwner && object->FOwner != this) object->FOwner->Detach(object.get());
    std::lock_guard lock(FLock);
    TCustomSysObject* raw = object.release();
    if (raw->FOwner != this || std::find(FItems.begin(), FItems.end(), raw) == FItems.end())
        FItems.push_back(raw);
    raw->FOwner = this;
    raw->FOwnerClassHandler = ClassHandlerFor(*raw);
    return raw;
}

std::unique_ptr<TCustomSysObject> TSysObjectList::Remove(TCustomSysObject* object) {
    std::lock_guard lock(FLock);
    Trace("TSysObjectList.Remove");
    // By identity rather than by id: an object whose id changed while listed must still leave.
    auto it = std::find(FItems.rbegin(), FItems.rend(), object);
    if (it == FItems.rend()) {
        Trace("TSysObjectList.Remove/NotFound");
        return nullptr;
    }
    FItems.erase(std::next(it).base());
    object->FOwner = nullptr;
    object->FOwnerClassHandler = -1;
    return std::unique_ptr<TCustomSysObject>(object);
}

void TSysObjectList::Detach(TCustomSysObject* object) {
    std::lock_guard lock(FLock);
    Trace("TSysObjectList.Remove");
    auto it = std::find(FItems.rbegin(), FItems.rend(), object);
    if (it == FItems.rend()) {
        Trace("TSysObjectList.Remove/NotFound");
        return;
    }
    FItems.erase(std::next(it).base());
}

void TSysObjectList::Clear() {
    while (!FItems.empty())
        delete FItems.back();
}

TCustomSysObject* TSysObjectList::Items(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    return FItems[static_cast<size_t>(index)];
}

TCustomSysObject* TSysObjectList::FindById(int32_t id) {
    std::lock_guard lock(FLock);
    Trace("TSysObjectList.FindById");
    for (TCustomSysObject* object : FItems)
        if (object->Id() == id) return object;
    return nullptr;
}

void TSysObjectList::EndUpdate() {
    if (FUpdateCount > 0) --FUpdateCount;
}

bool TSysObjectList::Routes(const TCustomSysObject& object) const {
    return FUpdateCount == 0 && !FDestroying && !object.Restoring();
}

void TSysObjectList::ObjectNotify(TCustomSysObject& object, uint8_t code) {
    if (!Routes(object)) return;
    if (code == 0 || code == 3 || code == 5) {
        if (OnBeforeChange) OnBeforeChange(*this, object, code);
    } else if (OnChange) {
        OnChange(*this, object, code);
    }
    int handler = object.FOwnerClassHandler;
    if (handler >= 0 && handler < static_cast<int>(FClassHandlers.size()))
        FClassHandlers[static_cast<size_t>(handler)].Handler(*this, object, code);
}

void TSysObjectList::ObjectStateChanging(TCustomSysObject& object) {
    if (Routes(object) && OnStateChanging) OnStateChanging(*this, object);
}

void TSysObjectList::ObjectStateChanged(TCustomSysObject& object) {
    if (Routes(object) && OnStateChanged) OnStateChanged(*this, object);
}

int TSysObjectList::ClassHandlerFor(TCustomSysObject& object) const {
    for (size_t i = 0; i < FClassHandlers.size(); ++i) {
        const TClassHandler& h = FClassHandlers[i];
        bool matches =
            h.IncludeDescendants ? h.Matches(object) : std::type_index(typeid(object)) == h.Type;
        if (matches) return static_cast<int>(i);
    }
    return -1;
}

void TSysObjectList::ResolveClassHandlers() {
    for (TCustomSysObject* object : FItems)
        object->FOwnerClassHandler = ClassHandlerFor(*object);
}

void TSysObjectList::Trace(const char* tag) const {
    if (OnLockTrace) OnLockTrace(tag);
}
