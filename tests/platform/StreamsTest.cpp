#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "Classes.h"

TEST(MemoryStream, CapacityRoundsTo8192ExceptForTheCurrentSize) {
    TMemoryStream stream;
    stream.WriteBuffer("abc", 3);
    EXPECT_EQ(stream.GetSize(), 3);
    EXPECT_EQ(stream.Capacity(), 8192);
    stream.SetCapacity(3); // equal to the size: taken exactly
    EXPECT_EQ(stream.Capacity(), 3);
    stream.SetSize(8193);
    EXPECT_EQ(stream.Capacity(), 16384);
    stream.Clear();
    EXPECT_EQ(stream.Capacity(), 0);
    EXPECT_EQ(stream.Memory(), nullptr);
}

TEST(MemoryStream, ReadsWritesSeeksAndShrinks) {
    TMemoryStream stream;
    stream.WriteBuffer("hello world", 11);
    stream.SetPosition(6);
    char word[6] = {};
    EXPECT_EQ(stream.Read(word, 10), 5);
    EXPECT_STREQ(word, "world");
    EXPECT_EQ(stream.Read(word, 1), 0);
    EXPECT_THROW(stream.ReadBuffer(word, 1), EReadError);
    stream.SetPosition(20);
    stream.SetSize(4);
    EXPECT_EQ(stream.GetPosition(), 4);
    EXPECT_EQ(std::string(static_cast<char*>(stream.Memory()), 4), "hell");
}

TEST(FileStream, WritesReadsAndReportsMissingFiles) {
    std::string path = testing::TempDir() + "/gc_filestream_test.bin";
    {
        TFileStream out(path, fmCreate);
        out.WriteBuffer("0123456789", 10);
    }
    TMemoryStream copy;
    copy.LoadFromFile(path);
    EXPECT_EQ(copy.GetSize(), 10);
    EXPECT_EQ(std::memcmp(copy.Memory(), "0123456789", 10), 0);
    {
        TFileStream in(path, fmOpenRead);
        EXPECT_EQ(in.GetSize(), 10);
        in.SetPosition(8);
        char tail[3] = {};
        EXPECT_EQ(in.Read(tail, 5), 2);
        EXPECT_STREQ(tail, "89");
    }
    std::remove(path.c_str());
    try {
        TFileStream missing(path, fmOpenRead);
        FAIL() << "opened a missing file";
    } catch (const EFOpenError& e) {
        EXPECT_NE(e.Message().find("Cannot open file \"" + path + "\"."), std::string::npos);
    }
}

TEST(Stream, CopyFromZeroCopiesTheWholeSource) {
    TMemoryStream source, dest;
    source.WriteBuffer("abcdef", 6);
    source.SetPosition(3);
    EXPECT_EQ(dest.CopyFrom(source, 0), 6);
    EXPECT_EQ(std::string(static_cast<char*>(dest.Memory()), 6), "abcdef");
}
