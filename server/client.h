// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A Zephrin window (or the openssl command) on the network: its connection's messages are its
// text, and the box's answers to its own queries go back to it alone.

#include "message_transport.h"
#include "source.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <functional>

class Client : public QObject, public Source {
public:
    // With a logger beside it, a client's aux switched off in this time after it connected is
    // the window's opening, not an operator's command.
    static constexpr int OpeningGraceMs = 1000;

    // loggersShare: whether a logger may share the box, as the server knows it from now on.
    Client(BoxSession& session, MessageCodec& codec, int id, QTcpSocket* socket,
           const QHostAddress& address, int loginTimeoutSeconds, const bool& loggersShare);

    int id() const { return id_; }
    const QHostAddress& address() const { return address_; }
    // It has sent a command of the box's set: it knows the key and may keep its place.
    bool proven() const { return transport_.proven(); }
    MessageTransport& transport() { return transport_; }
    bool deliver(const QByteArray& bytes) override;
    // It hung up, was let go, or may go: the owner retires it (never inside this call).
    std::function<void()> onGone;
    // It sent its first command of the box's set.
    std::function<void()> onProven;
    // It sent what no operator sends, once too often.
    std::function<void()> onStruckOut;

protected:
    bool withhold(const QByteArray& line) override;
    void lineEnded(bool command) override;

private:
    int id_;
    QHostAddress address_;
    MessageCodec& codec_;
    const bool& loggersShare_;
    MessageTransport transport_;
    bool toldState_ = false; // the box's state was reported to it on joining
    QTimer login_;
    QElapsedTimer connected_;
};
