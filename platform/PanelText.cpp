#include "platform/PanelText.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>

#include <algorithm>
#include <cmath>

namespace {
// The title is measured several times per refresh and hardly ever changes; shaping it is the costliest
// step of a refresh, so the last title's results are kept (with the font they were measured in).
struct Measured {
    QString title;
    QFont font;
    QString displayed;
    QSizeF size;
};

const Measured &measured(const QString &title) {
    static Measured last{QString(), QFont(), QString(), QSizeF(-1, -1)};
    const QFont font = QGuiApplication::font();
    if (last.size.width() < 0 || title != last.title || font != last.font) {
        const QFontMetricsF metrics(font);
        // Cut by characters first: measuring a megabyte of digits would stall the event loop.
        const QString text = title.size() > PanelText::maxCharacters
                                 ? title.left(PanelText::maxCharacters) + QChar(0x2026)
                                 : title;
        last.title = title;
        last.font = font;
        // A title that fits is what eliding would return, and its width is the size: one shaping, not
        // two. (Eliding compares the same width; the character 0x9c marks alternatives it treats apart.)
        const qreal width = metrics.horizontalAdvance(text);
        if (width <= PanelText::maxWidth && !text.contains(QChar(0x9c))) {
            last.displayed = text;
            last.size = QSizeF(width, metrics.height());
        } else {
            last.displayed = metrics.elidedText(text, Qt::ElideRight, PanelText::maxWidth);
            last.size = QSizeF(metrics.horizontalAdvance(last.displayed), metrics.height());
        }
    }
    return last;
}
} // namespace

QString PanelText::displayed(const QString &title) {
    return measured(title).displayed;
}

QSizeF PanelText::size(const QString &title) {
    return measured(title).size;
}

QString PanelText::guide(double points) {
    const double digit = QFontMetricsF(QGuiApplication::font()).horizontalAdvance(QLatin1Char('0'));
    if (!(points > 0) || !(digit > 0))
        return {};
    const double capped = std::min(points, maxWidth);
    return QString(static_cast<qsizetype>(std::ceil(capped / digit)), QLatin1Char('0'));
}
