#include "menubar/SettingPopViewController.h"
#include "menubar/NetworkNodeSwitchNotificationName.h"
#include "menubar/SettingPopCellView.h"
#include "platform/NotificationCenter.h"

#include "QStringPrinter.h"
#include "StdoutCapture.h"
#include "support/MemoryUserDefaults.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <utility>

namespace {

// Writes each effect of a choice into one log, with anything printed just before it.
class EffectLog {
public:
    void note(const QString &effect) {
        notePrinted();
        entries.append(effect);
    }
    // Stops capturing standard output, so that failures show, and returns the log.
    QStringList finish() {
        notePrinted();
        out.reset();
        return std::exchange(entries, {});
    }
    void restart() { out.emplace(); }

private:
    void notePrinted() {
        const QString printed = out ? out->take() : QString();
        if (!printed.isEmpty())
            entries.append(QStringLiteral("print ") + printed.trimmed());
    }

    std::optional<StdoutCapture> out{std::in_place};
    QStringList entries;
};

class LoggingUserDefaults : public MemoryUserDefaults {
public:
    explicit LoggingUserDefaults(EffectLog &log)
        : m_log(log) {}
    void setValue(const QString &key, const QVariant &value) override {
        m_log.note(QStringLiteral("store %1=%2").arg(key, value.toString()));
        MemoryUserDefaults::setValue(key, value);
    }
    bool synchronize() override {
        m_log.note(QStringLiteral("synchronize"));
        return MemoryUserDefaults::synchronize();
    }

private:
    EffectLog &m_log;
};

class SettingPopViewControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        controller.setDidClick([this](SettingPopViewController *sender) {
            EXPECT_EQ(sender, &controller);
            log.note(QStringLiteral("didClick"));
        });
        NotificationCenter::defaultCenter().addObserver(&observer, NetworkNodeSwitchNotificationName, [this] {
            log.note(QStringLiteral("post, marker on %1").arg(markedRows().join(',')));
        });
    }

    QTableWidget *table() { return controller.tableView(); }

    SettingPopCellView *cell(int row) {
        return qobject_cast<SettingPopCellView *>(table()->cellWidget(row, 0));
    }

    QStringList markedRows() {
        QStringList marked;
        for (int row = 0; row < table()->rowCount(); ++row) {
            if (cell(row) && !cell(row)->selectedImageView()->isHidden())
                marked.append(cell(row)->title()->text());
        }
        return marked;
    }

    void showList() {
        QWidget *view = controller.view();
        view->resize(150, 138);
        view->show();
        controller.viewWillAppear();
    }

    QPoint rowCentre(int row) { return table()->visualRect(table()->model()->index(row, 0)).center(); }

    EffectLog log;
    LoggingUserDefaults defaults{log};
    QObject observer;
    SettingPopViewController controller;
};

TEST_F(SettingPopViewControllerTest, ListsTheSixNetworksInTableOrderAtTwentyOnePoints) {
    showList();
    ASSERT_NE(table(), nullptr);
    ASSERT_EQ(table()->rowCount(), 6);
    const QStringList expected{"Ethereum", "BNBChain", "Polygon", "Fantom", "OKExChain", "Heco"};
    for (int row = 0; row < 6; ++row) {
        SCOPED_TRACE(row);
        ASSERT_NE(cell(row), nullptr);
        EXPECT_EQ(cell(row)->title()->text(), expected[row]);
        EXPECT_EQ(table()->rowHeight(row), 21);
    }
}

TEST_F(SettingPopViewControllerTest, RowsAreCustomCellsTwentyOnePointsHigh) {
    EXPECT_EQ(SettingPopCellView::identifier, "CustomCell");
    struct Case {
        const char *identifier;
        bool made;
    };
    const Case cases[] = {
        {"CustomCell", true}, {"customCell", false}, {"SettingPopCellView", false}, {"", false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.identifier);
        std::unique_ptr<SettingPopCellView> made(SettingPopCellView::makeViewWithIdentifier(c.identifier));
        EXPECT_EQ(made != nullptr, c.made);
        if (made) {
            EXPECT_NE(made->title(), nullptr);
            EXPECT_NE(made->selectedImageView(), nullptr);
        }
    }

    showList();
    for (int row = 0; row < table()->rowCount(); ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(SettingPopViewController::heightOfRow(row), 21);
        // What the list draws, not only what it was told.
        EXPECT_EQ(table()->visualRect(table()->model()->index(row, 0)).height(), 21);
        EXPECT_EQ(table()->rowViewportPosition(row), 21 * row);
        ASSERT_NE(cell(row), nullptr);
        EXPECT_EQ(cell(row)->objectName(), "SettingPopCellView");
    }
}

TEST_F(SettingPopViewControllerTest, MarkerOnlyOnTheStoredNetworkWhenTheListAppears) {
    struct Case {
        const char *stored; // nullptr: nothing stored
        QStringList marked;
    };
    const Case cases[] = {
        {nullptr, {"Ethereum"}}, {"250", {"Fantom"}}, {"128", {"Heco"}}, {"999", {}}, {" 56", {}},
    };
    showList();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "(none)");
        defaults.values.remove("selectedKey");
        if (c.stored)
            defaults.values.insert("selectedKey", c.stored);
        controller.viewWillAppear();
        EXPECT_EQ(markedRows(), c.marked);
    }
}

TEST_F(SettingPopViewControllerTest, DoubleClickChoosesTheNetworkInOrder) {
    showList();
    // A double click reaches a widget as a press, a release and then the double-click event.
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, rowCentre(3));
    QTest::mouseDClick(table()->viewport(), Qt::LeftButton, {}, rowCentre(3));
    EXPECT_EQ(log.finish(), (QStringList{"print Fantom", "store selectedKey=250", "synchronize",
                                         "post, marker on Fantom", "didClick"}));
}

TEST_F(SettingPopViewControllerTest, EveryChoiceRunsEveryStep) {
    struct Case {
        int row;
        bool withCallback;
        QStringList effects;
    };
    const Case cases[] = {
        {0,
         true,
         {"print Ethereum", "store selectedKey=1", "synchronize", "post, marker on Ethereum", "didClick"}},
        {5, false, {"print Heco", "store selectedKey=128", "synchronize", "post, marker on Heco"}},
    };
    showList();
    for (const Case &c : cases) {
        if (!c.withCallback)
            controller.setDidClick(nullptr);
        table()->selectRow(c.row);
        controller.tableViewDoubleClick();
        EXPECT_EQ(log.finish(), c.effects) << c.row;
        log.restart();
    }
}

TEST_F(SettingPopViewControllerTest, NoSelectionChoosesNothing) {
    showList();
    table()->clearSelection();
    controller.tableViewDoubleClick();
    EXPECT_EQ(log.finish(), QStringList());
}

TEST_F(SettingPopViewControllerTest, SingleClickOnlyHighlights) {
    showList();
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, rowCentre(2));
    EXPECT_EQ(log.finish(), QStringList());
    ASSERT_EQ(table()->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(table()->selectionModel()->selectedRows().first().row(), 2);
    EXPECT_EQ(markedRows(), QStringList{"Ethereum"});
}

} // namespace
