// SPDX-License-Identifier: GPL-3.0-or-later
#include "source.h"

#include "log.h"

using serverlog::shown;

Source::Source(BoxSession& session, QString name) : session_(session), name_(std::move(name))
{
    session_.attach(*this);
}

Source::~Source()
{
    session_.detach(*this);
}

void Source::takeText(QByteArrayView text)
{
    for (const char c : text) {
        if (c == '\r') {
            takeLine();
        } else if (c == '\b') {
            line_.chop(1);
        } else if (c != '\n') {
            if (line_.size() < MaxCommandBytes)
                line_ += c;
            else
                lineTooLong_ = true;
        }
    }
}

void Source::takeLine()
{
    const QByteArray line = std::exchange(line_, {});
    const bool tooLong = std::exchange(lineTooLong_, false);
    if (!tooLong && session_.isCommand(line)) {
        lineEnded(true);
        if (!withhold(line))
            session_.take(*this, line);
        return;
    }
    lineEnded(false);
    ++refusedSince_;
    if (lastRefusal_.isValid() && lastRefusal_.elapsed() < RefusalLogMs)
        return;
    serverlog::event(QString("%1: \"%2\" is no command of the box%3; not sent to the box")
                         .arg(name_, shown(line + (tooLong ? "..." : "")))
                         .arg(refusedSince_ > 1
                                  ? QString(" (%1 lines refused since the last one logged)")
                                        .arg(refusedSince_ - 1)
                                  : QString()));
    refusedSince_ = 0;
    lastRefusal_.start();
}

void Source::log(const QString& line)
{
    if (logLinesThisSecond_++ < MaxLogLinesPerSecond)
        serverlog::event(line);
}

void Source::newSecond()
{
    if (logLinesThisSecond_ > MaxLogLinesPerSecond)
        serverlog::event(QString("%1: ... %2 more lines like these in the last second")
                             .arg(name_)
                             .arg(logLinesThisSecond_ - MaxLogLinesPerSecond));
    logLinesThisSecond_ = 0;
}
