#include "menubar/PopViewController.h"
#include "platform/BundleInfo.h"
#include "platform/TextFieldCell.h"

#include "QStringPrinter.h"
#include "StdoutCapture.h"
#include "support/FakePopover.h"
#include "support/FakeWorkspace.h"
#include "support/MemoryUserDefaults.h"

#include <QAbstractButton>
#include <QByteArray>
#include <QLabel>
#include <QLayout>

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <vector>

namespace {

class PopViewControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        controller = std::make_unique<PopViewController>([this] {
            auto made = std::make_unique<FakePopover>();
            popovers.push_back(made.get());
            return made;
        });
    }

    void store(const QString &chainId, const QString &low, const QString &standard, const QString &fast,
               const QString &tokenPrice, const QString &sysTime) {
        defaults.values.insert(
            chainId,
            QVariantMap{{"gasPriceKey", QVariantMap{{"low", low}, {"standard", standard}, {"fast", fast}}},
                        {"tokenPriceKey", tokenPrice},
                        {"sysTime", sysTime}});
    }

    QString label(const char *name) {
        const QLabel *l = controller->view()->findChild<QLabel *>(name);
        return l ? l->text() : QStringLiteral("<missing>");
    }
    void click(const char *button) {
        QAbstractButton *b = controller->view()->findChild<QAbstractButton *>(button);
        ASSERT_NE(b, nullptr) << button;
        b->click();
    }
    FakePopover *settingPopover() const { return static_cast<FakePopover *>(controller->popover()); }

    MemoryUserDefaults defaults;
    std::vector<FakePopover *> popovers;
    std::unique_ptr<PopViewController> controller;
};

// Pins the local time zone for one test.
class TimeZone {
public:
    explicit TimeZone(const char *zone)
        : m_had(qEnvironmentVariableIsSet("TZ"))
        , m_old(qgetenv("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~TimeZone() {
        if (m_had)
            qputenv("TZ", m_old);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    bool m_had;
    QByteArray m_old;
};

TEST_F(PopViewControllerTest, CostOfATransferIsCutToFourDigits) {
    struct Case {
        const char *tokenPrice;
        const char *gasPrice;
        const char *text;
    };
    const Case cases[] = {
        {"1800", "30", "$ 1.134"},
        {"1", "12.3456", "$ 0.0002"},
        {"0", "30", "$ 0"},
        {"1800", "--", "$ --"},
        {"--", "30", "$ --"},
        {"1800", "1e3", "$ --"},
        {"1800.5", "0.0001", "$ 0"},
        {"-2", "30", "$ -0.0012"},
        {"123456789", "100", "$ 259259.2569"},
        // Prices seen before, again, after others and in turn: each still gives its own cost.
        {"1800", "30", "$ 1.134"},
        {"1", "12.3456", "$ 0.0002"},
        {"1800", "30", "$ 1.134"},
        {"1800", "31", "$ 1.1718"},
        {"1801", "30", "$ 1.1346"},
        {"1800", "30", "$ 1.134"},
    };
    controller->view();
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.tokenPrice) + " x " + c.gasPrice);
        controller->updateFiatCosts(c.gasPrice, c.gasPrice, c.gasPrice, c.tokenPrice);
        for (const char *field : {"lowPrice", "standardPrice", "fastPrice"})
            EXPECT_EQ(label(field), c.text) << field;
    }
}

TEST_F(PopViewControllerTest, EmptyTokenPriceKeepsTheCostsButNotThePrices) {
    controller->view();
    controller->updateGasPrices("30", "40", "50");
    controller->updateFiatCosts("30", "40", "50", "1800");
    controller->updateGasPrices("1", "2", "3");
    controller->updateFiatCosts("1", "2", "3", "");
    EXPECT_EQ(label("low"), "1");
    EXPECT_EQ(label("fast"), "3");
    EXPECT_EQ(label("lowPrice"), "$ 1.134");
    EXPECT_EQ(label("standardPrice"), "$ 1.512");
    EXPECT_EQ(label("fastPrice"), "$ 1.89");
}

TEST_F(PopViewControllerTest, LastTimeIsTheStoredTimeInTheLocalZone) {
    struct Case {
        const char *zone;
        const char *stored; // nullptr: nothing stored
        const char *text;
    };
    const Case cases[] = {
        {"UTC", "0", "LastTime: 00:00:00"},
        {"Etc/GMT-1", "0", "LastTime: 01:00:00"},
        {"UTC", "1700000000.25", "LastTime: 22:13:20"},
        {"UTC", "1700000000.999", "LastTime: 22:13:20"},
        {"UTC", "-0.5", "LastTime: 23:59:59"},
        {"UTC", nullptr, "LastTime: --"},
        {"UTC", "--", "LastTime: --"},
        {"UTC", "yesterday", "LastTime: --"},
        {"UTC", "nan", "LastTime: --"},
        {"UTC", "inf", "LastTime: --"},
        {"UTC", "1e300", "LastTime: --"},
        // Read as the nearest double: this one is exactly the next second.
        {"UTC", "1700000000.9999999999999999", "LastTime: 22:13:21"},
        {"UTC", "01700000000.25", "LastTime: 22:13:20"},
        {"UTC", " 1700000000.25", "LastTime: 22:13:20"},
        {"UTC", "1.70000000025e9", "LastTime: 22:13:20"},
    };
    controller->view();
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " " + (c.stored ? c.stored : "(none)"));
        TimeZone zone(c.zone);
        defaults.values.clear();
        if (c.stored)
            store("1", "1", "2", "3", "4", c.stored);
        controller->updateGasPrices("1", "2", "3");
        EXPECT_EQ(label("lastTime"), c.text);
    }
}

TEST_F(PopViewControllerTest, LoadedViewShowsTheStoredValuesOfTheSelectedNetwork) {
    struct Case {
        const char *selected; // nullptr: nothing stored under "selectedKey"
        const char *networkName, *low, *fastPrice;
    };
    const Case cases[] = {
        {nullptr, "Ethereum", "--", "$ --"},
        {"137", "Polygon", "30", "$ 1.134"},
        {"999", "--", "--", "$ --"},
    };
    BundleInfo::overrideForTesting({{"CFBundleShortVersionString", "1.2"}, {"CFBundleVersion", "7"}});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.networkName);
        SetUp();
        defaults.values.clear();
        store("137", "30", "30", "30", "1800", "");
        if (c.selected)
            defaults.values.insert("selectedKey", c.selected);
        EXPECT_EQ(label("version"), "V 1.2 (7)");
        EXPECT_EQ(label("networkName"), c.networkName);
        EXPECT_EQ(label("low"), c.low);
        EXPECT_EQ(label("fastPrice"), c.fastPrice);
        EXPECT_EQ(label("lastTime"), "LastTime: --");
    }
    BundleInfo::overrideForTesting({});
}

TEST_F(PopViewControllerTest, NetworkChoicePopoverOpensBesideTheButtonAndClosesOnlyWhenShown) {
    controller->view();
    ASSERT_NE(settingPopover(), nullptr);
    EXPECT_TRUE(settingPopover()->dark);

    controller->hidden();
    EXPECT_EQ(settingPopover()->closes, 0);
    EXPECT_FALSE(controller->isShow());

    controller->popSetting();
    controller->popSetting();
    EXPECT_TRUE(controller->isShow());
    ASSERT_EQ(settingPopover()->shows.size(), 2u);
    EXPECT_EQ(settingPopover()->shows[0].second, Popover::Edge::MaxX);
    const QAbstractButton *button = controller->view()->findChild<QAbstractButton *>("settingButton");
    EXPECT_EQ(settingPopover()->shows[0].first, QRect(button->mapToGlobal(QPoint(0, 0)), button->size()));

    controller->hidden();
    controller->hidden();
    EXPECT_FALSE(controller->isShow());
    EXPECT_EQ(settingPopover()->closes, 1);
}

TEST_F(PopViewControllerTest, ChoosingANetworkRenamesAndClosesTheChoice) {
    controller->view();
    controller->popSetting();
    defaults.values.insert("selectedKey", "250");
    controller->settingDidClick();
    EXPECT_EQ(label("networkName"), "Fantom");
    EXPECT_FALSE(controller->isShow());
    EXPECT_EQ(settingPopover()->closes, 1);
}

TEST_F(PopViewControllerTest, ButtonsRunTheirActions) {
    FakeWorkspace workspace(false);
    click("settingButton");
    EXPECT_TRUE(controller->isShow());
    click("closeSettingButton");
    EXPECT_FALSE(controller->isShow());
    click("webPageButton");
    EXPECT_EQ(workspace.urls, QList<QUrl>{QUrl("https://www.example.com")});
}

TEST_F(PopViewControllerTest, AbsurdPricesLeaveThePopoverSmallWithEveryButtonOnIt) {
    const QString digits(100000, QLatin1Char('7'));
    struct Case {
        const char *what;
        QString low, standard, fast, tokenPrice;
    };
    const Case cases[] = {
        {"prices of 100,000 digits", digits, digits, digits, "1800"},
        {"a token price of 100,000 digits", "30", "40", "50", digits},
        {"all of them", digits, digits, digits, digits},
        {"back to sane prices", "30", "40", "50", "1800"},
    };
    QWidget *view = controller->view();
    view->show();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        controller->updateGasPrices(c.low, c.standard, c.fast);
        controller->updateFiatCosts(c.low, c.standard, c.fast, c.tokenPrice);
        view->adjustSize();
        view->layout()->activate();
        // Well within the smallest screen anyone runs a desktop panel on.
        EXPECT_LE(view->width(), 640);
        EXPECT_LE(view->height(), 480);
        for (const QLabel *label : view->findChildren<QLabel *>())
            EXPECT_LE(label->text().size(), TextFieldCell::maxCharacters + 1)
                << label->objectName().toStdString();
        for (const char *name : {"webPageButton", "settingButton", "closeSettingButton", "quitButton"}) {
            const QAbstractButton *button = view->findChild<QAbstractButton *>(name);
            ASSERT_NE(button, nullptr) << name;
            EXPECT_TRUE(view->rect().contains(button->geometry())) << name;
        }
    }
    EXPECT_EQ(label("low"), "30");
    EXPECT_EQ(label("fastPrice"), "$ 1.89");
}

TEST_F(PopViewControllerTest, SuccessLineOnlyWhenTheBrowserOpened) {
    for (bool opens : {true, false}) {
        SCOPED_TRACE(opens);
        FakeWorkspace workspace(opens);
        StdoutCapture out;
        controller->openUrl();
        EXPECT_EQ(out.take(), opens ? "default browser was successfully opened\n" : "");
        EXPECT_EQ(workspace.urls.size(), 1);
    }
}

} // namespace
