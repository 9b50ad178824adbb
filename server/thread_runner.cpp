// SPDX-License-Identifier: GPL-3.0-or-later
#include "thread_runner.h"

#include <QMetaObject>
#include <QTimer>

ThreadRunner::ThreadRunner(int threads)
{
    pool_.setMaxThreadCount(std::max(1, threads));
}

ThreadRunner::~ThreadRunner()
{
    pool_.clear();
    pool_.waitForDone();
}

void ThreadRunner::run(std::function<void()> job, std::function<void()> done)
{
    pool_.start([job = std::move(job), done = std::move(done), context = context_.get()] {
        job();
        QMetaObject::invokeMethod(context, done, Qt::QueuedConnection);
    });
}

void ThreadRunner::runLater(int delayMs, std::function<void()> job, std::function<void()> done)
{
    QTimer::singleShot(delayMs, context_.get(),
                       [this, job = std::move(job), done = std::move(done)]() mutable {
                           run(std::move(job), std::move(done));
                       });
}
