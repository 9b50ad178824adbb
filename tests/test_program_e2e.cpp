// The installed program as an operator runs it: the zephrin executable with a prepared settings
// file, against zephrin-boxsim and zephrin-server, ended by a signal.

#include "box_sim.h"
#include "server_process.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <csignal>

namespace {

class Program {
public:
    // zephrin on Qt's offscreen platform, with a settings file of the given values.
    explicit Program(const std::map<QString, QString>& settings)
    {
        QSettings file(config_.filePath("Zephrin/Zephrin.conf"), QSettings::IniFormat);
        for (const auto& [key, value] : settings)
            file.setValue(key, value);
        file.sync();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", config_.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process_.setProcessEnvironment(environment);
        process_.start(ZEPHRIN_PROGRAM, {});
        EXPECT_TRUE(process_.waitForStarted(5000));
    }
    ~Program()
    {
        if (process_.state() != QProcess::NotRunning)
            process_.kill();
        process_.waitForFinished(3000);
    }
    // Ends it as `kill` does; true when it ended by itself, cleanly.
    bool terminate()
    {
        ::kill(pid_t(process_.processId()), SIGTERM);
        return process_.waitForFinished(5000) && process_.exitStatus() == QProcess::NormalExit &&
               process_.exitCode() == 0;
    }
    qint64 pid() const { return process_.processId(); }
    QString setting(const QString& key) const
    {
        return QSettings(config_.filePath("Zephrin/Zephrin.conf"), QSettings::IniFormat)
            .value(key)
            .toString();
    }

private:
    QTemporaryDir config_;
    QProcess process_;
};

TEST(Program, ComesBackToItsSerialBoxAndRemembersWhereItsWindowStood)
{
    BoxSim box("otrsp");
    Program zephrin({{"settings/port", "3"},
                     {"settings/protocol", "1"},
                     {"settings/FormLeft", "1500"},
                     {"settings/FormTop", "900"},
                     {"serial ports/COM3", box.device()}});
    pumpUntil([&] { return box.received().size() >= 6; }, 5000);
    EXPECT_EQ(box.received(),
              (QStringList{"< ?TX", "< ?RX", "< AUX100", "< AUX200", "< AUX100", "< AUX200"}));
    const qint64 pid = zephrin.pid();
    ASSERT_TRUE(zephrin.terminate());
    EXPECT_EQ(zephrin.setting("settings/FormLeft"), "1500");
    EXPECT_EQ(zephrin.setting("settings/FormTop"), "900");
    // The serial port's lock file went with the port.
    const QString lock = "/run/lock/LCK.." + box.device().mid(5).replace('/', '_');
    QFile lockFile(lock);
    EXPECT_FALSE(lockFile.open(QIODevice::ReadOnly) &&
                 lockFile.readLine().trimmed().toLongLong() == pid);
}

TEST(Program, ConnectsToTheServerByItselfWhenAsked)
{
    // The TCP entries name the server's port, so the test needs that one free.
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 9875))
        GTEST_SKIP() << "port 9875 is in use";
    probe.close();
    Server server({"--simulate", "otrsp"}, "Zephrin", 9875);
    Program zephrin({{"settings/port", "9875"},
                     {"settings/protocol", "1"},
                     {"settings/autoconnect", "1"},
                     {"settings/host", "127.0.0.1"}});
    EXPECT_TRUE(server.waitForLog("text received \"AUX200\\r\""));
    for (const char* command : {"?TX", "?RX", "AUX100"})
        EXPECT_TRUE(server.log().contains(QString("text received \"%1\\r\"").arg(command)));
    EXPECT_TRUE(zephrin.terminate());
}

} // namespace
