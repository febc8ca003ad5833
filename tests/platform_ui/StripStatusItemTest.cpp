#include "platform/StripStatusItem.h"
#include "QtPrinters.h"
#include "platform/PanelText.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

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

} // namespace
