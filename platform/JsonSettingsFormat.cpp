#include "platform/JsonSettingsFormat.h"

#include "platform/VariantMapJson.h"

#include <QDateTime>
#include <QFile>
#include <QFileDevice>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

namespace {

// An empty key cannot pass through QSettings; a lone "%" never comes out of percent-encoding.
const QString kEmptyKey = QStringLiteral("%");

QMutex g_refusedMutex;
QSet<QString> g_refusedFiles; // corrupt files that could not be moved aside

void setRefused(const QString &fileName, bool refused) {
    if (fileName.isEmpty())
        return;
    const QMutexLocker lock(&g_refusedMutex);
    if (refused)
        g_refusedFiles.insert(fileName);
    else
        g_refusedFiles.remove(fileName);
}

bool isRefused(const QString &fileName) {
    if (fileName.isEmpty())
        return false;
    const QMutexLocker lock(&g_refusedMutex);
    return g_refusedFiles.contains(fileName);
}

// QSettings hands a QFile to the read function and a QSaveFile to the write function; both name the
// final file.
QString fileNameOf(const QIODevice &device) {
    const auto *file = qobject_cast<const QFileDevice *>(&device);
    return file ? file->fileName() : QString();
}

// The read may have raced a writer that replaced the file; only the file that was read is moved aside.
bool stillSameFile(const QFileDevice &file) {
    struct stat opened {};
    struct stat current {};
    return fstat(file.handle(), &opened) == 0 && stat(QFile::encodeName(file.fileName()), &current) == 0 &&
           opened.st_dev == current.st_dev && opened.st_ino == current.st_ino;
}

} // namespace

QSettings::Format JsonSettingsFormat::format() {
    static const QSettings::Format registered = QSettings::registerFormat(
        QStringLiteral("json"), &JsonSettingsFormat::read, &JsonSettingsFormat::write, Qt::CaseSensitive);
    return registered;
}

QString JsonSettingsFormat::settingsKey(const QString &fileKey) {
    if (fileKey.isEmpty())
        return kEmptyKey;
    // Every key the program reads is made of characters that percent-encoding leaves alone; such a
    // key is its own encoding, and the store is read many times per refresh.
    const auto unreserved = [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
               c == u'-' || c == u'.' || c == u'_' || c == u'~';
    };
    if (std::all_of(fileKey.begin(), fileKey.end(), unreserved))
        return fileKey;
    return QString::fromLatin1(fileKey.toUtf8().toPercentEncoding());
}

QString JsonSettingsFormat::fileKey(const QString &settingsKey) {
    if (settingsKey == kEmptyKey)
        return QString();
    return QString::fromUtf8(QByteArray::fromPercentEncoding(settingsKey.toLatin1()));
}

bool JsonSettingsFormat::read(QIODevice &device, QSettings::SettingsMap &map) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(device.readAll(), &error);
    const QString fileName = fileNameOf(device);
    if (document.isObject()) {
        const QJsonObject object = document.object();
        for (auto it = object.begin(); it != object.end(); ++it)
            map.insert(settingsKey(it.key()), it.value().toVariant());
        setRefused(fileName, false);
        return true;
    }

    const QString reason = error.error != QJsonParseError::NoError
                               ? QStringLiteral("%1 at offset %2").arg(error.errorString()).arg(error.offset)
                               : QStringLiteral("not a JSON object");
    const auto *file = qobject_cast<const QFileDevice *>(&device);
    if (file && stillSameFile(*file) && !moveAside(fileName, reason).isEmpty()) {
        setRefused(fileName, false);
        return true;
    }
    if (!isRefused(fileName)) {
        std::fprintf(stderr,
                     "gweibar: defaults file %s does not parse (%s) and cannot be moved aside; "
                     "it is left untouched and nothing is saved\n",
                     qPrintable(fileName), qPrintable(reason));
    }
    setRefused(fileName, true);
    return false;
}

bool JsonSettingsFormat::write(QIODevice &device, const QSettings::SettingsMap &map) {
    if (isRefused(fileNameOf(device)))
        return false;
    QVariantMap object;
    for (auto it = map.begin(); it != map.end(); ++it)
        object.insert(fileKey(it.key()), it.value());
    const QByteArray data = VariantMapJson::toJson(object, QJsonDocument::Indented);
    return device.write(data) == data.size();
}

QString JsonSettingsFormat::moveAside(const QString &path, const QString &reason) {
    const QString base = path + QStringLiteral(".corrupt-") +
                         QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddTHHmmssZ"));
    const QByteArray from = QFile::encodeName(path);
    for (int n = 1; n < 1000; ++n) {
        const QString aside = n == 1 ? base : base + QStringLiteral("-%1").arg(n);
        const QByteArray to = QFile::encodeName(aside);
        int moved = renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
        if (moved != 0 && errno == EINVAL) { // file system without RENAME_NOREPLACE
            if (QFile::exists(aside))
                continue;
            moved = std::rename(from.constData(), to.constData());
        }
        if (moved == 0) {
            std::fprintf(stderr,
                         "gweibar: defaults file %s is unreadable (%s); moved to %s, starting from "
                         "empty defaults\n",
                         from.constData(), qPrintable(reason), to.constData());
            return aside;
        }
        if (errno != EEXIST)
            return QString();
    }
    return QString();
}
