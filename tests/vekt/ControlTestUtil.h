#pragma once

// Helpers for the control model tests: a box-sized control class, a history that logs what the
// control model asks of it, and a recorder of the panel's notifications.
#include <stdexcept>
#include <string>
#include <vector>

#include "Classes.h"
#include "VektBase.h"

// Stands in for the shapes: a plain control under the class name documents give boxes.
class TTestBox : public TVektControl {
public:
    static constexpr const char* StaticClassName = "TVektBox";
    const char* ClassName() const override { return StaticClassName; }
    void ControlCreate() override {
        TVektControl::ControlCreate();
        if (FailCreate) throw std::runtime_error("create failed");
        SetVisible(true);
    }
    static inline bool FailCreate = false;
};

inline TTestBox* NewBox(TVektPanel& panel, TVektControl* parent, int32_t left, int32_t top,
                        int32_t width, int32_t height) {
    TTestBox* box = TVektControl::New<TTestBox>(&panel, panel.ActiveLayer(), parent);
    box->SetDocRect(
        TRect(left, top, left + width, top + height)
            .Offsetted(parent ? parent->DocRect().Left : 0, parent ? parent->DocRect().Top : 0));
    return box;
}

// Logs every request; accepts actions unless recording is disabled.
class TLogHistory : public IVektHistory {
public:
    std::vector<std::string> Log;

    const THistoryActionClass* PropChangeActionClass() override { return &PropAction; }
    void RecordPropAction(const THistoryActionClass*, TCustomProp& prop) override {
        if (Disabled == 0) Log.push_back("prop " + prop.Name());
    }
    bool IsRestoring() override { return false; }
    bool IsActive() override { return true; }
    bool BeginAction(const THistoryActionClass& cls, TVektControl* source, bool) override {
        if (Disabled > 0) return false;
        Log.push_back(std::string("begin ") + cls.ClassName + " " + NameOf(source));
        ++Open;
        return true;
    }
    bool EndAction() override {
        Log.push_back("end");
        --Open;
        return true;
    }
    void CancelAction() override {
        Log.push_back("cancel");
        --Open;
    }
    bool RecordAction(const THistoryActionClass& cls, TVektControl* source) override {
        if (Disabled > 0) return false;
        Log.push_back(std::string("record ") + cls.ClassName + " " + NameOf(source));
        return true;
    }
    void DisableRecording() override { ++Disabled; }
    bool EnableRecording() override {
        bool wasZero = Disabled == 0;
        if (Disabled > 0) --Disabled;
        return wasZero;
    }
    void Clear() override { Log.push_back("clear"); }
    TVektControl* GetProcessingControl() override { return nullptr; }

    int Open = 0;
    int Disabled = 0;
    THistoryActionClass PropAction{"TPropHistoryAction"};

private:
    static std::string NameOf(TVektControl* c) {
        return c ? "<" + std::string(c->ClassName()) + ">" : "-";
    }
};

inline const char* NotifyName(TVektNotify n) {
    static const char* names[] = {"fnName",       "fnID",         "fnRect",        "fnAnchorPoints",
                                  "fnEditPoints", "fnLinkPoints", "fnOrder",       "fnParent",
                                  "fnLoaded",     "fnLayers",     "fnSchemes",     "fnCreated",
                                  "fnDestroyed",  "fnSelect",     "fnSelectPoint", "fnScale",
                                  "fnPan",        "fnChange"};
    return names[n];
}

// Collects the panel's OnNotify events as "Name:fnCode" ("-" for none).
struct TNotifyLog {
    std::vector<std::string> Events;
    TVektPanel& Panel;
    explicit TNotifyLog(TVektPanel& panel)
        : Panel(panel) {
        panel.OnNotify = [this](TVektPanel&, TVektControl* control, TVektNotify notify) {
            Events.push_back((control ? control->Name() : std::string("-")) + ":" +
                             NotifyName(notify));
        };
    }
    ~TNotifyLog() { Panel.OnNotify = nullptr; }
    TNotifyLog(const TNotifyLog&) = delete;
    TNotifyLog& operator=(const TNotifyLog&) = delete;
    std::string Take() {
        std::string all;
        for (const std::string& e : Events)
            all += (all.empty() ? "" : " ") + e;
        Events.clear();
        return all;
    }
};

// The text form of one control's block.
inline std::string SaveText(TVektControl& control) {
    TMemoryStream stream;
    TVektFiler filer(stream);
    control.SaveToFiler(filer, 0);
    return std::string(static_cast<const char*>(stream.Memory()),
                       static_cast<size_t>(stream.GetSize()));
}

// Loads object blocks given as text into the panel, as a paste does (inside one load).
inline std::vector<TVektControl*> LoadText(TVektPanel& panel, TVektControl* parent,
                                           const std::string& text) {
    TMemoryStream stream;
    stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
    stream.SetPosition(0);
    TVektFiler filer(stream);
    std::vector<TVektControl*> loaded;
    panel.BeginLoading();
    std::string line;
    while (filer.ReadLine(line))
        if (!line.empty() && IsKeywordLine(line, "object"))
            if (TVektControl* c = panel.LoadControl(filer, parent, false, line))
                loaded.push_back(c);
    panel.EndLoading();
    return loaded;
}
