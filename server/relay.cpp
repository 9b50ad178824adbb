#include "relay.h"

#include "cipher/encrypted_text.h"
#include "log.h"
#include "platform/runtime_error.h"

#include <QRandomGenerator>
#include <vector>

using serverlog::shown;

namespace {

// The commands after which the box's state is reported, so that every client's lamps and aux
// menus follow: the focus and aux commands of both command sets.
bool changesBoxState(const QByteArray& command)
{
    static const QList<QByteArray> focusCommands = {"TX1", "TX2", "RX1", "RX2", "RX1S",
                                                    "FT1", "FT2", "FR1", "FR2", "FRS"};
    if (focusCommands.contains(command))
        return true;
    // "AUX" (OTRSP) or "AS" (MK2R), the radio, and the output in two digits: 00 is all off.
    for (const QByteArray& lead : {QByteArray("AUX"), QByteArray("AS")}) {
        if (command.size() != lead.size() + 3 || !command.startsWith(lead))
            continue;
        const char radio = command[lead.size()];
        const char tens = command[lead.size() + 1];
        const char units = command[lead.size() + 2];
        const bool isOutput = (tens == '0' && units >= '0' && units <= '9') ||
                              (tens == '1' && units >= '0' && units <= '5');
        return (radio == '1' || radio == '2') && isOutput;
    }
    return false;
}

// Commands and typed keys are printable ASCII, carriage return or backspace. Anything else is
// what a message under another key decrypts to.
bool isPlainText(const QString& text)
{
    for (const QChar c : text)
        if (c != '\r' && c != '\b' && (c.unicode() < 0x20 || c.unicode() > 0x7E))
            return false;
    return true;
}

// Lower-case letters and digits: never the prefix of a message, which begins in upper case.
QByteArray randomGarbage()
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    const int length = QRandomGenerator::global()->bounded(1, 17);
    QByteArray text;
    for (int i = 0; i < length; ++i)
        text += alphabet[QRandomGenerator::global()->bounded(int(sizeof alphabet - 1))];
    return text;
}

// Where a split write is cut: inside its last message, at a length that is not a multiple of
// 4, so that a receiver can tell the first piece is not yet whole.
qsizetype splitPoint(const QByteArray& bytes)
{
    const qsizetype last = std::max<qsizetype>(0, bytes.lastIndexOf(EncryptedTextPrefix));
    qsizetype cut = last + (bytes.size() - last) / 2;
    if ((cut - last) % 4 == 0)
        ++cut;
    return cut;
}

} // namespace

Relay::Relay(BoxLink& box, const QString& key, const FaultOptions& faults)
    : box_(box), key_(key), faults_(faults)
{
    QObject::connect(&server_, &QTcpServer::newConnection, [this] { accept(); });
    box_.onAnswer = [this](const QByteArray& burst) { report(burst, "box answer"); };
    box_.onBack = [this] {
        boxLine_.clear();
        boxLineTooLong_ = false;
    };
}

Relay::~Relay()
{
    shutdown();
    for (auto& [id, client] : clients_)
        delete client;
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
        auto* client = new Client;
        client->id = nextClientId_++;
        client->socket = socket;
        socket->setParent(client);
        // Qt reads no further ahead than this; the stream holds the rest to its own bound.
        socket->setReadBufferSize(MessageStream::MaxUnfinishedBytes);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        client->tailQuiet.setSingleShot(true);
        client->tailQuiet.setTimerType(Qt::PreciseTimer);
        client->batchFlush.setSingleShot(true);
        client->splitPause.setSingleShot(true);
        QObject::connect(socket, &QTcpSocket::readyRead, client,
                         [this, client] { readFrom(*client); });
        QObject::connect(socket, &QTcpSocket::disconnected, client,
                         [this, client] { drop(*client); });
        QObject::connect(&client->tailQuiet, &QTimer::timeout, client, [this, client] {
            const QByteArray tail = client->incoming.takeTail();
            if (!tail.isEmpty())
                handleMessage(*client, tail);
        });
        QObject::connect(&client->batchFlush, &QTimer::timeout, client,
                         [this, client] { flush(*client); });
        QObject::connect(&client->splitPause, &QTimer::timeout, client, [client, this] {
            client->socket->write(std::exchange(client->splitRest, {}));
            if (client->closing)
                closeWhenSent(*client);
        });
        clients_[client->id] = client;
        serverlog::event(QString("client %1 connected from %2 port %3")
                             .arg(client->id)
                             .arg(socket->peerAddress().toString())
                             .arg(socket->peerPort()));
    }
}

void Relay::drop(Client& client)
{
    if (client.gone)
        return;
    client.gone = true;
    clients_.erase(client.id);
    serverlog::event(QString("client %1 disconnected").arg(client.id));
    client.deleteLater();
}

void Relay::readFrom(Client& client)
{
    while (!client.gone && !client.closing && client.socket->bytesAvailable() > 0) {
        if (!client.incoming.append(client.socket->read(ReadChunkBytes))) {
            serverlog::event(QString("client %1 sent more than %2 bytes of unfinished text, no "
                                     "whole message: disconnected")
                                 .arg(client.id)
                                 .arg(MessageStream::MaxUnfinishedBytes));
            client.socket->abort();
            drop(client);
            return;
        }
        if (const qsizetype dropped = client.incoming.takeDroppedCount())
            serverlog::event(QString("client %1: %2 bytes before a message prefix dropped")
                                 .arg(client.id)
                                 .arg(dropped));
        for (const QByteArray& message : client.incoming.takeComplete()) {
            handleMessage(client, message);
            if (client.gone || client.closing)
                return;
        }
    }
    if (client.gone)
        return;
    if (client.incoming.tailMayBeComplete())
        client.tailQuiet.start(MessageStream::TailQuietMs);
    else
        client.tailQuiet.stop();
}

void Relay::handleMessage(Client& client, const QByteArray& message)
{
    if (!isWellFormedMessage(message)) {
        serverlog::event(QString("client %1: %2 characters that are no encrypted text dropped")
                             .arg(client.id)
                             .arg(message.size()));
        return;
    }
    QString text;
    try {
        text = DecryptText(QString::fromLatin1(message), key_);
    } catch (const RuntimeError& error) {
        serverlog::event(QString("client %1: message not decrypted: %2")
                             .arg(client.id)
                             .arg(error.description()));
        return;
    }
    client.spoken = true;
    if (!isPlainText(text)) {
        serverlog::event(QString("client %1: message is no plain text, the client's key probably "
                                 "differs from this server's; not sent to the box")
                             .arg(client.id));
    } else {
        serverlog::event(
            QString("client %1: text received \"%2\"").arg(client.id).arg(shown(text.toLatin1())));
        toBox(text.toLatin1());
    }
    if (faults_.closeAfter > 0 && ++client.messagesReceived >= faults_.closeAfter)
        closeWhenSent(client);
}

void Relay::toBox(const QByteArray& text)
{
    if (text.isEmpty())
        return;
    if (!box_.write(text)) {
        serverlog::event(QString("box is gone: \"%1\" not sent").arg(shown(text)));
        boxLine_.clear();
        boxLineTooLong_ = false;
        return;
    }
    serverlog::event(QString("to the box: \"%1\"").arg(shown(text)));
    // The box takes a line at its carriage return and does not edit it: a backspace is one
    // more character of the line, which then is no command we know.
    for (const char c : text) {
        if (c != '\r') {
            if (boxLine_.size() < MaxCommandBytes)
                boxLine_ += c;
            else
                boxLineTooLong_ = true;
            continue;
        }
        if (!boxLineTooLong_ && changesBoxState(boxLine_))
            report(boxLine_ + '\r', "state report");
        boxLine_.clear();
        boxLineTooLong_ = false;
    }
}

void Relay::report(const QByteArray& text, const QString& what)
{
    if (faults_.mute) {
        serverlog::event(QString("%1 \"%2\" not sent (--mute)").arg(what, shown(text)));
        return;
    }
    std::vector<Client*> listeners;
    for (auto& [id, client] : clients_)
        if (client->spoken && !client->closing)
            listeners.push_back(client);
    if (listeners.empty()) {
        serverlog::event(QString("%1 \"%2\": no client to send it to").arg(what, shown(text)));
        return;
    }
    QByteArray message;
    try {
        message = EncryptText(QString::fromLatin1(text), key_).toLatin1();
    } catch (const RuntimeError& error) {
        serverlog::event(QString("%1 \"%2\" not encrypted, not sent: %3")
                             .arg(what, shown(text), error.description()));
        return;
    }
    for (Client* client : listeners)
        deliver(*client, message);
    serverlog::event(
        QString("%1 \"%2\" sent to %3 client(s)").arg(what, shown(text)).arg(listeners.size()));
}

void Relay::deliver(Client& client, const QByteArray& message)
{
    client.held += message;
    if (faults_.garbage)
        client.held += randomGarbage();
    if (++client.heldReports < faults_.batch) {
        if (!client.batchFlush.isActive())
            client.batchFlush.start(BatchFlushMs);
        return;
    }
    flush(client);
}

void Relay::flush(Client& client)
{
    client.batchFlush.stop();
    client.heldReports = 0;
    if (!client.held.isEmpty())
        write(client, std::exchange(client.held, {}));
}

void Relay::write(Client& client, const QByteArray& bytes)
{
    if (!client.splitRest.isEmpty()) {
        client.splitRest += bytes; // behind the half that is still to go
        return;
    }
    if (!faults_.split) {
        client.socket->write(bytes);
        return;
    }
    const qsizetype cut = splitPoint(bytes);
    client.socket->write(bytes.left(cut));
    client.splitRest = bytes.mid(cut);
    client.splitPause.start(SplitPauseMs);
}

void Relay::closeWhenSent(Client& client)
{
    client.closing = true;
    flush(client);
    if (!client.splitRest.isEmpty())
        return; // again when the second half has gone
    serverlog::event(QString("client %1 closed after %2 messages (--close-after)")
                         .arg(client.id)
                         .arg(client.messagesReceived));
    client.socket->disconnectFromHost();
}
