// The form's handlers on fakes. The operator's commands: the port entries, the full command
// table, the checks before sending, protocol selection, queries, aux outputs and the program's
// end; the conversions of text to numbers. The terminal: what the box sends, how the pane shows
// it, and typed keys.

#include "app/text_numbers.h"
#include "form_fixture.h"

namespace {

// Every command handler, by its control and its error label.
const std::pair<const char*, const char*> commandHandlers[] = {
    {"RxFocus1", "RxFocus1_click"},  {"RxFocus2", "RxFocus2_click"},
    {"RxFocusS", "RxFocusS_click"},  {"TxFocus1", "TxFocus1_click"},
    {"TxFocus2", "TxFocus2_click"},  {"RXQuery", "RxQuery_click"},
    {"TXQuery", "TxQuery_click"},    {"FWQuery", "FwQuery_click"},
    {"mnuAux101On", "aux101_click"}, {"mnuAux215On", "aux215_click"},
    {"mnuAuxR1Off", "aux100_click"}, {"mnuAuxR2Off", "aux200_click"},
};

class CommandTest : public FormTest {
protected:
    void click(const QString& control)
    {
        if (control.startsWith("mnu"))
            menu(control).click();
        else
            button(control).click();
    }
    QString auxTexts()
    {
        return ui.textBox("txtAux1").content + "|" + ui.textBox("txtAux2").content;
    }
};

TEST_F(CommandTest, EveryCommandChecksThePortTheProtocolAndTheOpenPortBeforeItActs)
{
    menu("mnuAuxR1Off").isChecked = true;
    for (const auto& [control, label] : commandHandlers) {
        SCOPED_TRACE(control);
        for (const char* protocol : {"", "abc"}) {
            form.protocol = protocol;
            click(control);
            expectOneBox("Please select a Com port first.", MsgBoxStyle::Stop, "Zephrin Error");
        }
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
        if (QString(control).startsWith("mnuAux"))
            EXPECT_TRUE(boxes().empty());
        else
            expectOneBox("Please select a protocol first", MsgBoxStyle::Information,
                         "Protocol error");
        menu("mnuPortsCom3").isChecked = false;
    }
    EXPECT_TRUE(serial.writes.isEmpty());
    EXPECT_EQ(lamps(), "ddddd");
    EXPECT_EQ(checkedIn(radioEntries(1) + radioEntries(2)), QStringList{"mnuAuxR1Off"});
    EXPECT_EQ(auxTexts(), "Aux R1 Off|Aux R2 Off");
    EXPECT_EQ(ui.label("lblStatus").text, "");
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
    EXPECT_TRUE(boxes().empty());
    EXPECT_EQ(ui.label("lblStatus").text, "");

    // Without a link nothing is sent, but the window follows the command.
    setLamps("ddddd");
    openCom3("2");
    form.mode = "";
    button("RxFocusS").click();
    button("FWQuery").click();
    menu("mnuAux207On").isChecked = true;
    menu("mnuAuxR2Off").click();
    EXPECT_TRUE(serial.writes.isEmpty());
    EXPECT_EQ(lamps(), "ddddL");
    EXPECT_EQ(checkedIn(radioEntries(2)), (QStringList{"mnuAux207On"}));
    EXPECT_EQ(ui.textBox("txtAux2").content, "Aux R2 Off");
    EXPECT_TRUE(boxes().empty());
}

TEST_F(CommandTest, ChoosingAProtocolOnASerialPortSendsItsOpeningCommandsAndResetsTheAux)
{
    menu("mnuAux105On").isChecked = true;
    menu("mnuMK2R").click(); // without a port the choice is only remembered
    EXPECT_EQ(store.setting("protocol") + form.protocol, "22");
    EXPECT_TRUE(menu("mnuAux105On").isChecked);

    openCom3("");
    setLamps("LdLdd");
    ui.textBox("txtAux1").content = "Aux105 On";
    menu("mnuOTRSP").click();
    EXPECT_EQ(serial.writes, (QStringList{cr("?TX"), cr("?RX"), cr("AUX100"), cr("AUX200")}));
    EXPECT_EQ(store.setting("protocol"), "1");
    EXPECT_EQ(checkedIn({"mnuOTRSP", "mnuMK2R", "mnuAuxR1Off", "mnuAuxR2Off", "mnuAux105On"}),
              (QStringList{"mnuOTRSP", "mnuAuxR1Off", "mnuAuxR2Off"}));
    EXPECT_EQ(lamps(), "LdLdd");
    EXPECT_EQ(auxTexts(), "Aux R1 Off|Aux R2 Off") << "as the opening commands left them";

    setLamps("LLLLL");
    menu("mnuMK2R").click();
    EXPECT_EQ(serial.writes.mid(4), (QStringList{cr("AS100"), cr("AS200")}));
    EXPECT_EQ(lamps(), "ddddd") << "MK2R cannot tell the focus";
    EXPECT_EQ(checkedIn({"mnuOTRSP", "mnuMK2R"}), QStringList{"mnuMK2R"});
    EXPECT_TRUE(boxes().empty());

    // On a closed port the first write fails, before the aux menus are reset.
    menu("mnuAux101On").isChecked = true;
    serial.open = false;
    menu("mnuOTRSP").click();
    menu("mnuMK2R").click();
    ASSERT_EQ(boxes().size(), 2u);
    EXPECT_TRUE(boxes()[0].prompt.startsWith("VB6 runtime error (mnuOTRSP_click): 8018 - "));
    EXPECT_TRUE(boxes()[1].prompt.startsWith("VB6 runtime error (mk2r_click): 8018 - "));
    EXPECT_TRUE(menu("mnuAux101On").isChecked) << "the aux menus are reset only after the write";
}

TEST_F(CommandTest, QueriesAskTheBoxInTheProtocolsWords)
{
    openCom3("1");
    term().content = "RX1\r\n";
    button("RXQuery").click();
    EXPECT_EQ(ui.label("lblStatus").text, "Sent data");
    button("TXQuery").click();
    button("FWQuery").click();
    EXPECT_EQ(serial.writes, (QStringList{cr("?RX"), cr("?TX"), cr("?FW")}));
    EXPECT_EQ(term().content, "RX1\r\n");

    // MK2R refuses the focus queries and asks for the version into a clear pane.
    openCom3("2");
    for (const char* query : {"RXQuery", "TXQuery"}) {
        button(query).click();
        expectOneBox("Query only valid for OTRSP protocol", MsgBoxStyle::Information,
                     "Protocol error");
    }
    form.buffer = "old";
    button("FWQuery").click();
    EXPECT_EQ(serial.writes, QStringList{cr("V")});
    EXPECT_EQ(term().content + form.buffer, "");
}

TEST_F(CommandTest, AuxEntriesSendMoveTheMarkAndShowTheEntrysName)
{
    openCom3("1");
    menu("mnuAux112On").text = "Beverage NE";
    menu("mnuAuxR1Off").isChecked = true;
    menu("mnuAux203On").isChecked = true;
    ui.textBox("txtAux1").shown = false;
    menu("mnuAux112On").click();
    EXPECT_EQ(checkedIn(radioEntries(1) + radioEntries(2)),
              (QStringList{"mnuAux112On", "mnuAux203On"}));
    EXPECT_EQ(ui.textBox("txtAux1").content, "Beverage NE");
    EXPECT_TRUE(ui.textBox("txtAux1").shown);
    form.protocol = "2";
    menu("mnuAux215On").click();
    menu("mnuAuxR2Off").click();
    EXPECT_EQ(checkedIn(radioEntries(2)), QStringList{"mnuAuxR2Off"});
    EXPECT_EQ(ui.textBox("txtAux2").content, "Aux R2 Off");
    form.protocol = "1";
    menu("mnuAuxR1Off").click();
    EXPECT_EQ(serial.writes, (QStringList{cr("AUX112"), cr("AS215"), cr("AS200"), cr("AUX100")}));
    EXPECT_EQ(checkedIn(radioEntries(1)), QStringList{"mnuAuxR1Off"});
}

TEST_F(CommandTest, InterlockRefusesAnOutputWhosePartnerIsOnAndIsOnOnlyWhenStoredAsOne)
{
    menu("mnuInterlockingAux").click();
    EXPECT_EQ(form.interlock + store.setting("interlock"), "11");
    EXPECT_TRUE(menu("mnuInterlockingAux").isChecked);
    menu("mnuAux205On").isChecked = true;
    menu("mnuAux105On").click(); // no port chosen yet: the interlock speaks first
    expectOneBox("Interlocked AUX205 is on, please turn it off first.");

    openCom3("1");
    menu("mnuAux106On").click();
    menu("mnuAux206On").click();
    expectOneBox("Interlocked AUX106 is on, please turn it off first.");
    menu("mnuInterlockingAux").click();
    EXPECT_EQ(form.interlock + store.setting("interlock"), "00");
    EXPECT_FALSE(menu("mnuInterlockingAux").isChecked);
    menu("mnuAux206On").click(); // partners may be on together
    EXPECT_EQ(serial.writes, (QStringList{cr("AUX106"), cr("AUX206")}));

    // A stored option is on only when it is the number one.
    for (const auto& [text, option] : {std::pair{"1.0", "1"}, {" 1", "1"}, {"abc", "0"},
                                       {"2", "0"}, {"", "0"}}) {
        store.values["Zephrin/settings/interlock"] = text;
        store.values["Zephrin/settings/autoconnect"] = text;
        form.Form_Load();
        EXPECT_EQ(form.interlock + form.autoconnect, QString(option) + option) << text;
        EXPECT_EQ(menu("mnuInterlockingAux").isChecked, option == QString("1"));
        EXPECT_EQ(menu("mnuNetAutoconnect").isChecked, option == QString("1"));
    }
    menu("mnuNetAutoconnect").click(); // a damaged value no longer locks the option
    EXPECT_EQ(form.autoconnect + store.setting("autoconnect"), "11");
    EXPECT_TRUE(menu("mnuNetAutoconnect").isChecked);
}

QStringList portEntries()
{
    QStringList names{"mnuTCPPort1", "mnuTCPPort2"};
    for (int n = 1; n <= 16; ++n)
        names << QString("mnuPortsCom%1").arg(n);
    return names;
}

TEST_F(FormTest, AComPortIsOpenedAndRememberedUnlessItFailsAndClosedAtTheEnd)
{
    menu("mnuTCPPort1").isChecked = true;
    menu("mnuPortsCom11").click();
    menu("mnuPortsCom11").click(); // again: closed and reopened, the marks end as before
    EXPECT_TRUE(serial.open && serial.number == 11);
    EXPECT_EQ(serial.lineSettings, "9600,N,8,1");
    EXPECT_EQ(form.mode + form.port + store.setting("port"), "11111");
    EXPECT_EQ(checkedIn(portEntries()), QStringList{"mnuPortsCom11"});
    EXPECT_TRUE(serial.writes.isEmpty());
    EXPECT_TRUE(boxes().empty());

    // A port that fails to open leaves no entry ticked and is not remembered.
    serial.missing.insert(3);
    menu("mnuPortsCom3").click();
    expectOneBox("VB6 runtime error (com3_click): 8002 - Device missing: COM3 (/dev/ttyS2) does "
                 "not exist");
    EXPECT_FALSE(serial.open);
    EXPECT_TRUE(checkedIn(portEntries()).isEmpty());
    EXPECT_EQ(store.setting("port") + " " + form.port, "11 3");

    // Exit and closing the window close the links and store the position.
    menu("mnuPortsCom1").click();
    socket.currentState = Socket::Connected;
    ui.win.x = 1500;
    ui.win.y = 2250.5;
    ui.win.unload();
    EXPECT_FALSE(serial.open);
    EXPECT_EQ(socket.currentState, Socket::Closed);
    EXPECT_EQ(store.setting("FormLeft") + " " + store.setting("FormTop"), "1500 2250.5");
    EXPECT_FALSE(ui.app.ended) << "closing the window ends the program by itself";
    menu("mnuPortsCom1").click();
    ui.win.x = 30;
    button("Exit").click();
    EXPECT_FALSE(serial.open);
    EXPECT_EQ(store.setting("FormLeft"), "30");
    EXPECT_TRUE(ui.app.ended);
}

TEST(TextNumbers, WholeTextConversionFailsOnNonNumbersWhileLeadingNumberNeverDoes)
{
    EXPECT_EQ(numericValue(" 2 ") + numericValue("&H10"), 18);
    for (const char* bad : {"", "abc", "2x", "inf", "nan"})
        EXPECT_THROW(numericValue(bad), RuntimeError) << bad;
    EXPECT_EQ(leadingNumber("9876abc"), 9876);
    EXPECT_EQ(leadingNumber(" 7") + leadingNumber("abc"), 7);
    EXPECT_EQ(leadingNumber("-3.5e1x"), -35);
}

const QChar BS = QChar(8);

class TerminalTest : public FormTest {
protected:
    // What ShowData makes of data on a pane that holds `pane`; the caller's variable too.
    QString show(const QString& pane, QString data, QString* dataAfter = nullptr)
    {
        term().content = pane;
        form.protocol = "3"; // the change handler does nothing
        form.ShowData(term(), data);
        if (dataAfter)
            *dataAfter = data;
        return term().content;
    }
};

TEST_F(TerminalTest, ShowDataPairsLineEndsAppliesBackspacesAndTrimsPastTheLimit)
{
    QString after;
    EXPECT_EQ(show("x", "\n\nA\rB\r\r", &after), "xA\r\nB\r\n\r\n");
    EXPECT_EQ(after, "A\r\nB\r\n\r\n") << "the caller's text as it was shown";
    EXPECT_EQ(show("", "RX1\r\n"), "RX1\r\n");
    EXPECT_EQ(show("", QString("ab") + BS + "c"), "ac");
    EXPECT_EQ(show("12", QString(BS) + BS + "x"), "1x");
    EXPECT_EQ(show("", QString(BS) + "x"), "x") << "a leading backspace on an empty pane";
    EXPECT_EQ(show("12", QString(BS) + BS + BS), "1");
    EXPECT_TRUE(boxes().empty());

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
    EXPECT_EQ(term().content, "");
    serial.waiting.clear();
    form.protocol = "1";
    serial.receive("RX2S\r");
    EXPECT_EQ(lamps(), "LdddL");
    serial.receive("TX1RX2");
    EXPECT_EQ(lamps(), "LddLd");
    serial.receive("TX2\r");
    EXPECT_EQ(lamps(), "dLdLd");
    EXPECT_EQ(term().content, "RX2S\r\nTX1RX2TX2\r\n");
    EXPECT_TRUE(boxes().empty());

    // Error replies raise their boxes by protocol.
    struct Case {
        const char *protocol, *piece;
        QStringList prompts;
        const char* paneAfter;
    };
    const QString trapBox = "VB6 runtime error (txtTerm_change): 13 - Type mismatch";
    const Case cases[] = {
        {"1", "E", {"MK2R protocol error."}, "E"},
        {"1", "E\r", {}, "E\r\n"},
        {"1", "FW?", {"OTRSP protocol error."}, "FW?"},
        {"1", "e", {}, "e"},
        {"2", "E", {"MK2R Protocol Error."}, ""},
        {"2", "\r\nEFR9\r", {"MK2R Protocol Error."}, ""},
        {"2", "?X", {"OTRSP Protocol Error."}, ""},
        {"2", "A?", {"OTRSP protocol error."}, "A?"},
        {"2", "AE", {}, "AE"},
        {"3", "E", {"MK2R protocol error."}, "E"},
        {"", "?", {trapBox, "OTRSP protocol error."}, "?"},
        {"abc", "RX1", {trapBox}, "RX1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QString("protocol \"%1\", \"%2\"").arg(c.protocol, c.piece).toStdString());
        boxes().clear();
        term().content.clear();
        form.protocol = c.protocol;
        serial.receive(c.piece);
        EXPECT_EQ(ui.dialog.prompts(), c.prompts);
        EXPECT_EQ(term().content, c.paneAfter);
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
    EXPECT_TRUE(boxes().empty());

    openCom3("");
    term().keyHandler('a');
    EXPECT_EQ(serial.writes, QStringList{"a"}) << "the key is sent first";
    EXPECT_EQ(ui.dialog.prompts(),
              QStringList{"VB6 runtime error (txtTerm_KeyPress): 13 - Type mismatch"});

    openCom3("1");
    serial.open = false;
    form.buffer = "RX1";
    term().keyHandler('a');
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_TRUE(boxes()[0].prompt.startsWith("VB6 runtime error (txtTerm_KeyPress): 8018 - "));
    EXPECT_EQ(lamps(), "dddLd") << "the lamp step is skipped";
}

} // namespace
