#include "event_gate.h"

#include <cstdio>
#include <exception>

EventGate& EventGate::instance()
{
    static EventGate gate;
    return gate;
}

void EventGate::run(const std::function<void()>& handler)
{
    ++depth_;
    try {
        handler();
    } catch (const std::exception& e) {
        // Handlers trap their own failures; this keeps an escaped one from ending the program.
        std::fprintf(stderr, "zephrin: unhandled failure in an event handler: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "zephrin: unhandled failure in an event handler\n");
    }
    --depth_;
    while (depth_ == 0 && !pending_.empty()) {
        auto next = std::move(pending_.front());
        pending_.pop_front();
        run(next);
    }
}

void EventGate::deliver(std::function<void()> event)
{
    if (busy())
        pending_.push_back(std::move(event));
    else
        run(event);
}
