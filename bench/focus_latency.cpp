// SPDX-License-Identifier: GPL-3.0-or-later
// From a focus click to the command's bytes readable on the box side of a pty, beside a bare
// write() of the same four bytes on the same pty, in one run. Prints median and p99 in µs.

#include "app/frmZephrin.h"
#include "bench_support.h"
#include "frontend/qt_platform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMainWindow>
#include <cstdio>

namespace {

struct Figures {
    double median, p99;
};

template <typename Send> Figures measure(int rounds, int masterFd, Send send)
{
    std::vector<double> micros;
    for (int i = 0; i < rounds; ++i) {
        const auto start = bench::Clock::now();
        send();
        bench::readExactly(masterFd, 4);
        micros.push_back(bench::microsSince(start));
    }
    return {bench::median(micros), bench::percentile(micros, 99)};
}

} // namespace

int main(int argc, char** argv)
{
    const bench::OffscreenRun run;
    QApplication app(argc, argv);
    constexpr int Rounds = 1000;

    const bench::Pty pty;
    QtPlatform platform;
    platform.settings.saveSetting(AppName, Setting::SerialPortsSection, "COM1", pty.device);
    frmZephrin form(platform.bundle());
    form.mnuPortsCom1_Click();
    form.protocol = "2";
    auto* button = platform.toolkit.mainWindow()->findChild<QAbstractButton*>("RxFocus1");

    const int slave = ::open(pty.device.toLocal8Bit(), O_RDWR | O_NOCTTY);
    const auto raw = [&] {
        if (::write(slave, "FR1\r", 4) != 4)
            std::perror("write");
    };
    const auto click = [&] { button->click(); };

    measure(100, pty.master, click); // warm up both paths
    measure(100, pty.master, raw);
    const Figures rawFigures = measure(Rounds, pty.master, raw);
    const Figures clickFigures = measure(Rounds, pty.master, click);
    ::close(slave);

    std::printf("%-34s %12s %12s\n", "4 bytes to the pty master", "median µs", "p99 µs");
    std::printf("%-34s %12.1f %12.1f\n", "raw write()", rawFigures.median, rawFigures.p99);
    std::printf("%-34s %12.1f %12.1f\n", "RxFocus1 click (MK2R \"FR1\" + CR)", clickFigures.median,
                clickFigures.p99);
    std::printf("%-34s %12.1f\n", "program overhead (median)",
                clickFigures.median - rawFigures.median);
    return 0;
}
