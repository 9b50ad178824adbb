// SPDX-License-Identifier: GPL-3.0-or-later
// A contest logger beside Zephrin on one box: zephrin-server's logger port (a pty the logger
// opens as its serial port) and its plain TCP port for loggers, with an encrypted client of the
// test on the same simulated box.

#include "server_process.h"

#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The logger's side of the logger port, opened as a logger opens its serial port.
struct LoggerSide {
    int fd;
    explicit LoggerSide(const QString& path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        EXPECT_GE(fd, 0);
    }
    ~LoggerSide() { ::close(fd); }
    void write(const QByteArray& line)
    {
        EXPECT_EQ(::write(fd, line.data(), line.size()), line.size());
    }
    QByteArray read(int count, int timeoutMs = 2000) { return readFrom(fd, count, timeoutMs); }
};

} // namespace

TEST(LoggerPort, ALoggerAndAWindowShareTheBoxAndEachGetsItsOwnAnswers)
{
    QTemporaryDir dir;
    const QString link = dir.filePath("logger-com5");
    Server server({"--simulate", "otrsp", "--logger-port", link});
    Client window(server.port());
    window.sendText("RX1\r");
    EXPECT_EQ(window.receive(1), QStringList{"RX1\r"});

    auto logger = std::make_unique<LoggerSide>(link);
    logger->write("AUX14\rRX2R\r");
    EXPECT_EQ(window.receive(2), (QStringList{"AUX104\r", "RX1S\r"}));
    // Its own event switch: told the state at once, then every change, whoever made it.
    logger->write("ETX1\r");
    EXPECT_EQ(logger->read(5), "$TX1\r");
    window.sendText("TX2\r");
    EXPECT_EQ(window.receive(1), QStringList{"TX2\r"});
    EXPECT_EQ(logger->read(5), "$TX2\r");
    logger->write("?TX\r");
    EXPECT_EQ(logger->read(4), "TX2\r") << "the window's command reached the box";
    EXPECT_TRUE(window.receive(1, 200).isEmpty()) << "the logger's answer is its own";

    // A band change of 2000 lines in one write: the box ends where the logger left it.
    QByteArray burst;
    for (int i = 0; i < 1000; ++i)
        burst += QByteArray("AUX1") + QByteArray::number(i % 16) + "\rRX" +
                 QByteArray::number(i % 2 + 1) + "\r";
    logger->write(burst + "?AUX1\r?RX\r");
    EXPECT_EQ(logger->read(10, 5000), "AUX17\rRX2\r");
    const QStringList reports = window.receive(2000, 300);
    EXPECT_EQ(reports.mid(reports.size() - 2), (QStringList{"AUX107\r", "RX2\r"}));

    // A logger restarted: what the last one left unread is not for the next.
    logger->write("?NAME\r");
    ASSERT_TRUE(server.waitForLog("answer \"NAMEZephrinSim\\r\""));
    logger.reset();
    ASSERT_TRUE(server.waitForLog("closed by the program")); // a restart takes a moment
    logger = std::make_unique<LoggerSide>(link);
    logger->write("?TX\r");
    EXPECT_EQ(logger->read(8, 500), "TX2\r") << "and no event: the new one has not asked";

    // A window that joins switches no aux output off; it is told the box's state instead.
    Client joining(server.port());
    joining.sendText("AUX100\r");
    EXPECT_EQ(joining.receive(3), (QStringList{"TX2\r", "RX2\r", "AUX107\r"}));
    EXPECT_TRUE(server.log().contains("\"AUX100\" in its first second kept from the box"));
    EXPECT_TRUE(window.receive(1, 200).isEmpty());
}

TEST(LoggerTcp, ALoggerOnLoopbackIsServedAndAnsweredAloneWhateverAllowSays)
{
    const quint16 loggerPort = freePort();
    Server server({"--simulate", "otrsp", "--logger-tcp", QString::number(loggerPort), "--allow",
                   "127.0.0.2"});
    Client window(server.port(), "127.0.0.2");
    window.sendText("RX2\r");
    EXPECT_EQ(window.receive(1), QStringList{"RX2\r"});
    QTcpSocket logger;
    logger.connectToHost(QHostAddress::LocalHost, loggerPort);
    ASSERT_TRUE(logger.waitForConnected(3000));
    logger.write("TX2\r?RX\r");
    EXPECT_EQ(window.receive(1), QStringList{"TX2\r"});
    EXPECT_TRUE(pumpUntil([&] { return logger.bytesAvailable() >= 4; }));
    EXPECT_EQ(logger.readAll(), "RX2\r");
}

// A logger that takes its port for itself, as Qt's serial port does, and crashes in the middle
// of a line: its next start opens the port, and the line left unfinished is not the start of its
// first command. Root ignores the exclusive flag, so the logger here runs as nobody.
TEST(LoggerPort, ALoggerThatCrashedHoldingThePortStartsAgainOnIt)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "playing an unprivileged logger needs root, to switch to nobody";
    QTemporaryDir dir;
    const QString link = dir.filePath("logger");
    Server server({"--simulate", "otrsp", "--logger-port", link});
    const QString device = QFileInfo(link).symLinkTarget();
    ASSERT_EQ(::chmod(QFile::encodeName(device).constData(), 0666), 0);
    const QString crashing = "import fcntl, os, sys, termios\n"
                             "fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)\n"
                             "fcntl.ioctl(fd, termios.TIOCEXCL)\n"
                             "os.write(fd, b'TX')\n"
                             "os.kill(os.getpid(), 9)\n";
    for (int start = 1; start <= 2; ++start) {
        EXPECT_EQ(QProcess::execute("setpriv", {"--reuid=nobody", "--regid=nogroup",
                                                "--clear-groups", "/usr/bin/python3", "-c", crashing,
                                                device}),
                  -1)
            << "start " << start << " opened the port and crashed";
        ASSERT_TRUE(pumpUntil([&] { return server.log().count("closed by the program") == start; }));
    }
    LoggerSide logger(link);
    logger.write("TX2\r?TX\r");
    EXPECT_EQ(logger.read(4), "TX2\r");
}
