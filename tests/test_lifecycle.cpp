// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up from stored settings, the aux names and the Help menu, on fakes. (The form of the
// fixture has started once already, from an empty store: it asked for a port.)

#include "cipher/encrypted_text.h"
#include "form_fixture.h"

namespace {

class StartUpTest : public FormTest {
protected:
    void stored(const QString& key, const QString& value)
    {
        store.values["Zephrin/settings/" + key] = value;
    }
};

TEST_F(StartUpTest, ASerialPortAndProtocolComeBackWithTheirCommandsAndTheAuxOff)
{
    // The first and the last COM entry; a box may key a radio on RTS or DTR, so both stay off.
    const std::tuple<int, const char*, QStringList> cases[] = {
        {1, "1", {"?TX\r", "?RX\r", "AUX100\r", "AUX200\r", "AUX100\r", "AUX200\r"}},
        {16, "2", {"AS100\r", "AS200\r", "AS100\r", "AS200\r"}}};
    for (const auto& [port, protocol, bytes] : cases) {
        stored("port", QString::number(port));
        stored("protocol", protocol);
        stored("FormLeft", "750.5");
        stored("autoconnect", "1");
        stored("host", "shack.local");
        serial.writes.clear();
        menu("mnuAux104On").isChecked = true;
        form.Form_Load();
        EXPECT_EQ(serial.writes, bytes);
        EXPECT_TRUE(serial.open && serial.number == port);
        EXPECT_EQ(checkedIn({"mnuPortsCom1", "mnuPortsCom16", "mnuAuxR1Off", "mnuAux104On"}),
                  (QStringList{QString("mnuPortsCom%1").arg(port), "mnuAuxR1Off"}));
        EXPECT_FALSE(serial.dtr || serial.rts);
        EXPECT_FALSE(ui.textBox("txtAux1").shown || ui.textBox("txtAux2").shown);
        EXPECT_EQ(ui.win.x, 750.5);
        EXPECT_TRUE(boxes().empty());
    }
    EXPECT_EQ(socket.port, 0) << "a serial link does not connect by itself";
}

TEST_F(StartUpTest, ANetworkPortConnectsByItselfOnlyWithAHost)
{
    stored("port", "9876");
    stored("protocol", "1");
    stored("autoconnect", "1");
    form.Form_Load();
    EXPECT_EQ(socket.port, 0);
    stored("host", "shack.local");
    stored("port", "1024"); // below the server ports: no connection
    form.Form_Load();
    EXPECT_EQ(socket.port, 0);
    stored("port", "9876");
    form.Form_Load();
    EXPECT_TRUE(serial.writes.isEmpty());
    EXPECT_TRUE(menu("mnuTCPPort1").isChecked && menu("mnuAuxR1Off").isChecked);
    EXPECT_EQ(ui.shape("shpNetStat").colour, Colour::Yellow);
    EXPECT_EQ(socket.host + ":" + QString::number(socket.port), "shack.local:9876");
    EXPECT_TRUE(boxes().empty());
}

TEST_F(StartUpTest, MissingOrDamagedValuesStopStartUpWhereTheyAre)
{
    EXPECT_EQ(store.values.size(), 1u) << "a first start stores only the key";
    EXPECT_EQ(ui.win.y, -1) << "and leaves the window where the window manager puts it";
    EXPECT_EQ(DecryptText(store.setting("Password"), "Zephrin"), "Zephrin");
    stored("port", "2");
    form.Form_Load();
    EXPECT_TRUE(serial.open);
    expectOneBox("Please select a protocol first", MsgBoxStyle::Information, "Protocol error");
    stored("protocol", "1");
    stored("FormTop", "top");
    form.Form_Load();
    expectOneBox("VB6 runtime error (form_load): 13 - Type mismatch");
    EXPECT_TRUE(serial.writes.isEmpty()) << "start-up ended at the window position";

    stored("FormTop", "0");
    store.values["Zephrin/aux menu names/aux101"] = "Beverage NE";
    store.values["Zephrin/aux menu names/aux215"] = "Tower";
    form.Form_Load();
    EXPECT_EQ(menu("mnuAux101On").content, "Beverage NE");
    EXPECT_EQ(menu("mnuAux102On").content, "") << "only the first name decides";
    EXPECT_EQ(menu("mnuAux215On").content, "Tower");
}

TEST_F(FormTest, RenamingAnOutputAsksWithItsNameStoresTheAnswerAndResetPutsTheDefaultsBack)
{
    ui.dialog.answers = {QString("Beverage NE"), std::nullopt, QString(" ")};
    menu("mnuRenameAux107").click();
    menu("mnuRenameAux107").click(); // cancelled
    menu("mnuRenameAux215").click();
    EXPECT_EQ(ui.dialog.prompts(), (QStringList{"Enter new name for Aux107 On menu.",
                                                "Enter new name for Beverage NE menu.",
                                                "Enter new name for Aux215 On menu."}));
    EXPECT_EQ(boxes()[0].title, "Rename Menu");
    EXPECT_EQ(store.getSetting(AppName, "aux menu names", "aux107", {}), "Beverage NE");
    EXPECT_EQ(menu("mnuAux107On").content + "|" + menu("mnuAux215On").content + "|" +
                  menu("mnuRenameAux107").content,
              "Beverage NE| |Aux107 On");

    boxes().clear();
    menu("mnuResetAux").click();
    expectOneBox("Reset all AUX menus to default?", MsgBoxStyle::YesNo, "Rename AUX Menus");
    EXPECT_EQ(menu("mnuAux107On").content, "Beverage NE") << "No changes nothing";
    ui.dialog.yesNoAnswer = MsgBoxAnswer::Yes;
    menu("mnuResetAux").click();
    EXPECT_EQ(menu("mnuAux107On").content, "Aux107 On");
    EXPECT_EQ(store.getSetting(AppName, "aux menu names", "aux215", {}), "Aux215 On");
}

TEST_F(FormTest, HelpOpensTheFilesBesideTheProgramAndAboutNamesIt)
{
    menu("mnuUserGuide").click();
    menu("mnuViewReadme").click();
    EXPECT_EQ(launcher.opened,
              (QStringList{"/opt/zephrin/Zephrin.chm", "/opt/zephrin/readme.txt"}));
    launcher.failing = true;
    menu("mnuViewReadme").click();
    expectOneBox("VB6 runtime error (ReadMe_click): 53 - File not found: /opt/zephrin/readme.txt");
    menu("mnuHelpAbout").click();
    expectOneBox("Zephrin Version 3.2 by Quillon", MsgBoxStyle::OkOnly, "Zephrin");

    // Without a viewer for the help file, the guide is offered as web pages.
    launcher.failing = false;
    ui.dialog.yesNoAnswer = MsgBoxAnswer::Yes;
    form.launcher_NoViewer("/opt/zephrin/Zephrin.chm");
    EXPECT_TRUE(launcher.opened.last().endsWith("/doc/zephrin/html/index.html"));
    EXPECT_TRUE(ui.dialog.prompts().value(0).contains("apt install xchm"));
}

} // namespace
