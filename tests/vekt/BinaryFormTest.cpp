#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "BinaryRecords.h"
#include "PropText.h"
#include "SysUtils.h"
#include "VektBase.h"

namespace {

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// "01 08" style bytes and words standing for their characters.
std::string Bytes(std::initializer_list<const char*> parts) {
    std::string out;
    for (const char* part : parts) {
        std::string p = part;
        bool hex = p.size() % 3 == 2;
        for (size_t i = 0; hex && i < p.size(); ++i)
            hex = i % 3 == 2 ? p[i] == ' ' : std::isxdigit(static_cast<unsigned char>(p[i])) != 0;
        if (!hex) {
            out += p;
            continue;
        }
        for (size_t i = 0; i < p.size(); i += 3)
            out += static_cast<char>(std::stoi(p.substr(i, 2), nullptr, 16));
    }
    return out;
}

// The example document and the records the writer codes it into.
const char* kExampleLines[] = {
    "document Document",
    "  Height = 240000",
    "  ID = 1",
    "  Version = 170",
    "  Width = 320000",
    "  object Layer1: TVektLayer",
    "    ID = 2",
    "  end",
    "  object Scheme1: TVektScheme",
    "    Default = True",
    "    ID = 3",
    "    object Box: TVektBox",
    "      Layer = Layer1",
    "    end",
    "  end",
    "end",
};

std::string ExampleRecords() {
    return Bytes({
        "01 00 01 00 12 00 00 00",
        "01 08",
        "Document",
        "05 00 01 00 18 00 00 00",
        "01 06",
        "Height",
        "03 00 00 00 80 A9 03 00",
        "05 00 01 00 14 00 00 00",
        "01 02",
        "ID",
        "03 00 00 00 01 00 00 00",
        "05 00 01 00 19 00 00 00",
        "01 07",
        "Version",
        "03 00 00 00 AA 00 00 00",
        "05 00 01 00 17 00 00 00",
        "01 05",
        "Width",
        "03 00 00 00 00 E2 04 00",
        "04 00 02 00 1C 00 00 00",
        "01 06",
        "Layer1",
        "01 0A",
        "TVektLayer",
        "05 00 01 00 12 00 00 00",
        "05 03",
        "03 00 00 00 02 00 00 00",
        "07 00 00 00 08 00 00 00",
        "04 00 02 00 1E 00 00 00",
        "01 07",
        "Scheme1",
        "01 0B",
        "TVektScheme",
        "05 00 01 00 19 00 00 00",
        "01 07",
        "Default",
        "0B 00 00 00 FF FF FF FF",
        "05 00 01 00 12 00 00 00",
        "05 03",
        "03 00 00 00 03 00 00 00",
        "04 00 02 00 17 00 00 00",
        "01 03",
        "Box",
        "01 08",
        "TVektBox",
        "05 00 02 00 19 00 00 00",
        "01 05",
        "Layer",
        "05 06",
        "00 01 00 00 01 00 00 00",
        "07 00 00 00 08 00 00 00",
        "07 00 00 00 08 00 00 00",
        "07 00 00 00 08 00 00 00",
    });
}

std::vector<std::string> ReadAllLines(TVektFiler& filer) {
    std::vector<std::string> lines;
    std::string line;
    while (filer.ReadLine(line))
        lines.push_back(line);
    return lines;
}

} // namespace

TEST(BinaryForm, WriterCodesTheExampleDocumentByteForByte) {
    TMemoryStream stream;
    TVektFiler filer(stream);
    filer.SetBinary(true);
    for (const char* line : kExampleLines)
        filer.WriteLine(line);
    EXPECT_EQ(Hex(StreamText(stream)), Hex(Magic() + ExampleRecords()));

    // A rewind closes the section; the copy then reads back as the lines, indentation aside.
    filer.Rewind();
    EXPECT_EQ(Hex(StreamText(stream).substr(stream.GetSize() - 8)), "09 00 00 00 08 00 00 00");
    std::vector<std::string> expected = {"vektbinary"};
    for (const char* line : kExampleLines)
        expected.push_back(Trim(line));
    EXPECT_EQ(ReadAllLines(filer), expected);
}

TEST(BinaryForm, PanelWritesTheExampleDocument) {
    // The example without its box, as a panel writes it in the binary form.
    std::string text;
    for (const char* line : kExampleLines)
        if (std::string(line).find("Box") == std::string::npos &&
            std::string(line).find("Layer = ") == std::string::npos &&
            std::string(line) != "    end")
            text += std::string(line) + "\r\n";
    std::string records = ExampleRecords();
    size_t box = records.find(Bytes({"04 00 02 00 17 00 00 00"}));
    std::string expected = Magic() + records.substr(0, box) + Bytes({"07 00 00 00 08 00 00 00"}) +
                           Bytes({"07 00 00 00 08 00 00 00"});

    TVektPanel panel;
    TMemoryStream in;
    panel.LoadFromStream(WriteText(in, text), TVektPanel::lmReplace);
    TMemoryStream out;
    TVektFiler filer(out);
    panel.SaveAsBinary = true;
    panel.SaveToFiler(filer, false);
    EXPECT_EQ(Hex(StreamText(out)), Hex(expected));
    EXPECT_TRUE(filer.Binary()); // the section stays open: no record 9
}

TEST(BinaryForm, RecordsCarryTypedValues) {
    struct Case {
        const char* name;
        TVariant value;
        const char* line; // as ReadLine gives it back
    } cases[] = {
        {"empty", TVariant(), "V = "},
        {"null", TVariant::Null(), "V = "},
        {"smallint", TVariant::SmallInt(-7), "V = -7"},
        {"integer", TVariant(int32_t(-2000000000)), "V = -2000000000"},
        {"single", TVariant::Single(1.5f), "V = 1.5"},
        {"double", TVariant(0.25), "V = 0.25"},
        {"currency", TVariant::CurrencyScaled(12345), "V = 1.2345"},
        {"date", TVariant::Date(45000.5), "V = 45000.5"},
        {"boolean", TVariant(true), "V = True"},
        {"shortint", TVariant::ShortInt(-3), "V = -3"},
        {"byte", TVariant::Byte(200), "V = 200"},
        {"word", TVariant::Word(65535), "V = 65535"},
        {"longword", TVariant::LongWord(4000000000u), "V = 4000000000"},
        {"int64", TVariant(int64_t(-5000000000)), "V = -5000000000"},
        {"string quoted as text", TVariant("a b"), "V = 'a b'"},
        {"string code page", TVariant("\xC3\xA4"), "V = \xC3\xA4"},
        {"empty list", TVariant::Array({}), "V = ( )"},
        {"bytes", TVariant::Bytes({0x01, 0xAB}), "V = {01AB }"},
        {"no bytes", TVariant::Bytes({}), "V = { }"},
    };
    for (const Case& c : cases) {
        TMemoryStream stream;
        TVektFiler writer(stream);
        writer.SetBinary(true);
        writer.BinaryData()->WriteValue("V", c.value);
        writer.Rewind();
        std::string line;
        ASSERT_TRUE(writer.ReadLine(line)) << c.name; // the magic line
        ASSERT_TRUE(writer.ReadLine(line)) << c.name;
        EXPECT_EQ(line, c.line) << c.name;
        TVariant value;
        ASSERT_TRUE(writer.TakeValue(value)) << c.name;
        EXPECT_EQ(value, c.value) << c.name;
        EXPECT_FALSE(writer.TakeValue(value)) << c.name << ": a value is taken once";
    }

    // A list gives its items as the lines that follow, for readers that take text.
    TMemoryStream stream;
    TVektFiler filer(stream);
    filer.SetBinary(true);
    filer.BinaryData()->WriteValue("Hint", TVariant::Array({TVariant("one"), TVariant("it's")}));
    filer.Rewind();
    EXPECT_EQ(ReadAllLines(filer),
              (std::vector<std::string>{"vektbinary", "Hint = (", "'one'", "'it's' )"}));

    // Any boolean other than 0 is True.
    TMemoryStream odd;
    std::string bytes = Magic() + ValueRecord("B", 11, Le32(2));
    TVektFiler reader(WriteText(odd, bytes));
    std::string line;
    reader.ReadLine(line);
    ASSERT_TRUE(reader.ReadLine(line));
    EXPECT_EQ(line, "B = True");
}

TEST(BinaryForm, TextLinesBecomeTheRightRecords) {
    struct Case {
        const char* name;
        std::vector<const char*> lines;
        TVariant value; // its type is the record's type code
    } cases[] = {
        {"a plain integer", {"X = 12"}, TVariant(int32_t(12))},
        {"a negative integer", {"X = -5"}, TVariant(int32_t(-5))},
        {"zero stays text", {"X = 0"}, TVariant("0")},
        {"minus zero stays text", {"X = -0"}, TVariant("-0")},
        {"past 32 bits stays text", {"X = 2147483648"}, TVariant("2147483648")},
        {"a leading zero stays text", {"X = 012"}, TVariant("012")},
        {"a float is text", {"X = 1.5"}, TVariant("1.5")},
        {"booleans", {"X = True"}, TVariant(true)},
        {"only the exact words", {"X = true"}, TVariant("true")},
        {"quotes come off", {"X = 'a b'"}, TVariant("a b")},
        {"an empty value", {"X = "}, TVariant("")},
        {"a set", {"X = [fsBold,fsItalic]"}, TVariant("[fsBold,fsItalic]")},
        {"a list", {"X = (", "  'a'", "  'b' )"}, TVariant::Array({TVariant("a"), TVariant("b")})},
        {"an empty list", {"X = ( )"}, TVariant::Array({})},
        {"a byte block", {"X = {", "  00FF", "  10 }"}, TVariant::Bytes({0x00, 0xFF, 0x10})},
        {"an empty block", {"X = { }"}, TVariant::Bytes({})},
    };
    for (const Case& c : cases) {
        TMemoryStream stream;
        TVektFiler filer(stream);
        filer.SetBinary(true);
        for (const char* line : c.lines)
            filer.WriteLine(line);
        filer.Rewind();
        TVektFiler reader(stream);
        std::string line;
        reader.ReadLine(line);
        ASSERT_TRUE(reader.ReadLine(line)) << c.name;
        TVariant value;
        ASSERT_TRUE(reader.TakeValue(value)) << c.name;
        EXPECT_EQ(value, c.value) << c.name;
    }

    struct Bad {
        const char* name;
        std::vector<const char*> lines;
    } bad[] = {
        {"no equals sign", {"Width 5"}},
        {"an unterminated quote", {"Name = 'open"}},
        {"a lone quote", {"Name = '"}},
        {"bad hexadecimal", {"Data = {", "  ZZ }"}},
    };
    for (const Bad& b : bad) {
        TMemoryStream stream;
        TVektFiler filer(stream);
        filer.SetBinary(true);
        try {
            for (const char* line : b.lines)
                filer.WriteLine(line);
            ADD_FAILURE() << b.name << ": no error";
        } catch (const EWriteError& e) {
            EXPECT_EQ(e.Message(), "Stream write error") << b.name;
        }
    }
}

TEST(BinaryForm, StringTableStaysInStepPastItsLimit) {
    // More distinct strings than the table holds, then strings from before the trim (written as
    // literals again) and from after it (references): every line must read back as written.
    constexpr int kDistinct = 70000;
    std::vector<std::string> lines;
    for (int i = 0; i < kDistinct; ++i)
        lines.push_back("N" + std::to_string(i) + " = v" + std::to_string(i));
    for (int i : {0, 1, 57342, 57343, 60000, kDistinct - 1})
        lines.push_back("N" + std::to_string(i) + " = v" + std::to_string(i));

    TMemoryStream stream;
    TVektFiler writer(stream);
    writer.SetBinary(true);
    for (const std::string& line : lines)
        writer.WriteLine(line);
    TVektBinaryData& coder = *writer.BinaryData();
    EXPECT_LE(coder.StringCount(), TVektBinaryData::MaxStrings);

    std::string raw = StreamText(stream);
    std::string trim = Bytes({"08 00 00 00 0C 00 00 00 00 20 00 00"});
    size_t trims = 0;
    for (size_t at = raw.find(trim); at != std::string::npos; at = raw.find(trim, at + 1))
        ++trims;
    EXPECT_GE(trims, 2u); // two strings a line

    writer.Rewind();
    TVektFiler reader(stream);
    std::vector<std::string> read = ReadAllLines(reader);
    ASSERT_EQ(read.size(), lines.size() + 1);
    read.erase(read.begin()); // the magic line
    EXPECT_EQ(read, lines);
}

TEST(BinaryForm, LoaderReadsPassOverWhatHasNoLine) {
    // Extensions, values of unknown types, names that look like keywords and a trim inside
    // the binary section, then record 9 and text again.
    std::string input = "document Doc\r\n" + Magic() +
                        ValueRecord("end", 3, Le32(1)) +                // a name, not a keyword
                        Record(4096, {Lit("ext")}, "payload") +         // reserved
                        ValueRecord("Odd", 77, "xx") +                  // unknown type
                        Record(8, {}, Le32(1)) +                        // trims "end"
                        ValueRecord("ID", 3, Le32(9)) + Record(9, {}) + // back to text
                        "ID = 10\r\nend\r\n";
    TMemoryStream stream;
    TVektFiler filer(WriteText(stream, input));
    std::vector<std::string> lines;
    std::string line;
    while (filer.NextLine(line))
        lines.push_back(std::to_string(filer.LineKind(line)) + ":" + line);
    EXPECT_EQ(lines, (std::vector<std::string>{"4:document Doc", "0:end = 1", "0:ID = 9",
                                               "0:ID = 10", "1:end"}));
}

TEST(BinaryForm, MalformedRecordsFailCleanly) {
    struct Case {
        const char* name;
        std::string records; // after the magic line
        const char* error;
    } cases[] = {
        {"a short header", std::string("\x05\x00\x01", 3), "Stream read error"},
        {"a size below the header", Record(7, {}, "", 4), "Stream read error"},
        {"a size past the stream", Record(7, {}, "", 1000), "Stream read error"},
        {"a size past the stream, 4 GiB", Record(7, {}, "", 0xFFFFFFFF), "Stream read error"},
        {"keys that cannot fit", Record(7, {}, "", 8, 3), "Stream read error"},
        {"a width of 0", Record(1, {TRecordKey{std::string("\x00\x01", 2)}}), "Stream read error"},
        {"a literal past its record",
         Record(1, {TRecordKey{"\x01\x40"
                               "abc"}}),
         "Stream read error"},
        {"a reference past the table", Record(1, {Ref(9)}), "String table reference out of range"},
        {"a value without its code", Record(5, {Lit("ID")}, "\x03"), "Stream read error"},
        {"an integer cut short", ValueRecord("ID", 3, "\x01\x02"), "Stream read error"},
        {"a string in a key it has not", ValueRecord("Tag", 256, Le32(4)), "Stream read error"},
        {"a list that counts too many", ValueRecord("Hint", 512, Le32(0x40000000)),
         "Stream read error"},
        {"a list item past the payload", ValueRecord("Hint", 512, Le32(1) + Le32(99) + "ab"),
         "Stream read error"},
        {"a trim without its count", Record(8, {}, "\x01"), "Stream read error"},
        {"the end before the document closes", ValueRecord("ID", 3, Le32(1)), "Stream read error"},
    };
    for (const Case& c : cases) {
        TMemoryStream stream;
        TVektFiler filer(WriteText(stream, Magic() + Record(1, {Lit("Doc")}) + c.records));
        std::string line;
        try {
            while (filer.NextLine(line)) {
                if (filer.LineKind(line) == lkValue) {
                    TVariant value;
                    filer.TakeValue(value);
                }
            }
            ADD_FAILURE() << c.name << ": no error";
        } catch (const EReadError& e) {
            EXPECT_EQ(e.Message(), c.error) << c.name;
        }
    }
}
