#pragma once

#include "platform/Popover.h"

#include <QRect>
#include <QSize>

#include <memory>
#include <vector>

class QScreen;
class QWidget;

// The popover as a frameless top-level window beside its anchor. All geometry is in Qt's
// device-independent pixels, so it lands right on scaled screens too.
class PopoverWindow : public Popover {
public:
    PopoverWindow();
    ~PopoverWindow() override;

    void setDarkAppearance() override;
    void setContentViewController(ViewController *controller) override;
    ViewController *contentViewController() const override { return m_controller.get(); }
    void showRelativeToRect(const QRect &anchor, Edge edge) override;
    void close() override;
    bool isShown() const override;

    QWidget *window() const { return m_window.get(); }

    // Top-left corner for a popover of `size` on `edge` of `anchor`, kept within `area`:
    // below the anchor and right-aligned with it (MaxY), or right of it and centred on it (MaxX);
    // above or left of it instead when that side has room and the preferred one has not.
    static QPoint placement(const QRect &anchor, Edge edge, const QSize &size, const QRect &area);

private:
    // Shown popovers, the most recently shown last.
    static std::vector<PopoverWindow *> &shownPopovers();
    void forget();
    // Moves the window beside the anchor it was last shown at, for its size of now.
    void place();

    // Declared before the controller: the controller deletes its view, a child of this window, first.
    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<ViewController> m_controller;
    // The shown popover whose window held the anchor when this one was shown; it closes this one with it.
    PopoverWindow *m_owner = nullptr;
    QRect m_anchor;
    Edge m_edge = Edge::MaxY;
    bool m_followsSize = false; // its window's size changes re-place it
};
