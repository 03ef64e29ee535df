#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeDocument.h"
#include "PropText.h"

namespace {

struct TLoadList {
    TPropList List;
    std::vector<uint8_t> Data;
    TIntProp* Tag = new TIntProp(&List, "Tag");
    TStrListProp* Hint = new TStrListProp(&List, "Hint");
    TDataProp* D = new TDataProp(&List, "D");
    TBrushProp* Brush = new TBrushProp(&List, "Brush");
    TPenProp* Pen = new TPenProp(&List, "Pen");
    TFontProp* Font = new TFontProp(&List, "Font");
    TLoadList() {
        D->OnGetData = [this] { return Data; };
        D->OnSetData = [this](const std::vector<uint8_t>& bytes) { Data = bytes; };
    }
};

} // namespace

TEST(PropLoad, RefusedValuesNameThePropertyAndTheLine) {
    struct Case {
        const char* name;
        const char* input;
        const char* message;
    } cases[] = {
        {"integer", "Tag = abc\r\n",
         "Could not convert variant of type (String) into type (Int64) (property Tag, line 1)"},
        {"enumeration", "property Brush\r\n  Style = bsFoo\r\nend\r\n",
         "'bsFoo' is not a valid enumeration value (property Brush.Style, line 2)"},
        {"set element", "Tag = 1\r\nproperty Font\r\n  Style = [fsBold,fsFoo]\r\nend\r\n",
         "'fsFoo' is not a valid set element (property Font.Style, line 3)"},
        {"sub-property integer", "property Pen\r\n  Width = 1.5\r\nend\r\n",
         "'1.5' is not a valid integer value (property Pen.Width, line 2)"},
        {"boolean", "property Brush\r\n  BitmapMasked = maybe\r\nend\r\n",
         "'maybe' is not a valid boolean value (property Brush.BitmapMasked, line 2)"},
        {"hexadecimal", "D = {\r\n  0102\r\n  0G }\r\n",
         "Invalid hexadecimal data '0G' (property D, line 3)"},
    };
    for (const Case& c : cases) {
        TLoadList l;
        try {
            LoadText(l.List, c.input);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), c.message) << c.name;
        } catch (const EVariantError& e) {
            EXPECT_EQ(e.Message(), c.message) << c.name;
        }
    }
}

TEST(PropLoad, UnclosedBlocksEndAtTheEndOfTheInput) {
    TLoadList l;
    LoadText(l.List, "Hint = (\r\n  'a'\r\n  'b'");
    EXPECT_EQ(l.Hint->Lines(), (std::vector<std::string>{"a", "b"}));
    LoadText(l.List, "D = {\r\n  0102\r\n  030");
    EXPECT_EQ(l.Data, (std::vector<uint8_t>{1, 2, 3}));
    LoadText(l.List, "property Pen\r\n  Width = 3000"); // the block never closes
    EXPECT_EQ(l.Pen->Width(), 3000);
}

TEST(PropLoad, SkipsWhatItDoesNotKnow) {
    TLoadList l;
    LoadText(l.List, "property Nope\r\n"
                     "  property Inner\r\n"
                     "    Tag = 1\r\n"
                     "  end\r\n"
                     "  Tag = 2\r\n"
                     "end\r\n"
                     "Unknown = {\r\n"
                     "  not hex at all }\r\n"
                     "No equals sign here\r\n"
                     "property Pen\r\n"
                     "  property Sub\r\n"
                     "    Color = 5\r\n"
                     "  end\r\n"
                     "  object Stray: TVektBox\r\n"
                     "    Width = 7\r\n"
                     "  end\r\n"
                     "  Width = 2000\r\n"
                     "  Unpublished = 9\r\n"
                     "end\r\n"
                     "Tag = 3\r\n");
    EXPECT_EQ(l.Tag->GetValue(), 3);
    EXPECT_EQ(l.Pen->Width(), 2000);
    EXPECT_EQ(l.Pen->Color(), 0);
}

TEST(PropLoad, OversizedDataIsLeftEmpty) {
    size_t previous = SetPropDataBlockLimit(64);
    TLoadList l;
    l.Data = {9};
    std::string line(64, 'A'); // 32 bytes a line
    LoadText(l.List, "D = {\r\n" + line + "\r\n" + line + "\r\n" + line + " }\r\nTag = 4\r\n");
    SetPropDataBlockLimit(previous);
    EXPECT_TRUE(l.Data.empty());
    EXPECT_EQ(l.Tag->GetValue(), 4); // reading went on after the block
}

TEST(PropLoad, DeferredValuesWaitForTheEndOfTheLoad) {
    TPropList list;
    auto* a = new TStrProp(&list, "A", propDeferredLoad);
    auto* b = new TStrProp(&list, "B", propDeferredLoad);
    auto* gone = new TStrProp(&list, "Gone", propDeferredLoad);
    auto* now = new TStrProp(&list, "Now");
    TPropRefList refs;
    std::vector<std::string> applied;
    list.OnPropChanged = [&](TCustomProp& prop) {
        applied.push_back(prop.Name() + "=" + prop.GetPropValue("").AsString() +
                          (list.IsResolving() && list.RefQueue() == &refs ? " resolving" : ""));
    };
    LoadText(list, "A = 1\r\nB = 2\r\nGone = x\r\nNow = n\r\nA = 3\r\n", &refs);
    EXPECT_EQ(applied, (std::vector<std::string>{"Now=n"}));
    EXPECT_EQ(refs.Count(), 4);
    delete gone; // a property freed meanwhile drops its entries
    EXPECT_EQ(refs.Count(), 3);
    applied.clear();
    refs.Apply();
    // Last first: the first value in the document is the one that stays.
    EXPECT_EQ(applied,
              (std::vector<std::string>{"A=3 resolving", "B=2 resolving", "A=1 resolving"}));
    EXPECT_EQ(a->GetValue(), "1");
    EXPECT_EQ(b->GetValue(), "2");
    EXPECT_EQ(now->GetValue(), "n");
    EXPECT_EQ(refs.Count(), 0);
    EXPECT_FALSE(list.IsResolving());
}

TEST(PropLoad, AssignPropCopiesThroughTheTextForm) {
    TLoadList source, target;
    source.Brush->SetColor(0xFF);
    target.Brush->SetBrushStyle(bsCross); // defaults are copied too
    target.Hint->SetLines({"old"});
    source.Pen->SetWidth(4000);
    EXPECT_TRUE(TPropList::AssignProp(*target.Brush, *source.Brush));
    EXPECT_TRUE(TPropList::AssignProp(*target.Hint, *source.Hint));
    EXPECT_TRUE(TPropList::AssignProp(*target.Pen, *source.Pen));
    EXPECT_EQ(target.Brush->Color(), 0xFF);
    EXPECT_EQ(target.Brush->BrushStyle(), bsSolid);
    EXPECT_TRUE(target.Hint->Lines().empty());
    EXPECT_EQ(target.Pen->Width(), 4000);

    TLinkProp unlinked(nullptr, "Source");
    TFakePanel panel;
    TFakeControl& box = panel.AddRoot(5, "Box");
    TLinkProp linked(nullptr, "Source");
    linked.SetLinkedControl(&box);
    EXPECT_TRUE(TPropList::AssignProp(linked, unlinked));
    EXPECT_EQ(linked.LinkedControl(), nullptr);

    target.Tag->SetStyle(propReadOnly);
    source.Tag->SetValue(8);
    EXPECT_FALSE(TPropList::AssignProp(*target.Tag, *source.Tag));
    EXPECT_EQ(target.Tag->GetValue(), 0);
}

TEST(PropLoad, HistoryStatesRestoreValuesExactly) {
    TFakePanel panel;
    TFakeControl& box = panel.AddRoot(5, "Box");
    TFakeControl& connector = panel.AddRoot(6, "Connector");
    TFakeHistory history;
    connector.Props.SetHistory(&history);
    auto* font = new TFontProp(&connector.Props, "Font");
    auto* brush = new TBrushProp(&connector.Props, "Brush");
    auto* link = new TLinkProp(&connector.Props, "LinkA", propDeferredLoad | propReadOnly);
    font->SetHeight(-2); // no whole thousandth of a point: Size alone would not bring it back
    std::vector<std::unique_ptr<TMemoryStream>> saved;
    for (TCustomProp* prop : std::initializer_list<TCustomProp*>{font, brush, link}) {
        saved.push_back(std::make_unique<TMemoryStream>());
        TPropList::SavePropState(*saved.back(), *prop);
    }
    font->SetHeight(-20000);
    brush->SetBrushStyle(bsCross);
    link->SetStyle(propDeferredLoad);
    link->SetLinkedControl(&box);
    link->SetStyle(propDeferredLoad | propReadOnly);

    history.Restoring = true;
    for (size_t i = 0; i < saved.size(); ++i) {
        saved[i]->SetPosition(0);
        TPropList::LoadPropState(*saved[i], *std::vector<TCustomProp*>{font, brush, link}[i]);
    }
    EXPECT_EQ(font->Height(), -2);
    EXPECT_EQ(brush->BrushStyle(), bsSolid);   // a default comes back too
    EXPECT_EQ(link->LinkedControl(), nullptr); // read-only, yet restored
    connector.Props.SetHistory(nullptr);
}
