// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

// Threads for slow work beside the window's one thread. A job runs on a worker thread and
// touches nothing of the window's; its completion then runs on the window's thread, as one
// event through the event gate. Completions of jobs started in one order may run in another.
class Workers {
public:
    virtual ~Workers() = default;
    virtual void start(std::function<void()> job, std::function<void()> done) = 0;
    // As start, for work that can wait: its job begins once delayMs have passed.
    virtual void startLater(int delayMs, std::function<void()> job, std::function<void()> done) = 0;
};
