// SPDX-License-Identifier: GPL-3.0-or-later
#include "form_layout.h"

const std::vector<ControlLayout>& formControls()
{
    using K = ControlKind;
    static const std::vector<ControlLayout> controls = {
        {"TxFocus1", K::CommandButton, "TX Focus &1", 120, 120, 855, 495, 0, nullptr},
        {"TxFocus2", K::CommandButton, "TX Focus &2", 1080, 120, 855, 495, 1, nullptr},
        {"RxFocus1", K::CommandButton, "&RX Focus 1", 2040, 120, 855, 495, 2, nullptr},
        {"RxFocus2", K::CommandButton, "R&X Focus 2", 3000, 120, 855, 495, 3, nullptr},
        {"RxFocusS", K::CommandButton, "RX Focus &Stereo", 3960, 120, 855, 495, 4, nullptr},
        {"TXQuery", K::CommandButton, "?TX", 2640, 1680, 495, 375, 5, nullptr},
        {"RXQuery", K::CommandButton, "?RX", 3240, 1680, 495, 375, 6, nullptr},
        {"FWQuery", K::CommandButton, "?FW", 3840, 1680, 495, 375, 7, nullptr},
        {"Exit", K::CommandButton, "&Exit", 1920, 1680, 615, 375, 8, "Click to Exit Program"},
        {"txtTerm", K::RichTextBox, "", 120, 1080, 1695, 975, 9, nullptr},
        {"cmdConnect", K::CommandButton, "Connect", 4440, 1680, 855, 375, 10, nullptr},
        {"cmdDisconnect", K::CommandButton, "Disconnect", 5400, 1680, 975, 375, 11, nullptr},
        {"lblStatus", K::Label, "", 4680, 840, 1695, 255, 12, nullptr},
        {"txtAux1", K::TextBox, "", 1920, 1200, 2175, 375, 13, nullptr},
        {"txtAux2", K::TextBox, "", 4200, 1200, 2175, 375, 14, nullptr},
        {"lblNetStat", K::Label, "Network Status", 5040, 120, 1215, 255, 15, nullptr},
        {"shpFocus1", K::Circle, "", 360, 600, 375, 495, -1, nullptr},
        {"shpFocus2", K::Circle, "", 1320, 600, 375, 495, -1, nullptr},
        {"shpRx1", K::Circle, "", 2280, 600, 375, 495, -1, nullptr},
        {"shpRx2", K::Circle, "", 3240, 600, 375, 495, -1, nullptr},
        {"shpRxS", K::Circle, "", 4200, 600, 375, 495, -1, nullptr},
        {"shpNetStat", K::Circle, "", 5400, 360, 375, 495, -1, nullptr},
    };
    return controls;
}

QString defaultAuxCaption(int radio, int output)
{
    return QString("Aux%1%2 On").arg(radio).arg(output, 2, 10, QChar('0'));
}

static std::vector<MenuEntryLayout> portEntries()
{
    std::vector<MenuEntryLayout> entries;
    for (int n = 1; n <= 16; ++n)
        entries.push_back({QString("mnuPortsCom%1").arg(n),
                           n < 10 ? QString("Com&%1").arg(n) : QString("Com%1").arg(n)});
    entries.push_back({"mnuTCPPort1", "&TCP Port 9876"});
    entries.push_back({"mnuTCPPort2", "T&CP Port 9875"});
    entries.push_back({"mnuSecureLink", "&Secure Link (TLS)"});
    entries.push_back({"mnuAssignDevice", "&Assign Device to COM...", true});
    return entries;
}

static std::vector<MenuEntryLayout> auxEntries(int radio)
{
    std::vector<MenuEntryLayout> entries = {
        {QString("mnuAuxR%1Off").arg(radio), QString("AuxR%1 &Off").arg(radio)}};
    for (int n = 1; n <= 15; ++n)
        entries.push_back({QString("mnuAux%1%2On").arg(radio).arg(n, 2, 10, QChar('0')),
                           defaultAuxCaption(radio, n)});
    return entries;
}

static std::vector<MenuEntryLayout> renameEntries()
{
    std::vector<MenuEntryLayout> entries;
    for (int radio = 1; radio <= 2; ++radio)
        for (int n = 1; n <= 15; ++n)
            entries.push_back({QString("mnuRenameAux%1%2").arg(radio).arg(n, 2, 10, QChar('0')),
                               defaultAuxCaption(radio, n)});
    entries.push_back({"mnuResetAux", "Reset Aux Menus to Default Names"});
    return entries;
}

const std::vector<MenuLayout>& formMenus()
{
    static const std::vector<MenuLayout> menus = {
        {"mnuPorts", "&Port", portEntries()},
        {"mnuProtocol", "Pr&otocol", {{"mnuOTRSP", "OTRSP"}, {"mnuMK2R", "MK2R"}}},
        {"mnuAux", "&Aux R1", auxEntries(1)},
        {"mnuAuxR2", "A&ux R2", auxEntries(2)},
        {"mnuRename", "Re&name", renameEntries()},
        {"mnuOptions",
         "&Options",
         {{"mnuInterlockingAux", "&Interlocking Aux"},
          {"mnuNetAutoconnect", "&Automatically Connect Network"},
          {"mnuChangeKey", "&Change Encryption Key"}}},
        {"mnuHelp",
         "&Help",
         {{"mnuUserGuide", "&User Guide"},
          {"mnuViewReadme", "View &Readme File"},
          {"mnuHelpAbout", "&About Zephrin"}}},
    };
    return menus;
}
