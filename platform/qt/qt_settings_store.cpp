#include "qt_settings_store.h"

#include "platform/runtime_error.h"

#include <QFile>
#include <QSettings>

namespace {
// On Linux the native format is an INI file named <application>.conf.
constexpr const char* Organisation = AppName;

QString settingsKey(const QString& section, const QString& key)
{
    return section + '/' + key;
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
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, Organisation, application);
    store.setValue(settingsKey(section, key), value);
    store.sync();
    if (store.status() != QSettings::NoError)
        throw RuntimeError(ErrorNumber::PathFileAccess,
                           QString("Path/File access error: cannot write the settings file "
                                   "%1. Check that its folder exists and is writable")
                               .arg(store.fileName()));
    QFile::setPermissions(store.fileName(), QFile::ReadOwner | QFile::WriteOwner);
}

QString QtSettingsStore::location() const
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, Organisation, Organisation)
        .fileName();
}
