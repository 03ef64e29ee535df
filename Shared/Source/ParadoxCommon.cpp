#include "ParadoxCommon.h"

#include "Debug.h"
#include "ResourceStrings.h"
#include "SysUtils.h"

// The registries live until the process ends and are never destroyed, so an object freed late
// in shutdown still finds its registry.
TParadoxRegistry<TParadoxPanel>& PanelRegistry() {
    static auto* registry = new TParadoxRegistry<TParadoxPanel>;
    return *registry;
}

TParadoxRegistry<TParadoxPartition>& PartitionRegistry() {
    static auto* registry = new TParadoxRegistry<TParadoxPartition>;
    return *registry;
}

TParadoxRegistry<TParadoxZone>& ZoneRegistry() {
    static auto* registry = new TParadoxRegistry<TParadoxZone>;
    return *registry;
}

TParadoxRegistry<TParadoxDevice>& PgmRegistry() {
    static auto* registry = new TParadoxRegistry<TParadoxDevice>;
    return *registry;
}

TParadoxRegistry<TParadoxDevice>& DoorRegistry() {
    static auto* registry = new TParadoxRegistry<TParadoxDevice>;
    return *registry;
}

void ThrowMemberIndexError(int index) {
    throw EListError(Format("List index out of bounds (%d)", index));
}

namespace {

// Walks a member list from the end, under its lock, calling action on each member; action may
// remove that member or others, so the index is kept within the list as it shrinks.
template <class T, class F>
void WalkFromEnd(std::vector<T*>& items, F&& action) {
    for (int i = static_cast<int>(items.size()) - 1; i >= 0; --i) {
        if (i >= static_cast<int>(items.size())) {
            i = static_cast<int>(items.size());
            continue;
        }
        action(items[static_cast<size_t>(i)]);
    }
}

} // namespace

// --- TParadoxDevice ---

TParadoxDevice::~TParadoxDevice() {
    PgmRegistry().Remove(this);
    DoorRegistry().Remove(this);
    if (TParadoxPanel* panel = FPanel) {
        panel->RemovePgm(this);
        panel->RemoveDoor(this);
    }
}

// --- TParadoxZone ---

TParadoxZone::TParadoxZone(const TSysObjectCreation& how)
    : TParadoxObject(how) {
    SetDefaultCategory(4);
    SetCaption(LoadResString(rsKindZone));
    if (!IsClone()) ZoneRegistry().Add(this);
}

TParadoxZone::~TParadoxZone() {
    if (!IsClone()) ZoneRegistry().Remove(this);
    if (FPanel) FPanel->RemoveZone(this);
}

void TParadoxZone::SetPanelId(int32_t id) {
    if (FPanelId == id) return;
    BeginChange();
    FPanelId = id;
    // Out of the old panel's list first: a panel lists only its own members.
    if (FPanel) FPanel->RemoveZone(this);
    if (!IsClone())
        if (TParadoxPanel* panel = PanelRegistry().FindById(id)) panel->AddZone(this);
    EndChange();
}

void TParadoxZone::SetPartitionId(int32_t id) {
    if (FPartitionId == id) return;
    BeginChange();
    FPartitionId = id;
    FPartition = IsClone() ? nullptr : PartitionRegistry().FindById(id);
    EndChange();
}

void TParadoxZone::SetZoneNumber(int16_t number) {
    if (FZoneNumber == number) return;
    BeginChange();
    if (number > MaxPanelZones) throw EDisplayError(LoadResString(rsZoneNumberTooHigh));
    if (number < 1) throw EDisplayError(LoadResString(rsZoneNumberTooLow));
    FZoneNumber = number;
    EndChange();
}

void TParadoxZone::SetZoneValue(int32_t value) {
    SetConfigField(FZoneValue, value);
}
void TParadoxZone::SetZoneOption(bool value) {
    SetConfigField(FZoneOption, value);
}
void TParadoxZone::SetBypassUntil(const TVariant& value) {
    SetConfigField(FBypassUntil, value);
}
void TParadoxZone::SetBypassReason(const std::string& value) {
    SetConfigField(FBypassReason, value);
}
void TParadoxZone::SetZoneState(uint16_t value) {
    SetStateField(FZoneState, value);
}

void TParadoxZone::WriteData(TBufferProtocol& protocol) {
    protocol.WriteInteger(FPanelId);
    protocol.WriteInteger(FPartitionId);
    protocol.WriteSmallInt(FZoneNumber);
    protocol.WriteInteger(FZoneValue);
    protocol.WriteBoolean(FZoneOption);
    protocol.WriteVariant(FBypassUntil);
    protocol.WriteString(FBypassReason);
}

void TParadoxZone::ReadData(TBufferProtocol& protocol, int32_t) {
    SetPanelId(protocol.ReadInteger());
    SetPartitionId(protocol.ReadInteger());
    SetZoneNumber(protocol.ReadSmallInt());
    SetZoneValue(protocol.ReadInteger());
    SetZoneOption(protocol.ReadBoolean());
    SetBypassUntil(protocol.ReadVariant());
    SetBypassReason(protocol.ReadString());
}

void TParadoxZone::ResetState() {
    SetZoneState(0);
}

void TParadoxZone::WriteState(TBufferProtocol& protocol) {
    protocol.WriteWord(FZoneState);
}

void TParadoxZone::ReadState(TBufferProtocol& protocol, int32_t) {
    SetZoneState(protocol.ReadWord());
}

// --- TParadoxPartition ---

TParadoxPartition::TParadoxPartition(const TSysObjectCreation& how)
    : TParadoxObject(how) {
    SetDefaultCategory(4);
    SetCaption(LoadResString(rsKindPartition));
    if (!IsClone()) PartitionRegistry().Add(this);
}

TParadoxPartition::~TParadoxPartition() {
    if (!IsClone()) PartitionRegistry().Remove(this);
    if (FPanel) FPanel->FreeZonesOfPartition(Id());
    // Zones of other panels (or of none) may name it too; they must not keep a freed pointer.
    for (TParadoxZone* zone : ZoneRegistry().Items())
        if (zone->FPartition == this) zone->FPartition = nullptr;
    if (FPanel) FPanel->RemovePartition(this);
}

void TParadoxPartition::SetId(int32_t value) {
    TParadoxObject::SetId(value);
    if (IsClone()) return;
    for (TParadoxZone* zone : ZoneRegistry().Items()) {
        if (zone->FPartitionId == Id())
            zone->FPartition = this;
        else if (zone->FPartition == this)
            zone->FPartition = nullptr; // it named the old id
    }
}

void TParadoxPartition::SetPanelId(int32_t id) {
    if (FPanelId == id) return;
    BeginChange();
    FPanelId = id;
    // Out of the old panel's list first: a panel lists only its own members.
    if (FPanel) FPanel->RemovePartition(this);
    if (!IsClone())
        if (TParadoxPanel* panel = PanelRegistry().FindById(id)) panel->AddPartition(this);
    EndChange();
}

void TParadoxPartition::SetPartitionNumber(int32_t number) {
    if (FPartitionNumber == number) return;
    BeginChange();
    if (number > MaxPanelPartitions) throw EDisplayError(LoadResString(rsPartitionNumberTooHigh));
    if (number < 1) throw EDisplayError(LoadResString(rsPartitionNumberTooLow));
    FPartitionNumber = number;
    EndChange();
}

void TParadoxPartition::SetPartitionData(const TVariant& value) {
    SetConfigField(FPartitionData, value);
}
void TParadoxPartition::SetPartitionOption(bool value) {
    SetConfigField(FPartitionOption, value);
}
void TParadoxPartition::SetArmStatus(uint8_t value) {
    SetStateField(FArmStatus, value);
}
void TParadoxPartition::SetReadyStatus(uint8_t value) {
    SetStateField(FReadyStatus, value);
}

void TParadoxPartition::StoreStatus(uint8_t arm, uint8_t ready) {
    StateChanging();
    FArmStatus = arm;
    FReadyStatus = ready;
    StateChanged();
}

void TParadoxPartition::WriteData(TBufferProtocol& protocol) {
    protocol.WriteInteger(FPanelId);
    protocol.WriteInteger(FPartitionNumber);
    protocol.WriteVariant(FPartitionData);
    protocol.WriteBoolean(FPartitionOption);
}

void TParadoxPartition::ReadData(TBufferProtocol& protocol, int32_t) {
    SetPanelId(protocol.ReadInteger());
    SetPartitionNumber(protocol.ReadInteger());
    SetPartitionData(protocol.ReadVariant());
    SetPartitionOption(protocol.ReadBoolean());
}

void TParadoxPartition::ResetState() {
    StoreStatus(0, 0);
}

void TParadoxPartition::WriteState(TBufferProtocol& protocol) {
    protocol.WriteByte(FArmStatus);
    protocol.WriteByte(FReadyStatus);
}

void TParadoxPartition::ReadState(TBufferProtocol& protocol, int32_t) {
    uint8_t arm = protocol.ReadByte();
    uint8_t ready = protocol.ReadByte();
    StoreStatus(arm, ready);
}

// --- TParadoxPanel ---

TParadoxPanel::TParadoxPanel(const TSysObjectCreation& how)
    : TParadoxObject(how) {
    SetDefaultCategory(4);
    SetDefaultOptionA(false);
    SetCaption(LoadResString(rsKindPanel));
    if (!IsClone()) PanelRegistry().Add(this);
}

TParadoxPanel::~TParadoxPanel() {
    FreeMembers(FPartitions);
    FreeMembers(FZones);
    FreeMembers(FPgms);
    FreeMembers(FDoors);
    if (!IsClone()) PanelRegistry().Remove(this);
}

template <class T>
void TParadoxPanel::FreeMembers(TPanelMemberList<T>& list) {
    auto lock = list.Lock();
    WalkFromEnd(list.FItems, [](T* member) { delete member; });
    list.FItems.clear();
}

void TParadoxPanel::FreeZonesOfPartition(int32_t partitionId) {
    auto lock = FZones.Lock();
    WalkFromEnd(FZones.FItems, [partitionId](TParadoxZone* zone) {
        if (zone->PartitionId() == partitionId) delete zone;
    });
}

template <class T>
void TParadoxPanel::AddMember(TPanelMemberList<T> TParadoxPanel::*which, T* member, int limit,
                              const char* otherPanel, const char* tooMany) {
    TPanelMemberList<T>& list = this->*which;
    auto lock = list.Lock();
    if (member->PanelId() != Id()) throw EBugCheckError(otherPanel);
    if (member->FPanel == this && list.Contains(member)) return;
    if (list.Count() >= limit) throw EBugCheckError(tooMany);
    if (member->FPanel && member->FPanel != this) member->FPanel->RemoveMember(which, member);
    list.FItems.push_back(member);
    member->FPanel = this;
}

template <class T>
void TParadoxPanel::RemoveMember(TPanelMemberList<T> TParadoxPanel::*which, T* member) {
    TPanelMemberList<T>& list = this->*which;
    auto lock = list.Lock();
    std::erase(list.FItems, member);
    if (member->FPanel == this) member->FPanel = nullptr;
}

template <class T>
void TParadoxPanel::Refill(TPanelMemberList<T> TParadoxPanel::*which,
                           const TParadoxRegistry<T>& registry) {
    TPanelMemberList<T>& list = this->*which;
    auto lock = list.Lock();
    for (T* member : list.FItems)
        if (member->FPanel == this) member->FPanel = nullptr;
    list.FItems.clear();
    for (T* member : registry.Items()) {
        if (member->PanelId() != Id()) continue;
        if (member->FPanel && member->FPanel != this) member->FPanel->RemoveMember(which, member);
        list.FItems.push_back(member);
        member->FPanel = this;
    }
}

void TParadoxPanel::SetId(int32_t value) {
    TParadoxObject::SetId(value);
    if (IsClone()) return;
    // Members that arrived before the panel are collected here; the limits are not applied.
    Refill(&TParadoxPanel::FPartitions, PartitionRegistry());
    Refill(&TParadoxPanel::FZones, ZoneRegistry());
    Refill(&TParadoxPanel::FDoors, DoorRegistry());
    Refill(&TParadoxPanel::FPgms, PgmRegistry());
}

void TParadoxPanel::AddZone(TParadoxZone* zone) {
    AddMember(&TParadoxPanel::FZones, zone, MaxPanelZones, "Attempt to add other panel zone!",
              "Attempt to add > 192 zones to a panel!");
}

void TParadoxPanel::RemoveZone(TParadoxZone* zone) {
    RemoveMember(&TParadoxPanel::FZones, zone);
}

void TParadoxPanel::AddPartition(TParadoxPartition* partition) {
    AddMember(&TParadoxPanel::FPartitions, partition, MaxPanelPartitions,
              "Attempt to add other panel partition!", "Attempt to add > 8 partitions to a panel!");
}

void TParadoxPanel::RemovePartition(TParadoxPartition* partition) {
    RemoveMember(&TParadoxPanel::FPartitions, partition);
}

void TParadoxPanel::AddPgm(TParadoxDevice* pgm) {
    AddMember(&TParadoxPanel::FPgms, pgm, MaxPanelPgms, "Attempt to add other panel PGM!",
              "Attempt to add > 32 PGM-s to a panel!");
}

void TParadoxPanel::RemovePgm(TParadoxDevice* pgm) {
    RemoveMember(&TParadoxPanel::FPgms, pgm);
}

void TParadoxPanel::AddDoor(TParadoxDevice* door) {
    AddMember(&TParadoxPanel::FDoors, door, MaxPanelDoors, "Attempt to add other panel door!",
              "Attempt to add > 32 doors to a panel!");
}

void TParadoxPanel::RemoveDoor(TParadoxDevice* door) {
    RemoveMember(&TParadoxPanel::FDoors, door);
}

void TParadoxPanel::SetPanelValue(int32_t value) {
    SetConfigField(FPanelValue, value);
}
void TParadoxPanel::SetPanelText1(const std::string& value) {
    SetConfigField(FPanelText1, value);
}

void TParadoxPanel::SetPanelByte(uint8_t value) {
    uint8_t stored = value == 0 ? 3 : value > 10 ? 10 : value;
    SetConfigField(FPanelByte, stored);
}

void TParadoxPanel::SetPanelText2(const std::string& value) {
    SetConfigField(FPanelText2, value);
}
void TParadoxPanel::SetPanelText3(const std::string& value) {
    SetConfigField(FPanelText3, value);
}
void TParadoxPanel::SetPanelFlag1(bool value) {
    SetConfigField(FPanelFlag1, value);
}
void TParadoxPanel::SetZoneStatusEnabled(bool value) {
    SetConfigField(FZoneStatusEnabled, value);
}
void TParadoxPanel::SetPanelFlag2(bool value) {
    SetConfigField(FPanelFlag2, value);
}
void TParadoxPanel::SetPanelText4(const std::string& value) {
    SetConfigField(FPanelText4, value);
}

void TParadoxPanel::SetPanelWord1(uint16_t value) {
    uint16_t stored = value > 1000 ? static_cast<uint16_t>(value / 1000) : value;
    SetConfigField(FPanelWord1, stored);
}

void TParadoxPanel::SetPanelFlag3(bool value) {
    SetConfigField(FPanelFlag3, value);
}

void TParadoxPanel::SetPanelWord2(uint16_t value) {
    uint16_t stored = value > 3600 ? uint16_t(3600) : value;
    SetConfigField(FPanelWord2, stored);
}

void TParadoxPanel::SetPanelText5(const std::string& value) {
    SetConfigField(FPanelText5, value);
}
void TParadoxPanel::SetPanelFlag4(bool value) {
    SetConfigField(FPanelFlag4, value);
}
void TParadoxPanel::SetPanelText6(const std::string& value) {
    SetConfigField(FPanelText6, value);
}
void TParadoxPanel::SetPanelFlag5(bool value) {
    SetConfigField(FPanelFlag5, value);
}
void TParadoxPanel::SetPanelText7(const std::string& value) {
    SetConfigField(FPanelText7, value);
}

void TParadoxPanel::SetConnection(int32_t state, const std::string& text) {
    if (FConnectionState == state && FConnectionText == text) return;
    StateChanging();
    FConnectionState = state;
    FConnectionText = text;
    StateChanged();
}

void TParadoxPanel::SetStateValues(int32_t value2, int32_t value1) {
    if (FStateValue2 == value2 && FStateValue1 == value1) return;
    StateChanging();
    FStateValue2 = value2;
    FStateValue1 = value1;
    StateChanged();
}

void TParadoxPanel::SetStateValue3(int32_t value) {
    SetStateField(FStateValue3, value);
}
void TParadoxPanel::SetStateByte1(uint8_t value) {
    SetStateField(FStateByte1, value);
}
void TParadoxPanel::SetStateLong(uint32_t value) {
    SetStateField(FStateLong, value);
}
void TParadoxPanel::SetStateByte2(uint8_t value) {
    SetStateField(FStateByte2, value);
}
void TParadoxPanel::SetStateByte3(uint8_t value) {
    SetStateField(FStateByte3, value);
}

void TParadoxPanel::WriteData(TBufferProtocol& protocol) {
    protocol.WriteInteger(FPanelValue);
    protocol.WriteString(FPanelText1);
    protocol.WriteString(FPanelText3);
    protocol.WriteBoolean(FZoneStatusEnabled);
    protocol.WriteBoolean(FPanelFlag2);
    protocol.WriteString(FPanelText4);
    protocol.WriteWord(FPanelWord1);
    protocol.WriteBoolean(FPanelFlag3);
    protocol.WriteWord(FPanelWord2);
    protocol.WriteString(FPanelText2);
    protocol.WriteString(FPanelText5);
    protocol.WriteByte(FPanelByte);
    protocol.WriteBoolean(FPanelFlag4);
    protocol.WriteString(FPanelText6);
    protocol.WriteBoolean(FPanelFlag5);
    protocol.WriteBoolean(FPanelFlag1);
    protocol.WriteString(FPanelText7);
}

void TParadoxPanel::ReadData(TBufferProtocol& protocol, int32_t) {
    SetPanelValue(protocol.ReadInteger());
    SetPanelText1(protocol.ReadString());
    SetPanelText3(protocol.ReadString());
    SetZoneStatusEnabled(protocol.ReadBoolean());
    SetPanelFlag2(protocol.ReadBoolean());
    SetPanelText4(protocol.ReadString());
    SetPanelWord1(protocol.ReadWord());
    SetPanelFlag3(protocol.ReadBoolean());
    SetPanelWord2(protocol.ReadWord());
    SetPanelText2(protocol.ReadString());
    SetPanelText5(protocol.ReadString());
    SetPanelByte(protocol.ReadByte());
    SetPanelFlag4(protocol.ReadBoolean());
    SetPanelText6(protocol.ReadString());
    SetPanelFlag5(protocol.ReadBoolean());
    SetPanelFlag1(protocol.ReadBoolean());
    SetPanelText7(protocol.ReadString());
}

void TParadoxPanel::ResetState() {
    SetConnection(0, "");
    SetStateValues(0, 100);
}

void TParadoxPanel::WriteState(TBufferProtocol& protocol) {
    protocol.WriteInteger(FConnectionState);
    protocol.WriteString(FConnectionText);
    protocol.WriteInteger(FStateValue1);
    protocol.WriteInteger(FStateValue2);
    protocol.WriteInteger(FStateValue3);
    protocol.WriteByte(FStateByte1);
    protocol.WriteLongWord(FStateLong);
    protocol.WriteByte(FStateByte2);
    protocol.WriteByte(FStateByte3);
}

void TParadoxPanel::ReadState(TBufferProtocol& protocol, int32_t) {
    int32_t state = protocol.ReadInteger();
    std::string text = protocol.ReadString();
    SetConnection(state, text);
    int32_t value1 = protocol.ReadInteger();
    int32_t value2 = protocol.ReadInteger();
    SetStateValues(value2, value1);
    SetStateValue3(protocol.ReadInteger());
    SetStateByte1(protocol.ReadByte());
    SetStateLong(protocol.ReadLongWord());
    SetStateByte2(protocol.ReadByte());
    SetStateByte3(protocol.ReadByte());
}
