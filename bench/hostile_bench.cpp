// SPDX-License-Identifier: GPL-3.0-or-later
// An operator's command through zephrin-server until the box's pty holds it, alone and beside
// seven keyless flooders and a stranger who opens and closes connections without end, in one
// run; then the server's CPU time in the second that begins one second after the last of them
// has gone.

#include "bench_support.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <cstdio>
#include <unistd.h>

namespace {

using bench::Clock;
using bench::median;
using bench::microsSince;
using bench::cpuTicks;
using bench::freePort;
using bench::pump;

const QString Key = "bench key";

// The strangers, in a process of their own: each flooder writes well-formed messages under
// another key from an address of its own and connects again whenever it is let go.
const char* Strangers = R"(
import base64, os, socket, sys, threading
port = int(sys.argv[1])
def flood(address):
    while True:
        try:
            s = socket.socket(); s.bind((address, 0)); s.connect(('127.0.0.1', port))
            while True:
                s.sendall(base64.b64encode(b'Salted__' + os.urandom(8) + os.urandom(8)))
        except OSError:
            pass
def churn():
    while True:
        try:
            s = socket.socket(); s.bind(('127.0.0.20', 0)); s.connect(('127.0.0.1', port)); s.close()
        except OSError:
            pass
for n in range(7):
    threading.Thread(target=flood, args=('127.0.0.%d' % (10 + n),), daemon=True).start()
churn()
)";


} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::Pty box;
    const QTemporaryDir state;
    const quint16 port = bench::freePort();
    QProcess server;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZEPHRIN_KEY", Key);
    server.setProcessEnvironment(environment);
    server.setStandardOutputFile(QProcess::nullDevice());
    server.start(ZEPHRIN_SERVER, {"--device", box.device, "--port", QString::number(port),
                                  "--state-dir", state.path()});
    pump(1000);
    QTcpSocket operating;
    operating.connectToHost(QHostAddress::LocalHost, port);
    operating.waitForConnected(3000);
    const QByteArray commands = bench::encryptedMany("TX2\r", Key, 120);
    std::vector<QByteArray> messages;
    for (qsizetype at = 0; at < commands.size();) {
        const qsizetype next = commands.indexOf(EncryptedTextPrefix, at + 1);
        messages.push_back(commands.mid(at, next < 0 ? -1 : next - at));
        at = next < 0 ? commands.size() : next;
    }
    char drain[4096];
    const auto command = [&](const QByteArray& message) {
        while (::read(box.master, drain, sizeof drain) > 0) {
        }
        const auto start = Clock::now();
        operating.write(message);
        operating.waitForBytesWritten(1000);
        if (!bench::readExactly(box.master, 4))
            std::fprintf(stderr, "the command did not arrive\n");
        const double took = microsSince(start);
        pump(30);
        operating.readAll();
        return took;
    };
    std::vector<double> alone, beside;
    for (int i = 0; i < 60; ++i)
        alone.push_back(command(messages[std::size_t(i)]));
    QProcess strangers;
    strangers.start("/usr/bin/python3", {"-c", Strangers, QString::number(port)});
    pump(2000);
    for (int i = 60; i < 120; ++i)
        beside.push_back(command(messages[std::size_t(i)]));
    strangers.kill();
    strangers.waitForFinished(3000);
    pump(1000);
    const long before = cpuTicks(server.processId());
    pump(1000);
    const long after = cpuTicks(server.processId());
    const long tick = ::sysconf(_SC_CLK_TCK);

    std::printf("An operator's command until the box's pty holds it\n");
    std::printf("  %-52s %8.2f ms\n", "alone (median)", median(alone) / 1000);
    std::printf("  %-52s %8.2f ms (ratio %.2f)\n", "beside 7 keyless flooders and a churner (median)",
                median(beside) / 1000, median(beside) / median(alone));
    std::printf("  %-52s %8.2f ms\n", "beside them, 90th percentile",
                bench::percentile(beside, 90) / 1000);
    std::printf("The server's CPU in the second after the strangers' last second: %.1f %%\n",
                100.0 * double(after - before) / double(tick));
    server.terminate();
    server.waitForFinished(5000);
    return 0;
}
