#include "platform/StripStatusItem.h"
#include "QtPrinters.h"
#include "platform/PanelText.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace {

TEST(StripStatusItem, SitsAtTheTopRightCornerAsWideAsItsLength) {
    StripStatusItem strip(40.0);
    strip.setVisible(true);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    for (double length : {40.0, 95.0, 45.0}) {
        SCOPED_TRACE(length);
        strip.setLength(length);
        const QRect frame = strip.window()->frameGeometry();
        EXPECT_EQ(frame.width(), int(length));
        EXPECT_EQ(frame.topRight(), area.topRight());
        EXPECT_EQ(strip.bounds().width(), int(length));
        EXPECT_TRUE(area.contains(strip.bounds()));
    }
}

TEST(StripStatusItem, AClickRunsTheAction) {
    StripStatusItem strip(60.0);
    strip.setVisible(true);
    int runs = 0;
    strip.setAction([&] { ++runs; });
    auto *button = strip.window()->findChild<QPushButton *>();
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(runs, 1);
}

TEST(StripStatusItem, TheTitleFitsTheLengthTheItemAskedFor) {
    StripStatusItem strip(40.0);
    strip.setTitle(QStringLiteral("12 | 13.5 | 15"));
    strip.setLength(strip.sizeThatFits(QSizeF(500, 50)).width() + 5);
    EXPECT_EQ(strip.shownText(), QStringLiteral("12 | 13.5 | 15"));
}

TEST(StripStatusItem, AbsurdTitlesAndLengthsStayWithinSaneBounds) {
    StripStatusItem strip(40.0);
    strip.setTitle(QString(10000, QLatin1Char('9')));
    const double fitted = strip.sizeThatFits(QSizeF(1e9, 50)).width();
    EXPECT_LE(fitted, PanelText::maxWidth);
    strip.setLength(1e12);
    EXPECT_LE(strip.window()->width(), PanelText::maxWidth + 5);
    EXPECT_LE(strip.shownText().size(), PanelText::maxCharacters + 1);
    strip.setLength(-3);
    EXPECT_GE(strip.window()->width(), 1);
}

TEST(StripStatusItem, ShowsTheTitleElidedToItsLengthAsTheFontMeasuresIt) {
    const QFontMetricsF metrics(QGuiApplication::font());
    // Runs of nines just wider and just narrower than the widest title shown.
    const auto nines = static_cast<qsizetype>(
        std::ceil((PanelText::maxWidth + 1) / metrics.horizontalAdvance(QLatin1Char('9'))));
    const QString titles[] = {
        QString(nines, QLatin1Char('9')),
        QString(nines - 1, QLatin1Char('9')),
        QStringLiteral("12 | 13.5 | 15"),
        QStringLiteral("-- | -- | --"),
        QString(60, QLatin1Char('9')) + QStringLiteral(" | 1 | 2"),
        QString(150, QLatin1Char('8')),
        QString(10000, QLatin1Char('7')),
    };
    for (const QString &title : titles) {
        StripStatusItem strip(40.0);
        strip.setTitle(title);
        const QString displayed = metrics.elidedText(
            title.size() > PanelText::maxCharacters ? title.left(PanelText::maxCharacters) + QChar(0x2026)
                                                    : title,
            Qt::ElideRight, PanelText::maxWidth);
        EXPECT_EQ(PanelText::displayed(title), displayed);
        EXPECT_EQ(PanelText::size(title).width(), metrics.horizontalAdvance(displayed));
        const double width = PanelText::size(title).width();
        // Lengths around the title's width: it fits with the margin, just fits, and is cut.
        for (double length :
             {width + 5, width + 4, std::ceil(width) + 4, width + 3, width, width / 2, 20.0}) {
            SCOPED_TRACE(title.left(20).toStdString() + " at " + std::to_string(length));
            strip.setLength(length);
            const int room =
                std::max(1, int(std::ceil(std::clamp(length, 0.0, PanelText::maxWidth + 5)))) - 4;
            EXPECT_EQ(strip.shownText(), metrics.elidedText(displayed, Qt::ElideRight, room));
        }
    }
}

} // namespace
