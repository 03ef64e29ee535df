#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ConnectThread.h"
#include "CoreCommon.h"

struct TLinkOptions {
    bool Clients = false;
    std::string SaveClients;
    std::string SaveDrawing;
    int MaxMessages = 0; // 0: no limit
};

// The user-interface end of guardlink: prints each message of the connection thread as one JSON
// line and, with Clients, keeps the object list and applies status records to it.
class TLinkMonitor {
public:
    TLinkMonitor(const TLinkOptions& options, TServerLine& line, TConnectThread& thread, FILE* out);
    ~TLinkMonitor();

    void Handle(TMessage& message);
    bool Done() const { return FOptions.MaxMessages > 0 && FCount >= FOptions.MaxMessages; }

    std::string UpdaterPath;
    // Set while the program ends: no more exchanges of its own.
    bool Finishing = false;

private:
    void Print(nlohmann::ordered_json& line);
    void Error(const std::string& text);
    void LoadClients();
    void ApplyStatus(ObjStatusRecord& record, nlohmann::ordered_json& line);

    TLinkOptions FOptions;
    TServerLine& FLine;
    TConnectThread& FThread;
    FILE* FOut;
    // The last object list, decoded with the model classes. A panel frees its members with
    // itself, so the objects live in an owner list that lets go of them when they go.
    TSysObjectList FObjects;
    int FCount = 0;
    std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
};

// Writes data to fileName through a temporary file, so a failed write never leaves a half file.
void SaveFileWhole(const std::string& fileName, const void* data, size_t size);
