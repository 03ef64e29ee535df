#include <gtest/gtest.h>

#include "SysUtils.h"

TEST(SysUtils, IntegerConversions) {
    struct Case {
        const char* text;
        bool ok;
        int32_t value;
    } cases[] = {
        {"42", true, 42},         {"  -7", true, -7}, {"+3", true, 3},
        {"$1F", true, 31},        {"0x10", true, 16}, {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0}, {"", false, 0},     {"12a", false, 0},
        {"1.12", false, 0},       {"7 ", false, 0},   {"-", false, 0},
    };
    for (const Case& c : cases) {
        int32_t value = 0;
        EXPECT_EQ(TryStrToInt(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
    try {
        StrToInt("abc");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'abc' is not a valid integer value");
    }
}

TEST(SysUtils, BooleanConversions) {
    struct Case {
        const char* text;
        bool ok;
        bool value;
    } cases[] = {
        {"True", true, true}, {"fALSE", true, false}, {"1", true, true},     {"0", true, false},
        {"-5", true, true},   {"", false, false},     {"yes", false, false},
    };
    for (const Case& c : cases) {
        bool value = false;
        EXPECT_EQ(TryStrToBool(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
    EXPECT_THROW(StrToBool(""), EConvertError);
}

TEST(SysUtils, TrimAndCase) {
    EXPECT_EQ(Trim("\t 200 OK \r\n"), "200 OK");
    EXPECT_EQ(Trim(" \x01\x1F "), "");
    EXPECT_TRUE(SameText("GetSettings", "GETSETTINGS"));
    EXPECT_FALSE(SameText("Poll", "Polls"));
    EXPECT_LT(CompareText("abc", "ABD"), 0);
    EXPECT_TRUE(StartsText("tvekt", "TVektBox"));
}

TEST(SysUtils, LocaleFreeFloats) {
    EXPECT_EQ(FloatToStrDot(1.5), "1.5");
    EXPECT_EQ(FloatToStrDot(1e20), "1E20");
    EXPECT_EQ(FloatToStrDot(2.5e-7), "2.5E-7");
    EXPECT_EQ(FloatToStrDot(0.1), "0.1");
    EXPECT_EQ(FloatToStrFixedDot(-1.2346, 3), "-1.235");
    EXPECT_EQ(FloatToStrFixedDot(-0.0001, 3), "0.000");
    double d = 0;
    EXPECT_TRUE(TryStrToFloatDot(" -1.25e2 ", d));
    EXPECT_EQ(d, -125.0);
    for (const char* bad : {"", "1,5", "inf", "nan", "1e999", "0x10", "+"})
        EXPECT_FALSE(TryStrToFloatDot(bad, d)) << bad;
}
