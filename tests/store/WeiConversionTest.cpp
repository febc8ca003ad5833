#include "store/WeiConversion.h"

#include "platform/Decimal.h"
#include "store/BigUInt.h"
#include "store/DecimalFormat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {
// The rule written out on the digits themselves: the last nine are the fraction, cut to four and
// stripped of trailing zeros; the rest, without leading zeros, is the integer part.
std::string byDigits(const std::string &wei) {
    const std::string padded = std::string(wei.size() < 10 ? 10 - wei.size() : 0, '0') + wei;
    std::string integer = padded.substr(0, padded.size() - 9);
    integer.erase(0, std::min(integer.find_first_not_of('0'), integer.size() - 1));
    std::string fraction = padded.substr(padded.size() - 9, 4);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    return fraction.empty() ? integer : integer + "." + fraction;
}

// The general path, through an integer and a decimal of any size.
std::string byDecimal(const std::string &wei) {
    return formatDecimal(Decimal(false, BigUInt::parse(wei)->value(), -9), 4, true).toStdString();
}
} // namespace

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

// Short texts take a shortcut through 64-bit integers; every length up to well past it gives the same
// result as the digits' own rule, including the longest values that fit and the first that do not.
TEST(WeiConversion, EveryLengthFollowsTheRule) {
    std::vector<std::string> texts = {"18446744073709551615",
                                      "18446744073709551616",
                                      "9999999999999999999",
                                      "10000000000000000000",
                                      "9223372036854775807",
                                      "9223372036854775808",
                                      "1000000000",
                                      "999999999",
                                      "0000000000000000000",
                                      "1000099999",
                                      "1000000001",
                                      "0999990000",
                                      "0",
                                      "000123",
                                      "0000000000000000001"};
    std::mt19937_64 random(20240612);
    for (std::size_t length = 1; length <= 24; ++length) {
        for (int i = 0; i < 200; ++i) {
            std::string text(length, '0');
            for (char &c : text) // zeros often, so that cuts and trims are exercised
                c = random() % 3 == 0 ? '0' : char('0' + random() % 10);
            texts.push_back(text);
        }
        texts.push_back(std::string(length, '9'));
        texts.push_back("1" + std::string(length - 1, '0'));
    }
    for (const std::string &wei : texts) {
        SCOPED_TRACE(wei);
        const std::string gwei = weiToGwei(QString::fromStdString(wei)).toStdString();
        EXPECT_EQ(gwei, byDigits(wei));
        EXPECT_EQ(gwei, byDecimal(wei));
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
