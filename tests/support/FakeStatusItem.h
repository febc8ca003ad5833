#pragma once

#include "platform/StatusItem.h"
#include "support/CallJournal.h"

#include <QStringList>

#include <memory>
#include <vector>

// A panel button whose fitted width is a fixed 7 points per character of its title.
class FakeStatusButton : public StatusButton {
public:
    void setTitle(const QString &title) override { titles.append(title); }
    QString title() const override { return titles.isEmpty() ? QString() : titles.last(); }
    QSizeF sizeThatFits(const QSizeF &proposed) const override {
        return {7.0 * static_cast<double>(title().size()), proposed.height()};
    }
    void setAction(std::function<void()> action) override {
        if (journal)
            journal->note(QStringLiteral("button action"));
        this->action = std::move(action);
    }
    QRect bounds() const override { return rect; }

    QStringList titles; // every title set, in order
    std::function<void()> action;
    QRect rect{1200, 0, 80, 24};
    CallJournal *journal = nullptr;
};

class FakeStatusItem : public StatusItem {
public:
    FakeStatusItem(double length, bool withButton)
        : initialLength(length)
        , m_button(withButton ? std::make_unique<FakeStatusButton>() : nullptr) {}

    StatusButton *button() override { return m_button.get(); }
    FakeStatusButton *fakeButton() const { return m_button.get(); }
    void setLength(double points) override {
        if (journal)
            journal->note(QStringLiteral("length %1").arg(points));
        lengths.push_back(points);
    }
    double length() const override { return lengths.empty() ? initialLength : lengths.back(); }

    void setJournal(CallJournal *journal) {
        this->journal = journal;
        if (m_button)
            m_button->journal = journal;
    }

    double initialLength;
    std::vector<double> lengths; // every length set, in order
    CallJournal *journal = nullptr;

private:
    std::unique_ptr<FakeStatusButton> m_button;
};
