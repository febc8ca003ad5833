#include "platform/Decimal.h"

#include <gtest/gtest.h>

TEST(Decimal, ParsesOnlyPlainDecimalText) {
    struct Case {
        const char *text;
        const char *form; // nullptr: rejected
    };
    const Case cases[] = {
        {"0", "0"},       {"12", "12"},     {"-12.50", "-12.5"}, {"+3", "3"},      {".5", "0.5"},
        {"5.", "5"},      {"-0", "0"},      {"0.000", "0"},      {"007", "7"},     {"1800", "1800"},
        {"", nullptr},    {"-", nullptr},   {".", nullptr},      {"--", nullptr},  {"1.2.3", nullptr},
        {" 1", nullptr},  {"1 ", nullptr},  {"1e3", nullptr},    {"1,5", nullptr}, {"0x10", nullptr},
        {"NaN", nullptr}, {"inf", nullptr}, {"١٢", nullptr},     {"+-1", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const auto d = Decimal::parse(c.text);
        if (c.form == nullptr) {
            EXPECT_FALSE(d.has_value());
        } else {
            ASSERT_TRUE(d.has_value());
            EXPECT_EQ(d->toString(), c.form);
        }
    }
}

TEST(Decimal, IsExactAtAnySize) {
    const std::string wei = "123456789012345678901234567890123456789012345678901234567890";
    const auto d = Decimal::parse(wei);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->toString(), wei);
    EXPECT_EQ(d->shifted(-9).toString(), "123456789012345678901234567890123456789012345678901.23456789");
    EXPECT_EQ(d->shifted(-70).toString(), "0.0000000000" + wei.substr(0, 59));
}

TEST(Decimal, MultipliesAndShiftsExactly) {
    struct Case {
        const char *a, *b;
        std::int64_t shift;
        const char *product;
    };
    const Case cases[] = {
        {"1800", "30", 0, "54000"},
        {"0.1", "0.2", 0, "0.02"},
        {"-1.5", "2", 0, "-3"},
        {"-1.5", "-2", 0, "3"},
        {"0", "-7", 0, "0"},
        {"12.3456", "2100", -8, "0.0002592576"},
        {"99999999999999999999", "99999999999999999999", 0, "9999999999999999999800000000000000000001"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.a) + " * " + c.b);
        const Decimal p = (*Decimal::parse(c.a) * *Decimal::parse(c.b)).shifted(c.shift);
        EXPECT_EQ(p.toString(), c.product);
    }
}

TEST(Decimal, LongRunsOfZerosStayCheap) {
    // A hostile reply may hold a million zeros; normalising them must not take quadratic time.
    const std::string text = "1" + std::string(1'000'000, '0');
    const auto d = Decimal::parse(text);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->exponent(), 1'000'000);
    EXPECT_EQ(d->significand(), 1);
    EXPECT_EQ(d->toString(), text);
}
