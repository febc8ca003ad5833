#include "platform/SettingsUserDefaults.h"

#include "platform/JsonSettingsFormat.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr QFile::Permissions kOwnerOnlyFile = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions kOwnerOnlyDirectory = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

// QSettings instances on one path share what they read and what is pending, so a value set or a sync
// through one instance shows in the others. Counts such changes through any instance in the process.
std::atomic<quint64> changesInProcess{0};

// Whether a lock file names a process of this machine that has ended.
bool holderHasEnded(const QString &path) {
    qint64 pid = 0;
    QString hostname;
    QString appname;
    if (!QLockFile(path).getLockInfo(&pid, &hostname, &appname))
        return false;
    if (!hostname.isEmpty() && hostname != QSysInfo::machineHostName())
        return false;
    // QLockFile reads a lock made before the last boot as pid -1.
    return pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) == -1 && errno == ESRCH);
}

// A lock file left by a writer that was killed blocks saves, and the caller's thread with them:
// - killed between creating the file and writing its process id into it, the file is empty, and
//   QLockFile takes it for a live lock for 30 seconds;
// - killed holding the lock, QLockFile sees it is stale but removes it only under a second lock file of
//   its own, which it cannot write on a full disk, and then waits for ever.
// A live writer holds flock on its lock file from right after creating it, so an empty file, or one
// whose writer has ended, that nobody holds is abandoned.
void removeAbandonedLockFile(const QString &path) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat opened {};
    struct stat current {};
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &opened) == 0 &&
        (opened.st_size == 0 || holderHasEnded(path)) && ::stat(name.constData(), &current) == 0 &&
        current.st_dev == opened.st_dev && current.st_ino == opened.st_ino)
        ::unlink(name.constData());
    ::close(fd);
}

// The same JSON value of the same kind. QVariant's == calls the text "56" and the number 56 equal, at
// any depth of a map.
bool sameJsonValue(const QVariant &a, const QVariant &b) {
    if (a.typeId() != b.typeId())
        return false;
    if (a.typeId() == QMetaType::QVariantMap) {
        const QVariantMap x = a.toMap();
        const QVariantMap y = b.toMap();
        if (x.isSharedWith(y))
            return true;
        if (x.size() != y.size())
            return false;
        for (auto i = x.cbegin(), j = y.cbegin(); i != x.cend(); ++i, ++j) {
            if (i.key() != j.key() || !sameJsonValue(i.value(), j.value()))
                return false;
        }
        return true;
    }
    if (a.typeId() == QMetaType::QVariantList) {
        const QVariantList x = a.toList();
        const QVariantList y = b.toList();
        return std::equal(x.cbegin(), x.cend(), y.cbegin(), y.cend(), sameJsonValue);
    }
    return a == b;
}

} // namespace

SettingsUserDefaults::SettingsUserDefaults()
    : SettingsUserDefaults(defaultFilePath()) {}

SettingsUserDefaults::SettingsUserDefaults(const QString &filePath)
    : m_filePath(filePath)
    , m_encodedPath(QFile::encodeName(QFileInfo(filePath).absoluteFilePath())) {
    // QSettings reports a file it cannot open as an access error and then neither reads nor writes it
    // for the rest of the run; moved aside, it no longer stands between the user and saved prices.
    QFile file(m_filePath);
    if (file.exists() && !file.open(QIODevice::ReadOnly)) {
        const QString reason =
            QFileInfo(m_filePath).isDir() ? QStringLiteral("a directory") : file.errorString();
        if (JsonSettingsFormat::moveAside(m_filePath, reason).isEmpty())
            std::fprintf(stderr,
                         "gweibar: defaults file %s is unreadable (%s) and cannot be moved aside; "
                         "it is left untouched and nothing is saved\n",
                         qPrintable(m_filePath), qPrintable(reason));
    }
    openSettings();
}

SettingsUserDefaults::~SettingsUserDefaults() {
    if (m_unsaved)
        synchronize();
}

QString SettingsUserDefaults::defaultFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/gweibar/defaults.json");
}

QVariant SettingsUserDefaults::value(const QString &key) const {
    // The store checks all six records at every operation, about twenty reads a refresh; QSettings
    // normalises the key and copies it for each.
    if (!currentInProcess())
        return m_settings->value(JsonSettingsFormat::settingsKey(key));
    if (const auto found = m_values.constFind(key); found != m_values.cend())
        return *found;
    QVariant value = m_settings->value(JsonSettingsFormat::settingsKey(key));
    m_values.insert(key, value);
    return value;
}

void SettingsUserDefaults::setValue(const QString &key, const QVariant &value) {
    const QString settingsKey = JsonSettingsFormat::settingsKey(key);
    // Every refresh stores the token price again, mostly unchanged; QSettings would rewrite and sync
    // the whole file for it each time. Unchanged means unchanged in the file as it is now: with nothing
    // pending, QSettings' sync only reads, and only a file that another writer has changed. With
    // something pending the file is written at the next synchronize anyway.
    if (!m_unsaved) {
        if (!currentInProcess() || !unchangedSinceSync())
            syncSettings();
        const QVariant current = this->value(key);
        if ((current.isValid() || m_settings->contains(settingsKey)) && sameJsonValue(current, value))
            return;
    }
    const bool current = currentInProcess();
    m_settings->setValue(settingsKey, value);
    const quint64 changes = ++changesInProcess;
    if (current)
        m_seenChanges = changes;
    // A key that is not its own settings key may share it with another (lone surrogates).
    if (settingsKey == key)
        m_values.remove(key);
    else
        m_values.clear();
    m_unsaved = true;
}

bool SettingsUserDefaults::synchronize() {
    // A QSettings status never returns to NoError; a fresh instance shares the unsaved values and
    // starts clean.
    if (m_settings->status() != QSettings::NoError)
        openSettings();
    if (m_unsaved) {
        prepareFile();
        removeAbandonedLockFile(m_filePath + QStringLiteral(".lock"));
        removeAbandonedLockFile(m_filePath + QStringLiteral(".lock.rmlock"));
        syncSettings();
    } else if (!currentInProcess() || !unchangedSinceSync()) {
        syncSettings();
    }
    if (m_settings->status() != QSettings::NoError)
        return false;
    m_unsaved = false;
    return true;
}

bool SettingsUserDefaults::eventFilter(QObject *watched, QEvent *event) {
    // QSettings saves on its own from the event loop; routed here so the file is created 0600.
    if (watched == m_settings.get() && event->type() == QEvent::UpdateRequest) {
        synchronize();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void SettingsUserDefaults::openSettings() {
    auto settings = std::make_unique<QSettings>(m_filePath, JsonSettingsFormat::format());
    settings->installEventFilter(this);
    m_settings = std::move(settings);
    m_statBeforeSync.reset();
    m_values.clear();
    m_seenChanges = ++changesInProcess;
}

void SettingsUserDefaults::syncSettings() {
    // Taken before the sync: a change made after it shows at the next check, whether or not the sync
    // saw it.
    struct stat before {};
    const bool known = ::stat(m_encodedPath.constData(), &before) == 0 && before.st_size > 0;
    m_settings->sync();
    m_values.clear();
    m_seenChanges = ++changesInProcess;
    if (known)
        m_statBeforeSync = before;
    else
        m_statBeforeSync.reset();
}

bool SettingsUserDefaults::currentInProcess() const {
    return m_seenChanges == changesInProcess.load();
}

bool SettingsUserDefaults::unchangedSinceSync() const {
    // QSettings itself compares the size and the modification time (to the millisecond), and reads an
    // empty file every time; this check is finer, so it never skips a sync that would have read.
    if (!m_statBeforeSync)
        return false;
    struct stat now {};
    if (::stat(m_encodedPath.constData(), &now) != 0)
        return false;
    const struct stat &then = *m_statBeforeSync;
    return now.st_dev == then.st_dev && now.st_ino == then.st_ino && now.st_size == then.st_size &&
           now.st_mtim.tv_sec == then.st_mtim.tv_sec && now.st_mtim.tv_nsec == then.st_mtim.tv_nsec &&
           now.st_ctim.tv_sec == then.st_ctim.tv_sec && now.st_ctim.tv_nsec == then.st_ctim.tv_nsec;
}

void SettingsUserDefaults::prepareFile() {
    const QFileInfo info(m_filePath);
    const QString directory = info.absolutePath();
    if (!QFileInfo::exists(directory)) {
        QDir().mkpath(QFileInfo(directory).absolutePath());
        QDir().mkdir(directory, kOwnerOnlyDirectory);
    }
    // QSaveFile keeps the permissions of an existing file, so the first save inherits 0600 from here.
    // The placeholder is linked into place whole: a program killed before its first save completes
    // would otherwise leave an empty file, which does not parse.
    if (QFileInfo::exists(m_filePath))
        return;
    QTemporaryFile placeholder(m_filePath + QStringLiteral(".XXXXXX")); // created 0600
    if (placeholder.open() && placeholder.write("{}\n") == 3 && placeholder.flush() &&
        ::link(QFile::encodeName(placeholder.fileName()).constData(),
               QFile::encodeName(m_filePath).constData()) == 0)
        return;
    QFile file(m_filePath); // a file system without hard links
    if (!file.exists())
        file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnlyFile);
}
