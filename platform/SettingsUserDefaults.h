#pragma once

#include "platform/UserDefaults.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSettings>

#include <memory>
#include <optional>
#include <sys/stat.h>

// User defaults kept in a JSON file through QSettings ("gweibar/defaults.json" in the user's config
// directory). The file is 0600 in a 0700 directory when this class creates them; a file that cannot be
// read is moved aside instead of being overwritten.
class SettingsUserDefaults : public QObject, public UserDefaults {
    Q_OBJECT
public:
    SettingsUserDefaults();
    explicit SettingsUserDefaults(const QString &filePath);
    ~SettingsUserDefaults() override;

    QVariant value(const QString &key) const override;
    void setValue(const QString &key, const QVariant &value) override;
    bool synchronize() override;

    QString filePath() const { return m_filePath; }
    static QString defaultFilePath();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void openSettings();
    void prepareFile();
    // QSettings' sync, which reads the file again when it has changed since QSettings last read it.
    void syncSettings();
    // The file as it stood right before the last sync, when it had content then and has not changed
    // since: a sync with nothing pending would do nothing.
    bool unchangedSinceSync() const;
    // No other instance in this process has set a value or synced since this one last did.
    bool currentInProcess() const;

    QString m_filePath;
    QByteArray m_encodedPath; // absolute, for stat
    std::unique_ptr<QSettings> m_settings;
    bool m_unsaved = false;
    std::optional<struct stat> m_statBeforeSync;
    // What QSettings answered for each key since its last sync; QSettings changes only then, in
    // setValue and through another instance on the same path (then this is not used).
    mutable QHash<QString, QVariant> m_values;
    quint64 m_seenChanges = 0;
};
