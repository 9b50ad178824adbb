// SPDX-License-Identifier: GPL-3.0-or-later
#include "qt_workers.h"

#include "event_gate.h"

#include <QTimer>

QtWorkers::QtWorkers(EventGate& gate) : gate_(gate)
{
    pool_.setMaxThreadCount(QThread::idealThreadCount());
}

QtWorkers::~QtWorkers()
{
    pool_.clear();
    pool_.waitForDone();
}

void QtWorkers::start(std::function<void()> job, std::function<void()> done)
{
    pool_.start([this, job = std::move(job), done = std::move(done)]() mutable {
        job();
        gate_.post(&context_, std::move(done));
    });
}

void QtWorkers::startLater(int delayMs, std::function<void()> job, std::function<void()> done)
{
    QTimer::singleShot(delayMs, &context_,
                       [this, job = std::move(job), done = std::move(done)]() mutable {
                           start(std::move(job), std::move(done));
                       });
}
