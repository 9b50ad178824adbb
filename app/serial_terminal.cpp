// Choosing and opening the serial port.

#include "frmZephrin.h"
#include "handler_trap.h"
#include "platform/serial_port.h"
#include "platform/settings_store.h"

void frmZephrin::checkPortEntry(MenuEntry* chosen)
{
    for (MenuEntry* entry : mnuPortsCom)
        entry->setChecked(entry == chosen);
    mnuTCPPort1->setChecked(mnuTCPPort1 == chosen);
    mnuTCPPort2->setChecked(mnuTCPPort2 == chosen);
}

void frmZephrin::selectComPort(int number)
{
    trapped(QString("com%1_click").arg(number), [&] {
        mode = "1";
        port = QString::number(number);
        // Re-selecting the open port closes and reopens it.
        if (MSComm1.portOpen())
            MSComm1.setPortOpen(false);
        MSComm1.setCommPort(number);
        MSComm1.setPortOpen(true);
        settings.saveSetting(AppName, "settings", "port", port);
        checkPortEntry(mnuPortsCom[number - 1]);
        MSComm1.setSettings("9600,N,8,1");
    });
}
