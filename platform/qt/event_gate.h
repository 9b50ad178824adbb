#pragma once

#include <deque>
#include <functional>

// One event at a time: a handler runs to its end before the next event is handled, also while
// its modal box runs a nested event loop. Port and socket events that arrive meanwhile wait
// here and are delivered in order once the handler has ended.
class EventGate {
public:
    static EventGate& instance();

    // Runs one of the window's handlers.
    void run(const std::function<void()>& handler);
    // Runs a port or socket event now, or queues it until the running handler ends.
    void deliver(std::function<void()> event);

    bool busy() const { return depth_ > 0; }

private:
    int depth_ = 0;
    std::deque<std::function<void()>> pending_;
};
