// SPDX-License-Identifier: GPL-3.0-or-later
#include "event_gate.h"

#include <cstdio>
#include <exception>

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
        auto [source, next] = std::move(pending_.front());
        pending_.pop_front();
        if (source)
            run(next);
    }
}

void EventGate::post(QObject* source, std::function<void()> event)
{
    QMetaObject::invokeMethod(
        source,
        [this, source = QPointer<QObject>(source), event = std::move(event)]() mutable {
            deliver(source, std::move(event));
        },
        Qt::QueuedConnection);
}

void EventGate::deliver(QPointer<QObject> source, std::function<void()> event)
{
    if (busy())
        pending_.emplace_back(std::move(source), std::move(event));
    else
        run(event);
}
