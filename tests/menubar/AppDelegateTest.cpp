#include "menubar/AppDelegate.h"
#include "menubar/NetworkNodeSwitchNotificationName.h"
#include "menubar/PopViewController.h"
#include "platform/NotificationCenter.h"
#include "platform/TextFieldCell.h"

#include "QStringPrinter.h"
#include "support/CallJournal.h"
#include "support/FakeEventMonitor.h"
#include "support/FakePopover.h"
#include "support/FakeStatusItem.h"
#include "support/MemoryUserDefaults.h"

#include <QCoreApplication>
#include <QLabel>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using FetchResult = GasStoreService::FetchResult;

struct Record {
    QString low, standard, fast, tokenPrice, sysTime;
};

// Notes every write: the key, and which entries of a record it changed.
class WriteLoggingUserDefaults : public MemoryUserDefaults {
public:
    void setValue(const QString &key, const QVariant &value) override {
        const QVariantMap before = values.value(key).toMap();
        const QVariantMap after = value.toMap();
        QStringList changed;
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            if (before.value(it.key()) != it.value())
                changed.append(it.key());
        }
        writes.append(key + QStringLiteral(": ") + changed.join(QLatin1Char(',')));
        MemoryUserDefaults::setValue(key, value);
    }
    bool synchronize() override {
        writes.append(QStringLiteral("synchronize"));
        return MemoryUserDefaults::synchronize();
    }

    QStringList writes;
};

class AppDelegateTest : public ::testing::Test {
protected:
    struct PendingFetch {
        GasStoreService::chainMessage chain;
        GasStoreService::FetchCompletion completion;
    };

    void TearDown() override { delegate.reset(); }

    // `journal`, when given, notes the status item's creation and what the fakes are asked at launch.
    void launch(bool withButton = true, CallJournal *journal = nullptr) {
        AppDelegate::Dependencies d;
        d.statusItemWithLength = [this, withButton, journal](double length) {
            auto made = std::make_unique<FakeStatusItem>(length, withButton);
            item = made.get();
            if (journal) {
                journal->note(QStringLiteral("status item %1").arg(length));
                item->setJournal(journal);
            }
            return made;
        };
        d.makePopover = [this, journal] {
            if (journal)
                journal->note(QStringLiteral("popover"));
            auto made = std::make_unique<FakePopover>();
            popovers.push_back(made.get());
            return made;
        };
        auto madeMonitor = std::make_unique<FakeEventMonitor>();
        madeMonitor->journal = journal;
        monitor = madeMonitor.get();
        d.eventMonitor = std::move(madeMonitor);
        d.fetchGasPrice = [this](const GasStoreService::chainMessage &chain,
                                 GasStoreService::FetchCompletion completion) {
            fetches.push_back({chain, std::move(completion)});
        };
        d.now = [this] { return now; };
        delegate = std::make_unique<AppDelegate>(std::move(d));
        delegate->applicationDidFinishLaunching();
    }

    // Launch and let the first tick run.
    void launchAndTick(bool withButton = true) {
        launch(withButton);
        QCoreApplication::sendPostedEvents(delegate.get());
    }

    void store(const QString &chainId, const Record &r) {
        defaults.values.insert(
            chainId, QVariantMap{{"gasPriceKey",
                                  QVariantMap{{"low", r.low}, {"standard", r.standard}, {"fast", r.fast}}},
                                 {"tokenPriceKey", r.tokenPrice},
                                 {"sysTime", r.sysTime}});
    }

    Record stored(const QString &chainId) const {
        const QVariantMap record = defaults.values.value(chainId).toMap();
        const QVariantMap gas = record.value("gasPriceKey").toMap();
        return {gas.value("low").toString(), gas.value("standard").toString(), gas.value("fast").toString(),
                record.value("tokenPriceKey").toString(), record.value("sysTime").toString()};
    }

    void reply(std::size_t fetch, const FetchResult &result) { fetches.at(fetch).completion(result); }
    void fail(std::size_t fetch) { fetches.at(fetch).completion(std::nullopt); }

    QStringList titles() const { return item->fakeButton()->titles; }

    PopViewController *popController() const {
        return qobject_cast<PopViewController *>(delegate->popover()->contentViewController());
    }
    QString label(const char *name) const {
        const QLabel *l = popController()->view()->findChild<QLabel *>(name);
        return l ? l->text() : QStringLiteral("<missing>");
    }

    WriteLoggingUserDefaults defaults;
    FakeStatusItem *item = nullptr;
    FakeEventMonitor *monitor = nullptr;
    std::vector<FakePopover *> popovers;
    std::vector<PendingFetch> fetches;
    double now = 1700000000.25;
    std::unique_ptr<AppDelegate> delegate;
};

void expectRecord(const Record &actual, const Record &expected) {
    EXPECT_EQ(actual.low, expected.low);
    EXPECT_EQ(actual.standard, expected.standard);
    EXPECT_EQ(actual.fast, expected.fast);
    EXPECT_EQ(actual.tokenPrice, expected.tokenPrice);
    EXPECT_EQ(actual.sysTime, expected.sysTime);
}

TEST_F(AppDelegateTest, LaunchSetsUpItemTimerMonitorAndPopover) {
    launch();
    EXPECT_EQ(item->initialLength, 40.0);
    EXPECT_TRUE(item->fakeButton()->action);
    ASSERT_EQ(monitor->handlers.size(), 1u);
    ASSERT_NE(delegate->popover(), nullptr);
    EXPECT_TRUE(popovers.front()->dark);
    EXPECT_NE(popController(), nullptr);

    const QTimer *timer = delegate->syncingTimer();
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_FALSE(timer->isSingleShot());
    EXPECT_EQ(timer->interval(), 5000);

    // The first tick waits for the event loop, then comes without waiting for the timer.
    EXPECT_TRUE(fetches.empty());
    QCoreApplication::sendPostedEvents(delegate.get());
    ASSERT_EQ(fetches.size(), 1u);
    EXPECT_EQ(fetches[0].chain.chainId, "1");
    QCoreApplication::sendPostedEvents(delegate.get());
    EXPECT_EQ(fetches.size(), 1u);
}

TEST_F(AppDelegateTest, LaunchSetsUpItsPiecesInOrder) {
    // Observer and timer reach no fake: the journal notes them as soon as they are in place.
    CallJournal journal;
    bool observing = false, timing = false;
    journal.beforeEach = [&](QStringList &entries) {
        if (!delegate)
            return;
        if (!observing && NotificationCenter::defaultCenter().isObserving(
                              delegate.get(), NetworkNodeSwitchNotificationName)) {
            observing = true;
            entries.append("observer");
        }
        if (!timing && delegate->syncingTimer() && delegate->syncingTimer()->isActive()) {
            timing = true;
            entries.append("timer");
        }
    };
    launch(true, &journal);
    journal.note("launched");
    EXPECT_EQ(journal.entries, (QStringList{"status item 40", "observer", "button action", "timer",
                                            "length 5", "monitor", "popover", "launched"}));
}

TEST_F(AppDelegateTest, NetworkSwitchNotificationRefreshesAtOnceForTheNewNetwork) {
    launchAndTick();
    defaults.values.insert("selectedKey", "137");
    NotificationCenter::defaultCenter().postNotificationName(NetworkNodeSwitchNotificationName);
    ASSERT_EQ(fetches.size(), 2u);
    EXPECT_EQ(fetches[1].chain.chainName, "Polygon");
    EXPECT_TRUE(delegate->syncingTimer()->isActive());
}

TEST_F(AppDelegateTest, LengthFollowsTheFittedTitleOrIsFixedWithoutButton) {
    struct Case {
        bool withButton;
        std::vector<double> lengths; // at launch, at the refresh, when the reply is applied
    };
    // The fake button fits 7 points per character: "" -> 0, "-- | -- | --" -> 84, "1 | 2 | 3" -> 63.
    const Case cases[] = {
        {true, {5.0, 89.0, 68.0}},
        {false, {45.0, 45.0, 45.0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.withButton);
        fetches.clear();
        launchAndTick(c.withButton);
        reply(0, {"1", "2", "3", "1800"});
        EXPECT_EQ(item->lengths, c.lengths);
        delegate.reset();
    }
}

TEST_F(AppDelegateTest, TitleAndPopoverShowPlaceholdersBeforeAnythingIsStored) {
    launch();
    popController()->view();
    QCoreApplication::sendPostedEvents(delegate.get());
    EXPECT_EQ(titles(), QStringList{"-- | -- | --"});
    for (const char *name : {"low", "standard", "fast"})
        EXPECT_EQ(label(name), "--") << name;
    for (const char *name : {"lowPrice", "standardPrice", "fastPrice"})
        EXPECT_EQ(label(name), "$ --") << name;
    EXPECT_EQ(label("lastTime"), "LastTime: --");
}

TEST_F(AppDelegateTest, ASelectionThatNamesNoNetworkShowsPlaceholdersAndNeitherFetchesNorSaves) {
    store("1", {"30", "20", "30", "1800", "100.0"});
    launchAndTick();
    popController()->view();
    ASSERT_EQ(label("low"), "30");
    fetches.clear();

    defaults.values.insert("selectedKey", "999");
    const QVariantMap before = defaults.values;
    defaults.writes.clear();
    delegate->_UpdateOracleGasPrice();
    NotificationCenter::defaultCenter().postNotificationName(NetworkNodeSwitchNotificationName);

    EXPECT_EQ(titles().mid(1), (QStringList{"-- | -- | --", "-- | -- | --"}));
    for (const char *name : {"low", "standard", "fast"})
        EXPECT_EQ(label(name), "--") << name;
    for (const char *name : {"lowPrice", "standardPrice", "fastPrice"})
        EXPECT_EQ(label(name), "$ --") << name;
    EXPECT_EQ(label("lastTime"), "LastTime: --");
    EXPECT_TRUE(fetches.empty());
    EXPECT_EQ(defaults.writes, QStringList());
    EXPECT_EQ(defaults.values, before);
}

TEST_F(AppDelegateTest, ChangedPricesStoreTheirTimeFirstUnchangedOnesNoTime) {
    struct Case {
        const char *what;
        FetchResult reply;
        QStringList writes;
    };
    const Case cases[] = {
        {"changed",
         {"11", "20", "30", "1800"},
         {"1: sysTime", "synchronize", "1: gasPriceKey", "synchronize", "1: tokenPriceKey", "synchronize"}},
        {"unchanged", {"10", "20", "30", "1800"}, {"1: tokenPriceKey", "synchronize"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        fetches.clear();
        defaults.values.clear();
        store("1", {"10", "20", "30", "1700", "100.0"});
        launchAndTick();
        defaults.writes.clear();
        reply(0, c.reply);
        EXPECT_EQ(defaults.writes, c.writes);
        delegate.reset();
    }
}

TEST_F(AppDelegateTest, ALongPriceIsStoredWholeAndShownCut) {
    const QString digits(100000, QLatin1Char('7'));
    launchAndTick();
    popController()->view();
    reply(0, {digits, "20", "30", "1800"});
    EXPECT_EQ(stored("1").low, digits);
    const QString shown = label("low");
    EXPECT_LE(shown.size(), TextFieldCell::maxCharacters + 1);
    EXPECT_TRUE(shown.endsWith(QChar(0x2026)));
    EXPECT_TRUE(digits.startsWith(shown.chopped(1)));
}

TEST_F(AppDelegateTest, ReplyIsComparedWithTheSnapshotAndStoresOnlyWhatChanged) {
    const Record before{"10", "20", "30", "1700", "1600000000.5"};
    struct Case {
        const char *what;
        FetchResult reply;
        Record after;
    };
    const Case cases[] = {
        {"same gas prices: only the token price",
         {"10", "20", "30", "1800.12345"},
         {"10", "20", "30", "1800.12345", "1600000000.5"}},
        {"only fast differs: time and all gas prices",
         {"10", "20", "31", "1700"},
         {"10", "20", "31", "1700", "1700000000.25"}},
        {"a placeholder that differs is stored like any text",
         {"--", "20", "30", "0"},
         {"--", "20", "30", "0", "1700000000.25"}},
        {"an empty token price is stored as it comes",
         {"10", "20", "30", ""},
         {"10", "20", "30", "", "1600000000.5"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        fetches.clear();
        store("1", before);
        launchAndTick();
        reply(0, c.reply);
        expectRecord(stored("1"), c.after);
        EXPECT_EQ(titles(), (QStringList{"10 | 20 | 30", AppDelegate::statusTitle(
                                                             c.reply.low, c.reply.standard, c.reply.fast)}));
        delegate.reset();
    }
}

TEST_F(AppDelegateTest, ComparisonUsesWhatTheRefreshShowedNotWhatIsStoredWhenTheReplyArrives) {
    struct Case {
        const char *what;
        FetchResult reply;
        bool gasWritten;
    };
    const Case cases[] = {
        {"reply equals the snapshot, store changed meanwhile", {"1", "2", "3", "5"}, false},
        {"reply equals the changed store, not the snapshot", {"7", "8", "9", "5"}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        fetches.clear();
        store("1", {"1", "2", "3", "5", "100.0"});
        launchAndTick();
        store("1", {"7", "8", "9", "5", "200.0"});
        reply(0, c.reply);
        const Record after = stored("1");
        EXPECT_EQ(after.sysTime, c.gasWritten ? "1700000000.25" : "200.0");
        EXPECT_EQ(after.low, c.gasWritten ? c.reply.low : "7");
        delegate.reset();
    }
}

TEST_F(AppDelegateTest, FailedFetchLeavesTheStoredValuesShown) {
    store("56", {"3", "4", "5", "300", "100.0"});
    defaults.values.insert("selectedKey", "56");
    launchAndTick();
    fail(0);
    EXPECT_EQ(titles(), QStringList{"3 | 4 | 5"});
    expectRecord(stored("56"), {"3", "4", "5", "300", "100.0"});
}

TEST_F(AppDelegateTest, ReplyForANetworkNoLongerSelectedIsDropped) {
    struct Case {
        const char *selectedWhenReplyArrives;
    };
    const Case cases[] = {{"56"}, {"999"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.selectedWhenReplyArrives);
        fetches.clear();
        defaults.values.clear();
        store("1", {"10", "20", "30", "1700", "100.0"});
        store("56", {"1", "2", "3", "300", "200.0"});
        launchAndTick();
        popController()->view();
        defaults.values.insert("selectedKey", c.selectedWhenReplyArrives);
        const QStringList titlesBefore = titles();
        const QString lowShown = label("low");

        reply(0, {"11", "21", "31", "1800"});
        EXPECT_EQ(titles(), titlesBefore);
        EXPECT_EQ(label("low"), lowShown);
        expectRecord(stored("1"), {"10", "20", "30", "1700", "100.0"});
        expectRecord(stored("56"), {"1", "2", "3", "300", "200.0"});
        delegate.reset();
    }
}

TEST_F(AppDelegateTest, OlderReplyArrivingAfterANewerOneIsDropped) {
    const FetchResult older{"11", "21", "31", "1801"};
    const FetchResult newer{"12", "22", "32", "1802"};
    struct Case {
        const char *what;
        std::vector<std::size_t> replyOrder;
        int titlesFromReplies;
    };
    const Case cases[] = {
        {"in order: both apply", {0, 1}, 2},
        {"out of order: the older one is dropped", {1, 0}, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        fetches.clear();
        defaults.values.clear();
        store("1", {"10", "20", "30", "1700", "100.0"});
        launchAndTick();
        popController()->view();
        delegate->_UpdateOracleGasPrice();
        ASSERT_EQ(fetches.size(), 2u);
        const qsizetype titlesBefore = titles().size();

        for (std::size_t i : c.replyOrder)
            reply(i, i == 0 ? older : newer);
        EXPECT_EQ(titles().size() - titlesBefore, c.titlesFromReplies);
        EXPECT_EQ(titles().last(), "12 | 22 | 32");
        expectRecord(stored("1"), {"12", "22", "32", "1802", "1700000000.25"});
        EXPECT_EQ(label("low"), "12");
        EXPECT_EQ(label("lowPrice"), PopViewController::fiatCost("12", "1802"));
        delegate.reset();
    }
}

TEST_F(AppDelegateTest, ReplyUpdatesThePopoverAfterStoringTheTime) {
    store("1", {"10", "20", "30", "1800", "100.0"});
    launchAndTick();
    popController()->view();
    now = 0.0;
    reply(0, {"30", "20", "30", "1800"});
    EXPECT_EQ(label("low"), "30");
    EXPECT_EQ(label("lowPrice"), "$ 1.134");
    EXPECT_EQ(label("lastTime"), PopViewController::lastTimeText("0.0"));
}

TEST_F(AppDelegateTest, StatusButtonShowsThePopoverWhichOnlyAClickElsewhereCloses) {
    launchAndTick();
    FakePopover *popover = popovers.front();
    item->fakeButton()->action();
    item->fakeButton()->action();
    EXPECT_TRUE(popover->shown);
    ASSERT_EQ(popover->shows.size(), 2u);
    EXPECT_EQ(popover->shows[0].first, item->fakeButton()->rect);
    EXPECT_EQ(popover->shows[0].second, Popover::Edge::MaxY);

    monitor->clickElsewhere();
    monitor->clickElsewhere();
    EXPECT_FALSE(popover->shown);
    EXPECT_EQ(popover->closes, 1);
}

TEST(AppDelegateTimeText, ShortestRoundTripWithAFractionPart) {
    struct Case {
        double seconds;
        const char *text;
    };
    const Case cases[] = {
        {1700000000.0, "1700000000.0"},
        {1700000000.25, "1700000000.25"},
        {1700000000.123, "1700000000.123"},
        {0.1, "0.1"},
        {0.0, "0.0"},
        {1e21, "1000000000000000000000.0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(AppDelegate::timeText(c.seconds), c.text);
        EXPECT_EQ(AppDelegate::timeText(c.seconds).toDouble(), c.seconds);
    }
}

} // namespace
