#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeDocument.h"
#include "PropText.h"

namespace {

std::vector<uint8_t> Bytes(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    return bytes;
}

// A list with one property of every plain kind used by the tables below.
struct TPlainList {
    TPropList List;
    std::vector<uint8_t> Data;
    TStrProp* S = new TStrProp(&List, "S");
    TStrListProp* L = new TStrListProp(&List, "L");
    TDataProp* D = new TDataProp(&List, "D");
    TEnumProp* E = new TEnumProp(&List, "E");
    TBoolProp* B = new TBoolProp(&List, "B");
    TIntProp* I = new TIntProp(&List, "I");
    TLongWordProp* W = new TLongWordProp(&List, "W");
    TPlainList() {
        D->OnGetData = [this] { return Data; };
        D->OnSetData = [this](const std::vector<uint8_t>& bytes) { Data = bytes; };
        E->AddItem("Always");
        E->AddItem("AsNeeded");
        E->AddItem("Never");
    }
    // Only the named property is written.
    std::string Text(const std::string& name) {
        TMemoryStream stream;
        TVektFiler filer(stream);
        TCustomProp* prop = List.ByName(name);
        List.SaveProp(filer, *prop, false, name, 0);
        std::string raw = StreamText(stream), text;
        for (char c : raw)
            if (c != '\r') text += c;
        return text;
    }
};

std::string Lines(std::initializer_list<const char*> lines) {
    std::string text;
    for (const char* line : lines)
        text += std::string(line) + "\n";
    return text;
}

} // namespace

TEST(PropText, WritesValuesByTheQuotingRules) {
    struct Case {
        const char* name;
        std::function<void(TPlainList&)> set;
        const char* prop;
        std::string text;
    } cases[] = {
        {"plain string", [](TPlainList& p) { p.S->SetValue("abc"); }, "S", "S = abc\n"},
        {"space quotes", [](TPlainList& p) { p.S->SetValue("a b"); }, "S", "S = 'a b'\n"},
        {"apostrophe unescaped", [](TPlainList& p) { p.S->SetValue("it's"); }, "S", "S = 'it's'\n"},
        {"empty string", [](TPlainList&) {}, "S", "S = \n"},
        {"leading paren", [](TPlainList& p) { p.S->SetValue("(x"); }, "S", "S = '(x'\n"},
        {"leading brace", [](TPlainList& p) { p.S->SetValue("{x}"); }, "S", "S = '{x}'\n"},
        {"control char", [](TPlainList& p) { p.S->SetValue("a\tb"); }, "S", "S = 'a\tb'\n"},
        {"equals sign", [](TPlainList& p) { p.S->SetValue("a=b"); }, "S", "S = a=b\n"},
        {"no lines", [](TPlainList&) {}, "L", "L = ( )\n"},
        {"one line", [](TPlainList& p) { p.L->SetLines({"x"}); }, "L", "L = (\n  'x' )\n"},
        {"lines unsplit",
         [](TPlainList& p) {
             p.L->SetLines({"a=b", "it's"});
         },
         "L", "L = (\n  'a=b'\n  'it's' )\n"},
        {"no data", [](TPlainList&) {}, "D", "D = { }\n"},
        {"enum name", [](TPlainList& p) { p.E->SetEnumIndex(1); }, "E", "E = AsNeeded\n"},
        {"boolean", [](TPlainList& p) { p.B->SetValue(true); }, "B", "B = True\n"},
        {"negative", [](TPlainList& p) { p.I->SetValue(-5); }, "I", "I = -5\n"},
        {"unsigned", [](TPlainList& p) { p.W->SetValue(0xFFFFFFFFu); }, "W", "W = 4294967295\n"},
    };
    for (const Case& c : cases) {
        TPlainList p;
        c.set(p);
        EXPECT_EQ(p.Text(c.prop), c.text) << c.name;
    }
}

TEST(PropText, SixtyFiveBytesMakeThreeLines) {
    TPlainList p;
    p.Data = Bytes(65);
    std::string text = p.Text("D");
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t nl = text.find('\n', at);
        lines.push_back(text.substr(at, nl - at));
        at = nl + 1;
    }
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "D = {");
    EXPECT_EQ(lines[1], "  01080F161D242B323940474E555C636A71787F868D949BA2A9B0B7BEC5CCD3DA");
    EXPECT_EQ(lines[2].size(), 2u + 64u);
    EXPECT_EQ(lines[3], "  C1 }"); // 64 * 7 + 1 = 449 = 0x1C1
    LoadText(p.List, CrLfText("I = 1\n" + text));
    EXPECT_EQ(p.Data, Bytes(65));
}

TEST(PropText, ReadsValueTextsAndWritesThemBack) {
    struct Case {
        const char* name;
        std::string input;
        const char* prop;
        TVariant stored;
        std::string written;
    } cases[] = {
        {"quoted space", "S = 'a b'", "S", TVariant("a b"), "S = 'a b'\n"},
        {"bare apostrophe", "S = it's", "S", TVariant("it's"), "S = 'it's'\n"},
        {"quoted apostrophe", "S = 'it's'", "S", TVariant("it's"), "S = 'it's'\n"},
        {"empty", "S = ", "S", TVariant(""), "S = \n"},
        {"empty quotes", "S = ''", "S", TVariant(""), "S = \n"},
        {"equals in value", "S = a=b", "S", TVariant("a=b"), "S = a=b\n"},
        {"padding trimmed", "  S   =   x  ", "S", TVariant("x"), "S = x\n"},
        {"no lines", "L = ( )", "L", TVariant(), "L = ( )\n"},
        {"items keep equals signs", "L = (\n  'a=b'\n  'c' )", "L",
         TVariant::Array({TVariant("a=b"), TVariant("c")}), "L = (\n  'a=b'\n  'c' )\n"},
        {"unquoted items ignored", "L = (\n  junk\n  'x'  )   ", "L",
         TVariant::Array({TVariant("x")}), "L = (\n  'x' )\n"},
        {"last item with paren", "L = (\n  'a)' )", "L", TVariant::Array({TVariant("a)")}),
         "L = (\n  'a)' )\n"},
        {"empty data", "D = { }", "D", TVariant::Bytes({}), "D = { }\n"},
        {"lower-case hex", "D = {\n  0a0B }", "D", TVariant::Bytes({0x0A, 0x0B}),
         "D = {\n  0A0B }\n"},
        {"odd digit ignored", "D = {\n  0A0 }", "D", TVariant::Bytes({0x0A}), "D = {\n  0A }\n"},
        {"enum by name", "E = never", "E", TVariant("Never"), "E = Never\n"},
        {"unknown enum name kept", "E = AsNeeded\nE = Sometimes", "E", TVariant("AsNeeded"),
         "E = AsNeeded\n"},
        {"boolean", "B = true", "B", TVariant(true), "B = True\n"},
        {"hex integer", "I = $10", "I", TVariant(16), "I = 16\n"},
    };
    for (const Case& c : cases) {
        TPlainList p;
        LoadText(p.List, CrLfText(c.input + "\n"));
        EXPECT_EQ(p.List.ByName(c.prop)->GetPropValue(""), c.stored) << c.name;
        EXPECT_EQ(p.Text(c.prop), c.written) << c.name;
    }
}

TEST(PropText, ComplexPropertiesWriteOnlyWhatDiffersFromTheDefaults) {
    TPropList list;
    auto* brush = new TBrushProp(&list, "Brush");
    auto* font = new TFontProp(&list, "Font");
    auto* pen = new TPenProp(&list, "Pen");
    new TLineCapProp(&list, "Cap");
    new TBackgroundOptionsProp(&list, "Background");
    // Nothing differs: no empty blocks; a font always writes its size, never "Arial".
    EXPECT_EQ(SaveText(list), Lines({"property Font", "  Size = 8250", "end"}));
    EXPECT_EQ(font->Height(), -11000);

    brush->SetBrushStyle(bsClear);
    font->SetFontStyles(1 << fsBold | 1 << fsItalic);
    font->SetFontName("Tahoma");
    pen->SetColor(clNone);
    pen->SetWidth(1);
    EXPECT_EQ(SaveText(list),
              Lines({"property Brush", "  Style = bsClear", "end", "property Font",
                     "  Name = Tahoma", "  Size = 8250", "  Style = [fsBold,fsItalic]", "end",
                     "property Pen", "  Color = 536870911", "end"}));
}

TEST(PropText, SaveAllWritesEverySubProperty) {
    TPropList list;
    new TFontProp(&list, "Font");
    new TStrProp(&list, "Hidden", propNotStored);
    EXPECT_EQ(SaveText(list, true),
              Lines({"property Font", "  PixelsPerInch = 96", "  Charset = 1", "  Color = 0",
                     "  Height = -11000", "  Name = Arial", "  Pitch = fpDefault", "  Size = 8250",
                     "  Style = []", "end", "Hidden = "}));
}

// Every property class with values other than its defaults, written, read into a fresh list
// and written again: both texts agree, in the stored form and in the save-all form.
TEST(PropText, EveryClassRoundTrips) {
    struct TDocument {
        TFakePanel Panel;
        TFakeControl& Layer1 = Panel.AddRoot(2, "Layer1");
        TFakeControl& Layer2 = Panel.AddRoot(3, "Layer2");
        TFakeControl& Scheme = Panel.AddRoot(4, "Scheme1");
        TFakeControl& Target = Scheme.AddChild(10, "Target");
        TFakeControl& Owner = Scheme.AddChild(11, "Owner");
        std::vector<uint8_t> Data;
        TDocument() {
            Panel.Layers = {&Layer1, &Layer2};
            Panel.Schemes = {&Scheme};
            Owner.Layer = &Layer1;
            new TIntProp(&Target.Props, "Width");
            AddPropOfEveryClass(Owner.Props, Data, {"One", "Two Words"});
        }
    };
    TDocument a, b;
    TPropList& l = a.Owner.Props;
    static_cast<TEnumProp*>(l.ByName("Enum"))->SetEnumIndex(1);
    static_cast<TBoolProp*>(l.ByName("Bool"))->SetValue(true);
    static_cast<TIntProp*>(l.ByName("Int"))->SetValue(-123456);
    static_cast<TLongWordProp*>(l.ByName("LongWord"))->SetValue(3000000000u);
    static_cast<TStrProp*>(l.ByName("Str"))->SetValue("(quoted) it's");
    static_cast<TStrListProp*>(l.ByName("StrList"))->SetLines({"", "a = b", "'x'"});
    static_cast<TUserDataProp*>(l.ByName("UserData"))->SetValueByName("ParadoxAFM", "Zone");
    a.Data = Bytes(40);
    auto* brush = static_cast<TBrushProp*>(l.ByName("Brush"));
    brush->SetMethod(bmGradient);
    brush->SetColor(0x123456);
    brush->SetBrushStyle(bsDiagCross);
    brush->SetBitmapLinkName("pattern.bmp");
    brush->SetBitmapMasked(true);
    brush->SetBitmapMaskColor(0xFF00FF);
    brush->SetBitmapCache(true);
    brush->SetBitmapDisplay(bdStretch);
    brush->SetGradStyle(gsBottomRight);
    brush->SetGradBeginColor(0xFF);
    brush->SetGradEndColor(0xFF0000);
    auto* cap = static_cast<TLineCapProp*>(l.ByName("Cap"));
    cap->SetCapStyle(3);
    cap->SetFixedSize(true);
    cap->SetSize(12000);
    cap->SetFixedOutlineColor(true);
    cap->SetOutlineColor(0x00FF00);
    cap->SetFixedFillColor(true);
    cap->SetFillColor(0);
    auto* pen = static_cast<TPenProp*>(l.ByName("Pen"));
    pen->SetColor(0x808080);
    pen->SetPenStyle(psDashDot);
    pen->SetMode(pmNotXor);
    pen->SetWidth(2500);
    pen->SetEndCap(pecRound);
    pen->SetJoin(pjBevel);
    pen->SetSolidAsInside(false);
    auto* font = static_cast<TFontProp*>(l.ByName("Font"));
    font->SetCharset(0);
    font->SetColor(0xFF);
    font->SetFontName("Segoe UI");
    font->SetPitch(fpFixed);
    font->SetSize(12000);
    font->SetFontStyles(0x0F);
    auto* background = static_cast<TBackgroundOptionsProp*>(l.ByName("Background"));
    background->SetPictureEnabled(false);
    background->SetBrushEnabled(false);
    background->SetPictureOptions(1 << bpOffsetLeft | 1 << bpAlignBottom);
    background->SetTop(1000);
    background->SetLeft(-2000);
    background->SetWidth(3000);
    background->SetHeight(4000);
    l.ByName("Layer")->SetPropValue("", TVariant("Layer2"));
    static_cast<TSchemeRefProp*>(l.ByName("Reference"))->SetValue(4);
    static_cast<TLinkProp*>(l.ByName("Link"))->SetLink(&a.Target, a.Target.Props.ByName("Width"));

    for (bool saveAll : {false, true}) {
        TDocument fresh;
        std::string text = SaveText(l, saveAll);
        TPropRefList refs;
        LoadText(fresh.Owner.Props, CrLfText(text), &refs);
        refs.Apply();
        EXPECT_EQ(SaveText(fresh.Owner.Props, saveAll), text) << (saveAll ? "all" : "stored");
        if (!saveAll) {
            EXPECT_NE(text.find("Link = \\10:Target\\Width"), std::string::npos) << text;
            EXPECT_NE(text.find("Layer = Layer2"), std::string::npos) << text;
            EXPECT_NE(text.find("Str = '(quoted) it's'"), std::string::npos) << text;
        }
    }
}

namespace {

// A pen with two pens of its own as published sub-objects, as the partition pens have.
class TStatePen : public TPenProp {
public:
    TStatePen(TPropList* list, const std::string& name)
        : TPenProp(list, name)
        , FArmed(nullptr, "")
        , FAlarm(nullptr, "") {
        FAlarm.SetColor(clRed); // defaults first: once parented, changes are the pen's changes
        FArmed.SetParentProp(this, "PenArmed");
        FAlarm.SetParentProp(this, "PenAlarm");
    }
    const std::vector<TSubPropInfo>& Published() const override {
        static const std::vector<TSubPropInfo> table = [this] {
            std::vector<TSubPropInfo> t = TPenProp::Published();
            t.push_back({"PenArmed", TSubPropType::Object});
            t.push_back({"PenAlarm", TSubPropType::Object});
            return t;
        }();
        return table;
    }
    TPenProp FArmed, FAlarm;

protected:
    TCustomProp* PublishedObject(int index) override {
        return index == kSolidAsInside + 1   ? &FArmed
               : index == kSolidAsInside + 2 ? &FAlarm
                                             : nullptr;
    }
};

} // namespace

TEST(PropText, PropertyObjectsAsSubPropertiesNest) {
    TPropList list;
    TFakeHistory history;
    list.SetHistory(&history);
    auto* pen = new TStatePen(&list, "Pen");
    std::vector<std::string> changed;
    list.OnPropChanged = [&](TCustomProp& p) { changed.push_back(p.QualifiedName()); };
    // The nested pen's own rules apply even when everything is written.
    list.OnPropStored = [&](TCustomProp& p, std::string_view sub, bool& stored) {
        if (&p == &pen->FAlarm && sub == "Color")
            stored = p.GetPropValue("Color") != TVariant(clRed);
    };
    EXPECT_EQ(pen->GetPropType("penarmed"), pkComplex);
    pen->FArmed.SetWidth(2000);
    EXPECT_EQ(changed, (std::vector<std::string>{"Pen.PenArmed"}));
    EXPECT_EQ(history.Recorded, (std::vector<std::string>{"TPropHistoryAction:Pen"}));
    EXPECT_EQ(SaveText(list),
              Lines({"property Pen", "  property PenArmed", "    Width = 2000", "  end", "end"}));
    std::string all = SaveText(list, true);
    EXPECT_NE(all.find("  property PenArmed\n    Width = 2000\n  end\n"), std::string::npos);
    EXPECT_EQ(all.find("property PenAlarm"), std::string::npos) << all;

    TPropList copy;
    auto* again = new TStatePen(&copy, "Pen");
    LoadText(copy, CrLfText("property Pen\n  Width = 3000\n  property PenAlarm\n"
                            "    Color = 255\n    Style = psDot\n  end\n"
                            "  property PenNone\n    Width = 1\n  end\nend\n"));
    EXPECT_EQ(again->Width(), 3000);
    EXPECT_EQ(again->FAlarm.PenStyle(), psDot);
    EXPECT_EQ(again->FAlarm.Color(), 255);
    list.SetHistory(nullptr);
}
