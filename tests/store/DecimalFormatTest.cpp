#include "store/DecimalFormat.h"

#include <gtest/gtest.h>

TEST(DecimalFormat, CutsNeverRounds) {
    struct Case {
        const char *value;
        int scale;
        bool trimZeros;
        const char *text;
    };
    const Case cases[] = {
        {"12.345678", 4, true, "12.3456"},
        {"0.99999", 4, true, "0.9999"},
        {"1.5", 4, true, "1.5"},
        {"20.10", 4, true, "20.1"},
        {"5", 4, true, "5"},
        {"0.00009", 4, true, "0"},
        {"1234567.5", 4, true, "1234567.5"},
        {"-1.234567", 4, true, "-1.2345"},
        {"-0.00001", 4, true, "-0"},
        {"1.5", 4, false, "1.5000"},
        {"7", 4, false, "7.0000"},
        {"0.00009", 4, false, "0.0000"},
        {"-0.00001", 4, false, "-0.0000"},
        {"12.99", 0, true, "12"},
        {"-12.99", 0, true, "-12"},
        {"12.99", -3, false, "12"},
        {"-12.99", -1, true, "-12"},
        {"0", 4, true, "0"},
        {"-0", 4, false, "0.0000"},
        {"100.0001", 4, true, "100.0001"},
        {"100.00001", 4, true, "100"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.value) + " scale " + std::to_string(c.scale));
        const auto value = Decimal::parse(c.value);
        ASSERT_TRUE(value);
        EXPECT_EQ(formatDecimal(*value, c.scale, c.trimZeros), c.text);
    }
}

TEST(DecimalFormat, SubstringCountsCharactersAndStaysInsideTheText) {
    struct Case {
        const char *text;
        qsizetype from, length;
        const char *result;
    };
    const Case cases[] = {
        {"-1.5", 1, 3, "1.5"}, {"-1.5", 0, 0, ""},   {"-1.5", 0, 4, "-1.5"}, {"abc", 2, 5, "c"},
        {"abc", 9, 1, ""},     {"abc", -1, 2, "ab"}, {"abc", 1, -1, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(substring(c.text, c.from, c.length), c.result);
    }
}
