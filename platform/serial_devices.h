// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class SettingsStore;

// Which device each COM number stands for: the device named by key "COMn" of section
// "serial ports" when the operator set one, otherwise /dev/ttyS<n-1>, as Windows-emulation
// users know it.
class SerialDeviceMap {
public:
    explicit SerialDeviceMap(const SettingsStore& store) : store_(store) {}
    QString deviceFor(int comNumber) const;
    // The file in which the operator maps a COM number to a device, for messages.
    QString location() const;

private:
    const SettingsStore& store_;
};
