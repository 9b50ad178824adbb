// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <utility>
#include <vector>

// The application name under which the settings live; also the window's title.
constexpr const char* AppName = "Zephrin";

// The per-user settings store: text values by application, section and key. A value that cannot
// be saved raises RuntimeError 75 naming the file and the reason.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual QString getSetting(const QString& application, const QString& section,
                               const QString& key, const QString& defaultValue = {}) const = 0;
    virtual void saveSetting(const QString& application, const QString& section, const QString& key,
                             const QString& value) = 0;
    // Several values of one section, written together.
    virtual void saveSettings(const QString& application, const QString& section,
                              const std::vector<std::pair<QString, QString>>& values) = 0;
    // Where the operator finds the store to edit it by hand, for messages.
    virtual QString location() const = 0;
    // Why the stored settings cannot be read, with what to do; empty when they can.
    virtual QString readProblem() const = 0;
};

// One stored value of the application: its section and key.
struct SettingKey {
    const char* section;
    const char* key;
};

// Every value that the program keeps under its own name.
namespace Setting {
constexpr SettingKey Port{"settings", "port"};
constexpr SettingKey Protocol{"settings", "protocol"};
constexpr SettingKey Interlock{"settings", "interlock"};
constexpr SettingKey Autoconnect{"settings", "autoconnect"};
constexpr SettingKey SecureLink{"settings", "securelink"};
constexpr SettingKey Host{"settings", "host"};
constexpr SettingKey Password{"settings", "Password"};
constexpr SettingKey FormLeft{"settings", "FormLeft"};
constexpr SettingKey FormTop{"settings", "FormTop"};
// Section of the operator's device for each COM number, keys "COM1" to "COM16".
constexpr const char* SerialPortsSection = "serial ports";
// Section of the operator's names for the aux outputs, keys "aux101" to "aux215".
constexpr const char* AuxNamesSection = "aux menu names";
} // namespace Setting

inline QString readSetting(const SettingsStore& store, SettingKey key,
                           const QString& defaultValue = {})
{
    return store.getSetting(AppName, key.section, key.key, defaultValue);
}

inline void saveSetting(SettingsStore& store, SettingKey key, const QString& value)
{
    store.saveSetting(AppName, key.section, key.key, value);
}
