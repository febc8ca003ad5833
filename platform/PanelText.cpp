#include "platform/PanelText.h"

#include <QFontMetricsF>
#include <QGuiApplication>

#include <algorithm>
#include <cmath>

QString PanelText::displayed(const QString &title) {
    // Cut by characters first: measuring a megabyte of digits would stall the event loop.
    QString text = title.size() > maxCharacters ? title.left(maxCharacters) + QChar(0x2026) : title;
    return QFontMetricsF(QGuiApplication::font()).elidedText(text, Qt::ElideRight, maxWidth);
}

QSizeF PanelText::size(const QString &title) {
    const QFontMetricsF metrics(QGuiApplication::font());
    return {metrics.horizontalAdvance(displayed(title)), metrics.height()};
}

QString PanelText::guide(double points) {
    const double digit = QFontMetricsF(QGuiApplication::font()).horizontalAdvance(QLatin1Char('0'));
    if (!(points > 0) || !(digit > 0))
        return {};
    const double capped = std::min(points, maxWidth);
    return QString(static_cast<qsizetype>(std::ceil(capped / digit)), QLatin1Char('0'));
}
