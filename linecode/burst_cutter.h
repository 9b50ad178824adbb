// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QTimer>
#include <functional>

// Cuts the bytes that a serial line brings into bursts: a burst ends at a carriage return, after
// BurstMaxBytes, or once the line has been idle for about three character times at 9600 baud,
// so that a reply such as "RX1" + CR is handed on as one piece.
class BurstCutter {
public:
    static constexpr int BurstIdleMs = 3;
    // A line that sends without pause and without line ends is still handed on as it goes.
    static constexpr qsizetype BurstMaxBytes = 128;

    explicit BurstCutter(std::function<void(QByteArray)> onBurst);

    void take(const QByteArray& bytes);
    // Ends the burst that is still arriving now, if there is one.
    void endBurst();
    // Forgets the burst that is still arriving.
    void clear();
    qsizetype partialSize() const { return partial_.size(); }

private:
    std::function<void(QByteArray)> onBurst_;
    QTimer idle_;
    QByteArray partial_;
};
