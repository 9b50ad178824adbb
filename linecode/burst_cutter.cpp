// SPDX-License-Identifier: GPL-3.0-or-later
#include "burst_cutter.h"

BurstCutter::BurstCutter(std::function<void(QByteArray)> onBurst) : onBurst_(std::move(onBurst))
{
    idle_.setSingleShot(true);
    idle_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&idle_, &QTimer::timeout, [this] { endBurst(); });
}

void BurstCutter::take(const QByteArray& bytes)
{
    for (const char byte : bytes) {
        partial_ += byte;
        if (byte == '\r' || partial_.size() >= BurstMaxBytes)
            endBurst();
    }
    if (!partial_.isEmpty())
        idle_.start(BurstIdleMs);
}

void BurstCutter::endBurst()
{
    idle_.stop();
    if (partial_.isEmpty())
        return;
    onBurst_(std::exchange(partial_, {}));
}

void BurstCutter::clear()
{
    idle_.stop();
    partial_.clear();
}
