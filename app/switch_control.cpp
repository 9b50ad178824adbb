// SPDX-License-Identifier: GPL-3.0-or-later
// The operator's commands to the switch box: focus, protocol selection and the checks that
// come before every command.

#include "frmZephrin.h"
#include "handler_trap.h"
#include "platform/serial_devices.h"
#include "platform/serial_port.h"
#include "platform/settings_store.h"
#include "platform/socket.h"
#include "text_numbers.h"

#include <QStringList>

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
        if (chosenLink()) {
            const auto chosen = chosenProtocol();
            if (!chosen)
                return refuseUnknownProtocol();
            SendCommand(commandFor(action, *chosen));
        }
        applyLamps(lampEffect(action));
    });
}

void frmZephrin::darkenFocusLamps()
{
    for (Shape* lamp : {shpFocus1, shpFocus2, shpRx1, shpRx2, shpRxS})
        lamp->setFillStyle(FillStyle::Transparent);
}

// The window after both radios' aux outputs were switched off, as the aux-off entries leave it.
void frmZephrin::resetAux()
{
    markAux(1, 0);
    markAux(2, 0);
    showAuxText(1, "Aux R1 Off");
    showAuxText(2, "Aux R2 Off");
}

// The radio's aux menu with its one mark: on the off entry for output 0, else on that output's.
void frmZephrin::markAux(int radio, int output)
{
    (radio == 1 ? mnuAuxR1Off : mnuAuxR2Off)->setChecked(output == 0);
    for (int n = 1; n <= 15; ++n)
        auxOnEntry(radio, n)->setChecked(n == output);
}

void frmZephrin::showAuxText(int radio, const QString& text)
{
    TextBox* box = radio == 1 ? txtAux1 : txtAux2;
    box->setText(text);
    box->setVisible(true);
}

void frmZephrin::selectProtocol(Protocol chosen)
{
    trapped(chosen == Protocol::Mk2r ? "mk2r_click" : "mnuOTRSP_click", [&] {
        // `protocol` and its stored value are the protocol's number.
        const QString value = QString::number(static_cast<int>(chosen));
        store(Setting::Protocol, value);
        protocol = value;
        mnuOTRSP->setChecked(chosen == Protocol::Otrsp);
        mnuMK2R->setChecked(chosen == Protocol::Mk2r);
        if (commandSet(chosen).focusUnknownAfterChoice)
            darkenFocusLamps();
        CommandLink* link = chosenLink();
        if (!link)
            return;
        // On the network, sent only while the connection is up; the aux menus are reset either
        // way.
        if (link->isUp()) {
            for (const QString& command : openingCommands(chosen))
                link->send(command + CarriageReturn);
            if (link->confirmsCommands())
                lblStatus->setCaption("Sent data");
        }
        resetAux();
    });
}

struct frmZephrin::QueryButton {
    const char* label;
    Query query;
    bool saysSent; // a command on the server's link always says so
};

void frmZephrin::queryClick(const QueryButton& button)
{
    trapped(button.label, [&] {
        if (!checkPortAndProtocol())
            return;
        if (!chosenLink())
            return;
        const auto chosen = chosenProtocol();
        if (!chosen)
            return refuseUnknownProtocol();
        const QString command = queryCommand(button.query, *chosen);
        if (command.isEmpty())
            return void(msgBox("Query only valid for OTRSP protocol", MsgBoxStyle::Information,
                               "Protocol error"));
        // MK2R's one query, the version, has its answer arrive into an empty pane.
        if (chosen == Protocol::Mk2r) {
            buffer = "";
            txtTerm->setText("");
        }
        SendCommand(command);
        if (button.saysSent)
            lblStatus->setCaption("Sent data");
    });
}

void frmZephrin::RXQuery_Click()
{
    queryClick({.label = "RxQuery_click", .query = Query::Rx, .saysSent = true});
}

void frmZephrin::TXQuery_Click()
{
    queryClick({.label = "TxQuery_click", .query = Query::Tx, .saysSent = false});
}

void frmZephrin::FWQuery_Click()
{
    queryClick({.label = "FwQuery_click", .query = Query::Firmware, .saysSent = false});
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
        if (const auto chosen = chosenProtocol()) {
            SendCommand(auxCommand(*chosen, radio, output));
            markAux(radio, output);
        }
        showAuxText(radio, auxOnEntry(radio, output)->caption());
    });
}

void frmZephrin::auxOffClick(int radio)
{
    trapped(QString("aux%1%2_click").arg(radio).arg("00"), [&] {
        if (!checkPortAndProtocol())
            return;
        if (chosenLink()) {
            if (const auto chosen = chosenProtocol()) {
                SendCommand(auxCommand(*chosen, radio, 0));
                markAux(radio, 0);
            }
        }
        showAuxText(radio, QString("Aux R%1 Off").arg(radio));
    });
}

void frmZephrin::mnuInterlockingAux_Click()
{
    toggleOption(interlock, mnuInterlockingAux, Setting::Interlock);
}

// A USB box without editing a file: the operator picks a device plugged in now and the COM entry
// that stands for it from then on.
void frmZephrin::mnuAssignDevice_Click()
{
    trapped("AssignDevice_click", [&] {
        const QString title = "Assign Device to COM";
        const std::vector<PresentDevice> present = MSComm1.presentDevices();
        if (present.empty()) {
            msgBox("No serial device is plugged in. Plug in the box's adapter, then try again.",
                   MsgBoxStyle::Information, title);
            return;
        }
        QStringList devices;
        for (const PresentDevice& device : present)
            devices << (device.description.isEmpty() ? device.path
                                                     : device.path + " - " + device.description);
        const auto device = ui.dialogs().chooseItem("The box's serial device:", title, devices);
        if (!device)
            return;
        const SerialDeviceMap map(settings);
        QStringList coms;
        // One item for each COM entry, in their order: the chosen index is the entry's.
        for (int n = 1; n <= int(mnuPortsCom.size()); ++n)
            coms << QString("COM%1 (now %2)").arg(n).arg(map.deviceFor(n));
        const auto com = ui.dialogs().chooseItem(
            "The COM entry that stands for " + present[*device].path + ":", title, coms);
        if (!com)
            return;
        store(Setting::SerialPortsSection, QString("COM%1").arg(*com + 1), present[*device].path);
        mnuPortsCom[*com]->setToolTip(present[*device].path);
    });
}
