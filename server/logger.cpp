// SPDX-License-Identifier: GPL-3.0-or-later
#include "logger.h"

#include "box_session.h"
#include "log.h"

Logger::Logger(BoxSession& session, std::unique_ptr<LoggerLink> link)
    : Source(session, link->name), link_(std::move(link))
{
    link_->onReadable = [this] { read(); };
    link_->onEvent = [this](const QString& line) { log(line); };
    // What the closing program wrote is carried out up to its last line end; a line it left
    // unfinished (it crashed) would eat the next one's first command. A logger started again
    // has not switched any event on.
    link_->onClosed = [this] {
        read();
        forgetLine();
        transmitEvents = receiveEvents = false;
    };
    link_->onGone = [this] {
        if (gone_)
            return;
        read(); // what it sent before it hung up is still carried out, as far as it fits
        gone_ = true;
        serverlog::event(name() + " disconnected");
        if (onGone)
            onGone();
    };
    read();
}

void Logger::read()
{
    while (!gone_ && session_.hasRoom(*this)) {
        const QByteArray bytes = link_->read(ReadChunkBytes);
        if (bytes.isEmpty())
            break;
        takeText(bytes);
    }
    link_->setReading(!gone_ && session_.hasRoom(*this));
}

bool Logger::deliver(const QByteArray& bytes)
{
    return !gone_ && link_->write(bytes);
}
