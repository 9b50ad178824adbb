#pragma once

// The server's log: one line per event on standard output (none with --quiet), warnings and
// fatal errors on standard error whatever --quiet says. With a log file, every event and
// warning is also appended there, with the date, whatever --quiet says. Writing never holds the
// caller: lines go out on a thread of their own.

#include <QByteArray>
#include <QString>

namespace serverlog {

void setQuiet(bool quiet);
// Appends to the file from now on; false, with the reason, when it cannot be opened.
bool appendTo(const QString& path, QString* failure);
void event(const QString& line);
void warning(const QString& line);
// Lets the lines that wait go out, for half a second at most.
void stop();

// Printable form of bytes for a log line: "RX1\r" shows as RX1\r, other control bytes as \xNN.
QString shown(const QByteArray& bytes);

} // namespace serverlog
