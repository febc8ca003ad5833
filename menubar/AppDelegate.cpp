#include "menubar/AppDelegate.h"

#include "menubar/NetworkNodeSwitchNotificationName.h"
#include "menubar/PopViewController.h"
#include "platform/BuildConfig.h"
#include "platform/EventMonitor.h"
#include "platform/NotificationCenter.h"
#include "platform/Popover.h"
#include "platform/StatusItem.h"

#include <QDateTime>
#include <QPointer>
#include <QSizeF>

#include <charconv>
#include <cmath>
#include <string_view>
#include <utility>

namespace {
const QString missing = QStringLiteral("--");
constexpr double initialLength = 40.0;
constexpr int syncingInterval = GWEIBAR_REFRESH_INTERVAL_MS; // 5000 in every shipped build
} // namespace

AppDelegate::AppDelegate(Dependencies dependencies, QObject *parent)
    : QObject(parent)
    , m_dependencies(std::move(dependencies))
    , m_statesItem(m_dependencies.statusItemWithLength(initialLength)) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    NotificationCenter::defaultCenter().addObserver(this, NetworkNodeSwitchNotificationName,
                                                    [this] { _UpdateOracleGasPrice(); });
    setupStatusItem();
    setupPopover();
}

void AppDelegate::setupStatusItem() {
    if (StatusButton *button = m_statesItem->button())
        button->setAction([this] { _popView(); });
    startSyncingTimer();
    applyLengthRule();
    if (m_dependencies.eventMonitor) {
        m_dependencies.eventMonitor->addGlobalMonitorForLeftMouseDown([this] {
            if (m_popover)
                m_popover->close();
        });
    }
}

void AppDelegate::setupPopover() {
    auto popover = m_dependencies.makePopover();
    if (!popover)
        return;
    popover->setDarkAppearance();
    popover->setContentViewController(new PopViewController(m_dependencies.makePopover));
    m_popover = std::move(popover);
}

void AppDelegate::startSyncingTimer() {
    m_syncingTimer = std::make_unique<QTimer>(); // replaces, and so stops, an earlier one
    m_syncingTimer->setInterval(syncingInterval);
    m_syncingTimer->setSingleShot(false);
    connect(m_syncingTimer.get(), &QTimer::timeout, this, &AppDelegate::_UpdateOracleGasPrice);
    m_syncingTimer->start();
    // The first tick comes as soon as the event loop runs, after launching has finished, so that it
    // already finds the popover.
    QMetaObject::invokeMethod(this, &AppDelegate::_UpdateOracleGasPrice, Qt::QueuedConnection);
}

void AppDelegate::applyLengthRule() {
    if (StatusButton *button = m_statesItem->button())
        m_statesItem->setLength(button->sizeThatFits(QSizeF(500.0, 50.0)).width() + 5.0);
    else
        m_statesItem->setLength(45.0);
}

void AppDelegate::_popView() {
    StatusButton *button = m_statesItem->button();
    if (!m_popover || !button)
        return;
    m_popover->showRelativeToRect(button->bounds(), Popover::Edge::MaxY);
}

PopViewController *AppDelegate::popViewController() const {
    return m_popover ? qobject_cast<PopViewController *>(m_popover->contentViewController()) : nullptr;
}

void AppDelegate::_UpdateOracleGasPrice() {
    const std::optional<GasStoreService::chainMessage> row =
        GasStoreService::chain(GasStoreService::selectedChainId());
    // The records are read once a refresh for both the title and the popover's fields.
    const GasStoreService::StoredPrices stored =
        row ? GasStoreService::storedPrices(row->chainId)
            : GasStoreService::StoredPrices{{missing, missing, missing}, missing};
    const GasStoreService::GasPrices &snapshot = stored.gasPrices;

    if (StatusButton *button = m_statesItem->button())
        button->setTitle(statusTitle(snapshot.low, snapshot.standard, snapshot.fast));
    applyLengthRule();

    const QString &tokenPrice = stored.tokenPrice;
    if (PopViewController *controller = popViewController()) {
        controller->updateGasPrices(snapshot.low, snapshot.standard, snapshot.fast);
        controller->updateFiatCosts(snapshot.low, snapshot.standard, snapshot.fast, tokenPrice);
    }
    if (!row)
        return;

    const Refresh refresh{snapshot, row->chainId, ++m_refreshesStarted};
    m_dependencies.fetchGasPrice(*row, [self = QPointer<AppDelegate>(this), refresh](auto result) {
        if (self)
            self->applyOracleGasPrice(refresh, result);
    });
}

void AppDelegate::applyOracleGasPrice(const Refresh &refresh,
                                      const std::optional<GasStoreService::FetchResult> &result) {
    if (!result)
        return;
    const std::optional<GasStoreService::chainMessage> row =
        GasStoreService::chain(GasStoreService::selectedChainId());
    // One network's prices never go into another network's record, nor onto the screen.
    if (!row || row->chainId != refresh.chainId)
        return;
    // Replies may come back out of order; one from an older refresh would put stale prices back.
    if (refresh.sequence <= m_newestAppliedRefresh)
        return;
    m_newestAppliedRefresh = refresh.sequence;

    if (StatusButton *button = m_statesItem->button())
        button->setTitle(statusTitle(result->low, result->standard, result->fast));

    const GasStoreService::GasPrices &old = refresh.snapshot;
    if (result->low != old.low || result->standard != old.standard || result->fast != old.fast) {
        GasStoreService::saveSysTime(timeText(m_dependencies.now()), row->chainId);
        GasStoreService::saveGasPrice(result->low, result->standard, result->fast, row->chainId);
    }
    GasStoreService::saveTokenPrice(result->tokenPrice, row->chainId);

    applyLengthRule();

    if (PopViewController *controller = popViewController()) {
        controller->updateGasPrices(result->low, result->standard, result->fast);
        controller->updateFiatCosts(result->low, result->standard, result->fast, result->tokenPrice);
    }
}

QString AppDelegate::statusTitle(const QString &low, const QString &standard, const QString &fast) {
    // Made twice per refresh: one allocation instead of one per "+".
    const auto separator = QLatin1StringView(" | ");
    QString title;
    title.reserve(low.size() + standard.size() + fast.size() + 2 * separator.size());
    title.append(low).append(separator).append(standard).append(separator).append(fast);
    return title;
}

QString AppDelegate::timeText(double secondsSince1970) {
    char buffer[400]; // enough for any double in fixed notation
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, secondsSince1970, std::chars_format::fixed);
    if (error != std::errc())
        return QString();
    std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
    QString out = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    if (std::isfinite(secondsSince1970) && text.find('.') == std::string_view::npos)
        out += QStringLiteral(".0");
    return out;
}

double AppDelegate::currentTimeIntervalSince1970() {
    return static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}
