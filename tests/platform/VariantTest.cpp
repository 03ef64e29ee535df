#include <gtest/gtest.h>

#include <clocale>

#include "Variant.h"

TEST(Variant, ConvertsBetweenTypes) {
    EXPECT_EQ(TVariant(42).AsString(), "42");
    EXPECT_EQ(TVariant("17").AsInteger(), 17);
    EXPECT_EQ(TVariant(true).AsString(), "True");
    EXPECT_EQ(TVariant(1.5).AsString(), "1.5");
    EXPECT_EQ(TVariant(1e20).AsString(), "1E20");
    EXPECT_EQ(TVariant(2.5e-7).AsString(), "2.5E-7");
    EXPECT_EQ(TVariant::Currency(12.3456).CurrencyValueScaled(), 123456);
    EXPECT_DOUBLE_EQ(TVariant::Single(1.5f).AsDouble(), 1.5);
    EXPECT_EQ(TVariant::LongWord(0xFFFFFFFFu).AsInteger(), -1); // colours wrap
    EXPECT_TRUE(TVariant("False").IsString());
    EXPECT_FALSE(TVariant("False").AsBoolean());
}

TEST(Variant, RefusedConversionsNameBothTypes) {
    try {
        TVariant("abc").AsInteger();
        FAIL();
    } catch (const EVariantError& e) {
        EXPECT_EQ(e.Message(), "Could not convert variant of type (String) into type (Int64)");
    }
    EXPECT_THROW(TVariant::Null().AsString(), EVariantError);
    EXPECT_THROW(TVariant(int64_t(1) << 40).AsInteger(), EVariantError);
}

TEST(Variant, TypeNames) {
    EXPECT_EQ(TVariant::TypeName(varUnknown), "Unknown");
    EXPECT_EQ(TVariant::TypeName(72), "$0048");
    EXPECT_EQ(TVariant::TypeName(varArray | varVariant), "Array Variant");
}

TEST(Variant, EqualityComparesTypeAndValue) {
    EXPECT_EQ(TVariant(3), TVariant(3));
    EXPECT_FALSE(TVariant(3) == TVariant(int64_t(3)));
    EXPECT_EQ(TVariant::Bytes({1, 2}), TVariant::Bytes({1, 2}));
    EXPECT_EQ(TVariant::Array({TVariant("a")}), TVariant::Array({TVariant("a")}));
}

TEST(Variant, FloatTextIgnoresTheProcessLocale) {
    // Qt sets the locale from the environment at start-up; a Finnish one writes "1,5".
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    ASSERT_TRUE(std::setlocale(LC_NUMERIC, "fi_FI.UTF-8")) << "scripts/install-deps generates it";
    EXPECT_EQ(TVariant(1.5).AsString(), "1.5");
    EXPECT_DOUBLE_EQ(TVariant("2.25").AsDouble(), 2.25);
    std::setlocale(LC_NUMERIC, saved.c_str());
}
