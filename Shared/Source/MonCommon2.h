#pragma once

#include <cstdint>
#include <string>

#include "CoreCommon.h"

// StatusFlags bits as the display reads them.
enum : uint8_t {
    lcfConnected = 0x02,
    lcfAlarm = 0x04,
    lcfTriggered = 0x08,
    lcfNotInUse = 0x10,
};

// An object of the server's type "LightClient": connected, in alarm, triggered or not in use,
// with texts for the display's hint.
class TLightClient : public TCustomSysObject {
public:
    static constexpr const char* ClassType = "LightClient";

    explicit TLightClient(const TSysObjectCreation& how);

    void WriteData(TBufferProtocol& protocol) override;
    void ReadData(TBufferProtocol& protocol, int32_t length) override;
    bool IsConcrete() const override { return true; }
    const char* ClassTypeName() const override { return ClassType; }
    // StatusFlags 1 and the texts empty, in one state notification; StatusTime is kept.
    void ResetState() override;
    void WriteState(TBufferProtocol& protocol) override;
    // The whole section in one state bracket, so a record sends at most one notification.
    void ReadState(TBufferProtocol& protocol, int32_t length) override;

    virtual void SetLightData(const TVariant& value);

    void SetLightValue(int32_t value);
    void SetOption1(bool value);
    void SetOption2(bool value);
    void SetOption3(bool value);
    void SetOption4(bool value);
    void SetOption5(bool value);
    void SetOption6(bool value);
    void SetStatusFlags(uint8_t value);
    void SetStatusText1(const std::string& value);
    void SetStatusText2(const std::string& value);
    void SetDetailText(const std::string& value);
    void SetStatusTime(double value);

    int32_t LightValue() const { return FLightValue; }
    bool Option1() const { return FOption1; }
    bool Option2() const { return FOption2; }
    bool Option3() const { return FOption3; }
    bool Option4() const { return FOption4; }
    bool Option5() const { return FOption5; }
    bool Option6() const { return FOption6; }
    const TVariant& LightData() const { return FLightData; }
    uint8_t StatusFlags() const { return FStatusFlags; }
    const std::string& StatusText1() const { return FStatusText1; }
    const std::string& StatusText2() const { return FStatusText2; }
    const std::string& DetailText() const { return FDetailText; }
    double StatusTime() const { return FStatusTime; }

private:
    int32_t FLightValue = 0;
    bool FOption1 = true;
    bool FOption2 = true;
    bool FOption3 = true;
    bool FOption4 = true;
    bool FOption5 = true;
    bool FOption6 = false;
    TVariant FLightData = TVariant::Null();
    uint8_t FStatusFlags = 0;
    std::string FStatusText1;
    std::string FStatusText2;
    std::string FDetailText;
    double FStatusTime = 0;
};
