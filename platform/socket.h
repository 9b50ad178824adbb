// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// The TCP client behind the window's network link: one connection to Zephrin Server. Its
// events are raised on the window's thread, one at a time, through the event gate. Failures
// throw RuntimeError.
class Socket {
public:
    // The states the window tests.
    enum State { Closed = 0, Connected = 7, Closing = 8, Failed = 9 };

    struct Events {
        std::function<void()> connected;
        std::function<void()> closedByPeer;
        std::function<void(int number, const QString& description)> error;
        std::function<void(int bytesTotal)> dataArrival;
        // A secure connection's handshake failed (a wrong key, a server that does not speak
        // TLS): the reason, as the TLS library or the socket says it. The state is Failed.
        std::function<void(const QString& reason)> secureLinkFailed;
    };

    virtual ~Socket() = default;

    // Starts a connection to a host name or dotted address; the outcome arrives as the
    // connected or the error event.
    virtual void connectTo(const QString& host, int port) = 0;
    // As connectTo, inside TLS 1.2 authenticated by the pre-shared key: the connected event
    // comes once the handshake has succeeded, the secure-link event when it has failed.
    virtual void connectSecurely(const QString& host, int port, const QByteArray& preSharedKey) = 0;
    // Closes the connection from any state; the state is Closed afterwards.
    virtual void close() = 0;
    virtual int state() const = 0;
    // One byte per character (Latin-1), nothing added. Raises 40006 while not connected.
    virtual void sendData(const QString& text) = 0;
    // Everything that has arrived and was not yet read.
    virtual QString getData() = 0;
    virtual void onEvents(Events events) = 0;
};
