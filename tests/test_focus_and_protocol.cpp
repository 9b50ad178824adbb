#include "form_fixture.h"

namespace {

struct FocusCase {
    const char* button;
    const char* otrsp;
    const char* mk2r;
    const char* lampsFromDark; // lamps after the command, starting all dark
    const char* lampsFromLit;  // lamps after the command, starting all lit
};

const FocusCase focusCases[] = {
    {"RxFocus1", "RX1", "FR1", "ddLdd", "LLLdd"},  {"RxFocus2", "RX2", "FR2", "dddLd", "LLdLd"},
    {"RxFocusS", "RX1S", "FRS", "ddddL", "LLddL"}, {"TxFocus1", "TX1", "FT1", "Ldddd", "LdLLL"},
    {"TxFocus2", "TX2", "FT2", "dLddd", "dLLLL"},
};

TEST_F(FormTest, FocusButtonsSendTheProtocolsCommandAndSetTheirLamps)
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
            EXPECT_TRUE(boxes().empty());
            EXPECT_EQ(ui.label("lblStatus").text, "");
        }
    }
}

TEST_F(FormTest, FocusRefusedWithoutAPortWhateverTheProtocol)
{
    for (const char* protocol : {"", "1", "2", "abc"}) {
        form.protocol = protocol;
        boxes().clear();
        button("RxFocus1").click();
        ASSERT_EQ(boxes().size(), 1u);
        EXPECT_EQ(boxes()[0].prompt, "Please select a Com port first.");
        EXPECT_EQ(boxes()[0].title, "Zephrin Error");
        EXPECT_EQ(boxes()[0].style, 16);
    }
    EXPECT_TRUE(serial.writes.isEmpty());
    EXPECT_EQ(lamps(), "ddddd");
}

TEST_F(FormTest, FocusRefusedWithoutAProtocolOrWithAnUnknownOne)
{
    openCom3("");
    button("TxFocus1").click();
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].prompt, "Please select a protocol first.");
    EXPECT_EQ(boxes()[0].title, "Protocol Error");
    EXPECT_EQ(boxes()[0].style, 16);

    openCom3("3");
    button("TxFocus1").click();
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].prompt, "Please select a protocol first");
    EXPECT_EQ(boxes()[0].title, "Protocol error");
    EXPECT_EQ(boxes()[0].style, 64);
    EXPECT_TRUE(serial.writes.isEmpty());
    EXPECT_EQ(lamps(), "ddddd");
}

TEST_F(FormTest, FocusFailuresShowTheHandlersTrapAndKeepTheLamps)
{
    openCom3("abc");
    button("RxFocus2").click();
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].prompt, "VB6 runtime error (RxFocus2_click): 13 - Type mismatch");
    EXPECT_EQ(boxes()[0].style, 64);
    EXPECT_EQ(boxes()[0].title, "");

    openCom3("1");
    serial.open = false; // chosen, but the port is not open
    button("TxFocus2").click();
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].prompt, "VB6 runtime error (TxFocus2_click): 8018 - Operation valid "
                                 "only when the port is open");
    EXPECT_EQ(lamps(), "ddddd");
}

TEST_F(FormTest, FocusWithNoLinkModeSendsNothingButSetsTheLamps)
{
    openCom3("2");
    form.mode = "";
    button("RxFocusS").click();
    EXPECT_TRUE(serial.writes.isEmpty());
    EXPECT_EQ(lamps(), "ddddL");
}

TEST_F(FormTest, ChoosingOtrspOnASerialPortSendsItsOpeningCommandsAndResetsTheAux)
{
    openCom3("");
    menu("mnuAux105On").isChecked = true;
    menu("mnuMK2R").isChecked = true;
    setLamps("LdLdd");
    ui.textBox("txtAux1").content = "Aux105 On";
    menu("mnuOTRSP").click();
    EXPECT_EQ(serial.writes, (QStringList{cr("?TX"), cr("?RX"), cr("AUX100"), cr("AUX200")}));
    EXPECT_EQ(form.protocol, "1");
    EXPECT_EQ(store.setting("protocol"), "1");
    EXPECT_TRUE(menu("mnuOTRSP").isChecked);
    EXPECT_FALSE(menu("mnuMK2R").isChecked);
    EXPECT_TRUE(menu("mnuAuxR1Off").isChecked);
    EXPECT_TRUE(menu("mnuAuxR2Off").isChecked);
    EXPECT_FALSE(menu("mnuAux105On").isChecked);
    EXPECT_EQ(lamps(), "LdLdd");
    EXPECT_EQ(ui.textBox("txtAux1").content, "Aux105 On");
    EXPECT_TRUE(boxes().empty());
}

TEST_F(FormTest, ChoosingMk2rDarkensTheLampsAndSendsItsOpeningCommands)
{
    openCom3("");
    setLamps("LLLLL");
    menu("mnuMK2R").click();
    EXPECT_EQ(serial.writes, (QStringList{cr("AS100"), cr("AS200")}));
    EXPECT_EQ(lamps(), "ddddd");
    EXPECT_EQ(store.setting("protocol"), "2");
    EXPECT_TRUE(menu("mnuMK2R").isChecked);
    EXPECT_TRUE(menu("mnuAuxR1Off").isChecked);
}

TEST_F(FormTest, ChoosingAProtocolWithoutAPortOnlyRemembersIt)
{
    menu("mnuAux203On").isChecked = true;
    setLamps("LLLLL");
    menu("mnuMK2R").click();
    EXPECT_EQ(store.setting("protocol"), "2");
    EXPECT_EQ(form.protocol, "2");
    EXPECT_EQ(lamps(), "ddddd");
    EXPECT_TRUE(menu("mnuAux203On").isChecked);
    EXPECT_FALSE(menu("mnuAuxR2Off").isChecked);
    EXPECT_TRUE(boxes().empty());
}

TEST_F(FormTest, ChoosingAProtocolOnAClosedPortFailsAtTheFirstWrite)
{
    openCom3("");
    serial.open = false;
    menu("mnuAux101On").isChecked = true;
    menu("mnuOTRSP").click();
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_TRUE(boxes()[0].prompt.startsWith("VB6 runtime error (mnuOTRSP_click): 8018 - "));
    EXPECT_EQ(form.protocol, "1");
    EXPECT_TRUE(menu("mnuOTRSP").isChecked);
    EXPECT_TRUE(menu("mnuAux101On").isChecked); // the aux reset did not happen

    boxes().clear();
    menu("mnuMK2R").click();
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_TRUE(boxes()[0].prompt.startsWith("VB6 runtime error (mk2r_click): 8018 - "));
}

} // namespace
