// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The salts of the messages the server accepted, kept in a file in the state folder, so that a
// message captured before a restart is a replay after it too. Each salt is written before its
// command goes to the box; the file is synced to the disk every few salts.

#include "seen_salts.h"

#include <QString>

class SaltFile {
public:
    static constexpr const char* FileName = "accepted-salts";
    static constexpr std::size_t SyncEvery = 16;

    SaltFile() = default;
    ~SaltFile();
    SaltFile(const SaltFile&) = delete;
    SaltFile& operator=(const SaltFile&) = delete;

    // Makes the folder (for this user only) if it is missing, reads the salts the file holds
    // into `salts`, and keeps the file open to add to it. False, with the reason, when the
    // folder or the file cannot be used.
    bool open(const QString& folder, SeenSalts& salts, QString* failure);
    void append(quint64 salt);

private:
    // Writes the salts the memory holds, oldest first, as the whole file.
    bool rewrite(const SeenSalts& salts);

    QString path_;
    int fd_ = -1;
    std::size_t inFile_ = 0;
    std::size_t unsynced_ = 0;
    bool writeFailed_ = false; // said once until a write succeeds again
    const SeenSalts* salts_ = nullptr;
};

// Where the state lives unless --state-dir says: systemd's StateDirectory, else the XDG state
// folder of the user.
QString defaultStateFolder();
