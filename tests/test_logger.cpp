// SPDX-License-Identifier: GPL-3.0-or-later
// A contest logger beside Zephrin on one box: zephrin-server's logger port (a pty the logger
// opens as its serial port) and its plain TCP port for loggers, with an encrypted client of the
// test on the same simulated box.

#include "server_process.h"

#include <QFile>
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
    window.sendText("TX2\r");
    EXPECT_EQ(window.receive(1), QStringList{"TX2\r"});
    logger->write("?TX\r");
    EXPECT_EQ(logger->read(4), "TX2\r") << "the window's command reached the box";
    EXPECT_TRUE(window.receive(1, 200).isEmpty()) << "the logger's answer is its own";

    // A logger restarted: what the last one left unread is not for the next.
    logger->write("?NAME\r");
    ASSERT_TRUE(server.waitForLog("answer \"?NAME\\r\""));
    logger.reset();
    ASSERT_TRUE(server.waitForLog("closed by the program")); // a restart takes a moment
    logger = std::make_unique<LoggerSide>(link);
    logger->write("?TX\r");
    EXPECT_EQ(logger->read(8, 500), "TX2\r");

    // A window that joins switches no aux output off; it is told the box's state instead.
    Client joining(server.port());
    joining.sendText("AUX100\r");
    EXPECT_EQ(joining.receive(3), (QStringList{"TX2\r", "RX1S\r", "AUX104\r"}));
    EXPECT_TRUE(server.log().contains("\"AUX100\" in its first second kept from the box"));
    EXPECT_TRUE(window.receive(1, 200).isEmpty());
}

TEST(LoggerTcp, ALoggerOnLoopbackIsServedAndAnsweredAlone)
{
    const quint16 loggerPort = freePort();
    Server server({"--simulate", "otrsp", "--logger-tcp", QString::number(loggerPort)});
    Client window(server.port());
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
