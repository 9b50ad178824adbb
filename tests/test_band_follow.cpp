// SPDX-License-Identifier: GPL-3.0-or-later
// Band-follow: the band table as it is read, and zephrin-server following two radios on Hamlib's
// real rigctld (its dummy radio, model 1), set as a radio program sets it (rigctl, model 2).

#include "server/band_table.h"
#include "server_process.h"

#include <QFile>

namespace {

// A dummy radio behind rigctld on a loopback port, stopped at the end; it starts on 145 MHz.
struct Rigctld {
    quint16 port = freePort();
    QProcess process;
    Rigctld() { start(); }
    ~Rigctld() { stop(); }
    void start()
    {
        process.start("rigctld", {"-m", "1", "-T", "127.0.0.1", "-t", QString::number(port)});
        EXPECT_TRUE(process.waitForStarted(3000));
        EXPECT_TRUE(pumpUntil([&] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            return probe.waitForConnected(100);
        }));
    }
    void stop()
    {
        process.terminate();
        process.waitForFinished(3000);
    }
    void tune(qint64 hz)
    {
        EXPECT_EQ(QProcess::execute("rigctl", {"-m", "2", "-r", QString("127.0.0.1:%1").arg(port),
                                               "F", QString::number(hz)}),
                  0);
    }
};

} // namespace

TEST(BandFollow, EachRadiosBandMovesItsOwnOutputAndAHandSettingStandsUntilTheNext)
{
    Rigctld radio1, radio2;
    Server server({"--simulate", "otrsp", "--rig1", QString::number(radio1.port), "--rig2",
                   QString("127.0.0.1:%1").arg(radio2.port), "--rig-poll", "50"});
    Client window(server.port());
    window.sendText("?TX\r");
    EXPECT_EQ(window.receive(1), QStringList{"TX1\r"});
    radio1.tune(7'025'000);
    EXPECT_EQ(window.receive(1), QStringList{"AUX103\r"});
    radio2.tune(14'025'000);
    EXPECT_EQ(window.receive(1), QStringList{"AUX205\r"});
    window.sendText("AUX111\r");
    EXPECT_EQ(window.receive(1), QStringList{"AUX111\r"});
    radio1.tune(7'030'000);
    EXPECT_TRUE(window.receive(1, 400).isEmpty()) << "a hand setting stands on the same band";

    // Gone and back, it changes nothing meanwhile, nor when it is back on 145 MHz.
    radio1.stop();
    EXPECT_TRUE(server.waitForLog(
        QString("radio 1: rigctld at 127.0.0.1 port %1 cannot be reached").arg(radio1.port)));
    radio1.start();
    EXPECT_TRUE(server.waitForLog("radio 1: rigctld at 127.0.0.1 port", 4000));
    EXPECT_TRUE(server.waitForLog("is back", 4000));
    radio1.tune(28'500'000);
    EXPECT_EQ(window.receive(1), QStringList{"AUX109\r"}) << "nothing came before it";
    EXPECT_EQ(server.log().count("cannot be reached"), 1) << "said once";
}

TEST(BandFollow, TheBandTableIsReadWholeOrRefusedWithItsLine)
{
    QString failure;
    const auto table = BandTable::parse("# name lower upper r1 r2\n"
                                        "40m 7000000 7300000 3 12  # a comment\n"
                                        "\n  outside off\n",
                                        "t", &failure);
    ASSERT_TRUE(table) << failure.toStdString();
    EXPECT_EQ(table->bandOf(7'300'000)->aux[1], 12);
    EXPECT_EQ(table->bandOf(7'000'000)->name, "40m");
    EXPECT_FALSE(table->bandOf(7'300'001) || table->bandOf(6'999'999));
    EXPECT_TRUE(table->switchesOffOutside());
    EXPECT_EQ(BandTable::standard().bandOf(5'300'000)->aux[0], 0) << "60 m";
    EXPECT_EQ(BandTable::standard().bandOf(50'100'000)->aux[1], 10) << "6 m";
    EXPECT_FALSE(BandTable::standard().switchesOffOutside());
    const auto shipped = BandTable::read(ZEPHRIN_BANDS, &failure);
    ASSERT_TRUE(shipped) << failure.toStdString();
    const BandTable standard = BandTable::standard();
    for (const BandTable::Band& band : standard.bands())
        EXPECT_EQ(shipped->bandOf(band.lower)->aux[1], band.aux[1]) << "the file the unit hands over";

    const std::pair<const char*, const char*> wrong[] = {
        {"40m 7000000 7300000 3", "t:1: a band has a name"},
        {"\n40m 7300000 7000000 3 3", "t:2: the edges 7300000 and 7000000"},
        {"40m 7000000 7.3e6 3 3", "t:1: the edges"},
        {"40m 7000000 7300000 3 16", "t:1: the aux values 3 and 16 are not both 0 to 15"},
        {"40m 7000000 7300000 -1 3", "t:1: the aux values"},
        {"a 7000000 7300000 3 3\nb 7300000 7400000 1 1", "t:2: b overlaps a"},
        {"outside on", "t:1: \"outside\" takes keep or off"},
    };
    for (const auto& [text, what] : wrong) {
        EXPECT_FALSE(BandTable::parse(text, "t", &failure)) << text;
        EXPECT_TRUE(failure.startsWith(what)) << failure.toStdString();
    }

    // At start, with its file and line; the command line was wrong.
    QTemporaryDir dir;
    QFile bands(dir.filePath("bands.conf"));
    ASSERT_TRUE(bands.open(QIODevice::WriteOnly) && bands.write("20m 14000000 14350000 5 5\n40m\n"));
    bands.close();
    QProcess refused;
    refused.start(ZEPHRIN_SERVER, {"--simulate", "otrsp", "--bands", bands.fileName()});
    ASSERT_TRUE(refused.waitForFinished(5000));
    EXPECT_EQ(refused.exitCode(), 2);
    EXPECT_TRUE(refused.readAllStandardError().contains(QFile::encodeName(bands.fileName()) + ":2:"));
}
