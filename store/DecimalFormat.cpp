#include "store/DecimalFormat.h"

#include <QStringView>

#include <algorithm>

QString formatDecimal(const Decimal &value, int scale, bool trimZeros) {
    QString text = QString::fromLatin1(value.toString());
    const qsizetype n = std::max(scale, 0);

    const bool negative = text.startsWith(QLatin1Char('-'));
    if (negative)
        text = substring(text, 1, text.size() - 1);

    // Split at "." as views: this runs for every price and cost shown, and the pieces are only read.
    const QStringView rest(text);
    const qsizetype point = rest.indexOf(QLatin1Char('.'));
    if (point >= 0 && rest.indexOf(QLatin1Char('.'), point + 1) >= 0)
        return {};
    const QStringView integer = point >= 0 ? rest.left(point) : rest;
    QStringView fraction = point >= 0 ? rest.mid(point + 1) : QStringView();

    qsizetype zerosAdded = 0;
    if (fraction.size() > n)
        fraction.truncate(n);
    else if (!trimZeros)
        // Zeros added here would only be trimmed again, so they are added only when they stay.
        zerosAdded = n - fraction.size();
    if (trimZeros) {
        while (!fraction.isEmpty() && fraction.back() == QLatin1Char('0'))
            fraction.chop(1);
    }

    QString result;
    result.reserve(1 + integer.size() + 1 + fraction.size() + zerosAdded);
    if (negative)
        result.append(QLatin1Char('-'));
    result.append(integer);
    if (!fraction.isEmpty() || zerosAdded > 0) {
        result.append(QLatin1Char('.')).append(fraction);
        result.append(QString(zerosAdded, QLatin1Char('0')));
    }
    return result;
}

QString substring(const QString &text, qsizetype from, qsizetype length) {
    // Callers stay within the text; anything outside it is clamped rather than read.
    const qsizetype start = std::clamp<qsizetype>(from, 0, text.size());
    const qsizetype count = std::clamp<qsizetype>(length, 0, text.size() - start);
    return text.mid(start, count);
}
