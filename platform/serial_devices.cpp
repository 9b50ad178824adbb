#include "serial_devices.h"

#include "settings_store.h"

QString serialDeviceFor(const SettingsStore& store, int comNumber)
{
    const QString configured =
        store.getSetting("Zephrin", "serial ports", QString("COM%1").arg(comNumber)).trimmed();
    if (!configured.isEmpty())
        return configured;
    return QString("/dev/ttyS%1").arg(comNumber - 1);
}
