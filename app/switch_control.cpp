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

void frmZephrin::queryClick(const char* label, const char* otrsp, const char* mk2r,
                            bool statusAfterSerial, bool clearTerminalFirst)
{
    trapped(label, [&] {
        if (!checkPortAndProtocol())
            return;
        if (mode != "1" && mode != "2")
            return;
        const double value = numericValue(protocol);
        const char* command = value == 2 ? mk2r : value == 1 ? otrsp : nullptr;
        if (value == 2 && !mk2r)
            return void(msgBox("Query only valid for OTRSP protocol", MsgBoxStyle::Information,
                               "Protocol error"));
        if (!command)
            return refuseUnknownProtocol();
        if (value == 2 && clearTerminalFirst) {
            // The version line arrives into an empty pane.
            buffer = "";
            txtTerm->setText("");
        }
        SendCommand(command);
        if (mode == "1" && statusAfterSerial)
            lblStatus->setCaption("Sent data");
    });
}

void frmZephrin::RXQuery_Click()
{
    queryClick("RxQuery_click", "?RX", nullptr, true, false);
}

void frmZephrin::TXQuery_Click()
{
    queryClick("TxQuery_click", "?TX", nullptr, false, false);
}

void frmZephrin::FWQuery_Click()
{
    queryClick("FwQuery_click", "?FW", "V", false, true);
}

MenuEntry* frmZephrin::auxOnEntry(int radio, int output) const
{
    return (radio == 1 ? mnuAux1On : mnuAux2On)[output - 1];
}

static QString twoDigits(int n)
{
    return QString("%1").arg(n, 2, 10, QChar('0'));
}

void frmZephrin::auxOnClick(int radio, int output)
{
    trapped(QString("aux%1%2_click").arg(radio).arg(twoDigits(output)), [&] {
        const int partnerRadio = 3 - radio;
        if (numericValue(interlock) == 1 && auxOnEntry(partnerRadio, output)->checked())
            return void(msgBox(QString("Interlocked AUX%1%2 is on, please turn it off first.")
                                   .arg(partnerRadio)
                                   .arg(twoDigits(output)),
                               MsgBoxStyle::Information));
        if (!checkPortAndProtocol())
            return;
        const double value = numericValue(protocol);
        if (value == 1 || value == 2) {
            SendCommand(auxCommand(value == 2 ? Protocol::Mk2r : Protocol::Otrsp, radio, output));
            (radio == 1 ? mnuAuxR1Off : mnuAuxR2Off)->setChecked(false);
            for (int n = 1; n <= 15; ++n)
                auxOnEntry(radio, n)->setChecked(n == output);
        }
        TextBox* box = radio == 1 ? txtAux1 : txtAux2;
        box->setText(auxOnEntry(radio, output)->caption());
        box->setVisible(true);
    });
}

void frmZephrin::auxOffClick(int radio)
{
    trapped(QString("aux%1%2_click").arg(radio).arg("00"), [&] {
        if (!checkPortAndProtocol())
            return;
        if (mode == "1" || mode == "2") {
            const double value = numericValue(protocol);
            if (value == 1 || value == 2) {
                SendCommand(auxCommand(value == 2 ? Protocol::Mk2r : Protocol::Otrsp, radio, 0));
                (radio == 1 ? mnuAuxR1Off : mnuAuxR2Off)->setChecked(true);
                for (int n = 1; n <= 15; ++n)
                    auxOnEntry(radio, n)->setChecked(false);
            }
        }
        TextBox* box = radio == 1 ? txtAux1 : txtAux2;
        box->setText(QString("Aux R%1 Off").arg(radio));
        box->setVisible(true);
    });
}

void frmZephrin::mnuInterlockingAux_Click()
{
    // Any other stored text leaves the option as it is.
    if (interlock != "0" && interlock != "1")
        return;
    interlock = interlock == "0" ? "1" : "0";
    mnuInterlockingAux->setChecked(interlock == "1");
    // The option is in force either way; a store that cannot be written is said at once.
    trapped("InterlockingAux_click",
            [&] { settings.saveSetting(AppName, "settings", "interlock", interlock); });
}
