// SPDX-License-Identifier: GPL-3.0-or-later
// The parts that hand work to other threads, built with ThreadSanitizer: the server's intake,
// the pool of keys derived ahead, and the window's decryption of reports on workers. Their
// threads here hand over through the standard library alone, which the sanitizer sees (Qt's
// thread pool and event queue are not built for it).

#include "app/links.h"
#include "cipher/encrypted_text.h"
#include "fakes.h"
#include "server/intake.h"
#include "server/seen_salts.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <gtest/gtest.h>
#include <mutex>
#include <stop_token>
#include <thread>

namespace {

// Worker threads that take jobs from a queue; the completions wait until the test's thread
// runs them.
class StdWorkers : public Workers {
public:
    explicit StdWorkers(int threads)
    {
        for (int i = 0; i < threads; ++i)
            threads_.emplace_back([this](const std::stop_token& stop) {
                std::unique_lock lock(mutex_);
                while (wake_.wait(lock, stop, [this] { return !jobs_.empty(); })) {
                    auto [job, done] = std::move(jobs_.front());
                    jobs_.pop_front();
                    lock.unlock();
                    job();
                    lock.lock();
                    completions_.push_back(std::move(done));
                }
            });
    }
    void start(std::function<void()> job, std::function<void()> done) override
    {
        const std::lock_guard lock(mutex_);
        jobs_.emplace_back(std::move(job), std::move(done));
        wake_.notify_one();
    }
    void startLater(int, std::function<void()> job, std::function<void()> done) override
    {
        start(std::move(job), std::move(done));
    }
    // Runs the completions that are ready, on the calling thread, until the condition holds.
    bool runUntil(const std::function<bool()>& condition, int turnsOfAMillisecond = 20000)
    {
        for (int turn = 0; turn < turnsOfAMillisecond && !condition(); ++turn) {
            std::deque<std::function<void()>> ready;
            {
                const std::lock_guard lock(mutex_);
                ready.swap(completions_);
            }
            for (auto& done : ready)
                done();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return condition();
    }

private:
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::deque<std::pair<std::function<void()>, std::function<void()>>> jobs_;
    std::deque<std::function<void()>> completions_;
    std::vector<std::jthread> threads_; // last: stopped and joined before the rest goes
};

} // namespace

TEST(ServerIntake, ResultsAreAppliedInTheOrderTakenAndTheSaltMemoryIsBounded)
{
    constexpr int Threads = 3, PerSource = 20;
    std::atomic<int> decrypting{0}, mostAtOnce{0};
    QStringList applied;
    int mostInFlight = 0;
    StdWorkers workers(Threads);
    std::unique_ptr<Intake> intake = std::make_unique<Intake>(
        Threads,
        [&](std::function<void()> job, std::function<void()> done) {
            workers.start(std::move(job), std::move(done));
        },
        [&](const QByteArray& message) {
            const int now = ++decrypting;
            mostAtOnce = std::max(mostAtOnce.load(), now);
            // Random delays from a fixed random start, so later messages often finish first.
            std::this_thread::sleep_for(std::chrono::milliseconds(qHash(message) % 7));
            --decrypting;
            return QString::fromLatin1(message);
        },
        [&](int, const QByteArray&, const QString& text, const QString&) {
            applied << text;
            mostInFlight = std::max(mostInFlight, intake->inFlight());
        });
    QStringList expected;
    for (int i = 0; i < PerSource; ++i) {
        intake->enqueue(1, "a" + QByteArray::number(i));
        intake->enqueue(2, "b" + QByteArray::number(i));
        expected << QString("a%1").arg(i) << QString("b%1").arg(i); // taken in turn
    }
    intake->pump();
    EXPECT_TRUE(workers.runUntil([&] { return applied.size() == expected.size(); }));
    EXPECT_EQ(applied, expected);
    EXPECT_LE(mostAtOnce.load(), Threads);
    EXPECT_LE(mostInFlight, Threads * Intake::MaxInFlightPerThread);

    // The memory of accepted salts forgets the oldest beyond its capacity.
    SeenSalts salts;
    for (quint64 salt = 1; salt <= SeenSalts::Capacity + 1; ++salt)
        salts.remember(salt);
    EXPECT_EQ(salts.size(), SeenSalts::Capacity);
    EXPECT_TRUE(!salts.contains(1) && salts.contains(2) && salts.contains(SeenSalts::Capacity + 1));
}

TEST(WorkerThreads, KeysDerivedAheadAndReportsDecryptedOnWorkersKeepTheirOrderAndKey)
{
    StdWorkers workers(3);
    FakeSocket socket;
    socket.currentState = Socket::Connected;
    QString key = "shack key";
    NetworkLink link(socket, workers, key);
    QStringList handedOn;
    link.onArrival = [&](const std::vector<NetworkLink::Report>& reports) {
        for (const NetworkLink::Report& report : reports)
            handedOn << (report.failure ? QString("failed") : report.text);
    };

    // Sent while keys are being derived ahead, and under a new key half-way.
    link.prepareKeys();
    for (int i = 0; i < 12; ++i) {
        if (i == 6) {
            key = "new key";
            link.prepareKeys();
        }
        link.send(QString("TX%1\r").arg(i));
        workers.runUntil([] { return false; }, 5); // what the pool derived meanwhile comes back
    }
    ASSERT_EQ(socket.sent.size(), 12);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(DecryptText(socket.sent[i], i < 6 ? "shack key" : "new key"),
                  QString("TX%1\r").arg(i));

    // Reports decrypted on every core come back in the order they arrived.
    QStringList expected;
    for (int i = 0; i < 40; ++i) {
        expected << QString("RX%1\r").arg(i);
        socket.waiting += EncryptText(expected.last(), key);
    }
    link.takeReports(true);
    ASSERT_TRUE(workers.runUntil([&] { return handedOn.size() == expected.size(); }));
    EXPECT_EQ(handedOn, expected);
}
