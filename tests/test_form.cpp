// SPDX-License-Identifier: GPL-3.0-or-later
// The form's handlers on fakes. The operator's commands: the port entries, the checks before
// sending, the command table of both protocols, queries, aux outputs and the program's end. The
// terminal: what the box sends, how the pane shows it, and typed keys.

#include "form_fixture.h"

namespace {

class CommandTest : public FormTest {
protected:
    void click(const QString& control)
    {
        if (control.startsWith("mnu"))
            menu(control).click();
        else
            button(control).click();
    }
};

TEST_F(CommandTest, EveryCommandChecksThePortTheProtocolAndTheOpenPortBeforeItActs)
{
    const std::pair<const char*, const char*> handlers[] = {{"RxFocusS", "RxFocusS_click"},
                                                            {"TXQuery", "TxQuery_click"},
                                                            {"mnuAux215On", "aux215_click"},
                                                            {"mnuAuxR1Off", "aux100_click"}};
    menu("mnuAuxR1Off").isChecked = true;
    for (const auto& [control, label] : handlers) {
        SCOPED_TRACE(control);
        form.protocol = "1";
        click(control);
        expectOneBox("Please select a Com port first.", MsgBoxStyle::Stop, "Zephrin Error");
        openCom3("");
        click(control);
        expectOneBox("Please select a protocol first.", MsgBoxStyle::Stop, "Protocol Error");
        openCom3("abc");
        click(control);
        expectOneBox(QString("VB6 runtime error (%1): 13 - Type mismatch").arg(label));
        openCom3("1"); // the port closed under the command: its trap, and nothing changes
        serial.open = false;
        click(control);
        EXPECT_TRUE(ui.dialog.prompts().value(0).startsWith(
            QString("VB6 runtime error (%1): 8018 - ").arg(label)));
        boxes().clear();
        openCom3("3"); // names no protocol: refused, except that aux entries name their output
        click(control);
        EXPECT_EQ(boxes().size(), QString(control).startsWith("mnuAux") ? 0u : 1u);
        boxes().clear();
        menu("mnuPortsCom3").isChecked = false;
    }
    EXPECT_TRUE(serial.writes.isEmpty() && lamps() == "ddddd");
    EXPECT_EQ(checkedIn(radioEntries(1) + radioEntries(2)), QStringList{"mnuAuxR1Off"});
    EXPECT_EQ(ui.textBox("txtAux1").content + ui.label("lblStatus").content, "Aux R1 Off");
}

TEST_F(CommandTest, FocusButtonsSendTheProtocolsCommandAndSetTheirLampsLinkOrNot)
{
    for (const FocusCase& c : focusCases) {
        for (const char* protocol : {"1", "2"}) {
            SCOPED_TRACE(std::string(c.button) + " protocol " + protocol);
            openCom3(protocol);
            setLamps("ddddd");
            button(c.button).click();
            EXPECT_EQ(serial.writes, QStringList{cr(protocol[0] == '1' ? c.otrsp : c.mk2r)});
            EXPECT_EQ(lamps(), c.lampsFromDark);
            setLamps("LLLLL");
            button(c.button).click();
            EXPECT_EQ(lamps(), c.lampsFromLit);
        }
    }
}

TEST_F(CommandTest, ChoosingAProtocolOnASerialPortSendsItsOpeningCommandsAndResetsTheAux)
{
    menu("mnuAux105On").isChecked = true;
    menu("mnuMK2R").click(); // without a port the choice is only remembered
    EXPECT_EQ(store.setting("protocol") + form.protocol, "22");
    EXPECT_TRUE(menu("mnuAux105On").isChecked);

    openCom3("");
    setLamps("LdLdd");
    menu("mnuOTRSP").click();
    EXPECT_EQ(serial.writes, (QStringList{cr("?TX"), cr("?RX"), cr("AUX100"), cr("AUX200")}));
    EXPECT_EQ(checkedIn({"mnuOTRSP", "mnuMK2R", "mnuAuxR1Off", "mnuAuxR2Off", "mnuAux105On"}),
              (QStringList{"mnuOTRSP", "mnuAuxR1Off", "mnuAuxR2Off"}));
    EXPECT_EQ(lamps(), "LdLdd");
    EXPECT_EQ(ui.textBox("txtAux1").content, "Aux R1 Off") << "as the opening commands left it";
    menu("mnuMK2R").click();
    EXPECT_EQ(serial.writes.mid(4), (QStringList{cr("AS100"), cr("AS200")}));
    EXPECT_EQ(lamps(), "ddddd") << "MK2R cannot tell the focus";
    EXPECT_EQ(store.setting("protocol"), "2");

    // On a closed port the first write fails, before the aux menus are reset.
    menu("mnuAux101On").isChecked = true;
    serial.open = false;
    menu("mnuOTRSP").click();
    EXPECT_TRUE(boxes().at(0).prompt.startsWith("VB6 runtime error (mnuOTRSP_click): 8018 - "));
    EXPECT_TRUE(menu("mnuAux101On").isChecked);
}

TEST_F(CommandTest, QueriesAskTheBoxInTheProtocolsWords)
{
    openCom3("1");
    button("RXQuery").click();
    EXPECT_EQ(ui.label("lblStatus").content, "Sent data");
    button("TXQuery").click();
    button("FWQuery").click();
    EXPECT_EQ(serial.writes, (QStringList{cr("?RX"), cr("?TX"), cr("?FW")}));

    // MK2R refuses the focus queries and asks for the version into a clear pane.
    openCom3("2");
    button("TXQuery").click();
    expectOneBox("Query only valid for OTRSP protocol", MsgBoxStyle::Information, "Protocol error");
    term().content = "old text";
    form.buffer = "old";
    button("FWQuery").click();
    EXPECT_EQ(serial.writes, QStringList{cr("V")});
    EXPECT_EQ(term().content + form.buffer, "");
}

TEST_F(CommandTest, AuxEntriesSendMoveTheMarkAndShowTheEntrysNameInterlockedOrNot)
{
    openCom3("1");
    menu("mnuAux112On").content = "Beverage NE";
    menu("mnuAux203On").isChecked = true;
    ui.textBox("txtAux1").shown = false;
    menu("mnuAux112On").click();
    EXPECT_EQ(checkedIn(radioEntries(1) + radioEntries(2)),
              (QStringList{"mnuAux112On", "mnuAux203On"}));
    EXPECT_EQ(ui.textBox("txtAux1").content, "Beverage NE");
    EXPECT_TRUE(ui.textBox("txtAux1").shown);
    form.protocol = "2";
    menu("mnuAuxR2Off").click();
    EXPECT_EQ(checkedIn(radioEntries(2)), QStringList{"mnuAuxR2Off"});
    EXPECT_EQ(serial.writes, (QStringList{cr("AUX112"), cr("AS200")}));

    // Interlocked, an output whose partner is on is refused; stored, on only as the number one.
    menu("mnuInterlockingAux").click();
    EXPECT_EQ(form.interlock + store.setting("interlock"), "11");
    menu("mnuAux212On").click();
    expectOneBox("Interlocked AUX112 is on, please turn it off first.");
    menu("mnuInterlockingAux").click();
    EXPECT_EQ(form.interlock + store.setting("interlock"), "00");
    menu("mnuAux212On").click(); // partners may be on together
    EXPECT_EQ(serial.writes.last(), cr("AS212"));
    for (const auto& [text, option] : {std::pair{"1.0", "1"}, {" 1", "1"}, {"2", "0"}}) {
        store.values["Zephrin/settings/interlock"] = text;
        store.values["Zephrin/settings/autoconnect"] = text;
        form.Form_Load();
        EXPECT_EQ(form.interlock + form.autoconnect, QString(option) + option) << text;
        EXPECT_EQ(menu("mnuNetAutoconnect").isChecked, option == QString("1"));
    }
    menu("mnuNetAutoconnect").click(); // a damaged value no longer locks the option
    EXPECT_EQ(form.autoconnect + store.setting("autoconnect"), "11");
}

TEST_F(FormTest, AComPortIsOpenedAndRememberedUnlessItFailsAndClosedAtTheEnd)
{
    menu("mnuTCPPort1").isChecked = true;
    menu("mnuPortsCom11").click();
    menu("mnuPortsCom11").click(); // again: closed and reopened, the marks end as before
    EXPECT_TRUE(serial.open && serial.number == 11);
    EXPECT_EQ(serial.lineSettings, "9600,N,8,1");
    EXPECT_EQ(form.mode + form.port + store.setting("port"), "11111");
    EXPECT_EQ(checkedIn({"mnuTCPPort1", "mnuPortsCom11"}), QStringList{"mnuPortsCom11"});

    // A port that fails to open leaves no entry ticked and is not remembered.
    serial.missing.insert(3);
    menu("mnuPortsCom3").click();
    expectOneBox("VB6 runtime error (com3_click): 8002 - Device missing");
    EXPECT_FALSE(serial.open || menu("mnuPortsCom11").isChecked || menu("mnuPortsCom3").isChecked);
    EXPECT_EQ(store.setting("port"), "11");

    // Closing the window closes the links and stores the position.
    socket.currentState = Socket::Connected;
    ui.win.y = 2250.5;
    ui.win.unload();
    EXPECT_EQ(socket.currentState, Socket::Closed);
    EXPECT_EQ(store.setting("FormTop"), "2250.5");
    EXPECT_FALSE(ui.app.ended) << "closing the window ends the program by itself";
}

TEST_F(FormTest, ADevicePresentIsAssignedToAComEntryWhichShowsItAtOnce)
{
    const QString adapter = "/dev/serial/by-id/usb-FTDI_box-if00-port0";
    menu("mnuAssignDevice").click();
    expectOneBox("No serial device is plugged in. Plug in the box's adapter, then try again.",
                 MsgBoxStyle::Information, "Assign Device to COM");
    serial.present = {{"/dev/ttyS0", ""}, {adapter, "FT232R (serial number A1)"}};
    ui.dialog.choices = {1, 4, 0}; // the adapter for COM5; then a choice cancelled half-way
    menu("mnuAssignDevice").click();
    menu("mnuAssignDevice").click();
    EXPECT_TRUE(boxes().at(0).prompt.endsWith(adapter + " - FT232R (serial number A1)"));
    EXPECT_TRUE(boxes().at(1).prompt.contains("COM5 (now /dev/ttyS4)"));
    EXPECT_TRUE(boxes().at(1).prompt.endsWith("COM16 (now /dev/ttyS15)"));
    EXPECT_FALSE(boxes().at(1).prompt.contains("COM0")) << "the first item is COM1's";
    EXPECT_EQ(store.getSetting(AppName, "serial ports", "COM5", {}) + menu("mnuPortsCom5").tip,
              adapter + adapter);
    EXPECT_EQ(boxes().size(), 4u);
    EXPECT_FALSE(menu("mnuAssignDevice").isChecked || menu("mnuPortsCom1").tip != "/dev/ttyS0");
}

const QChar BS = QChar(8);

class TerminalTest : public FormTest {
protected:
    // What ShowData makes of data on a pane that holds `pane`.
    QString show(const QString& pane, QString data)
    {
        term().content = pane;
        form.protocol = "3"; // the change handler does nothing
        form.ShowData(term(), data);
        return term().content;
    }
};

TEST_F(TerminalTest, ShowDataPairsLineEndsAppliesBackspacesAndTrimsPastTheLimit)
{
    EXPECT_EQ(show("x", "\n\nA\rB\r\r"), "xA\r\nB\r\n\r\n");
    EXPECT_EQ(show("", QString("ab") + BS + "c"), "ac");
    EXPECT_EQ(show("12", QString(BS) + BS + "x"), "1x");
    EXPECT_EQ(show("", QString(BS) + "x"), "x") << "a leading backspace on an empty pane";

    // The pane is trimmed only past its limit, and after a huge piece by as many whole trims as
    // it takes, at once, in time proportional to the piece.
    EXPECT_EQ(show(QString(16000, 'a'), "b").size(), 16001) << "exactly 16000 is not trimmed";
    EXPECT_EQ(show(QString(4096, 'x') + QString(11905, 'y'), "b"), QString(11905, 'y') + "b");
    EXPECT_EQ(show(QString(9 * 4096, 'x') + QString(13136, 'y'), "b"), QString(13136, 'y') + "b");
    EXPECT_EQ(show("", (QString("x") + BS + "\n").repeated(300000) + "end\r"), "end\r\n");
}

TEST_F(TerminalTest, RepliesLightTheLampsTheyReportAndErrorsRaiseTheirBoxesByProtocol)
{
    setLamps("LdLdd");
    serial.receive("TX2\r", 3); // an event other than received characters is ignored
    serial.waiting.clear();
    form.protocol = "1";
    serial.receive("RX2S\r");
    EXPECT_EQ(lamps(), "LdddL");
    serial.receive("TX1RX2");
    EXPECT_EQ(lamps(), "LddLd");
    serial.receive("TX2\r");
    EXPECT_EQ(lamps(), "dLdLd");
    EXPECT_EQ(term().content, "RX2S\r\nTX1RX2TX2\r\n");

    // Error replies raise their boxes by protocol.
    const QString trapBox = "VB6 runtime error (txtTerm_change): 13 - Type mismatch";
    const std::tuple<const char*, const char*, QStringList, const char*> cases[] = {
        {"1", "E", {"MK2R protocol error."}, "E"},
        {"1", "FW?", {"OTRSP protocol error."}, "FW?"},
        {"2", "\r\nEFR9\r", {"MK2R Protocol Error."}, ""},
        {"2", "?X", {"OTRSP Protocol Error."}, ""},
        {"2", "A?", {"OTRSP protocol error."}, "A?"},
        {"", "?", {trapBox, "OTRSP protocol error."}, "?"},
    };
    for (const auto& [protocol, piece, prompts, paneAfter] : cases) {
        boxes().clear();
        term().content.clear();
        form.protocol = protocol;
        serial.receive(piece);
        EXPECT_EQ(ui.dialog.prompts(), prompts) << protocol << " " << piece;
        EXPECT_EQ(term().content, paneAfter) << protocol << " " << piece;
    }
}

TEST_F(TerminalTest, TypedKeysGoToTheBoxOneByteEachWhenTheyCan)
{
    openCom3("1");
    form.buffer = "RX2\r\n";
    term().keyHandler('a');
    EXPECT_EQ(lamps(), "dddLd") << "a key looks at the last reply again";
    form.mode = ""; // without a link
    term().keyHandler('b');
    EXPECT_EQ(serial.writes, QStringList{"a"});
    openCom3("");
    term().keyHandler('c');
    EXPECT_EQ(serial.writes, QStringList{"c"}) << "the key is sent first";
    EXPECT_EQ(ui.dialog.prompts(),
              QStringList{"VB6 runtime error (txtTerm_KeyPress): 13 - Type mismatch"});
}

} // namespace
