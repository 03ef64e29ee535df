#include "SimObjects.h"

#include <cstring>

TSimObjects::TSimObjects(const TSimSite& site)
    : FSite(site) {}

const TSimObjectSpec* TSimObjects::FindSpec(int32_t id) const {
    for (const TSimObjectSpec& spec : FSite.Objects)
        if (spec.Id == id) return &spec;
    return nullptr;
}

std::string TSimObjects::ClientsPayload() {
    std::lock_guard<std::mutex> lock(FLock);
    if (FSite.HasClientsPayload) return FSite.ClientsPayload;
    std::string payload(4, '\0');
    int32_t home = FSite.HomeObjectId;
    std::memcpy(payload.data(), &home, 4);
    return payload;
}

void TSimObjects::Status(const TSimEvent& event, std::string& text, std::string& payload) {
    std::lock_guard<std::mutex> lock(FLock);
    const TSimObjectSpec* spec = FindSpec(event.Id);
    std::string name = !event.Name.empty() ? event.Name : spec ? spec->Name : std::string();
    if (!event.HasState)
        throw ESiteError("status event for object " + std::to_string(event.Id) +
                         " has no \"state\" to send");
    text = std::to_string(event.Id) + "=" + name;
    payload = event.State;
}

bool TSimObjects::DisarmPartition(int32_t partitionId, std::string& text, std::string& payload) {
    std::lock_guard<std::mutex> lock(FLock);
    (void)partitionId;
    (void)text;
    (void)payload;
    return false;
}
