#pragma once

#include "platform/StatusItem.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class StatusNotifierItem;
class StripStatusItem;

// The panel item the program uses: the StatusNotifierItem while a watcher has accepted it, the strip
// window while none has (no session bus, no host yet, or the host went away). Both are kept up to date
// so that switching shows the current title at once.
class PanelStatusItem : public QObject, public StatusItem, public StatusButton {
    Q_OBJECT
public:
    PanelStatusItem(std::unique_ptr<StatusNotifierItem> notifierItem, std::unique_ptr<StripStatusItem> strip);
    ~PanelStatusItem() override;

    StatusButton *button() override { return this; }
    void setLength(double points) override;
    double length() const override;

    void setTitle(const QString &title) override;
    QString title() const override;
    QSizeF sizeThatFits(const QSizeF &proposed) const override;
    void setAction(std::function<void()> action) override;
    QRect bounds() const override;

    bool isStripShown() const;
    StatusNotifierItem *notifierItem() const { return m_notifierItem.get(); }
    StripStatusItem *strip() const { return m_strip.get(); }

private:
    bool hostShowsItem() const;

    std::unique_ptr<StatusNotifierItem> m_notifierItem; // null without a session bus
    std::unique_ptr<StripStatusItem> m_strip;
};
