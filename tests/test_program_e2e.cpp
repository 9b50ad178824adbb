// SPDX-License-Identifier: GPL-3.0-or-later
// The program as an operator runs it: the zephrin executable with a prepared settings file,
// against zephrin-boxsim, ended by a signal.

#include "pty_pair.h"

#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

TEST(Program, ComesBackToItsSerialBoxAndRemembersWhereItsWindowStood)
{
    // The simulator names its device on its first line, then logs each command it receives.
    QProcess box;
    box.start(ZEPHRIN_BOXSIM, {"--protocol", "otrsp"});
    ASSERT_TRUE(pumpUntil([&] { return box.canReadLine(); }, 5000));
    const QString device = QString::fromLocal8Bit(box.readLine()).trimmed();
    const QTemporaryDir config;
    const QString file = config.filePath("Zephrin/Zephrin.conf");
    {
        QSettings settings(file, QSettings::IniFormat);
        settings.setValue("settings/port", "3");
        settings.setValue("settings/protocol", "1");
        settings.setValue("settings/FormLeft", "1500");
        settings.setValue("serial ports/COM3", device);
    }
    QProcess zephrin;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", config.path());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    zephrin.setProcessEnvironment(environment);
    zephrin.start(ZEPHRIN_PROGRAM, {});
    QByteArray log;
    pumpUntil([&] { return (log += box.readAll()).count("< ") >= 6; }, 5000);
    EXPECT_EQ(QString(log).split('\n').filter("< ").join(' '),
              "< ?TX < ?RX < AUX100 < AUX200 < AUX100 < AUX200");

    // kill ends it as closing the window does.
    const qint64 pid = zephrin.processId();
    ::kill(pid_t(pid), SIGTERM);
    ASSERT_TRUE(zephrin.waitForFinished(5000));
    EXPECT_EQ(zephrin.exitCode(), 0);
    EXPECT_EQ(QSettings(file, QSettings::IniFormat).value("settings/FormLeft"), "1500");
    // The serial port's lock file went with the port.
    QFile lock("/run/lock/LCK.." + QString(device).mid(5).replace('/', '_'));
    EXPECT_FALSE(lock.open(QIODevice::ReadOnly) && lock.readLine().trimmed().toLongLong() == pid);
    box.terminate();
    box.waitForFinished(3000);

    // One signal ends it while start-up's boxes wait for an answer (its device is gone).
    QSettings(file, QSettings::IniFormat).setValue("serial ports/COM3", "/dev/zephrin-missing");
    zephrin.start(ZEPHRIN_PROGRAM, {});
    pumpUntil([] { return false; }, 1000);
    ::kill(pid_t(zephrin.processId()), SIGTERM);
    EXPECT_TRUE(zephrin.waitForFinished(3000));
    EXPECT_EQ(zephrin.exitCode(), 0);
}
