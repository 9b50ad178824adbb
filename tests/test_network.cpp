// SPDX-License-Identifier: GPL-3.0-or-later
// The network link on fakes: the socket's events and Disconnect, the key, the encrypted send path
// and the server's reports.

#include "cipher/encrypted_text.h"
#include "cipher/tls_key.h"
#include "form_fixture.h"

#include <tuple>

namespace {

class NetworkTest : public FormTest {
protected:
    // TCP port 9876 chosen and connected, the given protocol chosen, nothing recorded yet.
    void connected(const QString& protocol)
    {
        menu("mnuTCPPort1").click();
        socket.currentState = Socket::Connected;
        form.protocol = protocol;
        boxes().clear();
    }
    // The status and the network lamp's colour, whether it is lit, and what a reader hears.
    std::tuple<QString, std::uint32_t, bool, QString> net()
    {
        const FakeControl& lamp = ui.shape("shpNetStat");
        return {ui.label("lblStatus").content, lamp.colour, lamp.lit(), lamp.spoken};
    }
    // The texts of the messages sent, decrypted under the form's key.
    QStringList sentTexts()
    {
        QStringList texts;
        for (const QString& message : std::as_const(socket.sent))
            texts << DecryptText(message, form.Password);
        return texts;
    }
    // The server's reports arrive together, each its own message.
    void arrive(const QStringList& reports, const QString& key = {})
    {
        for (const QString& report : reports)
            socket.waiting += EncryptText(report, key.isEmpty() ? form.Password : key);
        deliver();
    }
    // The socket's data event, and every worker's job finished.
    void deliver()
    {
        socket.events.dataArrival(int(socket.waiting.size()));
        workers.finishAll();
    }
};

TEST_F(NetworkTest, TheConnectionsEventsAndDisconnectShowInTheLampAndTheStatus)
{
    menu("mnuPortsCom1").click();
    button("cmdDisconnect").click();
    expectOneBox("Disonnect button only works when TCP port is selected.");

    menu("mnuTCPPort1").click();
    EXPECT_EQ(net(), std::tuple("", Colour::Green, false, "not connected"));
    ui.dialog.answers = {QString("shack.local")};
    button("cmdConnect").click();
    EXPECT_EQ(net(), std::tuple("", Colour::Yellow, false, "connecting")) << "a lamp not yet lit";
    boxes().clear(); // the question for the host
    form.protocol = "1";
    socket.currentState = Socket::Connected;
    socket.events.connected();
    EXPECT_EQ(net(), std::tuple("Sent data", Colour::Green, true, "connected"));
    EXPECT_EQ(sentTexts(), (QStringList{"?TX\r", "?RX\r", "AUX100\r", "AUX200\r"}));
    EXPECT_TRUE(menu("mnuOTRSP").isChecked);
    socket.events.closedByPeer();
    socket.events.error(10061, "refused"); // not failed: nothing to show
    EXPECT_EQ(net(), std::tuple("Connection closed", Colour::Yellow, true, "closed by the server"));
    socket.currentState = Socket::Failed;
    socket.events.error(10061, "refused");
    EXPECT_EQ(net(), std::tuple("Network error", Colour::Red, true, "connection failed"));
    EXPECT_TRUE(boxes().empty());
    form.protocol = "";
    socket.events.connected();
    EXPECT_EQ(net(), std::tuple("Network error", Colour::Green, true, "connected"));
    expectOneBox("VB6 runtime error (wsk_connect): 13 - Type mismatch");

    setLamps("LLLLL");
    button("cmdDisconnect").click();
    EXPECT_EQ(socket.currentState, Socket::Closed);
    EXPECT_EQ(net(), std::tuple("Network disconnected", Colour::Green, false, "not connected"));
    EXPECT_EQ(lamps(), "ddddd");
}

TEST_F(NetworkTest, CommandsAndKeysLeaveEncryptedOneMessageEachUnderTheCurrentKey)
{
    connected("1");
    button("RxFocusS").click();
    EXPECT_EQ(ui.label("lblStatus").content, "Sent data");
    EXPECT_EQ(lamps(), "ddddL");
    ui.label("lblStatus").content = "";
    term().keyHandler('R');
    term().keyHandler(13);
    EXPECT_EQ(sentTexts(), (QStringList{"RX1S\r", "R", "\r"}));
    EXPECT_EQ(ui.label("lblStatus").content, "") << "keys leave the status alone";

    // A new key is used at once and stored encrypted under the program's name.
    ui.dialog.answers = {QString(""), std::nullopt, QString("new key")};
    menu("mnuChangeKey").click();
    menu("mnuChangeKey").click();
    EXPECT_EQ(form.Password, "Zephrin");
    menu("mnuChangeKey").click();
    EXPECT_EQ(DecryptText(store.setting("Password"), "Zephrin"), "new key");
    button("RxFocusS").click();
    EXPECT_EQ(DecryptText(socket.sent.last(), "new key"), "RX1S\r");
    boxes().clear();

    // Not connected: the command fails in its handler and nothing moves.
    socket.currentState = Socket::Closed;
    button("TxFocus2").click();
    expectOneBox("VB6 runtime error (TxFocus2_click): 40006 - Wrong protocol or connection state");
    EXPECT_EQ(lamps(), "ddddL");
    menu("mnuAux101On").isChecked = true;
    menu("mnuMK2R").click(); // nothing sent, the aux menus reset all the same
    EXPECT_TRUE(boxes().empty());
    EXPECT_EQ(checkedIn(radioEntries(1)), QStringList{"mnuAuxR1Off"});
}

TEST_F(NetworkTest, AReportTokenOfEitherSetSetsTheWindowAsItsCommandWould)
{
    connected("2");
    arrive({"FRS\r"});
    EXPECT_EQ(lamps(), "ddddL");
    // Aux reports move the mark and show the entry's name, whatever the interlock says.
    menu("mnuAux107On").content = "Beverage NE";
    form.interlock = "1";
    menu("mnuAux207On").isChecked = true;
    arrive({"AS107\r", "AUX215", "RX2S", "AUX116"});
    EXPECT_EQ(checkedIn(radioEntries(1) + radioEntries(2)),
              (QStringList{"mnuAux107On", "mnuAux215On"}));
    EXPECT_EQ(ui.textBox("txtAux1").content, "Beverage NE");
    EXPECT_EQ(lamps(), "ddddL") << "no other token is a focus";
    EXPECT_EQ(ui.label("lblStatus").content, "Received data");
    EXPECT_TRUE(boxes().empty());
}

TEST_F(NetworkTest, ReportsTogetherOrSplitAreEachAppliedInOrderAndErrorsRaiseOneBoxEach)
{
    connected("1");
    arrive({"RX1\r", "TX1\r"});
    EXPECT_EQ(lamps(), "LdLdd") << "each report of an arrival by itself";
    EXPECT_EQ(term().content, "RX1\r\nTX1\r\n");

    // Error replies raise their boxes; messages under another key raise nothing.
    arrive({"E", "X", "FW?\r"}); // one box an arrival
    arrive({"FW?\r"});
    EXPECT_EQ(ui.dialog.prompts(), (QStringList{"MK2R protocol error.", "OTRSP protocol error."}));
    boxes().clear();
    setLamps("ddddd");
    arrive({"TX1\r", QString(70000, 'x')}, "another key");
    EXPECT_EQ(lamps(), "ddddd");

    // Applied in the order they came, however their decryptions end.
    term().content.clear();
    for (const char* report : {"RX1\r", "TX2\r", "RX2\r"}) {
        socket.waiting = EncryptText(report, form.Password);
        socket.events.dataArrival(0);
    }
    ASSERT_EQ(workers.queued.size(), 3u);
    workers.finish(2);
    workers.finish(1);
    EXPECT_EQ(term().content, "");
    workers.finish(0);
    EXPECT_EQ(term().content, "RX1\r\nTX2\r\nRX2\r\n");

    // Past 64 reports in flight the socket is left unread, and read again as they are applied.
    const QString report = EncryptText("TX1\r", form.Password);
    socket.waiting = report.repeated(70);
    socket.events.dataArrival(0);
    EXPECT_EQ(workers.queued.size(), 64u);
    socket.waiting = report;
    socket.events.dataArrival(0);
    EXPECT_EQ(socket.waiting, report);
    for (int i = 0; i < 8; ++i) // the first arrival: its room goes to the six messages held
        workers.finish(0);
    EXPECT_EQ(socket.waiting, report);
    workers.finishAll();
    EXPECT_EQ(term().content.count("TX1"), 71);
    EXPECT_EQ(lamps(), "LddLd");
}

// Ticked, Connect goes inside TLS with the key's derived key, commands and reports are plain
// lines, and a failed handshake is said once, in a box, the lamp and the status.
TEST_F(NetworkTest, WithSecureLinkTickedTheLinkIsTlsWithPlainLines)
{
    menu("mnuTCPPort1").click();
    menu("mnuSecureLink").click();
    EXPECT_EQ(store.setting("securelink"), "1");
    ui.dialog.answers = {QString("shack"), QString("new key"), QString("shack")};
    button("cmdConnect").click();
    EXPECT_FALSE(socket.preSharedKey) << "not before its key is derived";
    workers.finishAll();
    EXPECT_EQ(socket.preSharedKey, TlsPreSharedKey("Zephrin"));
    menu("mnuChangeKey").click();
    button("cmdConnect").click();
    workers.finishAll();
    EXPECT_EQ(socket.preSharedKey, TlsPreSharedKey("new key"));

    form.protocol = "1";
    socket.currentState = Socket::Connected;
    socket.events.connected();
    EXPECT_EQ(socket.sent, (QStringList{"?TX\r", "?RX\r", "AUX100\r", "AUX200\r"}));
    socket.waiting = "TX2\rRX";
    deliver();
    socket.waiting = "2\r";
    deliver();
    EXPECT_EQ(lamps(), "dLdLd");
    EXPECT_EQ(term().content, "TX2\r\nRX2\r\n");

    boxes().clear();
    socket.events.secureLinkFailed("decrypt error");
    EXPECT_EQ(net(), std::tuple("Secure link failed", Colour::Red, true, "secure link failed"));
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_TRUE(boxes()[0].prompt.contains("failed: decrypt error."));
    menu("mnuSecureLink").click();
    EXPECT_EQ(store.setting("securelink"), "0");
}

} // namespace
