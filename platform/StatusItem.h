#pragma once

#include <QRect>
#include <QSizeF>
#include <QString>

#include <functional>

// The button of the panel item: its title, the size the title needs, and the click action.
class StatusButton {
public:
    virtual ~StatusButton() = default;
    virtual void setTitle(const QString &title) = 0;
    virtual QString title() const = 0;
    // Size the title needs within `proposed` (points = device-independent pixels); only the width is used.
    virtual QSizeF sizeThatFits(const QSizeF &proposed) const = 0;
    virtual void setAction(std::function<void()> action) = 0;
    // Where the button is on screen (global coordinates), for anchoring the popover.
    virtual QRect bounds() const = 0;
};

// The item in the desktop panel's status area.
class StatusItem {
public:
    virtual ~StatusItem() = default;
    virtual StatusButton *button() = 0; // nullptr when the item has no button
    virtual void setLength(double points) = 0;
    virtual double length() const = 0;
};
