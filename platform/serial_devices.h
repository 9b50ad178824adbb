#pragma once

#include <QString>

class SettingsStore;

// COM n stands for the device named by key "COMn" of section "serial ports" when the operator
// set one, otherwise for /dev/ttyS<n-1>, as Windows-emulation users know it.
QString serialDeviceFor(const SettingsStore& store, int comNumber);
