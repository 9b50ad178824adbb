// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where sources come in: Zephrin windows on the server's TCP port, loggers on their ptys and on
// plain TCP. The hub lets them in within the limits, hands each one the box session, sends the
// session's state reports to every window that listens, and lets them go.

#include "box_session.h"
#include "client_limits.h"
#include "client.h"
#include "logger.h"
#include "message_transport.h"

#include <QTcpServer>
#include <QTimer>
#include <memory>
#include <vector>

class Hub {
public:
    Hub(BoxSession& session, QString key, const ClientLimits& limits);
    ~Hub();
    Hub(const Hub&) = delete;
    Hub& operator=(const Hub&) = delete;

    // False, with the reason, when the address cannot be listened on.
    bool listen(const QHostAddress& address, quint16 port, QString* reason);
    quint16 port() const { return server_.serverPort(); }
    void setKey(const QString& key) { codec_.setKey(key); }
    bool keepSaltsIn(const QString& folder, QString* failure)
    {
        return codec_.keepSaltsIn(folder, failure);
    }
    // Stops listening and closes every connection after what is queued for it has gone.
    void shutdown();

    // A logger's serial port: a pty that a link at the path names. False, with the reason, when
    // it cannot be made.
    bool addLoggerPort(const QString& linkPath, QString* failure);
    // Loggers on plain TCP; false, with the reason, when the address cannot be listened on.
    bool listenForLoggers(const QHostAddress& address, quint16 port, QString* reason);

private:
    static constexpr int SecondMs = 1000;

    void accept();
    bool makeRoom();
    void retire(Client* client);
    void acceptLogger(QTcpServer& listener);
    void addLogger(std::unique_ptr<LoggerLink> link);
    void readLoggers();
    void newSecond();

    BoxSession& session_;
    ClientLimits limits_;
    MessageCodec codec_;
    QTcpServer server_;
    QTimer second_;
    std::vector<Client*> clients_;
    std::vector<std::unique_ptr<Logger>> loggers_;
    std::vector<std::unique_ptr<QTcpServer>> loggerListeners_;
    int loggerPorts_ = 0;
    int nextId_ = 1;
    bool loggersShare_ = false;
};
