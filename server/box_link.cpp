// SPDX-License-Identifier: GPL-3.0-or-later
#include "box_link.h"

#include "linecode/hang_up.h"
#include "log.h"

bool SimulatedBox::write(const QByteArray& bytes)
{
    for (const char c : bytes) {
        if (c == '\n')
            continue;
        if (c != '\r') {
            if (line_.size() < MaxLineBytes)
                line_ += c;
            continue;
        }
        const std::string answer = model_.handle(line_.toStdString());
        line_.clear();
        if (!answer.empty())
            QTimer::singleShot(0, &context_, [this, answer] {
                if (onAnswer)
                    onAnswer(QByteArray::fromStdString(answer));
            });
    }
    return true;
}

SerialBox::SerialBox(const QString& devicePath)
    : devicePath_(devicePath), bursts_([this](const QByteArray& burst) {
          if (onAnswer)
              onAnswer(burst);
      })
{
    port_.setPortName(devicePath);
    retry_.setInterval(RetryMs);
    QObject::connect(&retry_, &QTimer::timeout, [this] { tryOpen(); });
    hangUpWatch_.setInterval(HangUpCheckMs);
    QObject::connect(&hangUpWatch_, &QTimer::timeout, [this] { checkHangUp(); });
    QObject::connect(&port_, &QSerialPort::readyRead, [this] { bursts_.take(port_.readAll()); });
    QObject::connect(&port_, &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError e) {
        if (e == QSerialPort::ResourceError)
            lost(port_.errorString());
    });
    tryOpen();
}

SerialBox::~SerialBox()
{
    // The port closes last, after the timers its signals would reach.
    QObject::disconnect(&port_, nullptr, nullptr, nullptr);
}

void SerialBox::tryOpen()
{
    if (port_.isOpen())
        return;
    if (!port_.open(QIODevice::ReadWrite)) {
        const QString reason = port_.errorString();
        const bool permission = port_.error() == QSerialPort::PermissionError;
        port_.clearError();
        if (reason != lastOpenFailure_) {
            lastOpenFailure_ = reason;
            serverlog::event(
                QString("box not reachable on %1: %2; trying again. %3")
                    .arg(devicePath_, reason,
                         permission ? "If no other program holds the device, add this user to "
                                      "the dialout group"
                                    : "Plug in the box's serial adapter or name the right "
                                      "device with --device"));
        }
        retry_.start();
        return;
    }
    retry_.stop();
    gone_ = false;
    lastOpenFailure_.clear();
    const bool settled =
        port_.setBaudRate(QSerialPort::Baud9600) && port_.setDataBits(QSerialPort::Data8) &&
        port_.setParity(QSerialPort::NoParity) && port_.setStopBits(QSerialPort::OneStop) &&
        port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!settled)
        serverlog::event(QString("box on %1 refused 9600 8N1 (%2); it may not understand the "
                                 "commands. Check that the device is the box's serial port")
                             .arg(devicePath_, port_.errorString()));
    port_.clearError();
    // The modem lines stay off; a device without them (a pty, some adapters) refuses, harmlessly.
    port_.setDataTerminalReady(false);
    port_.setRequestToSend(false);
    port_.clearError();
    hangUpWatch_.start();
    serverlog::event(
        QString(wasOpen_ ? "box is back on %1" : "box opened on %1 at 9600 8N1").arg(devicePath_));
    const bool again = std::exchange(wasOpen_, true);
    if (onOpened)
        onOpened(again);
}

void SerialBox::lost(const QString& reason)
{
    if (!port_.isOpen() || gone_)
        return;
    gone_ = true;
    serverlog::event(
        QString("box is gone from %1 (%2); trying to open it again").arg(devicePath_, reason));
    bursts_.endBurst();
    hangUpWatch_.stop();
    // A hung-up device stays readable for ever and would keep the event loop spinning: closed
    // on the loop's next turn, as QSerialPort must not be closed inside its own signal.
    QTimer::singleShot(0, &retry_, [this] {
        port_.close();
        port_.clearError();
    });
    retry_.start();
    if (onLost)
        onLost();
}

void SerialBox::checkHangUp()
{
    if (port_.isOpen() && lineHungUp(port_.handle()))
        lost("hung up");
}

bool SerialBox::write(const QByteArray& bytes)
{
    if (!port_.isOpen() || gone_)
        return false;
    const qint64 written = port_.write(bytes);
    if (written != bytes.size() || port_.error() == QSerialPort::ResourceError ||
        port_.error() == QSerialPort::WriteError) {
        lost(port_.errorString());
        return false;
    }
    return true;
}
