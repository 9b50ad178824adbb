#include "log.h"

#include <QTime>
#include <cstdio>

namespace serverlog {

namespace {
bool quietLog = false;

void writeLine(std::FILE* stream, const QString& line)
{
    const QByteArray text =
        (QTime::currentTime().toString("HH:mm:ss.zzz ") + line + '\n').toLocal8Bit();
    std::fwrite(text.constData(), 1, size_t(text.size()), stream);
    // Each line goes out whole at once, also when the log is a pipe or the journal.
    std::fflush(stream);
}
} // namespace

void setQuiet(bool quiet)
{
    quietLog = quiet;
}

void event(const QString& line)
{
    if (!quietLog)
        writeLine(stdout, line);
}

void warning(const QString& line)
{
    writeLine(stderr, line);
}

QString shown(const QByteArray& bytes)
{
    QString out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\r')
            out += "\\r";
        else if (byte == '\\')
            out += "\\\\";
        else if (byte < 32 || byte >= 127)
            out += "\\x" + QString::number(byte, 16).rightJustified(2, '0').toUpper();
        else
            out += QChar(byte);
    }
    return out;
}

} // namespace serverlog
