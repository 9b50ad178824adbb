// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A contest logger's plain line to the box, beside the encrypted clients: the logger writes the
// box's own command lines, and reads back the box's answers to its own queries. Either a
// pseudo-terminal that the logger opens as its serial port, or a TCP connection.

#include <QByteArray>
#include <QSocketNotifier>
#include <QString>
#include <QTcpSocket>
#include <functional>
#include <memory>

class LoggerLink {
public:
    virtual ~LoggerLink() = default;
    // Reads what the logger has written, at most `max` bytes; empty when nothing waits.
    virtual QByteArray read(qint64 max) = 0;
    // Hands an answer to the logger; false when it was dropped, as nobody is there to read it.
    virtual bool write(const QByteArray& answer) = 0;
    // Paused, what the logger writes waits where it is, and a flood is held back at the logger.
    virtual void setReading(bool reading) = 0;

    QString name; // as the log shows it
    std::function<void()> onReadable;
    std::function<void()> onGone;         // a TCP logger hung up
    std::function<void(QString)> onEvent; // a line for the log, such as the port opened
    std::function<void()> onClosed;       // the last program that had the port open closed it
};

// A pseudo-terminal whose device a symbolic link names, for a logger to open as its serial port
// (a Wine COM port is such a link). The server holds the device open itself, in raw mode, so
// that the logger may close and open it again, as a logger restarted during a contest does; the
// line settings that the logger chooses mean nothing on it. The link goes with the port.
class LoggerPort : public LoggerLink {
public:
    // None, with the reason, when the pty or the link cannot be made.
    static std::unique_ptr<LoggerPort> open(const QString& linkPath, QString* failure);
    ~LoggerPort() override;
    LoggerPort(const LoggerPort&) = delete;
    LoggerPort& operator=(const LoggerPort&) = delete;

    QByteArray read(qint64 max) override;
    bool write(const QByteArray& answer) override;
    void setReading(bool reading) override;
    QString device() const { return device_; }

private:
    LoggerPort() = default;
    // Counts the programs that open and close the device; what one left unread is not for the
    // next.
    void takeOpensAndCloses();

    int master_ = -1;
    int held_ = -1; // the server's own descriptor of the device
    int watch_ = -1;
    int opened_ = 0; // open descriptions of the device besides the server's
    int closings_ = 0;    // times the last program closed the device
    int askedInLast_ = 0; // closings_ when the logger's text was last read
    QString linkPath_;
    QString device_;
    std::unique_ptr<QSocketNotifier> readable_;
    std::unique_ptr<QSocketNotifier> openings_;
};

// A logger on a TCP connection, speaking the same plain lines.
class LoggerSocket : public LoggerLink {
public:
    explicit LoggerSocket(QTcpSocket* socket);
    ~LoggerSocket() override;
    LoggerSocket(const LoggerSocket&) = delete;
    LoggerSocket& operator=(const LoggerSocket&) = delete;

    QByteArray read(qint64 max) override { return socket_->read(max); }
    bool write(const QByteArray& answer) override;
    void setReading(bool) override {} // Qt reads no further ahead than its buffer; TCP holds it

private:
    // Answers waiting for a logger that does not read them.
    static constexpr qint64 MaxUnsentBytes = 4096;
    QTcpSocket* socket_;
};
