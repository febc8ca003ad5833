#pragma once

#include "platform/Popover.h"

#include <QRect>
#include <QSize>

#include <memory>

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
    // below the anchor and right-aligned with it (MaxY), or right of it and centred on it (MaxX).
    static QPoint placement(const QRect &anchor, Edge edge, const QSize &size, const QRect &area);

private:
    // Declared before the controller: the controller deletes its view, a child of this window, first.
    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<ViewController> m_controller;
};
