// Through zephrin-server: from a command written by a loopback client to its bytes readable on
// the box side of a pty, and on to the state report back at the client; beside the cipher's own
// cost in the same run (one DecryptText, as the server does for the command, and one
// EncryptText, as it does for the report). Prints medians in µs and the server's own overhead.

#include "cipher/encrypted_text.h"
#include "tests/pty_pair.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
const QString Key = "bench key";

double microsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool readExactly(int fd, int count)
{
    char bytes[64];
    int got = 0;
    while (got < count) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0)
            return false;
        const ssize_t n = ::read(fd, bytes, sizeof bytes);
        if (n > 0)
            got += int(n);
    }
    return true;
}

struct Round {
    double toPty, roundTrip;
};

// One command through the server; the report is read whole before the next round begins.
Round sendCommand(QTcpSocket& client, int ptyMaster, const QByteArray& message, int commandBytes,
                  qsizetype reportLength)
{
    const auto start = Clock::now();
    client.write(message);
    client.flush();
    if (!readExactly(ptyMaster, commandBytes))
        std::fprintf(stderr, "the command did not reach the pty\n");
    const double toPty = microsSince(start);
    QByteArray report;
    while (report.size() < reportLength && client.waitForReadyRead(2000))
        report += client.readAll();
    return {toPty, microsSince(start)};
}

struct Figures {
    const char* name;
    std::vector<double> toPty, roundTrip, decrypt, encrypt;
};

Figures measure(const char* name, const QString& command, int rounds, QTcpSocket& client,
                int ptyMaster)
{
    Figures figures{name, {}, {}, {}, {}};
    const qsizetype length = EncryptText(command, Key).size();
    for (int i = 0; i < rounds; ++i) {
        const QByteArray message = EncryptText(command, Key).toLatin1();
        const Round round = sendCommand(client, ptyMaster, message, int(command.size()), length);
        figures.toPty.push_back(round.toPty);
        figures.roundTrip.push_back(round.roundTrip);
        auto start = Clock::now();
        DecryptText(QString::fromLatin1(message), Key);
        figures.decrypt.push_back(microsSince(start));
        start = Clock::now();
        EncryptText(command, Key);
        figures.encrypt.push_back(microsSince(start));
    }
    return figures;
}

void print(const Figures& f)
{
    const double toPty = median(f.toPty), roundTrip = median(f.roundTrip);
    const double decrypt = median(f.decrypt), encrypt = median(f.encrypt);
    std::printf("%s\n", f.name);
    std::printf("  %-44s %10.1f\n", "client write to bytes on the pty", toPty);
    std::printf("  %-44s %10.1f\n", "client write to the report back", roundTrip);
    std::printf("  %-44s %10.1f\n", "one DecryptText", decrypt);
    std::printf("  %-44s %10.1f\n", "one EncryptText", encrypt);
    std::printf("  %-44s %10.1f\n", "server overhead to the pty (- decrypt)", toPty - decrypt);
    std::printf("  %-44s %10.1f\n", "server overhead round trip (- both)",
                roundTrip - decrypt - encrypt);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    PtyPair pty;
    quint16 port;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    }
    QProcess server;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZEPHRIN_KEY", Key);
    server.setProcessEnvironment(environment);
    server.setStandardOutputFile(QProcess::nullDevice()); // the log is written, as in service
    server.start(ZEPHRIN_SERVER, {"--device", pty.slavePath(), "--port", QString::number(port)});
    QTcpSocket client;
    for (int attempt = 0; attempt < 50 && client.state() != QAbstractSocket::ConnectedState;
         ++attempt) {
        QThread::msleep(100);
        client.connectToHost(QHostAddress::LocalHost, port);
        client.waitForConnected(1000);
    }
    if (client.state() != QAbstractSocket::ConnectedState) {
        std::fprintf(stderr, "zephrin-server did not start: %s\n",
                     server.readAllStandardError().constData());
        return 1;
    }

    measure("warm-up", "RX1\r", 20, client, pty.master());
    std::printf("medians in µs\n");
    // Padded Base64: the message's end shows at once.
    print(measure("\"RX1\" + CR (padded message)", "RX1\r", 300, client, pty.master()));
    // Unpadded: taken whole only after MessageStream::TailQuietMs without more bytes.
    print(measure("\"RX1S\" + CR (unpadded message)", "RX1S\r", 30, client, pty.master()));

    server.terminate();
    server.waitForFinished(5000);
    return 0;
}
