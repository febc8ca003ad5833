#pragma once

#include "platform/UserDefaults.h"

#include <QObject>
#include <QSettings>

#include <memory>

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

    QString m_filePath;
    std::unique_ptr<QSettings> m_settings;
    bool m_unsaved = false;
};
