// SPDX-License-Identifier: GPL-3.0-or-later
#include "logger_link.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

void makeRaw(int fd)
{
    termios raw{};
    tcgetattr(fd, &raw);
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
}

// A link that an earlier run left behind points at a pty that is gone or not ours; any other
// file at the path is the operator's and stays.
bool mayReplace(const QFileInfo& link)
{
    return link.isSymLink() && (!link.exists() || link.symLinkTarget().startsWith("/dev/pts/"));
}

} // namespace

std::unique_ptr<LoggerPort> LoggerPort::open(const QString& linkPath, QString* failure)
{
    std::unique_ptr<LoggerPort> port(new LoggerPort);
    port->linkPath_ = QFileInfo(linkPath).absoluteFilePath();
    port->name = "logger port " + linkPath;
    port->master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port->master_ < 0 || grantpt(port->master_) != 0 || unlockpt(port->master_) != 0) {
        *failure = QString("cannot make a pseudo-terminal for %1: %2")
                       .arg(linkPath, QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    port->device_ = QString::fromLocal8Bit(ptsname(port->master_));
    const QByteArray device = QFile::encodeName(port->device_);
    port->held_ = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port->held_ < 0) {
        *failure = QString("cannot open the pseudo-terminal %1: %2")
                       .arg(port->device_, QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    // No echo, no line editing, no line-end translation: the bytes as the logger wrote them.
    makeRaw(port->held_);
    makeRaw(port->master_);

    const QFileInfo link(port->linkPath_);
    if ((link.exists() || link.isSymLink()) && !mayReplace(link)) {
        *failure = QString("%1 exists and is no link to a pseudo-terminal; name a new path "
                           "for the logger port")
                       .arg(linkPath);
        return nullptr;
    }
    QFile::remove(port->linkPath_);
    QDir().mkpath(link.absolutePath());
    if (::symlink(device.constData(), QFile::encodeName(port->linkPath_).constData()) != 0) {
        *failure = QString("cannot make the link %1: %2")
                       .arg(linkPath, QString::fromLocal8Bit(std::strerror(errno)));
        port->linkPath_.clear();
        return nullptr;
    }

    // Opens and closes of the device, by the logger or anyone else; without them every answer is
    // written, and waits in the device for whoever opens it next.
    port->watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (port->watch_ >= 0 &&
        inotify_add_watch(port->watch_, device.constData(), IN_OPEN | IN_CLOSE) >= 0) {
        port->openings_ = std::make_unique<QSocketNotifier>(port->watch_, QSocketNotifier::Read);
        QObject::connect(port->openings_.get(), &QSocketNotifier::activated,
                         [raw = port.get()] { raw->takeOpensAndCloses(); });
    } else if (port->watch_ >= 0) {
        ::close(port->watch_);
        port->watch_ = -1;
    }
    port->readable_ = std::make_unique<QSocketNotifier>(port->master_, QSocketNotifier::Read);
    QObject::connect(port->readable_.get(), &QSocketNotifier::activated, [raw = port.get()] {
        if (raw->onReadable)
            raw->onReadable();
    });
    return port;
}

LoggerPort::~LoggerPort()
{
    readable_.reset();
    openings_.reset();
    if (!linkPath_.isEmpty() && QFileInfo(linkPath_).symLinkTarget() == device_)
        QFile::remove(linkPath_);
    for (const int fd : {watch_, held_, master_})
        if (fd >= 0)
            ::close(fd);
}

QByteArray LoggerPort::read(qint64 max)
{
    takeOpensAndCloses();
    askedInLast_ = closings_;
    QByteArray bytes(max, Qt::Uninitialized);
    const ssize_t n = ::read(master_, bytes.data(), std::size_t(max));
    bytes.resize(n > 0 ? n : 0);
    return bytes;
}

bool LoggerPort::write(const QByteArray& answer)
{
    // The program that asked has closed the port since: the answer is nobody's.
    takeOpensAndCloses();
    if (watch_ >= 0 && (opened_ == 0 || closings_ != askedInLast_))
        return false;
    // A logger that never reads fills the device; then its answers are dropped, never waited for.
    return ::write(master_, answer.constData(), std::size_t(answer.size())) == answer.size();
}

void LoggerPort::setReading(bool reading)
{
    readable_->setEnabled(reading);
}

void LoggerPort::takeOpensAndCloses()
{
    if (watch_ < 0)
        return;
    alignas(inotify_event) char events[4096];
    ssize_t n = 0;
    while ((n = ::read(watch_, events, sizeof events)) > 0) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_OPEN) {
                if (++opened_ == 1 && onEvent)
                    onEvent(name + ": opened by a program");
            } else if ((event->mask & IN_CLOSE) && opened_ > 0 && --opened_ == 0) {
                // What the last program left unread is no answer for the next one, and the
                // modes it set (an echo would send the box's answers back as commands) go too,
                // its exclusive use (a crashed logger's next start must open the port) included.
                tcflush(held_, TCIFLUSH);
                makeRaw(held_);
                ::ioctl(held_, TIOCNXCL);
                ++closings_;
                if (onEvent)
                    onEvent(name + ": closed by the program");
                if (onClosed)
                    onClosed();
            }
        }
    }
}

LoggerSocket::LoggerSocket(QTcpSocket* socket) : socket_(socket)
{
    socket->setParent(nullptr); // the link's own, whenever its listener goes
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setReadBufferSize(4096);
    QObject::connect(socket, &QTcpSocket::readyRead, [this] {
        if (onReadable)
            onReadable();
    });
    QObject::connect(socket, &QTcpSocket::disconnected, [this] {
        if (onGone)
            onGone();
    });
}

LoggerSocket::~LoggerSocket()
{
    QObject::disconnect(socket_, nullptr, nullptr, nullptr);
    socket_->abort();
    socket_->deleteLater();
}

bool LoggerSocket::write(const QByteArray& answer)
{
    if (socket_->bytesToWrite() > MaxUnsentBytes)
        return false;
    return socket_->write(answer) == answer.size();
}
