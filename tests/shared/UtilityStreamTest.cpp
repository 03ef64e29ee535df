#include <gtest/gtest.h>

#include <string>
#include <vector>
#include <zlib.h>

#include "UtilityStream.h"

namespace {

std::string Compress(const std::string& data) {
    uLongf size = compressBound(data.size());
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size,
             reinterpret_cast<const Bytef*>(data.data()), data.size());
    out.resize(size);
    return out;
}

std::string Content(TMemoryStream& s) {
    return std::string(static_cast<const char*>(s.Memory()), static_cast<size_t>(s.GetSize()));
}

void Fill(TMemoryStream& s, const std::string& bytes) {
    s.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

} // namespace

TEST(VelmarMemoryStream, RoundsCapacityLikeTheMemoryStream) {
    TVelmarMemoryStream s;
    s.SetSize(1);
    EXPECT_EQ(s.Capacity(), 8192);
    s.SetCapacity(1);
    EXPECT_EQ(s.Capacity(), 1) << "a request equal to the size is taken exactly";
    s.SetCapacity(100);
    EXPECT_EQ(s.Capacity(), 8192);
    s.SetCapacity(0);
    EXPECT_EQ(s.Capacity(), 0);
}

TEST(DecompressStream, InflatesFromThePositionAndRewinds) {
    struct Case {
        const char* name;
        std::string plain;
    } cases[] = {
        {"short", "hello"},
        {"highly compressible, many growth steps", std::string(1 << 20, 'x')},
        {"empty stream", ""},
    };
    for (const Case& c : cases) {
        TMemoryStream source;
        Fill(source, "skip" + Compress(c.plain));
        source.SetPosition(4);
        TVelmarMemoryStream dest;
        DecompressStream(source, dest);
        EXPECT_EQ(Content(dest), c.plain) << c.name;
        EXPECT_EQ(dest.GetPosition(), 0) << c.name;
    }
}

TEST(DecompressStream, NothingLeftStillRewindsTheDestination) {
    TMemoryStream source;
    Fill(source, "abc");
    TVelmarMemoryStream dest;
    Fill(dest, "kept");
    DecompressStream(source, dest); // source is at its end already
    EXPECT_EQ(Content(dest), "kept");
    EXPECT_EQ(dest.GetPosition(), 0);
}

TEST(DecompressStream, MalformedDataRaisesAndWritesNothing) {
    std::string good = Compress("some drawing content that compresses somewhat");
    std::string badChecksum = good;
    badChecksum.back() = static_cast<char>(badChecksum.back() ^ 0x55);
    struct Case {
        const char* name;
        std::string bytes;
        const char* message;
    } cases[] = {
        {"not zlib at all", "plain text, no header", "Data error"},
        {"truncated stream", good.substr(0, good.size() / 2), "Buffer error"},
        {"corrupt checksum", badChecksum, "Data error"},
    };
    for (const Case& c : cases) {
        TMemoryStream source;
        Fill(source, c.bytes);
        source.SetPosition(0);
        TVelmarMemoryStream dest;
        try {
            DecompressStream(source, dest);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const EDecompressionError& e) {
            EXPECT_EQ(e.Message(), c.message) << c.name;
        }
        EXPECT_EQ(dest.GetSize(), 0) << c.name;
    }
}
