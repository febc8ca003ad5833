#pragma once

#include "platform/StatusItem.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QPushButton;
class QWidget;

// The panel item for desktops without a StatusNotifierItem host: a small frameless window that stays
// on top at the top-right corner of the primary screen and shows the title as a flat button as wide
// as the item's length.
class StripStatusItem : public StatusItem, public StatusButton {
public:
    explicit StripStatusItem(double length);
    ~StripStatusItem() override;

    StatusButton *button() override { return this; }
    void setLength(double points) override;
    double length() const override { return m_length; }

    void setTitle(const QString &title) override;
    QString title() const override { return m_title; }
    QSizeF sizeThatFits(const QSizeF &proposed) const override;
    void setAction(std::function<void()> action) override { m_action = std::move(action); }
    QRect bounds() const override; // the button's global rectangle

    void setVisible(bool visible);
    bool isVisible() const;
    QWidget *window() const { return m_window.get(); }
    // The text the button shows, elided to its width.
    QString shownText() const;

private:
    void layOut();

    std::unique_ptr<QWidget> m_window;
    QPointer<QPushButton> m_button; // child of m_window
    QString m_title;
    double m_length = 0;
    std::function<void()> m_action;
};
