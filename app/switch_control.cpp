// The operator's commands to the switch box: focus, protocol selection and the checks that
// come before every command.

#include "frmZephrin.h"
#include "handler_trap.h"
#include "platform/settings_store.h"
#include "text_numbers.h"

bool frmZephrin::portChosen() const
{
    bool chosen = false;
    for (const MenuEntry* entry : mnuPortsCom)
        chosen = entry->checked() || chosen;
    return mnuTCPPort1->checked() || mnuTCPPort2->checked() || chosen;
}

bool frmZephrin::checkPortAndProtocol()
{
    if (!portChosen()) {
        msgBox("Please select a Com port first.", MsgBoxStyle::Stop, "Zephrin Error");
        return false;
    }
    if (protocol.isEmpty()) {
        msgBox("Please select a protocol first.", MsgBoxStyle::Stop, "Protocol Error");
        return false;
    }
    return true;
}

void frmZephrin::refuseUnknownProtocol()
{
    msgBox("Please select a protocol first", MsgBoxStyle::Information, "Protocol error");
}

static void applyLamp(Shape* shape, Lamp lamp)
{
    if (lamp == Lamp::Lit)
        shape->setFillStyle(FillStyle::Solid);
    else if (lamp == Lamp::Dark)
        shape->setFillStyle(FillStyle::Transparent);
}

void frmZephrin::applyLamps(const LampEffect& effect)
{
    applyLamp(shpRx1, effect.rx1);
    applyLamp(shpRx2, effect.rx2);
    applyLamp(shpRxS, effect.rxS);
    applyLamp(shpFocus1, effect.focus1);
    applyLamp(shpFocus2, effect.focus2);
}

void frmZephrin::focusClick(FocusAction action, const char* label)
{
    trapped(label, [&] {
        if (!checkPortAndProtocol())
            return;
        if (mode == "1" || mode == "2") {
            const double value = numericValue(protocol);
            if (value == 2)
                SendCommand(commandFor(action, Protocol::Mk2r));
            else if (value == 1)
                SendCommand(commandFor(action, Protocol::Otrsp));
            else
                return refuseUnknownProtocol();
        }
        applyLamps(focusCommand(action).effect);
    });
}

void frmZephrin::resetAux()
{
    mnuAuxR1Off->setChecked(true);
    for (MenuEntry* entry : mnuAux1On)
        entry->setChecked(false);
    mnuAuxR2Off->setChecked(true);
    for (MenuEntry* entry : mnuAux2On)
        entry->setChecked(false);
}

void frmZephrin::mnuOTRSP_Click()
{
    trapped("mnuOTRSP_click", [&] {
        settings.saveSetting(AppName, "settings", "protocol", "1");
        protocol = "1";
        mnuMK2R->setChecked(false);
        mnuOTRSP->setChecked(true);
        if (mode == "1") {
            // The box's answers to the two queries light the lamps.
            for (const char* command : {"?TX", "?RX", "AUX100", "AUX200"})
                writeSerial(command + QString(CarriageReturn));
            resetAux();
        }
    });
}

void frmZephrin::mnuMK2R_Click()
{
    trapped("mk2r_click", [&] {
        settings.saveSetting(AppName, "settings", "protocol", "2");
        protocol = "2";
        mnuMK2R->setChecked(true);
        mnuOTRSP->setChecked(false);
        // MK2R cannot be asked for the focus, so nothing is known of it any more.
        for (Shape* lamp : {shpFocus1, shpFocus2, shpRx1, shpRx2, shpRxS})
            lamp->setFillStyle(FillStyle::Transparent);
        if (mode == "1") {
            for (const char* command : {"AS100", "AS200"})
                writeSerial(command + QString(CarriageReturn));
            resetAux();
        }
    });
}
