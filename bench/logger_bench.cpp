// SPDX-License-Identifier: GPL-3.0-or-later
// A contest logger's command through zephrin-server's logger port, each part side by side with
// its baseline in one run:
//  1. "TX2" + CR written to the logger port until the box's pty holds it, beside a bare write of
//     the same bytes to a pty until its other side holds them;
//  2. the same command until a Zephrin window on the network link (a real window, its keys
//     derived ahead) has lit TX Focus 2, beside one key derivation: the report's key is derived
//     ahead at the server, the window's decryption is the one derivation.
// Where the cores differ in speed (shared virtual machines), run it under `taskset -c N`.

#include "app/frmZephrin.h"
#include "bench_support.h"
#include "cipher/encrypted_text.h"
#include "frontend/qt_platform.h"

#include <QApplication>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

using bench::Clock;
using bench::median;
using bench::microsSince;
using bench::freePort;
using bench::pump;


// zephrin-server with a logger port at `link`, stopped at the end.
struct ServerRun {
    QProcess process;
    ServerRun(const QStringList& box, const QString& link, quint16 port, const QString& state)
    {
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice()); // it warns of the default key
        process.start(ZEPHRIN_SERVER,
                      box + QStringList{"--logger-port", link, "--port", QString::number(port),
                                        "--state-dir", state});
        for (int waited = 0; !QFile::exists(link) && waited < 5000; waited += 10)
            pump(10);
    }
    ~ServerRun()
    {
        process.terminate();
        process.waitForFinished(5000);
    }
};

int openAsLogger(const QString& link)
{
    const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        throw std::runtime_error("cannot open the logger port");
    return fd;
}

void print(const char* title, const char* baseline, const std::vector<double>& base,
           const std::vector<double>& measured)
{
    std::printf("%s\n", title);
    std::printf("  %-44s %10.1f µs\n", baseline, median(base));
    std::printf("  %-44s %10.1f µs (90th percentile %.1f µs)\n", "through the server (median)",
                median(measured), bench::percentile(measured, 90));
}

void throughToThePty(const QString& folder)
{
    const bench::Pty box, bare;
    const QString link = folder + "/logger-pty";
    const ServerRun server({"--device", box.device}, link, freePort(), folder);
    pump(300); // the box opened
    const int logger = openAsLogger(link);
    const int bareSide = ::open(bare.device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    termios raw{};
    tcgetattr(bareSide, &raw);
    cfmakeraw(&raw);
    tcsetattr(bareSide, TCSANOW, &raw);
    std::vector<double> direct, relayed;
    for (int round = 0; round < 220; ++round) {
        pump(5);
        auto start = Clock::now();
        if (::write(bareSide, "TX2\r", 4) != 4 || !bench::readExactly(bare.master, 4))
            std::fprintf(stderr, "the bare write did not arrive\n");
        const double bareTime = microsSince(start);
        start = Clock::now();
        if (::write(logger, "TX2\r", 4) != 4 || !bench::readExactly(box.master, 4))
            std::fprintf(stderr, "the logger's command did not arrive\n");
        if (round >= 20) { // the first rounds warm up
            relayed.push_back(microsSince(start));
            direct.push_back(bareTime);
        }
    }
    print("1. \"TX2\\r\" on the logger port until the box's pty holds it",
          "a bare write to a pty (median)", direct, relayed);
    std::printf("  %-44s %10.1f µs\n", "overhead (median)", median(relayed) - median(direct));
    ::close(bareSide);
    ::close(logger);
}

void toTheLamp(const QString& folder)
{
    const QString link = folder + "/logger-window";
    const quint16 port = freePort();
    const ServerRun server({"--simulate", "otrsp"}, link, port, folder);
    QtPlatform platform;
    platform.settings.saveSetting(AppName, "settings", "port", QString::number(port));
    frmZephrin form(platform.bundle());
    form.Password = ResetKey;
    form.mnuTCPPort1_Click();
    form.protocol = "1";
    platform.socket.connectTo("127.0.0.1", port);
    pump(1500); // connected, the opening gone by, and the window told the box's state
    const int logger = openAsLogger(link);
    Shape& focus1 = platform.toolkit.shape("shpFocus1");
    Shape& focus2 = platform.toolkit.shape("shpFocus2");
    const auto until = [](Shape& lamp) {
        const auto start = Clock::now();
        while (lamp.fillStyle() != FillStyle::Solid && microsSince(start) < 2e6)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    std::vector<double> derive, lit;
    for (int round = 0; round < 70; ++round) {
        if (::write(logger, "TX1\r", 4) != 4)
            std::fprintf(stderr, "the logger port refused a write\n");
        until(focus1);
        pump(60); // the keys derived again, as between a logger's commands
        auto start = Clock::now();
        PrepareKey(ResetKey);
        const double bare = microsSince(start);
        start = Clock::now();
        if (::write(logger, "TX2\r", 4) != 4)
            std::fprintf(stderr, "the logger port refused a write\n");
        until(focus2);
        if (round >= 10) {
            lit.push_back(microsSince(start));
            derive.push_back(bare);
        }
    }
    print("2. \"TX2\\r\" on the logger port until the window has lit TX Focus 2",
          "one key derivation (median)", derive, lit);
    std::printf("  %-44s %10.3f ×\n", "ratio", median(lit) / median(derive));

    // The server's part alone: until a plain loopback client holds the report's bytes.
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, port);
    peer.waitForConnected(3000);
    peer.write(EncryptText("?TX\r", ResetKey).toLatin1());
    pump(300);
    peer.readAll();
    const qsizetype reportLength = EncryptText("TX2\r", ResetKey).size();
    std::vector<double> atPeer;
    for (int round = 0; round < 60; ++round) {
        if (::write(logger, round % 2 ? "TX1\r" : "TX2\r", 4) != 4)
            std::fprintf(stderr, "the logger port refused a write\n");
        pump(60);
        peer.readAll();
        const auto start = Clock::now();
        if (::write(logger, round % 2 ? "TX2\r" : "TX1\r", 4) != 4 ||
            !bench::readExactly(int(peer.socketDescriptor()), reportLength))
            std::fprintf(stderr, "the report did not arrive\n");
        atPeer.push_back(microsSince(start));
    }
    std::printf("  %-44s %10.1f µs\n", "of which to a loopback client's socket", median(atPeer));
    ::close(logger);
}

} // namespace

int main(int argc, char** argv)
{
    const bench::OffscreenRun run;
    QApplication app(argc, argv);
    const QTemporaryDir folder;
    throughToThePty(folder.path());
    toTheLamp(folder.path());
    return 0;
}
