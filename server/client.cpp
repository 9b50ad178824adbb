// SPDX-License-Identifier: GPL-3.0-or-later
#include "client.h"

#include "box_session.h"
#include "log.h"

using serverlog::shown;

Client::Client(BoxSession& session, Transports& transports, int id, QTcpSocket* socket,
               const QHostAddress& address, int loginTimeoutSeconds, const bool& loggersShare)
    : Source(session, QString("client %1 (%2)").arg(id).arg(address.toString())), id_(id),
      address_(address), loggersShare_(loggersShare),
      transport_(transports.open(id, socket, *this))
{
    transport_->onDone = [this] {
        if (onGone)
            onGone();
    };
    transport_->onStruckOut = [this] {
        if (onStruckOut)
            onStruckOut();
    };
    transport_->onProven = [this] {
        login_.stop();
        if (onProven)
            onProven();
    };
    login_.setSingleShot(true);
    QObject::connect(&login_, &QTimer::timeout, this, [this, loginTimeoutSeconds] {
        serverlog::event(QString("%1 sent no command in %2 s: disconnected (--login-timeout)")
                             .arg(name())
                             .arg(loginTimeoutSeconds));
        transport_->abort();
    });
    login_.start(loginTimeoutSeconds * 1000);
    connected_.start();
}

bool Client::deliver(const QByteArray& bytes)
{
    transport_->send(bytes, "box answer");
    return true;
}

void Client::lineEnded(bool command)
{
    transport_->lineEnded(command);
}

// A window that connects switches both radios' aux outputs off as it opens. Beside a logger that
// may be transmitting, switching an antenna or a filter then could damage the station: in the
// client's first second those commands stay here, and the client is told the box's state instead.
bool Client::withhold(const QByteArray& line)
{
    if (!loggersShare_ || connected_.elapsed() >= OpeningGraceMs)
        return false;
    const auto change = readStateChange(line);
    if (!change || change->output == Output::Transmit || change->output == Output::Receive ||
        change->value != 0)
        return false;
    serverlog::event(QString("%1: \"%2\" in its first second kept from the box, as a logger shares "
                             "it; the box's state is reported to it instead")
                         .arg(name(), shown(line)));
    if (!std::exchange(toldState_, true))
        for (const QByteArray& token : session_.stateReports())
            transport_->send(token + '\r', "state report");
    return true;
}
