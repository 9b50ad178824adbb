// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// zephrin-server as a process of the test, on a loopback port the test picks, stopped with
// SIGTERM at the end.

#include "cipher/encrypted_text.h"
#include "pty_pair.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// The key of the servers the tests start, unless a test names another.
inline const QString Key = "shack key";

inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The server on a port of the test's choosing, stopped with SIGTERM at the end.
class Server {
public:
    explicit Server(QStringList arguments, const QString& environmentKey = Key,
                    quint16 port = freePort())
        : port_(port)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ZEPHRIN_KEY", environmentKey);
        process_.setProcessEnvironment(environment);
        // Each server its own memory of accepted messages, as the tests run side by side.
        if (!arguments.contains("--state-dir"))
            arguments << "--state-dir" << state_.path();
        process_.start(ZEPHRIN_SERVER, arguments << "--port" << QString::number(port_));
        EXPECT_TRUE(waitForLog("listening on")) << log_.toStdString();
    }
    ~Server()
    {
        process_.terminate();
        EXPECT_TRUE(process_.waitForFinished(5000));
        EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process_.exitCode(), 0);
    } // QProcess kills a server that did not stop
    quint16 port() const { return port_; }
    qint64 pid() const { return process_.processId(); }
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
    QTemporaryDir state_;
    QProcess process_;
    quint16 port_ = 0;
    QString log_;
};

// A client of the test, from a loopback address of its choosing.
struct Client {
    QTcpSocket socket;
    QByteArray received;

    explicit Client(quint16 port, const QString& from = "127.0.0.1")
    {
        socket.bind(QHostAddress(from));
        socket.connectToHost(QHostAddress::LocalHost, port);
        EXPECT_TRUE(socket.waitForConnected(3000));
    }
    void send(const QByteArray& bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    void sendText(const QString& text, const QString& key = Key)
    {
        send(EncryptText(text, key).toLatin1());
    }
    // The raw messages received once `count` of them have begun, each one piece.
    QList<QByteArray> receiveRaw(int count, int timeoutMs = 3000)
    {
        pumpUntil(
            [&] { return (received += socket.readAll()).count(EncryptedTextPrefix) >= count; },
            timeoutMs);
        pumpUntil([] { return false; }, 30); // the last one's end
        QByteArray data = std::exchange(received, {}) + socket.readAll();
        QList<QByteArray> messages =
            data.replace(EncryptedTextPrefix, "\n" + QByteArray(EncryptedTextPrefix)).split('\n');
        messages.removeFirst(); // what came before the first message
        return messages;
    }
    QStringList receive(int count, int timeoutMs = 3000, const QString& key = Key)
    {
        QStringList texts;
        for (const QByteArray& message : receiveRaw(count, timeoutMs))
            texts << DecryptText(QString::fromLatin1(message), key);
        return texts;
    }
    bool isDisconnected(int timeoutMs = 3000)
    {
        return pumpUntil([&] { return socket.state() == QAbstractSocket::UnconnectedState; },
                         timeoutMs);
    }
};
