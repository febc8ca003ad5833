#include "platform/TextFieldCell.h"
#include "QtPrinters.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLabel>

#include <gtest/gtest.h>

namespace {

const QChar ellipsis(0x2026);

TEST(TextFieldCell, WhatAFieldDrawsIsCutToSaneBounds) {
    struct Case {
        const char *what;
        QString title;
        bool whole;
    };
    const Case cases[] = {
        {"a price", QStringLiteral("12.1234"), true},
        {"a placeholder", QStringLiteral("--"), true},
        {"empty", QString(), true},
        {"a cost", QStringLiteral("$ 259259.2569"), true},
        {"wider than the field's bound", QString(60, QLatin1Char('9')), false},
        {"a price of 100,000 digits", QString(100000, QLatin1Char('7')), false},
        {"a cost of 100,000 digits", QStringLiteral("$ ") + QString(100000, QLatin1Char('3')), false},
        {"long and without digits", QString(5000, QChar(0x4e2d)), false},
    };
    QFont bold;
    bold.setPixelSize(12);
    bold.setBold(true);
    for (const QFont &font : {QFont(), bold}) {
        const QFontMetricsF metrics(font);
        for (const Case &c : cases) {
            SCOPED_TRACE(c.what);
            QLabel field;
            field.setFont(font);
            TextFieldCell::setTitle(&field, c.title);
            const QString shown = field.text();
            EXPECT_EQ(shown, TextFieldCell::displayed(c.title, font));
            EXPECT_LE(shown.size(), TextFieldCell::maxCharacters + 1);
            EXPECT_LE(metrics.horizontalAdvance(shown), TextFieldCell::maxWidth);
            EXPECT_LE(field.sizeHint().width(), TextFieldCell::maxWidth + 1);
            if (c.whole) {
                EXPECT_EQ(shown, c.title);
            } else {
                // Cut on the right, and visibly so.
                ASSERT_FALSE(shown.isEmpty());
                EXPECT_EQ(shown.back(), ellipsis);
                EXPECT_TRUE(c.title.startsWith(shown.chopped(1))) << shown.toStdString();
            }
        }
    }
}

TEST(TextFieldCell, TheSameTitleAgainChangesNothing) {
    // Were the title measured again, the field's new, much larger font would cut it shorter.
    for (const QString &title : {QStringLiteral("12.5"), QString(100000, QLatin1Char('7'))}) {
        SCOPED_TRACE(title.size());
        QLabel field;
        TextFieldCell::setTitle(&field, title);
        const QString first = field.text();
        QFont huge = field.font();
        huge.setPixelSize(60);
        field.setFont(huge);
        TextFieldCell::setTitle(&field, title);
        EXPECT_EQ(field.text(), first);
        // A different title is measured in the field's font of now.
        const QString other = title + QLatin1Char('1');
        TextFieldCell::setTitle(&field, other);
        EXPECT_EQ(field.text(), TextFieldCell::displayed(other, huge));
    }
}

TEST(TextFieldCell, ANullFieldIsSkipped) {
    TextFieldCell::setTitle(nullptr, QStringLiteral("12"));
}

} // namespace
