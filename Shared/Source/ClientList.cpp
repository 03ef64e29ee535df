#include "ClientList.h"

#include "MonCommon.h"
#include "MonCommon2.h"
#include "ParadoxCommon.h"
#include "SysUtils.h"

std::unique_ptr<TCustomSysObject> CreateModelObject(const std::string& typeName) {
    using Obj = TCustomSysObject;
    if (typeName == TLightClient::ClassType) return Obj::CreateReceived<TLightClient>();
    if (typeName == TParadoxPanel::ClassType) return Obj::CreateReceived<TParadoxPanel>();
    if (typeName == TParadoxPartition::ClassType) return Obj::CreateReceived<TParadoxPartition>();
    if (typeName == TParadoxZone::ClassType) return Obj::CreateReceived<TParadoxZone>();
    if (typeName == TSysService::ClassType) return Obj::CreateReceived<TSysService>();
    return nullptr;
}

int32_t ReadClientList(TBufferProtocol& list, const TSysObjectFactory& factory,
                       const TSysObjectSink& sink) {
    int32_t homeObjectId = list.ReadInteger();
    for (int entry = 1; list.Position() < list.GetSize(); ++entry) {
        int32_t entryAt = list.Position();
        int32_t id = list.ReadInteger();
        std::string typeName = list.ReadString();
        int32_t length = list.ReadInteger();
        int32_t recordAt = list.Position();
        int32_t left = list.GetSize() - recordAt;
        if (length < 0 || length > left)
            throw Exception(Format("Object list entry %d at offset %d: record length %d does not "
                                   "fit the %d bytes left",
                                   entry, entryAt, length, left));
        if (std::unique_ptr<TCustomSysObject> object = factory ? factory(typeName) : nullptr) {
            TBufferProtocol record(32);
            record.WriteBuf(length, list.Data() + recordAt);
            record.SetPosition(0);
            object->SetId(id);
            object->LoadFromProtocol(record);
            list.SetPosition(recordAt + length);
            sink(std::move(object));
        } else {
            list.SetPosition(recordAt + length);
        }
    }
    return homeObjectId;
}

void WriteClientListHeader(TBufferProtocol& list, int32_t homeObjectId) {
    list.WriteInteger(homeObjectId);
}

void WriteClientListEntry(TBufferProtocol& list, TCustomSysObject& object) {
    list.WriteInteger(object.Id());
    list.WriteString(object.ClassTypeName());
    int32_t lengthAt = list.Position();
    list.WriteInteger(0);
    object.WriteToProtocol(list);
    list.PatchInteger(list.Position() - lengthAt - 4, lengthAt);
}

void WriteClientListEntry(TBufferProtocol& list, int32_t id, const std::string& typeName,
                          const TBufferProtocol& record) {
    list.WriteInteger(id);
    list.WriteString(typeName);
    list.WriteInteger(record.GetSize());
    list.WriteBuf(record.GetSize(), record.Data());
}
