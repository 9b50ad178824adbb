// The serial link against a real pty pair: exact bytes on the wire, line settings, and the
// failures an operator meets (missing, busy and vanished devices).

#include "app/frmZephrin.h"
#include "fakes.h"
#include "platform/qt/event_gate.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/serial_devices.h"
#include "pty_pair.h"

#include <QTemporaryFile>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

namespace {

class SerialPtyTest : public ::testing::Test {
protected:
    PtyPair pty;
    EventGate gate;
    FakePlatform fakes;
    FakeSettingsStore& store = fakes.store;
    FakeToolkit& ui = fakes.ui;
    SerialDeviceMap devices{store};
    QtSerialPort serial{devices, gate};
    frmZephrin form{{ui, serial, fakes.socket, store, fakes.launcher}};

    void SetUp() override
    {
        mapCom(3, pty.slavePath());
        form.Form_Load();
        ui.menuEntry("mnuPortsCom3").click();
        ASSERT_TRUE(serial.portOpen()) << prompts().join("\n").toStdString();
    }
    void mapCom(int n, const QString& device)
    {
        store.values[QString("Zephrin/serial ports/COM%1").arg(n)] = device;
    }
    QStringList prompts() { return ui.dialog.prompts(); }
};

TEST_F(SerialPtyTest, CommandsReachTheBoxAsExactBytesInBothProtocols)
{
    ui.menuEntry("mnuOTRSP").click();
    EXPECT_EQ(pty.read(22), QByteArray("?TX\r?RX\rAUX100\rAUX200\r"));
    ui.button("RxFocusS").click();
    EXPECT_EQ(pty.read(5), QByteArray("RX1S\r"));
    ui.menuEntry("mnuMK2R").click();
    EXPECT_EQ(pty.read(12), QByteArray("AS100\rAS200\r"));
    ui.button("TxFocus2").click();
    EXPECT_EQ(pty.read(4), QByteArray("FT2\r"));
    EXPECT_TRUE(pty.read(1, 50).isEmpty()) << "nothing but the commands";
    EXPECT_TRUE(prompts().isEmpty()) << prompts().join("\n").toStdString();
}

TEST_F(SerialPtyTest, ChoosingThePortSets9600EightNoneOneWithoutFlowControl)
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

    ui.menuEntry("mnuPortsCom3").click();
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

TEST_F(SerialPtyTest, AMissingWrongOrBusyDeviceIsReportedByNameAndClosesThePreviousPort)
{

    mapCom(5, "/dev/zephrin-no-such-device");
    ui.menuEntry("mnuPortsCom5").click();
    ASSERT_EQ(prompts().size(), 1);
    EXPECT_TRUE(prompts()[0].startsWith("VB6 runtime error (com5_click): 8002 - "));
    EXPECT_TRUE(prompts()[0].contains("/dev/zephrin-no-such-device"));
    EXPECT_TRUE(prompts()[0].contains("[serial ports]"));
    EXPECT_FALSE(serial.portOpen());

    mapCom(7, "box");
    ui.menuEntry("mnuPortsCom7").click();
    EXPECT_TRUE(prompts().last().contains("not absolute: COM7 is mapped to \"box\""));

    QTemporaryFile plainFile;
    ASSERT_TRUE(plainFile.open());
    mapCom(6, plainFile.fileName());
    ui.menuEntry("mnuPortsCom6").click();
    EXPECT_TRUE(prompts().last().startsWith("VB6 runtime error (com6_click): 8002 - Not a serial"));
    EXPECT_TRUE(prompts().last().contains(plainFile.fileName()));

    QtSerialPort otherProgram(devices, gate);
    otherProgram.setCommPort(3);
    otherProgram.setPortOpen(true);
    ui.menuEntry("mnuPortsCom3").click();
    EXPECT_TRUE(prompts().last().startsWith("VB6 runtime error (com3_click): 8010 - Device busy"));
    EXPECT_TRUE(prompts().last().contains(pty.slavePath()));
    EXPECT_FALSE(serial.portOpen());
    EXPECT_EQ(prompts().size(), 4);
}

TEST_F(SerialPtyTest, AnUnpluggedBoxFailsTheNextCommandAndWorksAgainOnceBack)
{
    form.protocol = "1";
    ui.button("RxFocus1").click();
    EXPECT_EQ(pty.read(4), QByteArray("RX1\r"));

    pty.closeMaster();
    // The hang-up is noticed at once and the descriptor let go: nothing polls a dead line.
    ASSERT_TRUE(pumpUntil([&] { return !serial.portOpen(); }, 1000));
    ui.button("RxFocus2").click();
    ASSERT_EQ(prompts().size(), 1);
    EXPECT_TRUE(prompts()[0].startsWith("VB6 runtime error (RxFocus2_click): 8018 - "));
    EXPECT_TRUE(prompts()[0].contains("disconnected"));

    PtyPair replugged;
    mapCom(3, replugged.slavePath());
    ui.menuEntry("mnuPortsCom3").click();
    ASSERT_TRUE(serial.portOpen()) << prompts().join("\n").toStdString();
    ui.button("RxFocus2").click();
    EXPECT_EQ(replugged.read(4), QByteArray("RX2\r"));
    EXPECT_EQ(prompts().size(), 1);
}

TEST_F(SerialPtyTest, WhatTheBoxSendsArrivesInBurstsEndedByACarriageReturnOrSilence)
{
    form.protocol = "3";
    QStringList pieces;
    ui.richTextBox("txtTerm").onChange([&] {
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
    EXPECT_EQ(ui.richTextBox("txtTerm").content, "RX1\r\nFW1.2");
}

} // namespace
