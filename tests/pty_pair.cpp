// SPDX-License-Identifier: GPL-3.0-or-later
#include "pty_pair.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("cannot make a pty pair");
    slavePath_ = QString::fromLocal8Bit(ptsname(master_));
    // The box side reads bytes as they are, without the line discipline's editing.
    termios raw{};
    tcgetattr(master_, &raw);
    cfmakeraw(&raw);
    tcsetattr(master_, TCSANOW, &raw);
}

void PtyPair::closeMaster()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

QByteArray readFrom(int fd, int count, int timeoutMs)
{
    QByteArray bytes;
    pumpUntil(
        [&] {
            char chunk[256];
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            bytes.append(chunk, std::max<ssize_t>(n, 0));
            return bytes.size() >= count;
        },
        timeoutMs);
    return bytes;
}

void PtyPair::write(const QByteArray& bytes)
{
    // A full line waits for the program to read, as a real box would.
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(master_, bytes.constData() + done, bytes.size() - done);
        if (n < 0 && errno != EAGAIN)
            throw std::runtime_error("cannot write to the pty master");
        done += std::max<ssize_t>(n, 0);
        if (done < bytes.size())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

bool pumpUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        usleep(1000);
    }
    return true;
}
