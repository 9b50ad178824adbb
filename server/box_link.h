// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The switch box as the server reaches it: a real box on a serial device, or the box model of
// zephrin-boxsim inside the server. Both take bytes and hand back what the box answers, one
// burst at a time.

#include "boxmodel/box_model.h"
#include "linecode/burst_cutter.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>
#include <functional>

class BoxLink {
public:
    virtual ~BoxLink() = default;
    virtual bool isOpen() const = 0;
    // Hands the bytes to the box; false when the box is not there and nothing was sent.
    virtual bool write(const QByteArray& bytes) = 0;
    // Bytes handed over that have not gone out yet.
    virtual qint64 unwritten() const { return 0; }
    // Called with each burst that the box sends.
    std::function<void(const QByteArray&)> onAnswer;
    // The box was opened: for the first time, or again after it was gone.
    std::function<void(bool again)> onOpened;
    std::function<void()> onLost;
};

// The box model answering at once, as a box on a perfect line would.
class SimulatedBox : public BoxLink {
public:
    explicit SimulatedBox(Protocol commandSet) : model_(commandSet) {}
    bool isOpen() const override { return true; }
    bool write(const QByteArray& bytes) override;

private:
    // Longer than any command; a box keeps no more of a line than this.
    static constexpr qsizetype MaxLineBytes = 256;

    BoxModel model_;
    QByteArray line_;
    QObject context_; // answers are handed on from the event loop, as a real box's are
};

// A box on a serial device at 9600 8N1 without flow control. When the device goes away (the
// adapter unplugged, the pty's other side closed) it is closed and opened again every RetryMs
// until it is back. What it is handed waits in its own buffer, never taken for a lost box: only
// a hang-up or a write error is.
class SerialBox : public BoxLink {
public:
    explicit SerialBox(const QString& devicePath);
    ~SerialBox() override;
    bool isOpen() const override { return port_.isOpen() && !gone_; }
    bool write(const QByteArray& bytes) override;
    qint64 unwritten() const override { return port_.bytesToWrite(); }

private:
    // A box back from a power cycle is put back in its state soon after its device is.
    static constexpr int RetryMs = 250;
    // A hang-up reports no error of QSerialPort's; it is looked for this often.
    static constexpr int HangUpCheckMs = 50;

    void tryOpen();
    void lost(const QString& reason);
    void checkHangUp();

    QString devicePath_;
    QSerialPort port_;
    QTimer retry_;
    QTimer hangUpWatch_;
    BurstCutter bursts_;
    bool wasOpen_ = false;
    bool gone_ = false; // hung up; closed on the next turn of the event loop
    QString lastOpenFailure_;
};
