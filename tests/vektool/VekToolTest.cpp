#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "BinaryRecords.h"
#include "UtilityStream.h"
#include "VekTool.h"

namespace {

// Classes this program does not have (shapes), with the value forms they carry.
const char* kDrawing =
    "document Plan\r\n"
    "  Height = 240000\r\n"
    "  ID = 1\r\n"
    "  Version = 170\r\n"
    "  Width = 320000\r\n"
    "  object Layer1: TVektLayer\r\n"
    "    ID = 2\r\n"
    "  end\r\n"
    "  object Ground: TVektScheme\r\n"
    "    Default = True\r\n"
    "    ID = 3\r\n"
    "    object Label: TVektText\r\n"
    "      ID = 4\r\n"
    "      Layer = Layer1\r\n"
    "      Lines = (\r\n"
    "        'Varasto'\r\n"
    "        'it's here' )\r\n"
    "      property Font\r\n"
    "        Name = 'Segoe UI'\r\n"
    "        Size = 8250\r\n"
    "        Style = [fsBold]\r\n"
    "      end\r\n"
    "      Ratio = 1.5\r\n"
    "    end\r\n"
    "    object Logo: TVektPicture\r\n"
    "      Data = {\r\n"
    "        000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F\r\n"
    "        20 }\r\n"
    "      Empty = { }\r\n"
    "      ID = 5\r\n"
    "      Left = 0\r\n"
    "      Zero = \r\n"
    "    end\r\n"
    "    object Door: TVektControl\r\n"
    "      ID = 6\r\n"
    "      Layer = Layer1\r\n"
    "    end\r\n"
    "  end\r\n"
    "end\r\n";

class VekTool : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vektool-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        Dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + Dir + "'").c_str()); }

    std::string Path(const std::string& name) const { return Dir + "/" + name; }
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }
    std::string Read(const std::string& name) const {
        std::ifstream file(Path(name), std::ios::binary);
        std::ostringstream content;
        content << file.rdbuf();
        return content.str();
    }
    bool Exists(const std::string& name) const { return access(Path(name).c_str(), F_OK) == 0; }
    int Run(std::vector<std::string> args) {
        Out.str({});
        Err.str({});
        for (std::string& arg : args)
            if (arg.rfind("@", 0) == 0) arg = Path(arg.substr(1));
        return RunVekTool(args, Out, Err);
    }

    std::string Dir;
    std::ostringstream Out, Err;
};

} // namespace

TEST_F(VekTool, ConvertKeepsEveryBlockByteForByte) {
    Write("plan.vekt", kDrawing);
    ASSERT_EQ(Run({"convert", "@plan.vekt", "@plan.bin"}), 0) << Err.str();
    std::string binary = Read("plan.bin");
    ASSERT_EQ(binary.compare(0, 12, Magic()), 0);
    ASSERT_EQ(Run({"convert", "@plan.bin", "@back.vekt"}), 0) << Err.str();
    EXPECT_EQ(Read("back.vekt"), kDrawing);
    ASSERT_EQ(Run({"convert", "@plan.bin", "@again.bin", "--binary"}), 0) << Err.str();
    EXPECT_EQ(Read("again.bin"), binary);
    ASSERT_EQ(Run({"convert", "@plan.vekt", "@same.vekt", "--text"}), 0) << Err.str();
    EXPECT_EQ(Read("same.vekt"), kDrawing);

    // A value the text form cannot carry is refused, and nothing is written.
    Write("odd.bin", Magic() + Record(1, {Lit("D")}) +
                         Record(5, {Lit("Note"), Lit("two\r\nlines")}, Le32(256) + Le32(1)) +
                         Record(7, {}));
    EXPECT_EQ(Run({"convert", "@odd.bin", "@odd.vekt"}), 1);
    EXPECT_NE(Err.str().find("cannot carry"), std::string::npos) << Err.str();
    EXPECT_FALSE(Exists("odd.vekt"));
}

TEST_F(VekTool, CheckSaysWhatLoadedOrWhereItFailed) {
    Write("plan.vekt", kDrawing);
    ASSERT_EQ(Run({"check", "@plan.vekt"}), 0) << Err.str();
    EXPECT_NE(Out.str().find("text form, 1 schemes, 1 layers, 1 controls"), std::string::npos)
        << Out.str();
    EXPECT_NE(Out.str().find("skipped unknown classes: TVektPicture (1) TVektText (1)"),
              std::string::npos)
        << Out.str();

    ASSERT_EQ(Run({"convert", "@plan.vekt", "@plan.bin"}), 0);
    std::string binary = Read("plan.bin");
    struct Case {
        const char* name;
        std::string bytes;
        const char* message;
    } cases[] = {
        {"a bad value", "document D\r\nobject S: TVektScheme\r\n  ID = many\r\nend\r\nend\r\n",
         "(property ID, line 3)"},
        {"a cut binary document", binary.substr(0, 150),
         ": record 7 at byte 146: Stream read error"},
        {"no document", "hello\r\n", ": line 1: Data format error"},
    };
    for (const Case& c : cases) {
        Write("bad", c.bytes);
        EXPECT_EQ(Run({"check", "@bad"}), 1) << c.name;
        EXPECT_NE(Err.str().find(c.message), std::string::npos) << c.name << ": " << Err.str();
        EXPECT_EQ(Err.str().find('\n'), Err.str().size() - 1) << c.name << ": one line";
    }
}

TEST_F(VekTool, PackAndUnpackTheDrawingPayload) {
    Write("plan.vekt", kDrawing);
    ASSERT_EQ(Run({"pack", "@plan.vekt", "@bg_cache"}), 0) << Err.str();
    ASSERT_EQ(Run({"unpack", "@bg_cache", "@out.vekt"}), 0) << Err.str();
    EXPECT_EQ(Read("out.vekt"), kDrawing);
    // Payloads are read wherever documents are.
    ASSERT_EQ(Run({"check", "@bg_cache"}), 0) << Err.str();
    ASSERT_EQ(Run({"dump", "@bg_cache"}), 0) << Err.str();
    EXPECT_NE(Out.str().find("    TVektText \"Label\" ID 4 layer \"Layer1\" (unknown class)"),
              std::string::npos)
        << Out.str();
    EXPECT_NE(Out.str().find("unknown classes: TVektPicture (1) TVektText (1)"), std::string::npos);

    // Sections before the document are passed over; a document section longer than the
    // payload is refused.
    auto payload = [](const std::vector<std::pair<uint8_t, std::string>>& sections) {
        TMemoryStream raw;
        for (const auto& [tag, bytes] : sections)
            WriteDrawingSection(raw, tag, bytes.data(), static_cast<int64_t>(bytes.size()));
        raw.SetPosition(0);
        TMemoryStream packed;
        CompressStream(raw, packed);
        return std::string(static_cast<const char*>(packed.Memory()),
                           static_cast<size_t>(packed.GetSize()));
    };
    Write("two.pay", payload({{7, "other"}, {0, "document D\r\nend\r\n"}}));
    ASSERT_EQ(Run({"unpack", "@two.pay", "@two.vekt"}), 0) << Err.str();
    EXPECT_EQ(Read("two.vekt"), "document D\r\nend\r\n");

    std::string doc = "document D\r\nend\r\n";
    TMemoryStream raw;
    raw.WriteBuffer("\0", 1);
    raw.WriteBuffer(Le32(1000).data(), 4); // claims more than there is
    raw.WriteBuffer(Le32(0).data(), 4);
    raw.WriteBuffer(doc.data(), static_cast<int64_t>(doc.size()));
    raw.SetPosition(0);
    TMemoryStream packed;
    CompressStream(raw, packed);
    Write("long.pay", std::string(static_cast<const char*>(packed.Memory()), packed.GetSize()));
    EXPECT_EQ(Run({"unpack", "@long.pay", "@long.vekt"}), 1);
    EXPECT_NE(Err.str().find("runs past the end"), std::string::npos) << Err.str();
    EXPECT_FALSE(Exists("long.vekt"));

    Write("none.pay", payload({{3, "x"}}));
    EXPECT_EQ(Run({"unpack", "@none.pay", "@none.vekt"}), 1);
    Write("garbage.pay", "\x78\x9C not zlib at all");
    EXPECT_EQ(Run({"unpack", "@garbage.pay", "@g.vekt"}), 1);
    EXPECT_EQ(Run({"pack", "@garbage.pay", "@g2"}), 1); // not a document
}

TEST_F(VekTool, UsageErrors) {
    struct Case {
        std::vector<std::string> args;
        int code;
    } cases[] = {
        {{}, 2},
        {{"--help"}, 0},
        {{"convert", "a"}, 2},
        {{"dump", "a", "b"}, 2},
        {{"frobnicate", "a"}, 2},
        {{"check", "--fast", "a"}, 2},
        {{"check", "@missing"}, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.args), c.code) << (c.args.empty() ? "" : c.args[0]);
        if (c.code != 0) {
            EXPECT_FALSE(Err.str().empty());
        }
    }
    Run({"--help"});
    EXPECT_NE(Out.str().find("convert IN OUT"), std::string::npos);
}
