// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// TLS on the windows' port: TLS 1.2 with the key's pre-shared key and the ECDHE-PSK suites, and
// nothing else. Inside it each direction carries plain lines, the same text the encrypted
// messages carry: commands and typed keys from the client, reports and answers to it. The
// handshake proves the key and TLS refuses changed and replayed records, so a connection keeps
// no memory of accepted messages and is never throttled by decryption.

#include "transport.h"

#include <QHostAddress>
#include <QSet>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <map>

class TlsTransport;

// Its connections are TLS sockets that have not begun their handshake: the hub lets them in
// (or not) first, as it does any connection, and their transport starts the handshake.
class TlsServer : public QTcpServer {
protected:
    void incomingConnection(qintptr descriptor) override;
};

class TlsTransports : public Transports {
public:
    explicit TlsTransports(const QString& key);
    ~TlsTransports() override;
    TlsTransports(const TlsTransports&) = delete;
    TlsTransports& operator=(const TlsTransports&) = delete;

    std::unique_ptr<QTcpServer> makeListener() override { return std::make_unique<TlsServer>(); }
    std::unique_ptr<Transport> open(int id, QTcpSocket* socket, Source& source) override;
    // Derives the pre-shared key again: about one 200,000-iteration derivation's time.
    void setKey(const QString& key) override;
    void report(const QByteArray& text, Output output) override;
    void sessionHasRoom() override;

private:
    friend class TlsTransport;

    QSslConfiguration configuration_;
    QByteArray preSharedKey_;
    std::map<int, TlsTransport*> transports_;
    // Addresses whose wrong key has been logged: a guesser fills no log.
    QSet<QHostAddress> toldWrongKey_;
};

class TlsTransport : public Transport {
public:
    // Plain text taken from the connection in one read.
    static constexpr qint64 ReadChunkBytes = 256;
    // Decrypted text Qt holds for a client that is not read: the rest waits in TCP.
    static constexpr qint64 ReadBufferBytes = 4096;
    // Reports and answers waiting for a client that does not read them.
    static constexpr qint64 MaxUnsentBytes = qint64(64) * 1024;

    TlsTransport(TlsTransports& links, int id, QSslSocket* socket, Source& source);
    ~TlsTransport() override;
    TlsTransport(const TlsTransport&) = delete;
    TlsTransport& operator=(const TlsTransport&) = delete;

    bool proven() const override { return encrypted_; }
    bool listening() const { return encrypted_ && !closing_ && !done_; }
    void lineEnded(bool command) override { (void)command; }
    // Its handshake has reached the key: it will be done in a moment.
    bool busy() const override { return keyAsked_ && !encrypted_; }
    void abort() override;
    void close() override;
    void send(const QByteArray& text, const QString& what) override;
    // Hands what it sent to its source, as far as the box session has room.
    void read();

private:
    friend class TlsTransports;

    void write(const QByteArray& text);
    void failed(QAbstractSocket::SocketError error);
    void hungUp();
    void finish();

    TlsTransports& links_;
    int id_;
    QSslSocket* socket_;
    Source& source_;
    QHostAddress address_;
    bool keyAsked_ = false; // the client named its identity: the handshake got as far as the key
    bool encrypted_ = false;
    bool closing_ = false;
    bool done_ = false;
};
