// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/workers.h"

#include <QObject>
#include <QThreadPool>

class EventGate;

// Workers on a thread pool of one thread per core.
class QtWorkers : public Workers {
public:
    explicit QtWorkers(EventGate& gate);
    // Waits for the jobs under way; their completions are dropped.
    ~QtWorkers() override;
    QtWorkers(const QtWorkers&) = delete;
    QtWorkers& operator=(const QtWorkers&) = delete;

    void start(std::function<void()> job, std::function<void()> done) override;
    void startLater(int delayMs, std::function<void()> job, std::function<void()> done) override;
    // One thread per core unless told otherwise.
    void setThreads(int threads) { pool_.setMaxThreadCount(threads); }

private:
    EventGate& gate_;
    // Completions are posted with this as their source: when it goes, so do they.
    QObject context_;
    QThreadPool pool_;
};
