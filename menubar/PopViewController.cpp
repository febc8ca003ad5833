#include "menubar/PopViewController.h"

#include "menubar/SettingPopViewController.h"
#include "platform/BundleInfo.h"
#include "platform/Decimal.h"
#include "platform/Popover.h"
#include "platform/TextFieldCell.h"
#include "platform/Workspace.h"
#include "store/DecimalFormat.h"
#include "store/GasStoreService.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QUrl>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <utility>

namespace {
const QString missing = QStringLiteral("--");
const QString webPage = QStringLiteral("https://www.example.com");

// QString::toDouble of a stored time. The plain form the program writes (digits, a point, digits) is
// read with std::from_chars, which rounds exactly as toDouble does, at a tenth of its cost; any other
// text goes through toDouble itself.
double secondsValue(const QString &text, bool *ok) {
    char digits[64];
    const qsizetype size = text.size();
    bool plain = size > 0 && size < qsizetype(sizeof digits);
    qsizetype point = -1;
    for (qsizetype i = 0; plain && i < size; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == u'.' && point < 0 && i > 0 && i + 1 < size)
            point = i;
        else if (c < u'0' || c > u'9')
            plain = false;
        digits[i] = static_cast<char>(c);
    }
    double value = 0;
    if (plain && std::from_chars(digits, digits + size, value).ec == std::errc()) {
        *ok = true;
        return value;
    }
    return text.toDouble(ok);
}

std::optional<GasStoreService::chainMessage> selectedChain() {
    return GasStoreService::chain(GasStoreService::selectedChainId());
}
} // namespace

PopViewController::PopViewController(PopoverFactory makePopover, QObject *parent)
    : ViewController(QStringLiteral("PopViewController"), parent)
    , m_makePopover(std::move(makePopover)) {}

PopViewController::~PopViewController() = default;

void PopViewController::viewDidLoad() {
    m_lastTime = outlet<QLabel>("lastTime");
    m_low = outlet<QLabel>("low");
    m_standard = outlet<QLabel>("standard");
    m_fast = outlet<QLabel>("fast");
    m_lowPrice = outlet<QLabel>("lowPrice");
    m_standardPrice = outlet<QLabel>("standardPrice");
    m_fastPrice = outlet<QLabel>("fastPrice");
    m_settingButton = outlet<QAbstractButton>("settingButton");
    m_networkName = outlet<QLabel>("networkName");
    m_version = outlet<QLabel>("version");
    connectActions();

    const QVariantMap info = BundleInfo::infoDictionary();
    TextFieldCell::setTitle(
        m_version, QStringLiteral("V ") +
                       info.value(QStringLiteral("CFBundleShortVersionString")).toString() +
                       QStringLiteral(" (") + info.value(QStringLiteral("CFBundleVersion")).toString() +
                       QStringLiteral(")"));
    setupSettingPopover();
    showNetworkName();

    GasStoreService::GasPrices prices{missing, missing, missing};
    QString tokenPrice = missing;
    if (const auto row = selectedChain()) {
        prices = GasStoreService::storedGasPrice(row->chainId);
        tokenPrice = GasStoreService::storedTokenPrice(row->chainId);
    }
    updateGasPrices(prices.low, prices.standard, prices.fast);
    updateFiatCosts(prices.low, prices.standard, prices.fast, tokenPrice);
}

void PopViewController::connectActions() {
    const struct {
        const char *objectName;
        void (PopViewController::*action)();
    } actions[] = {
        {"webPageButton", &PopViewController::openUrl},
        {"settingButton", &PopViewController::popSetting},
        {"closeSettingButton", &PopViewController::hidden},
        {"quitButton", &PopViewController::quit},
    };
    for (const auto &a : actions) {
        if (const QPointer<QAbstractButton> button = outlet<QAbstractButton>(a.objectName))
            connect(button, &QAbstractButton::clicked, this, a.action);
    }
}

void PopViewController::showNetworkName() {
    const auto row = selectedChain();
    TextFieldCell::setTitle(m_networkName, row ? row->chainName : missing);
}

void PopViewController::updateGasPrices(const QString &low, const QString &standard, const QString &fast) {
    TextFieldCell::setTitle(m_low, low);
    TextFieldCell::setTitle(m_standard, standard);
    TextFieldCell::setTitle(m_fast, fast);
    if (!m_lastTime)
        return;
    const auto row = selectedChain();
    TextFieldCell::setTitle(m_lastTime,
                            lastTimeText(row ? GasStoreService::storedSysTime(row->chainId) : missing));
}

void PopViewController::updateFiatCosts(const QString &low, const QString &standard, const QString &fast,
                                        const QString &tokenPrice) {
    // An empty token price leaves the costs as they were; the gas prices alone say nothing about dollars.
    if (tokenPrice.isEmpty())
        return;
    // Until the view loads there is no field to fill, and every refresh calls this twice.
    if (m_lowPrice)
        TextFieldCell::setTitle(m_lowPrice, fiatCost(low, tokenPrice));
    if (m_standardPrice)
        TextFieldCell::setTitle(m_standardPrice, fiatCost(standard, tokenPrice));
    if (m_fastPrice)
        TextFieldCell::setTitle(m_fastPrice, fiatCost(fast, tokenPrice));
}

QString PopViewController::fiatCost(const QString &gasPrice, const QString &tokenPrice) {
    // Each refresh first shows the stored prices, which the one before has just shown: the last costs
    // worked out (three fields, twice) are kept by their two texts, as the cost depends on nothing else.
    struct Recent {
        QString gasPrice, tokenPrice, cost;
    };
    static std::array<Recent, 6> recent;
    static std::size_t next = 0;
    for (const Recent &r : recent) {
        if (!r.cost.isNull() && r.gasPrice == gasPrice && r.tokenPrice == tokenPrice)
            return r.cost;
    }

    QString cost = QStringLiteral("$ ") + missing;
    const std::optional<Decimal> token = Decimal::parse(tokenPrice.toStdString());
    const std::optional<Decimal> gas = Decimal::parse(gasPrice.toStdString());
    if (token && gas) {
        // 21,000 gas at a price in gwei, in whole tokens: price x 2100 x 10^-8.
        static const Decimal gasPerTransfer(false, 2100, 0);
        cost = QStringLiteral("$ ") + formatDecimal((*token * *gas * gasPerTransfer).shifted(-8), 4, true);
    }
    recent[next] = {gasPrice, tokenPrice, cost};
    next = (next + 1) % recent.size();
    return cost;
}

QString PopViewController::lastTimeText(const QString &storedSysTime) {
    const QString prefix = QStringLiteral("LastTime: ");
    bool ok = false;
    const double seconds = secondsValue(storedSysTime, &ok);
    // Outside this range the milliseconds would not fit a 64-bit integer; only an outside edit of the
    // defaults can put such a value there.
    constexpr double limit = 9.0e15;
    if (storedSysTime == missing || !ok || !std::isfinite(seconds) || std::abs(seconds) > limit)
        return prefix + missing;
    const auto msecs = static_cast<qint64>(std::floor(seconds * 1000.0));
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC).toLocalTime();
    if (!when.isValid())
        return prefix + missing;
    // What toString("HH:mm:ss") writes (two ASCII digits each, 00 to 23 hours), without parsing the
    // format at every refresh.
    const QTime time = when.time();
    const char text[] = {char('0' + time.hour() / 10),   char('0' + time.hour() % 10),   ':',
                         char('0' + time.minute() / 10), char('0' + time.minute() % 10), ':',
                         char('0' + time.second() / 10), char('0' + time.second() % 10)};
    return prefix + QLatin1StringView(text, sizeof text);
}

void PopViewController::setupSettingPopover() {
    std::unique_ptr<Popover> popover = m_makePopover ? m_makePopover() : nullptr;
    if (!popover)
        return;
    popover->setDarkAppearance();
    auto *controller = new SettingPopViewController;
    controller->setDidClick([self = QPointer<PopViewController>(this)](SettingPopViewController *) {
        if (self)
            self->settingDidClick();
    });
    popover->setContentViewController(controller);
    m_popover = std::move(popover);
}

void PopViewController::showSettingPopover() {
    if (m_popover && m_settingButton) {
        const QRect anchor(m_settingButton->mapToGlobal(QPoint(0, 0)), m_settingButton->size());
        m_popover->showRelativeToRect(anchor, Popover::Edge::MaxX);
    }
    m_isShow = true;
}

void PopViewController::popSetting() {
    showSettingPopover();
}

void PopViewController::hidden() {
    if (!m_isShow)
        return;
    if (m_popover)
        m_popover->close();
    m_isShow = false;
}

void PopViewController::settingDidClick() {
    showNetworkName();
    hidden();
}

void PopViewController::openUrl() {
    if (Workspace::sharedWorkspace().openURL(QUrl(webPage))) {
        std::fputs("default browser was successfully opened\n", stdout);
        std::fflush(stdout);
    }
}

void PopViewController::quit() {
    QCoreApplication::quit();
}
