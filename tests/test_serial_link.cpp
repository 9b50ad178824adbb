#include "app/text_numbers.h"
#include "form_fixture.h"

namespace {

QStringList portEntries()
{
    QStringList names;
    for (int n = 1; n <= 16; ++n)
        names << QString("mnuPortsCom%1").arg(n);
    return names << "mnuTCPPort1"
                 << "mnuTCPPort2";
}

TEST_F(FormTest, ChoosingAComPortOpensItAndRemembersIt)
{
    menu("mnuTCPPort1").isChecked = true;
    menu("mnuPortsCom11").click();
    EXPECT_TRUE(serial.open);
    EXPECT_EQ(serial.number, 11);
    EXPECT_EQ(serial.lineSettings, "9600,N,8,1");
    EXPECT_EQ(form.mode, "1");
    EXPECT_EQ(form.port, "11");
    EXPECT_EQ(store.setting("port"), "11");
    EXPECT_EQ(checkedIn(portEntries()), QStringList{"mnuPortsCom11"});
    EXPECT_TRUE(serial.writes.isEmpty());
    EXPECT_TRUE(boxes().empty());

    // Choosing it again closes and reopens it, and the marks end as before.
    const int savesBefore = store.saves;
    menu("mnuPortsCom11").click();
    EXPECT_TRUE(serial.open);
    EXPECT_EQ(store.saves, savesBefore + 1);
    EXPECT_EQ(checkedIn(portEntries()), QStringList{"mnuPortsCom11"});
}

TEST_F(FormTest, APortThatFailsToOpenLeavesThePreviousChoiceMarkedButClosed)
{
    menu("mnuPortsCom2").click();
    serial.missing.insert(3);
    menu("mnuPortsCom3").click();
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].prompt, "VB6 runtime error (com3_click): 8002 - Device missing: COM3 "
                                 "(/dev/ttyS2) does not exist");
    EXPECT_EQ(boxes()[0].style, 64);
    EXPECT_EQ(boxes()[0].title, "");
    EXPECT_FALSE(serial.open);
    EXPECT_EQ(checkedIn(portEntries()), QStringList{"mnuPortsCom2"});
    EXPECT_EQ(store.setting("port"), "2");
    EXPECT_EQ(form.mode, "1");
    EXPECT_EQ(form.port, "3");

    // A command now fails in its own handler.
    form.protocol = "1";
    button("RxFocus1").click();
    EXPECT_TRUE(boxes().back().prompt.startsWith("VB6 runtime error (RxFocus1_click): 8018"));
}

TEST_F(FormTest, PortEntriesShowTheirDevicesAsToolTips)
{
    EXPECT_EQ(menu("mnuPortsCom1").tip, "/dev/ttyS0");
    EXPECT_EQ(menu("mnuPortsCom16").tip, "/dev/ttyS15");
}

TEST_F(FormTest, ExitClosesThePortStoresThePositionAndEnds)
{
    menu("mnuPortsCom1").click();
    ui.win.x = 1500;
    ui.win.y = 2250.5;
    button("Exit").click();
    EXPECT_FALSE(serial.open);
    EXPECT_EQ(store.setting("FormLeft"), "1500");
    EXPECT_EQ(store.setting("FormTop"), "2250.5");
    EXPECT_TRUE(ui.app.ended);
}

TEST(TextNumbers, WholeTextConversionFailsOnNonNumbersWhileLeadingNumberNeverDoes)
{
    EXPECT_EQ(numericValue(" 2 "), 2);
    EXPECT_EQ(numericValue("1.0"), 1);
    EXPECT_EQ(numericValue("&H10"), 16);
    for (const char* bad : {"", "abc", "2x", "inf", "nan"}) {
        try {
            numericValue(bad);
            ADD_FAILURE() << bad << " read as a number";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), 13);
            EXPECT_EQ(e.description(), "Type mismatch");
        }
    }
    EXPECT_EQ(leadingNumber("9876abc"), 9876);
    EXPECT_EQ(leadingNumber(" 7"), 7);
    EXPECT_EQ(leadingNumber("abc"), 0);
    EXPECT_EQ(leadingNumber(""), 0);
    EXPECT_EQ(leadingNumber("-3.5e1x"), -35);
}

} // namespace
