// SPDX-License-Identifier: GPL-3.0-or-later
// The network link against the cost of one key derivation (PBKDF2, as PrepareKey runs it), each
// part side by side in one run:
//  1. a focus click to the whole message at a loopback peer, with the keys derived ahead, beside
//     the button's access key;
//  2. a focus click through zephrin-server to the command's bytes on the box's pty;
//  3. 2,000 reports in one write from the peer: the time until the last is applied, on every
//     core and on one thread, the worst lateness of a 10 ms timer of the window meanwhile, and
//     the growth of the peak resident set.
// The click through the server sets a derivation here beside one in the server: where the cores
// differ in speed (shared virtual machines), run this as `taskset -c N`, both on the same core.

#include "app/frmZephrin.h"
#include "bench_support.h"
#include "cipher/encrypted_text.h"
#include "frontend/qt_platform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMainWindow>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <thread>

namespace {

using bench::Clock;
using bench::median;
using bench::microsSince;
using bench::pump;

double derivation()
{
    const auto start = Clock::now();
    PrepareKey(ResetKey);
    return microsSince(start);
}

// Clicks RxFocus1 `rounds` times, each until `whole` says the command has arrived, beside one key
// derivation just before it; the keys of the pool are derived again between rounds, as between an
// operator's clicks. Prints the medians and their ratio.
void clicks(const char* title, QAbstractButton* button, int rounds,
            const std::function<bool()>& whole,
            const std::function<void()>& press = nullptr)
{
    std::vector<double> click, derive;
    for (int round = 0; round < rounds + 10; ++round) {
        pump(40);
        const double bare = derivation(); // in the same quiet moment as the click
        const auto start = Clock::now();
        press ? press() : button->click();
        if (!whole())
            std::fprintf(stderr, "the command did not arrive\n");
        const double time = microsSince(start);
        if (round >= 10) { // the first rounds warm up
            click.push_back(time);
            derive.push_back(bare);
        }
    }
    std::printf("%s\n", title);
    std::printf("  %-44s %10.1f µs\n", "one key derivation (median)", median(derive));
    std::printf("  %-44s %10.1f µs\n", "the click (median)", median(click));
    std::printf("  %-44s %10.3f ×\n", "ratio", median(click) / median(derive));
}

// What the machine's cores give for key derivations: the same number of them on one thread and
// shared out over every core. The reports' speed-up can be no better.
double parallelCeiling()
{
    constexpr int Count = 60;
    const int threads = QThread::idealThreadCount();
    auto start = Clock::now();
    for (int i = 0; i < Count; ++i)
        PrepareKey(ResetKey);
    const double one = microsSince(start);
    start = Clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < Count / threads; ++i)
                PrepareKey(ResetKey);
        });
    for (std::thread& worker : workers)
        worker.join();
    return one / microsSince(start);
}

// CPU time of the calling thread so far, in seconds.
double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

struct Flood {
    double seconds = 0, worstLateMs = 0, windowCpu = 0;
    long peakGrowthKb = 0;
};

// The reports in one write; done when the last, the only TX2, has lit its lamp.
Flood flood(QtPlatform& platform, QTcpSocket& peer, const QByteArray& reports)
{
    Shape& lastLamp = platform.toolkit.shape("shpFocus2");
    lastLamp.setFillStyle(FillStyle::Transparent);
    pump(50);
    QFile clear("/proc/self/clear_refs");
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5"); // the peak resident set starts again from here
    clear.close();
    const long before = bench::statusKb(QCoreApplication::applicationPid(), "VmHWM:");
    Flood result;
    QTimer timer;
    QEventLoop loop;
    auto last = Clock::now();
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const double late = microsSince(last) / 1000 - 10;
        result.worstLateMs = std::max(result.worstLateMs, late);
        last = Clock::now();
        if (lastLamp.fillStyle() == FillStyle::Solid)
            loop.quit();
    });
    timer.start(10);
    last = Clock::now();
    const auto start = Clock::now();
    const double cpuBefore = threadCpuSeconds();
    peer.write(reports);
    peer.flush();
    loop.exec(); // asleep between events, so that the window's thread takes no core of its own
    result.seconds = microsSince(start) / 1e6;
    result.windowCpu = threadCpuSeconds() - cpuBefore;
    result.peakGrowthKb = bench::statusKb(QCoreApplication::applicationPid(), "VmHWM:") - before;
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    const bench::OffscreenRun run;
    QApplication app(argc, argv);

    QTcpServer listener;
    listener.listen(QHostAddress::LocalHost, 0);
    QtPlatform platform;
    platform.settings.saveSetting(AppName, "settings", "port",
                                  QString::number(listener.serverPort()));
    frmZephrin form(platform.bundle());
    form.Password = ResetKey; // start-up would ask for a port first: the key is all it needs
    form.mnuTCPPort1_Click();
    form.protocol = "1";
    platform.socket.connectTo("127.0.0.1", listener.serverPort());
    // Connected, and the protocol's opening commands gone by.
    while (platform.toolkit.label("lblStatus").caption() != "Sent data")
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QTcpSocket* peer = listener.nextPendingConnection();
    pump(100);
    peer->readAll();
    const int peerFd = int(peer->socketDescriptor());
    auto* button = platform.toolkit.mainWindow()->findChild<QAbstractButton*>("RxFocus1");
    const qsizetype messageLength = EncryptText("RX1\r", form.Password).size();

    const auto whole = [&] { return bench::readExactly(peerFd, messageLength); };
    clicks("1. RxFocus1 to the whole message at a loopback peer, keys derived ahead", button, 100,
           whole);
    // The key pressed on the active window, through Qt's shortcut map to the button.
    QMainWindow* window = platform.toolkit.mainWindow();
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        std::fprintf(stderr, "the window did not become active\n");
    clicks("1b. its access key Alt+R, pressed on the window", button, 100, whole,
           [&] { QTest::keyClick(window, Qt::Key_R, Qt::AltModifier); });

    std::printf("3. 2,000 reports in one write (encrypting them first...)\n");
    std::fflush(stdout);
    constexpr int Reports = 2000;
    const QByteArray reports = bench::encryptedMany("RX1\r", ResetKey, Reports - 1) +
                               EncryptText("TX2\r", ResetKey).toLatin1();
    const double ceilingBefore = parallelCeiling();
    const Flood allCores = flood(platform, *peer, reports);
    platform.workers.setThreads(1);
    const Flood oneThread = flood(platform, *peer, reports);
    platform.workers.setThreads(QThread::idealThreadCount());
    for (const auto& [name, f] :
         {std::pair{"on every core", allCores}, {"on one thread", oneThread}})
        std::printf(
            "  %-16s %8.2f s to the last; window's thread busy %.2f s; timer late by %.1f ms at "
            "worst; peak RSS +%ld kB\n",
            name, f.seconds, f.windowCpu, f.worstLateMs, f.peakGrowthKb);
    std::printf("  %-16s %8.2f ×\n", "speed-up", oneThread.seconds / allCores.seconds);
    // Shared cores give a different share from minute to minute: what they gave before and after.
    std::printf("  %-16s %8.2f × before, %.2f × after (bare derivations, every core beside one)\n",
                "the cores gave", ceilingBefore, parallelCeiling());

    // 2. Through the server, whose simulated box is the pty.
    form.cmdDisconnect_Click();
    const bench::Pty pty;
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 serverPort = probe.serverPort();
    probe.close();
    QProcess server;
    server.setStandardOutputFile(QProcess::nullDevice());
    server.setStandardErrorFile(QProcess::nullDevice()); // it warns of the default key
    server.start(ZEPHRIN_SERVER, {"--device", pty.device, "--port", QString::number(serverPort)});
    pump(300);
    platform.socket.connectTo("127.0.0.1", serverPort);
    pump(300);
    char drain[4096];
    while (::read(pty.master, drain, sizeof drain) > 0) {
    } // the opening commands
    clicks("2. RxFocus1 through zephrin-server to the bytes on the box's pty", button, 60,
           [&] { return bench::readExactly(pty.master, 4); });
    server.terminate();
    server.waitForFinished(5000);
    return 0;
}
