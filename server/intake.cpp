// SPDX-License-Identifier: GPL-3.0-or-later
#include "intake.h"

#include <algorithm>
#include <exception>
#include <utility>

Intake::Intake(int threads, Runner runner, Decrypt decrypt, Apply apply)
    : threads_(std::max(1, threads)), runner_(std::move(runner)), decrypt_(std::move(decrypt)),
      apply_(std::move(apply))
{
}

void Intake::enqueue(int source, const QByteArray& message)
{
    queues_[source].push_back(message);
}

bool Intake::hasRoom(int source) const
{
    const auto queue = queues_.find(source);
    return queue == queues_.end() || qsizetype(queue->second.size()) < MaxQueuedPerSource;
}

bool Intake::isEmpty(int source) const
{
    const auto queue = queues_.find(source);
    return queue == queues_.end() || queue->second.empty();
}

void Intake::forget(int source)
{
    queues_.erase(source);
}

qsizetype Intake::keepFirst(int source, qsizetype count)
{
    const auto queue = queues_.find(source);
    if (queue == queues_.end() || qsizetype(queue->second.size()) <= count)
        return 0;
    const qsizetype dropped = qsizetype(queue->second.size()) - count;
    queue->second.resize(std::size_t(count));
    return dropped;
}

void Intake::pump()
{
    take();
}

void Intake::take()
{
    // Round robin: the first source after the one served last that has a message it may start.
    while (inFlight() < maxInFlight()) {
        bool started = false;
        auto next = queues_.upper_bound(lastServed_);
        for (std::size_t tried = 0; tried < queues_.size() && !started; ++tried, ++next) {
            if (next == queues_.end())
                next = queues_.begin();
            const int source = next->first;
            std::deque<QByteArray>& queue = next->second;
            // A source's messages that are dropped do not use up its turn.
            while (!queue.empty()) {
                const Admission admission =
                    admit ? admit(source, queue.front()) : Admission::Start;
                if (admission == Admission::Hold)
                    break;
                const QByteArray message = std::move(queue.front());
                queue.pop_front();
                if (admission == Admission::Start) {
                    start(source, message);
                    lastServed_ = source;
                    started = true;
                    break;
                }
            }
        }
        if (!started)
            return;
    }
}

void Intake::start(int source, const QByteArray& message)
{
    auto job = std::make_shared<Job>();
    job->source = source;
    job->message = message;
    inFlight_.push_back(job);
    runner_(
        [this, job] {
            try {
                job->text = decrypt_(job->message);
            } catch (const std::exception& error) {
                job->failure = QString::fromStdString(error.what());
            }
        },
        [this, job] {
            job->done = true;
            finished();
        });
}

void Intake::finished()
{
    // An apply that turns the event loop must not apply the next result before it ends.
    if (applying_)
        return;
    applying_ = true;
    do {
        while (!inFlight_.empty() && inFlight_.front()->done) {
            const std::shared_ptr<Job> job = inFlight_.front();
            inFlight_.pop_front();
            apply_(job->source, job->message, job->text, job->failure);
        }
        take();
    } while (!inFlight_.empty() && inFlight_.front()->done);
    applying_ = false;
    if (!onProgress)
        return;
    // The owner reads on in onProgress: a turn asked for meanwhile is taken after this one, not
    // inside it.
    if (progressing_) {
        progressAgain_ = true;
        return;
    }
    progressing_ = true;
    do {
        progressAgain_ = false;
        onProgress();
    } while (progressAgain_);
    progressing_ = false;
}
