// SPDX-License-Identifier: GPL-3.0-or-later
#include "hub.h"

#include "log.h"
#include "message_transport.h"
#include "tls_transport.h"

#include <algorithm>

namespace {

// Closes the connection; the log says why, unless that is empty.
void refuse(QTcpSocket* socket, const QString& what, const QString& refusal)
{
    if (!refusal.isEmpty())
        serverlog::event(QString("%1 from %2 port %3 refused: %4")
                             .arg(what, plainAddress(socket->peerAddress()).toString())
                             .arg(socket->peerPort())
                             .arg(refusal));
    socket->abort();
    socket->deleteLater();
}

std::unique_ptr<Transports> transportsFor(QString key, const ClientLimits& limits, bool tls)
{
    if (tls)
        return std::make_unique<TlsTransports>(key);
    return std::make_unique<MessageCodec>(std::move(key), limits.threads, limits.maxRate);
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

Hub::Hub(BoxSession& session, QString key, const ClientLimits& limits, bool tls)
    : session_(session), limits_(limits), transports_(transportsFor(std::move(key), limits, tls))
{
    session_.onReport = [this](const QByteArray& token, Output output) {
        transports_->report(token + '\r', output);
    };
    session_.onRoom = [this] {
        readLoggers();
        transports_->sessionHasRoom();
    };
    // One taken from the kernel at a time: the rest wait in its backlog while the server is full.
    server_.setMaxPendingConnections(1);
    QObject::connect(&server_, &QTcpServer::pendingConnectionAvailable, [this] { accept(); });
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
    bandFollowers_.clear();
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
    for (Client* client : std::vector<Client*>(clients_))
        client->transport().close();
}

// While the server is full, connections wait in the kernel's backlog: taken one at a time, and
// none is taken (accepted and dropped) while there is no place for it.
void Hub::accept()
{
    while (server_.hasPendingConnections()) {
        if (clients_.size() >= std::size_t(limits_.maxClients) && !makeRoom()) {
            server_.pauseAccepting(); // taken again when a place is free
            return;
        }
        QTcpSocket* socket = server_.nextPendingConnection();
        const QHostAddress peer = plainAddress(socket->peerAddress());
        bool quiet = false;
        if (const QString refusal = refusalFor(peer, &quiet); !refusal.isEmpty()) {
            refuse(socket, "connection", quiet ? QString() : refusal);
            continue;
        }
        const int id = nextId_++;
        serverlog::event(QString("client %1 connected from %2 port %3")
                             .arg(id)
                             .arg(peer.toString())
                             .arg(socket->peerPort()));
        auto* client = new Client(session_, *transports_, id, socket, peer,
                                  limits_.loginTimeoutSeconds, loggersShare_);
        client->onGone = [this, client] { retire(client); };
        client->onProven = [this, peer] { provenAddresses_.insert(peer); };
        client->onStruckOut = [this, peer] { holdOff(peer); };
        clients_.push_back(client);
    }
}

// Why a connection from the address is refused; empty when it is let in. *quiet: not worth a
// line of the log (a held-off address is logged once a hold-off).
QString Hub::refusalFor(const QHostAddress& peer, bool* quiet)
{
    if (!isAllowed(limits_.allow, peer))
        return "its address is not in --allow";
    const auto fromPeer = std::count_if(clients_.begin(), clients_.end(),
                                        [&](const Client* c) { return c->address() == peer; });
    if (limits_.maxPerAddress > 0 && fromPeer >= limits_.maxPerAddress)
        return QString("%1 connections from that address already (--max-per-address)")
            .arg(limits_.maxPerAddress);
    if (provenAddresses_.contains(peer))
        return {};
    if (const auto held = holdOffs_.find(peer);
        held != holdOffs_.end() && held->since.elapsed() < qint64(held->seconds) * 1000) {
        *quiet = std::exchange(held->told, true);
        return QString("its address is held off for %1 s after it sent what no operator sends")
            .arg(held->seconds);
    }
    // A place is kept for each operator's address that has no connection now.
    const auto absent = std::count_if(
        provenAddresses_.begin(), provenAddresses_.end(), [&](const QHostAddress& address) {
            return std::none_of(clients_.begin(), clients_.end(),
                                [&](const Client* c) { return c->address() == address; });
        });
    if (clients_.size() + std::size_t(absent) >= std::size_t(limits_.maxClients))
        return QString("the places left are kept for the operators' addresses (--max-clients)");
    return {};
}

// A full server closes a connection that has neither proven the key nor anything on its way, if
// there is one: an operator's connection is never pushed out by one that has not proven the key.
// It is taken from the address that holds the most connections, the oldest of them: a stranger
// who opens connections without end pushes out its own, not a new operator's whose first command
// is still on its way.
bool Hub::makeRoom()
{
    Client* chosen = nullptr;
    qsizetype most = 0;
    for (Client* client : clients_) {
        if (client->proven() || client->transport().busy())
            continue;
        const qsizetype fromThere = std::count_if(
            clients_.begin(), clients_.end(),
            [&](const Client* other) { return other->address() == client->address(); });
        if (fromThere > most) {
            chosen = client;
            most = fromThere;
        }
    }
    if (!chosen)
        return false;
    serverlog::event(QString("%1 has sent no command: disconnected to make room for a new "
                             "connection (--max-clients)")
                         .arg(chosen->name()));
    chosen->transport().abort();
    return true;
}

void Hub::holdOff(const QHostAddress& address)
{
    if (provenAddresses_.contains(address))
        return;
    HoldOff& held = holdOffs_[address];
    held.seconds = std::clamp(held.seconds * 2, FirstHoldOffSeconds, LongestHoldOffSeconds);
    held.since.start();
    held.told = false;
    serverlog::event(QString("connections from %1 refused for %2 s")
                         .arg(address.toString())
                         .arg(held.seconds));
}

void Hub::retire(Client* client)
{
    const auto found = std::find(clients_.begin(), clients_.end(), client);
    if (found == clients_.end())
        return;
    clients_.erase(found);
    serverlog::event(QString("client %1 disconnected").arg(client->id()));
    client->deleteLater();
    // A place is free: the connections that wait in the backlog are taken again.
    if (server_.isListening()) {
        server_.resumeAccepting();
        QTimer::singleShot(0, &second_, [this] { accept(); });
    }
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
        // --allow names the network's clients; a logger on this computer is always let in.
        if (!peer.isLoopback() && !isAllowed(limits_.allow, peer))
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

void Hub::followBand(int radio, const BandTable& table, const QString& host, quint16 port,
                     int pollMs)
{
    bandFollowers_.push_back(
        std::make_unique<BandFollow>(session_, radio, table, host, port, pollMs));
}

void Hub::readLoggers()
{
    for (const auto& logger : loggers_)
        logger->read();
}

void Hub::newSecond()
{
    transports_->newSecond();
    for (Client* client : clients_)
        client->newSecond();
    for (const auto& logger : loggers_)
        logger->newSecond();
    for (const auto& follower : bandFollowers_)
        follower->newSecond();
}
