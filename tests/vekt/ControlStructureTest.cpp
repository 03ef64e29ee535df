#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ControlTestUtil.h"

namespace {

struct TGroupFixture {
    TVektPanel Panel;
    TVektGroup* Group =
        TVektControl::New<TVektGroup>(&Panel, Panel.ActiveLayer(), Panel.ActiveScheme());
    // Group at (100000, 100000), children at (0, 0, 10000, 10000) and (20000, 20000, 10000,
    // 10000) inside it.
    TTestBox* A = NewBox(Panel, Group, 0, 0, 10000, 10000);
    TTestBox* B = NewBox(Panel, Group, 20000, 20000, 10000, 10000);
    TGroupFixture() { Group->SetDocRect(TRect(100000, 100000, 130000, 130000)); }
};

} // namespace

TEST(ControlGroup, RefitsToItsChildrenKeepingThemInPlace) {
    struct Case {
        const char* name;
        int child;
        TPoint moveTo;     // the child's new Left/Top inside the group
        TRect group, a, b; // absolute rectangles afterwards
    } cases[] = {
        {"grows to the left and up",
         0,
         {-30000, -5000},
         {70000, 95000, 130000, 130000},
         {70000, 95000, 80000, 105000},
         {120000, 120000, 130000, 130000}},
        {"grows to the right",
         1,
         {40000, 0},
         {100000, 100000, 150000, 110000},
         {100000, 100000, 110000, 110000},
         {140000, 100000, 150000, 110000}},
        {"shrinks when the far child comes back",
         1,
         {5000, 0},
         {100000, 100000, 115000, 110000},
         {100000, 100000, 110000, 110000},
         {105000, 100000, 115000, 110000}},
    };
    for (const Case& c : cases) {
        TGroupFixture f;
        ASSERT_EQ(f.Group->DocRect(), TRect(100000, 100000, 130000, 130000));
        TTestBox* moved = c.child == 0 ? f.A : f.B;
        moved->BeginUpdate();
        moved->SetLeft(c.moveTo.X);
        moved->SetTop(c.moveTo.Y);
        moved->EndUpdate();
        EXPECT_EQ(f.Group->DocRect(), c.group) << c.name;
        EXPECT_EQ(f.A->DocRect(), c.a) << c.name;
        EXPECT_EQ(f.B->DocRect(), c.b) << c.name;
        EXPECT_EQ(f.Group->GetRefreshRect(c.group.Left, c.group.Top), c.group) << c.name;
    }
}

TEST(ControlGroup, ResizingScalesTheSubtree) {
    TGroupFixture f;
    TVektGroup* inner = TVektControl::New<TVektGroup>(&f.Panel, nullptr, f.Group);
    TTestBox* deep = NewBox(f.Panel, inner, 20000, 0, 10000, 10000);
    ASSERT_EQ(f.Group->DocRect(), TRect(100000, 100000, 130000, 130000));
    ASSERT_EQ(deep->DocRect(), TRect(120000, 100000, 130000, 110000));
    f.Group->SetWidth(60000);
    EXPECT_EQ(f.Group->DocRect(), TRect(100000, 100000, 160000, 130000));
    EXPECT_EQ(f.A->DocRect(), TRect(100000, 100000, 120000, 110000));
    EXPECT_EQ(f.B->DocRect(), TRect(140000, 120000, 160000, 130000));
    EXPECT_EQ(deep->DocRect(), TRect(140000, 100000, 160000, 110000));
    EXPECT_FALSE(f.A->State() & csResizing);
    EXPECT_FALSE(deep->State() & csResizing);
}

TEST(ControlGroup, AttachedPointsFollowMovesAndResizes) {
    TGroupFixture f;
    TPoint onB(130000, 125000); // B's right edge, half way down
    f.B->AddLinkPoint(&onB);
    f.Group->SetLeft(f.Group->Left() + 5000); // the whole group
    EXPECT_EQ(onB, TPoint(135000, 125000));
    f.B->SetWidth(20000); // B itself grows to the right
    EXPECT_EQ(onB, TPoint(145000, 125000));
    f.Group->SetHeight(60000); // the group doubles in height: B from 20000..30000 to 40000..60000
    EXPECT_EQ(f.B->DocRect(), TRect(125000, 140000, 145000, 160000));
    EXPECT_EQ(onB, TPoint(145000, 150000));
    f.B->DeleteLinkPoint(0);
}

TEST(ControlGroup, TranslateRotatesChildrenAndRefits) {
    TGroupFixture f;
    TTranslateInfo quarter;
    quarter.Center = {100000, 100000};
    quarter.Rotate = 90; // counter-clockwise on the screen: right becomes up
    f.Group->Translate(quarter);
    EXPECT_EQ(f.A->DocRect(), TRect(100000, 90000, 110000, 100000));
    EXPECT_EQ(f.B->DocRect(), TRect(120000, 70000, 130000, 80000));
    EXPECT_EQ(f.Group->DocRect(), TRect(100000, 70000, 130000, 100000));

    // A locked width refuses a mirror; the group stays as it is.
    f.Panel.ActiveLayer()->SetMoveable(true);
    f.Panel.ActiveLayer()->SetResizable(false);
    TTranslateInfo mirror;
    mirror.Center = {0, 0};
    mirror.Mirror = true;
    f.Group->Translate(mirror);
    EXPECT_EQ(f.Group->DocRect(), TRect(100000, 70000, 130000, 100000));
}

TEST(ControlTranslate, CornersAndLinkPointsTurnAboutTheCentre) {
    struct Case {
        int rotate;
        bool mirror;
        TRect rect;
        TPoint point;
    } cases[] = {
        {0, false, {10, 0, 30, 10}, {30, 5}},        {90, false, {0, -30, 10, -10}, {5, -30}},
        {180, false, {-30, -10, -10, 0}, {-30, -5}}, {-90, false, {-10, 10, 0, 30}, {-5, 30}},
        {0, true, {-30, 0, -10, 10}, {-30, 5}},      {90, true, {0, 10, 10, 30}, {5, 30}},
        {45, false, {7, -14, 28, -7}, {25, -18}},
    };
    for (const Case& c : cases) {
        TVektPanel panel;
        TTestBox* box = NewBox(panel, panel.ActiveScheme(), 10, 0, 20, 10);
        TPoint attached(30, 5);
        box->AddLinkPoint(&attached);
        TTranslateInfo info;
        info.Rotate = c.rotate;
        info.Mirror = c.mirror;
        box->Translate(info);
        EXPECT_EQ(box->DocRect(), c.rect) << c.rotate << (c.mirror ? " mirrored" : "");
        EXPECT_EQ(attached, c.point) << c.rotate << (c.mirror ? " mirrored" : "");
        box->SetLeft(box->Left() + 1); // the points follow from the new rectangle on
        EXPECT_EQ(attached.X, c.point.X + 1);
        box->DeleteLinkPoint(0);
    }
}

TEST(ControlTranslate, TheSelectionTurnsByQuarters) {
    struct Case {
        int rotate;
        TRect rect;
    } cases[] = {{100, {0, -30, 10, -10}},
                 {44, {10, 0, 30, 10}},
                 {45, {10, 0, 30, 10}},
                 {135, {-30, -10, -10, 0}},
                 {-80, {-10, 10, 0, 30}}};
    for (const Case& c : cases) {
        TVektPanel panel;
        TTestBox* box = NewBox(panel, panel.ActiveScheme(), 10, 0, 20, 10);
        TVektLayer* locked = TVektControl::New<TVektLayer>(&panel, nullptr, panel.Layers());
        TTestBox* fixed = TVektControl::New<TTestBox>(&panel, locked, panel.ActiveScheme());
        fixed->SetDocRect(TRect(10, 0, 30, 10));
        panel.Select(box);
        panel.Select(fixed);
        locked->SetReadOnly(true);
        TTranslateInfo info;
        info.Rotate = c.rotate;
        panel.TranslateSelection(info);
        EXPECT_EQ(box->DocRect(), c.rect) << c.rotate;
        EXPECT_EQ(fixed->DocRect(), TRect(10, 0, 30, 10)) << c.rotate;
    }
}

TEST(ControlClone, SourceRulesAndAutoSize) {
    TVektPanel panel;
    TVektCustomScheme* scheme = panel.ActiveScheme();
    TTestBox* box = NewBox(panel, scheme, 0, 0, 30000, 20000);
    TVektClone* clone = TVektControl::New<TVektClone>(&panel, panel.ActiveLayer(), scheme);
    TVektClone* other = TVektControl::New<TVektClone>(&panel, panel.ActiveLayer(), scheme);
    EXPECT_TRUE(clone->AutoSize());

    clone->SetSource(box);
    EXPECT_EQ(clone->Width(), 30000);
    EXPECT_EQ(clone->Height(), 20000);
    clone->SetWidth(5); // follows the source while AutoSize is on
    EXPECT_EQ(clone->Width(), 30000);
    box->SetWidth(40000);
    EXPECT_EQ(clone->Width(), 40000);
    clone->SetAutoSize(false);
    clone->SetWidth(20000);
    EXPECT_EQ(clone->Width(), 20000);
    box->SetHeight(1000);
    EXPECT_EQ(clone->Height(), 20000);

    struct Case {
        const char* name;
        TVektControl* source;
        TVektControl* expected;
    } cases[] = {
        {"a clone of a clone", clone, nullptr},
        {"itself", other, nullptr},
        {"a plain control", box, box},
    };
    for (const Case& c : cases) {
        other->SetSource(c.source);
        EXPECT_EQ(other->Source(), c.expected) << c.name;
    }
    box->Free();
    EXPECT_EQ(clone->Source(), nullptr);
    EXPECT_EQ(other->Source(), nullptr);
}

TEST(ControlClone, RefreshAreaCarriesTheSourceMargins) {
    TVektPanel panel;
    TVektCustomScheme* scheme = panel.ActiveScheme();
    TVektGroup* group = TVektControl::New<TVektGroup>(&panel, panel.ActiveLayer(), scheme);
    NewBox(panel, group, 0, 0, 10000, 10000);
    TVektClone* clone = TVektControl::New<TVektClone>(&panel, panel.ActiveLayer(), group);
    clone->SetSource(group); // a source that holds the clone must not send it round in a loop
    TRect area = group->DocRect();
    EXPECT_EQ(group->GetRefreshRect(area.Left, area.Top), area);
}

TEST(ControlLayers, DeletingALayerFreesItsControls) {
    TVektPanel panel;
    TVektLayer* first = panel.ActiveLayer();
    TVektScheme* page2 = TVektControl::New<TVektScheme>(&panel, nullptr, panel.Schemes());
    TTestBox* onPage1 = NewBox(panel, panel.ActiveScheme(), 0, 0, 10, 10);
    TVektGroup* group = TVektControl::New<TVektGroup>(&panel, first, page2);
    NewBox(panel, group, 0, 0, 10, 10);
    TTestBox* loose = TVektControl::New<TTestBox>(&panel, first);
    uint32_t id = onPage1->ID();

    panel.Layers()->Delete(0); // the only layer
    EXPECT_EQ(panel.ActiveLayer(), nullptr);
    EXPECT_EQ(panel.ActiveScheme()->Count(), 0);
    EXPECT_EQ(page2->Count(), 0);
    EXPECT_EQ(panel.FindByID(id), nullptr);
    EXPECT_EQ(loose->Layer(), nullptr); // not freed: it belongs to its holder
    loose->Free();

    // Deleting the active layer activates the next one, or the previous one when it was last.
    struct Case {
        int active, remove;
        const char* next;
    } cases[] = {{1, 1, "Layer3"}, {2, 2, "Layer2"}, {0, 1, "Layer1"}};
    for (const Case& c : cases) {
        TVektPanel p;
        TVektControl::New<TVektLayer>(&p, nullptr, p.Layers());
        TVektControl::New<TVektLayer>(&p, nullptr, p.Layers());
        p.SetActiveLayer(p.Layers()->Layers(c.active));
        p.Layers()->Layers(c.remove)->Free();
        ASSERT_NE(p.ActiveLayer(), nullptr);
        EXPECT_EQ(p.ActiveLayer()->Name(), c.next) << c.active << " " << c.remove;
    }
}

TEST(ControlLayers, LayersKeepUniqueValidNames) {
    TVektPanel panel;
    TVektLayer* second = TVektControl::New<TVektLayer>(&panel, nullptr, panel.Layers());
    struct Case {
        const char* name;
        const char* expected;
    } cases[] = {{"Walls", "Walls"}, {"Layer1", "Walls"}, {"", "Walls"}, {"Doors", "Doors"}};
    for (const Case& c : cases) {
        second->SetName(c.name);
        EXPECT_EQ(second->Name(), c.expected) << c.name;
    }

    // Adding a layer of a used name gives the existing one's index.
    TVektLayer* loose = TVektControl::New<TVektLayer>(&panel);
    loose->SetName("Doors");
    EXPECT_EQ(panel.Layers()->Add(loose), 1);
    EXPECT_EQ(loose->Parent(), nullptr);
    loose->Free();

    // The Layer property follows the layer's name, and names the layer to move to.
    TTestBox* box = NewBox(panel, panel.ActiveScheme(), 0, 0, 10, 10);
    EXPECT_EQ(box->PropLayer()->GetValue(), "Layer1");
    box->PropLayer()->SetValue("Doors");
    EXPECT_EQ(box->Layer(), second);
    second->SetName("Gates");
    EXPECT_EQ(box->PropLayer()->GetValue(), "Gates");
}

TEST(ControlLayers, LayerLocks) {
    struct Case {
        const char* name;
        bool readOnly, moveable, resizable;
        bool leftChanges, widthChanges, tagChanges;
    } cases[] = {
        {"unlocked", false, true, true, true, true, true},
        {"not moveable", false, false, true, false, true, true},
        {"not resizable", false, true, false, true, false, true},
        {"read-only", true, true, true, false, false, false},
    };
    for (const Case& c : cases) {
        TVektPanel panel;
        TTestBox* box = NewBox(panel, panel.ActiveScheme(), 1000, 1000, 1000, 1000);
        TVektLayer* layer = panel.ActiveLayer();
        layer->SetReadOnly(c.readOnly);
        layer->SetMoveable(c.moveable);
        layer->SetResizable(c.resizable);
        box->SetLeft(5000);
        box->SetWidth(5000);
        box->SetTag(9);
        EXPECT_EQ(box->Left() == 5000, c.leftChanges) << c.name;
        EXPECT_EQ(box->Width() == 5000, c.widthChanges) << c.name;
        EXPECT_EQ(box->Tag() == 9, c.tagChanges) << c.name;
    }
}

TEST(ControlLayers, LockedFlagsAreWrittenOffTheirDefaults) {
    TVektPanel panel;
    TVektLayer* layer = panel.ActiveLayer();
    EXPECT_EQ(SaveText(*layer), "object Layer1: TVektLayer\r\n  ID = 3\r\nend\r\n");
    layer->SetVisible(false);
    layer->SetReadOnly(true);
    layer->SetMoveable(false);
    layer->SetSelectable(false);
    EXPECT_EQ(SaveText(*layer), "object Layer1: TVektLayer\r\n  ID = 3\r\n  Moveable = False\r\n"
                                "  ReadOnly = True\r\n  Selectable = False\r\n"
                                "  Visible = False\r\nend\r\n");
}

TEST(ControlSchemes, DefaultAndActiveScheme) {
    TVektPanel panel;
    TVektCustomScheme* first = panel.ActiveScheme();
    TVektScheme* second = TVektControl::New<TVektScheme>(&panel, nullptr, panel.Schemes());
    TVektScheme* third = TVektControl::New<TVektScheme>(&panel, nullptr, panel.Schemes());
    EXPECT_FALSE(second->Default());

    second->SetDefault(true);
    EXPECT_FALSE(first->Default());
    EXPECT_TRUE(second->Default());
    second->SetDefault(false); // the only default stays one
    EXPECT_TRUE(second->Default());

    panel.SetActiveScheme(third);
    third->Free();
    EXPECT_EQ(panel.ActiveScheme(), second);
    panel.Schemes()->Delete(1);
    EXPECT_EQ(panel.ActiveScheme(), first);
    panel.Schemes()->Delete(0);
    EXPECT_EQ(panel.ActiveScheme(), nullptr);

    // A scheme added to a root without an active one becomes active; the only one is Default.
    TVektScheme* fresh = TVektControl::New<TVektScheme>(&panel, nullptr, panel.Schemes());
    EXPECT_EQ(panel.ActiveScheme(), fresh);
    EXPECT_TRUE(fresh->Default());
    EXPECT_EQ(panel.Schemes()->Add(TVektControl::New<TVektGroup>(&panel)), -1);
    EXPECT_EQ(panel.Layers()->Add(fresh), -1);
    panel.Unparented()[0]->Free();
}

TEST(ControlSchemes, HitTestingGoesByLayersFromTheTop) {
    TVektPanel panel;
    TVektCustomScheme* scheme = panel.ActiveScheme();
    TVektLayer* top = TVektControl::New<TVektLayer>(&panel, nullptr, panel.Layers());
    TTestBox* high = TVektControl::New<TTestBox>(&panel, top, scheme);
    high->SetDocRect(TRect(0, 0, 10000, 10000));
    TTestBox* low1 = NewBox(panel, scheme, 0, 0, 20000, 20000);
    TTestBox* low2 = NewBox(panel, scheme, 0, 0, 20000, 20000);
    TVektLayer* stray = TVektControl::New<TVektLayer>(&panel); // not among the layers
    TTestBox* lost = TVektControl::New<TTestBox>(&panel, stray, scheme);
    lost->SetDocRect(TRect(0, 0, 40000, 40000));

    struct Case {
        const char* name;
        std::function<void()> change;
        TPoint at; // client pixels at scale 100
        TVektControl* found;
    } cases[] = {
        {"top layer first, although added first", [] {}, {5, 5}, high},
        {"last child of a layer first", [] {}, {15, 15}, low2},
        {"invisible controls are passed over", [&] { low2->SetVisible(false); }, {15, 15}, low1},
        {"unselectable layers are passed over", [&] { top->SetSelectable(false); }, {5, 5}, low1},
        {"controls on no registered layer are never found", [] {}, {30, 30}, nullptr},
    };
    for (const Case& c : cases) {
        c.change();
        EXPECT_EQ(scheme->FindControlAtPoint(c.at.X, c.at.Y), c.found) << c.name;
    }
    lost->Free();
    stray->Free();
}

namespace {

// One end of a connector: a link point on another control.
class TTestEnd : public TVektControl {
public:
    void CreateProperties() override {
        TVektControl::CreateProperties();
        End = new TLinkPointProp(&Props(), "LinkA", propDeferredLoad);
    }
    TLinkPointProp* End = nullptr;
};

} // namespace

TEST(ControlLinkPoints, LinkPointPropertiesMoveWithTheirControl) {
    for (bool targetGoesFirst : {true, false}) {
        TVektPanel panel;
        TTestBox* box = NewBox(panel, panel.ActiveScheme(), 0, 0, 10000, 10000);
        TTestEnd* end =
            TVektControl::New<TTestEnd>(&panel, panel.ActiveLayer(), panel.ActiveScheme());
        end->End->SetPoint({10000, 5000});
        end->End->SetLinkedControl(box);
        ASSERT_EQ(box->LinkPointsCount(), 1);
        box->SetLeft(2000);
        EXPECT_EQ(end->End->Point(), TPoint(12000, 5000));
        box->SetHeight(20000);
        EXPECT_EQ(end->End->Point(), TPoint(12000, 10000));
        if (targetGoesFirst) {
            box->Free();
            EXPECT_EQ(end->End->LinkedControl(), nullptr);
        } else {
            end->Free();
            EXPECT_EQ(box->LinkPointsCount(), 0);
            box->SetLeft(0); // no point of a freed property is touched
        }
    }
}
