// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QThreadPool>
#include <functional>
#include <memory>

// Runs jobs on a pool of threads and hands each completion back to the event loop of the thread
// that made the runner. When it goes, it waits for the jobs under way and drops their
// completions.
class ThreadRunner {
public:
    explicit ThreadRunner(int threads);
    ~ThreadRunner();
    ThreadRunner(const ThreadRunner&) = delete;
    ThreadRunner& operator=(const ThreadRunner&) = delete;

    void run(std::function<void()> job, std::function<void()> done);
    // The same, started after delayMs on the event loop.
    void runLater(int delayMs, std::function<void()> job, std::function<void()> done);
    int threads() const { return pool_.maxThreadCount(); }

private:
    // Completions are queued calls on this: when it goes, so do they.
    std::unique_ptr<QObject> context_ = std::make_unique<QObject>();
    QThreadPool pool_;
};
