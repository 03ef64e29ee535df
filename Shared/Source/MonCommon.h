#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "CoreCommon.h"
#include "Utilities.h"

// A service of the monitoring server with an online state. The client reads only Online (the
// main window watches the service with id 4); the other fields are carried.
class TSysService : public TCustomSysObject {
public:
    static constexpr const char* ClassType = "Service";

    explicit TSysService(const TSysObjectCreation& how);

    void WriteData(TBufferProtocol& protocol) override;
    void ReadData(TBufferProtocol& protocol, int32_t length) override;
    bool IsConcrete() const override { return true; }
    const char* ClassTypeName() const override { return ClassType; }
    // Local objects count as connected, received ones as offline until told otherwise.
    void ResetState() override;
    void WriteState(TBufferProtocol& protocol) override;
    void ReadState(TBufferProtocol& protocol, int32_t length) override;

    // Going offline also sets StatusCode 1, StatusText "offline" and clears StatusDetail, all
    // in one state notification.
    virtual void SetOnline(bool value);
    // Reads the parameter block; announces a change only when its bytes differ from Params.
    // True when Params was replaced by a non-empty block. sectionLength is the length of the
    // data section the block is read from.
    virtual bool ReadParams(TBufferProtocol& protocol, int32_t sectionLength);
    virtual void ClearParams();
    virtual void ParamsChanged() {}
    // Fills Params just before a record is written; nothing in this system builds any.
    virtual void BuildParams() {}
    // A service with id 0 always counts as online.
    virtual bool IsOnline() const;

    void SetValue1(uint16_t value);
    void SetValue2(uint16_t value);
    void SetTime1(double value);
    // Time2 and Info travel in the data section but notify as state.
    void SetTime2(double value);
    void SetInfo(const std::string& value);
    void SetStatusCode(uint8_t value);
    void SetStatusText(const std::string& value);
    void SetStatusDetail(const std::string& value);

    uint16_t Value1() const { return FValue1; }
    uint16_t Value2() const { return FValue2; }
    double Time1() const { return FTime1; }
    double Time2() const { return FTime2; }
    const std::string& Info() const { return FInfo; }
    const TBufferProtocol& Params() const { return *FParams; }
    bool Online() const { return FOnline; }
    uint8_t StatusCode() const { return FStatusCode; }
    const std::string& StatusText() const { return FStatusText; }
    const std::string& StatusDetail() const { return FStatusDetail; }

protected:
    // For BuildParams.
    TBufferProtocol& ParamsBuffer() { return *FParams; }

private:
    uint16_t FValue1 = 0;
    uint16_t FValue2 = 0;
    double FTime1 = 0;
    double FTime2 = 0;
    std::string FInfo;
    std::unique_ptr<TBufferProtocol> FParams;
    bool FOnline = false;
    uint8_t FStatusCode = 0;
    std::string FStatusText;
    std::string FStatusDetail;
};

// Codes of a department's member callback.
enum : uint8_t { DeptMemberAdded = 4, DeptMemberRemoved = 6 };

// A set of member object ids. The client has no registry class for departments and skips
// them in the object list; the common-partition control reads the members of one it is given.
class TDepartment : public TCustomSysObject {
public:
    static constexpr const char* ClassType = "Department";
    using TMemberChange = void (*)(void* context, TDepartment& department, int32_t id,
                                   uint8_t code);

    explicit TDepartment(const TSysObjectCreation& how);

    void WriteData(TBufferProtocol& protocol) override;
    // Reconciles Members with the record's ids: members not listed are removed (highest index
    // first), listed ids not yet members are added in record order.
    void ReadData(TBufferProtocol& protocol, int32_t length) override;
    bool IsConcrete() const override { return true; }
    const char* ClassTypeName() const override { return ClassType; }

    // With skipIfPresent false, an id already present raises the list's duplicate error.
    void AddMember(int32_t id, bool skipIfPresent);
    void RemoveMemberAt(int index);
    bool Contains(int32_t id) const;
    bool Find(int32_t id, int& index) const { return FMembers.Find(id, index); }
    int MemberCount() const { return FMembers.Count(); }
    int32_t Members(int index) const { return FMembers.Items(index); }

    // The ids the last record read added (in record order) and removed.
    const TIntegerList& AddedIds() const { return FAddedIds; }
    const TIntegerList& RemovedIds() const { return FRemovedIds; }
    bool Reading() const { return FReading; }

    // The member callback is called only while member notifications are switched on.
    void SetOnMemberChange(TMemberChange callback, void* context);
    bool MemberNotifications() const { return FMemberNotifications; }
    void SetMemberNotifications(bool value) { FMemberNotifications = value; }

private:
    void MemberChange(int32_t id, uint8_t code);

    TIntegerList FMembers;
    TIntegerList FAddedIds;
    TIntegerList FRemovedIds;
    bool FReading = false;
    bool FMemberNotifications = false;
    TMemberChange FOnMemberChange = nullptr;
    void* FMemberChangeContext = nullptr;
};
