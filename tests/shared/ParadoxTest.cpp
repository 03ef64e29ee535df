#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ClientList.h"
#include "MonCommon2.h"
#include "ParadoxCommon.h"
#include "SysObjectTestUtil.h"

namespace {

using Obj = TCustomSysObject;

// One object of a test site: P panel, A partition, Z zone.
struct TSiteObject {
    char kind;
    int32_t id;
    int32_t panelId = 0;
    int32_t partitionId = 0;
};

// Record sources are clones: writable, and outside the registries, so they link to nothing.
std::unique_ptr<Obj> Source(const TSiteObject& o) {
    if (o.kind == 'P') {
        auto p = Obj::CreateClone<TParadoxPanel>(nullptr);
        p->SetId(o.id);
        p->SetName("Paneeli " + std::to_string(o.id));
        p->SetConnection(4, "online");
        return p;
    }
    if (o.kind == 'A') {
        auto a = Obj::CreateClone<TParadoxPartition>(nullptr);
        a->SetId(o.id);
        a->SetPanelId(o.panelId);
        a->SetPartitionNumber(1 + o.id % 8);
        return a;
    }
    auto z = Obj::CreateClone<TParadoxZone>(nullptr);
    z->SetId(o.id);
    z->SetPanelId(o.panelId);
    z->SetPartitionId(o.partitionId);
    z->SetZoneNumber(static_cast<int16_t>(1 + o.id % 192));
    return z;
}

std::string SiteList(const std::vector<TSiteObject>& objects) {
    TBufferProtocol list(32);
    WriteClientListHeader(list, 1);
    for (const TSiteObject& o : objects)
        WriteClientListEntry(list, *Source(o));
    return BytesOf(list);
}

void ReadSite(TSysObjectList& into, const std::string& list) {
    ReadClientList(*Holding(list), CreateModelObject,
                   [&](std::unique_ptr<Obj> o) { into.Add(std::move(o)); });
}

std::string IdOf(const Obj* o) {
    return o ? std::to_string(o->Id()) : "-";
}

template <class T>
std::string SortedIds(const TPanelMemberList<T>& list) {
    auto lock = list.Lock();
    std::vector<int32_t> ids;
    for (int i = 0; i < list.Count(); ++i)
        ids.push_back(list.Items(i)->Id());
    std::sort(ids.begin(), ids.end());
    std::string text;
    for (int32_t id : ids)
        text += (text.empty() ? "" : ",") + std::to_string(id);
    return text;
}

// Every link of every object, panels first, each kind in id order: "P1[A 10,11 Z 100]" for a
// panel's lists,
// "A10>1" for a partition's panel, "Z100>1/10" for a zone's panel and partition.
std::string Links(const TSysObjectList& objects) {
    std::vector<std::pair<int32_t, std::string>> items;
    for (int i = 0; i < objects.Count(); ++i) {
        Obj* o = objects.Items(i);
        std::string item;
        if (auto* p = dynamic_cast<TParadoxPanel*>(o))
            item = "P" + IdOf(p) + "[A " + SortedIds(p->Partitions()) + " Z " +
                   SortedIds(p->Zones()) + "]";
        else if (auto* a = dynamic_cast<TParadoxPartition*>(o))
            item = "A" + IdOf(a) + ">" + IdOf(a->Panel());
        else if (auto* z = dynamic_cast<TParadoxZone*>(o))
            item = "Z" + IdOf(z) + ">" + IdOf(z->Panel()) + "/" + IdOf(z->Partition());
        items.emplace_back(o->Id() + (item[0] == 'P'   ? 0
                                      : item[0] == 'A' ? 1000000
                                                       : 2000000),
                           item);
    }
    std::sort(items.begin(), items.end());
    std::string text;
    for (auto& [key, item] : items)
        text += (text.empty() ? "" : " ") + item;
    return text;
}

const TSiteObject P1{'P', 1}, P2{'P', 2}, A10{'A', 10, 1}, A11{'A', 11, 1}, Z100{'Z', 100, 1, 10},
    Z101{'Z', 101, 1, 11}, Z102{'Z', 102, 1, 10};

// Logs the ids of the objects that announce their destruction, in order.
struct TDestroyLog {
    std::string text;
    static void Handler(void* context, Obj& o, uint8_t code) {
        if (code == SysDestroying) {
            auto& text = static_cast<TDestroyLog*>(context)->text;
            text += (text.empty() ? "" : " ") + std::to_string(o.Id());
        }
    }
    void Watch(const TSysObjectList& objects) {
        for (int i = 0; i < objects.Count(); ++i)
            objects.Items(i)->AddChangeHandler(&Handler, this);
    }
};

// A PGM output or door: the panel's rules cover them though this system has no class for one.
class TTestDevice : public TParadoxDevice {
public:
    explicit TTestDevice(const TSysObjectCreation& how)
        : TParadoxDevice(how) {
        PgmRegistry().Add(this);
    }
    void WriteData(TBufferProtocol&) override {}
    void ReadData(TBufferProtocol&, int32_t) override {}
    const char* ClassTypeName() const override { return "Pgm"; }
    void SetPanel(int32_t id) { SetDevicePanelId(id); }
};

// What the main window's registry class does: read-only, open for its first load.
class TRegistryPanel : public TParadoxPanel {
public:
    explicit TRegistryPanel(const TSysObjectCreation& how)
        : TParadoxPanel(how.WithReadOnly().WithLoading()) {}
    void SetConnection(int32_t state, const std::string& text) override {
        ++ConnectionCalls;
        TParadoxPanel::SetConnection(state, text);
    }
    int ConnectionCalls = 0;
};

} // namespace

TEST(ParadoxModel, ArrivalOrderDoesNotChangeTheLinks) {
    const std::string expected = "P1[A 10,11 Z 100,101,102] A10>1 A11>1 Z100>1/10 Z101>1/11 "
                                 "Z102>1/10";
    struct Case {
        const char* name;
        std::vector<TSiteObject> order;
    } cases[] = {
        {"panel first", {P1, A10, A11, Z100, Z101, Z102}},
        {"panel last", {Z100, Z101, Z102, A10, A11, P1}},
        {"zones before their partitions", {P1, Z100, A10, Z101, Z102, A11}},
        {"panel between its members", {Z102, A11, P1, Z101, A10, Z100}},
    };
    for (const Case& c : cases) {
        TSysObjectList site;
        ReadSite(site, SiteList(c.order));
        EXPECT_EQ(Links(site), expected) << c.name;
    }
    EXPECT_EQ(ZoneRegistry().Count(), 0) << "nothing is left in a registry";
    EXPECT_EQ(PanelRegistry().Count(), 0);
}

TEST(ParadoxModel, ResettingIdsKeepsEveryPanelToItsOwnMembers) {
    struct Case {
        const char* name;
        std::function<void(TSysObjectList&)> change;
        std::string links;
    } cases[] = {
        {"zone moves to another panel",
         [](TSysObjectList& s) { static_cast<TParadoxZone*>(s.FindById(101))->SetPanelId(2); },
         "P1[A 10,11 Z 100,102] P2[A  Z 101] A10>1 A11>1 Z100>1/10 Z101>2/11 Z102>1/10"},
        {"partition moves to another panel",
         [](TSysObjectList& s) { static_cast<TParadoxPartition*>(s.FindById(11))->SetPanelId(2); },
         "P1[A 10 Z 100,101,102] P2[A 11 Z ] A10>1 A11>2 Z100>1/10 Z101>1/11 Z102>1/10"},
        {"zone names a panel that does not exist",
         [](TSysObjectList& s) { static_cast<TParadoxZone*>(s.FindById(100))->SetPanelId(9); },
         "P1[A 10,11 Z 101,102] P2[A  Z ] A10>1 A11>1 Z100>-/10 Z101>1/11 Z102>1/10"},
        {"panel takes another id", [](TSysObjectList& s) { s.FindById(1)->SetId(3); },
         "P2[A  Z ] P3[A  Z ] A10>- A11>- Z100>-/10 Z101>-/11 Z102>-/10"},
        {"panel takes the id of another panel", [](TSysObjectList& s) { s.FindById(2)->SetId(1); },
         "P1[A  Z ] P1[A 10,11 Z 100,101,102] A10>1 A11>1 Z100>1/10 Z101>1/11 Z102>1/10"},
        {"partition takes another id", [](TSysObjectList& s) { s.FindById(10)->SetId(11); },
         "P1[A 11,11 Z 100,101,102] P2[A  Z ] A11>1 A11>1 Z100>1/- Z101>1/11 Z102>1/-"},
    };
    for (const Case& c : cases) {
        TSysObjectList site;
        for (const TSiteObject& o : {P1, P2, A10, A11, Z100, Z101, Z102}) {
            // Writable objects in the registries, loaded from their records.
            std::unique_ptr<Obj> object;
            if (o.kind == 'P')
                object = Obj::Create<TParadoxPanel>();
            else if (o.kind == 'A')
                object = Obj::Create<TParadoxPartition>();
            else
                object = Obj::Create<TParadoxZone>();
            object->SetId(o.id);
            Load(*object, RecordOf(*Source(o)));
            site.Add(std::move(object));
        }
        c.change(site);
        EXPECT_EQ(Links(site), c.links) << c.name;
    }
}

TEST(ParadoxModel, DestroyingCascadesAndLeavesNothingBehind) {
    const TSiteObject Z200{'Z', 200, 2, 10}; // another panel's zone naming partition 10
    TSysObjectList site;
    ReadSite(site, SiteList({P1, P2, A10, A11, Z100, Z101, Z102, Z200}));
    TDestroyLog log;
    log.Watch(site);

    delete site.FindById(10);
    EXPECT_EQ(log.text, "102 100 10") << "the zones of its panel naming it, then itself";
    EXPECT_EQ(Links(site), "P1[A 11 Z 101] P2[A  Z 200] A11>1 Z101>1/11 Z200>2/-")
        << "a zone elsewhere that named it lets go of it";

    log.text.clear();
    delete site.FindById(1);
    EXPECT_EQ(log.text, "101 11 1") << "a panel frees every member (the partition its zone)";
    EXPECT_EQ(Links(site), "P2[A  Z 200] Z200>2/-");
    EXPECT_EQ(ZoneRegistry().Count(), 1);
    EXPECT_EQ(PartitionRegistry().Count(), 0);

    site.Clear();
    EXPECT_EQ(ZoneRegistry().Count() + PartitionRegistry().Count() + PanelRegistry().Count(), 0);
}

TEST(ParadoxModel, MemberLimitsAndForeignMembersAreBugChecks) {
    TSysObjectList site;
    auto* panel = static_cast<TParadoxPanel*>(site.Add(Obj::Create<TParadoxPanel>()));
    panel->SetId(1);
    auto add = [&](auto created, int32_t id, int32_t panelId) {
        auto* o = created.get();
        site.Add(std::move(created));
        o->SetId(id);
        return ErrorOf([&] { o->SetPanelId(panelId); });
    };
    for (int i = 0; i < MaxPanelPartitions; ++i)
        ASSERT_EQ(add(Obj::Create<TParadoxPartition>(), 10 + i, 1), "");
    EXPECT_EQ(add(Obj::Create<TParadoxPartition>(), 20, 1),
              "BUGCHECK: Attempt to add > 8 partitions to a panel!");
    auto* ninth = static_cast<TParadoxPartition*>(site.FindById(20));
    EXPECT_EQ(ninth->Panel(), nullptr) << "a partition the panel refused does not refer to it";
    EXPECT_EQ(panel->Partitions().Count(), 8);

    for (int i = 0; i < MaxPanelZones; ++i)
        ASSERT_EQ(add(Obj::Create<TParadoxZone>(), 1000 + i, 1), "");
    EXPECT_EQ(add(Obj::Create<TParadoxZone>(), 2000, 1),
              "BUGCHECK: Attempt to add > 192 zones to a panel!");
    EXPECT_EQ(static_cast<TParadoxZone*>(site.FindById(2000))->Panel(), nullptr);

    auto* stranger = static_cast<TParadoxZone*>(site.Add(Obj::Create<TParadoxZone>()));
    stranger->SetPanelId(5);
    EXPECT_EQ(ErrorOf([&] { panel->AddZone(stranger); }),
              "BUGCHECK: Attempt to add other panel zone!");
    auto* foreignPartition =
        static_cast<TParadoxPartition*>(site.Add(Obj::Create<TParadoxPartition>()));
    EXPECT_EQ(ErrorOf([&] { panel->AddPartition(foreignPartition); }),
              "BUGCHECK: Attempt to add other panel partition!");

    struct Device {
        const char* name;
        std::function<void(TParadoxDevice*)> add;
        const TPanelMemberList<TParadoxDevice>& list;
        std::string tooMany, other;
    } devices[] = {
        {"PGM", [&](TParadoxDevice* d) { panel->AddPgm(d); }, panel->Pgms(),
         "BUGCHECK: Attempt to add > 32 PGM-s to a panel!",
         "BUGCHECK: Attempt to add other panel PGM!"},
        {"door", [&](TParadoxDevice* d) { panel->AddDoor(d); }, panel->Doors(),
         "BUGCHECK: Attempt to add > 32 doors to a panel!",
         "BUGCHECK: Attempt to add other panel door!"},
    };
    for (const Device& d : devices) {
        std::vector<TTestDevice*> made;
        for (int i = 0; i <= 33; ++i) {
            auto* device = static_cast<TTestDevice*>(site.Add(Obj::Create<TTestDevice>()));
            device->SetPanel(i == 33 ? 2 : 1);
            made.push_back(device);
        }
        for (int i = 0; i < 32; ++i)
            ASSERT_EQ(ErrorOf([&] { d.add(made[static_cast<size_t>(i)]); }), "") << d.name;
        EXPECT_EQ(ErrorOf([&] { d.add(made[32]); }), d.tooMany) << d.name;
        EXPECT_EQ(ErrorOf([&] { d.add(made[33]); }), d.other) << d.name;
        EXPECT_EQ(d.list.Count(), 32) << d.name;
    }
    site.Clear();
    EXPECT_EQ(PgmRegistry().Count(), 0);
}

TEST(ParadoxModel, PanelSettersNormaliseTheirValues) {
    struct Case {
        const char* name;
        std::function<void(TParadoxPanel&)> set;
        std::function<int(const TParadoxPanel&)> get;
        int stored;
    } cases[] = {
        {"PanelWord1 5000", [](auto& p) { p.SetPanelWord1(5000); },
         [](auto& p) { return p.PanelWord1(); }, 5},
        {"PanelWord1 1000", [](auto& p) { p.SetPanelWord1(1000); },
         [](auto& p) { return p.PanelWord1(); }, 1000},
        {"PanelWord2 7200", [](auto& p) { p.SetPanelWord2(7200); },
         [](auto& p) { return p.PanelWord2(); }, 3600},
        {"PanelWord2 3600", [](auto& p) { p.SetPanelWord2(3600); },
         [](auto& p) { return p.PanelWord2(); }, 3600},
        {"PanelByte 0", [](auto& p) { p.SetPanelByte(0); }, [](auto& p) { return p.PanelByte(); },
         3},
        {"PanelByte 50", [](auto& p) { p.SetPanelByte(50); }, [](auto& p) { return p.PanelByte(); },
         10},
        {"PanelByte 7", [](auto& p) { p.SetPanelByte(7); }, [](auto& p) { return p.PanelByte(); },
         7},
    };
    for (const Case& c : cases) {
        auto panel = Obj::CreateClone<TParadoxPanel>(nullptr);
        c.set(*panel);
        EXPECT_EQ(c.get(*panel), c.stored) << c.name;
    }
    auto panel = Obj::CreateClone<TParadoxPanel>(nullptr);
    EXPECT_FALSE(panel->OptionA());
    EXPECT_EQ(panel->Category(), 4);
    EXPECT_EQ(panel->Caption(), "Paneeli");
    EXPECT_EQ(panel->StateValue1(), 100);
    EXPECT_TRUE(panel->ZoneStatusEnabled());
}

TEST(ParadoxModel, NumbersOutOfRangeFailTheLoadWithTheirTexts) {
    // The setters refuse these numbers, so the records are patched instead.
    auto zoneRecord = [](int16_t number) {
        std::string record = RecordOf(*Obj::CreateClone<TParadoxZone>(nullptr));
        // The data section follows the caption: length, PanelId, PartitionId, the number.
        size_t at = record.rfind(std::string("\x08\0\0\0Silmukka", 12)) + 12 + 4 + 8;
        std::memcpy(&record[at], &number, 2);
        return record;
    };
    auto partitionRecord = [](int32_t number) {
        std::string record = RecordOf(*Obj::CreateClone<TParadoxPartition>(nullptr));
        size_t at = record.rfind(std::string("\x04\0\0\0Alue", 8)) + 8 + 4 + 4;
        std::memcpy(&record[at], &number, 4);
        return record;
    };
    auto zone = [] { return std::unique_ptr<Obj>(Obj::CreateReceived<TParadoxZone>()); };
    auto partition = [] { return std::unique_ptr<Obj>(Obj::CreateReceived<TParadoxPartition>()); };
    struct Row {
        const char* name;
        std::string record;
        std::function<std::unique_ptr<Obj>()> make;
        std::string error;
    } rows[] = {
        {"zone 193", zoneRecord(193), zone, "Yritys asettaa silmukkahakemisto > 192"},
        {"zone 0", zoneRecord(0), zone, "Yritys asettaa silmukkahakemisto < 1"},
        {"zone 1", zoneRecord(1), zone, ""},
        {"zone 192", zoneRecord(192), zone, ""},
        {"partition 9", partitionRecord(9), partition, "Yritys asettaa aluehakemisto > 8"},
        {"partition 0", partitionRecord(0), partition, "Yritys asettaa aluehakemisto < 1"},
        {"partition 8", partitionRecord(8), partition, ""},
    };
    for (const Row& r : rows) {
        std::unique_ptr<Obj> object = r.make();
        EXPECT_EQ(ErrorOf([&] { Load(*object, r.record); }), r.error) << r.name;
    }

    auto loaded = Obj::CreateReceived<TParadoxZone>();
    Load(*loaded, zoneRecord(12));
    TNotifyRecorder recorder(*loaded);
    EXPECT_EQ(ErrorOf([&] { Load(*loaded, zoneRecord(193)); }),
              "Yritys asettaa silmukkahakemisto > 192");
    EXPECT_EQ(loaded->ZoneNumber(), 12) << "rolled back";
    EXPECT_EQ(recorder.Take(), "c0 c1") << "the refused value had announced its change";
}

namespace {

// The notifications of reloading a received object of class T with a record edited by edit.
template <class T>
std::string ReloadNotifications(const std::function<void(T&)>& edit) {
    auto source = Obj::CreateClone<T>(nullptr);
    source->SetName("Kohde");
    std::string base = RecordOf(*source);
    edit(*source);
    std::string edited = RecordOf(*source);
    auto object = Obj::CreateReceived<T>();
    Load(*object, base);
    TNotifyRecorder recorder(*object);
    Load(*object, edited);
    return recorder.Take();
}

} // namespace

TEST(ParadoxModel, ReloadNotificationsOfEachClass) {
    struct Case {
        const char* name;
        std::function<std::string()> reload;
        std::string notifications;
    } cases[] = {
        {"zone unchanged", [] { return ReloadNotifications<TParadoxZone>([](auto&) {}); }, ""},
        {"zone name and state together",
         [] {
             return ReloadNotifications<TParadoxZone>([](auto& z) {
                 z.SetName("Ovi");
                 z.SetZoneState(zsOpen | zsAlarm);
             });
         },
         "c0 c1"},
        {"zone state only",
         [] {
             return ReloadNotifications<TParadoxZone>([](auto& z) { z.SetZoneState(zsBypassed); });
         },
         "s1"},
        {"partition unchanged still announces its state",
         [] { return ReloadNotifications<TParadoxPartition>([](auto&) {}); }, "s1"},
        {"partition arming",
         [] {
             return ReloadNotifications<TParadoxPartition>(
                 [](auto& a) { a.SetArmStatus(asArmed); });
         },
         "s1"},
        {"partition configuration suppresses the state notification",
         [] {
             return ReloadNotifications<TParadoxPartition>(
                 [](auto& a) { a.SetPartitionOption(true); });
         },
         "c0 c1"},
        {"panel unchanged", [] { return ReloadNotifications<TParadoxPanel>([](auto&) {}); }, ""},
        {"panel connection and values",
         [] {
             return ReloadNotifications<TParadoxPanel>([](auto& p) {
                 p.SetConnection(2, "ei yhteyttä");
                 p.SetStateValues(7, 8);
                 p.SetStateByte3(1);
             });
         },
         "s1"},
        {"light client unchanged", [] { return ReloadNotifications<TLightClient>([](auto&) {}); },
         ""},
        {"light client flags and detail together",
         [] {
             return ReloadNotifications<TLightClient>([](auto& l) {
                 l.SetStatusFlags(lcfConnected | lcfAlarm);
                 l.SetDetailText("Ovi auki");
             });
         },
         "s1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.reload(), c.notifications) << c.name;
}

TEST(ParadoxModel, RecordsRoundTripThroughFreshObjects) {
    auto zone = Obj::CreateClone<TParadoxZone>(nullptr);
    zone->SetPanelId(3);
    zone->SetPartitionId(30);
    zone->SetZoneNumber(192);
    zone->SetZoneValue(-5);
    zone->SetZoneOption(true);
    zone->SetBypassUntil(TVariant::Date(45123.75));
    zone->SetBypassReason("Huolto");
    zone->SetZoneState(zsBypassed | zsOpen);
    auto partition = Obj::CreateClone<TParadoxPartition>(nullptr);
    partition->SetPanelId(3);
    partition->SetPartitionNumber(8);
    partition->SetPartitionData(TVariant(int32_t(77)));
    partition->SetPartitionOption(true);
    partition->SetArmStatus(asArmed | 0x20);
    partition->SetReadyStatus(rdExitDelay);
    auto panel = Obj::CreateClone<TParadoxPanel>(nullptr);
    panel->SetPanelValue(9);
    panel->SetPanelText1("a");
    panel->SetPanelText2("b");
    panel->SetPanelText3("4321");
    panel->SetPanelText4("d");
    panel->SetPanelText5("e");
    panel->SetPanelText6("f");
    panel->SetPanelText7("g");
    panel->SetPanelByte(6);
    panel->SetPanelWord1(999);
    panel->SetPanelWord2(3000);
    panel->SetPanelFlag1(true);
    panel->SetZoneStatusEnabled(false);
    panel->SetPanelFlag3(true);
    panel->SetPanelFlag5(true);
    panel->SetConnection(4, "yhteys");
    panel->SetStateValues(-2, 55);
    panel->SetStateValue3(3);
    panel->SetStateByte1(1);
    panel->SetStateLong(0xFFFFFFF0u);
    panel->SetStateByte2(2);
    panel->SetStateByte3(3);
    auto light = Obj::CreateClone<TLightClient>(nullptr);
    light->SetLightValue(12);
    light->SetOption1(false);
    light->SetOption3(false);
    light->SetOption6(false);
    light->SetLightData(TVariant("data"));
    light->SetStatusFlags(lcfConnected | lcfTriggered);
    light->SetStatusText1("t1");
    light->SetStatusText2("t2");
    light->SetDetailText("detail");
    light->SetStatusTime(45000.5);

    struct Case {
        const char* name;
        Obj* source;
        std::function<std::unique_ptr<Obj>()> fresh;
    } cases[] = {
        {"zone", zone.get(), [] { return std::unique_ptr<Obj>(Obj::Create<TParadoxZone>()); }},
        {"partition", partition.get(),
         [] { return std::unique_ptr<Obj>(Obj::Create<TParadoxPartition>()); }},
        {"panel", panel.get(), [] { return std::unique_ptr<Obj>(Obj::Create<TParadoxPanel>()); }},
        {"light client", light.get(),
         [] { return std::unique_ptr<Obj>(Obj::Create<TLightClient>()); }},
    };
    for (const Case& c : cases) {
        c.source->SetData(TVariant("carried"));
        std::unique_ptr<Obj> copy = c.fresh();
        Load(*copy, RecordOf(*c.source));
        EXPECT_EQ(RecordOf(*copy), RecordOf(*c.source)) << c.name;
    }

    // The panel's data section is not in field order; spot-check that each value landed.
    auto readPanel = Obj::Create<TParadoxPanel>();
    Load(*readPanel, RecordOf(*panel));
    EXPECT_EQ(readPanel->PanelText2(), "b");
    EXPECT_EQ(readPanel->PanelText3(), "4321");
    EXPECT_EQ(readPanel->PanelByte(), 6);
    EXPECT_TRUE(readPanel->PanelFlag1());
    EXPECT_FALSE(readPanel->PanelFlag2());
    EXPECT_FALSE(readPanel->ZoneStatusEnabled());
    EXPECT_EQ(readPanel->StateValue1(), 55);
    EXPECT_EQ(readPanel->StateValue2(), -2);
    EXPECT_EQ(readPanel->StateLong(), 0xFFFFFFF0u);

    auto readLight = Obj::Create<TLightClient>();
    Load(*readLight, RecordOf(*light));
    EXPECT_EQ(std::vector<bool>({readLight->Option1(), readLight->Option2(), readLight->Option3(),
                                 readLight->Option4(), readLight->Option5(), readLight->Option6()}),
              std::vector<bool>({false, true, false, true, true, false}));
    EXPECT_EQ(readLight->Category(), 8);
    EXPECT_EQ(readLight->TypeName(), "LightClient");
}

TEST(ParadoxModel, LightClientStateReset) {
    auto light = Obj::CreateClone<TLightClient>(nullptr);
    light->SetStatusFlags(lcfConnected);
    light->SetStatusText1("x");
    light->SetStatusTime(45000.0);
    light->ResetState();
    EXPECT_EQ(light->StatusFlags(), 1) << "shown as not connected";
    EXPECT_EQ(light->StatusText1(), "");
    EXPECT_EQ(light->StatusTime(), 45000.0) << "the time is kept";

    // A record with an empty state section resets a connected light client.
    class TStateless : public TLightClient {
    public:
        using TLightClient::TLightClient;
        void WriteState(TBufferProtocol&) override {}
    };
    auto received = Obj::CreateReceived<TLightClient>();
    auto connected = Obj::CreateClone<TLightClient>(nullptr);
    connected->SetStatusFlags(lcfConnected);
    Load(*received, RecordOf(*connected));
    EXPECT_EQ(received->StatusFlags(), lcfConnected);
    TNotifyRecorder recorder(*received);
    Load(*received, RecordOf(*Obj::CreateClone<TStateless>(nullptr)));
    EXPECT_EQ(received->StatusFlags(), 1);
    EXPECT_EQ(recorder.Take(), "s1");
}

TEST(ParadoxModel, RegistryClassesAreReadOnlyButOpenForTheirFirstLoad) {
    TSysObjectList site;
    auto* panel = static_cast<TRegistryPanel*>(site.Add(Obj::CreateReadOnly<TRegistryPanel>()));
    EXPECT_EQ(panel->ConnectionCalls, 1) << "the reset state goes through the override";
    EXPECT_TRUE(panel->ReadOnly());
    panel->SetId(1);
    Load(*panel, RecordOf(*Source(P1)));
    EXPECT_EQ(panel->ConnectionState(), 4);
    EXPECT_EQ(ErrorOf([&] { panel->SetName("x"); }),
              "BUGCHECK: Object is readonly! Use clone for update!");
}
