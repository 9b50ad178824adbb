// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// Reads a descriptor that does not block until `count` bytes have arrived or the time is up,
// keeping Qt's event loop running meanwhile.
QByteArray readFrom(int fd, int count, int timeoutMs = 2000);

// A pseudo-terminal pair: the program opens the slave path as its serial device, the test
// plays the switch box on the master side.
class PtyPair {
public:
    PtyPair();
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    QString slavePath() const { return slavePath_; }

    QByteArray read(int count, int timeoutMs = 2000) { return readFrom(master_, count, timeoutMs); }
    void write(const QByteArray& bytes);
    // The box is unplugged: the master side goes away.
    void closeMaster();

private:
    int master_ = -1;
    QString slavePath_;
};

// Runs Qt's event loop until the condition holds or the time is up; true when it held.
bool pumpUntil(const std::function<bool()>& condition, int timeoutMs = 2000);
