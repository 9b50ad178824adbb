// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/qt/event_gate.h"
#include "platform/platform.h"
#include "platform/serial_devices.h"
#include "platform/qt/qt_launcher.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_settings_store.h"
#include "platform/qt/qt_socket.h"
#include "qt_toolkit.h"
#include "platform/qt/qt_workers.h"

// The Qt front end's platform: the real window, serial port, socket, settings file, launcher
// and worker threads, all giving their events to one gate. The gate is made first and goes last.
struct QtPlatform {
    EventGate gate;
    QtSettingsStore settings;
    SerialDeviceMap devices{settings};
    QtSerialPort serialPort{devices, gate};
    QtSocket socket{gate};
    QtLauncher launcher{gate};
    QtWorkers workers{gate};
    QtToolkit toolkit;

    // The real message boxes, unless other dialogs are given.
    explicit QtPlatform(Dialogs* dialogs = nullptr) : toolkit(gate, dialogs) {}

    Platform bundle() { return {toolkit, serialPort, socket, settings, launcher, workers}; }
};
