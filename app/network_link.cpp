// SPDX-License-Identifier: GPL-3.0-or-later
// The link to Zephrin Server: choosing a TCP port, connecting (by encrypted messages or inside
// TLS) and disconnecting, the send path, the key, and the server's reports.

#include "cipher/encrypted_text.h"
#include "frmZephrin.h"
#include "handler_trap.h"
#include "platform/serial_port.h"
#include "platform/socket.h"
#include "text_numbers.h"

#include <QStringList>
#include <cmath>

void frmZephrin::SendToServer(const QString& text)
{
    networkLink.send(text);
}

void frmZephrin::selectTcpPort(int number, const char* label)
{
    trapped(label, [&] {
        if (wskClient.state() != Socket::Closed)
            return void(msgBox("Must be disconnected from server to change port.",
                               MsgBoxStyle::Information));
        port = QString::number(number);
        store(Setting::Port, port);
        mode = "2";
        if (MSComm1.portOpen())
            MSComm1.setPortOpen(false);
        checkPortEntry(number == 9876 ? mnuTCPPort1 : mnuTCPPort2);
    });
}

void frmZephrin::connectToServer(const QString& host, int port)
{
    shpNetStat->setFillColor(Colour::Yellow);
    closeConnection();
    networkLink.connectTo(host, port, secureLink == "1");
    shpNetStat->setStateText("connecting");
}

// The network lamp's words say the link's state, which its colour does not tell alone: yellow is
// both a connection under way and one that the server closed, and a first attempt does not even
// light the lamp.
void frmZephrin::closeConnection()
{
    networkLink.close();
    shpNetStat->setStateText("not connected");
}

void frmZephrin::cmdConnect_Click()
{
    trapped("Connect_click", [&] {
        const int serverPort = int(std::round(numericValue(readSetting(settings, Setting::Port))));
        if (serverPort < 1025 || serverPort > 65535)
            return void(msgBox("Connect button only works when TCP port is selected.",
                               MsgBoxStyle::Information));
        const auto host =
            ui.dialogs().inputBox("Enter the IP address or host name to connect to:", {},
                                  readSetting(settings, Setting::Host));
        // Cancel keeps the saved host and starts nothing.
        if (!host)
            return;
        store(Setting::Host, *host);
        if (!host->isEmpty())
            connectToServer(*host, serverPort);
    });
}

void frmZephrin::cmdDisconnect_Click()
{
    trapped("Disconnect_click", [&] {
        if (numericValue(mode) == 1)
            return void(msgBox("Disonnect button only works when TCP port is selected.",
                               MsgBoxStyle::Information));
        closeConnection();
        lblStatus->setCaption("Network disconnected");
        shpNetStat->setFillStyle(FillStyle::Transparent);
        darkenFocusLamps();
    });
}

void frmZephrin::wskClient_Connect()
{
    trapped("wsk_connect", [&] {
        lblStatus->setCaption(" Network connected");
        shpNetStat->setFillColor(Colour::Green);
        shpNetStat->setFillStyle(FillStyle::Solid);
        shpNetStat->setStateText("connected");
        networkLink.prepareKeys();
        if (mode != "2")
            return;
        try {
            // The box behind the server gets the protocol's opening commands.
            const auto chosen = chosenProtocol();
            if (chosen)
                selectProtocol(*chosen);
        } catch (...) {
            lblStatus->setCaption("Network error");
            throw;
        }
    });
}

void frmZephrin::wskClient_Close()
{
    trapped("winsock_Close", [&] {
        networkLink.peerClosed();
        lblStatus->setCaption("Connection closed");
        shpNetStat->setFillColor(Colour::Yellow);
        shpNetStat->setStateText("closed by the server");
    });
}

void frmZephrin::wskClient_Error(int /*number*/, const QString& /*description*/)
{
    // Events never nest in a handler, so no failure of the program's own is pending here.
    if (wskClient.state() != Socket::Failed)
        return;
    lblStatus->setCaption("Network error");
    shpNetStat->setFillColor(Colour::Red);
    shpNetStat->setFillStyle(FillStyle::Solid);
    shpNetStat->setStateText("connection failed");
}

void frmZephrin::mnuNetAutoconnect_Click()
{
    toggleOption(autoconnect, mnuNetAutoconnect, Setting::Autoconnect);
}

// Takes effect at the next Connect; a connection that is up stays as it is.
void frmZephrin::mnuSecureLink_Click()
{
    toggleOption(secureLink, mnuSecureLink, Setting::SecureLink);
    if (secureLink == "1")
        networkLink.preparePreSharedKey();
}

// Once: the lamp and the status line keep saying it until the next Connect or Disconnect.
void frmZephrin::wskClient_SecureLinkFailed(const QString& reason)
{
    lblStatus->setCaption("Secure link failed");
    shpNetStat->setStateText("secure link failed");
    shpNetStat->setFillColor(Colour::Red);
    shpNetStat->setFillStyle(FillStyle::Solid);
    msgBox(QString("The secure link (TLS) to Zephrin Server failed: %1.\n\nThe same encryption "
                   "key must be set here (Options, Change Encryption Key) and in Zephrin Server, "
                   "and the server must run with --tls. To reach a server without --tls, untick "
                   "Port, Secure Link (TLS).")
               .arg(reason),
           MsgBoxStyle::Exclamation, "Secure Link");
}

void frmZephrin::mnuChangeKey_Click()
{
    trapped("mnuChangeKey_Click", [&] {
        const auto key = ui.dialogs().inputBox(
            "Enter a new encryption key. The same key must be entered in Zephrin Server.", {}, {});
        if (!key || key->isEmpty())
            return;
        Password = *key;
        store(Setting::Password, EncryptText(Password, AppName));
        if (wskClient.state() == Socket::Connected)
            networkLink.prepareKeys();
        if (secureLink == "1")
            networkLink.preparePreSharedKey();
    });
}

void frmZephrin::wskClient_DataArrival(int /*bytesTotal*/)
{
    trapped("wskClient_dataArrival", [&] { networkLink.takeReports(true); });
}

void frmZephrin::applyArrival(const std::vector<NetworkLink::Report>& reports)
{
    // A decryption that failed leaves the window as it was.
    for (const NetworkLink::Report& report : reports)
        if (report.failure)
            throw *report.failure;
    QString received;
    for (const NetworkLink::Report& report : reports)
        received += report.text;
    ShowData(*txtTerm, received);
    lblStatus->setCaption("Received data");
    if (received.startsWith('E'))
        msgBox("MK2R protocol error.", MsgBoxStyle::Information, "MK2R Protocol Error");
    else if (received.contains('?'))
        msgBox("OTRSP protocol error.", MsgBoxStyle::Information, "OTRSP Protocol Error");
    // Each report by itself: the network may bring several in one arrival.
    for (const NetworkLink::Report& report : reports) {
        bool unused = false;
        applyReport(stripCRLF(applyBackspaces(report.text, unused)));
    }
}

void frmZephrin::applyReport(const QString& token)
{
    const auto change = readToken(QByteArrayView(token.toLatin1()));
    if (!change)
        return;
    if (change->focus)
        applyLamps(lampEffect(*change->focus));
    else
        applyAuxReport(change->radio, change->output);
}

// As the aux entries leave the window after a send, without the interlock: the server says what
// the box already did.
void frmZephrin::applyAuxReport(int radio, int output)
{
    if (output == 0)
        showAuxText(radio, QString("Aux R%1 Off").arg(radio));
    else
        showAuxText(radio, auxOnEntry(radio, output)->caption());
    markAux(radio, output);
}
