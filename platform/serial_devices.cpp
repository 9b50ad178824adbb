// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial_devices.h"

#include "settings_store.h"

QString SerialDeviceMap::deviceFor(int comNumber) const
{
    QString configured =
        store_.getSetting(AppName, Setting::SerialPortsSection, QString("COM%1").arg(comNumber))
            .trimmed();
    if (!configured.isEmpty())
        return configured;
    return QString("/dev/ttyS%1").arg(comNumber - 1);
}

QString SerialDeviceMap::location() const
{
    return store_.location();
}
