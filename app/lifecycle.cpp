// Start-up and shut-down of the window.

#include "frmZephrin.h"
#include "handler_trap.h"
#include "platform/runtime_error.h"
#include "platform/serial_port.h"
#include "platform/settings_store.h"
#include "platform/socket.h"

void frmZephrin::Form_Load()
{
    ui.application().setTitle(AppName);
    // Said once, now, rather than by a misleading message when a stored value is missed.
    if (const QString problem = settings.readProblem(); !problem.isEmpty())
        msgBox(problem, MsgBoxStyle::Exclamation, "Settings not read");
    interlock = readSetting(settings, Setting::Interlock);
    if (interlock.isEmpty())
        interlock = "0";
    if (interlock == "0" || interlock == "1")
        mnuInterlockingAux->setChecked(interlock == "1");
    // Every received burst raises the receive event; the box's modem lines stay quiet.
    MSComm1.setRThreshold(1);
    MSComm1.setRTSEnable(false);
    MSComm1.setDTREnable(false);
}

void frmZephrin::closeLinksAndStorePosition()
{
    if (MSComm1.portOpen())
        MSComm1.setPortOpen(false);
    wskClient.close();
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
