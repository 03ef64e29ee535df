#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "BinaryRecords.h"
#include "Clipboard.h"
#include "ControlTestUtil.h"
#include "PropText.h"

namespace {

// A document as the engine writes it: every property form the standard classes have (lists,
// data, sets, links, deferred references, nested blocks), in the text form.
const char* kDocument = R"(document Plan
  ConnectorLinkToPoint = True
  Height = 240000
  ID = 1
  Version = 170
  Width = 320000
  object Layer1: TVektLayer
    ID = 2
  end
  object Walls: TVektLayer
    ID = 5
    Moveable = False
    Selectable = False
  end
  object Ground: TVektScheme
    Default = True
    ID = 3
    object Door: TVektBox
      Height = 12000
      Hint = (
        'front door'
        'it's locked' )
      ID = 4
      Layer = Layer1
      Left = 40000
      Reference = 6
      Tag = 7
      Top = 0
      UserData = (
        'ParadoxAFM=1' )
      Width = 20000
    end
    object G: TVektGroup
      Height = 1
      ID = 8
      Layer = Walls
      Left = 0
      Top = 0
      Width = 1
      object Copy: TVektClone
        AutoSize = False
        Height = 1
        ID = 9
        Layer = Walls
        Left = 0
        Source = \4:Door
        Top = 0
        Transparency = 40
        Width = 1
      end
    end
  end
  object Upper floor: TVektScheme
    property Background
      PictureOptions = [bpStretchHoriz,bpCenterVert]
      Top = 3000
    end
    property Brush
      Color = 255
      Style = bsCross
    end
    ID = 6
  end
end
)";

std::string Text(TMemoryStream& stream) {
    return StreamText(stream);
}

std::string Save(TVektPanel& panel, bool binary) {
    TMemoryStream stream;
    panel.SaveAsBinary = binary;
    std::unique_ptr<TVektFiler> filer = panel.CreateFiler(stream, ppSave, false);
    panel.SaveToFiler(*filer, false);
    return Text(stream);
}

void Load(TVektPanel& panel, const std::string& bytes, int mode = TVektPanel::lmReplace) {
    TMemoryStream stream;
    panel.LoadFromStream(WriteText(stream, bytes), mode);
}

// A new document: one default scheme and one layer, both active, with their IDs and names.
void ExpectNewDocument(TVektPanel& panel, const std::string& when) {
    ASSERT_EQ(panel.Schemes()->Count(), 1) << when;
    ASSERT_EQ(panel.Layers()->Count(), 1) << when;
    EXPECT_EQ(panel.ActiveScheme(), panel.Schemes()->Schemes(0)) << when;
    EXPECT_EQ(panel.ActiveLayer(), panel.Layers()->Layers(0)) << when;
    EXPECT_EQ(panel.ActiveScheme()->Count(), 0) << when;
    EXPECT_NE(panel.ActiveScheme()->ID(), 0u) << when;
    EXPECT_EQ(panel.ActiveScheme()->Name(), "Scheme1") << when;
    EXPECT_FALSE(panel.IsLoading()) << when;
    EXPECT_EQ(panel.RefQueue(), nullptr) << when;
}

class Document : public ::testing::Test {
protected:
    void SetUp() override { RegisterControlClass(ControlClassOf<TTestBox>()); }
};

} // namespace

TEST_F(Document, TextToBinaryToTextReproducesTheDocument) {
    const std::string text = CrLfText(kDocument);
    TVektPanel panel;
    Load(panel, text);
    EXPECT_FALSE(panel.SaveAsBinary);
    EXPECT_FALSE(panel.Modified);
    ASSERT_EQ(Save(panel, false), text);

    std::string binary = Save(panel, true);
    ASSERT_EQ(binary.compare(0, 12, Magic()), 0);
    // Repeated names are shared: "Layer" is written as text once, then referred to.
    EXPECT_EQ(binary.find("\x01\x05Layer"), binary.rfind("\x01\x05Layer"));
    TVektPanel copy;
    Load(copy, binary);
    EXPECT_TRUE(copy.SaveAsBinary);
    EXPECT_EQ(Save(copy, false), text);
    EXPECT_EQ(Save(copy, true), binary);

    // The links and references found their targets in the binary copy too.
    auto* clone = dynamic_cast<TVektClone*>(copy.FindByID(9));
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->Source(), copy.FindByID(4));
    EXPECT_EQ(copy.FindByID(4)->PropReference()->GetDisplayValue(), "Upper floor");
    EXPECT_EQ(clone->Layer()->Name(), "Walls");
}

TEST_F(Document, HeadersDecideWhatALoadTakes) {
    struct Case {
        const char* name;
        std::string input;
        int mode;
        const char* error; // none: it loads
    } cases[] = {
        {"a clipboard is no document", "clipboard\r\nend\r\n", TVektPanel::lmReplace,
         "Data format error"},
        {"a clipboard pastes", "clipboard\r\nend\r\n", TVektPanel::lmPaste, nullptr},
        {"a document pastes too", "document X\r\nend\r\n", TVektPanel::lmPaste, nullptr},
        {"an empty stream", "", TVektPanel::lmReplace, "Data format error"},
        {"an empty first line", "\r\nend\r\n", TVektPanel::lmReplace, "Data format error"},
        {"something else", "object A: TVektBox\r\nend\r\n", TVektPanel::lmPaste,
         "Data format error"},
        {"a binary clipboard is no document", Magic() + Record(2, {}) + Record(7, {}),
         TVektPanel::lmReplace, "Data format error"},
        {"a binary value named like a header", Magic() + ValueRecord("document", 3, Le32(1)),
         TVektPanel::lmReplace, "Data format error"},
    };
    for (const Case& c : cases) {
        TVektPanel panel;
        try {
            Load(panel, c.input, c.mode);
            EXPECT_EQ(c.error, nullptr) << c.name << ": loaded";
        } catch (const Exception& e) {
            ASSERT_NE(c.error, nullptr) << c.name << ": " << e.Message();
            EXPECT_EQ(e.Message(), c.error) << c.name;
        }
        ExpectNewDocument(panel, c.name);
    }
}

TEST_F(Document, AFailedLoadLeavesANewDocument) {
    std::string binary;
    {
        TVektPanel source;
        Load(source, CrLfText(kDocument));
        binary = Save(source, true);
    }
    struct Case {
        const char* name;
        std::string input;
        const char* error;
    } cases[] = {
        {"an invalid value",
         "document D\r\nobject S: TVektScheme\r\nobject B: TVektBox\r\n"
         "Left = wide\r\nend\r\nend\r\nend\r\n",
         "Could not convert variant of type (String) into type (Int64) (property Left, line 4)"},
        {"a binary document cut short", binary.substr(0, binary.size() / 2), "Stream read error"},
        {"a binary document without its last end", binary.substr(0, binary.size() - 8),
         "Stream read error"},
        {"a reference past the table", binary.substr(0, 12) + Record(1, {Ref(40)}),
         "String table reference out of range"},
    };
    for (const Case& c : cases) {
        TVektPanel panel;
        Load(panel, CrLfText(kDocument));
        try {
            Load(panel, c.input);
            ADD_FAILURE() << c.name << ": loaded";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), c.error) << c.name;
        }
        ExpectNewDocument(panel, c.name);
        EXPECT_EQ(panel.IdPool().Ranges().front(), 1u) << c.name;
    }
}

TEST_F(Document, UnknownClassesAndRecordsArePassedOver) {
    // A binary section with an unknown class (and children), an extension record and a value
    // of an unknown type, closed by record 9; the rest is text again.
    std::string input =
        "document D\r\n" + Magic() + Record(4, {Lit("Odd"), Lit("TVektOdd")}) +
        ValueRecord("Width", 3, Le32(5)) + Record(4, {Lit("Inner"), Lit("TVektBox")}) +
        Record(7, {}) + Record(7, {}) + Record(4, {Lit("Plan"), Lit("TVektScheme")}) +
        Record(4096, {}, "extension") + ValueRecord("Default", 99, "?") +
        Record(4, {Lit("Door"), Lit("TVektBox")}) + ValueRecord("Left", 3, Le32(3000)) +
        Record(7, {}) + Record(7, {}) + Record(9, {}) + "end\r\n";
    TVektPanel panel;
    Load(panel, input);
    ASSERT_EQ(panel.Schemes()->Count(), 1);
    TVektCustomScheme* plan = panel.Schemes()->Schemes(0);
    EXPECT_EQ(plan->Name(), "Plan");
    ASSERT_EQ(plan->Count(), 1);
    EXPECT_EQ(plan->Controls(0)->Name(), "Door");
    EXPECT_EQ(plan->Controls(0)->Left(), 3000);
    EXPECT_FALSE(panel.SaveAsBinary); // the first line was text
}

TEST_F(Document, PasteTakesTheActiveSchemeAndLayer) {
    TVektPanel panel;
    Load(panel, CrLfText(kDocument));
    panel.SetActiveScheme(static_cast<TVektCustomScheme*>(panel.FindByID(6)));
    panel.SetActiveLayer(panel.Layers()->FindLayer("Layer1"));
    TVektControl* door = panel.FindByID(4);
    const std::string clip = "clipboard\r\n"
                             "object Door: TVektBox\r\n  ID = 4\r\n  Layer = Nowhere\r\nend\r\n"
                             "object Copy: TVektClone\r\n  AutoSize = False\r\n  ID = 9\r\n"
                             "  Layer = Walls\r\n  Source = \\4:Door\r\nend\r\n"
                             "object Layer9: TVektLayer\r\nend\r\nend\r\n";
    for (bool binary : {false, true}) {
        SCOPED_TRACE(binary ? "binary" : "text");
        std::string input = clip;
        if (binary) {
            TMemoryStream stream;
            TVektFiler filer(stream);
            filer.SetBinary(true);
            TMemoryStream source;
            TVektFiler reader(WriteText(source, clip));
            std::string line;
            while (reader.ReadLine(line))
                filer.WriteLine(line);
            input = Text(stream);
        }
        int before = panel.ActiveScheme()->Count();
        Load(panel, input, TVektPanel::lmPaste);
        TVektCustomScheme* upper = panel.ActiveScheme();
        ASSERT_EQ(upper->Count(), before + 2);
        TVektControl* pasted = upper->Controls(before);
        auto* copy = dynamic_cast<TVektClone*>(upper->Controls(before + 1));
        ASSERT_NE(copy, nullptr);
        // Taken IDs are replaced; the link between the pasted controls still connects.
        EXPECT_NE(pasted->ID(), 4u);
        EXPECT_EQ(copy->Source(), pasted);
        // No layer of that name: the active one; a layer that exists is taken.
        EXPECT_EQ(pasted->Layer(), panel.ActiveLayer());
        EXPECT_EQ(copy->Layer()->Name(), "Walls");
        // A layer inside a clipboard goes nowhere.
        EXPECT_EQ(panel.Layers()->Count(), 2);
        EXPECT_EQ(panel.SelectedCount(), 1); // Copy sits on Walls, which is not selectable
        EXPECT_TRUE(pasted->IsSelected());
        EXPECT_EQ(door->Parent()->ID(), 3u); // the document stays
    }
}

TEST_F(Document, SelectionIsWrittenInPaintingOrder) {
    TVektPanel panel;
    Load(panel, CrLfText(kDocument));
    panel.Layers()->FindLayer("Walls")->SetSelectable(true);
    TVektCustomScheme* ground = panel.ActiveScheme();
    TTestBox* top = NewBox(panel, ground, 0, 0, 1000, 1000);
    top->SetName("Top");
    NewBox(panel, ground, 0, 0, 1000, 1000)->SetName("Unselected");
    // Walls is painted after Layer1, so G comes last whatever the order of the children.
    ground->ChangeOrder(ground->IndexOf(panel.FindByID(8)), 0);
    for (TVektControl* c : {panel.FindByID(8), static_cast<TVektControl*>(top), panel.FindByID(4)})
        ASSERT_TRUE(panel.Select(c));

    TMemoryStream stream;
    std::unique_ptr<TVektFiler> filer = panel.CreateFiler(stream, ppSave, false);
    panel.SaveToFiler(*filer, true);
    std::string text = Text(stream);
    std::vector<std::string> heads;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find("\r\n", at);
        std::string line = text.substr(at, end - at);
        if (line.rfind("clipboard", 0) == 0 || line.rfind("  object ", 0) == 0 || line == "end")
            heads.push_back(line);
        at = end + 2;
    }
    EXPECT_EQ(heads, (std::vector<std::string>{"clipboard", "  object Door: TVektBox",
                                               "  object Top: TVektBox", "  object G: TVektGroup",
                                               "end"}));

    // Pasting it into another panel gives the same controls, selected.
    TVektPanel other;
    Load(other, text, TVektPanel::lmPaste);
    ASSERT_EQ(other.ActiveScheme()->Count(), 3);
    EXPECT_EQ(other.ActiveScheme()->Controls(2)->Controls(0)->Name(), "Copy");
    EXPECT_EQ(other.SelectedCount(), 3);
}

TEST_F(Document, ProgressFollowsTheProcess) {
    TVektPanel source;
    Load(source, CrLfText(kDocument));
    for (int i = 0; i < 50; ++i)
        NewBox(source, source.ActiveScheme(), i * 1000, 0, 1000, 1000);
    std::vector<int> seen;
    auto record = [&seen](TVektPanel&, int progress, TVektFilerProcess) {
        seen.push_back(progress);
    };
    auto rising = [](const std::vector<int>& values) {
        return std::is_sorted(values.begin(), values.end());
    };

    source.OnProgress = record;
    std::string text = Save(source, false);
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(rising(seen));
    EXPECT_EQ(seen.back(), 100); // every object written was counted
    source.OnProgress = nullptr;

    for (bool binary : {false, true}) {
        seen.clear();
        TVektPanel target;
        target.OnProgress = record;
        Load(target, binary ? Save(source, true) : text);
        ASSERT_FALSE(seen.empty());
        EXPECT_TRUE(rising(seen));
        EXPECT_EQ(seen.back(), 100);

        // A copy writes as the first half and reads as the second.
        seen.clear();
        source.SaveAsBinary = binary;
        target.Assign(source);
        ASSERT_FALSE(seen.empty());
        EXPECT_TRUE(rising(seen));
        EXPECT_EQ(seen.back(), 100);
        EXPECT_NE(std::find(seen.begin(), seen.end(), 50), seen.end());
        EXPECT_EQ(target.SaveAsBinary, binary);
        EXPECT_EQ(Save(target, false), text);
    }
}

TEST_F(Document, ClipboardCarriesTheSelection) {
    TMemoryClipboard clipboard;
    IClipboard* previous = SetClipboard(&clipboard);
    TVektPanel panel;
    Load(panel, CrLfText(kDocument));
    EXPECT_FALSE(panel.CanPaste(true));
    EXPECT_FALSE(panel.CopyToClipboard()); // nothing selected
    clipboard.SetText("plain text");
    EXPECT_FALSE(panel.CanPaste(false)); // no text control to take it yet

    ASSERT_TRUE(panel.Select(panel.FindByID(4)));
    ASSERT_TRUE(panel.CopyToClipboard());
    EXPECT_TRUE(panel.CanPaste(true));
    std::string data;
    ASSERT_TRUE(clipboard.GetFormat(TVektPanel::ControlsClipboardFormat, data));
    EXPECT_EQ(data.compare(0, 11, "clipboard\r\n"), 0);

    TVektPanel other;
    ASSERT_TRUE(other.PasteFromClipboard(false));
    ASSERT_EQ(other.ActiveScheme()->Count(), 1);
    EXPECT_EQ(other.ActiveScheme()->Controls(0)->Name(), "Door");
    SetClipboard(previous);
}
