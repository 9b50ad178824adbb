// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the benchmarks share: a clock in microseconds, medians, and a raw pseudo-terminal whose
// master side plays the box.

#include "cipher/encrypted_text.h"

#include <QEventLoop>
#include <QFile>
#include <QString>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <future>
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

// Runs the event loop for a while, asleep when it has nothing to do.
inline void pump(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
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

// A figure of /proc/PID/status in kB, such as VmHWM (the peak resident set).
inline long statusKb(qint64 pid, const char* field)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field)) + 1).trimmed().split(' ')[0].toLong();
    return -1;
}

// A loopback port that no one listens on now.
inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The CPU time a process has used, in clock ticks (sysconf(_SC_CLK_TCK) a second).
inline long cpuTicks(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
    return fields.value(12).toLong() + fields.value(13).toLong(); // utime, stime
}

// Messages encrypted on every core, in one run of bytes: each is one key derivation.
inline QByteArray encryptedMany(const QString& text, const QString& key, int count)
{
    const int threads = std::max(1, QThread::idealThreadCount());
    std::vector<std::future<QByteArray>> parts;
    for (int t = 0; t < threads; ++t)
        parts.push_back(std::async(std::launch::async, [&, t] {
            QByteArray part;
            for (int i = t; i < count; i += threads)
                part += EncryptText(text, key).toLatin1();
            return part;
        }));
    QByteArray all;
    for (auto& part : parts)
        all += part.get();
    return all;
}

} // namespace bench
