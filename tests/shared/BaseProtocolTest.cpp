#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "BaseProtocol.h"

namespace {

std::string Bytes(const TBufferProtocol& p) {
    return std::string(reinterpret_cast<const char*>(p.Data()), static_cast<size_t>(p.GetSize()));
}

// A codec holding exactly these bytes, cursor at 0.
std::unique_ptr<TBufferProtocol> Holding(const std::string& bytes) {
    auto p = std::make_unique<TBufferProtocol>(64);
    p->WriteBuf(static_cast<int32_t>(bytes.size()), bytes.data());
    p->SetPosition(0);
    return p;
}

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

const std::string ReadBeyond = "Attempt to read beyond end of buffer!";

} // namespace

TEST(BufferProtocol, WritesTheLittleEndianWireEncoding) {
    struct Case {
        const char* name;
        std::function<void(TBufferProtocol&)> write;
        std::string bytes;
    } cases[] = {
        {"small integer", [](auto& p) { p.WriteSmallInt(-2); }, std::string("\xFE\xFF", 2)},
        {"integer", [](auto& p) { p.WriteInteger(0x01020304); }, "\x04\x03\x02\x01"},
        {"64-bit", [](auto& p) { p.WriteInt64(-1); }, std::string(8, '\xFF')},
        {"word", [](auto& p) { p.WriteWord(0xABCD); }, "\xCD\xAB"},
        {"long word", [](auto& p) { p.WriteLongWord(0xFFFFFFFE); }, "\xFE\xFF\xFF\xFF"},
        {"boolean true", [](auto& p) { p.WriteBoolean(true); }, "\x01"},
        {"boolean false", [](auto& p) { p.WriteBoolean(false); }, std::string(1, '\0')},
        {"double 1.0", [](auto& p) { p.WriteDouble(1.0); }, std::string("\0\0\0\0\0\0\xF0\x3F", 8)},
        {"string in the code page", [](auto& p) { p.WriteString("Hälytys"); },
         std::string("\x07\0\0\0H\xE4lytys", 11)},
        {"empty string", [](auto& p) { p.WriteString(""); }, std::string(4, '\0')},
        {"variant tag 19 keeps 16 bits", [](auto& p) { p.WriteVariant(TVariant::LongWord(70000)); },
         std::string("\x13\0\x70\x11", 4)},
        {"variant tag 8 is written as code-page text",
         [](auto& p) { p.WriteVariant(TVariant::OleStr("ö")); },
         std::string("\x08\0\x01\0\0\0\xF6", 7)},
        {"variant small integer takes 4 bytes",
         [](auto& p) { p.WriteVariant(TVariant::SmallInt(-1)); },
         std::string("\x02\0\xFF\xFF\xFF\xFF", 6)},
    };
    for (const Case& c : cases) {
        TBufferProtocol p(64);
        c.write(p);
        EXPECT_EQ(Bytes(p), c.bytes) << c.name;
        EXPECT_EQ(p.Position(), p.GetSize()) << c.name;
    }
}

TEST(BufferProtocol, VariantRoundTripsChangeTypesAsTheFormatSays) {
    struct Case {
        const char* name;
        TVariant written;
        TVariant read;
    } cases[] = {
        {"tag 19 above 65535 loses its upper half", TVariant::LongWord(70000),
         TVariant::Word(4464)},
        {"empty comes back null", TVariant(), TVariant::Null()},
        {"null stays null", TVariant::Null(), TVariant::Null()},
        {"single comes back double", TVariant::Single(1.5f), TVariant(1.5)},
        {"currency comes back double", TVariant::Currency(2.25), TVariant(2.25)},
        {"small integer comes back integer", TVariant::SmallInt(-300), TVariant(-300)},
        {"shortint comes back integer", TVariant::ShortInt(-5), TVariant(-5)},
        {"wide string comes back string", TVariant::OleStr("Öljy"), TVariant("Öljy")},
        {"byte", TVariant::Byte(200), TVariant::Byte(200)},
        {"word", TVariant::Word(65535), TVariant::Word(65535)},
        {"date", TVariant::Date(45000.5), TVariant::Date(45000.5)},
        {"boolean", TVariant(true), TVariant(true)},
        {"64-bit", TVariant(int64_t(1) << 40), TVariant(int64_t(1) << 40)},
        {"string", TVariant("abc"), TVariant("abc")},
    };
    for (const Case& c : cases) {
        TBufferProtocol p(64);
        p.WriteVariant(c.written);
        p.SetPosition(0);
        EXPECT_EQ(p.ReadVariant(), c.read) << c.name;
        EXPECT_EQ(p.Position(), p.GetSize()) << c.name;
    }
}

TEST(BufferProtocol, UnsupportedVariantTagsAreRefusedByName) {
    struct Case {
        uint16_t tag;
        const char* suffix;
    } cases[] = {
        {9, "Dispatch"}, {10, "Error"},    {12, "Variant"},   {13, "Unknown"},
        {72, "$0048"},   {257, "Any"},     {14, "14"},        {15, "15"},
        {21, "21"},      {0x2003, "8195"}, {0x4003, "16387"},
    };
    for (const Case& c : cases) {
        TBufferProtocol w(64);
        EXPECT_EQ(ErrorOf([&] { w.WriteVariant(TVariant::OfType(c.tag)); }),
                  std::string("WriteVariant: Unsupported variant type: ") + c.suffix);
        EXPECT_EQ(w.GetSize(), 2) << "the tag is already written when the write fails";

        auto r = Holding(std::string(reinterpret_cast<const char*>(&c.tag), 2) + "\0\0\0\0");
        EXPECT_EQ(ErrorOf([&] { r->ReadVariant(); }),
                  std::string("ReadVariant: Unsupported variant type: ") + c.suffix);
    }
}

TEST(BufferProtocol, ReadsFailAtTheEndAndLeaveTheCursor) {
    struct Case {
        const char* name;
        std::string bytes;
        std::function<void(TBufferProtocol&)> read;
        int32_t cursorAfter;
    } cases[] = {
        {"integer with 3 bytes left", "abc", [](auto& p) { p.ReadInteger(); }, 0},
        {"64-bit with 7 bytes left", "abcdefg", [](auto& p) { p.ReadInt64(); }, 0},
        {"byte of nothing", "", [](auto& p) { p.ReadByte(); }, 0},
        {"string body cut short keeps its length consumed", std::string("\x05\0\0\0ab", 6),
         [](auto& p) { p.ReadString(); }, 4},
        {"huge string length does not allocate", std::string("\xFF\xFF\xFF\x7F", 4),
         [](auto& p) { p.ReadString(); }, 4},
        {"block cut short", std::string("\x08\0\0\0abc", 7),
         [](auto& p) {
             ByteBlock b;
             p.ReadBlock(b);
         },
         4},
        {"negative block length", std::string("\xFB\xFF\xFF\xFF", 4),
         [](auto& p) {
             ByteBlock b;
             p.ReadBlock(b);
         },
         4},
        {"variant payload cut short", std::string("\x05\0\x01\x02", 4),
         [](auto& p) { p.ReadVariant(); }, 2},
    };
    for (const Case& c : cases) {
        auto p = Holding(c.bytes);
        EXPECT_EQ(ErrorOf([&] { c.read(*p); }), ReadBeyond) << c.name;
        EXPECT_EQ(p->Position(), c.cursorAfter) << c.name;
    }
}

TEST(BufferProtocol, StringLengthsOfZeroOrBelowReadAsEmpty) {
    for (std::string length : {std::string(4, '\0'), std::string("\xFB\xFF\xFF\xFF", 4)}) {
        auto p = Holding(length + "xyz");
        EXPECT_EQ(p->ReadString(), "");
        EXPECT_EQ(p->Position(), 4);
    }
}

TEST(BufferProtocol, BooleanIsTrueOnlyForOne) {
    auto p = Holding(std::string("\x01\x02\xFF\x00", 4));
    EXPECT_TRUE(p->ReadBoolean());
    EXPECT_FALSE(p->ReadBoolean());
    EXPECT_FALSE(p->ReadBoolean());
    EXPECT_FALSE(p->ReadBoolean());
}

TEST(BufferProtocol, GrowsInMultiplesOfTheGranularity) {
    TBufferProtocol p(64);
    uint8_t byte = 7;
    p.WriteBuf(1, &byte);
    EXPECT_EQ(p.GetSize(), 1);
    EXPECT_EQ(p.Capacity(), 64);
    std::vector<uint8_t> more(64, 1);
    p.WriteBuf(64, more.data());
    EXPECT_EQ(p.GetSize(), 65);
    EXPECT_EQ(p.Capacity(), 128);
    p.SetSize(3);
    EXPECT_EQ(p.Capacity(), 128) << "capacity never shrinks";

    TBufferProtocol q(32);
    q.SetSize(33);
    EXPECT_EQ(q.Capacity(), 64);
}

TEST(BufferProtocol, CursorAndSizeRules) {
    TBufferProtocol p(64);
    p.SetSize(20);
    p.SetPosition(20);
    EXPECT_EQ(p.Position(), 20);
    EXPECT_EQ(ErrorOf([&] { p.SetPosition(21); }), "Attempt to move beyond end of buffer!");
    EXPECT_EQ(ErrorOf([&] { p.SetPosition(-1); }), "Attempt to set negative position!");
    EXPECT_EQ(ErrorOf([&] { p.SetSize(-1); }), "Attempt to set negative size!");
    EXPECT_EQ(p.Position(), 20);
    EXPECT_EQ(p.GetSize(), 20);
    p.SetSize(10);
    EXPECT_EQ(p.Position(), 10);
}

TEST(BufferProtocol, WritingInTheMiddleOverwrites) {
    auto p = Holding("abcdef");
    p->SetPosition(2);
    p->WriteBuf(2, "XY");
    EXPECT_EQ(Bytes(*p), "abXYef");
    p->SetPosition(5);
    p->WriteBuf(3, "123");
    EXPECT_EQ(Bytes(*p), "abXYe123");
}

TEST(BufferProtocol, PatchIntegerOverwritesAndKeepsTheCursor) {
    auto p = Holding("0123456789");
    p->SetPosition(10);
    p->PatchInteger(7, 0);
    EXPECT_EQ(Bytes(*p), std::string("\x07\0\0\0"
                                     "456789",
                                     10));
    EXPECT_EQ(p->Position(), 10);

    p->SetPosition(2);
    p->PatchInteger(-1, 8); // extends the buffer past its end
    EXPECT_EQ(p->GetSize(), 12);
    EXPECT_EQ(p->Position(), 2);
}

TEST(BufferProtocol, BlocksReuseTheirCapacity) {
    TBufferProtocol p(64);
    p.WriteString("abcdef");
    p.WriteString("xy");
    p.SetPosition(0);
    ByteBlock block;
    p.ReadBlock(block);
    EXPECT_EQ(block.Size, 6);
    EXPECT_EQ(block.Capacity, 6);
    p.ReadBlock(block);
    EXPECT_EQ(block.Size, 2);
    EXPECT_EQ(block.Capacity, 6);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block.Data), 2), "xy");

    TBufferProtocol out(64);
    out.WriteBlock(block, true);
    out.WriteBlock(block, false);
    EXPECT_EQ(Bytes(out), std::string("\x02\0\0\0xyxy", 8));
}

TEST(BufferProtocol, ConstructingFromAStreamCopiesAllOfIt) {
    TMemoryStream stream;
    stream.WriteBuffer("stream", 6);
    stream.SetPosition(3);
    TBufferProtocol p(&stream, 32);
    EXPECT_EQ(Bytes(p), "stream");
    EXPECT_EQ(p.Position(), 0);

    TBufferProtocol none(nullptr, 32);
    EXPECT_EQ(none.GetSize(), 0);
}

TEST(BufferProtocol, StreamTransfers) {
    auto p = Holding(std::string("\x03\0\0\0abc\0\0\0\0", 11));
    TMemoryStream dest;
    p->ReadStream(dest, true);
    EXPECT_EQ(dest.GetSize(), 3);
    EXPECT_EQ(p->Position(), 7);
    p->ReadStream(dest, true); // a zero length consumes the field and writes nothing
    EXPECT_EQ(p->Position(), 11);
    EXPECT_EQ(dest.GetSize(), 3);

    auto cut = Holding(std::string("\x09\0\0\0abc", 7));
    EXPECT_EQ(ErrorOf([&] { cut->ReadStream(dest, true); }), ReadBeyond);

    TBufferProtocol w(64);
    w.WriteStream(dest, true);
    EXPECT_EQ(Bytes(w), std::string("\x03\0\0\0abc", 7));
    p->SetPosition(4);
    TMemoryStream rest;
    p->ReadStream(rest, false);
    EXPECT_EQ(rest.GetSize(), 7);
}

namespace {
// A stream that takes no bytes and gives fewer than it claims to hold.
class TShortStream : public TMemoryStream {
public:
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Read(void* buffer, int64_t count) override {
        return TMemoryStream::Read(buffer, count > 1 ? count - 1 : count);
    }
};
} // namespace

TEST(BufferProtocol, ShortStreamsAreReported) {
    TShortStream shortStream;
    shortStream.TMemoryStream::Write("abcd", 4);
    auto p = Holding("xyz");
    EXPECT_EQ(ErrorOf([&] { p->ReadStream(shortStream, false); }),
              "Stream wrote less than requested!");
    TBufferProtocol w(64);
    EXPECT_EQ(ErrorOf([&] { w.WriteStream(shortStream, false); }),
              "Stream returned less than requested!");
}

TEST(BufferProtocol, BuffersDiffer) {
    struct Case {
        const char* a;
        const char* b;
        bool differ;
    } cases[] = {
        {"", "", false},
        {"AB", "AC", true},
        {"AB", "ABC", true},
        {"AB", "AB", false},
    };
    for (const Case& c : cases) {
        auto a = Holding(c.a), b = Holding(c.b);
        b->SetPosition(b->GetSize());
        EXPECT_EQ(BuffersDiffer(*a, *b), c.differ) << c.a << " vs " << c.b;
    }
}
