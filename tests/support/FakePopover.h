#pragma once

#include "platform/Popover.h"
#include "platform/ViewController.h"

#include <QRect>

#include <memory>
#include <utility>
#include <vector>

// Records what the application asks of a popover; shows nothing.
class FakePopover : public Popover {
public:
    void setDarkAppearance() override { dark = true; }
    void setContentViewController(ViewController *controller) override { m_content.reset(controller); }
    ViewController *contentViewController() const override { return m_content.get(); }
    void showRelativeToRect(const QRect &anchor, Edge edge) override {
        if (m_content)
            m_content->viewWillAppear();
        shows.emplace_back(anchor, edge);
        shown = true;
    }
    void close() override {
        if (shown)
            ++closes;
        shown = false;
    }
    bool isShown() const override { return shown; }

    bool dark = false;
    bool shown = false;
    int closes = 0; // closes of a shown popover
    std::vector<std::pair<QRect, Edge>> shows;

private:
    std::unique_ptr<ViewController> m_content;
};
