#pragma once

#include <QStringList>

#include <functional>

// One record of the calls that several fakes receive, in the order they come.
class CallJournal {
public:
    void note(const QString &entry) {
        if (beforeEach)
            beforeEach(entries);
        entries.append(entry);
    }

    // Runs before every entry: a test adds what it sees change that no fake is told about.
    std::function<void(QStringList &entries)> beforeEach;
    QStringList entries;
};
