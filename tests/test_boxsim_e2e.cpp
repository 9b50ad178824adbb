// The real window, on Qt's offscreen platform, against zephrin-boxsim over a pty.

#include "app/frmZephrin.h"
#include "box_sim.h"
#include "fakes.h"
#include "platform/qt/event_gate.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_toolkit.h"
#include "platform/qt/widgets.h"
#include "platform/serial_devices.h"
#include "pty_pair.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>

namespace {

// The real window on a real serial port, whose device `serial ports/COM3` names, with message
// boxes recorded instead of shown, so that nothing waits for a click that never comes.
class RealWindowTest : public ::testing::Test {
protected:
    EventGate gate;
    FakePlatform fakes;
    FakeDialogs& dialog = fakes.ui.dialog;
    QtToolkit toolkit{gate, &dialog};
    SerialDeviceMap devices{fakes.store};
    QtSerialPort serial{devices, gate};
    PtyPair pty;
    frmZephrin form{{toolkit, serial, fakes.socket, fakes.store, fakes.launcher}};
    QMainWindow* window = toolkit.mainWindow();
    TerminalPane* pane = window->findChild<TerminalPane*>("txtTerm");

    void SetUp() override
    {
        form.Form_Load();
        window->show();
        openCom3(pty.slavePath());
        form.protocol = "1";
    }
    void openCom3(const QString& device)
    {
        fakes.store.values["Zephrin/serial ports/COM3"] = device;
        trigger("mnuPortsCom3");
        ASSERT_TRUE(serial.portOpen()) << dialog.prompts().join("\n").toStdString();
    }
    void trigger(const char* entry) { window->findChild<QAction*>(entry)->trigger(); }
    bool lit(const char* lamp) { return toolkit.shape(lamp).fillStyle() == FillStyle::Solid; }
    void type(const QString& keys)
    {
        for (QChar c : keys) {
            const int key = c == '\r' ? int(Qt::Key_Return) : int(c.toUpper().unicode());
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, c == '\r' ? "\r" : QString(c));
            QApplication::sendEvent(pane, &press);
        }
    }
};

TEST_F(RealWindowTest, TheSimulatedBoxesAnswerTheWindowsCommandsAndTypedLines)
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
    window->findChild<QAbstractButton*>("RXQuery")->click();
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
TEST_F(RealWindowTest, RepliesThatCameMeanwhileAreShownAndAppliedWithoutBoxesOfTheirOwn)
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

TEST_F(RealWindowTest, AFloodWhileTheBoxIsOpenIsHeldBoundedAndItsEndShownAtOnce)
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

} // namespace
