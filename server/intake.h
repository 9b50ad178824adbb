// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The way in for received messages: each client's messages wait in that client's own queue,
// are taken in turn across clients (round robin), decrypted on worker threads, and their
// results applied on the owner's thread in the order they were taken. Within one client that
// is the order of arrival.
//
// Bounds: at most MaxQueuedPerSource messages wait per source before its owner stops reading
// it (the owner asks hasRoom), and at most MaxInFlightPerThread per worker thread are being
// decrypted or wait to be applied, so a flood delays another client by a few decryptions and
// never by its whole backlog.

#include <QByteArray>
#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <memory>

class Intake {
public:
    // More than one queued message lets a client's next message start at once; the read that
    // stops at this bound adds at most a few more.
    static constexpr qsizetype MaxQueuedPerSource = 8;
    // Enough to keep every worker busy while the owner applies a result, few enough that a new
    // message waits for little that was taken before it.
    static constexpr int MaxInFlightPerThread = 2;

    // What to do with a message about to be decrypted.
    enum class Admission {
        Start, // decrypt it
        Drop,  // never decrypt it (the owner has said why)
        Hold,  // not now: leave the source's queue alone until pump() is called again
    };

    // Runs on worker threads: the text of the message, or an exception whose what() says why
    // there is none.
    using Decrypt = std::function<QString(const QByteArray& message)>;
    // Runs on the owner's thread, for every message that was started, in the order taken.
    // `failure` is empty when `text` holds the decrypted text.
    using Apply = std::function<void(int source, const QByteArray& message, const QString& text,
                                     const QString& failure)>;

    // Runs a job on a worker thread, then its completion on the owner's thread. The owner keeps
    // the intake until the runner has let go of every job.
    using Runner = std::function<void(std::function<void()> job, std::function<void()> done)>;

    // threads: how many jobs the runner runs at once.
    Intake(int threads, Runner runner, Decrypt decrypt, Apply apply);
    Intake(const Intake&) = delete;
    Intake& operator=(const Intake&) = delete;

    // Called on the owner's thread just before a message is decrypted.
    std::function<Admission(int source, const QByteArray& message)> admit;
    // Called after results were applied and more taken: the queues may have room again.
    std::function<void()> onProgress;

    void enqueue(int source, const QByteArray& message);
    bool hasRoom(int source) const;
    bool isEmpty(int source) const;
    // Drops what the source still has queued; its messages already started are still applied.
    void forget(int source);
    // Keeps the source's first `count` queued messages and drops the rest; how many went.
    qsizetype keepFirst(int source, qsizetype count);
    // Takes messages while there is room in flight.
    void pump();
    int inFlight() const { return int(inFlight_.size()); }
    int threads() const { return threads_; }

private:
    struct Job {
        int source = 0;
        QByteArray message;
        QString text;
        QString failure;
        bool done = false; // set on the owner's thread
    };

    int maxInFlight() const { return threads() * MaxInFlightPerThread; }

    void take();
    void start(int source, const QByteArray& message);
    void finished();

    int threads_;
    Runner runner_;
    Decrypt decrypt_;
    Apply apply_;
    std::map<int, std::deque<QByteArray>> queues_;
    std::deque<std::shared_ptr<Job>> inFlight_; // in the order taken
    int lastServed_ = 0;
    bool applying_ = false;
    bool progressing_ = false;
    bool progressAgain_ = false;
};
