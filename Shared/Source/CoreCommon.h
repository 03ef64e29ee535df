#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <typeindex>
#include <vector>

#include "BaseProtocol.h"
#include "Variant.h"

class TCustomSysObject;
class TSysObjectList;

// Codes on an object's change list. The state list only ever receives SysStateChanged.
enum : uint8_t {
    SysChanging = 0,
    SysChanged = 1,
    SysDestroying = 2,
    SysLeavingOwner = 5,
    SysLeftOwner = 6,
};
inline constexpr uint8_t SysStateChanged = 1;

// A change or state handler: (context, sender, code). A handler called while the sender is
// being destroyed (codes 5, 6, 2) may only use its identity and base fields: the parts of the
// object that belong to its subclasses are already gone.
using TSysObjectHandler = void (*)(void* context, TCustomSysObject& sender, uint8_t code);

// How an object is being made. Only the factories of TCustomSysObject create one, so every
// object is finished by them. A subclass passes it on to its base constructor, adding
// WithReadOnly and WithLoading when it must be read-only yet open for its first load, as the
// main window's registry classes are:
//
//     explicit TClientPanel(const TSysObjectCreation& how)
//         : TParadoxPanel(how.WithReadOnly().WithLoading()) {}
//     ... TCustomSysObject::CreateReadOnly<TClientPanel>()
class TSysObjectCreation {
public:
    bool Clone() const { return FFlags & FlagClone; }
    bool Local() const { return FFlags & FlagLocal; }
    bool ReadOnly() const { return FFlags & FlagReadOnly; }
    bool Loading() const { return FFlags & FlagLoading; }

    [[nodiscard]] TSysObjectCreation WithReadOnly() const { return With(FlagReadOnly); }
    [[nodiscard]] TSysObjectCreation WithLoading() const { return With(FlagLoading); }

private:
    friend class TCustomSysObject;
    enum : uint8_t { FlagClone = 1, FlagLocal = 2, FlagReadOnly = 4, FlagLoading = 8 };
    explicit TSysObjectCreation(uint8_t flags)
        : FFlags(flags) {}
    TSysObjectCreation With(uint8_t flag) const { return TSysObjectCreation(FFlags | flag); }
    uint8_t FFlags;
};

// Ordered (callback, context) pairs. Calls go from the newest pair to the oldest; a pair
// removed while a call is under way is not called any more, a pair added meanwhile waits for
// the next call.
class TSysHandlerList {
public:
    void Add(TSysObjectHandler callback, void* context);
    // Removes the most recently added matching pair only.
    void Remove(TSysObjectHandler callback, void* context);
    void Call(TCustomSysObject& sender, uint8_t code);
    int Count() const;

private:
    struct Entry {
        TSysObjectHandler Callback;
        void* Context;
    };
    std::vector<Entry> FEntries;
    int FCalling = 0;
    bool FHasHoles = false;
};

// Root of every monitored object: the server's id and name, the record through which the
// server transfers it, the read-only rule for received objects, and the two notification
// lists (configuration changes and state changes) that displays and the main window follow.
//
// Objects are made through the factories Create, CreateClone, CreateReadOnly, CreateLocal
// (and CreateReceived); they are used on one thread.
class TCustomSysObject {
public:
    virtual ~TCustomSysObject();
    TCustomSysObject(const TCustomSysObject&) = delete;
    TCustomSysObject& operator=(const TCustomSysObject&) = delete;

    // --- factories ---
    template <class T>
    static std::unique_ptr<T> Create() {
        return Make<T>(0, nullptr);
    }
    // A writable copy of source's transferred fields; it never sends state notifications and
    // takes over source's owner pointer without joining the owner.
    template <class T>
    static std::unique_ptr<T> CreateClone(TCustomSysObject* source) {
        return Make<T>(TSysObjectCreation::FlagClone, source);
    }
    template <class T>
    static std::unique_ptr<T> CreateReadOnly() {
        return Make<T>(TSysObjectCreation::FlagReadOnly, nullptr);
    }
    // Never reads the state section of a record and always keeps a snapshot when loading.
    template <class T>
    static std::unique_ptr<T> CreateLocal() {
        return Make<T>(TSysObjectCreation::FlagLocal, nullptr);
    }
    // Read-only, but open until its first load closes: what a list received from the server
    // needs, since the id is set before the record is loaded.
    template <class T>
    static std::unique_ptr<T> CreateReceived() {
        return Make<T>(TSysObjectCreation::FlagReadOnly | TSysObjectCreation::FlagLoading, nullptr);
    }

    // --- virtual operations ---
    virtual void SetId(int32_t value);
    virtual void SetName(const std::string& value);
    virtual void SetOptionA(bool value);
    virtual void SetOptionB(bool value);
    virtual void SetData(const TVariant& value);
    virtual void SetParamA(uint8_t value);
    virtual void SetParamB(uint8_t value);
    virtual void SetParamC(uint8_t value);
    virtual void SetTypeName(const std::string& value);
    // The caption a record carries; no class of this system takes it over.
    virtual void ReceiveCaption(const std::string& value);
    virtual void SetCategory(uint8_t value);
    // Raises EBugCheckError while ReadOnly, unless Loading or IsClone.
    virtual void CheckWritable();
    virtual void Changing();
    virtual void Changed();
    virtual void StateChanging();
    virtual void StateChanged();
    virtual void NotifyStateChanging();
    virtual void NotifyStateChanged();
    virtual void WriteData(TBufferProtocol& protocol) = 0;
    virtual void ReadData(TBufferProtocol& protocol, int32_t length) = 0;
    virtual bool IsConcrete() const { return false; }
    virtual const char* ClassTypeName() const = 0;
    virtual void NotifyChange(uint8_t code);
    virtual void NotifyState(uint8_t code);
    // Copies source's transferred fields by writing its record and loading it.
    virtual void Assign(TCustomSysObject& source);
    // Puts the state fields to their values for an object whose state is unknown.
    virtual void ResetState() {}
    virtual void WriteState(TBufferProtocol& /*protocol*/) {}
    virtual void ReadState(TBufferProtocol& /*protocol*/, int32_t /*length*/) {}

    // --- brackets: only the outermost End notifies; both return the changes counted ---
    void BeginUpdate();
    int EndUpdate();
    void BeginStateUpdate();
    int EndStateUpdate();

    // --- handlers ---
    void AddChangeHandler(TSysObjectHandler callback, void* context);
    void RemoveChangeHandler(TSysObjectHandler callback, void* context);
    void AddStateHandler(TSysObjectHandler callback, void* context);
    void RemoveStateHandler(TSysObjectHandler callback, void* context);
    // A member function void C::Method(TCustomSysObject&, uint8_t) as a handler of target.
    template <auto Method, class C>
    void AddChangeHandler(C* target) {
        AddChangeHandler(&MemberThunk<Method, C>, target);
    }
    template <auto Method, class C>
    void RemoveChangeHandler(C* target) {
        RemoveChangeHandler(&MemberThunk<Method, C>, target);
    }
    template <auto Method, class C>
    void AddStateHandler(C* target) {
        AddStateHandler(&MemberThunk<Method, C>, target);
    }
    template <auto Method, class C>
    void RemoveStateHandler(C* target) {
        RemoveStateHandler(&MemberThunk<Method, C>, target);
    }
    int ChangeHandlerCount() const { return FChangeHandlers.Count(); }
    int StateHandlerCount() const { return FStateHandlers.Count(); }

    // --- records ---
    // Appends the object's record at the cursor.
    void WriteToProtocol(TBufferProtocol& protocol);
    // Reads one record at the cursor. When the object was loaded before (or is Local) a failure
    // restores it from a snapshot and the error propagates unchanged.
    void LoadFromProtocol(TBufferProtocol& protocol);

    // --- fields ---
    int32_t Id() const { return FId; }
    const std::string& Name() const { return FName; }
    const std::string& TypeName() const { return FTypeName; }
    uint8_t Category() const { return FCategory; }
    bool OptionA() const { return FOptionA; }
    bool OptionB() const { return FOptionB; }
    const TVariant& Data() const { return FData; }
    uint8_t ParamA() const { return FParamA; }
    uint8_t ParamB() const { return FParamB; }
    uint8_t ParamC() const { return FParamC; }
    const std::string& Caption() const { return FCaption; }
    int32_t RecordSize() const { return FRecordSize; }

    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value) { FReadOnly = value; }
    bool IsClone() const { return FIsClone; }
    bool Loading() const { return FLoading; }
    bool Local() const { return FLocal; }
    bool CreatedReadOnly() const { return FCreatedReadOnly; }
    bool Loaded() const { return FLoaded; }
    bool DataReceived() const { return FDataReceived; }
    bool Restoring() const { return FRestoring; }
    int UpdateCount() const { return FUpdateCount; }
    int ChangeCount() const { return FChangeCount; }
    bool ChangePending() const { return FChangePending; }
    int StateUpdateCount() const { return FStateUpdateCount; }
    int StateChangeCount() const { return FStateChangeCount; }
    bool StatePending() const { return FStatePending; }
    TSysObjectList* Owner() const { return FOwner; }

protected:
    explicit TCustomSysObject(const TSysObjectCreation& how);

    // The configuration-change pattern of every setter: BeginChange, store, EndChange.
    void BeginChange();
    void EndChange();
    // A setter's body: nothing when equal, else the configuration or the state change around
    // the store. Floating values and variants compare as SameDouble and SameVariant do.
    template <class V>
    void SetConfigField(V& field, const V& value) {
        if (field == value) return;
        BeginChange();
        field = value;
        EndChange();
    }
    template <class V>
    void SetStateField(V& field, const V& value) {
        if (field == value) return;
        StateChanging();
        field = value;
        StateChanged();
    }
    void SetConfigField(double& field, const double& value);
    void SetConfigField(TVariant& field, const TVariant& value);
    void SetStateField(double& field, const double& value);

    // Defaults of subclass constructors, stored without notifying.
    void SetCaption(std::string caption) { FCaption = std::move(caption); }
    void SetDefaultCategory(uint8_t value) { FCategory = value; }
    void SetDefaultOptionA(bool value) { FOptionA = value; }

private:
    friend class TSysObjectList;

    template <class T>
    static std::unique_ptr<T> Make(int flags, TCustomSysObject* cloneSource) {
        std::unique_ptr<T> object(new T(TSysObjectCreation(static_cast<uint8_t>(flags))));
        object->AfterConstruction(cloneSource);
        return object;
    }
    // What must run once the final class is in place: the type name of the class, the reset
    // state and, for a clone, the copy of its source.
    void AfterConstruction(TCustomSysObject* cloneSource);

    template <auto Method, class C>
    static void MemberThunk(void* context, TCustomSysObject& sender, uint8_t code) {
        (static_cast<C*>(context)->*Method)(sender, code);
    }

    void ReadRecord(TBufferProtocol& protocol);
    void Restore(TBufferProtocol& snapshot, int updateCountBefore);
    void OwnerNotify(uint8_t code);

    int32_t FId = 0;
    std::string FName;
    std::string FTypeName;
    uint8_t FCategory = 0;
    bool FOptionA = true;
    bool FOptionB = false;
    TVariant FData;
    uint8_t FParamA = 1;
    uint8_t FParamB = 4;
    uint8_t FParamC = 4;
    std::string FCaption;
    int32_t FRecordSize = 0;

    bool FReadOnly = false;
    bool FIsClone = false;
    bool FLoading = false;
    bool FLocal = false;
    bool FCreatedReadOnly = false;
    bool FLoaded = false;
    bool FDataReceived = false;
    bool FRestoring = false;
    int FUpdateCount = 0;
    int FChangeCount = 0;
    bool FChangePending = false;
    int FStateUpdateCount = 0;
    int FStateChangeCount = 0;
    bool FStatePending = false;

    TSysObjectList* FOwner = nullptr;
    int FOwnerClassHandler = -1; // kept by the owner, which cannot ask a dying object its class
    TSysHandlerList FChangeHandlers;
    TSysHandlerList FStateHandlers;
};

// Same type and same value; floating values compare by their bits, so a NaN read twice is
// unchanged and a negative zero is not taken for a positive one.
bool SameVariant(const TVariant& a, const TVariant& b);
bool SameDouble(double a, double b);

// An owning list of system objects kept by id. An object it holds removes itself when it is
// destroyed; the list routes the objects' notifications to its events and per-class handlers.
// The client itself never creates one; the server simulator keeps its objects in one.
class TSysObjectList {
public:
    using TObjectEvent =
        std::function<void(TSysObjectList& list, TCustomSysObject& object, uint8_t code)>;
    using TStateEvent = std::function<void(TSysObjectList& list, TCustomSysObject& object)>;

    TSysObjectList() = default;
    // Frees every object still listed, without routing their notifications.
    ~TSysObjectList();
    TSysObjectList(const TSysObjectList&) = delete;
    TSysObjectList& operator=(const TSysObjectList&) = delete;

    // Takes the object; one that belongs to another list leaves that list first.
    TCustomSysObject* Add(std::unique_ptr<TCustomSysObject> object);
    // Takes the object out of the list and hands it back; null when it is not listed.
    std::unique_ptr<TCustomSysObject> Remove(TCustomSysObject* object);
    // Frees every object (each one's destruction may free others, as a panel does).
    void Clear();
    TCustomSysObject* FindById(int32_t id);
    int Count() const { return static_cast<int>(FItems.size()); }
    // Raises EListError for an index out of bounds.
    TCustomSysObject* Items(int index) const;

    // While updating, the objects' notifications do not reach the list's events.
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    bool Updating() const { return FUpdateCount > 0; }

    // Codes 0, 3 and 5 go to OnBeforeChange, every other code to OnChange; then the first
    // registered class handler that matches the object receives the code as well.
    TObjectEvent OnBeforeChange;
    TObjectEvent OnChange;
    TStateEvent OnStateChanging;
    TStateEvent OnStateChanged;
    // Called with "TSysObjectList.Remove", "TSysObjectList.Remove/NotFound" and
    // "TSysObjectList.FindById" as the list's lock is taken, for tracing lock use.
    std::function<void(const char* tag)> OnLockTrace;

    // Registers a handler for objects of class T, or also of classes derived from it.
    template <class T>
    void RegisterClassHandler(TObjectEvent handler, bool includeDescendants = true) {
        TClassHandler entry;
        entry.Type = std::type_index(typeid(T));
        entry.IncludeDescendants = includeDescendants;
        entry.Matches = [](TCustomSysObject& o) { return dynamic_cast<T*>(&o) != nullptr; };
        entry.Handler = std::move(handler);
        FClassHandlers.push_back(std::move(entry));
        ResolveClassHandlers();
    }

    // Called by the objects.
    void ObjectNotify(TCustomSysObject& object, uint8_t code);
    void ObjectStateChanging(TCustomSysObject& object);
    void ObjectStateChanged(TCustomSysObject& object);

private:
    friend class TCustomSysObject;

    struct TClassHandler {
        std::type_index Type = std::type_index(typeid(void));
        bool IncludeDescendants = true;
        bool (*Matches)(TCustomSysObject&) = nullptr;
        TObjectEvent Handler;
    };

    bool Routes(const TCustomSysObject& object) const;
    int ClassHandlerFor(TCustomSysObject& object) const;
    void ResolveClassHandlers();
    // Takes a dying object out of the list; it keeps no ownership.
    void Detach(TCustomSysObject* object);
    void Trace(const char* tag) const;

    std::vector<TCustomSysObject*> FItems; // owned
    std::vector<TClassHandler> FClassHandlers;
    mutable std::recursive_mutex FLock;
    int FUpdateCount = 0;
    bool FDestroying = false;
};
