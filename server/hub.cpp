// SPDX-License-Identifier: GPL-3.0-or-later
#include "hub.h"

#include "log.h"

#include <algorithm>

namespace {

void refuse(QTcpSocket* socket, const QString& what, const QString& refusal)
{
    serverlog::event(QString("%1 from %2 port %3 refused: %4")
                         .arg(what, plainAddress(socket->peerAddress()).toString())
                         .arg(socket->peerPort())
                         .arg(refusal));
    socket->abort();
    socket->deleteLater();
}

} // namespace

QHostAddress plainAddress(const QHostAddress& address)
{
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    if (address.protocol() == QAbstractSocket::IPv6Protocol && mapped)
        return QHostAddress(ipv4);
    return address;
}

bool isAllowed(const QList<QPair<QHostAddress, int>>& allow, const QHostAddress& client)
{
    if (allow.isEmpty())
        return true;
    const bool isIpv4 = client.protocol() == QAbstractSocket::IPv4Protocol;
    const QHostAddress mapped(client.toIPv6Address());
    for (const QPair<QHostAddress, int>& network : allow)
        if (client.isInSubnet(network) ||
            (isIpv4 && network.first.protocol() == QAbstractSocket::IPv6Protocol &&
             mapped.isInSubnet(network)))
            return true;
    return false;
}

Hub::Hub(BoxSession& session, QString key, const ClientLimits& limits)
    : session_(session), limits_(limits), codec_(std::move(key), limits.threads, limits.maxRate)
{
    session_.onReport = [this](const QByteArray& token, Output output) {
        codec_.send(token + '\r', "state report", 0, output);
    };
    session_.onRoom = [this] { readLoggers(); };
    QObject::connect(&server_, &QTcpServer::newConnection, [this] { accept(); });
    QObject::connect(&second_, &QTimer::timeout, [this] { newSecond(); });
    second_.start(SecondMs);
}

Hub::~Hub()
{
    shutdown();
    session_.onReport = nullptr;
    session_.onRoom = nullptr;
    for (Client* client : clients_)
        delete client;
    loggers_.clear();
}

bool Hub::listen(const QHostAddress& address, quint16 port, QString* reason)
{
    if (server_.listen(address, port))
        return true;
    *reason = server_.errorString();
    return false;
}

void Hub::shutdown()
{
    server_.close();
    for (const auto& listener : loggerListeners_)
        listener->close();
    second_.stop();
    for (Client* client : clients_)
        client->transport().close();
}

void Hub::accept()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        const QHostAddress peer = plainAddress(socket->peerAddress());
        QString refusal;
        const auto fromPeer = std::count_if(clients_.begin(), clients_.end(),
                                            [&](const Client* c) { return c->address() == peer; });
        if (!isAllowed(limits_.allow, peer))
            refusal = "its address is not in --allow";
        else if (limits_.maxPerAddress > 0 && fromPeer >= limits_.maxPerAddress)
            refusal = QString("%1 connections from that address already (--max-per-address)")
                          .arg(limits_.maxPerAddress);
        else if (clients_.size() >= std::size_t(limits_.maxClients) && !makeRoom())
            refusal = QString("%1 clients that have sent commands are connected already "
                              "(--max-clients)")
                          .arg(limits_.maxClients);
        if (!refusal.isEmpty()) {
            refuse(socket, "connection", refusal);
            continue;
        }
        const int id = nextId_++;
        serverlog::event(QString("client %1 connected from %2 port %3")
                             .arg(id)
                             .arg(peer.toString())
                             .arg(socket->peerPort()));
        auto* client = new Client(session_, codec_, id, socket, peer, limits_.loginTimeoutSeconds,
                                  loggersShare_);
        client->onGone = [this, client] { retire(client); };
        clients_.push_back(client);
    }
}

// A full server closes its oldest connection that has sent no command yet, if there is one:
// connections that have proven the key are never pushed out by one that has not.
bool Hub::makeRoom()
{
    const auto unproven =
        std::find_if(clients_.begin(), clients_.end(), [](const Client* c) { return !c->proven(); });
    if (unproven == clients_.end())
        return false;
    Client* oldest = *unproven;
    serverlog::event(QString("%1 has sent no command: disconnected to make room for a new "
                             "connection (--max-clients)")
                         .arg(oldest->name()));
    oldest->transport().abort();
    return true;
}

void Hub::retire(Client* client)
{
    const auto found = std::find(clients_.begin(), clients_.end(), client);
    if (found == clients_.end())
        return;
    clients_.erase(found);
    serverlog::event(QString("client %1 disconnected").arg(client->id()));
    client->deleteLater();
}

bool Hub::addLoggerPort(const QString& linkPath, QString* failure)
{
    std::unique_ptr<LoggerPort> port = LoggerPort::open(linkPath, failure);
    if (!port)
        return false;
    serverlog::event(QString("logger port %1 ready, a link to %2").arg(linkPath, port->device()));
    ++loggerPorts_;
    addLogger(std::move(port));
    return true;
}

bool Hub::listenForLoggers(const QHostAddress& address, quint16 port, QString* reason)
{
    auto listener = std::make_unique<QTcpServer>();
    if (!listener->listen(address, port)) {
        *reason = listener->errorString();
        return false;
    }
    QTcpServer* raw = listener.get();
    QObject::connect(raw, &QTcpServer::newConnection, [this, raw] { acceptLogger(*raw); });
    serverlog::event(QString("loggers on plain TCP at %1 port %2")
                         .arg(address.toString())
                         .arg(listener->serverPort()));
    loggerListeners_.push_back(std::move(listener));
    loggersShare_ = true;
    return true;
}

void Hub::acceptLogger(QTcpServer& listener)
{
    while (QTcpSocket* socket = listener.nextPendingConnection()) {
        const QHostAddress peer = plainAddress(socket->peerAddress());
        QString refusal;
        if (!isAllowed(limits_.allow, peer))
            refusal = "its address is not in --allow";
        else if (loggers_.size() >= std::size_t(loggerPorts_) + std::size_t(limits_.maxClients))
            refusal =
                QString("%1 loggers are connected already (--max-clients)").arg(limits_.maxClients);
        if (!refusal.isEmpty()) {
            refuse(socket, "logger connection", refusal);
            continue;
        }
        auto link = std::make_unique<LoggerSocket>(socket);
        link->name = QString("logger %1 (%2)").arg(nextId_).arg(peer.toString());
        serverlog::event(QString("logger %1 connected from %2 port %3")
                             .arg(nextId_++)
                             .arg(peer.toString())
                             .arg(socket->peerPort()));
        addLogger(std::move(link));
    }
}

void Hub::addLogger(std::unique_ptr<LoggerLink> link)
{
    auto logger = std::make_unique<Logger>(session_, std::move(link));
    Logger* raw = logger.get();
    // Not inside the link's own signal: it goes on the event loop's next turn.
    logger->onGone = [this, raw] {
        QTimer::singleShot(0, &second_, [this, raw] {
            std::erase_if(loggers_, [&](const auto& l) { return l.get() == raw; });
        });
    };
    loggers_.push_back(std::move(logger));
    loggersShare_ = true;
}

void Hub::readLoggers()
{
    for (const auto& logger : loggers_)
        logger->read();
}

void Hub::newSecond()
{
    codec_.newSecond();
    for (Client* client : clients_)
        client->newSecond();
    for (const auto& logger : loggers_)
        logger->newSecond();
}
