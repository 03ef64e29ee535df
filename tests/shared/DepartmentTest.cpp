#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Classes.h"
#include "MonCommon.h"
#include "SysObjectTestUtil.h"
#include "Utilities.h"

namespace {

using Obj = TCustomSysObject;

std::vector<int32_t> ValuesOf(const TIntegerList& list) {
    return list.Values();
}

TIntegerList SortedList(TDuplicates duplicates, std::initializer_list<int32_t> values) {
    TIntegerList list;
    list.SetSorted(true);
    list.SetDuplicates(duplicates);
    for (int32_t v : values)
        list.Add(v);
    return list;
}

std::unique_ptr<TDepartment> DepartmentWith(std::initializer_list<int32_t> members) {
    auto d = Obj::Create<TDepartment>();
    for (int32_t id : members)
        d->AddMember(id, false);
    return d;
}

// Logs "<code>:<id>" for every member callback.
void LogMember(void* context, TDepartment&, int32_t id, uint8_t code) {
    auto* log = static_cast<std::string*>(context);
    *log += (log->empty() ? "" : " ") + std::to_string(code) + ":" + std::to_string(id);
}

} // namespace

TEST(IntegerList, SortedAddFollowsTheDuplicatesSetting) {
    TIntegerList ignore = SortedList(dupIgnore, {5, 1, 5, 3});
    EXPECT_EQ(ValuesOf(ignore), (std::vector<int32_t>{1, 3, 5}));
    EXPECT_EQ(ignore.Add(3), 1) << "an ignored duplicate returns the existing index";

    TIntegerList accept = SortedList(dupAccept, {5, 1, 5, 3, 5});
    EXPECT_EQ(ValuesOf(accept), (std::vector<int32_t>{1, 3, 5, 5, 5}));
    int index = -1;
    EXPECT_TRUE(accept.Find(5, index));
    EXPECT_EQ(index, 2) << "with duplicates accepted Find gives the first position";
    EXPECT_FALSE(accept.Find(4, index));
    EXPECT_EQ(index, 2) << "an absent value gives where it would go";

    TIntegerList error = SortedList(dupError, {-1, 255});
    EXPECT_EQ(ErrorOf([&] { error.Add(255); }), "List does not allow duplicates ($0ff)");
    EXPECT_EQ(ValuesOf(error), (std::vector<int32_t>{-1, 255}));

    TIntegerList unsorted;
    unsorted.Add(3);
    unsorted.Add(3);
    unsorted.Add(-2);
    EXPECT_EQ(ValuesOf(unsorted), (std::vector<int32_t>{3, 3, -2}));
    unsorted.SetSorted(true);
    EXPECT_EQ(ValuesOf(unsorted), (std::vector<int32_t>{-2, 3, 3})) << "switching on sorts";
}

TEST(IntegerList, SortedOnlyAndUnsortedOnlyOperations) {
    TIntegerList unsorted;
    unsorted.Add(4);
    unsorted.Add(9);
    int index;
    std::string assertion = ErrorOf([&] { unsorted.Find(4, index); });
    EXPECT_EQ(assertion.rfind("Find only works on sorted lists! (Shared/Source/Utilities.cpp", 0),
              0u)
        << assertion;
    EXPECT_EQ(unsorted.IndexOf(9), 1);
    EXPECT_EQ(unsorted.IndexOf(5), -1);
    unsorted.Move(1, 0);
    EXPECT_EQ(ValuesOf(unsorted), (std::vector<int32_t>{9, 4}));
    EXPECT_EQ(unsorted.Remove(4), 1);
    EXPECT_EQ(unsorted.Remove(4), -1);

    TIntegerList sorted = SortedList(dupIgnore, {1, 2});
    EXPECT_EQ(ErrorOf([&] { sorted.Insert(0, 7); }), "Cannot insert element in sorted list.");
    EXPECT_EQ(ErrorOf([&] { sorted.Move(0, 1); }), "Cannot move elements in sorted list.");
    EXPECT_EQ(sorted.IndexOf(2), 1);
    EXPECT_EQ(ErrorOf([&] { sorted.Delete(2); }), "List index out of bounds (2)");
}

TEST(IntegerList, TextAndStreamForms) {
    TIntegerList list;
    list.Add(12);
    list.Add(-3);
    EXPECT_EQ(list.Text(), "12\r\n-3\r\n");
    EXPECT_EQ(list.AsText(","), "12,-3,");

    struct Case {
        const char* name;
        std::string text;
        std::vector<int32_t> values;
    } cases[] = {
        {"CR LF", "1\r\n2\r\n", {1, 2}},
        {"LF and CR mixed", "1\n2\r3", {1, 2, 3}},
        {"last line without end", "7\r\n8", {7, 8}},
        {"empty", "", {}},
    };
    for (const Case& c : cases) {
        list.SetText(c.text);
        EXPECT_EQ(ValuesOf(list), c.values) << c.name;
    }
    EXPECT_EQ(ErrorOf([&] { list.SetText("1\r\nkaksi\r\n"); }),
              "'kaksi' is not a valid integer value");

    TMemoryStream stream;
    list.SetText("1\n-2\n70000");
    list.SaveToStream(stream);
    EXPECT_EQ(stream.GetSize(), 12);
    TIntegerList back;
    stream.SetPosition(0);
    EXPECT_TRUE(back.LoadFromStream(stream));
    EXPECT_EQ(ValuesOf(back), (std::vector<int32_t>{1, -2, 70000}));

    stream.SetSize(14); // two bytes of a fourth value
    stream.SetPosition(0);
    EXPECT_FALSE(back.LoadFromStream(stream)) << "a short trailing read reports failure";
    EXPECT_EQ(back.Count(), 3);
}

TEST(Department, RecordReconcilesMembers) {
    auto department = DepartmentWith({3, 7});
    std::string log;
    department->SetOnMemberChange(&LogMember, &log);
    auto source = DepartmentWith({5, 3, 9});

    // Rebuild the record with the ids in the order 5, 3, 9 (members are sorted, so write it).
    TBufferProtocol data(64);
    source->WriteToProtocol(data);
    std::string record = BytesOf(data);
    size_t idsAt = record.size() - 4 - 12; // before the (empty) state section's length
    int32_t ordered[] = {5, 3, 9};
    std::memcpy(&record[idsAt], ordered, sizeof ordered);

    TNotifyRecorder recorder(*department);
    Load(*department, record);
    EXPECT_EQ(ValuesOf(department->AddedIds()), (std::vector<int32_t>{5, 9})) << "record order";
    EXPECT_EQ(ValuesOf(department->RemovedIds()), (std::vector<int32_t>{7}));
    ASSERT_EQ(department->MemberCount(), 3);
    EXPECT_EQ(department->Members(0), 3);
    EXPECT_EQ(department->Members(1), 5);
    EXPECT_EQ(department->Members(2), 9);
    EXPECT_EQ(recorder.Take(), "c0 c1");
    EXPECT_EQ(log, "") << "the member callback stays silent while its switch is off";
    EXPECT_FALSE(department->Reading());

    auto switched = DepartmentWith({3, 7});
    std::string switchedLog;
    switched->SetOnMemberChange(&LogMember, &switchedLog);
    switched->SetMemberNotifications(true);
    Load(*switched, record);
    EXPECT_EQ(switchedLog, "6:7 4:5 4:9");

    Load(*switched, record);
    EXPECT_TRUE(switched->AddedIds().Count() == 0 && switched->RemovedIds().Count() == 0);
}

TEST(Department, MalformedMemberListsFailCleanly) {
    auto department = DepartmentWith({1});
    Load(*department, RecordOf(*department)); // loaded, so later loads keep a snapshot
    std::string before = RecordOf(*department);

    auto patched = [&](std::vector<int32_t> section) {
        std::string record = RecordOf(*DepartmentWith({1}));
        size_t dataLengthAt = record.size() - 4 - 8 - 4;
        int32_t length = static_cast<int32_t>(section.size() * 4);
        std::string bytes(reinterpret_cast<const char*>(section.data()), section.size() * 4);
        record.replace(dataLengthAt, 4 + 8,
                       std::string(reinterpret_cast<char*>(&length), 4) + bytes);
        int32_t recordLength = static_cast<int32_t>(record.size()) - 8;
        std::memcpy(&record[4], &recordLength, 4);
        return record;
    };
    struct Case {
        const char* name;
        std::vector<int32_t> section;
        std::string error;
    } cases[] = {
        {"new id listed twice", {3, 1, 4, 4}, "List does not allow duplicates ($04)"},
        {"count beyond the bytes", {0x40000000, 1}, "Attempt to read beyond end of buffer!"},
        {"negative count", {-2, 1}, "Attempt to read beyond end of buffer!"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ErrorOf([&] { Load(*department, patched(c.section)); }), c.error) << c.name;
        EXPECT_EQ(RecordOf(*department), before) << c.name;
        EXPECT_FALSE(department->Reading()) << c.name;
    }
    EXPECT_TRUE(ErrorOf([&] { Load(*department, patched({2, 1, 5})); }).empty());
    EXPECT_EQ(department->MemberCount(), 2);
}
