// SPDX-License-Identifier: GPL-3.0-or-later
// A contest logger beside Zephrin on one box: zephrin-server's logger port (a pty the logger
// opens as its serial port) and its plain TCP port for loggers, with an encrypted client of the
// test on the same simulated box.

#include "boxprotocol/command_set.h"
#include "cipher/encrypted_text.h"
#include "server/options.h"
#include "server_process.h"

#include <QFile>
#include <QTcpSocket>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct Window {
    QTcpSocket socket;
    QByteArray received;

    explicit Window(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        EXPECT_TRUE(socket.waitForConnected(3000));
    }
    void send(const QString& text)
    {
        socket.write(EncryptText(text, Key).toLatin1());
        socket.flush();
    }
    QStringList receive(int count, int timeoutMs = 3000)
    {
        pumpUntil([&] { return (received += socket.readAll()).count("U2FsdGVkX1") >= count; },
                  timeoutMs);
        pumpUntil([] { return false; }, 30); // the last one's end
        QByteArray all = std::exchange(received, {}) + socket.readAll();
        QStringList texts;
        for (const QByteArray& piece : all.replace("U2FsdGVkX1", "\nU2FsdGVkX1").split('\n'))
            if (!piece.isEmpty())
                texts << DecryptText(QString::fromLatin1(piece), Key);
        return texts;
    }
};

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
    QByteArray read(int count, int timeoutMs = 2000)
    {
        QByteArray bytes;
        pumpUntil(
            [&] {
                char chunk[64];
                const ssize_t n = ::read(fd, chunk, sizeof chunk);
                bytes.append(chunk, std::max<ssize_t>(n, 0));
                return bytes.size() >= count;
            },
            timeoutMs);
        return bytes;
    }
};

} // namespace

TEST(BoxProtocol, ALoggersCommandsAreReportedInTheWindowsOwnTokens)
{
    const std::pair<const char*, const char*> tokens[] = {
        {"AUX14", "AUX104"}, {"AUX10", "AUX100"},  {"AUX2015", "AUX215"}, {"RX2S", "RX1S"},
        {"RX1R", "RX1S"},    {"RX2R", "RX1S"},     {"AS107", "AS107"},    {"TX2", "TX2"},
        {"AUX116", nullptr}, {"AUX2104", nullptr}, {"?TX", nullptr},      {"RX3", nullptr}};
    for (const auto& [command, token] : tokens)
        EXPECT_EQ(windowToken(command), token ? std::optional<QByteArray>(token) : std::nullopt)
            << command;
}

TEST(LoggerPort, ALoggerAndAWindowShareTheBoxAndEachGetsItsOwnAnswers)
{
    QTemporaryDir dir;
    const QString link = dir.filePath("logger-com5");
    Server server({"--simulate", "otrsp", "--logger-port", link});
    Window window(server.port());
    window.send("RX1\r");
    EXPECT_EQ(window.receive(1), QStringList{"RX1\r"});

    auto logger = std::make_unique<LoggerSide>(link);
    logger->write("AUX14\rRX2R\r");
    EXPECT_EQ(window.receive(2), (QStringList{"AUX104\r", "RX1S\r"}));
    window.send("TX2\r");
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
    Window joining(server.port());
    joining.send("AUX100\r");
    EXPECT_EQ(joining.receive(3), (QStringList{"TX2\r", "RX1S\r", "AUX104\r"}));
    EXPECT_TRUE(server.log().contains("\"AUX100\" in its first second kept from the box"));
    EXPECT_TRUE(window.receive(1, 200).isEmpty());
}

TEST(LoggerTcp, ALoggerOnLoopbackIsServedAndOnTheNetworkOnlyWithAllow)
{
    const quint16 loggerPort = freePort();
    Server server({"--simulate", "otrsp", "--logger-tcp", QString::number(loggerPort)});
    Window window(server.port());
    window.send("RX2\r");
    EXPECT_EQ(window.receive(1), QStringList{"RX2\r"});
    QTcpSocket logger;
    logger.connectToHost(QHostAddress::LocalHost, loggerPort);
    ASSERT_TRUE(logger.waitForConnected(3000));
    logger.write("TX2\r?RX\r");
    EXPECT_EQ(window.receive(1), QStringList{"TX2\r"});
    EXPECT_TRUE(pumpUntil([&] { return logger.bytesAvailable() >= 4; }));
    EXPECT_EQ(logger.readAll(), "RX2\r");

    const auto parse = [](const QStringList& arguments) {
        return parseCommandLine(QStringList{"zephrin-server", "--simulate", "otrsp"} + arguments)
            .outcome;
    };
    EXPECT_EQ(parse({"--logger-tcp", "192.0.2.7:4532"}), ParsedCommandLine::Outcome::UsageError);
    EXPECT_EQ(parse({"--logger-tcp", "192.0.2.7:4532", "--allow", "192.0.2.0/24"}),
              ParsedCommandLine::Outcome::Run);
}
