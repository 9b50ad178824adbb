// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Whatever sends command lines for the box: a window on the network, a logger on its port. Each
// source's text is gathered in a line of its own until its carriage return, so no other source's
// text comes between, and only a whole command of the box's set goes on to the box session.

#include "box_session.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

class Source : public Sender {
public:
    // A line longer than any command is no command.
    static constexpr qsizetype MaxCommandBytes = 64;
    // A source that sends junk fast could fill the log: past this its lines are counted, and
    // said in one line at the next second.
    static constexpr int MaxLogLinesPerSecond = 20;
    static constexpr int RefusalLogMs = 1000;

    Source(BoxSession& session, QString name);
    virtual ~Source();
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    const QString& name() const override { return name_; }
    // Typed keys and commands alike join the line; a backspace takes back its last character,
    // a carriage return ends the line, a line feed is nothing.
    void takeText(QByteArrayView text);
    bool hasUnfinishedLine() const { return !line_.isEmpty() || lineTooLong_; }
    // False while its lines fill its share of the box session's queue: read it no further.
    bool sessionHasRoom() const { return session_.hasRoom(*this); }
    // Drops the line taken so far: its end will not come.
    void forgetLine()
    {
        line_.clear();
        lineTooLong_ = false;
    }
    // A line for the log, within the source's share of it.
    void log(const QString& line) override;
    // Once a second: says how many lines were not logged.
    void newSecond();

protected:
    // A whole command of the box's set is about to go to the box: true keeps it here.
    virtual bool withhold(const QByteArray&) { return false; }
    // A line ended: a whole command of the box's set, or no command.
    virtual void lineEnded(bool command) { (void)command; }

    BoxSession& session_;

private:
    void takeLine();

    QString name_; // "client 3 (127.0.0.1)", as the log shows it
    QByteArray line_;
    bool lineTooLong_ = false;
    QElapsedTimer lastRefusal_; // lines refused are logged at most once a second
    int refusedSince_ = 0;
    int logLinesThisSecond_ = 0;
};
