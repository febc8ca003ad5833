#include "store/WeiConversion.h"

#include "platform/Decimal.h"
#include "store/BigUInt.h"
#include "store/DecimalFormat.h"

#include <string_view>

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
    // The integer goes into the decimal as it is: writing it out as text and reading that back would
    // give the same value at twice the cost. The decimal moves trailing zeros into its exponent with one
    // removal, however many there are.
    return formatDecimal(Decimal(false, integer->value(), -weiPerGweiDigits), 4, true);
}
