#include "qt_workers.h"

#include "event_gate.h"

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
