// From a focus click on the network link to the whole encrypted message received by a loopback
// peer, beside EncryptText of the same command alone, interleaved in one run. Prints medians in
// µs and what the network path adds to the cipher's cost.

#include "app/frmZephrin.h"
#include "bench_support.h"
#include "cipher/encrypted_text.h"
#include "platform/qt/qt_platform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMainWindow>
#include <QTcpServer>
#include <QTcpSocket>
#include <cstdio>

int main(int argc, char** argv)
{
    const bench::OffscreenRun run;
    QApplication app(argc, argv);
    constexpr int Rounds = 300;

    QTcpServer peer;
    peer.listen(QHostAddress::LocalHost, 0);
    QtPlatform platform;
    platform.settings.saveSetting(AppName, "settings", "port", QString::number(peer.serverPort()));
    frmZephrin form(platform.bundle());
    form.Password = ResetKey; // start-up would ask for a port first: the key is all it needs
    form.mnuTCPPort1_Click();
    form.protocol = "1";
    platform.socket.connectTo("127.0.0.1", peer.serverPort());
    // Connected, and the protocol's opening commands gone by.
    while (platform.toolkit.label("lblStatus").caption() != "Sent data")
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QTcpSocket* server = peer.nextPendingConnection();
    server->waitForReadyRead(1000);
    server->readAll();
    const int peerFd = int(server->socketDescriptor());
    auto* button = platform.toolkit.mainWindow()->findChild<QAbstractButton*>("RxFocus1");
    const qsizetype messageLength = EncryptText("RX1\r", form.Password).size();

    std::vector<double> clicks, encryptions;
    for (int round = 0; round < Rounds + 20; ++round) {
        auto start = bench::Clock::now();
        button->click();
        bench::readExactly(peerFd, messageLength);
        const double click = bench::microsSince(start);
        start = bench::Clock::now();
        const QString message = EncryptText("RX1\r", form.Password);
        const double encryption = bench::microsSince(start);
        if (round >= 20) { // the first rounds warm up
            clicks.push_back(click);
            encryptions.push_back(encryption);
        }
    }
    const double click = bench::median(clicks), encryption = bench::median(encryptions);
    std::printf("%-44s %12s\n", "RxFocus1 on the network (OTRSP \"RX1\" + CR)", "median µs");
    std::printf("%-44s %12.1f\n", "EncryptText alone", encryption);
    std::printf("%-44s %12.1f\n", "click to the whole message at the peer", click);
    std::printf("%-44s %12.1f\n", "added by the network path (median)", click - encryption);
    return 0;
}
