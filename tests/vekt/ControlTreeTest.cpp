#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ControlTestUtil.h"

namespace {

std::string Names(TVektControl& parent) {
    std::string names;
    for (int i = 0; i < parent.Count(); ++i)
        names += (i ? "|" : "") + parent.Controls(i)->Name();
    return names;
}

} // namespace

TEST(ControlPanel, NewPanelHoldsOneDefaultSchemeAndOneLayer) {
    TVektPanel panel;
    auto check = [&](const char* when) {
        SCOPED_TRACE(when);
        ASSERT_EQ(panel.Schemes()->Count(), 1);
        ASSERT_EQ(panel.Layers()->Count(), 1);
        TVektCustomScheme* scheme = panel.Schemes()->Schemes(0);
        EXPECT_EQ(scheme->Name(), "Scheme1");
        EXPECT_TRUE(scheme->Default());
        EXPECT_EQ(panel.ActiveScheme(), scheme);
        EXPECT_EQ(panel.Layers()->Layers(0)->Name(), "Layer1");
        EXPECT_EQ(panel.ActiveLayer(), panel.Layers()->Layers(0));
    };
    check("new panel");
    EXPECT_FALSE(panel.Modified);
    EXPECT_EQ(panel.Schemes()->Name(), "Document");
    EXPECT_EQ(panel.Schemes()->ID(), 1u);
    EXPECT_EQ(panel.Layers()->Name(), "Layers");
    EXPECT_EQ(panel.Grid()->Name(), "Grid");
    EXPECT_EQ(panel.FindByID(1), panel.Schemes());

    TVektControl::New<TVektScheme>(&panel, nullptr, panel.Schemes());
    TVektControl::New<TVektLayer>(&panel, nullptr, panel.Layers());
    EXPECT_EQ(Names(*panel.Schemes()), "Scheme1|Scheme2");
    EXPECT_EQ(Names(*panel.Layers()), "Layer1|Layer2");
    panel.NewDocument();
    check("after NewDocument");
}

TEST(ControlPanel, PageSizeIsMirroredByTheDocumentRoot) {
    TVektPanel panel;
    TVektCustomScheme* scheme = panel.ActiveScheme();
    EXPECT_EQ(panel.Schemes()->Width(), 320000);
    EXPECT_EQ(scheme->Height(), 240000);
    panel.Schemes()->SetWidth(500000);
    EXPECT_EQ(panel.DocWidth(), 500000);
    panel.SetDocHeight(100000);
    EXPECT_EQ(panel.Schemes()->Height(), 100000);
    EXPECT_EQ(scheme->DocRect(), TRect(0, 0, 500000, 100000));
    scheme->SetWidth(7); // a scheme's size is the page's
    EXPECT_EQ(scheme->Width(), 500000);
    panel.SetDocWidth(0);
    EXPECT_EQ(panel.DocWidth(), 1);
}

TEST(ControlPanel, DocumentAndClientCoordinates) {
    TVektPanel panel;
    struct Case {
        int32_t scale;
        TPoint origin, doc, client;
    } cases[] = {
        {100, {0, 0}, {320000, 240000}, {320, 240}},
        {50, {0, 0}, {320000, 1500}, {160, 1}}, // 0.75 rounds to 1
        {200, {10, -20}, {320000, 0}, {630, 20}},
    };
    for (const Case& c : cases) {
        panel.SetScale(c.scale);
        panel.SetOrigin(c.origin);
        EXPECT_EQ(panel.DocToClient(c.doc), c.client) << c.scale;
    }
    panel.SetScale(0);
    EXPECT_EQ(panel.Scale(), 1);
    panel.SetScale(60000);
    EXPECT_EQ(panel.Scale(), 50000);
    panel.SetScale(200);
    panel.SetOrigin({10, 0});
    EXPECT_EQ(panel.ClientToDoc({630, 0}), TPoint(320000, 0));
}

TEST(ControlText, OnlyValuesOffTheirDefaultsAreWritten) {
    const std::vector<std::string> defaults = {
        "object Box: TVektBox", "  Height = 40000", "  ID = 4",        "  Layer = Layer1",
        "  Left = 1000",        "  Top = 2000",     "  Width = 30000", "end"};
    struct Case {
        const char* name;
        std::function<void(TVektControl&)> change;
        size_t at; // where the lines go among the default ones (names are in order)
        std::vector<std::string> lines;
    } cases[] = {
        {"defaults", [](TVektControl&) {}, 0, {}},
        {"tag", [](TVektControl& c) { c.SetTag(3); }, 5, {"  Tag = 3"}},
        {"hint",
         [](TVektControl& c) {
             static_cast<TStrListProp*>(c.Props().ByName("Hint"))->SetText("Ovi");
         },
         2,
         {"  Hint = (", "    'Ovi' )"}},
        {"show hint off",
         [](TVektControl& c) {
             static_cast<TBoolProp*>(c.Props().ByName("ShowHint"))->SetValue(false);
         },
         5,
         {"  ShowHint = False"}},
        {"not selectable",
         [](TVektControl& c) { c.SetSelectable(false); },
         5,
         {"  Selectable = False"}},
        {"transparent", [](TVektControl& c) { c.SetTransparency(40); }, 6, {"  Transparency = 40"}},
        {"reference",
         [](TVektControl& c) { c.PropReference()->SetValue(2); },
         5,
         {"  Reference = 2"}},
        {"user data",
         [](TVektControl& c) {
             static_cast<TStrListProp*>(c.Props().ByName("UserData"))->SetValueByName("a", "b");
         },
         6,
         {"  UserData = (", "    'a=b' )"}},
    };
    for (const Case& c : cases) {
        TVektPanel panel;
        TTestBox* box = NewBox(panel, panel.ActiveScheme(), 1000, 2000, 30000, 40000);
        c.change(*box);
        std::vector<std::string> lines = defaults;
        lines.insert(lines.begin() + static_cast<long>(c.at), c.lines.begin(), c.lines.end());
        std::string expected;
        for (const std::string& line : lines)
            expected += line + "\r\n";
        EXPECT_EQ(SaveText(*box), expected) << c.name;
    }
}

TEST(ControlNames, AutomaticNames) {
    struct Case {
        const char* name;
        bool autoNames, numbers;
        std::vector<std::string> steps; // "+" new box, "-N" free the Nth, "=X" new box named X
        const char* names;
    } cases[] = {
        {"numbers off", true, false, {"+", "+", "+"}, "Box|Box|Box"},
        {"numbered", true, true, {"+", "+", "+"}, "Box1|Box2|Box3"},
        {"freed number is used again", true, true, {"+", "+", "+", "-1", "+"}, "Box1|Box3|Box2"},
        {"only numbers after the base count",
         true,
         true,
         {"=Box0", "=Boxy", "=Box-3", "=Box2", "+", "+"},
         "Box0|Boxy|Box-3|Box2|Box1|Box3"},
        {"off", false, true, {"+", "+"}, "|"},
    };
    for (const Case& c : cases) {
        TVektPanel panel;
        panel.AutoNames = c.autoNames;
        panel.AutoNameNumbs = c.numbers;
        TVektCustomScheme* scheme = panel.ActiveScheme();
        for (const std::string& step : c.steps) {
            if (step == "+") {
                NewBox(panel, scheme, 0, 0, 10, 10);
            } else if (step[0] == '-') {
                scheme->Controls(std::stoi(step.substr(1)))->Free();
            } else {
                panel.AutoNames = false;
                NewBox(panel, scheme, 0, 0, 10, 10)->SetName(step.substr(1));
                panel.AutoNames = c.autoNames;
            }
        }
        EXPECT_EQ(Names(*scheme), c.names) << c.name;
    }

    // Layers and schemes are numbered whatever the settings: they are found by name.
    TVektPanel panel;
    panel.AutoNames = false;
    EXPECT_EQ(TVektControl::New<TVektLayer>(&panel, nullptr, panel.Layers())->Name(), "Layer2");
}

namespace {

class TNamedControl : public TVektControl {
public:
    const char* ClassName() const override { return Name; }
    const char* Name = "";
};

} // namespace

TEST(ControlNames, BaseOfTheAutomaticName) {
    TVektPanel panel;
    TVektControlPtr control(TVektControl::New<TNamedControl>(&panel));
    struct Case {
        const char* className;
        const char* base;
    } cases[] = {
        {"TVektBox", "Box"}, {"TAreaScheme", "AreaScheme"}, {"TVekt", "Vekt"}, {"XLamp", "XLamp"}};
    for (const Case& c : cases) {
        static_cast<TNamedControl&>(*control).Name = c.className;
        EXPECT_EQ(panel.AutoName(*control, nullptr, false), c.base) << c.className;
    }
}

TEST(ControlIds, ChangesAreCheckedAgainstThePool) {
    struct Case {
        const char* name;
        int control; // 0 or 1: which of the two boxes changes
        uint32_t setTo;
        bool fromZero;     // the box had no ID before
        uint32_t expected; // its ID afterwards
    } cases[] = {
        {"free value is taken", 0, 50, false, 50},
        {"taken value keeps the old ID", 0, 5, false, 4},
        {"zero releases", 0, 0, false, 0},
        {"taken value without an old ID gets a new one", 0, 5, true, 4},
    };
    for (const Case& c : cases) {
        TVektPanel panel; // IDs 1-3: document, scheme, layer
        TVektControl* boxes[] = {NewBox(panel, panel.ActiveScheme(), 0, 0, 10, 10),
                                 NewBox(panel, panel.ActiveScheme(), 0, 0, 10, 10)};
        ASSERT_EQ(boxes[0]->ID(), 4u);
        ASSERT_EQ(boxes[1]->ID(), 5u);
        TVektControl* box = boxes[c.control];
        if (c.fromZero) box->SetID(0);
        TNotifyLog log(panel);
        box->SetID(c.setTo);
        EXPECT_EQ(box->ID(), c.expected) << c.name;
        EXPECT_EQ(log.Take(), "Box:fnID") << c.name;
        if (c.expected != 0) {
            EXPECT_EQ(panel.FindByID(c.expected), box) << c.name;
        }
        EXPECT_EQ(panel.FindByID(5), boxes[1]) << c.name; // the other box keeps its own
        if (c.expected != 4) {
            EXPECT_EQ(panel.FindByID(4), nullptr) << c.name;
        }
    }

    // New IDs fill the smallest gap.
    TVektPanel panel;
    TVektControl* a = NewBox(panel, panel.ActiveScheme(), 0, 0, 10, 10);
    NewBox(panel, panel.ActiveScheme(), 0, 0, 10, 10);
    a->Free();
    EXPECT_EQ(NewBox(panel, panel.ActiveScheme(), 0, 0, 10, 10)->ID(), 4u);
    EXPECT_EQ(panel.IdPool().Ranges(), (std::vector<uint32_t>{1, 5}));
}

TEST(ControlGeometry, WidthAndHeightNeverGoBelowOne) {
    struct Case {
        bool height;
        int32_t value, expected;
    } cases[] = {{false, 0, 1}, {false, -500, 1}, {true, 0, 1}, {false, 7, 7}};
    for (const Case& c : cases) {
        TVektPanel panel;
        TTestBox* box = NewBox(panel, panel.ActiveScheme(), 0, 0, 4000, 4000);
        TPoint corner(4000, 4000);
        box->AddLinkPoint(&corner);
        if (c.height)
            box->SetHeight(c.value);
        else
            box->SetWidth(c.value);
        EXPECT_EQ(c.height ? box->Height() : box->Width(), c.expected);
        // A link point follows from the rectangle before the change, not from the 0-wide one.
        TRect r = box->DocRect();
        EXPECT_EQ(corner, TPoint(r.Right, r.Bottom)) << c.value;
        box->DeleteLinkPoint(0);
    }
}

TEST(ControlTree, AddExtractAndOrder) {
    TVektPanel panel;
    TVektCustomScheme* scheme = panel.ActiveScheme();
    TVektLayer* second = TVektControl::New<TVektLayer>(&panel, nullptr, panel.Layers());
    TVektGroup* group = TVektControl::New<TVektGroup>(&panel, second, scheme);
    TTestBox* a = TVektControl::New<TTestBox>(&panel, nullptr, group);
    TTestBox* b = NewBox(panel, scheme, 0, 0, 100, 100);
    EXPECT_EQ(a->Layer(), second); // a child takes its parent's layer when given none

    EXPECT_EQ(scheme->Add(b), 1); // already a child
    EXPECT_EQ(a->Add(group), -1); // never its own descendant
    EXPECT_EQ(group->Add(group), -1);

    // Moving from a group to a scheme restores the layer the control had.
    EXPECT_EQ(scheme->Add(a), 2);
    EXPECT_EQ(a->Parent(), scheme);
    EXPECT_EQ(a->Layer(), second);

    scheme->Extract(b);
    EXPECT_EQ(b->Parent(), nullptr);
    EXPECT_EQ(b->Layer(), nullptr);
    ASSERT_EQ(panel.Unparented().size(), 1u);
    EXPECT_EQ(panel.Unparented()[0], b);
    b->SetParent(scheme);
    EXPECT_TRUE(panel.Unparented().empty());

    TNotifyLog log(panel);
    scheme->ChangeOrder(2, 0);
    EXPECT_EQ(Names(*scheme), "Box|Group|Box");
    EXPECT_EQ(scheme->Controls(0), b);
    EXPECT_EQ(log.Take(), "Scheme1:fnOrder");
    EXPECT_THROW(scheme->ChangeOrder(0, 3), EListError);

    uint32_t id = a->ID();
    scheme->Delete(scheme->IndexOf(a));
    EXPECT_EQ(panel.FindByID(id), nullptr);
}

TEST(ControlTree, MovesBetweenPanels) {
    TVektPanel from, to;
    TVektGroup* group =
        TVektControl::New<TVektGroup>(&from, from.ActiveLayer(), from.ActiveScheme());
    TTestBox* child = NewBox(from, group, 0, 0, 100, 100);
    TTestBox* stay = NewBox(to, to.ActiveScheme(), 0, 0, 100, 100);
    ASSERT_EQ(group->ID(), 4u);
    ASSERT_EQ(child->ID(), 5u);
    ASSERT_EQ(stay->ID(), 4u);
    from.Select(group);

    auto history = std::make_unique<TLogHistory>();
    TLogHistory& log = *history;
    to.SetHistory(std::move(history));
    to.ActiveScheme()->Add(group);

    EXPECT_EQ(group->Panel(), &to);
    EXPECT_EQ(child->Panel(), &to);
    EXPECT_EQ(from.SelectedCount(), 0);
    EXPECT_EQ(group->ID(), 5u); // 4 was taken there, and then 5 was
    EXPECT_EQ(child->ID(), 6u);
    EXPECT_EQ(from.FindByID(4), nullptr);
    EXPECT_EQ(from.FindByID(5), nullptr);
    EXPECT_EQ(to.FindByID(5), group);
    EXPECT_EQ(to.FindByID(6), child);
    EXPECT_EQ(to.FindByID(4), stay);
    // No layer of the old panel stays behind.
    EXPECT_EQ(group->Layer(), nullptr);
    EXPECT_EQ(child->Layer(), nullptr);
    EXPECT_EQ(child->Props().History(), static_cast<IPropHistory*>(&log));
    EXPECT_EQ(log.Log,
              (std::vector<std::string>{"begin TControlCreateHistoryGroup <TVektGroup>", "end"}));
    from.NewDocument(); // the old panel's layers go; the moved controls do not care
    child->SetLeft(10);
}

TEST(ControlNotify, WhatThePanelHearsAndRaises) {
    struct Case {
        const char* name;
        std::function<void(TVektPanel&, TTestBox&)> action;
        const char* events;
    } cases[] = {
        {"move", [](TVektPanel&, TTestBox& b) { b.SetLeft(50); }, "Box:fnRect"},
        {"bracket sends one rectangle change",
         [](TVektPanel&, TTestBox& b) {
             b.BeginUpdate();
             b.SetLeft(50);
             b.SetWidth(70);
             b.SetName("Door");
             b.EndUpdate();
         },
         "Door:fnName Door:fnRect"},
        {"create", [](TVektPanel& p, TTestBox&) { NewBox(p, p.ActiveScheme(), 0, 0, 5, 5); },
         ":fnParent Scheme1:fnOrder Box:fnName Box:fnCreated Box:fnRect"},
        {"unparented controls are not raised, except their end",
         [](TVektPanel& p, TTestBox&) {
             TTestBox* loose = TVektControl::New<TTestBox>(&p);
             loose->SetLeft(5);
             loose->Free();
         },
         "Box:fnDestroyed"},
        {"selection", [](TVektPanel& p, TTestBox& b) { p.Select(&b); }, "Box:fnSelect"},
        {"active layer", [](TVektPanel& p, TTestBox&) { p.SetActiveLayer(nullptr); }, "-:fnLayers"},
    };
    for (const Case& c : cases) {
        TVektPanel panel;
        TTestBox* box = NewBox(panel, panel.ActiveScheme(), 0, 0, 10, 10);
        TNotifyLog log(panel);
        c.action(panel, *box);
        EXPECT_EQ(log.Take(), c.events) << c.name;
    }
}

TEST(ControlNotify, SubscribersHearTheControl) {
    TVektPanel panel;
    TTestBox* box = NewBox(panel, panel.ActiveScheme(), 0, 0, 10, 10);
    std::vector<std::string> heard;
    TNotifyLink listener(&panel);
    listener.OnNotify = [&](TNotifyLink&, TNotifyLink&, const TNotifyInfo& info) {
        if (info.Kind == nkControlNotify)
            heard.push_back(NotifyName(info.Notify));
        else if (info.Kind == nkPropChanged)
            heard.push_back("changed " + info.Prop->Name());
        else if (info.Kind == nkDestroy)
            heard.push_back("destroy");
    };
    box->GetNotifyLink().Subscribe(listener);
    box->SetTop(3);
    box->Free();
    EXPECT_EQ(heard, (std::vector<std::string>{"fnRect", "changed Top", "destroy"}));
}

TEST(ControlHistory, TheControlModelDrivesTheHistorySeam) {
    TVektPanel panel;
    auto owned = std::make_unique<TLogHistory>();
    TLogHistory& history = *owned;
    panel.SetHistory(std::move(owned));
    TVektCustomScheme* scheme = panel.ActiveScheme();

    TTestBox* a = TVektControl::New<TTestBox>(&panel, panel.ActiveLayer(), scheme);
    TTestBox* b = TVektControl::New<TTestBox>(&panel, panel.ActiveLayer(), scheme);
    a->SetLeft(10);
    scheme->ChangeOrder(1, 0);
    b->Free();
    TTestBox::FailCreate = true;
    EXPECT_THROW(TVektControl::New<TTestBox>(&panel, panel.ActiveLayer(), scheme),
                 std::runtime_error);
    TTestBox::FailCreate = false;
    history.Log.push_back("--");
    panel.EmptyDocument();

    EXPECT_EQ(history.Log, (std::vector<std::string>{
                               "record TOrderHistoryAction <TVektBox>",
                               "begin TControlCreateHistoryGroup <TVektBox>",
                               "end",
                               "record TOrderHistoryAction <TVektBox>",
                               "begin TControlCreateHistoryGroup <TVektBox>",
                               "end",
                               "prop Left", // the creation itself records no property changes
                               "record TDocRectHistoryAction <TVektBox>",
                               "record TOrderHistoryAction <TVektBox>",
                               "begin TControlDestroyHistoryGroup <TVektBox>",
                               "end",
                               "record TOrderHistoryAction <TVektBox>",
                               "begin TControlCreateHistoryGroup <TVektBox>",
                               "cancel",
                               "begin TControlDestroyHistoryGroup <TVektBox>",
                               "end",
                               "--",
                               "clear",
                           }));
    EXPECT_EQ(history.Open, 0);
    EXPECT_EQ(history.Disabled, 0);
}

TEST(ControlSelection, OnlySelectableChildrenOfSchemes) {
    TVektPanel panel;
    TVektCustomScheme* scheme = panel.ActiveScheme();
    TVektGroup* group = TVektControl::New<TVektGroup>(&panel, panel.ActiveLayer(), scheme);
    TTestBox* nested = NewBox(panel, group, 0, 0, 10, 10);
    TTestBox* box = NewBox(panel, scheme, 0, 0, 10, 10);
    EXPECT_FALSE(panel.Select(nested));
    EXPECT_TRUE(panel.Select(box));
    EXPECT_FALSE(panel.Select(box));
    box->SetSelectable(false);
    EXPECT_FALSE(box->IsSelected());
    EXPECT_FALSE(panel.Select(box));
    box->SetSelectable(true);
    panel.Select(box);
    panel.Select(group);
    panel.ActiveLayer()->SetVisible(false);
    EXPECT_EQ(panel.SelectedCount(), 0);
    EXPECT_FALSE(group->IsSelectable());
}

TEST(ControlRegistry, ClassesAreFoundByNameIgnoringCase) {
    std::vector<std::string> names;
    for (const TVektControlClass* cls : RegisteredControlClasses())
        names.push_back(cls->ClassName);
    names.resize(6);
    EXPECT_EQ(names, (std::vector<std::string>{"TVektLayer", "TVektScheme", "TVektControl",
                                               "TVektServiceControl", "TVektGroup", "TVektClone"}));
    EXPECT_EQ(FindControlClass("tvektGROUP"), &ControlClassOf<TVektGroup>());
    EXPECT_EQ(FindControlClass("TVektOdd"), nullptr);
    RegisterControlClass(ControlClassOf<TTestBox>());
    size_t count = RegisteredControlClasses().size();
    RegisterControlClass(ControlClassOf<TTestBox>());
    EXPECT_EQ(RegisteredControlClasses().size(), count);
    TVektPanel panel;
    TVektControlPtr made(TVektControl::NewOfClass(*FindControlClass("tvektbox"), &panel));
    EXPECT_STREQ(made->ClassName(), "TVektBox");
}

// Under the sanitizers this is the leak and lifetime check of the whole structure.
TEST(ControlTree, TearsDownATreeOfEveryStructuralClass) {
    TVektControlPtr survivor;
    {
        TVektPanel other;
        TVektPanel panel; // goes first, with the source of a link from the other panel
        TVektCustomScheme* scheme = panel.ActiveScheme();
        TVektLayer* top = TVektControl::New<TVektLayer>(&panel, nullptr, panel.Layers());
        TVektScheme* page2 = TVektControl::New<TVektScheme>(&panel, nullptr, panel.Schemes());
        TVektGroup* outer = TVektControl::New<TVektGroup>(&panel, top, scheme);
        TVektGroup* inner = TVektControl::New<TVektGroup>(&panel, top, outer);
        TTestBox* box = NewBox(panel, inner, 100, 100, 1000, 1000);
        NewBox(panel, outer, 5000, 0, 1000, 1000);
        TVektClone* clone = TVektControl::New<TVektClone>(&panel, top, page2);
        clone->SetSource(box);
        TVektClone* remote =
            TVektControl::New<TVektClone>(&other, other.ActiveLayer(), other.ActiveScheme());
        remote->SetSource(box); // a link into another panel
        TVektControl::New<TVektServiceControl>(&panel, nullptr, scheme);
        TPoint linked(100, 100);
        box->AddLinkPoint(&linked);
        box->DeleteLinkPoint(0);
        panel.Select(outer);
        // One control stays with its holder, with children and a layer of the panel.
        survivor.reset(TVektControl::New<TVektGroup>(&panel, top));
        NewBox(panel, survivor.get(), 0, 0, 10, 10);
        ASSERT_EQ(panel.Unparented().size(), 1u);
        ASSERT_EQ(remote->Source(), box);
    }
    EXPECT_EQ(survivor->Panel(), nullptr);
    EXPECT_EQ(survivor->Layer(), nullptr);
    EXPECT_EQ(survivor->Controls(0)->Panel(), nullptr);
    survivor->SetLeft(5);
}

TEST(ControlPanel, DocumentRootProperties) {
    TVektPanel panel;
    TVektSchemes* root = panel.Schemes();
    TMemoryStream stream;
    std::string lines = "Version = 160\r\nConnectorsMinGap = 9000\r\nWidth = 100000\r\n"
                        "Left = 5\r\nConnectorLinkToPoint = True\r\n";
    stream.WriteBuffer(lines.data(), static_cast<int64_t>(lines.size()));
    stream.SetPosition(0);
    TVektFiler filer(stream);
    std::string line;
    while (filer.ReadLine(line))
        root->Props().LoadProp(filer, line, nullptr);
    EXPECT_EQ(root->Version(), 170); // read-only
    EXPECT_EQ(panel.ConnectorsMinGap(), 9000);
    EXPECT_EQ(panel.DocWidth(), 100000);
    EXPECT_EQ(root->Left(), 0);
    std::string text = SaveText(*root);
    EXPECT_EQ(text.substr(0, text.find("  object")),
              "object Document: TVektSchemes\r\n  ConnectorLinkToPoint = True\r\n"
              "  ConnectorsMinGap = 9000\r\n  Height = 240000\r\n  ID = 1\r\n"
              "  Version = 170\r\n  Width = 100000\r\n");
}

TEST(ControlTree, WalkVisitsTheSubtreeInPreOrder) {
    TVektPanel panel;
    TVektGroup* a = TVektControl::New<TVektGroup>(&panel, nullptr, panel.ActiveScheme());
    a->SetName("a");
    TVektGroup* b = TVektControl::New<TVektGroup>(&panel, nullptr, a);
    b->SetName("b");
    TVektControl::New<TVektControl>(&panel, nullptr, b)->SetName("c");
    TVektControl::New<TVektControl>(&panel, nullptr, a)->SetName("d");
    TVektControl::New<TVektControl>(&panel, nullptr, panel.ActiveScheme())->SetName("outside");
    struct Case {
        const char* skip; // the control whose children are passed over
        const char* order;
    } cases[] = {{"", "a b c d"}, {"b", "a b d"}, {"a", "a"}};
    for (const Case& c : cases) {
        TPassControlRec pass;
        pass.Start(a);
        std::string order = pass.Control->Name();
        while (pass.Next(pass.Control->Name() == c.skip))
            order += " " + pass.Control->Name();
        EXPECT_EQ(order, c.order) << c.skip;
        EXPECT_EQ(pass.Control, nullptr);
    }
}

namespace {

class TStyled : public TVektControl {
public:
    void CreateProperties() override {
        TVektControl::CreateProperties();
        Pen = new TPenProp(&Props(), "Pen");
        new TBrushProp(&Props(), "Brush");
    }
    TPenProp* Pen = nullptr;
};

class TOddBrush : public TVektControl {
public:
    void CreateProperties() override {
        TVektControl::CreateProperties();
        Brush = new TIntProp(&Props(), "Brush");
    }
    TIntProp* Brush = nullptr;
};

} // namespace

TEST(ControlStyle, AssignStyleCopiesPenBrushAndTransparency) {
    TVektPanel panel;
    auto* from = TVektControl::New<TStyled>(&panel, panel.ActiveLayer(), panel.ActiveScheme());
    auto* to = TVektControl::New<TStyled>(&panel, panel.ActiveLayer(), panel.ActiveScheme());
    auto* odd = TVektControl::New<TOddBrush>(&panel, panel.ActiveLayer(), panel.ActiveScheme());
    from->Pen->SetWidth(3000);
    from->Pen->SetColor(0x0000FF);
    static_cast<TBrushProp*>(from->Props().ByName("Brush"))->SetGradStyle(gsVertical);
    from->SetTransparency(30);
    to->AssignStyle(*from);
    EXPECT_EQ(to->Pen->Width(), 3000);
    EXPECT_EQ(to->Pen->Color(), 0x0000FF);
    EXPECT_EQ(static_cast<TBrushProp*>(to->Props().ByName("Brush"))->GradStyle(), gsVertical);
    EXPECT_EQ(to->Transparency(), 30);
    odd->Brush->SetValue(7);
    odd->AssignStyle(*from); // a Brush of another class is left alone
    EXPECT_EQ(odd->Brush->GetValue(), 7);
    EXPECT_EQ(odd->Transparency(), 30);
}
