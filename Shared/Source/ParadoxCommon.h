#pragma once

// The alarm panels, their partitions (areas armed and disarmed as a unit) and zones (detector
// loops), as the server reports them: separate objects that find each other by id in whatever
// order they arrive.
//
// Ownership: a panel's destructor frees its members and a partition's destructor frees the
// zones of its panel that name it. Members therefore belong to an owner that lets go of an
// object when it announces its destruction (code 2), as TSysObjectList and the main window's
// registry do; never hold them in a plain std::unique_ptr of your own.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "CoreCommon.h"

class TParadoxPanel;
class TParadoxPartition;
class TParadoxZone;

// Zone state bits.
enum : uint16_t {
    zsSupervisionTrouble = 0x0001,
    zsTransmissionDelay = 0x0002,
    zsShutDown = 0x0004,
    zsBypassed = 0x0008,
    zsIntellizoneDelay = 0x0010,
    zsEntryDelay = 0x0020,
    zsAlarm = 0x0040,
    zsAlarmInMemory = 0x0080,
    zsOpen = 0x0100,
    zsTamper = 0x0200,
    zsUnknown2 = 0x0400,
};

// Partition ArmStatus and ReadyStatus bits.
enum : uint8_t {
    asArmed = 0x01,
    asAlarmInMemory = 0x10,
    asAlarmMask = 0xE0, // any of these: in alarm
    rdReady = 0x01,
    rdExitDelay = 0x02,
    rdEntryDelay = 0x04,
};

// A panel's ConnectionState from which the server is in contact with it.
inline constexpr int32_t PanelInContact = 3;

inline constexpr int MaxPanelZones = 192;
inline constexpr int MaxPanelPartitions = 8;
inline constexpr int MaxPanelPgms = 32;
inline constexpr int MaxPanelDoors = 32;

// Every live object of one kind, in creation order. Clones are private copies and stay out.
template <class T>
class TParadoxRegistry {
public:
    void Add(T* object) { FItems.push_back(object); }
    void Remove(T* object) {
        // Objects mostly die newest first (a panel frees its members from the end).
        for (size_t i = FItems.size(); i-- > 0;)
            if (FItems[i] == object) {
                FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(i));
                return;
            }
    }
    // The first object with the id, or null.
    T* FindById(int32_t id) const {
        for (T* object : FItems)
            if (object->Id() == id) return object;
        return nullptr;
    }
    int Count() const { return static_cast<int>(FItems.size()); }
    const std::vector<T*>& Items() const { return FItems; }

private:
    std::vector<T*> FItems;
};

[[noreturn]] void ThrowMemberIndexError(int index);

// One of a panel's member lists. Its lock is taken around every access and is re-entrant, so
// a walk under the lock may free members (walking from the end) as the destructors do.
template <class T>
class TPanelMemberList {
public:
    std::unique_lock<std::recursive_mutex> Lock() const {
        return std::unique_lock<std::recursive_mutex>(FLock);
    }
    int Count() const {
        auto lock = Lock();
        return static_cast<int>(FItems.size());
    }
    // Raises EListError for an index out of bounds.
    T* Items(int index) const {
        auto lock = Lock();
        if (index < 0 || index >= static_cast<int>(FItems.size())) ThrowMemberIndexError(index);
        return FItems[static_cast<size_t>(index)];
    }
    bool Contains(const T* object) const {
        auto lock = Lock();
        for (const T* item : FItems)
            if (item == object) return true;
        return false;
    }

private:
    friend class TParadoxPanel;
    std::vector<T*> FItems;
    mutable std::recursive_mutex FLock;
};

// Common base of the panel model's classes; adds nothing of its own.
class TParadoxObject : public TCustomSysObject {
protected:
    using TCustomSysObject::TCustomSysObject;
};

// A panel's PGM output or door. No class of this system is one; the panel's lists and the
// registries for them exist so that the panel's rules cover them. A concrete subclass joins
// PgmRegistry or DoorRegistry itself and sets its PanelId through SetDevicePanelId.
class TParadoxDevice : public TParadoxObject {
public:
    ~TParadoxDevice() override;
    int32_t PanelId() const { return FPanelId; }
    TParadoxPanel* Panel() const { return FPanel; }

protected:
    using TParadoxObject::TParadoxObject;
    void SetDevicePanelId(int32_t id) { FPanelId = id; }

private:
    friend class TParadoxPanel;
    int32_t FPanelId = 0;
    TParadoxPanel* FPanel = nullptr;
};

TParadoxRegistry<TParadoxPanel>& PanelRegistry();
TParadoxRegistry<TParadoxPartition>& PartitionRegistry();
TParadoxRegistry<TParadoxZone>& ZoneRegistry();
TParadoxRegistry<TParadoxDevice>& PgmRegistry();
TParadoxRegistry<TParadoxDevice>& DoorRegistry();

class TParadoxZone : public TParadoxObject {
public:
    static constexpr const char* ClassType = "Zone";

    explicit TParadoxZone(const TSysObjectCreation& how);
    // Leaves its registry and its panel.
    ~TParadoxZone() override;

    void WriteData(TBufferProtocol& protocol) override;
    void ReadData(TBufferProtocol& protocol, int32_t length) override;
    bool IsConcrete() const override { return true; }
    const char* ClassTypeName() const override { return ClassType; }
    void ResetState() override;
    void WriteState(TBufferProtocol& protocol) override;
    void ReadState(TBufferProtocol& protocol, int32_t length) override;

    // Links Partition to the first partition with the id (clones stay unlinked).
    virtual void SetPartitionId(int32_t id);
    // Leaves the panel it was in, then joins the first panel with the id (clones stay out).
    void SetPanelId(int32_t id);
    // 1 to 192; others raise EDisplayError after the change has been announced.
    void SetZoneNumber(int16_t number);
    void SetZoneValue(int32_t value);
    void SetZoneOption(bool value);
    void SetBypassUntil(const TVariant& value);
    void SetBypassReason(const std::string& value);
    void SetZoneState(uint16_t value);

    int32_t PanelId() const { return FPanelId; }
    int32_t PartitionId() const { return FPartitionId; }
    int16_t ZoneNumber() const { return FZoneNumber; }
    int32_t ZoneValue() const { return FZoneValue; }
    bool ZoneOption() const { return FZoneOption; }
    const TVariant& BypassUntil() const { return FBypassUntil; }
    const std::string& BypassReason() const { return FBypassReason; }
    uint16_t ZoneState() const { return FZoneState; }
    TParadoxPanel* Panel() const { return FPanel; }
    TParadoxPartition* Partition() const { return FPartition; }

private:
    friend class TParadoxPanel;
    friend class TParadoxPartition;

    int32_t FPanelId = 0;
    int32_t FPartitionId = 0;
    int16_t FZoneNumber = 1; // in range, so a rollback never puts back a refused number
    int32_t FZoneValue = 0;
    bool FZoneOption = false;
    TVariant FBypassUntil = TVariant::Null();
    std::string FBypassReason;
    uint16_t FZoneState = 0;
    TParadoxPanel* FPanel = nullptr;
    TParadoxPartition* FPartition = nullptr;
};

class TParadoxPartition : public TParadoxObject {
public:
    static constexpr const char* ClassType = "Partition";

    explicit TParadoxPartition(const TSysObjectCreation& how);
    // Frees the zones of its panel that name it, then leaves its panel and registry.
    ~TParadoxPartition() override;

    // Also links every zone whose PartitionId is the new id.
    void SetId(int32_t value) override;
    void WriteData(TBufferProtocol& protocol) override;
    void ReadData(TBufferProtocol& protocol, int32_t length) override;
    bool IsConcrete() const override { return true; }
    const char* ClassTypeName() const override { return ClassType; }
    void ResetState() override;
    void WriteState(TBufferProtocol& protocol) override;
    // Always one state change, even when the bytes are unchanged.
    void ReadState(TBufferProtocol& protocol, int32_t length) override;

    void SetPanelId(int32_t id);
    // 1 to 8; others raise EDisplayError after the change has been announced.
    void SetPartitionNumber(int32_t number);
    void SetPartitionData(const TVariant& value);
    void SetPartitionOption(bool value);
    // State stores for a sender (the simulator); they notify only when a value changes.
    void SetArmStatus(uint8_t value);
    void SetReadyStatus(uint8_t value);

    int32_t PanelId() const { return FPanelId; }
    int32_t PartitionNumber() const { return FPartitionNumber; }
    const TVariant& PartitionData() const { return FPartitionData; }
    bool PartitionOption() const { return FPartitionOption; }
    uint8_t ArmStatus() const { return FArmStatus; }
    uint8_t ReadyStatus() const { return FReadyStatus; }
    TParadoxPanel* Panel() const { return FPanel; }

private:
    friend class TParadoxPanel;
    void StoreStatus(uint8_t arm, uint8_t ready);

    int32_t FPanelId = 0;
    int32_t FPartitionNumber = 1;
    TVariant FPartitionData = TVariant::Null();
    bool FPartitionOption = false;
    uint8_t FArmStatus = 0;
    uint8_t FReadyStatus = 0;
    TParadoxPanel* FPanel = nullptr;
};

class TParadoxPanel : public TParadoxObject {
public:
    static constexpr const char* ClassType = "Panel";

    explicit TParadoxPanel(const TSysObjectCreation& how);
    // Frees every member, then leaves its registry.
    ~TParadoxPanel() override;

    // Also refills the member lists from the registries with every object naming the new id.
    void SetId(int32_t value) override;
    void WriteData(TBufferProtocol& protocol) override;
    void ReadData(TBufferProtocol& protocol, int32_t length) override;
    bool IsConcrete() const override { return true; }
    const char* ClassTypeName() const override { return ClassType; }
    void ResetState() override;
    void WriteState(TBufferProtocol& protocol) override;
    void ReadState(TBufferProtocol& protocol, int32_t length) override;

    virtual void SetPanelValue(int32_t value);
    virtual void SetPanelText1(const std::string& value);
    // 0 stores 3; values above 10 store 10.
    virtual void SetPanelByte(uint8_t value);
    virtual void SetPanelText2(const std::string& value);
    virtual void SetPanelText3(const std::string& value);
    virtual void SetPanelFlag1(bool value);
    virtual void SetZoneStatusEnabled(bool value);
    virtual void SetPanelFlag2(bool value);
    virtual void SetPanelText4(const std::string& value);
    // A value above 1000 is divided by 1000.
    virtual void SetPanelWord1(uint16_t value);
    virtual void SetPanelFlag3(bool value);
    // Values above 3600 store 3600.
    virtual void SetPanelWord2(uint16_t value);
    virtual void SetPanelText5(const std::string& value);
    virtual void SetPanelFlag4(bool value);
    virtual void SetPanelText6(const std::string& value);
    virtual void SetPanelFlag5(bool value);
    virtual void SetPanelText7(const std::string& value);
    // One state change storing both, unless both are unchanged.
    virtual void SetConnection(int32_t state, const std::string& text);
    virtual void SetStateValues(int32_t value2, int32_t value1);
    // Members: the member's PanelId must be the panel's Id, and the list must have room;
    // otherwise EBugCheckError. A member that was in another panel's list leaves it.
    virtual void AddZone(TParadoxZone* zone);
    virtual void RemoveZone(TParadoxZone* zone);
    virtual void AddPartition(TParadoxPartition* partition);
    virtual void RemovePartition(TParadoxPartition* partition);
    virtual void AddPgm(TParadoxDevice* pgm);
    virtual void RemovePgm(TParadoxDevice* pgm);
    virtual void AddDoor(TParadoxDevice* door);
    virtual void RemoveDoor(TParadoxDevice* door);

    void SetStateValue3(int32_t value);
    void SetStateByte1(uint8_t value);
    void SetStateLong(uint32_t value);
    void SetStateByte2(uint8_t value);
    void SetStateByte3(uint8_t value);

    int32_t PanelValue() const { return FPanelValue; }
    const std::string& PanelText1() const { return FPanelText1; }
    uint8_t PanelByte() const { return FPanelByte; }
    const std::string& PanelText2() const { return FPanelText2; }
    const std::string& PanelText3() const { return FPanelText3; }
    bool PanelFlag1() const { return FPanelFlag1; }
    bool ZoneStatusEnabled() const { return FZoneStatusEnabled; }
    bool PanelFlag2() const { return FPanelFlag2; }
    const std::string& PanelText4() const { return FPanelText4; }
    uint16_t PanelWord1() const { return FPanelWord1; }
    bool PanelFlag3() const { return FPanelFlag3; }
    uint16_t PanelWord2() const { return FPanelWord2; }
    const std::string& PanelText5() const { return FPanelText5; }
    bool PanelFlag4() const { return FPanelFlag4; }
    const std::string& PanelText6() const { return FPanelText6; }
    bool PanelFlag5() const { return FPanelFlag5; }
    const std::string& PanelText7() const { return FPanelText7; }

    int32_t ConnectionState() const { return FConnectionState; }
    const std::string& ConnectionText() const { return FConnectionText; }
    int32_t StateValue1() const { return FStateValue1; }
    int32_t StateValue2() const { return FStateValue2; }
    int32_t StateValue3() const { return FStateValue3; }
    uint8_t StateByte1() const { return FStateByte1; }
    uint32_t StateLong() const { return FStateLong; }
    uint8_t StateByte2() const { return FStateByte2; }
    uint8_t StateByte3() const { return FStateByte3; }

    const TPanelMemberList<TParadoxZone>& Zones() const { return FZones; }
    const TPanelMemberList<TParadoxPartition>& Partitions() const { return FPartitions; }
    const TPanelMemberList<TParadoxDevice>& Pgms() const { return FPgms; }
    const TPanelMemberList<TParadoxDevice>& Doors() const { return FDoors; }

private:
    friend class TParadoxPartition;

    // The list is named by member pointer so that the same list of another panel can be found:
    // a member joins one panel's list only after leaving the other's.
    template <class T>
    void AddMember(TPanelMemberList<T> TParadoxPanel::*which, T* member, int limit,
                   const char* otherPanel, const char* tooMany);
    template <class T>
    void RemoveMember(TPanelMemberList<T> TParadoxPanel::*which, T* member);
    template <class T>
    void Refill(TPanelMemberList<T> TParadoxPanel::*which, const TParadoxRegistry<T>& registry);
    template <class T>
    void FreeMembers(TPanelMemberList<T>& list);
    void FreeZonesOfPartition(int32_t partitionId);

    int32_t FPanelValue = 0;
    std::string FPanelText1 = "1";
    uint8_t FPanelByte = 3;
    std::string FPanelText2;
    std::string FPanelText3 = "0000";
    bool FPanelFlag1 = false;
    bool FZoneStatusEnabled = true;
    bool FPanelFlag2 = false;
    std::string FPanelText4;
    uint16_t FPanelWord1 = 5;
    bool FPanelFlag3 = false;
    uint16_t FPanelWord2 = 0;
    std::string FPanelText5;
    bool FPanelFlag4 = false;
    std::string FPanelText6;
    bool FPanelFlag5 = false;
    std::string FPanelText7;

    int32_t FConnectionState = 0;
    std::string FConnectionText;
    int32_t FStateValue1 = 0;
    int32_t FStateValue2 = 0;
    int32_t FStateValue3 = 0;
    uint8_t FStateByte1 = 0;
    uint32_t FStateLong = 0;
    uint8_t FStateByte2 = 0;
    uint8_t FStateByte3 = 0;

    TPanelMemberList<TParadoxPartition> FPartitions;
    TPanelMemberList<TParadoxZone> FZones;
    TPanelMemberList<TParadoxDevice> FPgms;
    TPanelMemberList<TParadoxDevice> FDoors;
};
