#pragma once

#include <QString>
#include <QVariant>

// The application's persistent key-value store. Values are texts (QString) and dictionaries with
// text keys (QVariantMap), nested; a missing key reads as an invalid QVariant.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;

    virtual QVariant value(const QString &key) const = 0;
    virtual void setValue(const QString &key, const QVariant &value) = 0;
    // Writes everything stored so far to permanent storage before returning.
    // false: nothing was written and the previous file is intact.
    virtual bool synchronize() = 0;

    // The store the whole program uses. Tests point it at a fake; the program entry at the file store.
    static UserDefaults &standard();
    static void setStandard(UserDefaults *defaults);
};
