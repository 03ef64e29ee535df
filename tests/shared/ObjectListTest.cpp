#include <gtest/gtest.h>

#include <string>

#include "MonCommon.h"
#include "SysObjectTestUtil.h"

namespace {

using Obj = TCustomSysObject;

class TSpecialService : public TSysService {
public:
    using TSysService::TSysService;
};

// Logs every event of a list as "<event>:<id>:<code>".
struct TListLog {
    std::string text;
    void Add(const std::string& item) { text += (text.empty() ? "" : " ") + item; }
    void Attach(TSysObjectList& list) {
        list.OnBeforeChange = [this](TSysObjectList&, Obj& o, uint8_t code) {
            Add("before:" + std::to_string(o.Id()) + ":" + std::to_string(code));
        };
        list.OnChange = [this](TSysObjectList&, Obj& o, uint8_t code) {
            Add("change:" + std::to_string(o.Id()) + ":" + std::to_string(code));
        };
        list.OnStateChanging = [this](TSysObjectList&, Obj& o) {
            Add("stating:" + std::to_string(o.Id()));
        };
        list.OnStateChanged = [this](TSysObjectList&, Obj& o) {
            Add("stated:" + std::to_string(o.Id()));
        };
    }
};

template <class T = TSysService>
TCustomSysObject* AddNew(TSysObjectList& list, int32_t id) {
    auto object = Obj::Create<T>();
    object->SetId(id);
    return list.Add(std::move(object));
}

} // namespace

TEST(SysObjectList, KeepsObjectsByIdAndRoutesTheirNotifications) {
    TListLog log; // the events outlive the list, which traces its lock while it is freed
    std::string traced;
    TSysObjectList list;
    list.OnLockTrace = [&](const char* tag) { traced += std::string(tag) + ";"; };
    auto* a = static_cast<TSysService*>(AddNew(list, 10));
    AddNew(list, 20);
    log.Attach(list);

    EXPECT_EQ(list.FindById(20)->Id(), 20);
    EXPECT_EQ(list.FindById(30), nullptr);
    EXPECT_EQ(a->Owner(), &list);

    a->SetName("x");
    a->SetStatusCode(7);
    EXPECT_EQ(log.text, "before:10:0 change:10:1 stating:10 stated:10");

    log.text.clear();
    list.BeginUpdate();
    a->SetName("y");
    list.EndUpdate();
    EXPECT_EQ(log.text, "") << "an updating list hears nothing";

    // Destruction: 5 to the object's handlers and the list, it leaves, 6 to both, then 2.
    log.text.clear();
    std::unique_ptr<TCustomSysObject> taken = list.Remove(a);
    EXPECT_EQ(taken.get(), a);
    EXPECT_EQ(a->Owner(), nullptr);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Remove(a), nullptr);
    EXPECT_NE(traced.find("TSysObjectList.Remove/NotFound;"), std::string::npos);
    EXPECT_NE(traced.find("TSysObjectList.FindById;"), std::string::npos);
    list.Add(std::move(taken));

    TNotifyRecorder recorder(*a);
    delete a;
    EXPECT_EQ(recorder.Take(), "c5 c6 c2");
    EXPECT_EQ(log.text, "before:10:5 change:10:6");
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.FindById(10), nullptr);
}

TEST(SysObjectList, ClassHandlersMatchExactlyOrByInheritanceAsRegistered) {
    struct Case {
        const char* name;
        bool exactServiceHandler;
        std::string expected;
    } cases[] = {
        {"handler for services and descendants", false, "service:1 service:2"},
        {"exact handler for services", true, "service:1 special:2"},
    };
    for (const Case& c : cases) {
        std::string log;
        TSysObjectList list;
        auto handler = [&log](const char* name) {
            return [&log, name](TSysObjectList&, Obj& o, uint8_t code) {
                if (code == SysChanged)
                    log +=
                        (log.empty() ? "" : " ") + std::string(name) + ":" + std::to_string(o.Id());
            };
        };
        list.RegisterClassHandler<TSysService>(handler("service"), !c.exactServiceHandler);
        list.RegisterClassHandler<TSpecialService>(handler("special"));
        AddNew(list, 1)->SetName("a");
        AddNew<TSpecialService>(list, 2)->SetName("b");
        EXPECT_EQ(log, c.expected) << c.name;
        log.clear();
        list.Clear();
        EXPECT_EQ(list.Count(), 0);
        EXPECT_EQ(log, "") << c.name << ": leaving codes are 5 and 6, destruction 2";
    }
}

TEST(SysObjectList, RestoringObjectsAndClonesOfListedObjects) {
    TListLog log;
    TSysObjectList list;
    auto* service = static_cast<TSysService*>(AddNew(list, 3));
    Load(*service, RecordOf(*service));
    log.Attach(list);

    // A failed load: the changes before the failure reach the list, the restore does not.
    auto edited = Obj::CreateClone<TSysService>(service);
    edited->SetName("muu");
    std::string record = RecordOf(*edited);
    EXPECT_EQ(edited->Owner(), &list) << "a clone takes over the owner pointer";
    EXPECT_EQ(list.Count(), 1) << "without joining the list";
    EXPECT_EQ(log.text, "before:3:0 change:3:1") << "so its edits reach the list";
    log.text.clear();
    EXPECT_FALSE(ErrorOf([&] { Load(*service, record.substr(0, record.size() - 2)); }).empty());
    EXPECT_EQ(service->Name(), "");
    EXPECT_EQ(log.text, "before:3:0");

    log.text.clear();
    edited.reset();
    EXPECT_EQ(list.Count(), 1) << "a dying clone leaves the list alone";
    EXPECT_EQ(log.text, "before:3:5 change:3:6");
}
