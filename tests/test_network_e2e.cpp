// The real window, socket and gate on Qt's offscreen platform against zephrin-server with a
// simulated box, and against a bare loopback peer, on ports the test picks.

#include "app/frmZephrin.h"
#include "cipher/encrypted_text.h"
#include "fakes.h"
#include "openssl_peer.h"
#include "platform/qt/event_gate.h"
#include "platform/qt/qt_socket.h"
#include "platform/qt/qt_toolkit.h"
#include "server_process.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

namespace {

class WindowOnTheNetwork : public ::testing::Test {
protected:
    EventGate gate;
    FakePlatform fakes;
    QtToolkit toolkit{gate, &fakes.ui.dialog};
    QtSocket socket{gate};
    frmZephrin form{{toolkit, fakes.serial, socket, fakes.store, fakes.launcher}};

    void SetUp() override
    {
        form.Form_Load();
        form.mnuTCPPort1_Click();
        form.protocol = "1";
    }
    // Connect, as the operator would, to a server on the given loopback port.
    void connectTo(quint16 port)
    {
        fakes.store.values["Zephrin/settings/port"] = QString::number(port);
        fakes.ui.dialog.answers = {QString("127.0.0.1")};
        form.cmdConnect_Click();
    }
    bool lit(const char* lamp) { return toolkit.shape(lamp).fillStyle() == FillStyle::Solid; }
    QString status() { return toolkit.label("lblStatus").caption(); }
};

// What the unit tests cannot see: the four opening commands arrive as four messages, and the
// reports of the server, plain, split or batched, are taken apart by the real socket.
TEST_F(WindowOnTheNetwork, OpeningCommandsGoAsFourMessagesAndReportsSplitOrBatchedLightLamps)
{
    for (const QStringList& options : {QStringList{}, QStringList{"--split"}, {"--batch", "4"}}) {
        SCOPED_TRACE(options.join(" ").toStdString());
        Server server(QStringList{"--simulate", "otrsp"} + options, ResetKey);
        for (const char* lamp : {"shpFocus1", "shpRx1"})
            toolkit.shape(lamp).setFillStyle(FillStyle::Transparent);
        connectTo(server.port());
        ASSERT_TRUE(pumpUntil([&] { return lit("shpFocus1") && lit("shpRx1"); }, 5000))
            << server.log().toStdString();
        EXPECT_TRUE(pumpUntil([&] { return server.log().count("text received") == 4; }));
        form.cmdDisconnect_Click();
    }
    EXPECT_EQ(fakes.ui.dialog.prompts(),
              QStringList(3, "Enter the IP address or host name to connect to:"));
}

TEST_F(WindowOnTheNetwork, AServerThatClosesOrRefusesIsShownAndNeverStopsTheWindow)
{
    {
        Server server({"--simulate", "otrsp", "--close-after", "4"}, ResetKey);
        connectTo(server.port());
        ASSERT_TRUE(pumpUntil([&] { return status() == "Connection closed"; }, 5000));
        form.mnuTCPPort2_Click(); // closed by the peer is not yet closed here
        EXPECT_EQ(fakes.ui.dialog.prompts().last(),
                  "Must be disconnected from server to change port.");
        form.cmdDisconnect_Click();
        form.mnuTCPPort2_Click();
        EXPECT_EQ(form.port, "9875");
    }
    connectTo(freePort()); // nothing listens there
    ASSERT_TRUE(pumpUntil([&] { return status() == "Network error"; }, 5000));
}

TEST_F(WindowOnTheNetwork, AFocusClickIsOneMessageThatTheOpensslCommandReads)
{
    QTcpServer peer;
    ASSERT_TRUE(peer.listen(QHostAddress::LocalHost, 0));
    connectTo(peer.serverPort());
    ASSERT_TRUE(pumpUntil([&] { return peer.hasPendingConnections(); }));
    QTcpSocket* server = peer.nextPendingConnection();
    ASSERT_TRUE(pumpUntil([&] { return status() == "Sent data"; }));
    pumpUntil([] { return false; }, 50);
    server->readAll(); // the opening commands

    form.RxFocus1_Click();
    QByteArray message;
    ASSERT_TRUE(pumpUntil([&] { return (message += server->readAll()).size() >= 28; }));
    EXPECT_EQ(runOpenssl(messageFormat("Zephrin", true), message), "RX1\r");
    EXPECT_EQ(status(), "Sent data");
}

} // namespace
