#include "log.h"

#include <QDateTime>
#include <QFile>
#include <cstdio>

namespace serverlog {

namespace {
bool quietLog = false;
QFile* logFile = nullptr; // lives as long as the program

void writeLine(std::FILE* stream, const QString& line)
{
    const QDateTime now = QDateTime::currentDateTime();
    if (stream) {
        const QByteArray text = (now.toString("HH:mm:ss.zzz ") + line + '\n').toLocal8Bit();
        std::fwrite(text.constData(), 1, size_t(text.size()), stream);
        // Each line goes out whole at once, also when the log is a pipe or the journal.
        std::fflush(stream);
    }
    if (logFile) {
        logFile->write((now.toString("yyyy-MM-dd HH:mm:ss.zzz ") + line + '\n').toUtf8());
        logFile->flush();
    }
}
} // namespace

void setQuiet(bool quiet)
{
    quietLog = quiet;
}

bool appendTo(const QString& path, QString* failure)
{
    auto* file = new QFile(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        *failure = file->errorString();
        delete file;
        return false;
    }
    delete logFile;
    logFile = file;
    return true;
}

void event(const QString& line)
{
    writeLine(quietLog ? nullptr : stdout, line);
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
        else if (byte == '\\' || byte == '"')
            out += QString("\\") + QChar(byte);
        else if (byte < 32 || byte >= 127)
            out += "\\x" + QString::number(byte, 16).rightJustified(2, '0').toUpper();
        else
            out += QChar(byte);
    }
    return out;
}

} // namespace serverlog
