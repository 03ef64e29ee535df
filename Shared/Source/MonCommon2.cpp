#include "MonCommon2.h"

#include "ResourceStrings.h"

TLightClient::TLightClient(const TSysObjectCreation& how)
    : TCustomSysObject(how) {
    SetDefaultCategory(8);
    SetCaption(LoadResString(rsKindLightClient));
}

void TLightClient::SetLightData(const TVariant& value) {
    SetConfigField(FLightData, value);
}
void TLightClient::SetLightValue(int32_t value) {
    SetConfigField(FLightValue, value);
}
void TLightClient::SetOption1(bool value) {
    SetConfigField(FOption1, value);
}
void TLightClient::SetOption2(bool value) {
    SetConfigField(FOption2, value);
}
void TLightClient::SetOption3(bool value) {
    SetConfigField(FOption3, value);
}
void TLightClient::SetOption4(bool value) {
    SetConfigField(FOption4, value);
}
void TLightClient::SetOption5(bool value) {
    SetConfigField(FOption5, value);
}
void TLightClient::SetOption6(bool value) {
    SetConfigField(FOption6, value);
}
void TLightClient::SetStatusFlags(uint8_t value) {
    SetStateField(FStatusFlags, value);
}
void TLightClient::SetStatusText1(const std::string& value) {
    SetStateField(FStatusText1, value);
}
void TLightClient::SetStatusText2(const std::string& value) {
    SetStateField(FStatusText2, value);
}
void TLightClient::SetDetailText(const std::string& value) {
    SetStateField(FDetailText, value);
}
void TLightClient::SetStatusTime(double value) {
    SetStateField(FStatusTime, value);
}

void TLightClient::WriteData(TBufferProtocol& protocol) {
    protocol.WriteInteger(FLightValue);
    protocol.WriteBoolean(FOption1);
    protocol.WriteBoolean(FOption2);
    protocol.WriteBoolean(FOption3);
    protocol.WriteBoolean(FOption4);
    protocol.WriteBoolean(FOption5);
    protocol.WriteBoolean(FOption6);
    protocol.WriteVariant(FLightData);
}

void TLightClient::ReadData(TBufferProtocol& protocol, int32_t) {
    SetLightValue(protocol.ReadInteger());
    SetOption1(protocol.ReadBoolean());
    SetOption2(protocol.ReadBoolean());
    SetOption3(protocol.ReadBoolean());
    SetOption4(protocol.ReadBoolean());
    SetOption5(protocol.ReadBoolean());
    SetOption6(protocol.ReadBoolean());
    SetLightData(protocol.ReadVariant());
}

void TLightClient::ResetState() {
    BeginStateUpdate();
    SetStatusFlags(1);
    SetStatusText1("");
    SetStatusText2("");
    SetDetailText("");
    EndStateUpdate();
}

void TLightClient::WriteState(TBufferProtocol& protocol) {
    protocol.WriteByte(FStatusFlags);
    protocol.WriteString(FStatusText1);
    protocol.WriteString(FStatusText2);
    protocol.WriteString(FDetailText);
    protocol.WriteDateTime(FStatusTime);
}

void TLightClient::ReadState(TBufferProtocol& protocol, int32_t) {
    BeginStateUpdate();
    try {
        SetStatusFlags(protocol.ReadByte());
        SetStatusText1(protocol.ReadString());
        SetStatusText2(protocol.ReadString());
        SetDetailText(protocol.ReadString());
        SetStatusTime(protocol.ReadDateTime());
    } catch (...) {
        EndStateUpdate();
        throw;
    }
    EndStateUpdate();
}
