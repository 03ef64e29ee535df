#include <gtest/gtest.h>

#include "CodePage.h"

TEST(CodePage, ConvertsBothWays) {
    struct Case {
        const char* name;
        std::string utf8;
        std::string ansi;
    } cases[] = {
        {"ascii", "Poll", "Poll"},
        {"finnish letters", "Hälytys öljy Å", "H\xE4lytys \xF6ljy \xC5"},
        {"euro from the high table", "\xE2\x82\xAC", "\x80"},
        {"curly quotes", "\xE2\x80\x9Cx\xE2\x80\x9D", "\x93x\x94"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8ToAnsi(c.utf8), c.ansi) << c.name;
        EXPECT_EQ(AnsiToUtf8(c.ansi), c.utf8) << c.name;
    }
}

TEST(CodePage, WhatDoesNotFitBecomesQuestionMark) {
    EXPECT_EQ(Utf8ToAnsi("\xE6\x97\xA5"), "?"); // a CJK ideograph
    EXPECT_EQ(Utf8ToAnsi("a\xF0\x9F\x98\x80"
                         "b"),
              "a?b");                             // an emoji
    EXPECT_EQ(Utf8ToAnsi("\xFF\xC3"), "??");      // malformed: one per bad byte
    EXPECT_EQ(Utf8ToAnsi("\xC0\xAF"), "??");      // overlong form
    EXPECT_EQ(Utf8ToAnsi("\xED\xA0\x80"), "???"); // a surrogate
}

TEST(CodePage, EveryByteSurvivesARoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
}
