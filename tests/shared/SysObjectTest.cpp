#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "MonCommon.h"
#include "SysObjectTestUtil.h"

namespace {

using Obj = TCustomSysObject;

// A service as the server would send it, with every field away from its default.
std::unique_ptr<TSysService> SampleService() {
    auto s = Obj::Create<TSysService>();
    s->SetId(41);
    s->SetName("Hälytyskeskus");
    s->SetCategory(3);
    s->SetOptionA(false);
    s->SetOptionB(true);
    s->SetData(TVariant("carried"));
    s->SetParamA(7);
    s->SetParamB(8);
    s->SetParamC(9);
    s->SetValue1(1000);
    s->SetValue2(65535);
    s->SetTime1(45000.25);
    s->SetTime2(45001.5);
    s->SetInfo("info");
    s->SetOnline(true);
    s->SetStatusCode(2);
    s->SetStatusText("yhdistetty");
    s->SetStatusDetail("detail");
    return s;
}

// A received service loaded once from the sample, so later loads run with a snapshot.
std::unique_ptr<TSysService> LoadedService() {
    auto s = Obj::CreateReceived<TSysService>();
    Load(*s, RecordOf(*SampleService()));
    return s;
}

// The sample's record after edit has been applied to a writable copy.
std::string EditedRecord(const std::function<void(TSysService&)>& edit) {
    auto sample = SampleService();
    auto copy = Obj::CreateClone<TSysService>(sample.get());
    edit(*copy);
    return RecordOf(*copy);
}

// Record variants that a real server does not send, made by classes that write differently.
class TLongDataService : public TSysService {
public:
    using TSysService::TSysService;
    void WriteData(TBufferProtocol& p) override {
        TSysService::WriteData(p);
        p.WriteInteger(0x7E7E7E7E); // a field a newer sender appended
    }
};

class TStatelessService : public TSysService {
public:
    using TSysService::TSysService;
    void WriteState(TBufferProtocol&) override {}
};

class TOtherCaptionService : public TSysService {
public:
    explicit TOtherCaptionService(const TSysObjectCreation& how)
        : TSysService(how) {
        SetCaption("Other caption");
    }
};

class TParamsService : public TSysService {
public:
    using TSysService::TSysService;
    void BuildParams() override { ParamsBuffer().WriteBuf(3, "abc"); }
    void ParamsChanged() override { ++ParamsChangedCalls; }
    int ParamsChangedCalls = 0;
};

const std::string ReadBeyond = "Attempt to read beyond end of buffer!";
const std::string ReadOnlyError = "BUGCHECK: Object is readonly! Use clone for update!";

} // namespace

TEST(SysObject, ReloadNotifiesOncePerListAccordingToWhatChanged) {
    struct Case {
        const char* name;
        std::function<void(TSysService&)> edit;
        std::string notifications;
    } cases[] = {
        {"unchanged record", [](TSysService&) {}, ""},
        {"several configuration fields",
         [](TSysService& s) {
             s.SetName("Toinen");
             s.SetValue1(3);
             s.SetParamA(1);
         },
         "c0 c1"},
        {"only state fields",
         [](TSysService& s) {
             s.SetStatusCode(9);
             s.SetStatusText("vika");
             s.SetStatusDetail("");
         },
         "s1"},
        {"configuration and state together",
         [](TSysService& s) {
             s.SetName("Toinen");
             s.SetStatusCode(9);
         },
         "c0 c1"},
        {"data-section field that notifies as state", [](TSysService& s) { s.SetInfo("uusi"); },
         "s1"},
        {"going offline", [](TSysService& s) { s.SetOnline(false); }, "s1"},
    };
    for (const Case& c : cases) {
        auto service = LoadedService();
        TNotifyRecorder recorder(*service);
        Load(*service, EditedRecord(c.edit));
        EXPECT_EQ(recorder.Take(), c.notifications) << c.name;
        EXPECT_EQ(RecordOf(*service), EditedRecord(c.edit)) << c.name;
    }
}

TEST(SysObject, FirstLoadNotifiesOnceAndTheSameRecordAgainNotNoMore) {
    auto service = Obj::CreateReceived<TSysService>();
    TNotifyRecorder recorder(*service);
    std::string record = RecordOf(*SampleService());
    Load(*service, record);
    EXPECT_EQ(recorder.Take(), "c0 c1");
    EXPECT_TRUE(service->Loaded());
    EXPECT_TRUE(service->DataReceived());
    EXPECT_EQ(service->RecordSize(), static_cast<int32_t>(record.size()) - 8);
    Load(*service, record);
    EXPECT_EQ(recorder.Take(), "");
}

TEST(SysObject, ReadOnlyObjectsChangeOnlyThroughLoadsAndClones) {
    auto service = Obj::CreateReceived<TSysService>();
    service->SetId(41); // still open: the list sets the id before the first load
    Load(*service, RecordOf(*SampleService()));
    EXPECT_FALSE(service->Loading());

    TNotifyRecorder recorder(*service);
    EXPECT_EQ(ErrorOf([&] { service->SetName("Muu"); }), ReadOnlyError);
    EXPECT_EQ(ErrorOf([&] { service->SetValue1(1); }), ReadOnlyError);
    EXPECT_EQ(service->Name(), "Hälytyskeskus");
    EXPECT_EQ(service->Value1(), 1000);
    EXPECT_EQ(recorder.Take(), "") << "a refused change announces nothing";

    service->SetStatusText("state fields are not guarded");
    EXPECT_EQ(service->StatusText(), "state fields are not guarded");

    auto clone = Obj::CreateClone<TSysService>(service.get());
    clone->SetName("Muu");
    EXPECT_EQ(clone->Name(), "Muu");

    auto readOnly = Obj::CreateReadOnly<TSysService>();
    EXPECT_TRUE(readOnly->CreatedReadOnly());
    EXPECT_EQ(ErrorOf([&] { readOnly->SetId(1); }), ReadOnlyError);
}

TEST(SysObject, MalformedRecordLeavesALoadedObjectExactlyAsBefore) {
    std::string edited = EditedRecord([](TSysService& s) {
        s.SetName("Toinen");
        s.SetValue2(5);
        s.SetStatusText("vika");
    });
    struct Case {
        std::string name, record, error;
    };
    std::vector<Case> cases;
    for (size_t cut = 0; cut < edited.size(); ++cut)
        cases.push_back(
            {"cut after " + std::to_string(cut) + " bytes", edited.substr(0, cut), ReadBeyond});
    // Id (4), length (4), Name and TypeName (4 + n each), Category, OptionA, OptionB: the
    // variant's tag follows.
    std::string badTag = edited;
    size_t tagAt = 8 + 4 + std::string("Toinen").size() + 4 + 7 + 3;
    badTag[tagAt] = 14;
    badTag[tagAt + 1] = 0;
    cases.push_back(
        {"unsupported variant tag", badTag, "ReadVariant: Unsupported variant type: 14"});

    for (const Case& c : cases) {
        auto service = LoadedService();
        std::string before = RecordOf(*service);
        TNotifyRecorder recorder(*service);
        EXPECT_EQ(ErrorOf([&] { Load(*service, c.record); }), c.error) << c.name;
        EXPECT_EQ(RecordOf(*service), before) << c.name;
        std::string log = recorder.Take();
        EXPECT_TRUE(log.empty() || log == "c0 c1") << c.name << ": " << log;
        EXPECT_EQ(service->UpdateCount(), 0) << c.name;
        EXPECT_EQ(service->StateUpdateCount(), 0) << c.name;
        EXPECT_FALSE(service->Restoring()) << c.name;
        EXPECT_EQ(ErrorOf([&] { service->SetName("x"); }), ReadOnlyError) << c.name;
    }
}

TEST(SysObject, FailedFirstLoadClosesItsBracketSoTheObjectIsReadOnlyAgain) {
    auto service = Obj::CreateReceived<TSysService>();
    std::string record = RecordOf(*SampleService());
    EXPECT_EQ(ErrorOf([&] { Load(*service, record.substr(0, record.size() - 3)); }), ReadBeyond);
    EXPECT_FALSE(service->Loaded());
    EXPECT_EQ(service->UpdateCount(), 0);
    EXPECT_FALSE(service->Loading());
    EXPECT_EQ(ErrorOf([&] { service->SetName("x"); }), ReadOnlyError);
}

TEST(SysObject, HostileSectionLengthsAreRefusedBeforeTheSectionIsRead) {
    std::string record = RecordOf(*SampleService());
    // The data section length follows the caption, the record's last "Service".
    size_t dataLengthAt = record.rfind(std::string("\x07\0\0\0Service", 11)) + 11;
    for (int32_t length : {-1, -20, 0x7FFFFFFF}) {
        std::string bad = record;
        std::memcpy(&bad[dataLengthAt], &length, 4);
        auto service = Obj::CreateReceived<TSysService>();
        EXPECT_EQ(ErrorOf([&] { Load(*service, bad); }), ReadBeyond) << length;
        EXPECT_EQ(service->Value1(), 0) << length;
    }
}

TEST(SysObject, RoundTripReproducesEveryTransferredField) {
    auto source = SampleService();
    auto copy = Obj::Create<TOtherCaptionService>();
    copy->SetParamC(1);
    Load(*copy, RecordOf(*source));
    EXPECT_EQ(copy->Id(), 41);
    EXPECT_EQ(copy->Name(), "Hälytyskeskus");
    EXPECT_EQ(copy->TypeName(), "Service");
    EXPECT_EQ(copy->Category(), 3);
    EXPECT_FALSE(copy->OptionA());
    EXPECT_TRUE(copy->OptionB());
    EXPECT_EQ(copy->Data(), TVariant("carried"));
    EXPECT_EQ(copy->ParamA(), 7);
    EXPECT_EQ(copy->ParamB(), 8);
    EXPECT_EQ(copy->Value1(), 1000);
    EXPECT_EQ(copy->Value2(), 65535);
    EXPECT_EQ(copy->Time1(), 45000.25);
    EXPECT_EQ(copy->Time2(), 45001.5);
    EXPECT_EQ(copy->Info(), "info");
    EXPECT_TRUE(copy->Online());
    EXPECT_EQ(copy->StatusCode(), 2);
    EXPECT_EQ(copy->StatusText(), "yhdistetty");
    EXPECT_EQ(copy->StatusDetail(), "detail");
    EXPECT_EQ(copy->ParamC(), 1) << "never transferred";
    EXPECT_EQ(copy->Caption(), "Other caption") << "the reader keeps its own caption";

    auto fresh = Obj::Create<TSysService>();
    Load(*fresh, RecordOf(*source));
    EXPECT_EQ(RecordOf(*fresh), RecordOf(*source));
}

TEST(SysObject, SectionsEndWhereTheirLengthsSay) {
    auto longer = Obj::Create<TLongDataService>();
    Load(*longer, RecordOf(*SampleService()));
    auto service = Obj::Create<TSysService>();
    Load(*service, RecordOf(*longer));
    EXPECT_EQ(service->Time2(), 45001.5);
    EXPECT_EQ(service->StatusDetail(), "detail") << "the state section is found after the extra";

    auto stateless = Obj::Create<TStatelessService>();
    Load(*stateless, RecordOf(*SampleService()));
    auto online = LoadedService();
    TNotifyRecorder recorder(*online);
    Load(*online, RecordOf(*stateless));
    EXPECT_FALSE(online->Online()) << "an empty state section resets the state";
    EXPECT_EQ(online->StatusCode(), 1);
    EXPECT_EQ(online->StatusText(), "offline");
    EXPECT_EQ(online->StatusDetail(), "");
    EXPECT_EQ(recorder.Take(), "s1");
}

TEST(SysObject, CopiesGoThroughTheRecord) {
    auto source = SampleService();
    auto target = Obj::Create<TSysService>();
    TNotifyRecorder recorder(*target);
    target->Assign(*source);
    EXPECT_EQ(recorder.Take(), "c0 c1");
    EXPECT_EQ(target->Name(), "Hälytyskeskus");
    EXPECT_EQ(target->ParamC(), 4) << "ParamC is not in the record";

    auto clone = Obj::CreateClone<TSysService>(source.get());
    EXPECT_TRUE(clone->IsClone());
    EXPECT_EQ(RecordOf(*clone), RecordOf(*source));
    TNotifyRecorder cloneRecorder(*clone);
    clone->SetStatusText("muutos");
    clone->SetName("muutos");
    EXPECT_EQ(cloneRecorder.Take(), "c0 c1") << "a clone sends no state notifications";
}

TEST(SysObject, UpdateBracketsNotifyAtTheOutermostEnd) {
    auto service = Obj::Create<TSysService>();
    TNotifyRecorder recorder(*service);
    service->BeginUpdate();
    service->SetName("a");
    service->BeginUpdate();
    service->SetValue1(1);
    EXPECT_EQ(service->EndUpdate(), 2);
    EXPECT_EQ(recorder.Take(), "c0");
    EXPECT_EQ(service->EndUpdate(), 2);
    EXPECT_EQ(recorder.Take(), "c1");

    service->BeginStateUpdate();
    service->SetStatusCode(8);
    service->SetStatusText("x");
    EXPECT_EQ(service->EndStateUpdate(), 2);
    EXPECT_EQ(recorder.Take(), "s1");

    EXPECT_EQ(ErrorOf([&] { service->EndUpdate(); }), "BUGCHECK: EndUpdate without BeginUpdate!");
}

TEST(SysObject, HandlersRunNewestFirstAndRemovalTakesTheLastMatchingPair) {
    struct Log {
        std::string text;
    } log;
    struct Ctx {
        Log* log;
        char name;
        std::function<void()> action;
    };
    TSysObjectHandler handler = [](void* context, Obj&, uint8_t) {
        auto* c = static_cast<Ctx*>(context);
        c->log->text += c->name;
        if (c->action) c->action();
    };
    // The contexts outlive the object, which calls its handlers once more as it is destroyed.
    Ctx a{&log, 'a', nullptr}, b{&log, 'b', nullptr}, c{&log, 'c', nullptr};
    auto service = Obj::Create<TSysService>();
    service->AddChangeHandler(handler, &a);
    service->AddChangeHandler(handler, &b);
    service->AddChangeHandler(handler, &a);
    service->NotifyChange(SysChanged);
    EXPECT_EQ(log.text, "aba");

    log.text.clear();
    service->RemoveChangeHandler(handler, &a);
    service->NotifyChange(SysChanged);
    EXPECT_EQ(log.text, "ba") << "the newest a was removed, the oldest stays";

    // b, called first, removes a, which is then not called; c added meanwhile waits.
    log.text.clear();
    b.action = [&] {
        service->RemoveChangeHandler(handler, &a);
        service->AddChangeHandler(handler, &c);
    };
    service->NotifyChange(SysChanged);
    EXPECT_EQ(log.text, "b");
    EXPECT_EQ(service->ChangeHandlerCount(), 2);
    b.action = nullptr;
}

TEST(SysObject, ServiceStateRules) {
    auto service = Obj::Create<TSysService>();
    EXPECT_FALSE(service->Online());
    EXPECT_EQ(service->StatusCode(), 1);
    EXPECT_EQ(service->StatusText(), "offline");
    EXPECT_TRUE(service->IsOnline()) << "id 0 always counts as online";
    service->SetId(4);
    EXPECT_FALSE(service->IsOnline());

    service->SetOnline(true);
    service->SetStatusCode(5);
    service->SetStatusDetail("d");
    TNotifyRecorder recorder(*service);
    service->SetOnline(false);
    EXPECT_EQ(recorder.Take(), "s1");
    EXPECT_EQ(service->StatusCode(), 1);
    EXPECT_EQ(service->StatusText(), "offline");
    EXPECT_EQ(service->StatusDetail(), "");

    auto local = Obj::CreateLocal<TSysService>();
    EXPECT_TRUE(local->Online());
    EXPECT_EQ(local->StatusCode(), 2);
    EXPECT_EQ(local->StatusText(), "yhdistetty");
    Load(*local, EditedRecord([](TSysService& s) { s.SetOnline(false); }));
    EXPECT_TRUE(local->Online()) << "a local object never reads the state section";
    EXPECT_EQ(local->Name(), "Hälytyskeskus");

    // A local object keeps a snapshot even for its first load.
    auto fresh = Obj::CreateLocal<TSysService>();
    std::string record = RecordOf(*SampleService());
    EXPECT_EQ(ErrorOf([&] { Load(*fresh, record.substr(0, record.size() - 1)); }), ReadBeyond);
    EXPECT_EQ(fresh->Id(), 0);
    EXPECT_EQ(fresh->Name(), "");
    EXPECT_EQ(fresh->Value2(), 0);
    EXPECT_EQ(fresh->Info(), "");
    EXPECT_FALSE(fresh->Loaded());
}

TEST(SysObject, ServiceParameterBlock) {
    auto sender = Obj::Create<TParamsService>();
    std::string record = RecordOf(*sender);
    EXPECT_EQ(sender->Params().GetSize(), 3) << "BuildParams filled the block it wrote";

    auto receiver = Obj::Create<TParamsService>();
    TNotifyRecorder recorder(*receiver);
    Load(*receiver, record);
    EXPECT_EQ(BytesOf(receiver->Params()), "abc");
    EXPECT_EQ(receiver->ParamsChangedCalls, 1);
    EXPECT_EQ(recorder.Take(), "c0 c1");

    auto plain = Obj::Create<TSysService>();
    Load(*plain, record);
    EXPECT_EQ(BytesOf(plain->Params()), "abc");
    RecordOf(*plain);
    EXPECT_EQ(plain->Params().GetSize(), 0)
        << "writing rebuilds the block, empty without a builder";
}
