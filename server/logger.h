// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A contest logger on its port (a pty) or on plain TCP: its bytes are its text, the box's
// answers to its own queries and the events it switched on go back to it. It is read at its own
// pace, as far as its lines find room at the box session; a logger that writes faster than the
// box's line is held back at its port, as a serial port holds back a writer.

#include "logger_link.h"
#include "source.h"

#include <functional>
#include <memory>

class Logger : public Source {
public:
    // Bytes taken from the link in one read.
    static constexpr qint64 ReadChunkBytes = 256;

    Logger(BoxSession& session, std::unique_ptr<LoggerLink> link);

    // Reads what the logger wrote, while the session has room for its lines.
    void read();
    bool deliver(const QByteArray& bytes) override;
    bool gone() const { return gone_; }
    // A logger on TCP hung up; what it sent before has been carried out. The owner retires it
    // (never inside this call).
    std::function<void()> onGone;

private:
    std::unique_ptr<LoggerLink> link_;
    bool gone_ = false;
};
