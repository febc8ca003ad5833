#include "store/DecimalFormat.h"

#include <QStringList>

#include <algorithm>

QString formatDecimal(const Decimal &value, int scale, bool trimZeros) {
    QString text = QString::fromLatin1(value.toString());
    const qsizetype n = std::max(scale, 0);

    const bool negative = text.startsWith(QLatin1Char('-'));
    if (negative)
        text = substring(text, 1, text.size() - 1);

    const QStringList pieces = text.split(QLatin1Char('.'));
    if (pieces.size() > 2)
        return {};
    const QString &integer = pieces.at(0);
    QString fraction = pieces.size() == 2 ? pieces.at(1) : QString();

    if (fraction.size() > n)
        fraction.truncate(n);
    else if (!trimZeros)
        // Zeros added here would only be trimmed again, so they are added only when they stay.
        fraction.append(QString(n - fraction.size(), QLatin1Char('0')));
    if (trimZeros) {
        qsizetype end = fraction.size();
        while (end > 0 && fraction.at(end - 1) == QLatin1Char('0'))
            --end;
        fraction.truncate(end);
    }

    QString result;
    result.reserve(1 + integer.size() + 1 + fraction.size());
    if (negative)
        result.append(QLatin1Char('-'));
    result.append(integer);
    if (!fraction.isEmpty())
        result.append(QLatin1Char('.')).append(fraction);
    return result;
}

QString substring(const QString &text, qsizetype from, qsizetype length) {
    // Callers stay within the text; anything outside it is clamped rather than read.
    const qsizetype start = std::clamp<qsizetype>(from, 0, text.size());
    const qsizetype count = std::clamp<qsizetype>(length, 0, text.size() - start);
    return text.mid(start, count);
}
