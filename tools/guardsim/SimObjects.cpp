#include "SimObjects.h"

#include "ClientList.h"
#include "ObjectFields.h"
#include "ParadoxCommon.h"

TSimObjects::TSimObjects(const TSimSite& site)
    : FHomeObjectId(site.HomeObjectId)
    , FReadyList(site.ClientsPayload)
    , FHasReadyList(site.HasClientsPayload) {
    for (const TSimObjectEntry& entry : site.Objects) {
        std::string where = "object " + std::to_string(entry.Id) + " (" + entry.Type + ")";
        if (entry.HasRecord) {
            FRawEntries.push_back({static_cast<size_t>(FObjects.Count()), entry});
            continue;
        }
        std::unique_ptr<TCustomSysObject> object = CreateSiteObject(entry.Type);
        if (!object)
            throw ESiteError(where + ": no class for this type; give its \"record\" instead");
        try {
            object->SetId(entry.Id);
            object->SetName(entry.Name);
            ApplyFields(*object, entry.Fields);
        } catch (const std::exception& e) {
            throw ESiteError(where + ": " + e.what());
        }
        FObjects.Add(std::move(object));
    }
}

std::string TSimObjects::ClientsPayload() {
    std::lock_guard<std::mutex> lock(FLock);
    if (FHasReadyList) return FReadyList;
    TBufferProtocol list(32);
    WriteClientListHeader(list, FHomeObjectId);
    size_t raw = 0;
    for (int i = 0; i <= FObjects.Count(); ++i) {
        for (; raw < FRawEntries.size() && FRawEntries[raw].Before == static_cast<size_t>(i);
             ++raw) {
            const TSimObjectEntry& entry = FRawEntries[raw].Object;
            TBufferProtocol record(32);
            record.WriteBuf(static_cast<int32_t>(entry.Record.size()), entry.Record.data());
            WriteClientListEntry(list, entry.Id, entry.Type, record);
        }
        if (i < FObjects.Count()) WriteClientListEntry(list, *FObjects.Items(i));
    }
    return std::string(reinterpret_cast<const char*>(list.Data()),
                       static_cast<size_t>(list.GetSize()));
}

void TSimObjects::Status(const TSimEvent& event, std::string& text, std::string& payload) {
    std::lock_guard<std::mutex> lock(FLock);
    TCustomSysObject* object = FObjects.FindById(event.Id);
    std::string name = !event.Name.empty() ? event.Name : object ? object->Name() : std::string();
    text = std::to_string(event.Id) + "=" + name;
    if (event.HasState) {
        payload = event.State;
        return;
    }
    if (!object)
        throw ESiteError("status event for object " + std::to_string(event.Id) +
                         ": the site has no such object and the event no \"state\"");
    if (!event.Set.is_null()) {
        try {
            ApplyFields(*object, event.Set);
        } catch (const std::exception& e) {
            throw ESiteError("status event for object " + std::to_string(event.Id) + ": " +
                             e.what());
        }
    }
    payload = StateSection(*object);
}

void TSimObjects::Check(const TSimEvent& event) {
    std::lock_guard<std::mutex> lock(FLock);
    if (event.Kind != TSimEvent::TKind::Status || event.HasState) return;
    std::string where = "status event for object " + std::to_string(event.Id);
    TCustomSysObject* object = FObjects.FindById(event.Id);
    if (!object)
        throw ESiteError(where + ": the site has no such object and the event no \"state\"");
    if (event.Set.is_null()) return;
    // Try the fields on a stand-in of the same class, so the site object stays as it is.
    std::unique_ptr<TCustomSysObject> trial = CreateSiteObject(object->ClassTypeName());
    try {
        ApplyFields(*trial, event.Set);
    } catch (const std::exception& e) {
        throw ESiteError(where + ": " + e.what());
    }
}

bool TSimObjects::DisarmPartition(int32_t partitionId, std::string& text, std::string& payload) {
    std::lock_guard<std::mutex> lock(FLock);
    auto* partition = dynamic_cast<TParadoxPartition*>(FObjects.FindById(partitionId));
    if (!partition) return false;
    // Cancelling the arming stops the exit delay and leaves the partition disarmed.
    partition->BeginStateUpdate();
    partition->SetReadyStatus(static_cast<uint8_t>(partition->ReadyStatus() & ~0x02));
    partition->SetArmStatus(static_cast<uint8_t>(partition->ArmStatus() & ~0x01));
    partition->EndStateUpdate();
    text = std::to_string(partitionId) + "=" + partition->Name();
    payload = StateSection(*partition);
    return true;
}
