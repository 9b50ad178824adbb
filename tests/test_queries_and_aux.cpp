#include "form_fixture.h"

namespace {

QStringList radioEntries(int radio)
{
    QStringList names{QString("mnuAuxR%1Off").arg(radio)};
    for (int n = 1; n <= 15; ++n)
        names << QString("mnuAux%1%2On").arg(radio).arg(n, 2, 10, QChar('0'));
    return names;
}

TEST_F(FormTest, OtrspQueriesAskTheBoxAndOnlyTheReceiveQuerySaysSo)
{
    openCom3("1");
    button("RXQuery").click();
    EXPECT_EQ(serial.writes, QStringList{cr("?RX")});
    EXPECT_EQ(ui.label("lblStatus").text, "Sent data");

    ui.label("lblStatus").text = "";
    button("TXQuery").click();
    button("FWQuery").click();
    EXPECT_EQ(serial.writes, (QStringList{cr("?RX"), cr("?TX"), cr("?FW")}));
    EXPECT_EQ(ui.label("lblStatus").text, "");
    EXPECT_TRUE(boxes().empty());
}

TEST_F(FormTest, Mk2rRefusesFocusQueriesAndAsksForTheVersionIntoAClearPane)
{
    openCom3("2");
    button("RXQuery").click();
    button("TXQuery").click();
    ASSERT_EQ(boxes().size(), 2u);
    for (const ShownBox& box : boxes()) {
        EXPECT_EQ(box.prompt, "Query only valid for OTRSP protocol");
        EXPECT_EQ(box.title, "Protocol error");
        EXPECT_EQ(box.style, 64);
    }
    EXPECT_TRUE(serial.writes.isEmpty());

    term().content = "old text";
    form.buffer = "old";
    button("FWQuery").click();
    EXPECT_EQ(serial.writes, QStringList{cr("V")});
    EXPECT_EQ(term().content, "");
    EXPECT_EQ(form.buffer, "");

    // Sent on a closed port: the pane is already clear when the send fails.
    serial.open = false;
    term().content = "more";
    button("FWQuery").click();
    EXPECT_EQ(term().content, "");
    EXPECT_TRUE(boxes().back().prompt.startsWith("VB6 runtime error (FwQuery_click): 8018"));
}

TEST_F(FormTest, QueriesRunThePortAndProtocolChecks)
{
    button("FWQuery").click();
    EXPECT_EQ(ui.dialog.prompts(), QStringList{"Please select a Com port first."});
    openCom3("7");
    button("RXQuery").click();
    EXPECT_EQ(ui.dialog.prompts(), QStringList{"Please select a protocol first"});
    EXPECT_TRUE(serial.writes.isEmpty());
}

TEST_F(FormTest, AuxOnSendsMovesTheMarkAndShowsTheEntrysName)
{
    openCom3("1");
    menu("mnuAux112On").text = "Beverage NE";
    menu("mnuAuxR1Off").isChecked = true;
    menu("mnuAux203On").isChecked = true;
    ui.textBox("txtAux1").shown = false;
    menu("mnuAux112On").click();
    EXPECT_EQ(serial.writes, QStringList{cr("AUX112")});
    EXPECT_EQ(checkedIn(radioEntries(1)), QStringList{"mnuAux112On"});
    EXPECT_EQ(checkedIn(radioEntries(2)), QStringList{"mnuAux203On"});
    EXPECT_EQ(ui.textBox("txtAux1").content, "Beverage NE");
    EXPECT_TRUE(ui.textBox("txtAux1").shown);
    EXPECT_EQ(ui.label("lblStatus").text, "");

    form.protocol = "2";
    menu("mnuAux215On").click();
    menu("mnuAux215On").click();
    EXPECT_EQ(serial.writes.mid(1), (QStringList{cr("AS215"), cr("AS215")}));
    EXPECT_EQ(checkedIn(radioEntries(2)), QStringList{"mnuAux215On"});
}

TEST_F(FormTest, AuxOffSendsAndMarksTheOffEntry)
{
    openCom3("2");
    menu("mnuAux207On").isChecked = true;
    menu("mnuAuxR2Off").click();
    EXPECT_EQ(serial.writes, QStringList{cr("AS200")});
    EXPECT_EQ(checkedIn(radioEntries(2)), QStringList{"mnuAuxR2Off"});
    EXPECT_EQ(ui.textBox("txtAux2").content, "Aux R2 Off");

    form.protocol = "1";
    menu("mnuAuxR1Off").click();
    EXPECT_EQ(serial.writes.last(), cr("AUX100"));
    EXPECT_EQ(ui.textBox("txtAux1").content, "Aux R1 Off");
}

TEST_F(FormTest, AuxWithAnUnknownProtocolOnlyFillsTheTextBox)
{
    openCom3("5");
    menu("mnuAux101On").click();
    menu("mnuAuxR2Off").click();
    EXPECT_TRUE(serial.writes.isEmpty());
    EXPECT_TRUE(checkedIn(radioEntries(1) + radioEntries(2)).isEmpty());
    EXPECT_EQ(ui.textBox("txtAux1").content, "Aux101 On");
    EXPECT_EQ(ui.textBox("txtAux2").content, "Aux R2 Off");
    EXPECT_TRUE(boxes().empty());
}

TEST_F(FormTest, AFailedAuxSendLeavesTheMenusAsTheyWere)
{
    openCom3("1");
    serial.open = false;
    menu("mnuAuxR1Off").isChecked = true;
    menu("mnuAux104On").click();
    menu("mnuAuxR1Off").click();
    EXPECT_EQ(checkedIn(radioEntries(1)), QStringList{"mnuAuxR1Off"});
    EXPECT_EQ(ui.textBox("txtAux1").content, "");
    ASSERT_EQ(boxes().size(), 2u);
    EXPECT_TRUE(boxes()[0].prompt.startsWith("VB6 runtime error (aux104_click): 8018 - "));
    EXPECT_TRUE(boxes()[1].prompt.startsWith("VB6 runtime error (aux100_click): 8018 - "));
}

TEST_F(FormTest, InterlockRefusesAnOutputWhosePartnerIsOnBeforeAnyOtherCheck)
{
    form.Form_Load();
    menu("mnuInterlockingAux").click();
    EXPECT_EQ(form.interlock, "1");
    EXPECT_EQ(store.setting("interlock"), "1");
    menu("mnuAux205On").isChecked = true;

    menu("mnuAux105On").click(); // no port chosen yet: the interlock speaks first
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].prompt, "Interlocked AUX205 is on, please turn it off first.");
    EXPECT_EQ(boxes()[0].style, 64);
    EXPECT_EQ(boxes()[0].title, "");

    openCom3("1");
    menu("mnuAux106On").click();
    EXPECT_EQ(serial.writes, QStringList{cr("AUX106")});
    EXPECT_EQ(checkedIn(radioEntries(1)), QStringList{"mnuAux106On"});
    EXPECT_TRUE(menu("mnuAux205On").isChecked);
    menu("mnuAux206On").click();
    EXPECT_EQ(ui.dialog.prompts(),
              QStringList{"Interlocked AUX106 is on, please turn it off first."});

    menu("mnuInterlockingAux").click();
    EXPECT_EQ(form.interlock, "0");
    EXPECT_FALSE(menu("mnuInterlockingAux").isChecked);
    EXPECT_EQ(store.setting("interlock"), "0");
    menu("mnuAux206On").click();
    EXPECT_EQ(serial.writes.last(), cr("AUX206")) << "partners may be on together";
}

TEST_F(FormTest, InterlockToggleLeavesOtherStoredTextAlone)
{
    store.values["Zephrin/settings/interlock"] = "yes";
    form.Form_Load();
    const int saves = store.saves;
    menu("mnuInterlockingAux").click();
    EXPECT_EQ(form.interlock, "yes");
    EXPECT_FALSE(menu("mnuInterlockingAux").isChecked);
    EXPECT_EQ(store.saves, saves);
}

} // namespace
