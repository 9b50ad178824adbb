// SPDX-License-Identifier: GPL-3.0-or-later
// The TLS link beside the encrypted messages, in one run, the real window against zephrin-server
// on a pty that plays the box:
//  1. a focus click to the command's bytes on the pty: through a server of the messages, then
//     through one with --tls and Secure Link ticked, each with the part that the window's click
//     handler takes; beside one 10,000-iteration key derivation (what a message costs at each
//     end);
//  2. a new connection until its first command can go (the connected event sends the
//     protocol's opening commands): the messages, TLS with its key derived ahead, and TLS whose
//     key is first derived (one 200,000-iteration derivation, measured alone beside it).

#include "bench_window.h"
#include "cipher/encrypted_text.h"
#include "cipher/tls_key.h"

#include <QAbstractButton>
#include <QApplication>
#include <QProcess>
#include <QTcpServer>
#include <cstdio>

namespace {

using bench::Clock;
using bench::median;
using bench::microsSince;
using bench::pump;

// Connect asks for the host: the loopback address.
class HostDialogs : public bench::PlayedDialogs {
public:
    std::optional<QString> inputBox(const QString&, const QString&, const QString&) override
    {
        return QString("127.0.0.1");
    }
};
struct HostDialogsOwner {
    HostDialogs dialogs;
};
struct WindowPlatform : HostDialogsOwner, QtPlatform {
    WindowPlatform() : QtPlatform(&dialogs) {}
};

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

struct Run {
    std::vector<double> clicks, handlers, connects;
    double firstConnect = 0;
};

// Connects, clicks RxFocus1 `rounds` times, each until its command is on the pty, then connects
// `rounds` times again, each until the opening commands are gone.
Run measure(frmZephrin& form, WindowPlatform& platform, const bench::Pty& pty, bool tls, int rounds)
{
    const quint16 port = freePort();
    QProcess server;
    server.setStandardOutputFile(QProcess::nullDevice());
    server.setStandardErrorFile(QProcess::nullDevice()); // it warns of the default key
    QStringList arguments{"--device", pty.device, "--port", QString::number(port)};
    if (tls)
        arguments << "--tls";
    server.start(ZEPHRIN_SERVER, arguments);
    pump(500);
    platform.settings.saveSetting(AppName, "settings", "port", QString::number(port));
    form.secureLink = tls ? "1" : "0";
    Label& status = platform.toolkit.label("lblStatus");
    Run run;
    const auto connect = [&] {
        form.cmdDisconnect_Click();
        pump(50);
        status.setCaption("");
        const auto start = Clock::now();
        form.cmdConnect_Click();
        while (status.caption() != "Sent data" && microsSince(start) < 5e6)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        return microsSince(start);
    };
    run.firstConnect = connect(); // TLS: its key is derived now
    // The box does not answer the opening queries: the session waits 200 ms for each of them.
    pump(600);
    bench::drain(pty.master);
    auto* button = platform.toolkit.mainWindow()->findChild<QAbstractButton*>("RxFocus1");
    for (int round = 0; round < rounds + 10; ++round) {
        pump(40);
        const auto start = Clock::now();
        button->click();
        const double handler = microsSince(start);
        if (!bench::readExactly(pty.master, 4))
            std::fprintf(stderr, "the command did not arrive\n");
        if (round >= 10) { // the first rounds warm up
            run.clicks.push_back(microsSince(start));
            run.handlers.push_back(handler);
        }
    }
    for (int round = 0; round < rounds; ++round)
        run.connects.push_back(connect());
    form.cmdDisconnect_Click();
    server.terminate();
    server.waitForFinished(5000);
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    const bench::OffscreenRun run;
    QApplication app(argc, argv);
    WindowPlatform platform;
    frmZephrin form(platform.bundle());
    form.Password = ResetKey; // start-up would ask for a port first: the key is all it needs
    form.mnuTCPPort1_Click();
    form.protocol = "1";
    const bench::Pty pty;

    constexpr int Rounds = 40;
    const Run messages = measure(form, platform, pty, false, Rounds);
    const Run tls = measure(form, platform, pty, true, Rounds);
    std::vector<double> derivation, tlsDerivation;
    for (int i = 0; i < 20; ++i) {
        auto start = Clock::now();
        PrepareKey(ResetKey);
        derivation.push_back(microsSince(start));
        if (i < 5) {
            start = Clock::now();
            TlsPreSharedKey(ResetKey);
            tlsDerivation.push_back(microsSince(start));
        }
    }

    std::printf("1. RxFocus1 through zephrin-server to the bytes on the box's pty (medians)\n");
    std::printf("  %-52s %10.1f µs\n", "the encrypted messages", median(messages.clicks));
    std::printf("  %-52s %10.1f µs\n", "TLS", median(tls.clicks));
    std::printf("  %-52s %10.1f µs\n", "  of which the window's click handler, messages",
                median(messages.handlers));
    std::printf("  %-52s %10.1f µs\n", "  of which the window's click handler, TLS",
                median(tls.handlers));
    std::printf("  %-52s %10.1f µs\n", "one 10,000-iteration derivation", median(derivation));
    std::printf("  %-52s %10.2f ×\n", "the messages' click / one derivation",
                median(messages.clicks) / median(derivation));
    std::printf("2. Connect until the first command can go (medians)\n");
    std::printf("  %-52s %10.1f µs\n", "the encrypted messages", median(messages.connects));
    std::printf("  %-52s %10.1f µs\n", "TLS, its key derived ahead", median(tls.connects));
    std::printf("  %-52s %10.1f µs\n", "TLS, its key derived first (one run)", tls.firstConnect);
    std::printf("  %-52s %10.1f µs\n", "one 200,000-iteration derivation", median(tlsDerivation));
    return 0;
}
