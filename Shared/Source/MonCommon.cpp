#include "MonCommon.h"

#include <vector>

#include "ResourceStrings.h"

// --- TSysService ---

TSysService::TSysService(const TSysObjectCreation& how)
    : TCustomSysObject(how)
    , FParams(std::make_unique<TBufferProtocol>(64)) {
    SetCaption(LoadResString(rsKindService));
}

void TSysService::WriteData(TBufferProtocol& protocol) {
    protocol.WriteWord(FValue1);
    protocol.WriteWord(FValue2);
    protocol.WriteDateTime(FTime1);
    protocol.WriteString(FInfo);
    protocol.WriteDateTime(FTime2);
    // The block is rebuilt for every record; with no builder it goes out empty.
    ClearParams();
    BuildParams();
    protocol.WriteBlock(*FParams->Buffer(), true);
}

void TSysService::ReadData(TBufferProtocol& protocol, int32_t length) {
    SetValue1(protocol.ReadWord());
    SetValue2(protocol.ReadWord());
    SetTime1(protocol.ReadDateTime());
    // Info and Time2 notify as state; bracketed like the state section, so that a record which
    // also changes configuration sends only the configuration notifications.
    BeginStateUpdate();
    try {
        SetInfo(protocol.ReadString());
        SetTime2(protocol.ReadDateTime());
    } catch (...) {
        EndStateUpdate();
        throw;
    }
    EndStateUpdate();
    if (ReadParams(protocol, length)) ParamsChanged();
}

bool TSysService::ReadParams(TBufferProtocol& protocol, int32_t /*sectionLength*/) {
    ByteBlock block;
    protocol.ReadBlock(block);
    auto fresh = std::make_unique<TBufferProtocol>(64);
    fresh->WriteBuf(block.Size, block.Data);
    fresh->SetPosition(0);
    if (!BuffersDiffer(*fresh, *FParams)) return false;
    BeginChange();
    FParams = std::move(fresh);
    EndChange();
    return FParams->GetSize() > 0;
}

void TSysService::ClearParams() {
    FParams->SetSize(0);
}

bool TSysService::IsOnline() const {
    return Id() == 0 || FOnline;
}

void TSysService::ResetState() {
    BeginStateUpdate();
    if (Local()) {
        SetOnline(true);
        SetStatusCode(2);
        SetStatusText(LoadResString(rsServiceConnected));
    } else {
        SetOnline(false);
        SetStatusCode(1);
        SetStatusText(LoadResString(rsServiceOffline));
    }
    SetStatusDetail("");
    EndStateUpdate();
}

void TSysService::WriteState(TBufferProtocol& protocol) {
    protocol.WriteBoolean(FOnline);
    protocol.WriteByte(FStatusCode);
    protocol.WriteString(FStatusText);
    protocol.WriteString(FStatusDetail);
}

void TSysService::ReadState(TBufferProtocol& protocol, int32_t) {
    if (Local()) return;
    SetOnline(protocol.ReadBoolean());
    SetStatusCode(protocol.ReadByte());
    SetStatusText(protocol.ReadString());
    SetStatusDetail(protocol.ReadString());
}

void TSysService::SetOnline(bool value) {
    if (FOnline == value) return;
    StateChanging();
    FOnline = value;
    if (!value) {
        FStatusCode = 1;
        FStatusText = LoadResString(rsServiceOffline);
        FStatusDetail.clear();
    }
    StateChanged();
}

void TSysService::SetValue1(uint16_t value) {
    if (FValue1 == value) return;
    BeginChange();
    FValue1 = value;
    EndChange();
}

void TSysService::SetValue2(uint16_t value) {
    if (FValue2 == value) return;
    BeginChange();
    FValue2 = value;
    EndChange();
}

void TSysService::SetTime1(double value) {
    if (SameDouble(FTime1, value)) return;
    BeginChange();
    FTime1 = value;
    EndChange();
}

void TSysService::SetTime2(double value) {
    if (SameDouble(FTime2, value)) return;
    StateChanging();
    FTime2 = value;
    StateChanged();
}

void TSysService::SetInfo(const std::string& value) {
    if (FInfo == value) return;
    StateChanging();
    FInfo = value;
    StateChanged();
}

void TSysService::SetStatusCode(uint8_t value) {
    if (FStatusCode == value) return;
    StateChanging();
    FStatusCode = value;
    StateChanged();
}

void TSysService::SetStatusText(const std::string& value) {
    if (FStatusText == value) return;
    StateChanging();
    FStatusText = value;
    StateChanged();
}

void TSysService::SetStatusDetail(const std::string& value) {
    if (FStatusDetail == value) return;
    StateChanging();
    FStatusDetail = value;
    StateChanged();
}

// --- TDepartment ---

TDepartment::TDepartment(const TSysObjectCreation& how)
    : TCustomSysObject(how) {
    SetCaption(LoadResString(rsKindDepartment));
    FMembers.SetSorted(true);
    FMembers.SetDuplicates(dupError);
}

void TDepartment::WriteData(TBufferProtocol& protocol) {
    protocol.WriteInteger(FMembers.Count());
    for (int32_t id : FMembers.Values())
        protocol.WriteInteger(id);
}

void TDepartment::ReadData(TBufferProtocol& protocol, int32_t) {
    FAddedIds.Clear();
    FRemovedIds.Clear();
    FReading = true;
    try {
        int32_t count = protocol.ReadInteger();
        // The count is checked against the bytes left before anything is allocated for it.
        if (count < 0 || count > (protocol.GetSize() - protocol.Position()) / 4)
            throw Exception("Attempt to read beyond end of buffer!");
        std::vector<int32_t> listed(static_cast<size_t>(count));
        for (int32_t& id : listed)
            id = protocol.ReadInteger();

        // Marked by flag rather than by a marker value, so that no id is mistaken for one.
        std::vector<bool> kept(static_cast<size_t>(FMembers.Count()), false);
        std::vector<bool> present(listed.size(), false);
        for (size_t i = listed.size(); i-- > 0;) {
            int index;
            if (FMembers.Find(listed[i], index)) {
                kept[static_cast<size_t>(index)] = true;
                present[i] = true;
            }
        }
        for (int i = FMembers.Count() - 1; i >= 0; --i)
            if (!kept[static_cast<size_t>(i)]) RemoveMemberAt(i);
        for (size_t i = 0; i < listed.size(); ++i)
            if (!present[i]) AddMember(listed[i], false);
    } catch (...) {
        FReading = false;
        throw;
    }
    FReading = false;
}

void TDepartment::AddMember(int32_t id, bool skipIfPresent) {
    if (skipIfPresent && Contains(id)) return;
    BeginChange();
    MemberChange(id, DeptMemberAdded);
    FMembers.Add(id);
    FAddedIds.Add(id);
    EndChange();
}

void TDepartment::RemoveMemberAt(int index) {
    int32_t id = FMembers.Items(index);
    BeginChange();
    MemberChange(id, DeptMemberRemoved);
    FRemovedIds.Add(id);
    FMembers.Delete(index);
    EndChange();
}

bool TDepartment::Contains(int32_t id) const {
    return FMembers.IndexOf(id) >= 0;
}

void TDepartment::SetOnMemberChange(TMemberChange callback, void* context) {
    FOnMemberChange = callback;
    FMemberChangeContext = context;
}

void TDepartment::MemberChange(int32_t id, uint8_t code) {
    if (FMemberNotifications && FOnMemberChange)
        FOnMemberChange(FMemberChangeContext, *this, id, code);
}
