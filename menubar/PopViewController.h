#pragma once

#include "platform/ViewController.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class Popover;

// The price popover's content: prices, dollar costs of a plain transfer, time of the last change,
// network and version, and the buttons for the web page, the network choice and quitting.
class PopViewController : public ViewController {
    Q_OBJECT
public:
    using PopoverFactory = std::function<std::unique_ptr<Popover>()>;

    // `makePopover` makes the network-choice popover when the view loads.
    explicit PopViewController(PopoverFactory makePopover, QObject *parent = nullptr);
    ~PopViewController() override;

    void updateGasPrices(const QString &low, const QString &standard, const QString &fast);
    void updateFiatCosts(const QString &low, const QString &standard, const QString &fast,
                         const QString &tokenPrice);

    void setupSettingPopover();
    void showSettingPopover();
    void settingDidClick();

    Popover *popover() const { return m_popover.get(); }
    bool isShow() const { return m_isShow; }

    // "$ " and the cost of 21,000 gas at `gasPrice` gwei, or "--" when a price is not a number.
    static QString fiatCost(const QString &gasPrice, const QString &tokenPrice);
    // "LastTime: " and the local "HH:mm:ss" of a stored seconds-since-1970 text.
    static QString lastTimeText(const QString &storedSysTime);

public slots:
    void openUrl();
    void popSetting();
    void hidden();
    void quit();

protected:
    void viewDidLoad() override;

private:
    void connectActions();
    void showNetworkName();

    PopoverFactory m_makePopover;
    QPointer<QLabel> m_lastTime;
    QPointer<QLabel> m_low;
    QPointer<QLabel> m_standard;
    QPointer<QLabel> m_fast;
    QPointer<QLabel> m_lowPrice;
    QPointer<QLabel> m_standardPrice;
    QPointer<QLabel> m_fastPrice;
    QPointer<QAbstractButton> m_settingButton;
    QPointer<QLabel> m_networkName;
    QPointer<QLabel> m_version;
    std::unique_ptr<Popover> m_popover;
    bool m_isShow = false;
};
