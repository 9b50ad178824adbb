// SPDX-License-Identifier: GPL-3.0-or-later
// zephrin-server as systemd starts it: the key as a credential, the state folder named in
// STATE_DIRECTORY, its output the journal's stream, and the status that bad usage ends it with.
// The build machines have no systemd running, so the test sets what systemd would set.

#include "server_process.h"

#include <QFile>
#include <QRegularExpression>
#include <csignal>

namespace {

TEST(ServerAsService, TakesTheCredentialKeyAgainOnSighupUsesTheStateFolderAndLogsWithPriorities)
{
    QTemporaryDir dir;
    const QString credential = dir.filePath("key");
    QFile key(credential);
    ASSERT_TRUE(key.open(QIODevice::WriteOnly) && key.write("credential key\n"));
    key.close(); // readable by others: a warning
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert("CREDENTIALS_DIRECTORY", dir.path());
    variables.insert("STATE_DIRECTORY", dir.filePath("state"));
    variables.insert("ZEPHRIN_KEY", "environment key");
    const quint16 port = freePort();
    QProcess server;
    server.setProcessEnvironment(variables);
    server.setProcessChannelMode(QProcess::MergedChannels);
    // Its output is the journal's stream: JOURNAL_STREAM names the very pipe it writes to (fd 2:
    // inside $(...) fd 1 is the substitution's), as systemd names its socket.
    server.start("sh",
                 {"-c", R"(JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2) exec "$0" "$@")",
                  ZEPHRIN_SERVER, "--simulate", "otrsp", "--port", QString::number(port),
                  "--key-file", dir.filePath("missing")});
    QString log;
    const auto logged = [&](const QString& pattern) {
        const QRegularExpression line(pattern, QRegularExpression::MultilineOption);
        return pumpUntil([&] { return line.match(log += server.readAll()).hasMatch(); }, 5000);
    };
    ASSERT_TRUE(logged("^<4>zephrin-server: warning: other users can read the key file " +
                       QRegularExpression::escape(credential)));
    QFile environ(QString("/proc/%1/environ").arg(server.processId()));
    ASSERT_TRUE(environ.open(QIODevice::ReadOnly));
    EXPECT_FALSE(environ.readAll().contains("ZEPHRIN_KEY=")) << "the key is not left there";

    // SIGHUP reads the key again.
    ASSERT_TRUE(key.open(QIODevice::WriteOnly | QIODevice::Truncate) && key.write("new key\n"));
    key.close();
    ::kill(pid_t(server.processId()), SIGHUP);
    EXPECT_TRUE(
        logged("^SIGHUP: the key was read again from " + QRegularExpression::escape(credential)))
        << log.toStdString();
    Client client(port);
    client.sendText("TX2\r", "new key");
    EXPECT_EQ(client.receive(1, 3000, "new key"), QStringList{"TX2\r"});
    EXPECT_TRUE(QFile::exists(dir.filePath("state/accepted-salts")));
    server.terminate();
    ASSERT_TRUE(server.waitForFinished(5000));
    EXPECT_EQ(server.exitCode(), 0);
}

// Bad usage ends the server with status 2, which the unit does not restart, and says what is
// wrong and where to look. (What each option takes is the option parser's own test.)
TEST(ServerUsage, EndsWithStatusTwoAndSaysWhatIsWrong)
{
    QProcess server;
    server.start(ZEPHRIN_SERVER, {"--simulate", "otrsp", "--allow", "10.0.0.0/33"});
    ASSERT_TRUE(server.waitForFinished(5000));
    const QString said = server.readAllStandardError();
    EXPECT_EQ(server.exitCode(), 2) << said.toStdString();
    EXPECT_TRUE(said.startsWith("zephrin-server: --allow takes") &&
                said.endsWith("10.0.0.0/33\nSee zephrin-server --help.\n"))
        << said.toStdString();
}

} // namespace
