#include "store/WeiConversion.h"

#include "platform/Decimal.h"
#include "store/BigUInt.h"
#include "store/DecimalFormat.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace {
constexpr std::int64_t weiPerGweiDigits = 9;
const QString missing = QStringLiteral("--");

// Up to 19 digits the value fits in 64 bits, and the gwei text is the quotient and the first four
// digits of the remainder by 10^9: what the decimal path gives, at a tenth of its cost. Three prices
// are converted at every refresh, and real ones have 9 to 13 digits.
constexpr qsizetype maxMachineDigits = 19;

QString machineWeiToGwei(const QString &wei) {
    std::uint64_t value = 0;
    for (const QChar c : wei)
        value = value * 10 + (c.unicode() - u'0');
    const std::uint64_t integer = value / 1'000'000'000;
    std::uint64_t fraction = value % 1'000'000'000 / 100'000; // four digits, cut
    char text[32];
    char *end = text + sizeof text;
    char *start = end;
    int fractionDigits = 4;
    while (fractionDigits > 0 && fraction % 10 == 0) {
        fraction /= 10;
        --fractionDigits;
    }
    if (fractionDigits > 0) {
        for (int i = 0; i < fractionDigits; ++i, fraction /= 10)
            *--start = char('0' + fraction % 10);
        *--start = '.';
    }
    std::uint64_t rest = integer;
    do {
        *--start = char('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    return QString::fromLatin1(start, end - start);
}
} // namespace

QString weiToGwei(const QString &wei) {
    if (!wei.isEmpty() && wei.size() <= maxMachineDigits &&
        std::all_of(wei.cbegin(), wei.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return machineWeiToGwei(wei);
    const QByteArray bytes = wei.toUtf8();
    const auto integer =
        BigUInt::parse(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    if (!integer)
        return missing;
    // The integer goes into the decimal as it is: writing it out as text and reading that back would
    // give the same value at twice the cost. The decimal moves trailing zeros into its exponent with one
    // removal, however many there are.
    return formatDecimal(Decimal(false, integer->value(), -weiPerGweiDigits), 4, true);
}
