// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where sources come in: Zephrin windows on the server's TCP port, loggers on their ptys and on
// plain TCP. The hub lets them in within the limits, hands each one the box session, has the
// windows' transports send the session's state reports to every window that listens, and lets
// them go.

#include "band_follow.h"
#include "box_session.h"
#include "client_limits.h"
#include "client.h"
#include "logger.h"
#include "transport.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QTcpServer>
#include <QTimer>
#include <memory>
#include <vector>

class Hub {
public:
    // tls: the windows' port speaks TLS with the key's pre-shared key instead of the messages.
    Hub(BoxSession& session, QString key, const ClientLimits& limits, bool tls = false);
    ~Hub();
    Hub(const Hub&) = delete;
    Hub& operator=(const Hub&) = delete;

    // False, with the reason, when the address cannot be listened on.
    bool listen(const QHostAddress& address, quint16 port, QString* reason);
    quint16 port() const { return server_.serverPort(); }
    void setKey(const QString& key) { transports_->setKey(key); }
    bool keepSaltsIn(const QString& folder, QString* failure)
    {
        return transports_->keepSaltsIn(folder, failure);
    }
    // Stops listening and closes every connection after what is queued for it has gone.
    void shutdown();

    // A logger's serial port: a pty that a link at the path names. False, with the reason, when
    // it cannot be made.
    bool addLoggerPort(const QString& linkPath, QString* failure);
    // Loggers on plain TCP; false, with the reason, when the address cannot be listened on.
    bool listenForLoggers(const QHostAddress& address, quint16 port, QString* reason);
    // The radio's aux output follows the band of the radio that rigctld at host:port reports.
    void followBand(int radio, const BandTable& table, const QString& host, quint16 port,
                    int pollMs);

private:
    static constexpr int SecondMs = 1000;

    // An address whose connections sent what no operator sends is not let in for a while,
    // doubling each time.
    struct HoldOff {
        QElapsedTimer since;
        int seconds = 0;
        bool told = false; // a refused connection was logged in this hold-off
    };
    static constexpr int FirstHoldOffSeconds = 1;
    static constexpr int LongestHoldOffSeconds = 60;

    void accept();
    QString refusalFor(const QHostAddress& peer, bool* quiet);
    bool makeRoom();
    void holdOff(const QHostAddress& address);
    void retire(Client* client);
    void acceptLogger(QTcpServer& listener);
    void addLogger(std::unique_ptr<LoggerLink> link);
    void readLoggers();
    void newSecond();

    BoxSession& session_;
    ClientLimits limits_;
    std::unique_ptr<Transports> transports_;
    std::unique_ptr<QTcpServer> listener_{transports_->makeListener()};
    QTcpServer& server_{*listener_};
    QTimer second_;
    std::vector<Client*> clients_;
    // Addresses from which an operator has proven the key in this run: never held off, and a
    // place kept for each.
    QSet<QHostAddress> provenAddresses_;
    QHash<QHostAddress, HoldOff> holdOffs_;
    std::vector<std::unique_ptr<Logger>> loggers_;
    std::vector<std::unique_ptr<QTcpServer>> loggerListeners_;
    std::vector<std::unique_ptr<BandFollow>> bandFollowers_;
    int loggerPorts_ = 0;
    int nextId_ = 1;
    bool loggersShare_ = false;
};
