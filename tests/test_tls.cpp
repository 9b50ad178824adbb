// SPDX-License-Identifier: GPL-3.0-or-later
// zephrin-server with --tls, driven by the openssl command with the key it prints, by TLS
// clients of the test, by one behind a proxy that changes a byte, and by strangers.

#include "cipher/tls_key.h"
#include "server_process.h"

#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslPreSharedKeyAuthenticator>
#include <QSslSocket>

namespace {

// A TLS client under the key, from a loopback address of its choosing.
struct TlsClient {
    QSslSocket socket;
    QByteArray received;

    explicit TlsClient(quint16 port, const QString& key = Key, const QString& from = "127.0.0.1")
    {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setProtocol(QSsl::TlsV1_2);
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        configuration.setCiphers({QSslCipher("ECDHE-PSK-CHACHA20-POLY1305")});
        socket.setSslConfiguration(configuration);
        QObject::connect(&socket, &QSslSocket::preSharedKeyAuthenticationRequired,
                         [psk = TlsPreSharedKey(key)](QSslPreSharedKeyAuthenticator* request) {
                             request->setIdentity("zephrin");
                             request->setPreSharedKey(psk);
                         });
        socket.bind(QHostAddress(from));
        socket.connectToHostEncrypted("127.0.0.1", port);
    }
    bool isEncrypted() { return pumpUntil([&] { return socket.isEncrypted(); }); }
    bool isDisconnected()
    {
        return pumpUntil([&] { return socket.state() == QAbstractSocket::UnconnectedState; });
    }
    void send(const QByteArray& text)
    {
        socket.write(text);
        socket.flush();
    }
    // What has come once it holds `bytes`, or the time is up.
    QByteArray receive(qsizetype bytes, int timeoutMs = 3000)
    {
        pumpUntil([&] { return (received += socket.readAll()).size() >= bytes; }, timeoutMs);
        return std::exchange(received, {});
    }
};

QByteArray printedKey(const QString& key)
{
    QProcess print;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZEPHRIN_KEY", key);
    print.setProcessEnvironment(environment);
    print.start(ZEPHRIN_SERVER, {"--print-psk"});
    EXPECT_TRUE(print.waitForFinished(10000));
    EXPECT_EQ(print.exitCode(), 0);
    return print.readAllStandardOutput().trimmed();
}

} // namespace

TEST(TlsServer, OpensslDrivesTheBoxWithThePrintedKeyAndEveryTlsClientGetsTheReports)
{
    // The key is the openssl command's own PBKDF2 of the key text.
    QProcess kdf;
    kdf.start("openssl", {"kdf", "-keylen", "32", "-kdfopt", "digest:SHA512", "-kdfopt",
                          "pass:" + Key, "-kdfopt", "salt:zephrin tls psk", "-kdfopt",
                          "iter:200000", "PBKDF2"});
    ASSERT_TRUE(kdf.waitForFinished(10000));
    const QByteArray key = printedKey(Key);
    EXPECT_EQ(key, kdf.readAllStandardOutput().trimmed().replace(":", "").toLower());

    Server server({"--simulate", "otrsp", "--tls"});
    TlsClient other(server.port());
    ASSERT_TRUE(other.isEncrypted());
    QProcess openssl;
    openssl.start("openssl", {"s_client", "-quiet", "-tls1_2", "-psk", key, "-psk_identity",
                              "zephrin", "-cipher", "ECDHE-PSK-CHACHA20-POLY1305", "-connect",
                              QString("127.0.0.1:%1").arg(server.port())});
    ASSERT_TRUE(server.waitForLog("client 2 (127.0.0.1): TLS handshake done, "
                                  "ECDHE-PSK-CHACHA20-POLY1305"))
        << server.log().toStdString();
    openssl.write("TX2\r");
    ASSERT_TRUE(pumpUntil([&] { return openssl.readAllStandardOutput().contains("TX2\r"); }))
        << server.log().toStdString();
    EXPECT_EQ(other.receive(4), "TX2\r") << "the report goes to every client";
    other.send("?T");
    other.send("X\r");
    EXPECT_EQ(other.receive(4), "TX2\r") << "its answer";
    EXPECT_TRUE(server.waitForLog("box answer \"TX2\\r\" sent to 1 client(s)"));
    openssl.kill();
    openssl.waitForFinished();
}

// Only the key opens the port, and TLS lets nothing changed through.
TEST(TlsServer, AWrongKeyAMessageClientAndAChangedRecordAreRefusedAndReachNothing)
{
    Server server({"--simulate", "otrsp", "--tls"});
    const auto guess = [&] {
        return TlsClient(server.port(), "not the key", "127.0.0.5").isDisconnected();
    };
    EXPECT_TRUE(guess());
    EXPECT_TRUE(server.waitForLog("connections from 127.0.0.5 refused for 1 s"));
    pumpUntil([] { return false; }, 1100);
    EXPECT_TRUE(guess());
    EXPECT_TRUE(server.waitForLog("connections from 127.0.0.5 refused for 2 s"));
    EXPECT_EQ(server.log().count("its key differs from this server's"), 1) << "once an address";
    Client messages(server.port(), "127.0.0.6");
    messages.sendText("TX2\r");
    EXPECT_TRUE(messages.isDisconnected());
    EXPECT_TRUE(server.waitForLog("client 3 (127.0.0.6) did not open with a TLS handshake"));

    // A proxy between client and server changes the last byte of the first record of data.
    QTcpServer proxy;
    ASSERT_TRUE(proxy.listen(QHostAddress::LocalHost, 0));
    TlsClient client(proxy.serverPort());
    ASSERT_TRUE(pumpUntil([&] { return proxy.hasPendingConnections(); }));
    QTcpSocket* near = proxy.nextPendingConnection();
    QTcpSocket far;
    far.connectToHost(QHostAddress::LocalHost, server.port());
    ASSERT_TRUE(far.waitForConnected(3000));
    QByteArray upstream;
    const auto forward = [&] {
        upstream += near->readAll();
        while (upstream.size() >= 5) {
            const qsizetype length = 5 + (uchar(upstream[3]) << 8 | uchar(upstream[4]));
            if (upstream.size() < length)
                break;
            QByteArray record = upstream.left(length);
            upstream.remove(0, length);
            if (record[0] == 23) // application data
                record[length - 1] = char(record[length - 1] ^ 1);
            far.write(record);
        }
    };
    QObject::connect(near, &QTcpSocket::readyRead, forward);
    QObject::connect(&far, &QTcpSocket::readyRead, [&] { near->write(far.readAll()); });
    forward(); // what came before

    ASSERT_TRUE(client.isEncrypted());
    client.send("TX2\r");
    EXPECT_TRUE(pumpUntil([&] { return far.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_TRUE(server.waitForLog("client 4 disconnected"));
    EXPECT_FALSE(server.log().contains("to the box: \"TX2")) << server.log().toStdString();
}
