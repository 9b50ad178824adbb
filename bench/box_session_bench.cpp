// SPDX-License-Identifier: GPL-3.0-or-later
// zephrin-server's box session, each part side by side with its baseline in one run:
//  1. a logger's burst of 200 focus and aux lines at full speed through the server until the
//     box holds the last state they set, beside the same lines written straight to a pty at
//     9600-baud pace;
//  2. a front-panel switch on the simulator (--fast) until its report is at a loopback client,
//     beside the same switch until its event is at a host on the simulator's own device;
//  3. a power cycle of the simulator until it holds the last state again, from its return.

#include "bench_support.h"
#include "boxprotocol/command_set.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <array>
#include <cstdio>

namespace {

using bench::Clock;
using bench::median;
using bench::microsSince;
using bench::freePort;
using bench::pump;

const QString Key = "bench key";


// A program of the benchmark's, stopped at the end.
struct Run {
    QProcess process;
    QString device; // the simulator's, once it said it
    Run(const QString& program, const QStringList& arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ZEPHRIN_KEY", Key);
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        process.waitForStarted(3000);
    }
    // Words for the simulator's standard input, handed over at once.
    void say(const QByteArray& words)
    {
        process.write(words);
        process.waitForBytesWritten(1000);
    }
    ~Run()
    {
        process.terminate();
        process.waitForFinished(5000);
    }
    // Reads the program's output until a line holds the text; the time it took, in µs.
    double waitFor(const QByteArray& text, int timeoutMs = 3000)
    {
        const auto start = Clock::now();
        while (microsSince(start) < timeoutMs * 1000.0) {
            while (process.canReadLine()) {
                const QByteArray line = process.readLine().trimmed();
                if (line.startsWith("/dev/"))
                    device = QString::fromLocal8Bit(line);
                if (line.contains(text))
                    return microsSince(start);
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        std::fprintf(stderr, "no \"%s\" in time\n", text.constData());
        return -1;
    }
};

int openRaw(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios raw{};
    tcgetattr(fd, &raw);
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
    return fd;
}

void print(const char* baseline, const std::vector<double>& base, const std::vector<double>& measured)
{
    std::printf("  %-46s %10.1f ms\n", baseline, median(base) / 1000);
    std::printf("  %-46s %10.1f ms (ratio %.2f)\n", "through the server (median)",
                median(measured) / 1000, median(measured) / median(base));
}

// The state a run of lines leaves the box in, by output.
using State = std::array<int, 4>;
void follow(State& state, const QByteArray& lines)
{
    for (const QByteArray& line : lines.split('\r'))
        if (const auto change = readStateChange(line))
            state[std::size_t(change->output)] = change->value;
}

void burst(const QString& folder)
{
    const bench::Pty box, bare;
    const QString link = folder + "/logger";
    Run server(ZEPHRIN_SERVER, {"--device", box.device, "--logger-port", link, "--port",
                                QString::number(freePort()), "--state-dir", folder, "--quiet"});
    pump(1000); // the box opened: its own queries asked and given up
    char drain[4096];
    while (::read(box.master, drain, sizeof drain) > 0) {
    }
    const int logger = openRaw(link);
    const int bareSide = openRaw(bare.device);
    std::vector<double> paced, relayed;
    int equal = 0;
    constexpr int Trials = 8;
    for (int trial = 0; trial < Trials; ++trial) {
        QByteArray lines;
        for (int i = 0; i < 200; ++i) {
            const int v = int(QRandomGenerator::global()->bounded(16));
            const char* verbs[] = {"TX", "RX", "AUX1", "AUX2"};
            lines += verbs[i % 4] + QByteArray::number(i % 4 < 2 ? v % 2 + 1 : v) + '\r';
        }
        State want{}, held{};
        follow(want, lines);
        // The baseline: one character every 1.04 ms, as a 9600-baud line carries them.
        auto start = Clock::now();
        for (qsizetype at = 0; at < lines.size(); ++at) {
            while (microsSince(start) < double(at) * 1041.667) {
            }
            [[maybe_unused]] const ssize_t n = ::write(bareSide, lines.constData() + at, 1);
        }
        bench::readExactly(bare.master, lines.size());
        paced.push_back(microsSince(start));

        start = Clock::now();
        [[maybe_unused]] const ssize_t n = ::write(logger, lines.constData(), lines.size());
        // Until the line has been quiet for 300 ms: when the box last came to the state it ends in.
        QByteArray wire;
        double reached = 0;
        for (pollfd p{box.master, POLLIN, 0}; ::poll(&p, 1, 300) > 0;) {
            const ssize_t got = ::read(box.master, drain, sizeof drain);
            wire += QByteArray(drain, got > 0 ? int(got) : 0);
            const qsizetype end = wire.lastIndexOf('\r');
            const State before = held;
            follow(held, wire.left(end + 1));
            wire.remove(0, end + 1);
            if (held == want && before != want)
                reached = microsSince(start);
        }
        relayed.push_back(reached);
        equal += held == want ? 1 : 0;
    }
    std::printf("1. a logger's 200 lines at full speed until the box holds their last state\n");
    print("written straight to a pty at 9600 baud (median)", paced, relayed);
    std::printf("  %-46s %7d of %d\n", "the box ends where the logger left it", equal, Trials);
    ::close(logger);
    ::close(bareSide);
}

void panelAndPower(const QString& folder)
{
    // The baseline: a host on the simulator's own device, its events on.
    Run direct(ZEPHRIN_BOXSIM, {"--fast"});
    direct.waitFor("/dev/");
    const int host = openRaw(direct.device);
    [[maybe_unused]] ssize_t n = ::write(host, "ETX1\r", 5);
    bench::readExactly(host, 5);

    const QString link = folder + "/box";
    Run box(ZEPHRIN_BOXSIM, {"--fast", "--link", link});
    box.waitFor("/dev/");
    const quint16 port = freePort();
    Run server(ZEPHRIN_SERVER, {"--device", link, "--port", QString::number(port), "--state-dir",
                                folder, "--quiet"});
    pump(800);
    QTcpSocket window;
    window.connectToHost(QHostAddress::LocalHost, port);
    window.waitForConnected(3000);
    window.write(EncryptText("TX1\rRX2S\rAUX107\rAUX209\r", Key).toLatin1());
    pump(500);
    window.readAll();
    std::vector<double> event, report;
    for (int round = 0; round < 40; ++round) {
        const QByteArray word = round % 2 ? "panel TX1\n" : "panel TX2\n";
        auto start = Clock::now();
        direct.say(word);
        bench::readExactly(host, 5);
        event.push_back(microsSince(start));
        pump(50); // the server's keys derived again
        start = Clock::now();
        box.say(word);
        while (window.bytesAvailable() < 24 && microsSince(start) < 2e6)
            window.waitForReadyRead(5);
        report.push_back(microsSince(start));
        pump(20);
        window.readAll();
    }
    std::printf("2. a front-panel switch until its report is at a loopback client\n");
    print("until its event is at a host on the box's device", event, report);

    std::vector<double> restored;
    box.say("panel TX2\n"); // as the window left it
    pump(200);
    for (int round = 0; round < 5; ++round) {
        box.say("power 200\n");
        box.waitFor("power on");
        const auto start = Clock::now();
        for (const char* line : {"< TX2", "< RX2S", "< AUX107", "< AUX209"})
            box.waitFor(line);
        restored.push_back(microsSince(start));
        pump(500);
    }
    std::printf("3. a power cycle: from the box's return until it holds the last state\n");
    std::printf("  %-46s %10.1f ms (worst %.1f ms)\n", "median", median(restored) / 1000,
                bench::percentile(restored, 100 - 1) / 1000);
    ::close(host);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QTemporaryDir folder;
    burst(folder.path());
    panelAndPower(folder.path());
    return 0;
}
