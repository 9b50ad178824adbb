// SPDX-License-Identifier: GPL-3.0-or-later
#include "frmZephrin.h"

#include "handler_trap.h"
#include "platform/launcher.h"
#include "platform/serial_devices.h"
#include "platform/serial_port.h"
#include "platform/socket.h"
#include "text_numbers.h"

frmZephrin::frmZephrin(const Platform& platform)
    : ui(platform.toolkit), MSComm1(platform.serialPort), wskClient(platform.socket),
      settings(platform.settings), launcher(platform.launcher),
      networkLink(wskClient, platform.workers, Password), mnuTCPPort1(&ui.menuEntry("mnuTCPPort1")),
      mnuTCPPort2(&ui.menuEntry("mnuTCPPort2")), mnuSecureLink(&ui.menuEntry("mnuSecureLink")),
      mnuOTRSP(&ui.menuEntry("mnuOTRSP")),
      mnuMK2R(&ui.menuEntry("mnuMK2R")), mnuAuxR1Off(&ui.menuEntry("mnuAuxR1Off")),
      mnuAuxR2Off(&ui.menuEntry("mnuAuxR2Off")),
      mnuInterlockingAux(&ui.menuEntry("mnuInterlockingAux")), shpFocus1(&ui.shape("shpFocus1")),
      shpFocus2(&ui.shape("shpFocus2")), shpRx1(&ui.shape("shpRx1")), shpRx2(&ui.shape("shpRx2")),
      shpRxS(&ui.shape("shpRxS")), shpNetStat(&ui.shape("shpNetStat")),
      mnuNetAutoconnect(&ui.menuEntry("mnuNetAutoconnect")), lblStatus(&ui.label("lblStatus")),
      txtAux1(&ui.textBox("txtAux1")), txtAux2(&ui.textBox("txtAux2")),
      txtTerm(&ui.richTextBox("txtTerm"))
{
    const SerialDeviceMap devices(settings);
    for (int n = 1; n <= 16; ++n) {
        mnuPortsCom[n - 1] = &ui.menuEntry(QString("mnuPortsCom%1").arg(n));
        mnuPortsCom[n - 1]->setToolTip(devices.deviceFor(n));
    }
    // Where a contest logger fits: beside the window, on the server's logger port.
    for (MenuEntry* tcp : {mnuTCPPort1, mnuTCPPort2})
        tcp->setToolTip("Zephrin Server on this or another computer. To share the box with a "
                        "contest logger, start zephrin-server --logger-port "
                        "~/.zephrin/logger-com5, point the logger at that link (under Wine: "
                        "~/.wine/dosdevices/com5) and connect here to 127.0.0.1.");
    for (int n = 1; n <= 15; ++n) {
        const QString nn = QString("%1").arg(n, 2, 10, QChar('0'));
        mnuAux1On[n - 1] = &ui.menuEntry("mnuAux1" + nn + "On");
        mnuAux2On[n - 1] = &ui.menuEntry("mnuAux2" + nn + "On");
    }
    shpNetStat->setStateText("not connected");
    wireEvents();
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
        {"TxFocus1", &frmZephrin::TxFocus1_Click},
        {"TxFocus2", &frmZephrin::TxFocus2_Click},
        {"RxFocus1", &frmZephrin::RxFocus1_Click},
        {"RxFocus2", &frmZephrin::RxFocus2_Click},
        {"RxFocusS", &frmZephrin::RxFocusS_Click},
        {"Exit", &frmZephrin::Exit_Click},
        {"TXQuery", &frmZephrin::TXQuery_Click},
        {"RXQuery", &frmZephrin::RXQuery_Click},
        {"FWQuery", &frmZephrin::FWQuery_Click},
        {"cmdConnect", &frmZephrin::cmdConnect_Click},
        {"cmdDisconnect", &frmZephrin::cmdDisconnect_Click},
    };
    for (const auto& [name, handler] : buttons)
        wire(ui.button(name), handler);

    // clang-format off
    using F = frmZephrin;
    static constexpr Handler auxOnHandlers[2][15] = {
        {
            &F::mnuAux101On_Click, &F::mnuAux102On_Click, &F::mnuAux103On_Click,
            &F::mnuAux104On_Click, &F::mnuAux105On_Click, &F::mnuAux106On_Click,
            &F::mnuAux107On_Click, &F::mnuAux108On_Click, &F::mnuAux109On_Click,
            &F::mnuAux110On_Click, &F::mnuAux111On_Click, &F::mnuAux112On_Click,
            &F::mnuAux113On_Click, &F::mnuAux114On_Click, &F::mnuAux115On_Click,
        },
        {
            &F::mnuAux201On_Click, &F::mnuAux202On_Click, &F::mnuAux203On_Click,
            &F::mnuAux204On_Click, &F::mnuAux205On_Click, &F::mnuAux206On_Click,
            &F::mnuAux207On_Click, &F::mnuAux208On_Click, &F::mnuAux209On_Click,
            &F::mnuAux210On_Click, &F::mnuAux211On_Click, &F::mnuAux212On_Click,
            &F::mnuAux213On_Click, &F::mnuAux214On_Click, &F::mnuAux215On_Click,
        },
    };
    static constexpr Handler renameHandlers[2][15] = {
        {
            &F::mnuRenameAux101_Click, &F::mnuRenameAux102_Click, &F::mnuRenameAux103_Click,
            &F::mnuRenameAux104_Click, &F::mnuRenameAux105_Click, &F::mnuRenameAux106_Click,
            &F::mnuRenameAux107_Click, &F::mnuRenameAux108_Click, &F::mnuRenameAux109_Click,
            &F::mnuRenameAux110_Click, &F::mnuRenameAux111_Click, &F::mnuRenameAux112_Click,
            &F::mnuRenameAux113_Click, &F::mnuRenameAux114_Click, &F::mnuRenameAux115_Click,
        },
        {
            &F::mnuRenameAux201_Click, &F::mnuRenameAux202_Click, &F::mnuRenameAux203_Click,
            &F::mnuRenameAux204_Click, &F::mnuRenameAux205_Click, &F::mnuRenameAux206_Click,
            &F::mnuRenameAux207_Click, &F::mnuRenameAux208_Click, &F::mnuRenameAux209_Click,
            &F::mnuRenameAux210_Click, &F::mnuRenameAux211_Click, &F::mnuRenameAux212_Click,
            &F::mnuRenameAux213_Click, &F::mnuRenameAux214_Click, &F::mnuRenameAux215_Click,
        },
    };
    // clang-format on
    for (int radio = 1; radio <= 2; ++radio)
        for (int n = 1; n <= 15; ++n) {
            wire(*auxOnEntry(radio, n), auxOnHandlers[radio - 1][n - 1]);
            wire(ui.menuEntry(QString("mnuRenameAux%1%2").arg(radio).arg(n, 2, 10, QChar('0'))),
                 renameHandlers[radio - 1][n - 1]);
        }
    wire(*mnuAuxR1Off, &frmZephrin::mnuAuxR1Off_Click);
    wire(*mnuAuxR2Off, &frmZephrin::mnuAuxR2Off_Click);
    wire(*mnuInterlockingAux, &frmZephrin::mnuInterlockingAux_Click);

    MSComm1.onComm([this] { MSComm1_OnComm(); });
    txtTerm->onChange([this] { txtTerm_Change(); });
    txtTerm->onKeyPress([this](int keyAscii) { txtTerm_KeyPress(keyAscii); });

    wire(*mnuOTRSP, &frmZephrin::mnuOTRSP_Click);
    wire(*mnuMK2R, &frmZephrin::mnuMK2R_Click);
    wire(*mnuTCPPort1, &frmZephrin::mnuTCPPort1_Click);
    wire(*mnuTCPPort2, &frmZephrin::mnuTCPPort2_Click);
    wire(*mnuNetAutoconnect, &frmZephrin::mnuNetAutoconnect_Click);
    wire(*mnuSecureLink, &frmZephrin::mnuSecureLink_Click);
    wire(ui.menuEntry("mnuChangeKey"), &frmZephrin::mnuChangeKey_Click);
    wire(ui.menuEntry("mnuResetAux"), &frmZephrin::mnuResetAux_Click);
    wire(ui.menuEntry("mnuAssignDevice"), &frmZephrin::mnuAssignDevice_Click);
    wire(ui.menuEntry("mnuUserGuide"), &frmZephrin::mnuUserGuide_Click);
    wire(ui.menuEntry("mnuViewReadme"), &frmZephrin::mnuViewReadme_Click);
    wire(ui.menuEntry("mnuHelpAbout"), &frmZephrin::mnuHelpAbout_Click);
    launcher.onNoViewer([this](const QString& path) { launcher_NoViewer(path); });
    wskClient.onEvents({
        .connected = [this] { wskClient_Connect(); },
        .closedByPeer = [this] { wskClient_Close(); },
        .error = [this](int number,
                        const QString& description) { wskClient_Error(number, description); },
        .dataArrival = [this](int bytesTotal) { wskClient_DataArrival(bytesTotal); },
        .secureLinkFailed = [this](const QString& reason) { wskClient_SecureLinkFailed(reason); },
    });
    networkLink.onArrival = [this](const std::vector<NetworkLink::Report>& reports) {
        trapped("wskClient_dataArrival", [&] { applyArrival(reports); });
    };

    ui.window().onUnload([this] {
        int cancel = 0;
        Form_Unload(cancel);
    });
}

int frmZephrin::msgBox(const QString& prompt, int style, const QString& title)
{
    return ui.dialogs().msgBox(prompt, style, title);
}

CommandLink* frmZephrin::chosenLink()
{
    if (mode == "1")
        return &serialLink;
    if (mode == "2")
        return &networkLink;
    return nullptr;
}

std::optional<Protocol> frmZephrin::chosenProtocol() const
{
    const double value = numericValue(protocol);
    if (value == 1)
        return Protocol::Otrsp;
    if (value == 2)
        return Protocol::Mk2r;
    return std::nullopt;
}

void frmZephrin::SendCommand(const QString& command)
{
    CommandLink* link = chosenLink();
    if (!link)
        return;
    link->send(command + CarriageReturn);
    if (link->confirmsCommands())
        lblStatus->setCaption("Sent data");
}
