#include "store/WeiConversion.h"

#include "platform/Decimal.h"
#include "store/BigUInt.h"
#include "store/DecimalFormat.h"

#include <string>

namespace {
constexpr std::int64_t weiPerGweiDigits = 9;
const QString missing = QStringLiteral("--");
} // namespace

QString weiToGwei(const QString &wei) {
    const QByteArray bytes = wei.toUtf8();
    const auto integer =
        BigUInt::parse(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    if (!integer)
        return missing;
    std::string digits = integer->toString();

    // Trailing zeros go straight into the exponent: the decimal's own normalising removes them one
    // division at a time, which is quadratic in their count for a reply full of zeros.
    std::int64_t zeros = 0;
    if (const auto last = digits.find_last_not_of('0'); last != std::string::npos) {
        zeros = static_cast<std::int64_t>(digits.size() - last - 1);
        digits.resize(last + 1);
    }
    const auto decimal = Decimal::parse(digits);
    if (!decimal)
        return missing;
    return formatDecimal(decimal->shifted(zeros - weiPerGweiDigits), 4, true);
}
