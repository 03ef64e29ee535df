#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeDocument.h"
#include "PropText.h"

namespace {

struct TLinkDocument {
    TFakePanel Panel{"Plan Panel"};
    TFakeControl& Scheme = Panel.AddRoot(1, "Scheme1");
    TFakeControl& Box = Scheme.AddChild(5, "Bo\\x\x01");
    TFakeControl& Owner = Scheme.AddChild(6, "Connector");
    TIntProp* BoxWidth = new TIntProp(&Box.Props, "Width");
    TLinkProp* Link = new TLinkProp(&Owner.Props, "LinkA", propDeferredLoad);
};

} // namespace

TEST(LinkProp, PathsNameTheTargetAndItsPanel) {
    TLinkDocument d;
    EXPECT_EQ(d.Link->Path(), "");
    d.Link->SetLinkedControl(&d.Box);
    EXPECT_EQ(d.Link->Path(), "\\5:Box"); // "\" and control characters are dropped
    d.Link->SetLink(&d.Box, d.BoxWidth);
    EXPECT_EQ(d.Link->GetPropValue(""), TVariant("\\5:Box\\Width"));
    d.Box.Rename("Door 2");
    EXPECT_EQ(d.Link->Path(), "\\5:Door 2\\Width");

    TFakePanel other{"Other \"A\""};
    TFakeControl& remote = other.AddRoot(9, "Far");
    d.Link->SetLinkedControl(&remote);
    EXPECT_EQ(d.Link->Path(), "\"Other \"\"A\"\"\"\\9:Far");
    TFakePanel plain{"Plain"};
    TFakeControl& near = plain.AddRoot(3, "Near");
    d.Link->SetLinkedControl(&near);
    EXPECT_EQ(d.Link->Path(), "Plain\\3:Near");
    d.Link->SetLinkedControl(nullptr);
}

TEST(LinkProp, ResolvesPathsByID) {
    TLinkDocument d;
    TFakeControl detached(&d.Panel, 42, "Detached"); // not reachable through the panel
    TFakeControl& inTree = detached.AddChild(43, "Child");
    TLinkProp* fromDetached = new TLinkProp(&inTree.Props, "Source");
    struct Case {
        const char* path;
        TLinkProp* link;
        IPropControl* control;
        bool withProp;
    } cases[] = {
        {"\\5:Anything", d.Link, &d.Box, false},
        {"\\5:Box\\Width", d.Link, &d.Box, true},
        {"\\5:Box\\Nope", d.Link, nullptr, false},
        {"\\77:Missing", d.Link, nullptr, false},
        {"\\x:Bad", d.Link, nullptr, false},
        {"5:NoSlash", d.Link, nullptr, false},
        {"\"Elsewhere\"\\5:Box", d.Link, nullptr, false},  // no panel of that name
        {"\\42:Detached", fromDetached, &detached, false}, // the owner's own tree
        {"", d.Link, nullptr, false},
    };
    for (const Case& c : cases) {
        c.link->SetLinkedControl(&d.Owner);
        c.link->SetPropValue("", TVariant(c.path));
        EXPECT_EQ(c.link->LinkedControl(), c.control) << c.path;
        EXPECT_EQ(c.link->LinkedProp() != nullptr, c.withProp) << c.path;
    }

    SetFindPanelHook([&](const std::string& name) -> IPropPanel* {
        return name == "Elsewhere" ? &d.Panel : nullptr;
    });
    d.Link->SetPropValue("", TVariant("\"Elsewhere\"\\5:Box"));
    SetFindPanelHook(nullptr);
    EXPECT_EQ(d.Link->LinkedControl(), &d.Box);
    d.Link->SetLinkedControl(nullptr);
}

TEST(LinkProp, FollowsReplacedIDsWhileALoadResolves) {
    TLinkDocument d;
    TFakeControl& moved = d.Scheme.AddChild(12, "Moved");
    TPropRefList refs;
    LoadText(d.Owner.Props, "LinkA = \\7:Moved\r\n", &refs);
    EXPECT_EQ(d.Link->LinkedControl(), nullptr); // deferred
    refs.MapId(7, 12);                           // document ID 7 was taken and became 12
    refs.Apply();
    EXPECT_EQ(d.Link->LinkedControl(), &moved);

    refs.KeptIds().Use(5);
    refs.MapId(5, 12); // a kept ID wins over a later replacement of the same number
    LoadText(d.Owner.Props, "LinkA = \\5:Box\r\n", &refs);
    refs.Apply();
    EXPECT_EQ(d.Link->LinkedControl(), &d.Box);
    d.Link->SetLinkedControl(nullptr);
}

TEST(LinkProp, ATargetGoingAwayUnlinksThroughTheProtocol) {
    TLinkDocument d;
    TFakeHistory history;
    d.Owner.Props.SetHistory(&history);
    std::vector<std::string> heard;
    d.Link->OnLinkNotify = [&](TLinkProp& link, const TNotifyInfo& info) {
        heard.push_back(std::to_string(info.Kind) + (link.LinkedControl() ? " linked" : ""));
    };
    TFakeControl& doomed = d.Scheme.AddChild(8, "Doomed");
    d.Link->SetLinkedControl(&doomed);
    history.Recorded.clear();
    doomed.Rename("Renamed");
    EXPECT_EQ(d.Link->Path(), "\\8:Renamed");
    d.Scheme.Children.pop_back(); // frees the target
    EXPECT_EQ(d.Link->LinkedControl(), nullptr);
    EXPECT_EQ(d.Link->Path(), "");
    EXPECT_EQ(history.Recorded, (std::vector<std::string>{"TPropHistoryAction:LinkA"}));
    EXPECT_EQ(heard, (std::vector<std::string>{"4 linked", "1"}));
    d.Owner.Props.SetHistory(nullptr);
}

TEST(LayerProp, NamesTheControlsLayer) {
    TFakePanel panel;
    TFakeControl& layer1 = panel.AddRoot(1, "Layer1");
    TFakeControl& layer2 = panel.AddRoot(2, "Layer2");
    panel.Layers = {&layer1, &layer2};
    TFakeControl& box = panel.AddRoot(3, "Box");
    box.Layer = &layer1;
    auto* layer = new TLayerProp(&box.Props, "Layer", propDeferredLoad);
    std::vector<std::string> changed;
    box.Props.OnPropChanged = [&](TCustomProp& p) { changed.push_back(p.GetDisplayValue()); };
    EXPECT_EQ(layer->GetPropValue(""), TVariant("Layer1"));
    layer->SetPropValue("", TVariant("Layer2"));
    layer->SetPropValue("", TVariant("layer1")); // names compare with case: no such layer
    EXPECT_EQ(box.Layer, &layer2);
    EXPECT_EQ(changed, (std::vector<std::string>{"Layer2"}));
    std::vector<TEnumItem> items;
    layer->GetEnumList(items);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].Name, "Layer2");
    EXPECT_EQ(items[1].Object, &layer2);
}

TEST(SchemeRefProp, TakesIDsNumbersAndNames) {
    TFakePanel panel;
    TFakeControl& scheme1 = panel.AddRoot(3, "Scheme1");
    TFakeControl& scheme2 = panel.AddRoot(9, "Scheme2");
    panel.Schemes = {&scheme1, &scheme2};
    TFakeControl& box = scheme1.AddChild(4, "Box");
    auto* ref = new TSchemeRefProp(&box.Props, "Reference");
    struct Case {
        TVariant value;
        uint32_t id;
    } cases[] = {
        {TVariant(9), 9},         {TVariant::LongWord(3), 3}, {TVariant("9"), 9},
        {TVariant("Scheme1"), 3}, {TVariant("scheme2"), 0}, // names compare with case
        {TVariant("Scheme2"), 9}, {TVariant(""), 0},          {TVariant("Nowhere"), 0},
    };
    for (const Case& c : cases) {
        ref->SetPropValue("", c.value);
        EXPECT_EQ(ref->GetValue(), c.id) << c.value.AsString();
    }
    ref->SetValue(9);
    EXPECT_EQ(ref->GetDisplayValue(), "Scheme2");
    ref->JumpToScheme();
    EXPECT_EQ(panel.Jumped, &scheme2);
    std::vector<TEnumItem> items;
    ref->GetEnumList(items);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].Name, "");
    EXPECT_EQ(items[2].Object, &scheme2);
}

TEST(LinkPointProp, KeepsItsPointInTheTargetsLinkPoints) {
    TPropList loose;
    try {
        new TLinkPointProp(&loose, "LinkA");
        ADD_FAILURE() << "created on a list without a control";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Can't create link prop");
    }
    EXPECT_EQ(loose.Count(), 0);

    TLinkDocument d;
    auto* a = new TLinkPointProp(&d.Owner.Props, "LinkB");
    TFakeControl& other = d.Scheme.AddChild(7, "Other");
    a->SetPoint(TPoint(1000, 2000));
    a->SetLinkedControl(&d.Box);
    EXPECT_EQ(d.Box.LinkPoints, (std::vector<TPoint*>{a->PointRef()}));
    a->SetLinkedControl(&other);
    EXPECT_TRUE(d.Box.LinkPoints.empty());
    EXPECT_EQ(other.LinkPoints.size(), 1u);
    d.Owner.Props.Delete(d.Owner.Props.IndexOf(a)); // the property goes: so does its point
    EXPECT_TRUE(other.LinkPoints.empty());

    auto* b = new TLinkPointProp(&d.Owner.Props, "LinkC");
    TFakeControl& doomed = d.Scheme.AddChild(8, "Doomed");
    b->SetLinkedControl(&doomed);
    d.Scheme.Children.pop_back(); // the target goes: the link lets go
    EXPECT_EQ(b->LinkedControl(), nullptr);
    EXPECT_EQ(b->Point(), TPoint(0, 0));
}
