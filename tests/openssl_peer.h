// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The `openssl enc` command as the independent peer of the message format.

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

inline QByteArray runOpenssl(const QStringList& arguments, const QByteArray& input)
{
    QProcess openssl;
    openssl.start("openssl", arguments);
    EXPECT_TRUE(openssl.waitForStarted(10000)) << "the openssl command is needed";
    openssl.write(input);
    openssl.closeWriteChannel();
    EXPECT_TRUE(openssl.waitForFinished(30000));
    EXPECT_EQ(openssl.exitCode(), 0) << openssl.readAllStandardError().toStdString();
    return openssl.readAllStandardOutput();
}

// The options under which the openssl command reads and writes Zephrin's encrypted text.
inline QStringList messageFormat(const QString& key, bool decrypt)
{
    const QString options = "enc -aes-256-ctr -pbkdf2 -md sha512 -iter 10000 -a -A";
    return options.split(' ') + QStringList{decrypt ? "-d" : "-e", "-pass", "pass:" + key};
}

// Raw AES-256-CTR under a given key and initial counter block, without any derivation.
inline QByteArray opensslCtr(const QByteArray& key, const QByteArray& iv, const QByteArray& data)
{
    return runOpenssl({"enc", "-aes-256-ctr", "-nosalt", "-K", key.toHex(), "-iv", iv.toHex()},
                      data);
}
