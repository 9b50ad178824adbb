// SPDX-License-Identifier: GPL-3.0-or-later
#include "tls_transport.h"

#include "cipher/cipher_error.h"
#include "cipher/tls_key.h"
#include "platform/qt/tls_configuration.h"
#include "platform/tls_link.h"
#include "client_limits.h"
#include "log.h"
#include "source.h"

#include <QSslCipher>
#include <QSslPreSharedKeyAuthenticator>
#include <unistd.h>

using serverlog::shown;

namespace {

QSslConfiguration tlsConfiguration()
{
    const QSslConfiguration configuration = tlsLinkConfiguration();
    if (configuration.ciphers().isEmpty())
        serverlog::warning("zephrin-server: warning: the TLS library offers none of the ECDHE-PSK "
                           "suites: no TLS connection can succeed");
    return configuration;
}

} // namespace

void TlsServer::incomingConnection(qintptr descriptor)
{
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        ::close(int(descriptor));
        return;
    }
    addPendingConnection(socket);
}

TlsTransports::TlsTransports(const QString& key)
    : configuration_(tlsConfiguration()), preSharedKey_(TlsPreSharedKey(key))
{
    serverlog::event("the windows' port speaks TLS 1.2 with the key's pre-shared key, nothing "
                     "else (--tls)");
}

TlsTransports::~TlsTransports() = default;

std::unique_ptr<Transport> TlsTransports::open(int id, QTcpSocket* socket, Source& source)
{
    // TlsServer makes every socket of the port.
    return std::make_unique<TlsTransport>(*this, id, static_cast<QSslSocket*>(socket), source);
}

void TlsTransports::setKey(const QString& key)
{
    try {
        preSharedKey_ = TlsPreSharedKey(key);
    } catch (const CipherError& error) {
        serverlog::warning("zephrin-server: the TLS key in use stays: " + error.description());
    }
}

void TlsTransports::report(const QByteArray& text, Output /*output*/)
{
    std::vector<TlsTransport*> to;
    for (const auto& [id, transport] : transports_)
        if (transport->listening())
            to.push_back(transport);
    if (to.empty()) {
        serverlog::event(QString("state report \"%1\": no client to send it to").arg(shown(text)));
        return;
    }
    for (TlsTransport* transport : to)
        transport->write(text);
    serverlog::event(
        QString("state report \"%1\" sent to %2 client(s)").arg(shown(text)).arg(to.size()));
}

void TlsTransports::sessionHasRoom()
{
    std::vector<TlsTransport*> open;
    for (const auto& [id, transport] : transports_)
        open.push_back(transport);
    for (TlsTransport* transport : open)
        if (transports_.contains(transport->id_))
            transport->read();
}

TlsTransport::TlsTransport(TlsTransports& links, int id, QSslSocket* socket, Source& source)
    : links_(links), id_(id), socket_(socket), source_(source),
      address_(plainAddress(socket->peerAddress()))
{
    links_.transports_[id_] = this;
    socket_->setReadBufferSize(ReadBufferBytes);
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket_->setSslConfiguration(links_.configuration_);
    QObject::connect(socket_, &QSslSocket::preSharedKeyAuthenticationRequired,
                     [this](QSslPreSharedKeyAuthenticator* authenticator) {
                         keyAsked_ = true;
                         // Another identity gets no key, and its handshake fails as a wrong
                         // key's does.
                         if (authenticator->identity() == tlslink::Identity)
                             authenticator->setPreSharedKey(links_.preSharedKey_);
                     });
    QObject::connect(socket_, &QSslSocket::encrypted, [this] {
        encrypted_ = true;
        source_.log(QString("%1: TLS handshake done, %2")
                        .arg(source_.name(), socket_->sessionCipher().name()));
        if (onProven)
            onProven();
        read();
    });
    QObject::connect(socket_, &QSslSocket::readyRead, [this] { read(); });
    QObject::connect(socket_, &QSslSocket::disconnected, [this] { hungUp(); });
    QObject::connect(socket_, &QSslSocket::errorOccurred,
                     [this](QAbstractSocket::SocketError error) { failed(error); });
    socket_->startServerEncryption();
}

TlsTransport::~TlsTransport()
{
    links_.transports_.erase(id_);
    QObject::disconnect(socket_, nullptr, nullptr, nullptr);
    socket_->abort();
    socket_->deleteLater();
}

void TlsTransport::read()
{
    if (done_ || !encrypted_)
        return;
    if (closing_) {
        socket_->readAll(); // what comes after the close is not carried out
        return;
    }
    while (!done_ && source_.sessionHasRoom() && socket_->bytesAvailable() > 0)
        source_.takeText(socket_->read(ReadChunkBytes));
}

// A handshake that fails after the client named its identity failed on the key: a stranger's
// guess, or an operator's typing error. Before that, the client spoke no TLS at all.
void TlsTransport::failed(QAbstractSocket::SocketError error)
{
    if (done_ || error == QAbstractSocket::RemoteHostClosedError)
        return; // the hang-up follows
    if (encrypted_) {
        serverlog::event(
            QString("%1: %2: disconnected").arg(source_.name(), socket_->errorString()));
    } else if (keyAsked_) {
        if (!links_.toldWrongKey_.contains(address_)) {
            links_.toldWrongKey_.insert(address_);
            serverlog::event(QString("%1: TLS handshake failed, its key differs from this "
                                     "server's: disconnected; more wrong keys from %2 are not "
                                     "logged")
                                 .arg(source_.name(), address_.toString()));
        }
        if (onStruckOut)
            onStruckOut();
    } else {
        serverlog::event(QString("%1 did not open with a TLS handshake (%2): disconnected; this "
                                 "port speaks TLS only (--tls)")
                             .arg(source_.name(), socket_->errorString()));
    }
    finish();
}

void TlsTransport::hungUp()
{
    if (done_)
        return;
    if (encrypted_ && !closing_) {
        // What it sent before it hung up is carried out, as far as the box session has room.
        read();
        if (const qint64 unread = socket_->bytesAvailable(); unread > 0)
            serverlog::event(QString("%1 hung up: %2 bytes dropped unread")
                                 .arg(source_.name())
                                 .arg(unread));
    }
    finish();
}

void TlsTransport::finish()
{
    if (std::exchange(done_, true))
        return;
    socket_->abort();
    if (onDone)
        onDone();
}

void TlsTransport::abort()
{
    finish();
}

void TlsTransport::close()
{
    closing_ = true;
    socket_->flush();
    socket_->disconnectFromHost();
}

void TlsTransport::send(const QByteArray& text, const QString& what)
{
    if (!listening())
        return;
    write(text);
    serverlog::event(QString("%1 \"%2\" sent to 1 client(s)").arg(what, shown(text)));
}

void TlsTransport::write(const QByteArray& text)
{
    socket_->write(text);
    socket_->flush();
    if (socket_->bytesToWrite() > MaxUnsentBytes) {
        serverlog::event(QString("%1 does not read what it is sent: more than %2 bytes wait for "
                                 "it; disconnected")
                             .arg(source_.name())
                             .arg(MaxUnsentBytes));
        finish();
    }
}
