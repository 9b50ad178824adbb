// The real window, serial port and socket on Qt's offscreen platform: against a pty for exact
// bytes, line settings and the failures an operator meets (missing, busy and vanished devices);
// against zephrin-boxsim; and against zephrin-server and a bare loopback peer, on ports the test
// picks.

#include "app/frmZephrin.h"
#include "box_sim.h"
#include "fakes.h"
#include "openssl_peer.h"
#include "platform/qt/event_gate.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_socket.h"
#include "platform/qt/qt_toolkit.h"
#include "platform/qt/widgets.h"
#include "platform/serial_devices.h"
#include "server_process.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Message boxes are recorded instead of shown, so that nothing waits for a click that never
// comes. The window starts on COM3, which stands for the pty, with OTRSP chosen.
class RealLinks : public ::testing::Test {
protected:
    PtyPair pty;
    EventGate gate;
    FakePlatform fakes;
    FakeDialogs& dialog = fakes.ui.dialog;
    QtToolkit toolkit{gate, &dialog};
    SerialDeviceMap devices{fakes.store};
    QtSerialPort serial{devices, gate};
    QtSocket socket{gate};
    frmZephrin form{{toolkit, serial, socket, fakes.store, fakes.launcher}};
    QMainWindow* window = toolkit.mainWindow();
    TerminalPane* pane = window->findChild<TerminalPane*>("txtTerm");

    void SetUp() override
    {
        form.Form_Load();
        window->show();
        openCom3(pty.slavePath());
        form.protocol = "1";
    }
    void mapCom(int n, const QString& device)
    {
        fakes.store.values[QString("Zephrin/serial ports/COM%1").arg(n)] = device;
    }
    void openCom3(const QString& device)
    {
        mapCom(3, device);
        trigger("mnuPortsCom3");
        ASSERT_TRUE(serial.portOpen()) << prompts().join("\n").toStdString();
    }
    // Connect, as the operator would, to a server on the given loopback port.
    void connectTo(quint16 port)
    {
        form.mnuTCPPort1_Click();
        fakes.store.values["Zephrin/settings/port"] = QString::number(port);
        dialog.answers = {QString("127.0.0.1")};
        form.cmdConnect_Click();
    }
    void trigger(const char* entry) { window->findChild<QAction*>(entry)->trigger(); }
    void click(const char* button) { window->findChild<QAbstractButton*>(button)->click(); }
    bool lit(const char* lamp) { return toolkit.shape(lamp).fillStyle() == FillStyle::Solid; }
    QStringList prompts() { return dialog.prompts(); }
    QString status() { return toolkit.label("lblStatus").caption(); }
    void type(const QString& keys)
    {
        for (QChar c : keys) {
            const int key = c == '\r' ? int(Qt::Key_Return) : int(c.toUpper().unicode());
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, c == '\r' ? "\r" : QString(c));
            QApplication::sendEvent(pane, &press);
        }
    }
};

TEST_F(RealLinks, CommandsReachTheBoxAsExactBytesInBothProtocols)
{
    trigger("mnuOTRSP");
    EXPECT_EQ(pty.read(22), QByteArray("?TX\r?RX\rAUX100\rAUX200\r"));
    click("RxFocusS");
    EXPECT_EQ(pty.read(5), QByteArray("RX1S\r"));
    trigger("mnuMK2R");
    EXPECT_EQ(pty.read(12), QByteArray("AS100\rAS200\r"));
    click("TxFocus2");
    EXPECT_EQ(pty.read(4), QByteArray("FT2\r"));
    EXPECT_TRUE(pty.read(1, 50).isEmpty()) << "nothing but the commands";
    EXPECT_TRUE(prompts().isEmpty()) << prompts().join("\n").toStdString();
}

TEST_F(RealLinks, ChoosingThePortSets9600EightNoneOneWithoutFlowControl)
{
    // Another program changes the settings while the port is closed.
    serial.setPortOpen(false);
    const int other = ::open(pty.slavePath().toLocal8Bit(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    termios t{};
    tcgetattr(other, &t);
    cfsetspeed(&t, B19200);
    t.c_cflag = (t.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
    t.c_iflag |= IXON | IXOFF;
    tcsetattr(other, TCSANOW, &t);

    trigger("mnuPortsCom3");
    ASSERT_TRUE(serial.portOpen());
    tcgetattr(other, &t);
    ::close(other);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(cfgetispeed(&t), speed_t(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_FALSE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
}

TEST_F(RealLinks, AMissingWrongOrBusyDeviceIsReportedByNameAndClosesThePreviousPort)
{

    mapCom(5, "/dev/zephrin-no-such-device");
    trigger("mnuPortsCom5");
    ASSERT_EQ(prompts().size(), 1);
    EXPECT_TRUE(prompts()[0].startsWith("VB6 runtime error (com5_click): 8002 - "));
    EXPECT_TRUE(prompts()[0].contains("/dev/zephrin-no-such-device"));
    EXPECT_TRUE(prompts()[0].contains("[serial ports]"));
    EXPECT_FALSE(serial.portOpen());

    mapCom(7, "box");
    trigger("mnuPortsCom7");
    EXPECT_TRUE(prompts().last().contains("not absolute: COM7 is mapped to \"box\""));

    QTemporaryFile plainFile;
    ASSERT_TRUE(plainFile.open());
    mapCom(6, plainFile.fileName());
    trigger("mnuPortsCom6");
    EXPECT_TRUE(prompts().last().startsWith("VB6 runtime error (com6_click): 8002 - Not a serial"));
    EXPECT_TRUE(prompts().last().contains(plainFile.fileName()));

    QtSerialPort otherProgram(devices, gate);
    otherProgram.setCommPort(3);
    otherProgram.setPortOpen(true);
    trigger("mnuPortsCom3");
    EXPECT_TRUE(prompts().last().startsWith("VB6 runtime error (com3_click): 8010 - Device busy"));
    EXPECT_TRUE(prompts().last().contains(pty.slavePath()));
    EXPECT_FALSE(serial.portOpen());
    EXPECT_EQ(prompts().size(), 4);
}

TEST_F(RealLinks, AnUnpluggedBoxFailsTheNextCommandAndWorksAgainOnceBack)
{
    form.protocol = "1";
    click("RxFocus1");
    EXPECT_EQ(pty.read(4), QByteArray("RX1\r"));

    pty.closeMaster();
    // The hang-up is noticed at once and the descriptor let go: nothing polls a dead line.
    ASSERT_TRUE(pumpUntil([&] { return !serial.portOpen(); }, 1000));
    click("RxFocus2");
    ASSERT_EQ(prompts().size(), 1);
    EXPECT_TRUE(prompts()[0].startsWith("VB6 runtime error (RxFocus2_click): 8018 - "));
    EXPECT_TRUE(prompts()[0].contains("disconnected"));

    PtyPair replugged;
    openCom3(replugged.slavePath());
    click("RxFocus2");
    EXPECT_EQ(replugged.read(4), QByteArray("RX2\r"));
    EXPECT_EQ(prompts().size(), 1);
}

TEST_F(RealLinks, WhatTheBoxSendsArrivesInBurstsEndedByACarriageReturnOrSilence)
{
    form.protocol = "3";
    QStringList pieces;
    toolkit.richTextBox("txtTerm").onChange([&] {
        if (!form.buffer.isEmpty() && (pieces.isEmpty() || pieces.last() != form.buffer))
            pieces << form.buffer;
    });

    pty.write("RX");
    pty.write("1\r");
    ASSERT_TRUE(pumpUntil([&] { return pieces.size() == 1; }));
    EXPECT_EQ(pieces[0], "RX1\r\n");

    pty.write("FW1.");
    pty.write("2"); // no line end: the silence after it ends the burst
    ASSERT_TRUE(pumpUntil([&] { return pieces.size() == 2; }));
    EXPECT_EQ(pieces[1], "FW1.2");
    EXPECT_EQ(pane->text(), "RX1\r\nFW1.2");
}

TEST_F(RealLinks, TheSimulatedBoxesAnswerTheWindowsCommandsAndTypedLines)
{
    BoxSim otrsp("otrsp");
    openCom3(otrsp.device());
    trigger("mnuOTRSP");
    ASSERT_TRUE(pumpUntil([&] { return lit("shpFocus1") && lit("shpRx1"); }));
    EXPECT_TRUE(pane->text().contains("RX1\r\n") && pane->text().contains("TX1\r\n"));
    // The operator sets the box by hand in the pane; only the box's answer moves the lamps.
    type("RX2S\r");
    ASSERT_TRUE(otrsp.waitFor("< RX2S"));
    EXPECT_FALSE(lit("shpRxS"));
    click("RXQuery");
    ASSERT_TRUE(pumpUntil([&] { return lit("shpRxS"); }));
    EXPECT_EQ(form.buffer, "RX2S\r\n") << "the reply arrived as one piece";
    EXPECT_TRUE(dialog.boxes.empty()) << dialog.prompts().join("\n").toStdString();

    BoxSim mk2r("mk2r");
    openCom3(mk2r.device());
    trigger("mnuMK2R");
    ASSERT_TRUE(mk2r.waitFor("< AS200"));
    type("XY\r");
    ASSERT_TRUE(mk2r.waitFor("> EXY"));
    ASSERT_TRUE(pumpUntil([&] { return !dialog.boxes.empty(); }));
    EXPECT_EQ(dialog.prompts(), QStringList{"MK2R Protocol Error."});
}

// What the box sends while a message box is open waits, bounded, and comes in order once the
// box is closed, with no further byte needed; only the first protocol error raises a box.
TEST_F(RealLinks, RepliesThatCameMeanwhileAreShownAndAppliedWithoutBoxesOfTheirOwn)
{
    dialog.whileOpen = [&] {
        pty.write("TX2\r");
        pty.write("RX1S\r?X\r");
        pumpUntil([&] { return serial.inBufferCount() == 12; });
    };
    pty.write("?\r");
    ASSERT_TRUE(pumpUntil([&] { return pane->text().endsWith("?X\r\n"); }, 5000));
    EXPECT_EQ(pane->text(), "?\r\nTX2\r\nRX1S\r\n?X\r\n");
    EXPECT_TRUE(lit("shpFocus2") && lit("shpRxS"));
    EXPECT_EQ(dialog.prompts(), QStringList{"OTRSP protocol error."});

    pty.write("?\r");
    ASSERT_TRUE(pumpUntil([&] { return dialog.boxes.size() == 2; })) << "a later error speaks";
}

TEST_F(RealLinks, AFloodWhileTheBoxIsOpenIsHeldBoundedAndItsEndShownAtOnce)
{
    qsizetype mostHeld = 0;
    dialog.whileOpen = [&] {
        const QByteArray line = QByteArray(100, 'x') + "\r";
        for (int i = 0; i < 10000; ++i) { // a megabyte
            pty.write(line);
            QCoreApplication::processEvents();
            mostHeld = std::max<qsizetype>(mostHeld, serial.inBufferCount());
        }
        pty.write("TX2 end\r");
        pumpUntil([&] { return false; }, 50);
    };
    pty.write("?\r");
    ASSERT_TRUE(pumpUntil([&] { return pane->text().endsWith("TX2 end\r\n"); }, 20000));
    EXPECT_LE(mostHeld, 64 * 1024 + 128);
    EXPECT_LE(pane->text().size(), 16000 + 128);
    EXPECT_TRUE(lit("shpFocus2"));
}

TEST_F(RealLinks, OpeningCommandsGoAsFourMessagesAndReportsSplitOrBatchedLightLamps)
{
    for (const QStringList& options : {QStringList{}, QStringList{"--split"}, {"--batch", "4"}}) {
        SCOPED_TRACE(options.join(" ").toStdString());
        Server server(QStringList{"--simulate", "otrsp"} + options, ResetKey);
        for (const char* lamp : {"shpFocus1", "shpRx1"})
            toolkit.shape(lamp).setFillStyle(FillStyle::Transparent);
        connectTo(server.port());
        ASSERT_TRUE(pumpUntil([&] { return lit("shpFocus1") && lit("shpRx1"); }, 5000))
            << server.log().toStdString();
        EXPECT_TRUE(pumpUntil([&] { return server.log().count("text received") == 4; }));
        form.cmdDisconnect_Click();
    }
    EXPECT_EQ(prompts(), QStringList(3, "Enter the IP address or host name to connect to:"));
}

TEST_F(RealLinks, AServerThatClosesOrRefusesIsShownAndNeverStopsTheWindow)
{
    {
        Server server({"--simulate", "otrsp", "--close-after", "4"}, ResetKey);
        connectTo(server.port());
        ASSERT_TRUE(pumpUntil([&] { return status() == "Connection closed"; }, 5000));
        form.mnuTCPPort2_Click(); // closed by the peer is not yet closed here
        EXPECT_EQ(prompts().last(), "Must be disconnected from server to change port.");
        form.cmdDisconnect_Click();
        form.mnuTCPPort2_Click();
        EXPECT_EQ(form.port, "9875");
    }
    connectTo(freePort()); // nothing listens there
    ASSERT_TRUE(pumpUntil([&] { return status() == "Network error"; }, 5000));
}

TEST_F(RealLinks, AFocusClickIsOneMessageThatTheOpensslCommandReads)
{
    QTcpServer peer;
    ASSERT_TRUE(peer.listen(QHostAddress::LocalHost, 0));
    connectTo(peer.serverPort());
    ASSERT_TRUE(pumpUntil([&] { return peer.hasPendingConnections(); }));
    QTcpSocket* server = peer.nextPendingConnection();
    ASSERT_TRUE(pumpUntil([&] { return status() == "Sent data"; }));
    pumpUntil([] { return false; }, 50);
    server->readAll(); // the opening commands

    form.RxFocus1_Click();
    QByteArray message;
    ASSERT_TRUE(pumpUntil([&] { return (message += server->readAll()).size() >= 28; }));
    EXPECT_EQ(runOpenssl(messageFormat("Zephrin", true), message), "RX1\r");
    EXPECT_EQ(status(), "Sent data");
}

} // namespace
