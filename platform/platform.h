// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Everything through which the window's logic reaches the world, handed to the form as one
// bundle. Each front end (the Qt program, the tests' fakes) builds one.

class Launcher;
class SerialPort;
class SettingsStore;
class Socket;
class Toolkit;
class Workers;

struct Platform {
    Toolkit& toolkit;
    SerialPort& serialPort;
    Socket& socket;
    SettingsStore& settings;
    Launcher& launcher;
    Workers& workers;
};
