#pragma once

// Helpers shared by the object-model suites: record bytes, codecs holding given bytes, and a
// recorder of the notifications an object sends.

#include <functional>
#include <memory>
#include <string>

#include "BaseProtocol.h"
#include "CoreCommon.h"

inline std::string BytesOf(const TBufferProtocol& p) {
    return std::string(reinterpret_cast<const char*>(p.Data()), static_cast<size_t>(p.GetSize()));
}

inline std::unique_ptr<TBufferProtocol> Holding(const std::string& bytes) {
    auto p = std::make_unique<TBufferProtocol>(64);
    p->WriteBuf(static_cast<int32_t>(bytes.size()), bytes.data());
    p->SetPosition(0);
    return p;
}

inline std::string RecordOf(TCustomSysObject& object) {
    TBufferProtocol p(64);
    object.WriteToProtocol(p);
    return BytesOf(p);
}

inline void Load(TCustomSysObject& object, const std::string& record) {
    object.LoadFromProtocol(*Holding(record));
}

inline std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

// Writes "c<code>" for every change notification and "s<code>" for every state notification,
// separated by spaces, in the order they arrive.
class TNotifyRecorder {
public:
    explicit TNotifyRecorder(TCustomSysObject& object)
        : FObject(&object) {
        object.AddChangeHandler(&Change, this);
        object.AddStateHandler(&State, this);
    }
    ~TNotifyRecorder() {
        if (FObject) {
            FObject->RemoveChangeHandler(&Change, this);
            FObject->RemoveStateHandler(&State, this);
        }
    }
    TNotifyRecorder(const TNotifyRecorder&) = delete;
    TNotifyRecorder& operator=(const TNotifyRecorder&) = delete;

    // Returns what was recorded since the last call.
    std::string Take() {
        std::string log = FLog;
        FLog.clear();
        return log;
    }

private:
    static void Change(void* context, TCustomSysObject&, uint8_t code) {
        auto* self = static_cast<TNotifyRecorder*>(context);
        self->Append("c" + std::to_string(code));
        if (code == SysDestroying) self->FObject = nullptr;
    }
    static void State(void* context, TCustomSysObject&, uint8_t code) {
        static_cast<TNotifyRecorder*>(context)->Append("s" + std::to_string(code));
    }
    void Append(const std::string& item) { FLog += (FLog.empty() ? "" : " ") + item; }

    TCustomSysObject* FObject;
    std::string FLog;
};
