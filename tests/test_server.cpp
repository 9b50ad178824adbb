// zephrin-server as a process on loopback, driven by clients of the test: the openssl command,
// raw sockets writing split and batched messages, and a pty playing the box.

#include "cipher/encrypted_text.h"
#include "openssl_peer.h"
#include "pty_pair.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QString Key = "shack key";

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The server on a port of the test's choosing, stopped with SIGTERM at the end.
class Server {
public:
    explicit Server(QStringList arguments, const QString& environmentKey = Key)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ZEPHRIN_KEY", environmentKey);
        process_.setProcessEnvironment(environment);
        port_ = freePort();
        process_.start(ZEPHRIN_SERVER, arguments << "--port" << QString::number(port_));
        EXPECT_TRUE(waitForLog("listening on")) << log_.toStdString();
    }
    ~Server()
    {
        process_.terminate();
        EXPECT_TRUE(process_.waitForFinished(5000));
        EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process_.exitCode(), 0);
        if (process_.state() != QProcess::NotRunning)
            process_.kill();
        process_.waitForFinished(3000);
    }
    quint16 port() const { return port_; }
    bool waitForLog(const QString& text, int timeoutMs = 5000)
    {
        return pumpUntil([&] { return log().contains(text); }, timeoutMs);
    }
    QString log()
    {
        log_ += QString::fromLocal8Bit(process_.readAllStandardOutput());
        return log_;
    }

private:
    QProcess process_;
    quint16 port_ = 0;
    QString log_;
};

class Client {
public:
    explicit Client(quint16 port)
    {
        socket_.connectToHost(QHostAddress::LocalHost, port);
        EXPECT_TRUE(socket_.waitForConnected(3000));
    }
    void send(const QByteArray& bytes)
    {
        socket_.write(bytes);
        socket_.flush();
    }
    void sendText(const QString& text, const QString& key = Key)
    {
        send(EncryptText(text, key).toLatin1());
    }
    // The raw messages received once `count` of them have begun, each one piece.
    QList<QByteArray> receiveRaw(int count, int timeoutMs = 3000)
    {
        pumpUntil([&] { return pending().count(EncryptedTextPrefix) >= count; }, timeoutMs);
        pumpUntil([] { return false; }, 30); // the last one's end
        QList<QByteArray> messages;
        const QByteArray data = pending();
        for (qsizetype start = data.indexOf(EncryptedTextPrefix); start >= 0;) {
            const qsizetype next = data.indexOf(EncryptedTextPrefix, start + 1);
            messages.append(data.mid(start, next < 0 ? -1 : next - start));
            start = next;
        }
        received_.clear();
        return messages;
    }
    QStringList receive(int count, int timeoutMs = 3000)
    {
        QStringList texts;
        for (const QByteArray& message : receiveRaw(count, timeoutMs))
            texts << DecryptText(QString::fromLatin1(message), Key);
        return texts;
    }
    bool isDisconnected(int timeoutMs = 3000)
    {
        return pumpUntil([&] { return socket_.state() == QAbstractSocket::UnconnectedState; },
                         timeoutMs);
    }

private:
    const QByteArray& pending() { return received_ += socket_.readAll(); }
    QTcpSocket socket_;
    QByteArray received_;
};

void pause(int ms)
{
    pumpUntil([] { return false; }, ms);
}

} // namespace

TEST(ServerWithSimulatedBox, OpensslCommandIsAClientForCommandsReportsAndAnswers)
{
    QTemporaryDir dir;
    QFile keyFile(dir.filePath("key"));
    ASSERT_TRUE(keyFile.open(QIODevice::WriteOnly));
    keyFile.write(Key.toUtf8() + "\n"); // as `echo` writes it: the line end is not the key's
    keyFile.close();
    Server server({"--simulate", "otrsp", "--key-file", keyFile.fileName()}, "not this one");
    Client client(server.port());

    // openssl ends its output with a line feed, which the server skips.
    client.send(runOpenssl(messageFormat(Key, false), "RX1\r"));
    const QList<QByteArray> report = client.receiveRaw(1);
    ASSERT_EQ(report.size(), 1);
    EXPECT_EQ(runOpenssl(messageFormat(Key, true), report[0] + "\n"), "RX1\r");

    client.sendText("TX2\r");
    client.sendText("?TX\r");
    EXPECT_EQ(client.receive(2), (QStringList{"TX2\r", "TX2\r"})) << "report, then the answer";
}

TEST(ServerWithSimulatedBox, EveryClientThatHasSpokenGetsEachReport)
{
    Server server({"--simulate", "mk2r"});
    Client first(server.port()), second(server.port()), silent(server.port());
    second.sendText("AS100\r");
    EXPECT_EQ(second.receive(1), QStringList{"AS100\r"});
    first.sendText("FR2\r");
    EXPECT_EQ(first.receive(1), QStringList{"FR2\r"});
    EXPECT_EQ(second.receive(1), QStringList{"FR2\r"});
    EXPECT_TRUE(silent.receive(1, 200).isEmpty());
}

TEST(ServerWithSimulatedBox, AClientBeyondTheUnfinishedTextBoundIsDroppedAlone)
{
    constexpr int Bound = 64 * 1024;
    Server server({"--simulate", "otrsp"});
    Client atBound(server.port()), noPrefix(server.port()), endless(server.port());
    atBound.send(QByteArray(Bound, 'x'));
    noPrefix.send(QByteArray(1024 * 1024, 'x'));
    endless.send(EncryptedTextPrefix + QByteArray(Bound, 'A'));
    EXPECT_TRUE(noPrefix.isDisconnected());
    EXPECT_TRUE(endless.isDisconnected());
    EXPECT_EQ(server.log().count("bytes of unfinished text"), 2) << server.log().toStdString();

    atBound.sendText("TX1\r"); // its prefix lets the server drop what came before
    EXPECT_EQ(atBound.receive(1), QStringList{"TX1\r"});
}

class ServerOnPty : public testing::Test {
protected:
    // The server opens a link to the pty, so that the box can be replaced by another pty.
    std::unique_ptr<Server> linkAndStart()
    {
        // The server must not inherit the box's side, or closing it would not unplug the box.
        ::fcntl(pty->master(), F_SETFD, FD_CLOEXEC);
        QFile::link(pty->slavePath(), boxPath);
        return std::make_unique<Server>(QStringList{"--device", boxPath});
    }
    void replaceBox()
    {
        pty = std::make_unique<PtyPair>();
        QFile::remove(boxPath);
        QFile::link(pty->slavePath(), boxPath);
    }

    QTemporaryDir dir;
    QString boxPath = dir.filePath("box");
    std::unique_ptr<PtyPair> pty = std::make_unique<PtyPair>();
    std::unique_ptr<Server> server = linkAndStart();
    Client client{server->port()};
};

TEST_F(ServerOnPty, SplitAndBatchedMessagesReachTheBoxWholeAndAreReported)
{
    ASSERT_TRUE(server->waitForLog("box opened"));
    // A padded message in three pieces, cut inside the prefix and at an odd length.
    const QByteArray rx1 = EncryptText("RX1\r", Key).toLatin1();
    client.send(rx1.left(5));
    pause(50);
    client.send(rx1.mid(5, 14));
    pause(50);
    client.send(rx1.mid(19));
    EXPECT_EQ(pty->read(4), "RX1\r");

    // Text before a prefix, then two messages in one write; the last one has no padding.
    client.send("noise" + EncryptText("AUX101\r", Key).toLatin1() +
                EncryptText("RX1S\r", Key).toLatin1());
    EXPECT_EQ(pty->read(12), "AUX101\rRX1S\r");

    // No padding and cut at a multiple of 4 that is shorter than any message: held, not taken.
    const QByteArray rx1s = EncryptText("RX1S\r", Key).toLatin1();
    client.send(rx1s.left(12));
    pause(50);
    client.send(rx1s.mid(12));
    EXPECT_EQ(pty->read(5), "RX1S\r");
    EXPECT_EQ(client.receive(4), (QStringList{"RX1\r", "AUX101\r", "RX1S\r", "RX1S\r"}));
}

TEST_F(ServerOnPty, AMessageUnderAnotherKeyIsNotForwarded)
{
    client.sendText("AUX101 and more text to be sure\r", "another key");
    EXPECT_TRUE(server->waitForLog("key probably differs"));
    EXPECT_EQ(pty->read(1, 200), "");
    client.sendText("TX2\r");
    EXPECT_EQ(pty->read(4), "TX2\r");
}

TEST_F(ServerOnPty, BoxAnswersAreRelayedAndTheBoxMayGoAndComeBack)
{
    client.sendText("?RX\r");
    EXPECT_EQ(pty->read(4), "?RX\r");
    pty->write("RX1\rTX2\r"); // two answers in one piece, cut at their carriage returns
    EXPECT_EQ(client.receive(2), (QStringList{"RX1\r", "TX2\r"}));

    pty->closeMaster();
    ASSERT_TRUE(server->waitForLog("box is gone"));
    client.sendText("TX1\r");
    EXPECT_TRUE(server->waitForLog("\"TX1\\r\" not sent"));
    EXPECT_TRUE(client.receive(1, 200).isEmpty()) << "no report for what the box never got";

    replaceBox();
    ASSERT_TRUE(server->waitForLog("box is back", 3000));
    client.sendText("TX1\r");
    EXPECT_EQ(pty->read(4), "TX1\r");
    EXPECT_EQ(client.receive(1), QStringList{"TX1\r"});
}
