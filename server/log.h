// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The server's log: one line per event on standard output (none with --quiet), warnings and
// fatal errors on standard error whatever --quiet says. With a log file, every event and
// warning is also appended there, with the date, whatever --quiet says. Writing never holds the
// caller: lines go out on a thread of their own.
// On a terminal or in a file each line begins with the time. When the stream is the journal's
// (systemd names it in JOURNAL_STREAM), the journal keeps the time and the line begins with its
// priority instead: <4> for a warning, <3> for an error, none for an event.

#include <QByteArray>
#include <QString>

namespace serverlog {

void setQuiet(bool quiet);
// Appends to the file from now on; false, with the reason, when it cannot be opened.
bool appendTo(const QString& path, QString* failure);
void event(const QString& line);
void warning(const QString& line);
// An error that ends the server.
void error(const QString& line);
// Whether standard error is the journal's stream, where an error line begins with <3>.
bool errorsToJournal();
// Lets the lines that wait go out, for half a second at most.
void stop();

// Printable form of bytes for a log line: "RX1\r" shows as RX1\r, other control bytes as \xNN.
QString shown(const QByteArray& bytes);

} // namespace serverlog
