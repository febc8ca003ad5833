#pragma once

#include "store/GasStoreService.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class EventMonitor;
class PopViewController;
class Popover;
class StatusItem;

// Owns the panel item, the refresh timer and the price popover for the life of the process, and runs
// the refresh: show what is stored, fetch, then show and store what arrived.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    using StatusItemFactory = std::function<std::unique_ptr<StatusItem>(double length)>;
    using PopoverFactory = std::function<std::unique_ptr<Popover>()>;
    using FetchFunction =
        std::function<void(const GasStoreService::chainMessage &, GasStoreService::FetchCompletion)>;
    using Clock = std::function<double()>; // seconds since 1970

    struct Dependencies {
        StatusItemFactory statusItemWithLength;
        PopoverFactory makePopover;
        std::unique_ptr<EventMonitor> eventMonitor;
        FetchFunction fetchGasPrice = &GasStoreService::fetchGasPrice;
        Clock now = &AppDelegate::currentTimeIntervalSince1970;
    };

    explicit AppDelegate(Dependencies dependencies, QObject *parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();

    StatusItem *statesItem() const { return m_statesItem.get(); }
    const QTimer *syncingTimer() const { return m_syncingTimer.get(); }
    Popover *popover() const { return m_popover.get(); }

    // Status title: the three gas texts joined by " | ".
    static QString statusTitle(const QString &low, const QString &standard, const QString &fast);
    // Shortest text that reads back as the same double, always with a fraction part.
    static QString timeText(double secondsSince1970);
    static double currentTimeIntervalSince1970();

public slots:
    void _popView();
    void _UpdateOracleGasPrice();

private:
    // What one refresh showed and asked for; its completion compares and applies against it.
    struct Refresh {
        GasStoreService::GasPrices snapshot;
        QString chainId;
        quint64 sequence = 0;
    };

    void setupStatusItem();
    void setupPopover();
    void startSyncingTimer();
    void applyLengthRule();
    void applyOracleGasPrice(const Refresh &refresh,
                             const std::optional<GasStoreService::FetchResult> &result);
    PopViewController *popViewController() const;

    Dependencies m_dependencies;
    std::unique_ptr<StatusItem> m_statesItem;
    std::unique_ptr<QTimer> m_syncingTimer;
    std::unique_ptr<Popover> m_popover;
    quint64 m_refreshesStarted = 0;
    quint64 m_newestAppliedRefresh = 0;
};
