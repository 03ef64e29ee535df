// Loads arbitrary bytes as one object record. The first byte picks the class, the second
// whether the object is fresh or was loaded before; the rest is the record.
//
// What must hold whatever the bytes: every failure is one of our exceptions; no bracket stays
// open; an object that was loaded before is left exactly as it was when the load fails; an
// accepted record reloads without a change notification and writes back the same bytes after
// one trip through a fresh object. A panel, a partition and a zone stand by for the object to
// link to, so loads also move it between lists.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "MonCommon.h"
#include "MonCommon2.h"
#include "ParadoxCommon.h"

namespace {

using Obj = TCustomSysObject;

std::string RecordOf(Obj& object) {
    TBufferProtocol p(64);
    object.WriteToProtocol(p);
    return std::string(reinterpret_cast<const char*>(p.Data()), static_cast<size_t>(p.GetSize()));
}

bool Load(Obj& object, const std::string& bytes) {
    TBufferProtocol p(64);
    p.WriteBuf(static_cast<int32_t>(bytes.size()), bytes.data());
    p.SetPosition(0);
    try {
        object.LoadFromProtocol(p);
        return true;
    } catch (const Exception&) {
        return false;
    }
}

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

void CheckSettled(const Obj& object) {
    Check(object.UpdateCount() == 0 && object.StateUpdateCount() == 0);
    Check(!object.Loading() && !object.Restoring());
}

int ChangeCodes = 0;
void CountChange(void*, Obj&, uint8_t code) {
    if (code == SysChanging || code == SysChanged) ++ChangeCodes;
}

// A sample of each class, as the server would send it; loaded into the "loaded before" objects.
// Samples are clones, so they stay out of the registries.
std::unique_ptr<Obj> Sample(int kind) {
    switch (kind) {
    case 0: {
        auto s = Obj::CreateClone<TSysService>(nullptr);
        s->SetId(4);
        s->SetName("Palvelu");
        s->SetValue1(3);
        s->SetInfo("info");
        s->SetOnline(true);
        s->SetStatusText("yhdistetty");
        return s;
    }
    case 1: {
        auto d = Obj::CreateClone<TDepartment>(nullptr);
        d->SetId(9);
        d->AddMember(3, false);
        d->AddMember(17, false);
        return d;
    }
    case 2: {
        auto z = Obj::CreateClone<TParadoxZone>(nullptr);
        z->SetId(100);
        z->SetPanelId(1);
        z->SetPartitionId(10);
        z->SetZoneNumber(5);
        z->SetZoneState(zsOpen);
        return z;
    }
    case 3: {
        auto a = Obj::CreateClone<TParadoxPartition>(nullptr);
        a->SetId(10);
        a->SetPanelId(1);
        a->SetPartitionNumber(2);
        a->SetArmStatus(asArmed);
        return a;
    }
    case 4: {
        auto p = Obj::CreateClone<TParadoxPanel>(nullptr);
        p->SetId(1);
        p->SetPanelWord1(7);
        p->SetConnection(4, "ok");
        return p;
    }
    default: {
        auto l = Obj::CreateClone<TLightClient>(nullptr);
        l->SetId(50);
        l->SetOption6(true);
        l->SetStatusFlags(lcfConnected);
        return l;
    }
    }
}

std::unique_ptr<Obj> Fresh(int kind) {
    switch (kind) {
    case 0: return Obj::CreateReceived<TSysService>();
    case 1: return Obj::CreateReceived<TDepartment>();
    case 2: return Obj::CreateReceived<TParadoxZone>();
    case 3: return Obj::CreateReceived<TParadoxPartition>();
    case 4: return Obj::CreateReceived<TParadoxPanel>();
    default: return Obj::CreateReceived<TLightClient>();
    }
}

constexpr int Kinds = 6;

// The service's write rebuilds its parameter block, so a loaded block does not survive the
// snapshot of the next load: that reload is allowed to announce the change.
bool KeepsParamsUntilWritten(Obj& object) {
    auto* service = dynamic_cast<TSysService*>(&object);
    return service && service->Params().GetSize() > 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    int kind = data[0] % Kinds;
    bool loadedBefore = data[1] & 1;
    std::string record(reinterpret_cast<const char*>(data + 2), size - 2);

    // Everything lives in an owning list: panels and partitions free members when they go,
    // and the list lets go of each object that announces its destruction.
    TSysObjectList owner;
    // A panel, a partition and a zone (ids 1, 10, 100) the object under test may link to.
    for (int neighbour : {4, 3, 2}) {
        Obj* o = owner.Add(Fresh(neighbour));
        Check(Load(*o, RecordOf(*Sample(neighbour))));
    }

    Obj* object = owner.Add(Fresh(kind));
    if (loadedBefore) Check(Load(*object, RecordOf(*Sample(kind))));
    std::string before = RecordOf(*object);

    bool accepted = Load(*object, record);
    CheckSettled(*object);
    if (!accepted) {
        if (loadedBefore) Check(RecordOf(*object) == before);
        return 0;
    }

    bool paramsPending = KeepsParamsUntilWritten(*object);
    ChangeCodes = 0;
    object->AddChangeHandler(&CountChange, nullptr);
    Check(Load(*object, record));
    CheckSettled(*object);
    Check(ChangeCodes == 0 || paramsPending);
    object->RemoveChangeHandler(&CountChange, nullptr);

    std::string written = RecordOf(*object);
    Obj* copy = owner.Add(Fresh(kind));
    Check(Load(*copy, written));
    Check(RecordOf(*copy) == written);
    return 0;
}
