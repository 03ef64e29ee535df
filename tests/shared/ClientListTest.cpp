#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ClientList.h"
#include "MonCommon.h"
#include "SysObjectTestUtil.h"
#include "SysUtils.h"

namespace {

using Obj = TCustomSysObject;

std::unique_ptr<TSysService> Service(int32_t id, const std::string& name) {
    auto s = Obj::Create<TSysService>();
    s->SetId(id);
    s->SetName(name);
    s->SetOnline(true);
    return s;
}

// Home id 77, a service, a department the client has no class for, another service.
std::string SampleList() {
    auto first = Service(4, "Palvelu");
    auto department = Obj::Create<TDepartment>();
    department->SetId(9);
    department->AddMember(4, false);
    auto second = Service(5, "Toinen");
    TBufferProtocol list(32);
    WriteClientListHeader(list, 77);
    WriteClientListEntry(list, *first);
    WriteClientListEntry(list, *department);
    WriteClientListEntry(list, *second);
    return BytesOf(list);
}

struct TReadResult {
    int32_t home = 0;
    std::vector<std::unique_ptr<Obj>> objects;
    std::string error;
    int destroyed = 0; // objects the reader created and freed itself
};

TReadResult ReadList(const std::string& bytes) {
    TReadResult result;
    auto factory = [&](const std::string& typeName) {
        auto object = CreateModelObject(typeName);
        if (object)
            object->AddChangeHandler(
                [](void* context, Obj&, uint8_t code) {
                    if (code == SysDestroying) ++*static_cast<int*>(context);
                },
                &result.destroyed);
        return object;
    };
    auto list = Holding(bytes);
    result.error = ErrorOf([&] {
        result.home = ReadClientList(*list, factory, [&](std::unique_ptr<Obj> object) {
            result.objects.push_back(std::move(object));
        });
    });
    return result;
}

std::string WithInteger(std::string bytes, size_t at, int32_t value) {
    std::memcpy(&bytes[at], &value, 4);
    return bytes;
}

} // namespace

TEST(ClientList, ReadsKnownTypesAndSkipsOthersByLength) {
    TReadResult r = ReadList(SampleList());
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.home, 77);
    ASSERT_EQ(r.objects.size(), 2u) << "the department between the services is skipped";
    auto* first = dynamic_cast<TSysService*>(r.objects[0].get());
    auto* second = dynamic_cast<TSysService*>(r.objects[1].get());
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->Id(), 4);
    EXPECT_EQ(first->Name(), "Palvelu");
    EXPECT_TRUE(first->Online());
    EXPECT_EQ(second->Name(), "Toinen");
    EXPECT_TRUE(first->Loaded());
    EXPECT_EQ(ErrorOf([&] { first->SetName("x"); }),
              "BUGCHECK: Object is readonly! Use clone for update!")
        << "received objects are read-only once loaded";

    EXPECT_EQ(CreateModelObject("service"), nullptr) << "type names compare exactly";
    EXPECT_EQ(CreateModelObject("Department"), nullptr);
}

TEST(ClientList, HostileEntriesFailCleanlyAtTheirEntry) {
    std::string list = SampleList();
    // Offsets of the entries: home id (4), then id (4), type name (4 + n), length (4), record.
    auto entryLengthAt = [&](int entry) {
        size_t at = 4;
        for (int i = 1;; ++i) {
            int32_t nameLength, recordLength;
            std::memcpy(&nameLength, &list[at + 4], 4);
            size_t lengthAt = at + 8 + static_cast<size_t>(nameLength);
            if (i == entry) return lengthAt;
            std::memcpy(&recordLength, &list[lengthAt], 4);
            at = lengthAt + 4 + static_cast<size_t>(recordLength);
        }
    };
    size_t second = entryLengthAt(2), third = entryLengthAt(3);
    int32_t secondEntryAt = static_cast<int32_t>(second - 4 - 10 - 4);
    int32_t leftAfterSecond = static_cast<int32_t>(list.size() - second - 4);
    struct Case {
        const char* name;
        std::string bytes;
        std::string error;
        size_t objectsBefore;
        int freed;
    } cases[] = {
        {"negative length of a skipped entry would loop", WithInteger(list, second, -20),
         Format("Object list entry 2 at offset %d: record length -20 does not fit the %d bytes "
                "left",
                secondEntryAt, leftAfterSecond),
         1, 0},
        {"length past the end of the list", WithInteger(list, second, 1 << 30),
         Format("Object list entry 2 at offset %d: record length %d does not fit the %d bytes "
                "left",
                secondEntryAt, 1 << 30, leftAfterSecond),
         1, 0},
        {"record shorter than its contents", WithInteger(list, third, 20),
         "Attempt to read beyond end of buffer!", 1, 1},
        {"list cut inside an entry header", list.substr(0, second + 2),
         "Attempt to read beyond end of buffer!", 1, 0},
        {"empty payload", "", "Attempt to read beyond end of buffer!", 0, 0},
    };
    for (const Case& c : cases) {
        TReadResult r = ReadList(c.bytes);
        EXPECT_EQ(r.error, c.error) << c.name;
        EXPECT_EQ(r.objects.size(), c.objectsBefore) << c.name;
        EXPECT_EQ(r.destroyed, c.freed) << c.name << ": the failing object is freed";
    }

    TReadResult onlyHome = ReadList(list.substr(0, 4));
    EXPECT_EQ(onlyHome.error, "");
    EXPECT_EQ(onlyHome.home, 77);
    EXPECT_TRUE(onlyHome.objects.empty());
}

TEST(ClientList, WrittenEntriesReadBack) {
    // A record followed by bytes a newer sender added: the next entry is still found.
    auto service = Service(6, "Kuudes");
    TBufferProtocol record(64);
    service->WriteToProtocol(record);
    record.WriteInteger(-1);
    TBufferProtocol list(32);
    WriteClientListHeader(list, -1);
    WriteClientListEntry(list, 6, "Service", record);
    // Regression: the entry named the record's TypeName field, which a reader need not know.
    auto renamed = Service(7, "Seitsemäs");
    renamed->SetTypeName("Serv@ce");
    WriteClientListEntry(list, *renamed);
    TReadResult r = ReadList(BytesOf(list));
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.home, -1);
    ASSERT_EQ(r.objects.size(), 2u);
    EXPECT_EQ(r.objects[0]->Name(), "Kuudes");
    EXPECT_EQ(r.objects[1]->Name(), "Seitsemäs");
    EXPECT_EQ(r.objects[1]->TypeName(), "Serv@ce");
}
