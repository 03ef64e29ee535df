#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "CoreCommon.h"
#include "SimSite.h"

// The site's monitored objects as the server keeps them, made with the model classes and held
// in a TSysObjectList: the "GetClients" list and the state sections of status replies come from
// their own records. Shared by every conversation, under its own lock.
class TSimObjects {
public:
    // Raises ESiteError for an object the model cannot make or a field it refuses.
    explicit TSimObjects(const TSimSite& site);

    // The "GetClients" payload: the home object id, then one entry per object in site order.
    std::string ClientsPayload();
    // The text ("id=name") and payload of a 207 reply for a status event: the object's state
    // section after the event's "set" fields, or the event's ready "state". Raises ESiteError
    // when neither applies.
    void Status(const TSimEvent& event, std::string& text, std::string& payload);
    // "DisarmPartition": the partition leaves its exit delay. False when there is no such
    // partition; otherwise text and payload are its new status.
    bool DisarmPartition(int32_t partitionId, std::string& text, std::string& payload);
    // Raises ESiteError when a status event could not be played: no object and no ready state,
    // or fields the object's class refuses.
    void Check(const TSimEvent& event);

private:
    std::mutex FLock;
    int32_t FHomeObjectId;
    TSysObjectList FObjects;
    // Entries the model has no class for, with their ready records, and where they stand.
    struct TRawEntry {
        size_t Before; // number of model objects listed before it
        TSimObjectEntry Object;
    };
    std::vector<TRawEntry> FRawEntries;
    std::string FReadyList;
    bool FHasReadyList;
};
