// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// True when the serial device's other side has hung up (a pty's other side closed, a modem line
// dropped, the adapter gone): such a line reads as an endless end of file that QSerialPort
// reports as no error.
bool lineHungUp(qintptr handle);
