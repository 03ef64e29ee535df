#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ControlTestUtil.h"

namespace {

class ControlLoad : public ::testing::Test {
protected:
    void SetUp() override { RegisterControlClass(ControlClassOf<TTestBox>()); }

    TVektPanel Panel;
    TVektCustomScheme* Scheme = Panel.ActiveScheme();
};

std::string Describe(TVektControl* c) {
    if (!c) return "none";
    return c->Name() + "#" + std::to_string(c->ID());
}

} // namespace

TEST_F(ControlLoad, CollidingIDsAreReplacedAndLinksStillResolve) {
    TTestBox* existing = NewBox(Panel, Scheme, 0, 0, 10, 10);
    existing->SetName("Existing");
    ASSERT_EQ(existing->ID(), 4u);

    std::vector<TVektControl*> loaded = LoadText(Panel, Scheme, R"(object Door: TVektBox
  ID = 4
  Layer = Layer1
  Width = 20000
end
object Mirror: TVektClone
  AutoSize = False
  ID = 5
  Source = \4:Door
end
object Window: TVektBox
  ID = 90
end
object Pane: TVektClone
  ID = 91
  Source = \90:Window
end
object Far: TVektClone
  ID = 92
  Source = \3:Layer1
end
)");
    ASSERT_EQ(loaded.size(), 5u);
    struct Case {
        int index;
        uint32_t id;          // after the load
        TVektControl* source; // for clones, what the link found
    } cases[] = {
        {0, 5, nullptr},              // 4 was taken: the first free ID
        {1, 6, loaded[0]},            // 5 then went to Door; its link to "4" is Door, not Existing
        {2, 90, nullptr},             // free: kept
        {3, 91, loaded[2]},           // kept IDs link as they were
        {4, 92, Panel.ActiveLayer()}, // an ID the document did not hold is the panel's
    };
    for (const Case& c : cases) {
        TVektControl* control = loaded[c.index];
        EXPECT_EQ(control->ID(), c.id) << Describe(control);
        EXPECT_EQ(Panel.FindByID(c.id), control) << Describe(control);
        if (auto* clone = dynamic_cast<TVektClone*>(control)) {
            EXPECT_EQ(clone->Source(), c.source) << Describe(control);
        }
    }
    EXPECT_EQ(Panel.FindByID(4), existing);
    // The link text names the control as it is now.
    EXPECT_EQ(static_cast<TVektClone*>(loaded[1])->PropSource()->Path(), "\\5:Door");
    EXPECT_FALSE(Panel.IsLoading());
    EXPECT_EQ(Panel.RefQueue(), nullptr);
}

TEST_F(ControlLoad, DeferredReferencesWaitForTheEndOfTheLoad) {
    TVektScheme* plan = TVektControl::New<TVektScheme>(&Panel, nullptr, Panel.Schemes());
    plan->SetName("Plan");
    TVektLayer* walls = TVektControl::New<TVektLayer>(&Panel, nullptr, Panel.Layers());
    walls->SetName("Walls");
    Panel.BeginLoading();
    std::vector<TVektControl*> loaded = LoadText(Panel, Scheme, R"(object Door: TVektBox
  Layer = Walls
  Reference = Plan
end
)");
    ASSERT_EQ(loaded.size(), 1u);
    TVektControl* door = loaded[0];
    EXPECT_EQ(door->Layer(), nullptr); // the outer load is still open
    EXPECT_EQ(door->ID(), 0u);         // loading gives no automatic ID or name
    Panel.EndLoading();
    EXPECT_EQ(door->Layer(), walls);
    EXPECT_EQ(door->PropReference()->GetValue(), plan->ID());
    EXPECT_EQ(door->PropReference()->GetDisplayValue(), "Plan");
}

TEST_F(ControlLoad, WhatABlockTurnsInto) {
    struct Case {
        const char* name;
        const char* text;
        const char* result; // the names created under the scheme and among the layers
    } cases[] = {
        {"unknown classes are skipped with their children",
         "object Odd: TVektOdd\n  Width = 5\n  object Inner: TVektBox\n  end\nend\n"
         "object Door: TVektBox\nend\n",
         "Door / Layer1"},
        {"a child block", "object G: TVektGroup\n  object Door: TVektBox\n  end\nend\n",
         "G(Door) / Layer1"},
        {"a line without a class is skipped",
         "object Nothing\n  Width = 5\nend\n"
         "object Door: TVektBox\nend\n",
         "Door / Layer1"},
        {"class names ignore case", "object Door: tvektbox\nend\n", "Door / Layer1"},
    };
    for (const Case& c : cases) {
        TVektPanel panel;
        LoadText(panel, panel.ActiveScheme(), c.text);
        std::function<std::string(TVektControl*)> tree = [&](TVektControl* parent) {
            std::string out;
            for (int i = 0; i < parent->Count(); ++i) {
                TVektControl* child = parent->Controls(i);
                out += (i ? "," : "") + child->Name();
                if (child->Count() > 0) out += "(" + tree(child) + ")";
            }
            return out;
        };
        EXPECT_EQ(tree(panel.ActiveScheme()) + " / " + tree(panel.Layers()), c.result) << c.name;
        EXPECT_FALSE(panel.IsLoading()) << c.name;
    }
}

TEST_F(ControlLoad, TopLevelBlocksJoinTheirRoots) {
    TMemoryStream stream;
    std::string text = "object Layer1: TVektLayer\n  ReadOnly = True\nend\n"
                       "object Walls: TVektLayer\nend\n"
                       "object Plan: TVektScheme\nend\n"
                       "object Loose: TVektBox\nend\n";
    stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
    stream.SetPosition(0);
    TVektFiler filer(stream);
    std::vector<std::string> results;
    std::string line;
    while (filer.ReadLine(line))
        results.push_back(Describe(Panel.LoadControl(filer, nullptr, false, line)));
    // A layer of a used name is dropped, block and all; a control without parent too.
    EXPECT_EQ(results, (std::vector<std::string>{"none", "Walls#0", "Plan#0", "none"}));
    EXPECT_FALSE(Panel.ActiveLayer()->ReadOnly());
    EXPECT_EQ(Panel.Layers()->Count(), 2);
    EXPECT_EQ(Panel.Schemes()->Count(), 2);
    EXPECT_TRUE(Panel.Unparented().empty());
}

TEST_F(ControlLoad, AFailedBlockFreesItsControl) {
    TVektPanel panel;
    std::string text = "object Door: TVektBox\n  Width = 5\n  object Inner: TVektBox\n"
                       "    Left = wide\n  end\nend\n";
    EXPECT_THROW(LoadText(panel, panel.ActiveScheme(), text), EVariantError);
    EXPECT_EQ(panel.ActiveScheme()->Count(), 0);
    EXPECT_TRUE(panel.Unparented().empty());
    // The load that failed was the outermost one of LoadText: close it.
    panel.EndLoading();
    EXPECT_FALSE(panel.IsLoading());
    EXPECT_EQ(panel.IdPool().Ranges(), (std::vector<uint32_t>{1, 3}));
}

TEST_F(ControlLoad, LinkTextFollowsTheTargetsName) {
    TTestBox* lamp = NewBox(Panel, Scheme, 0, 0, 10, 10);
    TVektClone* clone = TVektControl::New<TVektClone>(&Panel, Panel.ActiveLayer(), Scheme);
    clone->SetSource(lamp);
    EXPECT_EQ(clone->PropSource()->GetDisplayValue(), "\\4:Box");
    lamp->SetName("Lamp 2");
    EXPECT_EQ(clone->PropSource()->GetDisplayValue(), "\\4:Lamp 2");
    lamp->SetID(40);
    EXPECT_EQ(clone->PropSource()->GetDisplayValue(), "\\40:Lamp 2");

    // Without a panel to ask, a link is looked up in the owner's own tree.
    TVektGroup* loose = TVektControl::New<TVektGroup>(nullptr);
    TTestBox* inside = TVektControl::New<TTestBox>(nullptr, nullptr, loose);
    TVektClone* looseClone = TVektControl::New<TVektClone>(nullptr, nullptr, loose);
    inside->SetID(77);
    looseClone->PropSource()->SetPropValue("", TVariant("\\77:x"));
    EXPECT_EQ(looseClone->Source(), inside);
    loose->Free();
}
