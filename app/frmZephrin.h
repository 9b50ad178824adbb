// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "boxprotocol/command_set.h"
#include "links.h"
#include "platform/controls.h"
#include "platform/platform.h"
#include "platform/settings_store.h"

#include <QString>
#include <array>
#include <deque>
#include <memory>
#include <optional>

// The main window's logic: the form state, the controls it reads and writes, and the handlers
// of every control event. It reaches the world only through the platform interfaces.
class frmZephrin {
public:
    explicit frmZephrin(const Platform& platform);
    frmZephrin(const frmZephrin&) = delete;
    frmZephrin& operator=(const frmZephrin&) = delete;

    // Form state. Every value is text; empty means nothing has been chosen yet.
    QString protocol;    // "1" OTRSP, "2" MK2R
    QString port;        // "1" to "16" COM port, "9876" or "9875" TCP port
    QString buffer;      // the latest piece received on the serial port
    QString mode;        // "1" serial link, "2" network link
    QString interlock;   // "1" aux interlocking on, "0" off
    QString autoconnect; // "1" connect to the server at start-up, "0" not
    QString Password;    // the network key, in plain text
    QString secureLink;  // "1" the server is reached inside TLS, "0" by encrypted messages

    // Lifecycle, help and About
    void Form_Load();
    void Form_Unload(int& cancel);
    void Exit_Click();
    void mnuUserGuide_Click();
    void mnuViewReadme_Click();
    void mnuHelpAbout_Click();
    // The launcher found no program for a help file (raised after the click that opened it).
    void launcher_NoViewer(const QString& path);

    // Aux names
    void mnuRenameAux101_Click() { renameClick(1, 1); }
    void mnuRenameAux102_Click() { renameClick(1, 2); }
    void mnuRenameAux103_Click() { renameClick(1, 3); }
    void mnuRenameAux104_Click() { renameClick(1, 4); }
    void mnuRenameAux105_Click() { renameClick(1, 5); }
    void mnuRenameAux106_Click() { renameClick(1, 6); }
    void mnuRenameAux107_Click() { renameClick(1, 7); }
    void mnuRenameAux108_Click() { renameClick(1, 8); }
    void mnuRenameAux109_Click() { renameClick(1, 9); }
    void mnuRenameAux110_Click() { renameClick(1, 10); }
    void mnuRenameAux111_Click() { renameClick(1, 11); }
    void mnuRenameAux112_Click() { renameClick(1, 12); }
    void mnuRenameAux113_Click() { renameClick(1, 13); }
    void mnuRenameAux114_Click() { renameClick(1, 14); }
    void mnuRenameAux115_Click() { renameClick(1, 15); }
    void mnuRenameAux201_Click() { renameClick(2, 1); }
    void mnuRenameAux202_Click() { renameClick(2, 2); }
    void mnuRenameAux203_Click() { renameClick(2, 3); }
    void mnuRenameAux204_Click() { renameClick(2, 4); }
    void mnuRenameAux205_Click() { renameClick(2, 5); }
    void mnuRenameAux206_Click() { renameClick(2, 6); }
    void mnuRenameAux207_Click() { renameClick(2, 7); }
    void mnuRenameAux208_Click() { renameClick(2, 8); }
    void mnuRenameAux209_Click() { renameClick(2, 9); }
    void mnuRenameAux210_Click() { renameClick(2, 10); }
    void mnuRenameAux211_Click() { renameClick(2, 11); }
    void mnuRenameAux212_Click() { renameClick(2, 12); }
    void mnuRenameAux213_Click() { renameClick(2, 13); }
    void mnuRenameAux214_Click() { renameClick(2, 14); }
    void mnuRenameAux215_Click() { renameClick(2, 15); }
    void mnuResetAux_Click();
    void mnuAssignDevice_Click();
    // Gives all thirty outputs their default names, and stores them.
    void renameAux();

    // Focus commands and the send path
    void TxFocus1_Click() { focusClick(FocusAction::TxFocus1, "TxFocus1_click"); }
    void TxFocus2_Click() { focusClick(FocusAction::TxFocus2, "TxFocus2_click"); }
    void RxFocus1_Click() { focusClick(FocusAction::RxFocus1, "RxFocus1_click"); }
    void RxFocus2_Click() { focusClick(FocusAction::RxFocus2, "RxFocus2_click"); }
    void RxFocusS_Click() { focusClick(FocusAction::RxFocusS, "RxFocusS_click"); }
    void SendCommand(const QString& command);

    // Query commands
    void TXQuery_Click();
    void RXQuery_Click();
    void FWQuery_Click();
    struct QueryButton;

    // Aux outputs and interlock
    void mnuAuxR1Off_Click() { auxOffClick(1); }
    void mnuAuxR2Off_Click() { auxOffClick(2); }
    void mnuAux101On_Click() { auxOnClick(1, 1); }
    void mnuAux102On_Click() { auxOnClick(1, 2); }
    void mnuAux103On_Click() { auxOnClick(1, 3); }
    void mnuAux104On_Click() { auxOnClick(1, 4); }
    void mnuAux105On_Click() { auxOnClick(1, 5); }
    void mnuAux106On_Click() { auxOnClick(1, 6); }
    void mnuAux107On_Click() { auxOnClick(1, 7); }
    void mnuAux108On_Click() { auxOnClick(1, 8); }
    void mnuAux109On_Click() { auxOnClick(1, 9); }
    void mnuAux110On_Click() { auxOnClick(1, 10); }
    void mnuAux111On_Click() { auxOnClick(1, 11); }
    void mnuAux112On_Click() { auxOnClick(1, 12); }
    void mnuAux113On_Click() { auxOnClick(1, 13); }
    void mnuAux114On_Click() { auxOnClick(1, 14); }
    void mnuAux115On_Click() { auxOnClick(1, 15); }
    void mnuAux201On_Click() { auxOnClick(2, 1); }
    void mnuAux202On_Click() { auxOnClick(2, 2); }
    void mnuAux203On_Click() { auxOnClick(2, 3); }
    void mnuAux204On_Click() { auxOnClick(2, 4); }
    void mnuAux205On_Click() { auxOnClick(2, 5); }
    void mnuAux206On_Click() { auxOnClick(2, 6); }
    void mnuAux207On_Click() { auxOnClick(2, 7); }
    void mnuAux208On_Click() { auxOnClick(2, 8); }
    void mnuAux209On_Click() { auxOnClick(2, 9); }
    void mnuAux210On_Click() { auxOnClick(2, 10); }
    void mnuAux211On_Click() { auxOnClick(2, 11); }
    void mnuAux212On_Click() { auxOnClick(2, 12); }
    void mnuAux213On_Click() { auxOnClick(2, 13); }
    void mnuAux214On_Click() { auxOnClick(2, 14); }
    void mnuAux215On_Click() { auxOnClick(2, 15); }
    void mnuInterlockingAux_Click();

    // Protocol selection
    void mnuOTRSP_Click() { selectProtocol(Protocol::Otrsp); }
    void mnuMK2R_Click() { selectProtocol(Protocol::Mk2r); }

    // Serial port selection
    void mnuPortsCom1_Click() { selectComPort(1); }
    void mnuPortsCom2_Click() { selectComPort(2); }
    void mnuPortsCom3_Click() { selectComPort(3); }
    void mnuPortsCom4_Click() { selectComPort(4); }
    void mnuPortsCom5_Click() { selectComPort(5); }
    void mnuPortsCom6_Click() { selectComPort(6); }
    void mnuPortsCom7_Click() { selectComPort(7); }
    void mnuPortsCom8_Click() { selectComPort(8); }
    void mnuPortsCom9_Click() { selectComPort(9); }
    void mnuPortsCom10_Click() { selectComPort(10); }
    void mnuPortsCom11_Click() { selectComPort(11); }
    void mnuPortsCom12_Click() { selectComPort(12); }
    void mnuPortsCom13_Click() { selectComPort(13); }
    void mnuPortsCom14_Click() { selectComPort(14); }
    void mnuPortsCom15_Click() { selectComPort(15); }
    void mnuPortsCom16_Click() { selectComPort(16); }

    // Network link
    void mnuTCPPort1_Click() { selectTcpPort(9876, "TCPPort1_click"); }
    void mnuTCPPort2_Click() { selectTcpPort(9875, "TCPPort2_click"); }
    void cmdConnect_Click();
    void cmdDisconnect_Click();
    void mnuNetAutoconnect_Click();
    void mnuSecureLink_Click();
    void mnuChangeKey_Click();
    void wskClient_Connect();
    void wskClient_Close();
    void wskClient_Error(int number, const QString& description);
    void wskClient_DataArrival(int bytesTotal);
    void wskClient_SecureLinkFailed(const QString& reason);
    void SendToServer(const QString& text);

    // Serial receive and the terminal pane
    void MSComm1_OnComm();
    void txtTerm_Change();
    void txtTerm_KeyPress(int KeyAscii);
    // Appends received text to the pane; Data ends as it was inserted (backspaces applied, line
    // feeds dropped, a line feed after every carriage return).
    void ShowData(RichTextBox& Term, QString& Data);
    static QString stripCRLF(const QString& strToStrip);
    // Backspaces applied to the text: each takes the character before it; true in
    // takesCharacterBefore when one came first and so takes a character before the text.
    static QString applyBackspaces(const QString& text, bool& takesCharacterBefore);

private:
    using Handler = void (frmZephrin::*)();

    void wireEvents();
    // A menu entry's or button's click runs the named handler.
    template <typename Control> void wire(Control& control, Handler handler)
    {
        control.onClick([this, handler] { (this->*handler)(); });
    }

    // Shows "VB6 runtime error (<label>): <number> - <description>" for a failure of body.
    template <typename Body> void trapped(const QString& label, Body&& body);
    int msgBox(const QString& prompt, int style, const QString& title = {});

    // The chosen protocol by the number in `protocol`: none for a number that names no
    // protocol; raises 13 when `protocol` is not a number at all.
    std::optional<Protocol> chosenProtocol() const;
    // The link that `mode` names; none while no port has been chosen.
    CommandLink* chosenLink();

    // The checks every command handler runs before sending; false after showing the message.
    bool portChosen() const;
    bool checkPortAndProtocol();
    void refuseUnknownProtocol();
    void applyLamps(const LampEffect& effect);
    void resetAux();
    void darkenFocusLamps();
    void showAuxText(int radio, const QString& text);
    void markAux(int radio, int output);

    void focusClick(FocusAction action, const char* label);
    void queryClick(const QueryButton& button);
    void selectProtocol(Protocol chosen);
    void auxOnClick(int radio, int output);
    void auxOffClick(int radio);
    MenuEntry* auxOnEntry(int radio, int output) const;
    void setLampsFromReply(const QString& reply);
    void protocolErrorBox(const QString& prompt, const QString& title);
    // Saves a setting; a store that cannot be written is said once a session, and the operation
    // that saves goes on.
    void store(SettingKey key, const QString& value);
    void store(const QString& section, const QString& key, const QString& value);
    void storeAll(const QString& section, const std::vector<std::pair<QString, QString>>& values);
    void restoreSettings();
    void restorePort();
    void restoreAuxNames();
    void connectAutomatically();
    void renameClick(int radio, int output);
    QString storedOption(SettingKey key) const;
    void toggleOption(QString& option, MenuEntry* entry, SettingKey key);
    template <typename Step> void resumeNext(Step&& step);
    void selectComPort(int number);
    void selectTcpPort(int number, const char* label);
    void connectToServer(const QString& host, int port);
    void closeConnection();
    // The token table of the server's reports: what a report does to the window.
    void applyReport(const QString& token);
    void applyAuxReport(int radio, int output);
    // The server's reports of one arrival, in the order they came.
    void applyArrival(const std::vector<NetworkLink::Report>& reports);
    void checkPortEntry(MenuEntry* chosen);
    void closeLinksAndStorePosition();

    // Characters that arrived while the last protocol-error box was open, not yet shown.
    int heldByErrorBox = 0;
    bool pieceHeldByErrorBox = false;
    bool saveFailureShown = false;

    Toolkit& ui;
    SerialPort& MSComm1;
    Socket& wskClient;
    SettingsStore& settings;
    Launcher& launcher;
    SerialLink serialLink{MSComm1};
    NetworkLink networkLink;

    std::array<MenuEntry*, 16> mnuPortsCom{};
    MenuEntry* mnuTCPPort1;
    MenuEntry* mnuTCPPort2;
    MenuEntry* mnuSecureLink;
    MenuEntry* mnuOTRSP;
    MenuEntry* mnuMK2R;
    MenuEntry* mnuAuxR1Off;
    MenuEntry* mnuAuxR2Off;
    MenuEntry* mnuInterlockingAux;
    std::array<MenuEntry*, 15> mnuAux1On{}; // mnuAux101On .. mnuAux115On
    std::array<MenuEntry*, 15> mnuAux2On{}; // mnuAux201On .. mnuAux215On
    Shape* shpFocus1;
    Shape* shpFocus2;
    Shape* shpRx1;
    Shape* shpRx2;
    Shape* shpRxS;
    Shape* shpNetStat;
    MenuEntry* mnuNetAutoconnect;
    Label* lblStatus;
    TextBox* txtAux1;
    TextBox* txtAux2;
    RichTextBox* txtTerm;
};

// The network key when the operator has set none; the server's default is the same.
constexpr const char* ResetKey = "Zephrin";
