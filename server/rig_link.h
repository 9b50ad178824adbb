// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A radio's frequency, asked of Hamlib's rigctld over its network protocol: "f" and a newline,
// answered by one line, the frequency in Hz, or "RPRT -n" for an error. One question at a time,
// every poll, each with a deadline of its own: a slow radio never holds the event loop. A
// rigctld that cannot be reached or goes away is said once and tried again every RetryMs; that
// it is back is said once too.

#include <QByteArray>
#include <QString>
#include <QTcpSocket>
#include <QTimer>
#include <functional>

class RigLink {
public:
    static constexpr int RetryMs = 2000;
    // A real radio may take up to a second to answer rigctld.
    static constexpr int AnswerMs = 2000;
    static constexpr qsizetype MaxLineBytes = 256;

    // name: as the log calls the radio, such as "radio 1".
    RigLink(QString name, QString host, quint16 port, int pollMs);

    std::function<void(qint64 hz)> onFrequency;

private:
    void open();
    void ask();
    void takeAnswer();
    void lost(const QString& why);

    QString name_, host_;
    quint16 port_;
    QTcpSocket socket_;
    QTimer poll_, deadline_, retry_;
    QByteArray partial_;
    bool asking_ = false;
    bool reachable_ = false;
    bool saidLost_ = false; // the log has said it cannot be reached
};
