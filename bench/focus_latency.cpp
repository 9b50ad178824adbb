// From a focus click to the command's bytes readable on the box side of a pty, beside a bare
// write() of the same four bytes on the same pty, in one run. Prints median and p99 in µs.

#include "app/frmZephrin.h"
#include "platform/qt/qt_platform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMainWindow>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void readExactly(int fd, int count)
{
    char bytes[64];
    int got = 0;
    while (got < count) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 1000);
        const ssize_t n = ::read(fd, bytes, sizeof bytes);
        if (n > 0)
            got += int(n);
    }
}

struct Figures {
    double median, p99;
};

template <typename Send> Figures measure(int rounds, int masterFd, Send send)
{
    std::vector<double> micros;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        send();
        readExactly(masterFd, 4);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(micros.begin(), micros.end());
    return {micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QTemporaryDir config; // the benchmark's own settings file
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    constexpr int Rounds = 1000;

    // The box's side of a pseudo-terminal, raw.
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return std::perror("posix_openpt"), 1;
    termios rawMode{};
    tcgetattr(master, &rawMode);
    cfmakeraw(&rawMode);
    tcsetattr(master, TCSANOW, &rawMode);
    const QString device = QString::fromLocal8Bit(ptsname(master));

    QtPlatform platform;
    platform.settings.saveSetting(AppName, Setting::SerialPortsSection, "COM1", device);
    frmZephrin form(platform.bundle());
    form.Form_Load();
    form.mnuPortsCom1_Click();
    form.protocol = "2";
    auto* button = platform.toolkit.mainWindow()->findChild<QAbstractButton*>("RxFocus1");

    const int slave = ::open(device.toLocal8Bit(), O_RDWR | O_NOCTTY);
    const auto raw = [&] {
        if (::write(slave, "FR1\r", 4) != 4)
            std::perror("write");
    };
    const auto click = [&] { button->click(); };

    measure(100, master, click); // warm up both paths
    measure(100, master, raw);
    const Figures rawFigures = measure(Rounds, master, raw);
    const Figures clickFigures = measure(Rounds, master, click);
    ::close(slave);
    ::close(master);

    std::printf("%-34s %12s %12s\n", "4 bytes to the pty master", "median µs", "p99 µs");
    std::printf("%-34s %12.1f %12.1f\n", "raw write()", rawFigures.median, rawFigures.p99);
    std::printf("%-34s %12.1f %12.1f\n", "RxFocus1 click (MK2R \"FR1\" + CR)", clickFigures.median,
                clickFigures.p99);
    std::printf("%-34s %12.1f\n", "program overhead (median)",
                clickFigures.median - rawFigures.median);
    return 0;
}
