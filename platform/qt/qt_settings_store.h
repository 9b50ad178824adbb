// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/settings_store.h"

// The settings store as an INI file per application under the user's configuration directory
// ($XDG_CONFIG_HOME/Zephrin/<application>.conf). The file holds the network key, so it is kept
// readable by its owner only.
class QtSettingsStore : public SettingsStore {
public:
    QString getSetting(const QString& application, const QString& section, const QString& key,
                       const QString& defaultValue) const override;
    void saveSetting(const QString& application, const QString& section, const QString& key,
                     const QString& value) override;
    void saveSettings(const QString& application, const QString& section,
                      const std::vector<std::pair<QString, QString>>& values) override;
    QString location() const override;
    QString readProblem() const override;
};
