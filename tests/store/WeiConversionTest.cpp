#include "store/WeiConversion.h"

#include <gtest/gtest.h>

#include <string>

TEST(WeiConversion, ConvertsDecimalIntegersExactly) {
    const std::string sixty = "123456789012345678901234567890123456789012345678901234567890";
    struct Case {
        std::string wei;
        std::string gwei;
    };
    const Case cases[] = {
        {"30000000000", "30"},
        {"1500000000", "1.5"},
        {"12345678901", "12.3456"},
        {"999", "0"},
        {"0", "0"},
        {"000000001000000000", "1"},
        {"1000000000000000000000", "1000000000000"},
        {sixty, sixty.substr(0, 51) + ".2345"},
        {std::string(10'000, '9'), std::string(9'991, '9') + ".9999"},
        {"1" + std::string(9'999, '0'), "1" + std::string(9'990, '0')},
        {"1" + std::string(1'000'000, '0'), "1" + std::string(999'991, '0')}, // about the largest reply body
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.wei.substr(0, 40));
        EXPECT_EQ(weiToGwei(QString::fromStdString(c.wei)).toStdString(), c.gwei);
    }
}

TEST(WeiConversion, RejectsAnythingButAsciiDigits) {
    for (const char *wei :
         {"", " 1 0", " 10", "10 ", "1\t0", "+1", "-1", "12.5", "1e9", "0x10", "1,000", "--",
          "\xd9\xa1\xd9\xa2" /* Arabic-Indic 12 */, "1\xef\xbc\x90" /* fullwidth 0 */}) {
        SCOPED_TRACE(wei);
        EXPECT_EQ(weiToGwei(QString::fromUtf8(wei)), "--");
    }
}
