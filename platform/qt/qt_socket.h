// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/socket.h"

#include <QTcpSocket>

class EventGate;

// The network link on QTcpSocket. After the server has closed the connection the state stays
// Closing until the program closes its own end, although Qt itself is unconnected by then.
class QtSocket : public Socket {
public:
    explicit QtSocket(EventGate& gate);

    void connectTo(const QString& host, int port) override;
    void close() override;
    int state() const override;
    void sendData(const QString& text) override;
    QString getData() override;
    void onEvents(Events events) override { events_ = std::move(events); }

private:
    static constexpr qint64 ReadBufferBytes = qint64(64) * 1024;

    void dataArrived();

    EventGate& gate_;
    QTcpSocket socket_;
    Events events_;
    bool closedByPeer_ = false;
    bool failed_ = false;
    bool dataPending_ = false;
};
