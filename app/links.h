// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The window's two ways to the box behind one interface: the serial port, and the connection to
// zephrin-server (encrypted messages, or plain lines inside TLS), which also brings the server's
// reports.

#include "cipher/key_pool.h"
#include "linecode/message_stream.h"
#include "platform/runtime_error.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class SerialPort;
class Socket;
class Workers;

class CommandLink {
public:
    virtual ~CommandLink() = default;
    // Hands text to the box as it is: a command with its carriage return, or one typed key.
    virtual void send(const QString& text) = 0;
    // True while what is sent reaches the box: always on the serial port, where a port that is
    // not open refuses the write itself; while connected to the server.
    virtual bool isUp() const = 0;
    // The status line says "Sent data" after a command has gone out on this link.
    virtual bool confirmsCommands() const = 0;
};

class SerialLink : public CommandLink {
public:
    explicit SerialLink(SerialPort& port) : port_(port) {}
    void send(const QString& text) override;
    bool isUp() const override { return true; }
    bool confirmsCommands() const override { return false; }

private:
    SerialPort& port_;
};

// Every message is encrypted under the operator's key, with keys derived ahead of need. The
// server's reports are cut from what the socket brings, decrypted on workers, and handed on in
// the order they came, a few at a time. Inside TLS, commands and reports are plain lines, and
// the key's pre-shared key is derived once for each key text.
class NetworkLink : public CommandLink {
public:
    struct Report {
        QString text;
        std::optional<RuntimeError> failure;
    };
    // Raised once for each arrival, in the order they came, once all its reports are decrypted.
    // A data event always makes an arrival, even one without a report.
    std::function<void(const std::vector<Report>&)> onArrival;

    // Reports being decrypted or waiting to be handed on. At this many the socket is not read,
    // and the server waits (TCP flow control) instead of the program holding all it sends.
    static constexpr int MaxReportsInFlight = 64;
    static constexpr int ReportsPerArrival = 8;
    // Inside TLS a report is a line; text this long without a line end is handed on as one.
    static constexpr qsizetype MaxLineBytes = 256;

    // key is the operator's key as it is at each use.
    NetworkLink(Socket& socket, Workers& workers, const QString& key);
    void send(const QString& text) override;
    bool isUp() const override;
    bool confirmsCommands() const override { return true; }

    // Starts a connection to the server, inside TLS when secure; a TLS connection waits for its
    // key's derivation when that is not done yet.
    void connectTo(const QString& host, int port, bool secure);
    // Derives keys ahead for the current key.
    void prepareKeys();
    // Derives the TLS key for the current key text on a worker, once for each key text.
    void preparePreSharedKey();
    // Reads what has arrived and starts decrypting the whole reports in it, while there is room.
    void takeReports(bool dataEvent);
    // Closes the connection; what it brought and has not been handed on is dropped.
    void close();
    // The server closed the connection: the rest of an unfinished report will not come.
    void peerClosed()
    {
        reports_.dropUnfinished();
        lineTail_.clear();
    }

private:
    struct Arrival;
    void read();
    bool hasWholeReport() const { return secure_ ? !lines_.empty() : reports_.hasComplete(); }
    QString nextReport();
    void decrypt(const QStringList& messages);
    void handOn();

    Socket& socket_;
    Workers& workers_;
    const QString& key_;
    KeyPool keys_;
    // Whole reports not yet started (at most what one read brings), and the end of an arrival
    // that cannot yet be whole, put in front of the next one.
    MessageStream reports_{MessageStream::Reader::Window};
    std::deque<std::shared_ptr<Arrival>> arrivals_; // in the order they came
    int inFlight_ = 0;
    // Changes at every close: reports of an earlier connection are dropped.
    int connection_ = 0;

    // The connection speaks TLS.
    bool secure_ = false;
    QByteArray preSharedKey_;
    QString preSharedKeyFor_; // the key text it was derived from
    bool deriving_ = false;
    std::optional<std::pair<QString, int>> waitingToConnect_; // for the derivation
    std::deque<QByteArray> lines_;                            // whole reports inside TLS
    QByteArray lineTail_;
};
