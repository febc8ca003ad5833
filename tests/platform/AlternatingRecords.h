#pragma once

#include <QString>
#include <QVariantMap>

// Two large records of different sizes that a writer saves in turn; any mix or truncation of the two
// differs from both.
inline QVariantMap alternatingRecord(int which) {
    const int entries = which == 0 ? 3000 : 1700;
    const QString text(which == 0 ? 80 : 120, which == 0 ? QLatin1Char('a') : QLatin1Char('b'));
    QVariantMap gas;
    for (int i = 0; i < entries; ++i)
        gas.insert(QStringLiteral("k%1").arg(i, 5, 10, QLatin1Char('0')), text);
    return {{QStringLiteral("gasPriceKey"), gas},
            {QStringLiteral("tokenPriceKey"), QString::number(which)},
            {QStringLiteral("sysTime"), QStringLiteral("1700000000.5")}};
}
