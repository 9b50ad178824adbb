// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/socket.h"

#include <QSslSocket>
#include <QTimer>

class EventGate;

// The network link on a QSslSocket: plain TCP, or TLS 1.2 with a pre-shared key. After the
// server has closed the connection the state stays Closing until the program closes its own
// end, although Qt itself is unconnected by then.
class QtSocket : public Socket {
public:
    explicit QtSocket(EventGate& gate);

    void connectTo(const QString& host, int port) override;
    void connectSecurely(const QString& host, int port, const QByteArray& preSharedKey) override;
    void close() override;
    int state() const override;
    void sendData(const QString& text) override;
    QString getData() override;
    void onEvents(Events events) override { events_ = std::move(events); }

private:
    static constexpr qint64 ReadBufferBytes = qint64(64) * 1024;
    // A server that takes the connection but does not answer the handshake (one without TLS
    // waits for a message) is given up after this long.
    static constexpr int HandshakeTimeoutMs = 5000;

    void dataArrived();
    // A secure connection that was not, or is no longer, up: the first failure is told.
    bool handshakeFailed(const QString& reason);

    EventGate& gate_;
    QSslSocket socket_;
    QTimer handshake_;
    QByteArray preSharedKey_; // empty: plain TCP
    bool secure_ = false;
    bool handshaking_ = false; // a secure connection's TCP is up, its handshake is not done
    Events events_;
    bool closedByPeer_ = false;
    bool failed_ = false;
    bool dataPending_ = false;
};
