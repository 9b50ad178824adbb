// SPDX-License-Identifier: GPL-3.0-or-later
#include "rig_link.h"

#include "log.h"

RigLink::RigLink(QString name, QString host, quint16 port, int pollMs)
    : name_(std::move(name)), host_(std::move(host)), port_(port)
{
    poll_.setInterval(pollMs);
    QObject::connect(&poll_, &QTimer::timeout, [this] { ask(); });
    deadline_.setSingleShot(true);
    QObject::connect(&deadline_, &QTimer::timeout, [this] {
        lost(asking_ ? QString("no answer in %1 ms").arg(AnswerMs) : QString("no connection"));
    });
    retry_.setSingleShot(true);
    QObject::connect(&retry_, &QTimer::timeout, [this] { open(); });
    QObject::connect(&socket_, &QTcpSocket::connected, [this] {
        deadline_.stop();
        reachable_ = true;
        serverlog::event(QString(std::exchange(saidLost_, false) ? "%1: rigctld at %2 port %3 is back"
                                                                 : "%1: following rigctld at %2 port %3")
                             .arg(name_, host_)
                             .arg(port_));
        poll_.start();
        ask();
    });
    QObject::connect(&socket_, &QTcpSocket::readyRead, [this] { takeAnswer(); });
    QObject::connect(&socket_, &QAbstractSocket::errorOccurred,
                     [this] { lost(socket_.errorString()); });
    open();
}

void RigLink::open()
{
    asking_ = false;
    partial_.clear();
    socket_.connectToHost(host_, port_);
    deadline_.start(AnswerMs);
}

void RigLink::ask()
{
    if (asking_ || socket_.state() != QAbstractSocket::ConnectedState)
        return;
    asking_ = true;
    socket_.write("f\n");
    deadline_.start(AnswerMs);
}

void RigLink::takeAnswer()
{
    partial_ += socket_.readAll();
    for (qsizetype end; (end = partial_.indexOf('\n')) >= 0;) {
        const QByteArray line = partial_.left(end).trimmed();
        partial_.remove(0, end + 1);
        if (!asking_)
            continue; // nobody asked: not ours
        asking_ = false;
        deadline_.stop();
        bool ok = false;
        const double hz = line.toDouble(&ok);
        if (ok && hz > 0 && onFrequency)
            onFrequency(qint64(hz));
        else if (!ok)
            serverlog::event(QString("%1: rigctld answered \"%2\"; the band stays")
                                 .arg(name_, serverlog::shown(line)));
    }
    if (partial_.size() > MaxLineBytes)
        lost("an answer longer than any frequency");
}

void RigLink::lost(const QString& why)
{
    if (retry_.isActive())
        return;
    retry_.start(RetryMs);
    if (!std::exchange(saidLost_, true))
        serverlog::event(QString("%1: rigctld at %2 port %3 cannot be reached (%4); trying "
                                 "again every %5 s, the aux output stays as it is")
                             .arg(name_, host_)
                             .arg(port_)
                             .arg(why)
                             .arg(RetryMs / 1000));
    reachable_ = false;
    poll_.stop();
    deadline_.stop();
    asking_ = false;
    socket_.abort();
}
