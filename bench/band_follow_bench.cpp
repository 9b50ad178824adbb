// SPDX-License-Identifier: GPL-3.0-or-later
// Band-follow on Hamlib's dummy radio, in one run: a band change set through rigctld until the
// aux command is on the box's pty, beside rigctld's own answer to one frequency question; then
// the server's CPU while it follows two idle radios.

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

constexpr int PollMs = 250;



// One line asked of rigctld, with its answer.
QByteArray ask(QTcpSocket& rig, const QByteArray& line)
{
    rig.write(line);
    rig.waitForBytesWritten(1000);
    while (!rig.canReadLine() && rig.waitForReadyRead(2000)) {
    }
    return rig.readLine();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::Pty box;
    const QTemporaryDir state;
    QProcess radios[2];
    quint16 ports[2];
    for (int i = 0; i < 2; ++i) {
        ports[i] = freePort();
        radios[i].start("rigctld", {"-m", "1", "-T", "127.0.0.1", "-t", QString::number(ports[i])});
        radios[i].waitForStarted(3000);
    }
    pump(500);
    QProcess server;
    server.setStandardOutputFile(QProcess::nullDevice());
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start(ZEPHRIN_SERVER,
                 {"--device", box.device, "--port", QString::number(freePort()), "--state-dir",
                  state.path(), "--rig1", QString::number(ports[0]), "--rig2",
                  QString::number(ports[1]), "--rig-poll", QString::number(PollMs)});
    pump(1500);
    QTcpSocket rig;
    rig.connectToHost(QHostAddress::LocalHost, ports[0]);
    rig.waitForConnected(3000);
    char drain[4096];
    std::vector<double> answer, followed;
    for (int round = 0; round < 24; ++round) {
        auto start = Clock::now();
        ask(rig, "f\n");
        answer.push_back(microsSince(start));
        while (::read(box.master, drain, sizeof drain) > 0) {
        }
        // Between two polls at a random point, as an operator turns the band switch.
        pump(int(std::rand() % PollMs));
        start = Clock::now();
        ask(rig, round % 2 ? "F 7025000\n" : "F 14025000\n");
        const QByteArray wanted = round % 2 ? "AUX103\r" : "AUX105\r";
        QByteArray wire;
        while (!wire.contains(wanted) && microsSince(start) < 3e6) {
            pollfd p{box.master, POLLIN, 0};
            if (::poll(&p, 1, 5) > 0) {
                const ssize_t n = ::read(box.master, drain, sizeof drain);
                wire += QByteArray(drain, n > 0 ? int(n) : 0);
            }
        }
        followed.push_back(microsSince(start));
    }
    pump(1000);
    const long before = cpuTicks(server.processId());
    pump(5000);
    const long after = cpuTicks(server.processId());

    std::printf("A band change until the radio's aux command is on the box's pty (poll %d ms)\n",
                PollMs);
    std::printf("  %-48s %8.2f ms\n", "rigctld's own answer to \"f\" (median)", median(answer) / 1000);
    std::printf("  %-48s %8.2f ms (bound: %d ms)\n", "through the server (median)",
                median(followed) / 1000, PollMs / 2 + 30);
    std::printf("The server's CPU while it follows two idle radios: %.2f %%\n",
                100.0 * double(after - before) / double(::sysconf(_SC_CLK_TCK)) / 5.0);
    server.terminate();
    server.waitForFinished(5000);
    for (QProcess& radio : radios) {
        radio.terminate();
        radio.waitForFinished(3000);
    }
    return 0;
}
