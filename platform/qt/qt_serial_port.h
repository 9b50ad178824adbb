// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "linecode/burst_cutter.h"
#include "platform/serial_port.h"

#include <QByteArray>
#include <QSerialPort>
#include <QTimer>
#include <deque>

class EventGate;
class SerialDeviceMap;

// The serial link on Qt SerialPort. Received bytes are handed on in bursts (a reply such as
// "RX1" + CR arrives as one piece). Each burst raises its own receive event, in order; the
// bursts that wait meanwhile are bounded.
class QtSerialPort : public SerialPort {
public:
    QtSerialPort(const SerialDeviceMap& devices, EventGate& gate);
    ~QtSerialPort() override;

    void setCommPort(int number) override;
    int commPort() const override { return commPort_; }
    void setPortOpen(bool open) override;
    bool portOpen() const override { return port_.isOpen(); }
    void setSettings(const QString& settings) override;
    QString settings() const override { return settings_; }
    void setDTREnable(bool on) override;
    void setRTSEnable(bool on) override;
    void setRThreshold(int count) override { rThreshold_ = count; }
    void output(const QString& text) override;
    QString input() override;
    int inBufferCount() const override;
    int commEvent() const override { return commEvent_; }
    void onComm(std::function<void()> handler) override { handler_ = std::move(handler); }
    std::vector<PresentDevice> presentDevices() const override;

    // The device that is open, or that the port number names.
    QString devicePath() const;

private:
    void open();
    void applyLineSettings();
    void burstArrived(const QByteArray& burst);
    void raiseReceive();
    void forgetReceived();
    void deviceLost();
    QString portName() const;

    const SerialDeviceMap& devices_;
    EventGate& gate_;
    QSerialPort port_;
    QObject closer_; // the context of the close after a loss
    BurstCutter bursts_;
    std::deque<QByteArray> held_; // whole bursts not yet delivered, oldest first
    qsizetype heldBytes_ = 0;
    QByteArray delivered_; // the burst of the receive event that runs
    std::function<void()> handler_;
    QString settings_ = "9600,N,8,1";
    QString openDevice_;
    int commPort_ = 1;
    int rThreshold_ = 0;
    int commEvent_ = 0;
    bool dtr_ = false;
    bool rts_ = false;
    bool lost_ = false;
    bool receivePending_ = false;
};
