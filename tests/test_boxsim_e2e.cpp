// The real window, on Qt's offscreen platform, against zephrin-boxsim over a pty.

#include "app/frmZephrin.h"
#include "box_sim.h"
#include "fakes.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_toolkit.h"
#include "platform/qt/widgets.h"
#include "pty_pair.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <random>

namespace {

// The real window, with message boxes recorded instead of shown, so that nothing waits for a
// click that never comes.
class RecordedBoxesToolkit : public Toolkit {
public:
    QtToolkit real;
    FakeDialogs dialog;
    MenuEntry& menuEntry(const QString& n) override { return real.menuEntry(n); }
    CommandButton& button(const QString& n) override { return real.button(n); }
    Label& label(const QString& n) override { return real.label(n); }
    Shape& shape(const QString& n) override { return real.shape(n); }
    TextBox& textBox(const QString& n) override { return real.textBox(n); }
    RichTextBox& richTextBox(const QString& n) override { return real.richTextBox(n); }
    FormWindow& window() override { return real.window(); }
    Application& application() override { return real.application(); }
    Dialogs& dialogs() override { return dialog; }
};

class WindowAgainstBox : public ::testing::Test {
protected:
    RecordedBoxesToolkit ui;
    FakeSettingsStore store;
    QtSerialPort serial{store};
    frmZephrin form{ui, serial, store};
    QMainWindow* window = ui.real.mainWindow();

    void SetUp() override
    {
        form.Form_Load();
        window->show();
    }
    void connectTo(BoxSim& box)
    {
        store.values["Zephrin/serial ports/COM3"] = box.device();
        trigger("mnuPortsCom3");
        ASSERT_TRUE(serial.portOpen()) << ui.dialog.prompts().join("\n").toStdString();
    }
    void trigger(const char* entry) { window->findChild<QAction*>(entry)->trigger(); }
    void click(const char* button) { window->findChild<QAbstractButton*>(button)->click(); }
    bool lit(const char* lamp)
    {
        return window->findChild<LampWidget*>(lamp)->fillStyle() == FillStyle::Solid;
    }
    TerminalPane* pane() { return window->findChild<TerminalPane*>("txtTerm"); }
    void type(const QString& keys)
    {
        for (QChar c : keys) {
            const int key = c == '\r' ? int(Qt::Key_Return) : int(c.toUpper().unicode());
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, c == '\r' ? "\r" : QString(c));
            QApplication::sendEvent(pane(), &press);
        }
    }
};

TEST_F(WindowAgainstBox, OtrspRepliesShowInThePaneAndLightTheLamps)
{
    BoxSim box("otrsp");
    connectTo(box);
    trigger("mnuOTRSP");
    ASSERT_TRUE(pumpUntil([&] { return pane()->text().contains("RX1\r\n"); }));
    EXPECT_TRUE(pane()->text().contains("TX1\r\n"));
    EXPECT_TRUE(lit("shpFocus1") && lit("shpRx1"));

    // The operator sets the box by hand in the pane; only the box's answer moves the lamps.
    type("RX2S\r");
    ASSERT_TRUE(box.waitFor("< RX2S"));
    EXPECT_FALSE(lit("shpRxS"));
    click("RXQuery");
    ASSERT_TRUE(pumpUntil([&] { return lit("shpRxS"); }));
    EXPECT_FALSE(lit("shpRx1"));
    EXPECT_TRUE(pane()->text().endsWith("RX2S\r\n"));
    EXPECT_EQ(form.buffer, "RX2S\r\n") << "the reply arrived as one piece";
    EXPECT_EQ(ui.real.label("lblStatus").caption(), "Sent data");
    EXPECT_TRUE(ui.dialog.boxes.empty()) << ui.dialog.prompts().join("\n").toStdString();
}

TEST_F(WindowAgainstBox, AnUnknownMk2rCommandTypedInThePaneRaisesTheErrorBox)
{
    BoxSim box("mk2r");
    connectTo(box);
    trigger("mnuMK2R");
    ASSERT_TRUE(box.waitFor("< AS200"));
    type("XY\r");
    ASSERT_TRUE(box.waitFor("> EXY"));
    ASSERT_TRUE(pumpUntil([&] { return !ui.dialog.boxes.empty(); }));
    EXPECT_EQ(ui.dialog.prompts(), QStringList{"MK2R Protocol Error."});
    EXPECT_EQ(ui.dialog.boxes[0].title, "MK2R Protocol Error");
    EXPECT_EQ(pane()->text(), "");
}

TEST_F(WindowAgainstBox, AuxCommandsReachTheBoxInBothProtocols)
{
    for (const char* protocol : {"otrsp", "mk2r"}) {
        const bool otrsp = QString(protocol) == "otrsp";
        BoxSim box(protocol);
        connectTo(box);
        trigger(otrsp ? "mnuOTRSP" : "mnuMK2R");
        trigger("mnuAux107On");
        trigger("mnuAuxR2Off");
        EXPECT_TRUE(box.waitFor(otrsp ? "< AUX107" : "< AS107")) << protocol;
        EXPECT_TRUE(box.waitFor(otrsp ? "< AUX200" : "< AS200")) << protocol;
        EXPECT_EQ(window->findChild<QLineEdit*>("txtAux1")->text(), "Aux107 On");
        EXPECT_EQ(window->findChild<QLineEdit*>("txtAux2")->text(), "Aux R2 Off");
    }
}

TEST_F(WindowAgainstBox, TheInterlockHoldsBackAnOutputWhosePartnerIsOn)
{
    BoxSim box("otrsp");
    connectTo(box);
    trigger("mnuOTRSP");
    trigger("mnuAux207On");
    ASSERT_TRUE(box.waitFor("< AUX207"));
    trigger("mnuInterlockingAux");
    trigger("mnuAux107On");
    EXPECT_EQ(ui.dialog.prompts(),
              QStringList{"Interlocked AUX207 is on, please turn it off first."});
    trigger("mnuAux108On");
    ASSERT_TRUE(box.waitFor("< AUX108"));
    EXPECT_FALSE(box.log().contains("< AUX107"));
}

// Bursts of any bytes, with every protocol value, through the real pane: nothing escapes the
// receive handler, the pane keeps to its trim rule and shows one screen character per character.
TEST(RealPane, RandomBurstsKeepThePaneBoundedAndInStep)
{
    RecordedBoxesToolkit ui;
    FakeSettingsStore store;
    FakeSerialPort serial;
    frmZephrin form(ui, serial, store);
    form.Form_Load();
    auto* pane = ui.real.mainWindow()->findChild<TerminalPane*>("txtTerm");
    std::mt19937 random(11);
    const char* protocols[] = {"1", "2", "3", "", "x"};
    for (int round = 0; round < 1500; ++round) {
        form.protocol = protocols[round % 5];
        QString piece;
        const int length = int(random() % 400);
        for (int i = 0; i < length; ++i) {
            const int kind = int(random() % 12);
            piece += QChar(kind == 0 ? 8 : kind == 1 ? 13 : kind == 2 ? 10 : int(random() % 256));
        }
        ASSERT_NO_THROW(serial.receive(piece));
        ASSERT_LE(pane->text().size(), 16000 + 2 * 400);
        ASSERT_EQ(pane->document()->characterCount() - 1, pane->text().size());
        ui.dialog.boxes.clear();
    }
}

} // namespace
