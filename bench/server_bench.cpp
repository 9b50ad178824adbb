// SPDX-License-Identifier: GPL-3.0-or-later
// Through zephrin-server: from a command written by a loopback client to its bytes readable on
// the box side of a pty, and on to the state report back at the client; beside the cipher's own
// cost in the same run (one DecryptText, as the server does for the command, and one
// EncryptText, which the report's key, derived ahead, spares it). Prints medians in µs, the
// server's own overhead to the pty and the report's leg.
//
// Then what hostile clients cost: an honest command beside seven keyless flooders, the CPU after
// they hang up, the memory beside a client that never reads, keyless bytes at the box.
// Then, side by side: an honest client's command-to-report time alone and while another client
// floods (500 messages in one write), under the default --max-rate and with no rate limit; and
// 2,000 valid messages in one write, the time until the last is on the pty and the server's
// peak RSS growth, decrypted on every core and on one thread.

#include "bench_support.h"
#include "cipher/encrypted_text.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using bench::Clock;
using bench::median;
using bench::microsSince;
using bench::readExactly;
const QString Key = "bench key";

// As readExactly, for many bytes that come while the server works through a backlog.
bool readExactlyLong(int fd, qsizetype count)
{
    for (qsizetype got = 0; got < count; got += 4096)
        if (!readExactly(fd, std::min<qsizetype>(4096, count - got)))
            return false;
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
    // The report's key was derived ahead: its leg should cost a fraction of one EncryptText.
    std::printf("  %-44s %10.1f\n", "the report's leg (round trip - to the pty)",
                roundTrip - toPty);
    std::printf("  %-44s %10.3f ×\n", "  that beside one EncryptText",
                (roundTrip - toPty) / encrypt);
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The server with the given options, its log thrown away as in service; null when it did not
// start or a client cannot connect to it.
std::unique_ptr<QProcess> startServer(QStringList arguments, quint16* port, QTcpSocket& client)
{
    *port = freePort();
    auto server = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZEPHRIN_KEY", Key);
    server->setProcessEnvironment(environment);
    server->setStandardOutputFile(QProcess::nullDevice());
    server->start(ZEPHRIN_SERVER, arguments << "--port" << QString::number(*port));
    for (int attempt = 0; attempt < 50 && client.state() != QAbstractSocket::ConnectedState;
         ++attempt) {
        QThread::msleep(100);
        client.connectToHost(QHostAddress::LocalHost, *port);
        client.waitForConnected(1000);
    }
    if (client.state() != QAbstractSocket::ConnectedState) {
        std::fprintf(stderr, "zephrin-server did not start: %s\n",
                     server->readAllStandardError().constData());
        return nullptr;
    }
    return server;
}

void stop(QProcess& server)
{
    server.terminate();
    server.waitForFinished(10000);
}

// The process's CPU time so far (user and system), in seconds.
double cpuSeconds(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The fields after the command's closing parenthesis; utime and stime are the 12th and 13th.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return double(fields[11].toLong() + fields[12].toLong()) / double(::sysconf(_SC_CLK_TCK));
}

// Median command-to-report time of an honest client on a simulated box, in µs.
double honestRoundTrip(QTcpSocket& client, int rounds)
{
    std::vector<double> times;
    const QString command = "TX1\r";
    const qsizetype length = EncryptText(command, Key).size();
    for (int i = 0; i < rounds; ++i) {
        const QByteArray message = EncryptText(command, Key).toLatin1();
        const auto start = Clock::now();
        client.write(message);
        client.flush();
        QByteArray report;
        while (report.size() < length && client.waitForReadyRead(5000))
            report += client.readAll();
        times.push_back(microsSince(start));
    }
    return median(times);
}

// An honest client alone, then while another client floods the server with messages of random
// text, each a key derivation that leads nowhere.
void floodFigures(const QStringList& rateOption, const char* title)
{
    constexpr int FloodMessages = 500;
    constexpr int Rounds = 15;
    QTcpSocket honest, flooder;
    quint16 port = 0;
    auto server = startServer(QStringList{"--simulate", "otrsp"} + rateOption, &port, honest);
    if (!server)
        return;
    honestRoundTrip(honest, 3); // warm-up
    const double alone = honestRoundTrip(honest, Rounds);
    flooder.connectToHost(QHostAddress::LocalHost, port);
    flooder.waitForConnected(2000);
    // Keyless messages with a sound header and random text: each costs a key derivation.
    QRandomGenerator random(7); // fixed random start
    QByteArray flood;
    for (int i = 0; i < FloodMessages; ++i) {
        QByteArray message = "Salted__";
        for (int c = 0; c < 25; ++c)
            message += char(random.bounded(256));
        flood += message.toBase64();
    }
    flooder.write(flood);
    flooder.flush();
    const auto floodStart = Clock::now();
    const double flooded = honestRoundTrip(honest, Rounds);
    std::printf("%s\n", title);
    std::printf("  %-44s %10.1f\n", "honest command to report, alone", alone);
    std::printf("  %-44s %10.1f\n", "the same while another client floods", flooded);
    std::printf("  %-44s %10.2f  (at most 4)\n", "ratio", flooded / alone);
    std::printf("  %-44s %10.1f\n", "(all rounds done this long after the flood)",
                microsSince(floodStart));
    stop(*server);
}

// A keyless message of `textBytes` random bytes: a sound header, a random salt and text.
QByteArray keylessMessage(QRandomGenerator& random, int textBytes)
{
    QByteArray message = "Salted__";
    for (int c = 0; c < 8 + textBytes; ++c)
        message += char(random.bounded(256));
    return message.toBase64();
}

// A loopback connection of plain sockets that writes keyless messages as fast as the server
// takes them, on a thread of its own, until told to stop.
class Flooder {
public:
    explicit Flooder(quint16 port) : fd_(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
            return;
        thread_ = std::thread([this] {
            QRandomGenerator random{quint32(fd_)};
            while (!stop_) {
                const QByteArray message = keylessMessage(random, 17);
                if (::send(fd_, message.constData(), std::size_t(message.size()), MSG_NOSIGNAL) <=
                    0)
                    return;
            }
        });
    }
    ~Flooder() { hangUp(); }
    void hangUp()
    {
        stop_ = true;
        if (fd_ >= 0)
            ::shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            ::close(std::exchange(fd_, -1));
    }

private:
    int fd_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// What hostile clients cost: an honest command beside seven keyless flooders at full speed,
// the server's CPU once they have hung up, its memory beside a client that never reads, and
// the bytes of keyless messages of 1 to 6 bytes that reach the box.
void hostileFigures()
{
    const bench::Pty pty;
    QTcpSocket honest;
    quint16 port = 0;
    const QTemporaryDir state;
    auto server = startServer({"--device", pty.device, "--state-dir", state.path()}, &port, honest);
    if (!server)
        return;
    constexpr int Rounds = 21;
    honestRoundTrip(honest, 3);
    char drain[4096];
    while (::read(pty.master, drain, sizeof drain) > 0) {
    }
    const double alone = honestRoundTrip(honest, Rounds);
    std::vector<std::unique_ptr<Flooder>> flooders;
    for (int i = 0; i < 7; ++i)
        flooders.push_back(std::make_unique<Flooder>(port));
    QThread::msleep(300); // the flood under way
    const double beside = honestRoundTrip(honest, Rounds);
    const double cpuBefore = cpuSeconds(server->processId());
    for (auto& flooder : flooders)
        flooder->hangUp();
    const auto hungUp = Clock::now();
    QThread::msleep(1000);
    const double cpuFirstSecond = cpuSeconds(server->processId()) - cpuBefore;
    QThread::msleep(1000);
    const double cpuSecondSecond = cpuSeconds(server->processId()) - cpuBefore - cpuFirstSecond;
    std::printf("hostile clients (medians in µs)\n");
    std::printf("  %-44s %10.1f\n", "honest command to report, alone", alone);
    std::printf("  %-44s %10.1f\n", "the same beside 7 keyless flooders", beside);
    std::printf("  %-44s %10.2f  (at most 4)\n", "ratio", beside / alone);
    std::printf("  %-44s %10.2f s\n", "server CPU in the 1st second after they left",
                cpuFirstSecond);
    std::printf("  %-44s %10.2f s  (%.0f ms after the hang-up)\n", "server CPU in the 2nd second",
                cpuSecondSecond, microsSince(hungUp) / 1000);

    // A client with the key that sends commands and never reads what it is sent.
    QTcpSocket deaf;
    deaf.connectToHost(QHostAddress::LocalHost, port);
    deaf.waitForConnected(2000);
    deaf.setReadBufferSize(1); // reads nothing: TCP fills up
    const long rssBefore = bench::statusKb(server->processId(), "VmRSS:");
    for (int i = 0; i < 250; ++i) {
        deaf.write(EncryptText(i % 2 ? "TX1\r" : "TX2\r", Key).toLatin1());
        deaf.waitForBytesWritten(100);
        QThread::msleep(20);
    }
    const long rssAfter = bench::statusKb(server->processId(), "VmRSS:");
    std::printf("  %-44s %+10ld kB  (%ld kB before)\n",
                "server RSS beside a client that never reads", rssAfter - rssBefore, rssBefore);

    stop(*server);

    // Keyless messages of 1 to 6 bytes, a thousand of each, on a server without a rate limit.
    const QTemporaryDir keylessState;
    QTcpSocket first;
    server = startServer(
        {"--device", pty.device, "--state-dir", keylessState.path(), "--max-rate", "1000000"},
        &port, first);
    if (!server)
        return;
    while (::read(pty.master, drain, sizeof drain) > 0) {
    }
    QRandomGenerator random(11);
    qsizetype reached = 0;
    for (int length = 1; length <= 6; ++length) {
        QTcpSocket stranger;
        stranger.connectToHost(QHostAddress::LocalHost, port);
        stranger.waitForConnected(2000);
        QByteArray messages;
        for (int i = 0; i < 1000; ++i)
            messages += keylessMessage(random, length);
        stranger.write(messages);
        stranger.waitForBytesWritten(2000);
        QThread::msleep(4000); // a thousand derivations on two cores, and some
        for (ssize_t got; (got = ::read(pty.master, drain, sizeof drain)) > 0;)
            reached += got;
    }
    std::printf("  %-44s %10lld  (of 6,000 messages)\n",
                "bytes of keyless 1-6 byte messages at the box", static_cast<long long>(reached));
    stop(*server);
}

// 2,000 valid messages in one write through the server to the pty, decrypted on `threads`.
void burstFigures(const QByteArray& burst, int messageBytes, int count, int threads,
                  double* seconds, long* rssGrowthKb, double* cpu)
{
    const bench::Pty pty;
    QTcpSocket client;
    quint16 port = 0;
    const QTemporaryDir state; // the same messages are sent again by the next run
    auto server = startServer({"--device", pty.device, "--threads", QString::number(threads),
                               "--max-rate", "1000000", "--state-dir", state.path()},
                              &port, client);
    if (!server)
        return;
    // One message first, so that the box is open and the server warm.
    client.write(EncryptText("?RX\r", Key).toLatin1());
    client.flush();
    readExactly(pty.master, messageBytes);
    const long before = bench::statusKb(server->processId(), "VmHWM:");
    const double cpuBefore = cpuSeconds(server->processId());
    const auto start = Clock::now();
    client.write(burst);
    client.flush();
    if (!readExactlyLong(pty.master, messageBytes * count))
        std::fprintf(stderr, "not every message reached the pty\n");
    *seconds = microsSince(start) / 1e6;
    *rssGrowthKb = bench::statusKb(server->processId(), "VmHWM:") - before;
    *cpu = cpuSeconds(server->processId()) - cpuBefore;
    stop(*server);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::Pty pty;
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
    server.start(ZEPHRIN_SERVER, {"--device", pty.device, "--port", QString::number(port)});
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

    measure("warm-up", "RX1\r", 20, client, pty.master);
    std::printf("medians in µs\n");
    // Padded Base64: the message's end shows at once.
    print(measure("\"RX1\" + CR (padded message)", "RX1\r", 300, client, pty.master));
    // Unpadded: taken whole only after MessageStream::TailQuietMs without more bytes.
    print(measure("\"RX1S\" + CR (unpadded message)", "RX1S\r", 30, client, pty.master));

    server.terminate();
    server.waitForFinished(5000);

    hostileFigures();
    floodFigures({}, "a flood of 500 messages, default --max-rate (50); medians in µs");
    floodFigures({"--max-rate", "1000000"}, "the same with no rate limit: turns alone");

    constexpr int BurstMessages = 2000;
    const QString command = "?RX\r"; // no state report: the time is the server's intake
    std::printf("%d valid messages in one write (encrypting them first...)\n", BurstMessages);
    std::fflush(stdout);
    const QByteArray burst = bench::encryptedMany(command, Key, BurstMessages);
    const int cores = std::max(1, QThread::idealThreadCount());
    double allCores = 0, oneThread = 0;
    long allCoresRss = 0, oneThreadRss = 0;
    double allCoresCpu = 0, oneThreadCpu = 0;
    burstFigures(burst, int(command.size()), BurstMessages, cores, &allCores, &allCoresRss,
                 &allCoresCpu);
    burstFigures(burst, int(command.size()), BurstMessages, 1, &oneThread, &oneThreadRss,
                 &oneThreadCpu);
    // CPU seconds over wall seconds shows how much of the machine the server had: on cores
    // shared with other work the speed-up is bounded by it, not by the server.
    std::printf("  %-44s %10.2f s  peak RSS +%ld kB  CPU %.2f s\n",
                qPrintable(QString("until the last is on the pty, %1 threads").arg(cores)),
                allCores, allCoresRss, allCoresCpu);
    std::printf("  %-44s %10.2f s  peak RSS +%ld kB  CPU %.2f s\n", "the same on one thread",
                oneThread, oneThreadRss, oneThreadCpu);
    std::printf("  %-44s %10.2f  (at least 1.8 on 2 cores)\n", "speed-up", oneThread / allCores);
    return 0;
}
