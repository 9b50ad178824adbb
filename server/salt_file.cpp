// SPDX-License-Identifier: GPL-3.0-or-later
#include "salt_file.h"

#include "log.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

SaltFile::~SaltFile()
{
    if (fd_ >= 0) {
        ::fdatasync(fd_);
        ::close(fd_);
    }
}

bool SaltFile::open(const QString& folder, SeenSalts& salts, QString* failure)
{
    if (!QDir().mkpath(folder) ||
        !QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        *failure = QString("cannot make the state folder %1 for this user. Name a folder this "
                           "user may write to with --state-dir")
                       .arg(folder);
        return false;
    }
    path_ = QDir(folder).filePath(FileName);
    QFile file(path_);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            *failure = QString("cannot read %1: %2. Let this user read and write it, or name "
                               "another folder with --state-dir")
                           .arg(path_, file.errorString());
            return false;
        }
        const QByteArray bytes = file.readAll();
        for (qsizetype at = 0; at + 8 <= bytes.size(); at += 8)
            salts.remember(qFromBigEndian<quint64>(bytes.constData() + at));
        inFile_ = std::size_t(bytes.size() / 8);
    }
    salts_ = &salts;
    // The file keeps what the memory keeps; once it holds twice as much it is written anew.
    if (inFile_ > 2 * SeenSalts::Capacity && !rewrite(salts)) {
        *failure = QString("cannot write %1 anew. Let this user write the folder, or name "
                           "another with --state-dir")
                       .arg(path_);
        return false;
    }
    fd_ = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                 0600);
    if (fd_ < 0) {
        *failure = QString("cannot write %1: %2. Let this user write it, or name another "
                           "folder with --state-dir")
                       .arg(path_, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

void SaltFile::append(quint64 salt)
{
    if (fd_ < 0)
        return;
    char bytes[8];
    qToBigEndian(salt, bytes);
    if (::write(fd_, bytes, sizeof bytes) != qsizetype(sizeof bytes)) {
        // The memory still refuses the message until the server stops; after a restart it
        // would not.
        if (!std::exchange(writeFailed_, true))
            serverlog::warning(QString("zephrin-server: warning: cannot add to %1: %2; messages "
                                       "accepted from now on could be replayed after a restart. "
                                       "Free space on its disk or let this user write it")
                                   .arg(path_, QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    writeFailed_ = false;
    ++inFile_;
    if (++unsynced_ >= SyncEvery) {
        ::fdatasync(fd_);
        unsynced_ = 0;
    }
    if (inFile_ > 2 * SeenSalts::Capacity && salts_ && rewrite(*salts_)) {
        ::close(fd_);
        fd_ = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    }
}

bool SaltFile::rewrite(const SeenSalts& salts)
{
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray bytes;
    for (const quint64 salt : salts.inOrder()) {
        char one[8];
        qToBigEndian(salt, one);
        bytes.append(one, 8);
    }
    file.write(bytes);
    if (!file.commit())
        return false;
    QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner);
    inFile_ = salts.size();
    return true;
}

QString defaultStateFolder()
{
    // systemd may name several folders, separated by colons: the first is the server's.
    QString systemd = qEnvironmentVariable("STATE_DIRECTORY").section(':', 0, 0);
    if (!systemd.isEmpty())
        return systemd;
    const QString xdg = qEnvironmentVariable("XDG_STATE_HOME");
    return (xdg.isEmpty() ? QDir::homePath() + "/.local/state" : xdg) + "/zephrin";
}
