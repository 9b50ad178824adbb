#include "app/text_numbers.h"
#include "form_fixture.h"
#include "platform/serial_devices.h"

namespace {

QStringList portEntries()
{
    QStringList names;
    for (int n = 1; n <= 16; ++n)
        names << QString("mnuPortsCom%1").arg(n);
    return names << "mnuTCPPort1"
                 << "mnuTCPPort2";
}

TEST_F(FormTest, ChoosingAComPortOpensItAndRemembersItUnlessItFails)
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
    menu("mnuPortsCom11").click();
    EXPECT_TRUE(serial.open);
    EXPECT_EQ(checkedIn(portEntries()), QStringList{"mnuPortsCom11"});
    EXPECT_TRUE(boxes().empty());

    // A port that fails to open leaves no entry ticked and is not remembered.
    serial.missing.insert(3);
    menu("mnuPortsCom3").click();
    expectOneBox("VB6 runtime error (com3_click): 8002 - Device missing: COM3 (/dev/ttyS2) does "
                 "not exist");
    EXPECT_FALSE(serial.open);
    EXPECT_TRUE(checkedIn(portEntries()).isEmpty());
    EXPECT_EQ(store.setting("port"), "11");
    EXPECT_EQ(form.port, "3");
}

TEST(SerialDeviceMap, ComNumbersStandForTheOperatorsDevicesOrTheirTtySNames)
{
    FakeSettingsStore store;
    store.values["Zephrin/serial ports/COM3"] = " /dev/serial/by-id/usb-box-port0 ";
    const SerialDeviceMap devices(store);
    EXPECT_EQ(devices.deviceFor(3), "/dev/serial/by-id/usb-box-port0");
    EXPECT_EQ(devices.deviceFor(1), "/dev/ttyS0");
    EXPECT_EQ(devices.deviceFor(16), "/dev/ttyS15");
    EXPECT_EQ(devices.location(), store.location());

    FakePlatform platform;
    platform.store.values = store.values;
    frmZephrin form(platform.bundle());
    EXPECT_EQ(platform.ui.menuEntry("mnuPortsCom3").tip, "/dev/serial/by-id/usb-box-port0");
    EXPECT_EQ(platform.ui.menuEntry("mnuPortsCom4").tip, "/dev/ttyS3");
}

TEST_F(FormTest, ExitAndClosingTheWindowCloseTheLinksAndStoreThePosition)
{
    menu("mnuPortsCom1").click();
    socket.currentState = Socket::Connected;
    ui.win.x = 1500;
    ui.win.y = 2250.5;
    ui.win.unload();
    EXPECT_FALSE(serial.open);
    EXPECT_EQ(socket.currentState, Socket::Closed);
    EXPECT_EQ(store.setting("FormLeft"), "1500");
    EXPECT_EQ(store.setting("FormTop"), "2250.5");
    EXPECT_FALSE(ui.app.ended) << "closing the window ends the program by itself";

    menu("mnuPortsCom1").click();
    ui.win.x = 30;
    button("Exit").click();
    EXPECT_FALSE(serial.open);
    EXPECT_EQ(store.setting("FormLeft"), "30");
    EXPECT_TRUE(ui.app.ended);
    EXPECT_TRUE(boxes().empty());
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
    EXPECT_EQ(leadingNumber("-3.5e1x"), -35);
}

} // namespace
