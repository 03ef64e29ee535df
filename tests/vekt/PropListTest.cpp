#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeDocument.h"
#include "PropText.h"

namespace {

// A property that reports its own destruction.
class TTracedProp : public TIntProp {
public:
    TTracedProp(TPropList* list, const std::string& name, std::vector<std::string>& log)
        : TIntProp(list, name)
        , FLog(log) {}
    ~TTracedProp() override { FLog.push_back(Name()); }

private:
    std::vector<std::string>& FLog;
};

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

} // namespace

TEST(PropList, KeepsPropertiesSortedWithoutCase) {
    std::vector<std::string> freed;
    {
        TPropList list;
        new TTracedProp(&list, "width", freed);
        new TTracedProp(&list, "Alpha", freed);
        new TTracedProp(&list, "Tag", freed);
        ASSERT_EQ(list.Count(), 3);
        EXPECT_EQ(list.Names(0), "Alpha");
        EXPECT_EQ(list.Names(1), "Tag");
        EXPECT_EQ(list.Names(2), "width");
        EXPECT_EQ(list.ByName("WIDTH"), list.Props(2));
        EXPECT_EQ(list.ByName("none"), nullptr);
        EXPECT_EQ(list.IndexOf(list.ByName("tag")), 1);

        delete list.ByName("Tag"); // a property freed by its owner leaves the list
        EXPECT_EQ(list.Count(), 2);
    }
    EXPECT_EQ(freed, (std::vector<std::string>{"Tag", "width", "Alpha"})); // then last first
}

TEST(PropList, RefusesTakenAndReservedNames) {
    TPropList list;
    new TIntProp(&list, "Tag");
    for (const char* name :
         {"tag", "document", "clipboard", "library", "object", "property", "end", "vektbinary"})
        EXPECT_EQ(ErrorOf([&] { new TIntProp(&list, name); }),
                  std::string("Property ") + name + " already exist")
            << name;
    new TIntProp(&list, "End"); // the reserved names compare with case
    auto* other = new TIntProp(nullptr, "Other");
    list.Add(other, "Other"); // the list owns it from here
    EXPECT_EQ(ErrorOf([&] { list.Add(other, "Again"); }), "Property Again already exist");
    EXPECT_EQ(list.Count(), 3);
}

TEST(PropList, ModesNestAndExcludeEachOther) {
    TPropList list;
    list.BeginLoading();
    list.BeginLoading();
    EXPECT_EQ(ErrorOf([&] { list.BeginSaving(); }), "Can't switch to saving mode");
    list.EndMode();
    EXPECT_TRUE(list.IsLoading());
    new TIntProp(&list, "end"); // names are not checked while loading
    list.EndMode();
    EXPECT_EQ(list.Mode(), TPropList::TMode::None);
    list.BeginSaving();
    EXPECT_EQ(ErrorOf([&] { list.BeginLoading(); }), "Can't switch to loading mode");
    list.EndMode();
}

TEST(PropChange, RunsTheProtocolInOrder) {
    TPropList list;
    TFakeHistory history;
    std::vector<std::string> events;
    history.Events = &events;
    list.SetHistory(&history);
    list.OnPropBeforeChanged = [&](TCustomProp& p) { events.push_back("before " + p.Name()); };
    list.OnPropChanged = [&](TCustomProp& p) { events.push_back("changed " + p.Name()); };
    auto* tag = new TIntProp(&list, "Tag");
    char l[] = "l", p[] = "p";
    TNotifyLink listListener(l), propListener(p);
    listListener.OnNotify = [&](TNotifyLink&, TNotifyLink&, const TNotifyInfo& info) {
        events.push_back("list " + std::to_string(info.Kind));
    };
    propListener.OnNotify = [&](TNotifyLink&, TNotifyLink&, const TNotifyInfo& info) {
        events.push_back("prop " + std::to_string(info.Kind) + " at " +
                         std::to_string(tag->GetValue()));
    };
    list.NotifyLink().Subscribe(listListener);
    tag->NotifyLink().Subscribe(propListener);

    tag->SetValue(5);
    EXPECT_EQ(events,
              (std::vector<std::string>{"history TPropHistoryAction:Tag", "before Tag", "list 2",
                                        "prop 2 at 0", "changed Tag", "list 3", "prop 3 at 5"}));
    events.clear();
    tag->SetValue(5); // equal: nothing at all
    tag->SetPropValue("", TVariant("5"));
    EXPECT_TRUE(events.empty());
}

TEST(PropChange, ReadOnlyPropertiesIgnoreChangesSilently) {
    TPropList list;
    TFakeHistory history;
    list.SetHistory(&history);
    auto* fixed = new TIntProp(&list, "Fixed", propReadOnly);
    auto* vetoed = new TStrProp(&list, "Vetoed");
    auto* pen = new TPenProp(&list, "Pen");
    list.OnPropReadOnly = [&](TCustomProp& prop, bool& readOnly) { readOnly = &prop == vetoed; };
    fixed->SetValue(3);
    vetoed->SetValue("x");
    EXPECT_EQ(fixed->GetValue(), 0);
    EXPECT_EQ(vetoed->GetValue(), "");
    EXPECT_TRUE(history.Recorded.empty());

    // An undo reads saved lines back: read-only properties take them then.
    history.Restoring = true;
    LoadText(list, "Fixed = 7\r\nVetoed = y\r\n");
    fixed->SetValue(9); // outside a load the rule holds again
    EXPECT_EQ(fixed->GetValue(), 7);
    EXPECT_EQ(vetoed->GetValue(), "y");

    pen->SetStyle(propReadOnly);
    pen->SetWidth(3000);
    EXPECT_EQ(pen->Width(), 1);
}

TEST(PropChange, HistoryActionsFollowTheOwnersChoice) {
    TPropList list;
    TFakeHistory history;
    list.SetHistory(&history);
    THistoryActionClass other{"TOtherAction"};
    auto* a = new TIntProp(&list, "A");
    auto* b = new TIntProp(&list, "B");
    auto* c = new TIntProp(&list, "C");
    auto* brush = new TBrushProp(&list, "Brush");
    list.OnPropHistoryAction = [&](TCustomProp& prop, const THistoryActionClass*& actionClass) {
        if (&prop == b) actionClass = &other;
        if (&prop == c) actionClass = nullptr;
    };
    a->SetValue(1);
    b->SetValue(1);
    c->SetValue(1);
    a->SuppressHistory = true;
    a->SetValue(2);
    brush->SetColor(0xFF); // a sub-property change is a change of the brush
    EXPECT_EQ(history.Recorded, (std::vector<std::string>{"TPropHistoryAction:A", "TOtherAction:B",
                                                          "TPropHistoryAction:Brush"}));
    EXPECT_EQ(a->GetValue(), 2);
}
