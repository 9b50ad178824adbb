// SPDX-License-Identifier: GPL-3.0-or-later
// zephrin-server as systemd starts it: the key as a credential, the state folder named in
// STATE_DIRECTORY, its output the journal's stream. The build machines have no systemd running,
// so the test sets what systemd would set.

#include "form_fixture.h"
#include "platform/qt/event_gate.h"
#include "platform/qt/qt_launcher.h"
#include "server_process.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <csignal>

namespace {

// The server with its output the journal's stream: JOURNAL_STREAM names the very pipe it
// writes to (fd 2: inside $(...) fd 1 is the substitution's), as systemd names its socket.
void startAsService(QProcess& process, const QStringList& environment, QStringList arguments)
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.remove("ZEPHRIN_KEY");
    for (const QString& variable : environment)
        variables.insert(variable.section('=', 0, 0), variable.section('=', 1));
    process.setProcessEnvironment(variables);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start("sh", QStringList{"-c",
                                    "JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2) "
                                    "exec \"$0\" \"$@\"",
                                    ZEPHRIN_SERVER} +
                            arguments);
}

TEST(ServerAsService, TakesTheCredentialKeyAndTheStateFolderAndLogsWithPriorities)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("credentials");
    const QString credential = dir.filePath("credentials/key");
    QFile key(credential);
    ASSERT_TRUE(key.open(QIODevice::WriteOnly));
    key.write("credential key\n");
    key.close(); // readable by others: a warning
    QProcess server;
    startAsService(server,
                   {"CREDENTIALS_DIRECTORY=" + dir.filePath("credentials"),
                    "STATE_DIRECTORY=" + dir.filePath("state"), "ZEPHRIN_KEY=environment key"},
                   {"--simulate", "otrsp", "--port", QString::number(freePort()), "--key-file",
                    dir.filePath("missing")});
    QString log;
    const auto logged = [&](const QString& pattern) {
        const QRegularExpression line(pattern, QRegularExpression::MultilineOption);
        return pumpUntil([&] { return line.match(log += server.readAll()).hasMatch(); }, 5000);
    };
    ASSERT_TRUE(logged("^listening on 127.0.0.1")) << log.toStdString();
    EXPECT_TRUE(logged("^<4>zephrin-server: warning: other users can read the key file " +
                       QRegularExpression::escape(credential)));
    ::kill(pid_t(server.processId()), SIGHUP);
    EXPECT_TRUE(
        logged("^SIGHUP: the key was read again from " + QRegularExpression::escape(credential)))
        << log.toStdString();
    EXPECT_TRUE(QFile::exists(dir.filePath("state/accepted-salts")));
    server.terminate();
    ASSERT_TRUE(server.waitForFinished(5000));
    EXPECT_EQ(server.exitCode(), 0);

    // The unit before the operator named the box.
    QProcess unconfigured;
    startAsService(unconfigured, {}, {"--device", ""});
    ASSERT_TRUE(unconfigured.waitForFinished(5000));
    EXPECT_EQ(unconfigured.exitCode(), 6);
    EXPECT_TRUE(unconfigured.readAll().startsWith("<3>zephrin-server: no box is configured"));
}

// The desktop found no program for a help file: xdg-open says so only when it ends.
TEST(HelpWithoutAViewer, TheOpenersStatusReachesTheWindowAndTheGuideIsOfferedAsWebPages)
{
    QTemporaryDir bin;
    QFile opener(bin.filePath("xdg-open"));
    ASSERT_TRUE(opener.open(QIODevice::WriteOnly));
    opener.write("#!/bin/sh\n[ \"$1\" = /found ] || exit 3\n");
    opener.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    opener.close();
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + path);
    EventGate gate;
    QtLauncher launcher(gate);
    QStringList unopened;
    launcher.onNoViewer([&](const QString& file) { unopened << file; });
    launcher.openDocument("/found");
    launcher.openDocument("/usr/lib/zephrin/Zephrin.chm");
    EXPECT_TRUE(pumpUntil([&] { return !unopened.isEmpty(); }, 5000));
    pumpUntil([] { return false; }, 200);
    qputenv("PATH", path);
    EXPECT_EQ(unopened, QStringList{"/usr/lib/zephrin/Zephrin.chm"});

    FakePlatform fakes;
    frmZephrin form{fakes.bundle()};
    fakes.ui.dialog.yesNoAnswer = MsgBoxAnswer::Yes;
    form.launcher_NoViewer("/opt/zephrin/Zephrin.chm");
    form.launcher_NoViewer("/opt/zephrin/readme.txt");
    const QStringList boxes = fakes.ui.dialog.prompts();
    ASSERT_EQ(boxes.size(), 2);
    EXPECT_TRUE(boxes[0].contains("/opt/zephrin/Zephrin.chm") &&
                boxes[0].contains("apt install xchm"));
    ASSERT_EQ(fakes.launcher.opened.size(), 1);
    EXPECT_TRUE(fakes.launcher.opened[0].endsWith("/doc/zephrin/html/index.html"));
    EXPECT_TRUE(boxes[0].contains(fakes.launcher.opened[0]));
    EXPECT_TRUE(boxes[1].contains("/opt/zephrin/readme.txt"));
}

} // namespace
