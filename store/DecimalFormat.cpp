#include "store/DecimalFormat.h"

#include <algorithm>
#include <string>
#include <string_view>

QString formatDecimal(const Decimal &value, int scale, bool trimZeros) {
    // The text form is ASCII, so it is cut and split as bytes and becomes a QString once, at the end:
    // this runs for every price and cost shown.
    const std::string text = value.toString();
    std::string_view rest(text);
    const auto n = static_cast<std::size_t>(std::max(scale, 0));

    const bool negative = !rest.empty() && rest.front() == '-';
    if (negative)
        rest.remove_prefix(1); // substring(text, 1, length - 1), without a copy

    const std::size_t point = rest.find('.');
    if (point != std::string_view::npos && rest.find('.', point + 1) != std::string_view::npos)
        return {};
    const std::string_view integer = rest.substr(0, point);
    std::string_view fraction = point != std::string_view::npos ? rest.substr(point + 1) : std::string_view();

    std::size_t zerosAdded = 0;
    if (fraction.size() > n)
        fraction = fraction.substr(0, n);
    else if (!trimZeros)
        // Zeros added here would only be trimmed again, so they are added only when they stay.
        zerosAdded = n - fraction.size();
    if (trimZeros) {
        while (!fraction.empty() && fraction.back() == '0')
            fraction.remove_suffix(1);
    }

    const auto latin1 = [](std::string_view piece) {
        return QLatin1StringView(piece.data(), static_cast<qsizetype>(piece.size()));
    };
    QString result;
    result.reserve(static_cast<qsizetype>(2 + integer.size() + fraction.size() + zerosAdded));
    if (negative)
        result.append(QLatin1Char('-'));
    result.append(latin1(integer));
    if (!fraction.empty() || zerosAdded > 0) {
        result.append(QLatin1Char('.')).append(latin1(fraction));
        result.append(QString(static_cast<qsizetype>(zerosAdded), QLatin1Char('0')));
    }
    return result;
}

QString substring(const QString &text, qsizetype from, qsizetype length) {
    // Callers stay within the text; anything outside it is clamped rather than read.
    const qsizetype start = std::clamp<qsizetype>(from, 0, text.size());
    const qsizetype count = std::clamp<qsizetype>(length, 0, text.size() - start);
    return text.mid(start, count);
}
