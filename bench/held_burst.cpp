// SPDX-License-Identifier: GPL-3.0-or-later
// A burst that arrives while a message box is open: the real window (offscreen) on a pty that
// plays an OTRSP box; "?" + CR opens the protocol-error box, which stays open for a fixed time
// while the benchmark writes the burst. Times from the box closing to the pane showing the
// burst's last line, for a 1 MB burst beside a 64-character one, interleaved in one run.

#include "bench_window.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>

namespace {

constexpr int Rounds = 9;
constexpr int BoxOpenMs = 1000;

// `size` bytes of replies and text ending in the line `marker` + CR.
QByteArray burstOf(qsizetype size, const QByteArray& marker)
{
    static const QByteArray lines = "RX1\rTX2\rlorem ipsum 0123456789 dolor sit amet\rRX2\r";
    QByteArray burst;
    while (burst.size() < size)
        burst += lines;
    burst.truncate(size - marker.size() - 1);
    return burst + marker + '\r';
}

struct Figures {
    std::vector<double> toShownMs, writeMs;
};

} // namespace

int main(int argc, char** argv)
{
    const bench::OffscreenRun run;
    QApplication app(argc, argv);

    const bench::Pty pty;
    bench::SerialWindow window(pty);
    bench::WindowPlatform& platform = window.platform;
    RichTextBox& pane = window.pane;

    // While the box is open: write the burst, then keep the box open for the rest of its time.
    QByteArray burst;
    double writeMs = 0;
    platform.dialogs.whileOpen = [&](const QString&) {
        const auto opened = bench::Clock::now();
        bench::writePumping(pty.master, burst);
        writeMs = bench::microsSince(opened) / 1000;
        const int rest = BoxOpenMs - int(writeMs);
        if (rest > 0) {
            QEventLoop nested;
            QTimer::singleShot(rest, &nested, &QEventLoop::quit);
            nested.exec();
        }
    };

    const auto measure = [&](qsizetype size, const QByteArray& marker, Figures& figures) {
        burst = burstOf(size, marker);
        const qsizetype boxes = platform.dialogs.prompts.size();
        if (::write(pty.master, "?\r", 2) != 2)
            std::perror("write");
        // The box opens, the burst is written, the box closes, all inside the receive event.
        if (!bench::pumpUntil([&] { return platform.dialogs.prompts.size() > boxes; }, 5000)) {
            std::printf("no box opened\n");
            std::exit(1);
        }
        const QString end = QString::fromLatin1(marker) + "\r\n";
        const bool shown = bench::pumpUntil([&] { return pane.text().endsWith(end); }, 600000);
        const double ms = std::chrono::duration<double, std::milli>(bench::Clock::now() -
                                                                    platform.dialogs.lastClosed)
                              .count();
        if (!shown)
            std::printf("the pane never showed the end of a %lld-byte burst (%.0f ms)\n",
                        static_cast<long long>(size), ms);
        figures.toShownMs.push_back(ms);
        figures.writeMs.push_back(writeMs);
        bench::drain(pty.master);
    };

    Figures small, large;
    measure(64, "WARM", small);
    small = {};
    for (int round = 0; round < Rounds; ++round) {
        measure(64, "SMALL-END-" + QByteArray::number(round), small);
        measure(1024 * 1024, "LARGE-END-" + QByteArray::number(round), large);
    }

    std::printf("Burst written while a message box is open for %d ms; %d rounds, interleaved\n",
                BoxOpenMs, Rounds);
    std::printf("%-26s %16s %12s %18s\n", "burst", "close→shown ms", "max ms",
                "write (box open) ms");
    std::printf("%-26s %16.2f %12.2f %18.2f\n", "64 characters", bench::median(small.toShownMs),
                *std::max_element(small.toShownMs.begin(), small.toShownMs.end()),
                bench::median(small.writeMs));
    std::printf("%-26s %16.2f %12.2f %18.2f\n", "1 MB", bench::median(large.toShownMs),
                *std::max_element(large.toShownMs.begin(), large.toShownMs.end()),
                bench::median(large.writeMs));
    std::printf("pane after the run: %lld characters; message boxes: %lld\n",
                static_cast<long long>(pane.text().size()),
                static_cast<long long>(platform.dialogs.prompts.size()));
    return 0;
}
