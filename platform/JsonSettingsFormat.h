#pragma once

#include <QSettings>
#include <QString>

// The JSON file format behind SettingsUserDefaults: one indented JSON object, one entry per key, nested
// objects for dictionaries. Top-level keys are escaped on their way into QSettings, which would otherwise
// treat "/" as a group separator and drop empty keys.
class JsonSettingsFormat {
public:
    static QSettings::Format format();

    static QString settingsKey(const QString &fileKey);
    static QString fileKey(const QString &settingsKey);

    // A file that does not parse is renamed to "<file>.corrupt-<time>" and reads as empty; one line
    // goes to standard error. Should the rename fail, the read fails and every later write of that
    // file is refused until it parses again, so the file is never overwritten.
    static bool read(QIODevice &device, QSettings::SettingsMap &map);
    static bool write(QIODevice &device, const QSettings::SettingsMap &map);

    // Renames `path` aside without replacing an existing file; returns the new path, empty on failure.
    static QString moveAside(const QString &path, const QString &reason);
};
