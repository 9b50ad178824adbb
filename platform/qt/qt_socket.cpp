// SPDX-License-Identifier: GPL-3.0-or-later
#include "qt_socket.h"

#include "event_gate.h"
#include "platform/runtime_error.h"

QtSocket::QtSocket(EventGate& gate) : gate_(gate)
{
    // What the window has not read stays with the server: TCP holds it back.
    socket_.setReadBufferSize(ReadBufferBytes);
    QObject::connect(&socket_, &QTcpSocket::connected, [this] {
        gate_.post(&socket_, [this] {
            if (events_.connected)
                events_.connected();
        });
    });
    QObject::connect(&socket_, &QTcpSocket::disconnected, [this] {
        closedByPeer_ = true;
        gate_.post(&socket_, [this] {
            if (events_.closedByPeer)
                events_.closedByPeer();
        });
    });
    QObject::connect(&socket_, &QTcpSocket::errorOccurred, [this](QAbstractSocket::SocketError e) {
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
    QObject::connect(&socket_, &QTcpSocket::readyRead, [this] { dataArrived(); });
}

void QtSocket::connectTo(const QString& host, int port)
{
    close();
    socket_.connectToHost(host, quint16(port));
}

void QtSocket::close()
{
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
