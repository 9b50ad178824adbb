// Start-up and shut-down of the window.

#include "cipher/encrypted_text.h"
#include "frmZephrin.h"
#include "handler_trap.h"
#include "platform/runtime_error.h"
#include "platform/serial_port.h"
#include "platform/settings_store.h"
#include "platform/socket.h"
#include "text_numbers.h"

void frmZephrin::Form_Load()
{
    ui.application().setTitle(AppName);
    // Said once, now, rather than by a misleading message when a stored value is missed.
    if (const QString problem = settings.readProblem(); !problem.isEmpty())
        msgBox(problem, MsgBoxStyle::Exclamation, "Settings not read");
    // The key is kept encrypted under the application's name, and stored back at every start.
    Password = DecryptText(readSetting(settings, Setting::Password, EncryptText(ResetKey, AppName)),
                           AppName);
    store(Setting::Password, EncryptText(Password, AppName));
    interlock = storedOption(Setting::Interlock);
    mnuInterlockingAux->setChecked(interlock == "1");
    autoconnect = storedOption(Setting::Autoconnect);
    mnuNetAutoconnect->setChecked(autoconnect == "1");
    // Every received burst raises the receive event; the box's modem lines stay quiet.
    MSComm1.setRThreshold(1);
    MSComm1.setRTSEnable(false);
    MSComm1.setDTREnable(false);
}

// An option is on when its stored value is the number 1, and off otherwise: a damaged value
// must not leave an option that its menu entry cannot change.
QString frmZephrin::storedOption(SettingKey key) const
{
    try {
        return numericValue(readSetting(settings, key)) == 1 ? "1" : "0";
    } catch (const RuntimeError&) {
        return "0";
    }
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
    try {
        saveSetting(settings, key, value);
    } catch (const RuntimeError& e) {
        if (!std::exchange(saveFailureShown, true))
            msgBox(e.description(), MsgBoxStyle::Exclamation, "Settings not saved");
    }
}
