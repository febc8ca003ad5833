#pragma once

#include "platform/UserDefaults.h"

#include <QVariantMap>

// In-memory user defaults for unit tests; installs itself as the standard store while it lives.
class MemoryUserDefaults : public UserDefaults {
public:
    MemoryUserDefaults() { UserDefaults::setStandard(this); }
    ~MemoryUserDefaults() override { UserDefaults::setStandard(nullptr); }

    QVariant value(const QString &key) const override { return values.value(key); }
    void setValue(const QString &key, const QVariant &value) override { values.insert(key, value); }
    bool synchronize() override {
        ++synchronizeCount;
        return true;
    }

    QVariantMap values;
    int synchronizeCount = 0;
};
