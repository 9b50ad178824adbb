// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Who may connect to the server, and how much work one client may cause.

#include <QHostAddress>
#include <QList>
#include <QPair>

// Who may connect and how much work one client may cause.
struct ClientLimits {
    static constexpr int DefaultMaxClients = 8;
    static constexpr int DefaultMaxRate = 50;
    static constexpr int DefaultLoginTimeoutSeconds = 10;

    // Networks whose clients may connect; empty: any.
    QList<QPair<QHostAddress, int>> allow;
    int maxClients = DefaultMaxClients;
    // Connections from one address at once; 0: no cap (clients through an SSH tunnel all come
    // from 127.0.0.1).
    int maxPerAddress = 0;
    // A connection that has sent no command in this time is closed.
    int loginTimeoutSeconds = DefaultLoginTimeoutSeconds;
    // Messages decrypted per client and second (each one a 10000-iteration key derivation).
    int maxRate = DefaultMaxRate;
    // Worker threads decrypting received messages.
    int threads = 1;
};

// The address a client is known by: an IPv4 client of a socket listening on IPv6 arrives as
// ::ffff:a.b.c.d, and is the IPv4 address a.b.c.d for --allow and the log.
QHostAddress plainAddress(const QHostAddress& address);

// True when the client's plain address is in one of the networks, or none is named. An IPv6
// network takes the IPv4 clients whose mapped address it holds (::/0 takes every client).
bool isAllowed(const QList<QPair<QHostAddress, int>>& allow, const QHostAddress& client);
