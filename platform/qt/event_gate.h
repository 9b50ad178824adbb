// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <deque>
#include <functional>
#include <utility>

// One event at a time: a handler runs to its end before the next event is handled, also while
// its modal box runs a nested event loop. Every event source (serial port, socket, workers) is
// given the gate and posts its events here; they never run inside the source's own signal, and
// those that arrive while a handler runs wait and are delivered in order as soon as it ends.
class EventGate {
public:
    EventGate() = default;
    EventGate(const EventGate&) = delete;
    EventGate& operator=(const EventGate&) = delete;

    // Runs one of the window's handlers now.
    void run(const std::function<void()>& handler);
    // Runs the event from the event loop, once no handler runs. An event whose source has been
    // destroyed by then is dropped.
    void post(QObject* source, std::function<void()> event);

    bool busy() const { return depth_ > 0; }

private:
    void deliver(QPointer<QObject> source, std::function<void()> event);

    int depth_ = 0;
    std::deque<std::pair<QPointer<QObject>, std::function<void()>>> pending_;
};
