#include "log.h"

#include <QDateTime>
#include <QFile>
#include <condition_variable>
#include <deque>
#include <mutex>
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

    void setFile(QFile* file)
    {
        const std::lock_guard lock(mutex_);
        file_.reset(file);
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
            lock.lock();
            if (file_ && !line.forFile.isEmpty()) {
                file_->write(line.forFile);
                file_->flush();
            }
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
    std::unique_ptr<QFile> file_;
    std::thread thread_;
};

// Never destroyed: a writer stuck on a pipe may outlive main.
Writer& writer()
{
    static auto* instance = new Writer;
    return *instance;
}

bool quietLog = false;

void writeLine(int fd, const QString& line)
{
    const QDateTime now = QDateTime::currentDateTime();
    writer().add(fd, (now.toString("HH:mm:ss.zzz ") + line + '\n').toLocal8Bit(),
                 (now.toString("yyyy-MM-dd HH:mm:ss.zzz ") + line + '\n').toUtf8());
}
} // namespace

void setQuiet(bool quiet)
{
    quietLog = quiet;
}

bool appendTo(const QString& path, QString* failure)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        *failure = file->errorString();
        return false;
    }
    writer().setFile(file.release());
    return true;
}

void event(const QString& line)
{
    writeLine(quietLog ? -1 : STDOUT_FILENO, line);
}

void warning(const QString& line)
{
    writeLine(STDERR_FILENO, line);
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
