// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How a window's connection carries its text: the encrypted messages, or TLS. A transport turns
// one connection's bytes into text for its source and writes what the server sends it; the
// transports of one kind share what the listening port speaks (the key, and for the messages
// the memory of accepted ones) and send the state reports to every connection that listens.

#include "box_state.h"

#include <QByteArray>
#include <QString>
#include <QTcpServer>
#include <functional>
#include <memory>

class QTcpSocket;
class Source;

class Transport {
public:
    virtual ~Transport() = default;

    // It has shown that it knows the key: a command under it, or a TLS handshake.
    virtual bool proven() const = 0;
    // Its source ended a line: a whole command of the box's set, or no command.
    virtual void lineEnded(bool command) = 0;
    // Something of it is on its way in: it is speaking, not idle.
    virtual bool busy() const = 0;
    // Closes the connection at once.
    virtual void abort() = 0;
    // The server stops: what is queued for the client goes, then the connection closes.
    virtual void close() = 0;
    // Text for this connection alone: a box answer, the state told on joining.
    virtual void send(const QByteArray& text, const QString& what) = 0;

    // It proved the key, the first time.
    std::function<void()> onProven;
    // The client hung up and all it sent that is carried out has been, or it was aborted: its
    // source may go.
    std::function<void()> onDone;
    // It failed as only a stranger does (junk, a wrong key): its address is held off.
    std::function<void()> onStruckOut;
};

class Transports {
public:
    virtual ~Transports() = default;

    // The listening port, whose connections these transports take.
    virtual std::unique_ptr<QTcpServer> makeListener() { return std::make_unique<QTcpServer>(); }
    // A connection let in: the transport takes the socket and gives the source its text.
    virtual std::unique_ptr<Transport> open(int id, QTcpSocket* socket, Source& source) = 0;
    // From now on the connections are read, and written, under this key.
    virtual void setKey(const QString& key) = 0;
    // A memory of what was accepted, kept in the folder across restarts, where the kind needs
    // one. False, with the reason, when it cannot be kept there.
    virtual bool keepSaltsIn(const QString& folder, QString* failure)
    {
        (void)folder;
        (void)failure;
        return true;
    }
    // A state report for every connection that listens.
    virtual void report(const QByteArray& text, Output output) = 0;
    // The box session has room again for lines that wait.
    virtual void sessionHasRoom() {}
    // Once a second.
    virtual void newSecond() {}
};
