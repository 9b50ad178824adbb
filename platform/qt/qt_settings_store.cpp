// SPDX-License-Identifier: GPL-3.0-or-later
#include "qt_settings_store.h"

#include "platform/runtime_error.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <sys/stat.h>

namespace {
// On Linux the native format is an INI file named <application>.conf.
constexpr const char* Organisation = AppName;

QString settingsKey(const QString& section, const QString& key)
{
    return section + '/' + key;
}

// How long a write waits for another program's lock on the file before it gives up.
constexpr int LockWaitMs = 200;

// Why the file cannot be read or written, in the operator's words.
QString reasonFor(const QString& fileName)
{
    const QFileInfo file(fileName);
    const QFileInfo folder(file.absolutePath());
    if (file.isDir())
        return "a folder stands where the file should be";
    if (file.exists() && !file.isReadable())
        return "permission denied (the file is not readable)";
    if (file.exists() && !file.isWritable())
        return "permission denied (the file is not writable)";
    if (folder.exists() && !folder.isWritable())
        return "permission denied (its folder is not writable)";
    if (folder.exists() && !folder.isDir())
        return "a file stands where its folder should be";
    if (!folder.exists())
        return "its folder cannot be made";
    return "the file cannot be written";
}
} // namespace

QString QtSettingsStore::getSetting(const QString& application, const QString& section,
                                    const QString& key, const QString& defaultValue) const
{
    const QSettings store(QSettings::NativeFormat, QSettings::UserScope, Organisation, application);
    return store.value(settingsKey(section, key), defaultValue).toString();
}

void QtSettingsStore::saveSetting(const QString& application, const QString& section,
                                  const QString& key, const QString& value)
{
    saveSettings(application, section, {{key, value}});
}

// One rewrite of the file for all of them: each is a full write with its disk syncs.
void QtSettingsStore::saveSettings(const QString& application, const QString& section,
                                   const std::vector<std::pair<QString, QString>>& values)
{
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, Organisation, application);
    // QSettings waits for the file's lock without end, and a lock that can never be taken (a
    // folder in its place, or a program that hangs while it holds it) would freeze the window.
    const QString lockPath = store.fileName() + ".lock";
    QLockFile lock(lockPath);
    if (!lock.tryLock(LockWaitMs) && QFileInfo::exists(lockPath))
        throw RuntimeError(ErrorNumber::PathFileAccess,
                           QString("Path/File access error: cannot save the settings to %1: its "
                                   "lock %2 cannot be taken (another program holds it, or "
                                   "something stands in its place). Changes last only for this "
                                   "session; end that program, or move aside the lock, to keep "
                                   "them")
                               .arg(store.fileName(), lockPath));
    lock.unlock();
    for (const auto& [key, value] : values)
        store.setValue(settingsKey(section, key), value);
    // The file holds the network key: readable by its owner only, from its first byte on.
    const mode_t previousMask = ::umask(077);
    store.sync();
    ::umask(previousMask);
    if (store.status() != QSettings::NoError)
        throw RuntimeError(ErrorNumber::PathFileAccess,
                           QString("Path/File access error: cannot save the settings to %1: %2. "
                                   "Changes last only for this session; make the file writable "
                                   "(or move aside what stands in its place) to keep them")
                               .arg(store.fileName(), reasonFor(store.fileName())));
    QFile::setPermissions(store.fileName(), QFile::ReadOwner | QFile::WriteOwner);
}

QString QtSettingsStore::location() const
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, Organisation, Organisation)
        .fileName();
}

QString QtSettingsStore::readProblem() const
{
    const QSettings store(QSettings::NativeFormat, QSettings::UserScope, Organisation,
                          Organisation);
    const QFileInfo file(store.fileName());
    if (store.status() == QSettings::NoError && (!file.exists() || file.isFile()))
        return {};
    return QString("Cannot read the settings in %1: %2. Zephrin starts without them (serial "
                   "port mappings included); make the file readable, or move aside what stands "
                   "in its place")
        .arg(store.fileName(), reasonFor(store.fileName()));
}
