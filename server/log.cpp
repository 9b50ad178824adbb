// SPDX-License-Identifier: GPL-3.0-or-later
#include "log.h"

#include <QDateTime>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace serverlog {

namespace {

// Lines are written by a thread of their own, so that a log that nobody reads (a full pipe, a
// stalled disk) never holds the event loop: past MaxWaitingLines, lines are dropped, and the
// log says how many once it moves again.
class Writer {
public:
    static constexpr std::size_t MaxWaitingLines = 4096;

    void add(int fd, QByteArray text, QByteArray forFile)
    {
        {
            const std::lock_guard lock(mutex_);
            if (!thread_.joinable())
                thread_ = std::thread([this] { run(); });
            if (waiting_.size() >= MaxWaitingLines) {
                ++dropped_;
                return;
            }
            waiting_.push_back({fd, std::move(text), std::move(forFile)});
        }
        wake_.notify_one();
    }

    // The log file, open for writing; set once, before the first line.
    void setFile(int fd)
    {
        const std::lock_guard lock(mutex_);
        fileFd_ = fd;
    }

    // Lets what waits go out for a moment at most, then stops.
    void stop()
    {
        {
            std::unique_lock lock(mutex_);
            if (!thread_.joinable())
                return;
            drained_.wait_for(lock, std::chrono::milliseconds(500),
                              [this] { return waiting_.empty() && !writing_; });
            stopping_ = true;
        }
        wake_.notify_one();
        // A writer stuck on a pipe that nobody reads is left behind; the process ends anyway.
        thread_.detach();
    }

private:
    struct Line {
        int fd;
        QByteArray text, forFile;
    };

    void run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
            if (stopping_)
                return;
            Line line = std::move(waiting_.front());
            waiting_.pop_front();
            const std::size_t dropped = std::exchange(dropped_, 0);
            writing_ = true;
            lock.unlock();
            if (dropped > 0) {
                const QByteArray note =
                    QString("%1 log lines dropped: the log was not read fast enough\n")
                        .arg(dropped)
                        .toLocal8Bit();
                writeAll(STDERR_FILENO, note);
            }
            if (line.fd >= 0)
                writeAll(line.fd, line.text);
            // Never under the lock: a stalled file holds this thread alone.
            if (fileFd_ >= 0 && !line.forFile.isEmpty())
                writeAll(fileFd_, line.forFile);
            lock.lock();
            writing_ = false;
            if (waiting_.empty())
                drained_.notify_all();
        }
    }

    static void writeAll(int fd, const QByteArray& text)
    {
        for (qsizetype done = 0; done < text.size();) {
            const ssize_t written =
                ::write(fd, text.constData() + done, std::size_t(text.size() - done));
            if (written <= 0)
                return;
            done += written;
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, drained_;
    std::deque<Line> waiting_;
    std::size_t dropped_ = 0;
    bool writing_ = false;
    bool stopping_ = false;
    int fileFd_ = -1;
    std::thread thread_;
};

// Never destroyed: a writer stuck on a pipe may outlive main.
Writer& writer()
{
    static auto* instance = new Writer;
    return *instance;
}

bool quietLog = false;

// Whether fd is the journal's stream: JOURNAL_STREAM holds its device and inode as
// "DEVICE:INODE". A shell started from a desktop service inherits the variable while its own
// output is a terminal, so the variable alone does not say it.
bool isJournalStream(int fd)
{
    const QByteArray named = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = named.indexOf(':');
    struct stat info {};
    if (colon < 0 || ::fstat(fd, &info) != 0)
        return false;
    bool deviceOk = false, inodeOk = false;
    const qulonglong device = named.left(colon).toULongLong(&deviceOk);
    const qulonglong inode = named.mid(colon + 1).toULongLong(&inodeOk);
    return deviceOk && inodeOk && device == info.st_dev && inode == info.st_ino;
}

// sd-daemon priorities.
enum class Priority { Event, Warning, Error };

void writeLine(int fd, Priority priority, const QString& line)
{
    static const bool journalOut = isJournalStream(STDOUT_FILENO);
    const QDateTime now = QDateTime::currentDateTime();
    QString text = now.toString("HH:mm:ss.zzz ") + line + '\n';
    if ((fd == STDOUT_FILENO && journalOut) || (fd == STDERR_FILENO && errorsToJournal()))
        text = (priority == Priority::Error     ? "<3>"
                : priority == Priority::Warning ? "<4>"
                                                : "") +
               line + '\n';
    writer().add(fd, text.toLocal8Bit(),
                 (now.toString("yyyy-MM-dd HH:mm:ss.zzz ") + line + '\n').toUtf8());
}
} // namespace

bool errorsToJournal()
{
    static const bool journal = isJournalStream(STDERR_FILENO);
    return journal;
}

void setQuiet(bool quiet)
{
    quietLog = quiet;
}

bool appendTo(const QString& path, QString* failure)
{
    // Not blocking at the open: a FIFO that nobody reads is refused, not waited for.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0640);
    if (fd < 0) {
        *failure = errno == ENXIO ? QString("it is a FIFO that no program reads")
                                  : QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    ::fcntl(fd, F_SETFL, O_APPEND);
    writer().setFile(fd);
    return true;
}

void event(const QString& line)
{
    writeLine(quietLog ? -1 : STDOUT_FILENO, Priority::Event, line);
}

void warning(const QString& line)
{
    writeLine(STDERR_FILENO, Priority::Warning, line);
}

void error(const QString& line)
{
    writeLine(STDERR_FILENO, Priority::Error, line);
}

void stop()
{
    writer().stop();
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
