// SPDX-License-Identifier: GPL-3.0-or-later
// The real window on Qt's offscreen platform with the real serial port and socket: its keys and
// wiring; against a pty for exact bytes, line settings and the failures an operator meets
// (missing, busy and vanished devices); against zephrin-server and a bare loopback peer, on
// ports the test picks. And the settings file that cannot be used.

#include "app/frmZephrin.h"
#include "fakes.h"
#include "frontend/qt_toolkit.h"
#include "frontend/widgets.h"
#include "platform/qt/event_gate.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_settings_store.h"
#include "platform/qt/qt_socket.h"
#include "platform/qt/qt_workers.h"
#include "platform/serial_devices.h"
#include "server_process.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMainWindow>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QTest>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Message boxes are recorded instead of shown, so that nothing waits for a click that never
// comes. The window starts on COM3, which stands for the pty, with OTRSP chosen.
class WindowTest : public ::testing::Test {
protected:
    PtyPair pty;
    EventGate gate;
    FakePlatform fakes;
    FakeDialogs& dialog = fakes.ui.dialog;
    QtToolkit toolkit{gate, &dialog};
    SerialDeviceMap devices{fakes.store};
    QtSerialPort serial{devices, gate};
    QtSocket socket{gate};
    QtWorkers workers{gate};
    frmZephrin form{{toolkit, serial, socket, fakes.store, fakes.launcher, workers}};
    QMainWindow* window = toolkit.mainWindow();
    TerminalPane* pane = window->findChild<TerminalPane*>("txtTerm");

    void SetUp() override
    {
        form.Form_Load();
        dialog.boxes.clear(); // start-up asks for a port
        window->show();
        openCom3(pty.slavePath());
        form.protocol = "1";
    }
    void mapCom(int n, const QString& device)
    {
        // Spaces around a stored device are no part of its name.
        fakes.store.values[QString("Zephrin/serial ports/COM%1").arg(n)] = " " + device + " ";
    }
    void openCom3(const QString& device)
    {
        mapCom(3, device);
        trigger("mnuPortsCom3");
        ASSERT_TRUE(serial.portOpen()) << dialog.prompts().join("\n").toStdString();
    }
    // Connect, as the operator would, to a server on the given loopback port.
    void connectTo(quint16 port)
    {
        form.mnuTCPPort1_Click();
        fakes.store.values["Zephrin/settings/port"] = QString::number(port);
        dialog.answers = {QString("127.0.0.1")};
        form.cmdConnect_Click();
    }
    QAction* action(const char* entry) { return window->findChild<QAction*>(entry); }
    void trigger(const char* entry) { action(entry)->trigger(); }
    void click(const char* button) { window->findChild<QAbstractButton*>(button)->click(); }
    bool lit(const char* lamp) { return toolkit.shape(lamp).fillStyle() == FillStyle::Solid; }
    bool showsStatus(const char* text) { return toolkit.label("lblStatus").caption() == text; }
};

TEST_F(WindowTest, ClicksAndKeysReachTheHandlersWhichSetTheMarksAndThePane)
{
    trigger("mnuPortsCom3"); // choosing the checked entry keeps it checked
    EXPECT_TRUE(action("mnuPortsCom3")->isChecked());

    // Keys typed in the pane go to the box and edit the pane.
    form.protocol = "2";
    const auto press = [&](int key, const QString& text) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(pane, &event);
    };
    press(Qt::Key_A, "a");
    press(Qt::Key_Space, " ");
    press(Qt::Key_Return, "\r");
    EXPECT_EQ(pane->text(), "a \r\n");
    press(Qt::Key_Backspace, "\b");
    EXPECT_EQ(pane->text(), "a ") << "one backspace takes the whole line end";
    press(Qt::Key_Backspace, "\b");
    press(Qt::Key_Backspace, "\b");
    EXPECT_EQ(pane->text(), "") << "down to the first character";
    press(Qt::Key_Enter, ""); // the keypad's Enter may come without text
    press(Qt::Key_Left, "");
    press(Qt::Key_Delete, "\x7f"); // X11's text for Delete is no character either
    EXPECT_EQ(pty.read(8, 200), "a \r\b\b\b\r");
    // Ctrl+Tab leaves the pane for the next control, as Tab does; Ctrl+Home stays.
    window->activateWindow();
    pane->setFocus();
    QKeyEvent ctrlHome(QEvent::KeyPress, Qt::Key_Home, Qt::ControlModifier);
    QApplication::sendEvent(pane, &ctrlHome);
    EXPECT_EQ(window->focusWidget(), pane);
    QKeyEvent ctrlTab(QEvent::KeyPress, Qt::Key_Tab, Qt::ControlModifier, "\t");
    QApplication::sendEvent(pane, &ctrlTab);
    EXPECT_EQ(window->focusWidget()->objectName(), "cmdConnect");
    EXPECT_EQ(pane->text(), "\r\n");
    pty.write("\x01\tB\x7f\r"); // control bytes show as dots, a carriage return as a break
    EXPECT_TRUE(pumpUntil(
        [&] { return pane->toPlainText().endsWith(QString::fromUtf8("\n \u00b7\tB\u00b7\n ")); }));

    pane->setText("RX1\r\nTX2\r\n");
    pane->selectAll();
    pane->copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "RX1\nTX2\n") << "plain line breaks";
    window->close(); // the window's closed event is the form's unload
    EXPECT_FALSE(serial.portOpen());
}

// A folder where the settings file should be: nothing can be read or saved, and the program
// says so once each way and goes on.
TEST(SettingsFile, ThatCannotBeReadOrWrittenIsReportedOnceAndNothingElseFails)
{
    QtSettingsStore settings;
    const QString file = settings.location();
    ASSERT_TRUE(QDir().mkpath(file));
    FakePlatform fakes;
    frmZephrin form(
        {fakes.ui, fakes.serial, fakes.socket, settings, fakes.launcher, fakes.workers});
    form.Form_Load();
    form.mnuPortsCom1_Click();
    form.mnuMK2R_Click();
    form.mnuInterlockingAux_Click();
    form.Exit_Click();
    QDir(file).removeRecursively();

    const auto& boxes = fakes.ui.dialog.boxes;
    ASSERT_EQ(boxes.size(), 3u) << fakes.ui.dialog.prompts().join("\n").toStdString();
    EXPECT_EQ(boxes[0].title + "|" + boxes[1].title, "Settings not read|Settings not saved");
    EXPECT_TRUE(boxes[1].prompt.contains(file + ": a folder stands where the file should be"));
    EXPECT_TRUE(fakes.ui.menuEntry("mnuMK2R").isChecked && fakes.ui.app.ended);

    // A lock that can never be taken holds a choice of port for a moment, not for good.
    ASSERT_TRUE(QDir().mkpath(file + ".lock"));
    FakePlatform third;
    frmZephrin locked(
        {third.ui, third.serial, third.socket, settings, third.launcher, third.workers});
    QElapsedTimer choosing;
    choosing.start();
    locked.mnuPortsCom2_Click();
    EXPECT_LT(choosing.elapsed(), 1000);
    EXPECT_TRUE(third.ui.dialog.prompts().join("\n").contains(file + ".lock cannot be taken"))
        << third.ui.dialog.prompts().join("\n").toStdString();
    QDir(QFileInfo(file).absolutePath()).removeRecursively();
}

TEST_F(WindowTest, CommandsReachTheBoxAsExactBytesUntilItIsUnplugged)
{
    trigger("mnuOTRSP");
    EXPECT_EQ(pty.read(22), QByteArray("?TX\r?RX\rAUX100\rAUX200\r"));
    // An access key pressed on the window acts at once, as a click does, with no animation to
    // wait for; held, it does not repeat.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(pty.read(5, 20), QByteArray("RX1S\r"));
    qt_sendShortcutOverrideEvent(window, 0, Qt::Key_S, Qt::AltModifier, "s", /*autorep*/ true);
    EXPECT_TRUE(pty.read(1, 50).isEmpty() && dialog.prompts().isEmpty()) << "nothing but those";

    // Unplugged: the hang-up is noticed at once and the descriptor let go, so that nothing polls
    // a dead line; the next command fails, and once the box is back it works again.
    pty.closeMaster();
    ASSERT_TRUE(pumpUntil([&] { return !serial.portOpen(); }, 1000));
    click("RxFocus2");
    ASSERT_EQ(dialog.prompts().size(), 1);
    EXPECT_TRUE(dialog.prompts()[0].startsWith("VB6 runtime error (RxFocus2_click): 8018 - "));
    PtyPair replugged;
    openCom3(replugged.slavePath());
    click("RxFocus2");
    EXPECT_EQ(replugged.read(4), QByteArray("RX2\r"));
    EXPECT_EQ(dialog.prompts().size(), 1);
}

TEST_F(WindowTest, ChoosingThePortSetsTheLineOrSaysWhyItCannotOpenTheDevice)
{
    // Another program changes the settings while the port is closed.
    serial.setPortOpen(false);
    EXPECT_THROW(serial.setCommPort(17), RuntimeError);
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
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
    serial.setSettings("4800,N,8,2"); // on the open port at once
    tcgetattr(other, &t);
    ::close(other);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B4800));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8 | CSTOPB));
    for (const char* wrong : {"9600,N,4,1", "9600,X,8,1", "fast,N,8,1"})
        EXPECT_THROW(serial.setSettings(wrong), RuntimeError) << wrong;

    // A missing, wrong or busy device is reported by name and closes the previous port.
    mapCom(5, "/dev/zephrin-no-such-device");
    trigger("mnuPortsCom5");
    ASSERT_EQ(dialog.prompts().size(), 1);
    EXPECT_TRUE(dialog.prompts()[0].startsWith("VB6 runtime error (com5_click): 8002 - "));
    EXPECT_TRUE(dialog.prompts()[0].contains("/dev/zephrin-no-such-device") && !serial.portOpen());

    mapCom(7, "box");
    trigger("mnuPortsCom7");
    EXPECT_TRUE(dialog.prompts().last().contains("not absolute: COM7 is mapped to \"box\""));
    QTemporaryFile plainFile;
    ASSERT_TRUE(plainFile.open());
    mapCom(6, plainFile.fileName());
    trigger("mnuPortsCom6");
    EXPECT_TRUE(dialog.prompts().last().contains("8002 - Not a serial"));

    QtSerialPort otherProgram(devices, gate);
    otherProgram.setCommPort(3);
    otherProgram.setPortOpen(true);
    trigger("mnuPortsCom3");
    EXPECT_TRUE(
        dialog.prompts().last().startsWith("VB6 runtime error (com3_click): 8010 - Device busy"));
    EXPECT_TRUE(dialog.prompts().last().contains(pty.slavePath()) && !serial.portOpen());
}

// What the box sends while a message box is open waits, bounded, and comes in order once the
// box is closed, with no further byte needed; only the first protocol error raises a box.
TEST_F(WindowTest, WhatCameWhileABoxWasOpenIsHeldBoundedAndAppliedWithoutBoxesOfItsOwn)
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

    // A flood while the box is open is held, bounded, and its end shown at once.
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

TEST_F(WindowTest, AServerLightsTheLampsAndAPeerThatClosesOrRefusesIsShown)
{
    {
        Server server({"--simulate", "otrsp"}, ResetKey);
        for (const char* lamp : {"shpFocus1", "shpRx1"})
            toolkit.shape(lamp).setFillStyle(FillStyle::Transparent);
        connectTo(server.port());
        ASSERT_TRUE(pumpUntil([&] { return lit("shpFocus1") && lit("shpRx1"); }, 5000))
            << server.log().toStdString();
        form.cmdDisconnect_Click();
    }

    // A server that closes or refuses is shown and never stops the window.
    {
        QTcpServer peer;
        ASSERT_TRUE(peer.listen(QHostAddress::LocalHost, 0));
        connectTo(peer.serverPort());
        ASSERT_TRUE(pumpUntil([&] { return peer.hasPendingConnections(); }));
        peer.nextPendingConnection()->disconnectFromHost();
        ASSERT_TRUE(pumpUntil([&] { return showsStatus("Connection closed"); }, 5000));
        form.mnuTCPPort2_Click(); // closed by the peer is not yet closed here
        EXPECT_EQ(dialog.prompts().last(), "Must be disconnected from server to change port.");
        form.cmdDisconnect_Click();
    }
    connectTo(freePort()); // nothing listens there
    ASSERT_TRUE(pumpUntil([&] { return showsStatus("Network error"); }, 5000));
}

TEST_F(WindowTest, WithSecureLinkTickedATlsServerLightsTheLampsAndAWrongKeyIsSaid)
{
    trigger("mnuSecureLink");
    {
        Server server({"--simulate", "otrsp", "--tls"}, ResetKey);
        for (const char* lamp : {"shpFocus1", "shpRx1", "shpFocus2"})
            toolkit.shape(lamp).setFillStyle(FillStyle::Transparent);
        connectTo(server.port());
        ASSERT_TRUE(pumpUntil([&] { return lit("shpFocus1") && lit("shpRx1"); }, 5000))
            << server.log().toStdString();
        toolkit.shape("shpFocus2").setFillStyle(FillStyle::Transparent);
        click("TxFocus2");
        EXPECT_TRUE(server.waitForLog("to the box: \"TX2\\r\""));
        form.cmdDisconnect_Click();
    }
    Server other({"--simulate", "otrsp", "--tls"}, "another key");
    connectTo(other.port());
    ASSERT_TRUE(pumpUntil([&] { return showsStatus("Secure link failed"); }, 5000));
    EXPECT_TRUE(lit("shpNetStat"));
    EXPECT_EQ(dialog.prompts().filter("The secure link (TLS) to Zephrin Server failed").size(),
              1);
    EXPECT_TRUE(other.waitForLog("its key differs from this server's"));
}

TEST_F(WindowTest, AClickIsHandledWithinAFloodOfReportsAfterAFewOfThem)
{
    QTcpServer peer;
    ASSERT_TRUE(peer.listen(QHostAddress::LocalHost, 0));
    connectTo(peer.serverPort());
    ASSERT_TRUE(pumpUntil([&] { return peer.hasPendingConnections(); }));
    QTcpSocket* server = peer.nextPendingConnection();
    ASSERT_TRUE(pumpUntil([&] { return showsStatus("Sent data"); }));
    pumpUntil([] { return false; }, 50);
    server->readAll(); // the opening commands

    // A flood of reports is applied in order, and a click meanwhile waits for a few of them only.
    QByteArray flood;
    for (int i = 0; i < 100; ++i)
        flood += EncryptText("AUX101\r", ResetKey).toLatin1();
    auto* button = window->findChild<QAbstractButton*>("TxFocus2");
    qsizetype shownAtClick = -1;
    QObject::connect(button, &QAbstractButton::clicked,
                     [&] { shownAtClick = pane->text().count("AUX"); });
    server->write(flood);
    ASSERT_TRUE(pumpUntil([&] { return pane->text().contains("AUX"); }));
    QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
    ASSERT_TRUE(pumpUntil([&] { return pane->text().count("AUX") == 100; }, 20000));
    EXPECT_GT(shownAtClick, 0);
    EXPECT_LT(shownAtClick, 20);
    EXPECT_TRUE(lit("shpFocus2"));
    toolkit.label("lblStatus").setCaption("");
    server->write("x"); // one byte is an arrival too
    EXPECT_TRUE(pumpUntil([&] { return showsStatus("Received data"); }));
}

} // namespace
