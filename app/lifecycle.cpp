// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up and shut-down of the window, the settings they keep, and the Help menu.

#include "cipher/encrypted_text.h"
#include "frmZephrin.h"
#include "handler_trap.h"
#include "platform/launcher.h"
#include "platform/runtime_error.h"
#include "platform/serial_port.h"
#include "platform/settings_store.h"
#include "platform/socket.h"
#include "text_numbers.h"

#include <cmath>

namespace {
constexpr std::uint32_t AuxBoxColour = Colour::Cyan;
} // namespace

void frmZephrin::Form_Load()
{
    // Said once, now, rather than by a misleading message when a stored value is missed.
    if (const QString problem = settings.readProblem(); !problem.isEmpty())
        msgBox(problem, MsgBoxStyle::Exclamation, "Settings not read");

    bool switchAuxOff = false;
    trapped("form_load", [&] {
        restoreSettings();
        if (port.isEmpty()) {
            msgBox("Please select a com port first", MsgBoxStyle::Information, "Port error");
            return connectAutomatically();
        }
        restorePort();
        if (protocol.isEmpty()) {
            msgBox("Please select a protocol first", MsgBoxStyle::Information, "Protocol error");
            return connectAutomatically();
        }
        const double chosen = numericValue(protocol);
        if (chosen == 1)
            mnuOTRSP_Click();
        else if (chosen == 2)
            mnuMK2R_Click();
        restoreAuxNames();
        for (TextBox* box : {txtAux1, txtAux2})
            box->setVisible(false);
        for (TextBox* box : {txtAux1, txtAux2})
            box->setBackColor(AuxBoxColour);
        switchAuxOff = true;
    });
    if (!switchAuxOff)
        return;
    // Both radios' outputs off, on the serial port whatever the link; a port that is not open
    // fails the first write, which skips the rest silently.
    try {
        const auto chosen = chosenProtocol();
        if (chosen) {
            for (int radio : {1, 2})
                serialLink.send(auxCommand(*chosen, radio, 0) + CarriageReturn);
            markAux(1, 0);
            markAux(2, 0);
        }
    } catch (const RuntimeError&) {
    }
    trapped("form_load", [&] { connectAutomatically(); });
}

// The key, the options, the window position and the serial port's set-up, then the port and
// protocol as stored.
void frmZephrin::restoreSettings()
{
    ui.application().setTitle(AppName);
    // The key is kept encrypted under the application's name, and stored back at every start.
    Password = DecryptText(readSetting(settings, Setting::Password, EncryptText(ResetKey, AppName)),
                           AppName);
    store(Setting::Password, EncryptText(Password, AppName));
    interlock = storedOption(Setting::Interlock);
    mnuInterlockingAux->setChecked(interlock == "1");
    autoconnect = storedOption(Setting::Autoconnect);
    mnuNetAutoconnect->setChecked(autoconnect == "1");
    secureLink = storedOption(Setting::SecureLink);
    mnuSecureLink->setChecked(secureLink == "1");
    if (secureLink == "1")
        networkLink.preparePreSharedKey();
    // With no position stored yet, the window manager places the window, and shut-down stores
    // where it stood.
    const QString top = readSetting(settings, Setting::FormTop);
    const QString left = readSetting(settings, Setting::FormLeft);
    if (!top.isEmpty() || !left.isEmpty()) {
        FormWindow& window = ui.window();
        window.setTop(static_cast<float>(numericValue(top.isEmpty() ? "0" : top)));
        window.setLeft(static_cast<float>(numericValue(left.isEmpty() ? "0" : left)));
    }
    // Every received burst raises the receive event; the box's modem lines stay quiet.
    MSComm1.setRThreshold(1);
    MSComm1.setRTSEnable(false);
    MSComm1.setDTREnable(false);
    protocol = readSetting(settings, Setting::Protocol);
    port = readSetting(settings, Setting::Port);
}

// The stored port's own menu entry, as if the operator chose it; a number that names no entry
// does nothing.
void frmZephrin::restorePort()
{
    const double number = leadingNumber(port);
    if (number >= 1 && number <= 16 && number == std::floor(number))
        selectComPort(int(number));
    else if (number == 9876)
        mnuTCPPort1_Click();
    else if (number == 9875)
        mnuTCPPort2_Click();
}

void frmZephrin::connectAutomatically()
{
    if (autoconnect != "1" || !readsAsNumber(mode, 2))
        return;
    if (readSetting(settings, Setting::Host).isEmpty())
        return;
    const int serverPort = int(std::round(numericValue(readSetting(settings, Setting::Port))));
    if (serverPort <= 1024 || serverPort >= 65536)
        return;
    connectToServer(readSetting(settings, Setting::Host), serverPort);
}

// An option is on when its stored value is the number 1, and off otherwise: a damaged value
// must not leave an option that its menu entry cannot change.
QString frmZephrin::storedOption(SettingKey key) const
{
    return readsAsNumber(readSetting(settings, key), 1) ? "1" : "0";
}

// An option's entry turns it on or off and stores it; any other text leaves it as it is.
void frmZephrin::toggleOption(QString& option, MenuEntry* entry, SettingKey key)
{
    if (option != "0" && option != "1")
        return;
    option = option == "0" ? "1" : "0";
    entry->setChecked(option == "1");
    store(key, option);
}

void frmZephrin::closeLinksAndStorePosition()
{
    if (MSComm1.portOpen())
        MSComm1.setPortOpen(false);
    closeConnection();
    FormWindow& window = ui.window();
    store(Setting::FormLeft, QString::number(static_cast<float>(window.left())));
    store(Setting::FormTop, QString::number(static_cast<float>(window.top())));
}

void frmZephrin::Form_Unload(int& /*cancel*/)
{
    trapped("form_unload", [&] { closeLinksAndStorePosition(); });
}

void frmZephrin::Exit_Click()
{
    trapped("exit", [&] {
        closeLinksAndStorePosition();
        ui.application().end();
    });
}

void frmZephrin::store(SettingKey key, const QString& value)
{
    store(key.section, key.key, value);
}

void frmZephrin::store(const QString& section, const QString& key, const QString& value)
{
    storeAll(section, {{key, value}});
}

void frmZephrin::storeAll(const QString& section,
                          const std::vector<std::pair<QString, QString>>& values)
{
    try {
        settings.saveSettings(AppName, section, values);
    } catch (const RuntimeError& e) {
        if (!std::exchange(saveFailureShown, true))
            msgBox(e.description(), MsgBoxStyle::Exclamation, "Settings not saved");
    }
}

void frmZephrin::mnuUserGuide_Click()
{
    trapped("UserGuide_click",
            [&] { launcher.openDocument(ui.application().path() + "/Zephrin.chm"); });
}

void frmZephrin::mnuViewReadme_Click()
{
    trapped("ReadMe_click",
            [&] { launcher.openDocument(ui.application().path() + "/readme.txt"); });
}

void frmZephrin::launcher_NoViewer(const QString& path)
{
    if (path.endsWith("/Zephrin.chm")) {
        const QString pages = ZEPHRIN_GUIDE_PAGES;
        if (msgBox(QString("No program on this computer opens the user guide %1. Install a "
                           "viewer for it (sudo apt install xchm), or read the guide as web "
                           "pages in %2.\n\nOpen the web pages now?")
                       .arg(path, pages),
                   MsgBoxStyle::YesNo | MsgBoxStyle::Information,
                   "User Guide") == MsgBoxAnswer::Yes)
            trapped("UserGuide_click", [&] { launcher.openDocument(pages); });
    } else if (path.endsWith("/readme.txt")) {
        msgBox(QString("No program on this computer opens the readme %1. Install a text editor "
                       "(sudo apt install mousepad), or read the file there with any of them.")
                   .arg(path),
               MsgBoxStyle::Information, "Readme");
    } else {
        msgBox(QString("No program on this computer opens %1. Install a web browser (sudo apt "
                       "install firefox-esr), or open the file with one.")
                   .arg(path),
               MsgBoxStyle::Information, "User Guide");
    }
}

void frmZephrin::mnuHelpAbout_Click()
{
    msgBox("Zephrin Version 3.2 by Quillon", MsgBoxStyle::OkOnly, AppName);
}
