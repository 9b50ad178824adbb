// SPDX-License-Identifier: GPL-3.0-or-later
#include "qt_socket.h"

#include "event_gate.h"
#include "platform/qt/tls_configuration.h"
#include "platform/runtime_error.h"
#include "platform/tls_link.h"

#include <QSslPreSharedKeyAuthenticator>

QtSocket::QtSocket(EventGate& gate) : gate_(gate)
{
    // What the window has not read stays with the server: TCP holds it back.
    socket_.setReadBufferSize(ReadBufferBytes);
    handshake_.setSingleShot(true);
    QObject::connect(&handshake_, &QTimer::timeout, [this] {
        if (handshakeFailed(QString("the server did not answer the TLS handshake in %1 s")
                                .arg(HandshakeTimeoutMs / 1000)))
            socket_.abort();
    });
    QObject::connect(&socket_, &QSslSocket::preSharedKeyAuthenticationRequired,
                     [this](QSslPreSharedKeyAuthenticator* authenticator) {
                         authenticator->setIdentity(tlslink::Identity);
                         authenticator->setPreSharedKey(preSharedKey_);
                     });
    // A secure connection is up once its handshake has succeeded, not when TCP is.
    QObject::connect(&socket_, &QSslSocket::connected, [this] {
        if (secure_) {
            handshaking_ = true;
            return handshake_.start(HandshakeTimeoutMs);
        }
        gate_.post(&socket_, [this] {
            if (events_.connected)
                events_.connected();
        });
    });
    QObject::connect(&socket_, &QSslSocket::encrypted, [this] {
        handshaking_ = false;
        handshake_.stop();
        gate_.post(&socket_, [this] {
            if (events_.connected)
                events_.connected();
        });
    });
    QObject::connect(&socket_, &QSslSocket::disconnected, [this] {
        if (handshakeFailed("the server closed the connection during the TLS handshake") ||
            (secure_ && failed_))
            return;
        closedByPeer_ = true;
        gate_.post(&socket_, [this] {
            if (events_.closedByPeer)
                events_.closedByPeer();
        });
    });
    QObject::connect(&socket_, &QSslSocket::errorOccurred, [this](QAbstractSocket::SocketError e) {
        if (handshakeFailed(socket_.errorString()))
            return;
        // The server closing its end is the closed event, not a failure.
        if (e == QAbstractSocket::RemoteHostClosedError)
            return;
        failed_ = true;
        const QString description = socket_.errorString();
        gate_.post(&socket_, [this, e, description] {
            if (events_.error)
                events_.error(int(e), description);
        });
    });
    QObject::connect(&socket_, &QSslSocket::readyRead, [this] { dataArrived(); });
}

void QtSocket::connectTo(const QString& host, int port)
{
    close();
    secure_ = false;
    socket_.connectToHost(host, quint16(port));
}

void QtSocket::connectSecurely(const QString& host, int port, const QByteArray& preSharedKey)
{
    close();
    secure_ = true;
    preSharedKey_ = preSharedKey;
    socket_.setSslConfiguration(tlsLinkConfiguration());
    socket_.connectToHostEncrypted(host, quint16(port));
}

// Only while a secure connection's TCP is up and its handshake is not done: before, it is the
// network's failure; after, the server's close.
bool QtSocket::handshakeFailed(const QString& reason)
{
    if (!std::exchange(handshaking_, false))
        return false;
    handshake_.stop();
    failed_ = true;
    gate_.post(&socket_, [this, reason] {
        if (events_.secureLinkFailed)
            events_.secureLinkFailed(reason);
    });
    return true;
}

void QtSocket::close()
{
    handshaking_ = false;
    handshake_.stop();
    socket_.abort();
    closedByPeer_ = false;
    failed_ = false;
}

int QtSocket::state() const
{
    if (failed_)
        return Failed;
    if (closedByPeer_)
        return Closing;
    switch (socket_.state()) {
    case QAbstractSocket::HostLookupState: return 4;
    case QAbstractSocket::ConnectingState: return 6;
    case QAbstractSocket::ConnectedState: return Connected;
    case QAbstractSocket::ClosingState: return Closing;
    default: return Closed;
    }
}

void QtSocket::sendData(const QString& text)
{
    if (state() != Connected)
        throw RuntimeError(ErrorNumber::WrongSocketState,
                           "Wrong protocol or connection state for the requested transaction or "
                           "request");
    socket_.write(text.toLatin1());
    socket_.flush(); // on the wire now, not at the next turn of the event loop
}

QString QtSocket::getData()
{
    return QString::fromLatin1(socket_.readAll());
}

void QtSocket::dataArrived()
{
    // One waiting event reads everything that has come by the time it runs.
    if (dataPending_)
        return;
    dataPending_ = true;
    gate_.post(&socket_, [this] {
        dataPending_ = false;
        const qint64 waiting = socket_.bytesAvailable();
        if (waiting > 0 && events_.dataArrival)
            events_.dataArrival(int(qMin<qint64>(waiting, INT_MAX)));
    });
}
