// SPDX-License-Identifier: GPL-3.0-or-later
#include "relay.h"

#include "boxprotocol/command_set.h"
#include "cipher/cipher_error.h"
#include "cipher/encrypted_text.h"
#include "log.h"

#include <algorithm>
#include <poll.h>
#include <vector>

using serverlog::shown;

namespace {

// Commands and typed keys are printable ASCII, carriage return or backspace. Anything else is
// what a message under another key decrypts to.
bool isPlainText(const QString& text)
{
    for (const QChar c : text)
        if (c != '\r' && c != '\b' && (c.unicode() < 0x20 || c.unicode() > 0x7E))
            return false;
    return true;
}

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

Relay::Relay(BoxLink& box, QString key, const ClientLimits& limits,
             std::vector<Protocol> commandSets)
    : box_(box), key_(std::move(key)), limits_(limits),
      intake_(
          limits.threads,
          [this](std::function<void()> job, std::function<void()> done) {
              decryptRunner_.run(std::move(job), std::move(done));
          },
          [this](const QByteArray& message) {
              return DecryptText(QString::fromLatin1(message), this->key());
          },
          [this](int clientId, const QByteArray& message, const QString& text,
                 const QString& failure) { applyDecrypted(clientId, message, text, failure); }),
      reportKeys_([this](std::function<void()> job, std::function<void()> done) {
          keyRunner_.runLater(KeyPool::RefillDelayMs, std::move(job), std::move(done));
      })
{
    commandSets_ = std::move(commandSets);
    reportKeys_.onReady = [this] { sendReports(); };
    reportKeys_.prepare(key_);
    QObject::connect(&server_, &QTcpServer::newConnection, [this] { accept(); });
    box_.onAnswer = [this](const QByteArray& burst) { takeAnswer(burst); };
    answerQuiet_.setSingleShot(true);
    answerQuiet_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&answerQuiet_, &QTimer::timeout, [this] { answered(); });
    intake_.admit = [this](int clientId, const QByteArray& message) {
        return admit(clientId, message);
    };
    intake_.onProgress = [this] { readAll(); };
    QObject::connect(&rateWindow_, &QTimer::timeout, [this] { newSecond(); });
    rateWindow_.start(RateWindowMs);
}

Relay::~Relay()
{
    shutdown();
    for (auto& [id, client] : clients_)
        delete client;
}

QString Relay::key() const
{
    const std::lock_guard lock(keyMutex_);
    return key_;
}

void Relay::setKey(const QString& key)
{
    {
        const std::lock_guard lock(keyMutex_);
        key_ = key;
    }
    reportKeys_.prepare(key);
}

bool Relay::keepSaltsIn(const QString& folder, QString* failure)
{
    return saltFile_.open(folder, acceptedSalts_, failure);
}

bool Relay::listen(const QHostAddress& address, quint16 port, QString* reason)
{
    if (server_.listen(address, port))
        return true;
    *reason = server_.errorString();
    return false;
}

void Relay::shutdown()
{
    server_.close();
    for (const auto& listener : loggerListeners_)
        listener->close();
    rateWindow_.stop();
    std::vector<Client*> open;
    for (auto& [id, client] : clients_)
        open.push_back(client);
    for (Client* client : open) {
        client->closing = true;
        client->socket->flush();
        client->socket->disconnectFromHost();
    }
}

void Relay::accept()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        const QHostAddress peer = plainAddress(socket->peerAddress());
        QString refusal;
        const auto fromPeer = std::count_if(clients_.begin(), clients_.end(), [&](const auto& c) {
            return c.second->address == peer;
        });
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
        auto* client = new Client;
        client->id = nextClientId_++;
        client->name = QString("client %1 (%2)").arg(client->id).arg(peer.toString());
        client->socket = socket;
        client->address = peer;
        socket->setParent(client);
        client->login.setSingleShot(true);
        QObject::connect(&client->login, &QTimer::timeout, client, [this, client] {
            serverlog::event(QString("%1 sent no command in %2 s: disconnected (--login-timeout)")
                                 .arg(client->name)
                                 .arg(limits_.loginTimeoutSeconds));
            client->socket->abort();
            drop(*client);
        });
        client->login.start(limits_.loginTimeoutSeconds * 1000);
        client->connected.start();
        // Qt reads no further ahead than this, so a client that is not read is held back by
        // TCP; the stream and the intake hold the rest to their own bounds.
        socket->setReadBufferSize(MessageStream::MaxUnfinishedBytes);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        client->tailQuiet.setSingleShot(true);
        client->tailQuiet.setTimerType(Qt::PreciseTimer);
        QObject::connect(socket, &QTcpSocket::readyRead, client,
                         [this, client] { readFrom(*client); });
        QObject::connect(socket, &QTcpSocket::disconnected, client,
                         [this, client] { hungUp(*client); });
        QObject::connect(&client->tailQuiet, &QTimer::timeout, client, [this, client] {
            const QByteArray tail = client->incoming.takeTail();
            if (!tail.isEmpty())
                takeMessage(*client, tail);
            intake_.pump();
        });
        clients_[client->id] = client;
        serverlog::event(QString("client %1 connected from %2 port %3")
                             .arg(client->id)
                             .arg(peer.toString())
                             .arg(socket->peerPort()));
    }
}

// A full server closes its oldest connection that has sent no command yet, if there is one:
// connections that have proven the key are never pushed out by one that has not.
bool Relay::makeRoom()
{
    const auto unproven = std::find_if(clients_.begin(), clients_.end(), [](const auto& entry) {
        return !entry.second->proven && !entry.second->gone;
    });
    if (unproven == clients_.end())
        return false;
    Client* oldest = unproven->second; // its entry goes with it
    serverlog::event(QString("%1 has sent no command: disconnected to make room for a new "
                             "connection (--max-clients)")
                         .arg(oldest->name));
    oldest->socket->abort();
    drop(*oldest);
    return true;
}

void Relay::hungUp(Client& client)
{
    if (client.closing) {
        drop(client);
        return;
    }
    if (std::exchange(client.hungUp, true))
        return;
    // What it sent before it hung up is carried out, a few whole messages at most (a client may
    // send one command and close at once); the rest is dropped, so that a client that floods and
    // leaves does not keep the server busy after it has gone.
    if (!client.incoming.append(client.socket->readAll()))
        client.incoming.clear();
    while (client.incoming.hasComplete())
        takeMessage(client, client.incoming.takeNext());
    const QByteArray tail = client.incoming.takeTail();
    if (!tail.isEmpty())
        takeMessage(client, tail);
    if (const qsizetype dropped = intake_.keepFirst(client.id, MaxMessagesAfterHangUp))
        serverlog::event(
            QString("%1 hung up: %2 of its messages dropped unread").arg(client.name).arg(dropped));
    client.tailQuiet.stop();
    intake_.pump();
    retireIfDone(client);
}

void Relay::retireIfDone(Client& client)
{
    if (!client.gone && client.hungUp && client.inFlight == 0 && intake_.isEmpty(client.id) &&
        client.socket->bytesAvailable() == 0)
        drop(client);
}

void Relay::drop(Client& client)
{
    if (client.gone)
        return;
    client.gone = true;
    intake_.forget(client.id);
    clients_.erase(client.id);
    serverlog::event(QString("client %1 disconnected").arg(client.id));
    client.deleteLater();
}

void Relay::readFrom(Client& client)
{
    if (client.gone || client.hungUp)
        return;
    if (client.closing) {
        client.socket->readAll(); // what comes after the close is not carried out
        return;
    }
    if ((client.throttled || !intake_.hasRoom(client.id)) && peerHasHungUp(client))
        return hungUp(client);
    bool readSome = false;
    while (!client.throttled && intake_.hasRoom(client.id) && client.socket->bytesAvailable() > 0) {
        readSome = true;
        if (!client.incoming.append(client.socket->read(ReadChunkBytes))) {
            serverlog::event(QString("%1 sent more than %2 bytes of unfinished text, no whole "
                                     "message: disconnected")
                                 .arg(client.name)
                                 .arg(MessageStream::MaxUnfinishedBytes));
            client.socket->abort();
            drop(client);
            return;
        }
        if (const qsizetype dropped = client.incoming.takeDroppedCount())
            clientEvent(client, QString("%1: %2 bytes before a message prefix dropped")
                                    .arg(client.name)
                                    .arg(dropped));
        while (client.incoming.hasComplete())
            takeMessage(client, client.incoming.takeNext());
    }
    // The quiet that makes an unpadded last message whole is the client's own: other clients'
    // reads leave its timer alone.
    if (readSome) {
        if (client.socket->bytesAvailable() == 0 && client.incoming.tailMayBeComplete())
            client.tailQuiet.start(MessageStream::TailQuietMs);
        else
            client.tailQuiet.stop();
    }
    intake_.pump();
    retireIfDone(client);
}

void Relay::readAll()
{
    std::vector<Client*> open;
    for (auto& [id, client] : clients_)
        open.push_back(client);
    for (Client* client : open)
        readFrom(*client);
    std::vector<int> loggers;
    for (const auto& [id, logger] : loggers_)
        loggers.push_back(id);
    for (const int id : loggers)
        readLogger(id);
}

void Relay::takeMessage(Client& client, const QByteArray& message)
{
    if (!isWellFormedMessage(message)) {
        clientEvent(client, QString("%1: %2 characters that are no encrypted text dropped")
                                .arg(client.name)
                                .arg(message.size()));
        return;
    }
    if (message.size() > MaxMessageCharacters) {
        clientEvent(client, QString("%1: a message of %2 characters, longer than any command line, "
                                    "dropped")
                                .arg(client.name)
                                .arg(message.size()));
        return;
    }
    // openssl enc -d refuses a header that is not "Salted__"; and a header with no text after it
    // carries no command, yet its salt would take a place in the memory of salts.
    const qsizetype textBytes = message.size() / 4 * 3 - message.count('=') - HeaderBytes;
    if (!QByteArray::fromBase64(message.left(12)).startsWith("Salted__") || textBytes <= 0) {
        clientEvent(client, QString("%1: a message %2 dropped")
                                .arg(client.name,
                                     textBytes <= 0 ? "without text" : "with a damaged header"));
        return;
    }
    intake_.enqueue(client.id, message);
}

Intake::Admission Relay::admit(int clientId, const QByteArray& message)
{
    // A logger's plain text costs no key derivation and carries no salt; its rate is counted.
    const auto found = clients_.find(clientId);
    const bool plain = found == clients_.end();
    Source* from = source(clientId);
    if (!from || (!plain && found->second->closing))
        return Intake::Admission::Drop;
    Source& client = *from;
    const quint64 salt = plain ? 0 : saltOf(message);
    if (!plain && (acceptedSalts_.contains(salt) || saltsInFlight_.contains(salt))) {
        clientEvent(client, QString("%1: a message sent before was sent again (its salt was seen "
                                    "before): a replay, dropped and not sent to the box")
                                .arg(client.name));
        return Intake::Admission::Drop;
    }
    if (client.decryptionsThisSecond >= limits_.maxRate) {
        if (!client.throttled && !client.throttledBefore)
            serverlog::event(QString("%1 sends more than %2 messages a second: throttled, "
                                     "not read until the next second (--max-rate)")
                                 .arg(client.name)
                                 .arg(limits_.maxRate));
        client.throttled = true;
        return Intake::Admission::Hold;
    }
    ++client.decryptionsThisSecond;
    ++client.inFlight;
    if (!plain)
        saltsInFlight_.insert(salt);
    return Intake::Admission::Start;
}

// A client that sends junk fast could fill the log: past MaxClientLinesPerSecond its lines are
// counted, and said in one line at the next second.
void Relay::clientEvent(Source& client, const QString& line)
{
    if (client.linesThisSecond++ < MaxClientLinesPerSecond)
        serverlog::event(line);
}

// A client that is not read (throttled, or its queue full) would not be seen to hang up until
// its backlog had been read and decrypted: the socket says so at once, whatever it still holds.
bool Relay::peerHasHungUp(const Client& client)
{
    pollfd socket{int(client.socket->socketDescriptor()), POLLRDHUP, 0};
    return ::poll(&socket, 1, 0) > 0 && (socket.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

void Relay::newSecond()
{
    std::vector<Client*> gone;
    for (auto& [id, client] : clients_)
        if (!client->hungUp && !client->closing && peerHasHungUp(*client))
            gone.push_back(client);
    for (Client* client : gone)
        hungUp(*client);
    for (Source* client : sources()) {
        if (client->linesThisSecond > MaxClientLinesPerSecond)
            serverlog::event(QString("%1: ... %2 more lines like these in the last second")
                                 .arg(client->name)
                                 .arg(client->linesThisSecond - MaxClientLinesPerSecond));
        client->linesThisSecond = 0;
        client->throttledBefore = client->throttled;
        client->throttled = false;
        client->decryptionsThisSecond = 0;
    }
    readAll();
}

void Relay::applyDecrypted(int clientId, const QByteArray& message, const QString& text,
                           const QString& failure)
{
    if (const auto logger = loggers_.find(clientId); logger != loggers_.end()) {
        --logger->second->inFlight;
        takeText(*logger->second, text);
        retireLoggerIfDone(clientId);
        return;
    }
    const quint64 salt = saltOf(message);
    saltsInFlight_.erase(salt);
    const auto found = clients_.find(clientId);
    if (found == clients_.end())
        return;
    Client& client = *found->second;
    --client.inFlight;
    if (client.closing)
        return;
    if (!failure.isEmpty()) {
        clientEvent(client, QString("%1: message not decrypted: %2").arg(client.name, failure));
    } else if (!isPlainText(text)) {
        client.spoken = true;
        clientEvent(client, QString("%1: message is no plain text, the client's key probably "
                                    "differs from this server's; not sent to the box")
                                .arg(client.name));
    } else {
        client.spoken = true;
        acceptedSalts_.remember(salt);
        saltFile_.append(salt); // before its command goes to the box
        clientEvent(
            client,
            QString("%1: text received \"%2\"").arg(client.name).arg(shown(text.toLatin1())));
        takeText(client, text);
    }
    retireIfDone(client);
}

// Typed keys and commands alike join the client's line; a backspace takes back its last
// character. A carriage return ends the line: a command of the box's sets goes to the box whole,
// anything else is dropped.
void Relay::takeText(Source& client, const QString& text)
{
    for (const QChar c : text) {
        if (c == '\r') {
            takeLine(client);
        } else if (c == '\b') {
            client.line.chop(1);
        } else if (c != '\n') {
            if (client.line.size() < MaxCommandBytes)
                client.line += char(c.unicode());
            else
                client.lineTooLong = true;
        }
    }
}

void Relay::takeLine(Source& client)
{
    const QByteArray line = std::exchange(client.line, {});
    const bool tooLong = std::exchange(client.lineTooLong, false);
    const bool isCommand =
        !tooLong && std::any_of(commandSets_.begin(), commandSets_.end(),
                                [&](Protocol set) { return isCommandLine(set, line); });
    if (isCommand) {
        if (const auto found = clients_.find(client.id); found != clients_.end()) {
            found->second->proven = true;
            found->second->login.stop();
        }
        if (!withholdOpening(client, line))
            toBox(client, line);
        return;
    }
    ++client.refusedSince;
    if (client.lastRefusal.isValid() && client.lastRefusal.elapsed() < RefusalLogMs)
        return;
    serverlog::event(QString("%1: \"%2\" is no command of the box%3; not sent to the box")
                         .arg(client.name, shown(line + (tooLong ? "..." : "")))
                         .arg(client.refusedSince > 1
                                  ? QString(" (%1 lines refused since the last one logged)")
                                        .arg(client.refusedSince - 1)
                                  : QString()));
    client.refusedSince = 0;
    client.lastRefusal.start();
}

Relay::Source* Relay::source(int id)
{
    if (const auto client = clients_.find(id); client != clients_.end())
        return client->second;
    if (const auto logger = loggers_.find(id); logger != loggers_.end())
        return logger->second.get();
    return nullptr;
}

std::vector<Relay::Source*> Relay::sources()
{
    std::vector<Source*> all;
    for (const auto& [id, client] : clients_)
        all.push_back(client);
    for (const auto& [id, logger] : loggers_)
        all.push_back(logger.get());
    return all;
}

// A window that connects switches both radios' aux outputs off as it opens. Beside a logger that
// may be transmitting, switching an antenna or a filter then could damage the station: in the
// client's first second those commands stay here, and the client is told the box's state instead.
bool Relay::withholdOpening(Source& from, const QByteArray& line)
{
    const auto client = clients_.find(from.id);
    if (!loggersShare_ || client == clients_.end() ||
        client->second->connected.elapsed() >= OpeningGraceMs)
        return false;
    const auto change = readToken(line);
    if (!change || change->focus || change->output != 0)
        return false;
    serverlog::event(QString("%1: \"%2\" in its first second kept from the box, as a logger shares "
                             "it; the box's state is reported to it instead")
                         .arg(from.name, shown(line)));
    if (!std::exchange(client->second->toldState, true))
        for (const QByteArray& token : known_)
            if (!token.isEmpty())
                report(token + '\r', "state report", from.id);
    return true;
}

void Relay::toBox(Source& from, const QByteArray& line)
{
    if (toBox_.size() >= MaxWaitingLines) {
        clientEvent(from, QString("%1: \"%2\" dropped: %3 lines wait for the box to answer")
                              .arg(from.name, shown(line))
                              .arg(MaxWaitingLines));
        return;
    }
    toBox_.push_back({from.id, line});
    feedBox();
}

// Lines go to the box in the order taken until one is a query; the rest wait for its answer.
void Relay::feedBox()
{
    while (!query_ && !toBox_.empty()) {
        const BoxLine next = std::move(toBox_.front());
        toBox_.pop_front();
        const Source* from = source(next.source);
        const QString by = from ? " from " + from->name : QString();
        const QByteArray text = next.line + '\r';
        if (!box_.write(text)) {
            serverlog::event(QString("box is gone: \"%1\" not sent%2").arg(shown(text), by));
            continue;
        }
        serverlog::event(QString("to the box: \"%1\"%2").arg(shown(text), by));
        if (isQueryLine(next.line)) {
            query_ = OpenQuery{next.source, {}};
            answerQuiet_.start(AnswerQuietMs);
        } else if (const auto token = windowToken(next.line)) {
            known_[std::size_t(stateOf(*token + '\r') - 1)] = *token;
            report(*token + '\r', "state report");
        }
    }
}

// What the box sends answers the open query, up to its carriage return; what comes after it, or
// with no query open, is nobody's answer and dropped.
void Relay::takeAnswer(const QByteArray& burst)
{
    if (!query_) {
        serverlog::event(QString("box said \"%1\" unasked: dropped").arg(shown(burst)));
        return;
    }
    const qsizetype end = burst.indexOf('\r');
    query_->answer += end < 0 ? burst : burst.left(end + 1);
    if (end >= 0 && end + 1 < burst.size())
        serverlog::event(
            QString("box said \"%1\" after its answer: dropped").arg(shown(burst.mid(end + 1))));
    if (end < 0 && query_->answer.size() < MaxAnswerBytes)
        answerQuiet_.start(AnswerQuietMs);
    else
        answered();
}

void Relay::answered()
{
    answerQuiet_.stop();
    if (!query_)
        return;
    const OpenQuery done = std::move(*query_);
    query_.reset();
    if (done.answer.isEmpty())
        serverlog::event(QString("box gave no answer in %1 ms").arg(AnswerQuietMs));
    else
        deliver(done.source, done.answer);
    feedBox();
}

void Relay::deliver(int sourceId, const QByteArray& answer)
{
    QByteArray said = answer;
    said.chop(said.endsWith('\r') ? 1 : 0);
    if (const auto token = windowToken(said))
        known_[std::size_t(stateOf(*token + '\r') - 1)] = *token;
    if (const auto logger = loggers_.find(sourceId); logger != loggers_.end()) {
        const bool delivered = !logger->second->gone && logger->second->link->write(answer);
        clientEvent(*logger->second,
                    QString("answer \"%1\" %2 %3")
                        .arg(shown(answer), delivered ? "sent to" : "dropped, nobody reads",
                             logger->second->name));
    } else if (clients_.contains(sourceId)) {
        report(answer, "box answer", sourceId);
    } else {
        serverlog::event(
            QString("box answer \"%1\" dropped: its asker has gone").arg(shown(answer)));
    }
}

bool Relay::addLoggerPort(const QString& linkPath, QString* failure)
{
    std::unique_ptr<LoggerPort> port = LoggerPort::open(linkPath, failure);
    if (!port)
        return false;
    serverlog::event(QString("logger port %1 ready, a link to %2").arg(linkPath, port->device()));
    ++loggerPorts_;
    addLogger(std::move(port));
    return true;
}

bool Relay::listenForLoggers(const QHostAddress& address, quint16 port, QString* reason)
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

void Relay::acceptLogger(QTcpServer& listener)
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
        link->name = QString("logger %1 (%2)").arg(nextClientId_).arg(peer.toString());
        serverlog::event(QString("logger %1 connected from %2 port %3")
                             .arg(nextClientId_)
                             .arg(peer.toString())
                             .arg(socket->peerPort()));
        addLogger(std::move(link));
    }
}

void Relay::addLogger(std::unique_ptr<LoggerLink> link)
{
    auto logger = std::make_unique<Logger>();
    const int id = nextClientId_++;
    logger->id = id;
    logger->name = link->name;
    link->onReadable = [this, id] { readLogger(id); };
    link->onGone = [this, id] { loggerGone(id); };
    link->onEvent = [this, id](const QString& line) {
        if (Source* from = source(id))
            clientEvent(*from, line);
    };
    logger->link = std::move(link);
    loggers_[id] = std::move(logger);
    loggersShare_ = true;
    readLogger(id);
}

// A logger's bytes join the intake as they come, in pieces of a read, taken in turn with every
// client's messages; while its queue is full or it is throttled, it is not read.
void Relay::readLogger(int id)
{
    const auto found = loggers_.find(id);
    if (found == loggers_.end())
        return;
    Logger& logger = *found->second;
    while (!logger.gone && !logger.throttled && intake_.hasRoom(id)) {
        const QByteArray bytes = logger.link->read(ReadChunkBytes);
        if (bytes.isEmpty())
            break;
        intake_.enqueuePlain(id, bytes);
    }
    logger.link->setReading(!logger.gone && !logger.throttled && intake_.hasRoom(id));
    intake_.pump();
}

void Relay::loggerGone(int id)
{
    const auto found = loggers_.find(id);
    if (found == loggers_.end() || found->second->gone)
        return;
    readLogger(id); // what it sent before it hung up is still carried out, as far as it fits
    found->second->gone = true;
    serverlog::event(found->second->name + " disconnected");
    // Not inside the link's own signal: it goes on the event loop's next turn.
    QTimer::singleShot(0, &rateWindow_, [this, id] { retireLoggerIfDone(id); });
}

void Relay::retireLoggerIfDone(int id)
{
    const auto found = loggers_.find(id);
    if (found != loggers_.end() && found->second->gone && found->second->inFlight == 0 &&
        intake_.isEmpty(id)) {
        intake_.forget(id);
        loggers_.erase(found);
    }
}

std::vector<Relay::Client*> Relay::listeners() const
{
    std::vector<Client*> listening;
    for (const auto& [id, client] : clients_)
        if (client->spoken && !client->closing && !client->hungUp)
            listening.push_back(client);
    return listening;
}

// Reports wait for a key derived ahead: no derivation runs on the event loop. While they wait, a
// newer report of the same state (the transmit focus, the receive focus, a radio's aux) takes
// the place of the older one; the box's answers wait in order, the oldest dropped past a bound.
void Relay::report(const QByteArray& text, const QString& what, int to)
{
    if (listeners().empty()) {
        serverlog::event(QString("%1 \"%2\": no client to send it to").arg(what, shown(text)));
        return;
    }
    // One client's reports are each of their own.
    const int state = to ? 0 : stateOf(text);
    const auto same =
        std::find_if(waitingReports_.begin(), waitingReports_.end(),
                     [&](const WaitingReport& r) { return state && r.state == state; });
    if (same != waitingReports_.end()) {
        same->text = text;
    } else {
        waitingReports_.push_back({state, text, what, to});
        if (waitingReports_.size() > MaxWaitingReports) {
            serverlog::event(
                QString("%1 \"%2\" dropped: more than %3 reports wait for keys")
                    .arg(waitingReports_.front().what, shown(waitingReports_.front().text))
                    .arg(MaxWaitingReports));
            waitingReports_.pop_front();
        }
    }
    sendReports();
}

int Relay::stateOf(const QByteArray& report)
{
    QByteArray token = report;
    token.chop(1); // its carriage return
    const auto change = readToken(token);
    if (!change)
        return 0;
    if (!change->focus)
        return 2 + change->radio; // 3 or 4: a radio's aux
    const bool transmit =
        *change->focus == FocusAction::TxFocus1 || *change->focus == FocusAction::TxFocus2;
    return transmit ? 1 : 2;
}

void Relay::sendReports()
{
    while (!waitingReports_.empty()) {
        const WaitingReport& next = waitingReports_.front();
        std::optional<QString> encrypted;
        try {
            encrypted = reportKeys_.encryptWithReadyKey(QString::fromLatin1(next.text), key());
        } catch (const CipherError& error) {
            serverlog::event(QString("%1 \"%2\" not encrypted, not sent: %3")
                                 .arg(next.what, shown(next.text), error.description()));
            waitingReports_.pop_front();
            continue;
        }
        if (!encrypted)
            return; // again when a key is ready
        const WaitingReport sent = std::move(waitingReports_.front());
        waitingReports_.pop_front();
        std::vector<Client*> listening = listeners();
        if (sent.to)
            std::erase_if(listening, [&](const Client* client) { return client->id != sent.to; });
        const QByteArray message = encrypted->toLatin1();
        for (Client* client : listening) {
            client->socket->write(message);
            if (client->socket->bytesToWrite() > MaxUnsentBytes) {
                serverlog::event(QString("%1 does not read what it is sent: more than %2 bytes "
                                         "wait for it; disconnected")
                                     .arg(client->name)
                                     .arg(MaxUnsentBytes));
                client->socket->abort();
                drop(*client);
            }
        }
        serverlog::event(QString("%1 \"%2\" sent to %3 client(s)")
                             .arg(sent.what, shown(sent.text))
                             .arg(listening.size()));
    }
}
