#include "frmZephrin.h"

#include "platform/serial_port.h"

frmZephrin::frmZephrin(Toolkit& toolkit, SerialPort& serialPort, SettingsStore& settingsStore)
    : ui(toolkit), MSComm1(serialPort), settings(settingsStore),
      mnuTCPPort1(&ui.menuEntry("mnuTCPPort1")), mnuTCPPort2(&ui.menuEntry("mnuTCPPort2")),
      mnuOTRSP(&ui.menuEntry("mnuOTRSP")), mnuMK2R(&ui.menuEntry("mnuMK2R")),
      mnuAuxR1Off(&ui.menuEntry("mnuAuxR1Off")), mnuAuxR2Off(&ui.menuEntry("mnuAuxR2Off")),
      shpFocus1(&ui.shape("shpFocus1")), shpFocus2(&ui.shape("shpFocus2")),
      shpRx1(&ui.shape("shpRx1")), shpRx2(&ui.shape("shpRx2")), shpRxS(&ui.shape("shpRxS")),
      lblStatus(&ui.label("lblStatus")), txtAux1(&ui.textBox("txtAux1")),
      txtAux2(&ui.textBox("txtAux2")), txtTerm(&ui.richTextBox("txtTerm"))
{
    for (int n = 1; n <= 16; ++n) {
        mnuPortsCom[n - 1] = &ui.menuEntry(QString("mnuPortsCom%1").arg(n));
        mnuPortsCom[n - 1]->setToolTip(MSComm1.deviceFor(n));
    }
    for (int n = 1; n <= 15; ++n) {
        const QString nn = QString("%1").arg(n, 2, 10, QChar('0'));
        mnuAux1On[n - 1] = &ui.menuEntry("mnuAux1" + nn + "On");
        mnuAux2On[n - 1] = &ui.menuEntry("mnuAux2" + nn + "On");
    }
    wireEvents();
}

void frmZephrin::wire(MenuEntry& entry, Handler handler)
{
    entry.onClick([this, handler] { (this->*handler)(); });
}

void frmZephrin::wireEvents()
{
    static constexpr Handler comHandlers[16] = {
        &frmZephrin::mnuPortsCom1_Click,  &frmZephrin::mnuPortsCom2_Click,
        &frmZephrin::mnuPortsCom3_Click,  &frmZephrin::mnuPortsCom4_Click,
        &frmZephrin::mnuPortsCom5_Click,  &frmZephrin::mnuPortsCom6_Click,
        &frmZephrin::mnuPortsCom7_Click,  &frmZephrin::mnuPortsCom8_Click,
        &frmZephrin::mnuPortsCom9_Click,  &frmZephrin::mnuPortsCom10_Click,
        &frmZephrin::mnuPortsCom11_Click, &frmZephrin::mnuPortsCom12_Click,
        &frmZephrin::mnuPortsCom13_Click, &frmZephrin::mnuPortsCom14_Click,
        &frmZephrin::mnuPortsCom15_Click, &frmZephrin::mnuPortsCom16_Click,
    };
    for (int n = 0; n < 16; ++n)
        wire(*mnuPortsCom[n], comHandlers[n]);

    const std::pair<const char*, Handler> buttons[] = {
        {"TxFocus1", &frmZephrin::TxFocus1_Click}, {"TxFocus2", &frmZephrin::TxFocus2_Click},
        {"RxFocus1", &frmZephrin::RxFocus1_Click}, {"RxFocus2", &frmZephrin::RxFocus2_Click},
        {"RxFocusS", &frmZephrin::RxFocusS_Click}, {"Exit", &frmZephrin::Exit_Click},
    };
    for (const auto& [name, handler] : buttons)
        ui.button(name).onClick([this, handler] { (this->*handler)(); });

    wire(*mnuOTRSP, &frmZephrin::mnuOTRSP_Click);
    wire(*mnuMK2R, &frmZephrin::mnuMK2R_Click);

    ui.window().onUnload([this] {
        int cancel = 0;
        Form_Unload(cancel);
    });
}

int frmZephrin::msgBox(const QString& prompt, int style, const QString& title)
{
    return ui.dialogs().msgBox(prompt, style, title);
}

void frmZephrin::writeSerial(const QString& text)
{
    MSComm1.output(text);
}

void frmZephrin::SendCommand(const QString& command)
{
    const QString text = command + CarriageReturn;
    if (mode == "1")
        writeSerial(text);
    // mode "2", the network link, is added with the network client; any other mode sends nothing.
}
