// SPDX-License-Identifier: GPL-3.0-or-later
// The real window (offscreen) on a pty that plays an OTRSP box. Phase A: 20 MB of replies and
// text through the port and pane as fast as the program takes them, beside the same bytes read
// bare from a second pty. Phase B: data at the 9600-baud pace (960 bytes a second in bursts
// every 50 ms) for --minutes M (or ZEPHRIN_SOAK_MINUTES; 10 by default), beside the same pacing
// into a second pty read by a bare socket notifier. Prints resident size (VmHWM, VmRSS) after
// the first minute and at the end, and the CPU share during phase B, beside the bare reader's.

#include "bench_window.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <random>
#include <sys/resource.h>

namespace {

constexpr qsizetype PhaseABytes = qsizetype(20) * 1024 * 1024;
constexpr int BytesPerSecond = 960; // 9600 baud, 8N1
constexpr int TickMs = 50;

struct Memory {
    long hwmKb = 0, rssKb = 0;
};

Memory memoryNow()
{
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    Memory m;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            m.hwmKb = line.mid(6).trimmed().split(' ').first().toLong();
        else if (line.startsWith("VmRSS:"))
            m.rssKb = line.mid(6).trimmed().split(' ').first().toLong();
    }
    return m;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// What a busy box sends: focus replies and free text, every line ending in CR. No "?" and no
// line that is "E" alone, so that no protocol-error box opens.
class BoxTalk {
public:
    QByteArray next(qsizetype count)
    {
        while (pending_.size() < count)
            pending_ += line();
        QByteArray out = pending_.left(count);
        pending_.remove(0, count);
        return out;
    }

private:
    QByteArray line()
    {
        static const char* const replies[] = {"RX1\r", "TX2\r", "RX2\r", "TX1\r", "RX1S\r"};
        static const char text[] = "abcdefghijklmnopqrstuvwxyz0123456789 .,:;-+=/*#";
        if (random_() % 3 == 0)
            return replies[random_() % 5];
        QByteArray l;
        const int length = 8 + int(random_() % 72);
        for (int i = 0; i < length; ++i)
            l += text[random_() % (sizeof text - 1)];
        return l + '\r';
    }

    std::mt19937 random_{8};
    QByteArray pending_;
};

// Sends at the 9600-baud pace for `seconds` to `masterFd`, pumping the event loop throughout;
// `checkpoint` runs once at `checkpointSeconds`.
template <typename Checkpoint>
void paced(int masterFd, BoxTalk& talk, double seconds, double checkpointSeconds,
           Checkpoint checkpoint)
{
    QEventLoop loop;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    const auto start = bench::Clock::now();
    qsizetype sent = 0;
    bool checked = false;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double elapsed = bench::microsSince(start) / 1e6;
        const QByteArray burst = talk.next(qsizetype(elapsed * BytesPerSecond) - sent);
        if (::write(masterFd, burst.constData(), size_t(burst.size())) == burst.size())
            sent += burst.size();
        if (!checked && elapsed >= checkpointSeconds) {
            checked = true;
            checkpoint();
        }
        if (elapsed >= seconds)
            loop.quit();
    });
    tick.start(TickMs);
    loop.exec();
}

double minutesAsked(int argc, char** argv)
{
    double minutes = qEnvironmentVariableIsSet("ZEPHRIN_SOAK_MINUTES")
                         ? qEnvironmentVariable("ZEPHRIN_SOAK_MINUTES").toDouble()
                         : 10.0;
    for (int i = 1; i + 1 < argc; ++i)
        if (QByteArray(argv[i]) == "--minutes")
            minutes = QByteArray(argv[i + 1]).toDouble();
    return minutes > 0 ? minutes : 10.0;
}

} // namespace

int main(int argc, char** argv)
{
    const bench::OffscreenRun run;
    QApplication app(argc, argv);
    const double phaseBSeconds = minutesAsked(argc, argv) * 60;
    const double firstMinute = std::min(60.0, phaseBSeconds / 2);
    const double bareSeconds = std::clamp(phaseBSeconds / 10, 10.0, 60.0);

    const bench::Pty pty, barePty;
    bench::SerialWindow window(pty);
    bench::WindowPlatform& platform = window.platform;
    RichTextBox& pane = window.pane;
    const Memory atStart = memoryNow();

    // Phase A, bare: the same bytes written and read back through a second pty.
    BoxTalk talk;
    const QByteArray block = talk.next(1024 * 1024);
    const int bareSlave = ::open(barePty.device.toLocal8Bit(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios raw{};
    tcgetattr(bareSlave, &raw);
    cfmakeraw(&raw);
    tcsetattr(bareSlave, TCSANOW, &raw);
    auto start = bench::Clock::now();
    {
        char bytes[4096];
        qsizetype sent = 0, got = 0;
        while (got < PhaseABytes) {
            if (sent < PhaseABytes) {
                const qsizetype at = sent % block.size();
                const ssize_t n = ::write(barePty.master, block.constData() + at,
                                          size_t(std::min<qsizetype>(block.size() - at, 4096)));
                if (n > 0)
                    sent += n;
            }
            const ssize_t n = ::read(bareSlave, bytes, sizeof bytes);
            if (n > 0)
                got += n;
        }
    }
    const double bareASeconds = bench::microsSince(start) / 1e6;

    // Phase A through the window: the pane must end with the last line.
    start = bench::Clock::now();
    for (qsizetype sent = 0; sent < PhaseABytes; sent += block.size())
        bench::writePumping(pty.master, block);
    bench::writePumping(pty.master, "SOAK-A-END\r");
    const bool shownA =
        bench::pumpUntil([&] { return pane.text().endsWith("SOAK-A-END\r\n"); }, 60000);
    const double windowASeconds = bench::microsSince(start) / 1e6;
    const qsizetype paneAfterA = pane.text().size();
    bench::drain(pty.master);
    const Memory afterA = memoryNow();

    // Phase B, bare: the same pace into a second pty, read by a socket notifier.
    qsizetype bareGot = 0;
    QSocketNotifier bareReader(bareSlave, QSocketNotifier::Read);
    QObject::connect(&bareReader, &QSocketNotifier::activated, [&] {
        char bytes[4096];
        const ssize_t n = ::read(bareSlave, bytes, sizeof bytes);
        if (n > 0)
            bareGot += n;
    });
    BoxTalk bareTalk;
    double cpu = cpuSeconds();
    start = bench::Clock::now();
    paced(barePty.master, bareTalk, bareSeconds, bareSeconds, [] {});
    const double bareCpuShare = (cpuSeconds() - cpu) / (bench::microsSince(start) / 1e6);
    bareReader.setEnabled(false);
    ::close(bareSlave);

    // Phase B through the window.
    Memory firstMinuteMemory;
    cpu = cpuSeconds();
    start = bench::Clock::now();
    paced(pty.master, talk, phaseBSeconds, firstMinute, [&] { firstMinuteMemory = memoryNow(); });
    const double windowCpuShare = (cpuSeconds() - cpu) / (bench::microsSince(start) / 1e6);
    bench::writePumping(pty.master, "SOAK-B-END\r");
    const bool shownB =
        bench::pumpUntil([&] { return pane.text().endsWith("SOAK-B-END\r\n"); }, 10000);
    const Memory atEnd = memoryNow();

    std::printf("Phase A: %lld MB at pty speed\n", static_cast<long long>(PhaseABytes >> 20));
    std::printf("  %-40s %8.2f s  %8.2f MB/s\n", "bare read() of a second pty", bareASeconds,
                20 / bareASeconds);
    std::printf("  %-40s %8.2f s  %8.2f MB/s  (last line shown: %s, pane %lld chars)\n",
                "port and pane of the window", windowASeconds, 20 / windowASeconds,
                shownA ? "yes" : "NO", static_cast<long long>(paneAfterA));
    std::printf("Phase B: %.0f s at %d bytes/s (bare reader %.0f s)\n", phaseBSeconds,
                BytesPerSecond, bareSeconds);
    std::printf("  %-40s %8.2f %% of one core\n", "CPU, bare socket-notifier reader",
                100 * bareCpuShare);
    std::printf("  %-40s %8.2f %% of one core  (target < 3 %%; last line shown: %s)\n",
                "CPU, window", 100 * windowCpuShare, shownB ? "yes" : "NO");
    std::printf("Memory (kB)                               %10s %10s\n", "VmHWM", "VmRSS");
    std::printf("  %-40s %10ld %10ld\n", "window loaded, before any data", atStart.hwmKb,
                atStart.rssKb);
    std::printf("  %-40s %10ld %10ld\n", "after phase A", afterA.hwmKb, afterA.rssKb);
    std::printf("  %-40s %10ld %10ld\n", qPrintable(QString("phase B after %1 s").arg(firstMinute)),
                firstMinuteMemory.hwmKb, firstMinuteMemory.rssKb);
    std::printf("  %-40s %10ld %10ld\n", "end of phase B", atEnd.hwmKb, atEnd.rssKb);
    std::printf("  %-40s %10ld %10ld  (target < 5120 kB)\n", "growth since the first minute",
                atEnd.hwmKb - firstMinuteMemory.hwmKb, atEnd.rssKb - firstMinuteMemory.rssKb);
    std::printf("Message boxes shown: %lld\n",
                static_cast<long long>(platform.dialogs.prompts.size()));
    for (const QString& prompt : platform.dialogs.prompts)
        std::printf("  %s\n", qPrintable(prompt));
    return 0;
}
