// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>
#include <vector>

// A serial device plugged in now: its steadiest path (the /dev/serial/by-id link when there is
// one) and what it says of itself (description, serial number).
struct PresentDevice {
    QString path, description;
};

// The serial-port service behind the window's serial link. Failures throw RuntimeError with
// a number and a description that names the device.
class SerialPort {
public:
    // Communication event codes; only received characters matter to the window.
    static constexpr int EventReceive = 2;

    virtual ~SerialPort() = default;

    // COM port number 1 to 16; only while the port is closed.
    virtual void setCommPort(int number) = 0;
    virtual int commPort() const = 0;

    virtual void setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;

    // Line settings as "baud,parity,data bits,stop bits", e.g. "9600,N,8,1"; also while open.
    virtual void setSettings(const QString& settings) = 0;
    virtual QString settings() const = 0;

    virtual void setDTREnable(bool on) = 0;
    virtual void setRTSEnable(bool on) = 0;
    // Characters waiting before the receive event is raised (1: every burst raises it).
    virtual void setRThreshold(int count) = 0;

    // One byte per character (Latin-1), nothing added.
    virtual void output(const QString& text) = 0;
    // In the receive event: the characters of the burst that raised it.
    virtual QString input() = 0;
    // Characters received and not yet handed to a receive event.
    virtual int inBufferCount() const = 0;

    virtual int commEvent() const = 0;
    virtual void onComm(std::function<void()> handler) = 0;
    virtual std::vector<PresentDevice> presentDevices() const = 0;
};
