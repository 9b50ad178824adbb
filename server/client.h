// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A Zephrin window (or the openssl command) on the network: what its connection's transport
// reads is its text, and the box's answers to its own queries go back to it alone.

#include "source.h"
#include "transport.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

class Client : public QObject, public Source {
public:
    // With a logger beside it, a client's aux switched off in this time after it connected is
    // the window's opening, not an operator's command.
    static constexpr int OpeningGraceMs = 1000;

    // loggersShare: whether a logger may share the box, as the server knows it from now on.
    Client(BoxSession& session, Transports& transports, int id, QTcpSocket* socket,
           const QHostAddress& address, int loginTimeoutSeconds, const bool& loggersShare);

    int id() const { return id_; }
    const QHostAddress& address() const { return address_; }
    // It has shown that it knows the key, and may keep its place.
    bool proven() const { return transport_->proven(); }
    Transport& transport() { return *transport_; }
    bool deliver(const QByteArray& bytes) override;
    // It hung up, was let go, or may go: the owner retires it (never inside this call).
    std::function<void()> onGone;
    // It proved the key, the first time.
    std::function<void()> onProven;
    // It failed as only a stranger does: junk once too often, or a wrong key.
    std::function<void()> onStruckOut;

protected:
    bool withhold(const QByteArray& line) override;
    void lineEnded(bool command) override;

private:
    int id_;
    QHostAddress address_;
    const bool& loggersShare_;
    std::unique_ptr<Transport> transport_;
    bool toldState_ = false; // the box's state was reported to it on joining
    QTimer login_;
    QElapsedTimer connected_;
};
