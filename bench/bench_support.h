#pragma once

// What the benchmarks share: a clock in microseconds, medians, and a raw pseudo-terminal whose
// master side plays the box.

#include <QString>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double microsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

inline double percentile(std::vector<double> values, int percent)
{
    std::sort(values.begin(), values.end());
    return values[values.size() * percent / 100];
}

inline double median(std::vector<double> values)
{
    return percentile(std::move(values), 50);
}

// Qt's offscreen platform and a settings folder of the benchmark's own, for one run: made
// before the QApplication.
struct OffscreenRun {
    QTemporaryDir config;
    OffscreenRun()
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    }
};

// Reads until `count` bytes have come; false when nothing came for two seconds.
inline bool readExactly(int fd, qsizetype count)
{
    char bytes[4096];
    qsizetype got = 0;
    while (got < count) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0)
            return false;
        const ssize_t n = ::read(fd, bytes, std::min<qsizetype>(sizeof bytes, count - got));
        if (n > 0)
            got += n;
    }
    return true;
}

// A pseudo-terminal: the program under test opens `device`; the benchmark is the box on
// `master`, raw.
struct Pty {
    int master = -1;
    QString device;

    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            throw std::runtime_error("cannot make a pseudo-terminal");
        termios raw{};
        tcgetattr(master, &raw);
        cfmakeraw(&raw);
        tcsetattr(master, TCSANOW, &raw);
        device = QString::fromLocal8Bit(ptsname(master));
    }
    ~Pty() { ::close(master); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
};

} // namespace bench
