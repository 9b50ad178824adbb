// Start-up from stored settings, shut-down, the aux names and the Help menu, on fakes.

#include "cipher/encrypted_text.h"
#include "form_fixture.h"

namespace {

class StartUpTest : public ::testing::Test, protected FakePlatform {
protected:
    frmZephrin form{bundle()};

    void stored(const QString& key, const QString& value)
    {
        store.values["Zephrin/settings/" + key] = value;
    }
    QString auxName(const QString& key)
    {
        return store.getSetting(AppName, "aux menu names", key, {});
    }
};

TEST_F(StartUpTest, AFirstRunAsksForAPortAndStoresOnlyTheKey)
{
    form.Form_Load();
    EXPECT_EQ(ui.dialog.prompts(), QStringList{"Please select a com port first"});
    EXPECT_EQ(ui.dialog.boxes[0].title, "Port error");
    EXPECT_EQ(form.Password, "Zephrin");
    EXPECT_EQ(DecryptText(store.setting("Password"), "Zephrin"), "Zephrin");
    EXPECT_EQ(store.values.size(), 1u) << "nothing but the key";
    EXPECT_TRUE(serial.writes.isEmpty());
    EXPECT_EQ(form.interlock, "0");
    EXPECT_TRUE(ui.textBox("txtAux1").shown);
    EXPECT_EQ(socket.port, 0);

    const QString firstKey = store.setting("Password");
    form.Form_Load();
    EXPECT_NE(store.setting("Password"), firstKey) << "a fresh salt at every start";
    EXPECT_EQ(form.Password, "Zephrin");
}

TEST_F(StartUpTest, ASerialPortAndProtocolComeBackWithTheirCommandsAndTheAuxOff)
{
    for (const auto& [protocol, bytes] :
         {std::pair{"1",
                    QStringList{"?TX\r", "?RX\r", "AUX100\r", "AUX200\r", "AUX100\r", "AUX200\r"}},
          std::pair{"2", QStringList{"AS100\r", "AS200\r", "AS100\r", "AS200\r"}}}) {
        stored("port", "3");
        stored("protocol", protocol);
        stored("FormTop", "1500");
        stored("FormLeft", "750.5");
        serial.writes.clear();
        ui.menuEntry("mnuAux104On").isChecked = true;
        form.Form_Load();
        EXPECT_EQ(serial.writes, bytes);
        EXPECT_TRUE(serial.open);
        EXPECT_EQ(serial.number, 3);
        EXPECT_TRUE(ui.menuEntry("mnuPortsCom3").isChecked);
        EXPECT_TRUE(ui.menuEntry("mnuAuxR1Off").isChecked && ui.menuEntry("mnuAuxR2Off").isChecked);
        EXPECT_FALSE(ui.menuEntry("mnuAux104On").isChecked);
        EXPECT_FALSE(ui.textBox("txtAux1").shown || ui.textBox("txtAux2").shown);
        EXPECT_EQ(ui.win.y, 1500);
        EXPECT_EQ(ui.win.x, 750.5);
        EXPECT_TRUE(ui.dialog.boxes.empty()) << ui.dialog.prompts().join("\n").toStdString();
    }
    EXPECT_EQ(auxName("aux101"), "Aux101 On") << "a first start stores the default names";
    EXPECT_EQ(auxName("aux215"), "Aux215 On");
}

TEST_F(StartUpTest, ANetworkPortComesBackAndConnectsWhenAsked)
{
    stored("port", "9876");
    stored("protocol", "1");
    stored("autoconnect", "1");
    stored("host", "shack.local");
    form.Form_Load();
    EXPECT_TRUE(serial.writes.isEmpty());
    EXPECT_TRUE(ui.menuEntry("mnuTCPPort1").isChecked);
    EXPECT_TRUE(ui.menuEntry("mnuAuxR1Off").isChecked);
    EXPECT_EQ(ui.shape("shpNetStat").colour, Colour::Yellow);
    EXPECT_EQ(socket.host, "shack.local");
    EXPECT_EQ(socket.port, 9876);
    EXPECT_TRUE(ui.dialog.boxes.empty()) << ui.dialog.prompts().join("\n").toStdString();

    // Not without a host, and never on a serial port.
    for (const auto& [port, host] : {std::pair{"9876", ""}, std::pair{"3", "shack.local"}}) {
        socket.port = 0;
        stored("port", port);
        stored("host", host);
        form.Form_Load();
        EXPECT_EQ(socket.port, 0) << port;
    }
}

TEST_F(StartUpTest, MissingOrDamagedValuesStopStartUpWhereTheyAre)
{
    stored("port", "2");
    form.Form_Load();
    EXPECT_TRUE(serial.open);
    EXPECT_EQ(ui.dialog.prompts(), QStringList{"Please select a protocol first"});
    EXPECT_EQ(ui.dialog.boxes[0].title, "Protocol error");
    EXPECT_TRUE(ui.textBox("txtAux1").shown);

    ui.dialog.boxes.clear();
    stored("protocol", "x");
    form.Form_Load();
    EXPECT_EQ(ui.dialog.prompts(),
              QStringList{"VB6 runtime error (form_load): 13 - Type mismatch"});

    ui.dialog.boxes.clear();
    stored("protocol", "1");
    stored("FormTop", "top");
    serial.writes.clear();
    form.Form_Load();
    EXPECT_EQ(ui.dialog.prompts(),
              QStringList{"VB6 runtime error (form_load): 13 - Type mismatch"});
    EXPECT_TRUE(serial.writes.isEmpty()) << "start-up ended at the window position";

    // A port that names no entry: the protocol still comes back, with nothing to send it on.
    ui.dialog.boxes.clear();
    stored("FormTop", "0");
    stored("port", "77");
    serial.open = false;
    store.values["Zephrin/aux menu names/aux101"] = "Beverage NE";
    form.Form_Load();
    EXPECT_TRUE(ui.menuEntry("mnuOTRSP").isChecked);
    EXPECT_EQ(form.mode, "1") << "as the earlier start left it";
    EXPECT_TRUE(ui.dialog.boxes.size() == 1 &&
                ui.dialog.prompts()[0].startsWith("VB6 runtime error (mnuOTRSP_click): 8018"));
    EXPECT_EQ(ui.menuEntry("mnuAux101On").text, "Beverage NE");
    EXPECT_EQ(ui.menuEntry("mnuAux102On").text, "") << "only the first name decides";
}

TEST_F(FormTest, RenamingAnOutputAsksWithItsNameAndStoresTheAnswer)
{
    ui.dialog.answers = {QString("Beverage NE"), std::nullopt, QString(""), QString(" ")};
    menu("mnuRenameAux107").click();
    EXPECT_EQ(ui.dialog.boxes[0].prompt, "Enter new name for Aux107 On menu.");
    EXPECT_EQ(ui.dialog.boxes[0].title, "Rename Menu");
    EXPECT_EQ(menu("mnuAux107On").text, "Beverage NE");
    EXPECT_EQ(store.getSetting(AppName, "aux menu names", "aux107", {}), "Beverage NE");
    EXPECT_EQ(menu("mnuRenameAux107").text, "Aux107 On");

    menu("mnuRenameAux107").click(); // cancelled
    menu("mnuRenameAux107").click(); // empty
    EXPECT_EQ(ui.dialog.boxes[1].prompt, "Enter new name for Beverage NE menu.");
    EXPECT_EQ(menu("mnuAux107On").text, "Beverage NE");
    menu("mnuRenameAux215").click();
    EXPECT_EQ(menu("mnuAux215On").text, " ");

    boxes().clear();
    menu("mnuResetAux").click();
    expectOneBox("Reset all AUX menus to default?", MsgBoxStyle::YesNo, "Rename AUX Menus");
    EXPECT_EQ(menu("mnuAux107On").text, "Beverage NE");
    ui.dialog.yesNoAnswer = MsgBoxAnswer::Yes;
    menu("mnuResetAux").click();
    EXPECT_EQ(menu("mnuAux107On").text, "Aux107 On");
    EXPECT_EQ(menu("mnuAux215On").text, "Aux215 On");
    EXPECT_EQ(store.getSetting(AppName, "aux menu names", "aux209", {}), "Aux209 On");
}

TEST_F(FormTest, HelpOpensTheFilesBesideTheProgramAndAboutNamesIt)
{
    menu("mnuUserGuide").click();
    menu("mnuViewReadme").click();
    EXPECT_EQ(launcher.opened,
              (QStringList{"/opt/zephrin/Zephrin.chm", "/opt/zephrin/readme.txt"}));
    launcher.failing = true;
    menu("mnuUserGuide").click();
    expectOneBox("VB6 runtime error (UserGuide_click): 53 - File not found: "
                 "/opt/zephrin/Zephrin.chm");
    menu("mnuViewReadme").click();
    expectOneBox("VB6 runtime error (ReadMe_click): 53 - File not found: /opt/zephrin/readme.txt");
    menu("mnuHelpAbout").click();
    expectOneBox("Zephrin Version 3.2 by Quillon", MsgBoxStyle::OkOnly, "Zephrin");
}

} // namespace
