#pragma once

#include <QRect>

class ViewController;

// A small window shown next to an anchor rectangle. Closing is left to the application.
class Popover {
public:
    enum class Edge { MaxX = 2, MaxY = 3 }; // right of the anchor / below the panel item
    virtual ~Popover() = default;

    virtual void setDarkAppearance() = 0;
    // Takes ownership; replaces and deletes an earlier controller.
    virtual void setContentViewController(ViewController *controller) = 0;
    virtual ViewController *contentViewController() const = 0;
    // `anchor` in global coordinates. Shows (or re-shows) the popover; a shown popover stays shown.
    virtual void showRelativeToRect(const QRect &anchor, Edge edge) = 0;
    // Does nothing when the popover is not shown.
    virtual void close() = 0;
    virtual bool isShown() const = 0;
};
