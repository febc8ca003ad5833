#pragma once

#include "support/MemoryUserDefaults.h"

#include <QStringList>

// The in-memory store that also remembers the order in which keys were written.
class RecordingUserDefaults : public MemoryUserDefaults {
public:
    void setValue(const QString &key, const QVariant &value) override {
        writtenKeys.append(key);
        MemoryUserDefaults::setValue(key, value);
    }

    QStringList writtenKeys;
};
