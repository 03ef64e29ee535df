#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "SimSite.h"

// The site's monitored objects as the server keeps them: the "GetClients" list and the state
// sections of status replies. Shared by every conversation, under its own lock.
class TSimObjects {
public:
    explicit TSimObjects(const TSimSite& site);

    // The "GetClients" payload.
    std::string ClientsPayload();
    // The text ("id=name") and payload of a 207 reply for a status event; raises ESiteError when
    // the event names no object the site can encode.
    void Status(const TSimEvent& event, std::string& text, std::string& payload);
    // "DisarmPartition": the partition leaves its exit delay. False when there is no such
    // partition; otherwise text and payload are its new status.
    bool DisarmPartition(int32_t partitionId, std::string& text, std::string& payload);

private:
    const TSimObjectSpec* FindSpec(int32_t id) const;

    std::mutex FLock;
    const TSimSite& FSite;
};
