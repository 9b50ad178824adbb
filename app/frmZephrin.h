#pragma once

#include "commands.h"
#include "platform/controls.h"

#include <QString>
#include <array>

class SerialPort;
class SettingsStore;

// The main window's logic: the form state, the controls it reads and writes, and the handlers
// of every control event. It reaches the world only through the platform interfaces.
class frmZephrin {
public:
    frmZephrin(Toolkit& toolkit, SerialPort& serialPort, SettingsStore& settingsStore);
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

    // Lifecycle
    void Form_Load();
    void Form_Unload(int& cancel);
    void Exit_Click();

    // Focus commands and the send path
    void TxFocus1_Click() { focusClick(FocusAction::TxFocus1, "TxFocus1_click"); }
    void TxFocus2_Click() { focusClick(FocusAction::TxFocus2, "TxFocus2_click"); }
    void RxFocus1_Click() { focusClick(FocusAction::RxFocus1, "RxFocus1_click"); }
    void RxFocus2_Click() { focusClick(FocusAction::RxFocus2, "RxFocus2_click"); }
    void RxFocusS_Click() { focusClick(FocusAction::RxFocusS, "RxFocusS_click"); }
    void SendCommand(const QString& command);

    // Protocol selection
    void mnuOTRSP_Click();
    void mnuMK2R_Click();

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

private:
    using Handler = void (frmZephrin::*)();

    void wireEvents();
    void wire(MenuEntry& entry, Handler handler);

    // Shows "VB6 runtime error (<label>): <number> - <description>" for a failure of body.
    template <typename Body> void trapped(const QString& label, Body&& body);
    int msgBox(const QString& prompt, int style, const QString& title = {});

    // The checks every command handler runs before sending; false after showing the message.
    bool portChosen() const;
    bool checkPortAndProtocol();
    void refuseUnknownProtocol();
    void applyLamps(const LampEffect& effect);
    void writeSerial(const QString& text);
    void resetAux();

    void focusClick(FocusAction action, const char* label);
    void selectComPort(int number);
    void checkPortEntry(MenuEntry* chosen);
    void closeLinksAndStorePosition();

    Toolkit& ui;
    SerialPort& MSComm1;
    SettingsStore& settings;

    std::array<MenuEntry*, 16> mnuPortsCom{};
    MenuEntry* mnuTCPPort1;
    MenuEntry* mnuTCPPort2;
    MenuEntry* mnuOTRSP;
    MenuEntry* mnuMK2R;
    MenuEntry* mnuAuxR1Off;
    MenuEntry* mnuAuxR2Off;
    std::array<MenuEntry*, 15> mnuAux1On{}; // mnuAux101On .. mnuAux115On
    std::array<MenuEntry*, 15> mnuAux2On{}; // mnuAux201On .. mnuAux215On
    Shape* shpFocus1;
    Shape* shpFocus2;
    Shape* shpRx1;
    Shape* shpRx2;
    Shape* shpRxS;
    Label* lblStatus;
    TextBox* txtAux1;
    TextBox* txtAux2;
    RichTextBox* txtTerm;
};

// The application name under which the settings live, and the window's title.
constexpr const char* AppName = "Zephrin";
