// SPDX-License-Identifier: GPL-3.0-or-later
// zephrin-server as a process on loopback, driven by clients of the test: the openssl command,
// raw sockets writing split and batched messages, and a pty playing the box. Its command line
// on its own.

#include "openssl_peer.h"
#include "server/options.h"
#include "server_process.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TEST(ServerWithSimulatedBox, OpensslIsAClientAndEveryClientThatHasSpokenGetsEachReport)
{
    Server server({"--simulate", "otrsp", "--max-per-address", "3"});
    Client client(server.port()), other(server.port()), silent(server.port());
    EXPECT_TRUE(Client(server.port()).isDisconnected()) << "a fourth from that address";

    // openssl ends its output with a line feed, which the server skips.
    client.send(runOpenssl(messageFormat(Key, false), "RX1\r"));
    const QList<QByteArray> report = client.receiveRaw(1);
    ASSERT_EQ(report.size(), 1);
    EXPECT_EQ(runOpenssl(messageFormat(Key, true), report[0] + "\n"), "RX1\r");

    other.sendText("TX2\r");
    other.sendText("?TX\r");
    EXPECT_EQ(other.receive(2), (QStringList{"TX2\r", "TX2\r"})) << "report, then the answer";
    EXPECT_EQ(client.receive(2, 500), QStringList{"TX2\r"}) << "the answer is the asker's";
    EXPECT_TRUE(silent.receive(1, 200).isEmpty());
}

TEST(ServerWithSimulatedBox, StrangersIdlersAndEndlessTextAreLetGoAndMakeRoomForOperators)
{
    constexpr int Bound = 64 * 1024;
    Server server({"--simulate", "mk2r", "--allow", "127.0.0.1", "--max-clients", "2",
                   "--login-timeout", "2"});
    EXPECT_TRUE(Client(server.port(), "127.0.0.2").isDisconnected());
    EXPECT_TRUE(server.waitForLog("refused: its address is not in --allow"));

    Client operating(server.port()), idle(server.port());
    operating.send(QByteArray(Bound, 'x'));
    operating.sendText("FT1\r"); // its prefix lets the server drop what came before
    EXPECT_EQ(operating.receive(1), QStringList{"FT1\r"});
    // Full: the connection that has sent no command goes, never the one that has.
    Client endless(server.port());
    EXPECT_TRUE(idle.isDisconnected());
    EXPECT_TRUE(server.waitForLog("client 2 (127.0.0.1) has sent no command: disconnected"));
    endless.send(EncryptedTextPrefix + QByteArray(Bound, 'A'));
    EXPECT_TRUE(endless.isDisconnected());
    EXPECT_TRUE(server.waitForLog("bytes of unfinished text")) << server.log().toStdString();

    EXPECT_TRUE(Client(server.port()).isDisconnected());
    EXPECT_TRUE(server.waitForLog("sent no command in 2 s: disconnected (--login-timeout)"));
    auto later = std::make_unique<Client>(server.port());
    later->sendText("V\r");
    EXPECT_EQ(later->receive(1), QStringList{"MK2R simulator version 1.2\r"});
    // Full of operators: the next waits in the backlog until a place is free.
    Client waiting(server.port());
    waiting.sendText("FT2\r");
    EXPECT_TRUE(waiting.receive(1, 300).isEmpty());
    later.reset();
    EXPECT_EQ(waiting.receive(1), QStringList{"FT2\r"});
}

// The server on a link to a pty, so that another pty can replace the box. The test plays an
// OTRSP box with events: switched on, it reports its state at once.
class ServerOnPty : public testing::Test {
protected:
    QTemporaryDir dir;
    QString boxPath = dir.filePath("box");
    std::unique_ptr<PtyPair> pty = std::make_unique<PtyPair>();
    bool linked = QFile::link(pty->slavePath(), boxPath);
    Server server{{"--device", boxPath}};
    Client client{server.port()};

    // At every open the server switches the box's events on and asks its name; events that come
    // while that query is open are events. This box ends its name with CR LF.
    void boxOpens(const QByteArray& restored = {}, const QByteArray& events = "$TX1\r$RX1\r")
    {
        EXPECT_EQ(pty->read(int(restored.size()) + 16), restored + "ETX1\rERX1\r?NAME\r");
        pty->write(events + "NAMEptybox\r\n");
        EXPECT_TRUE(server.waitForLog("the box's name is \"ptybox\""));
    }
};

TEST_F(ServerOnPty, OnlyEachClientsWholeCommandLinesReachTheBox)
{
    boxOpens();
    // Keys typed by two operators at once: each client's line is its own.
    Client other(server.port());
    for (const char* key : {"T", "X", "3", "\b", "2"})
        client.sendText(key);
    other.sendText("RX2\r");
    EXPECT_EQ(pty->read(4), "RX2\r");
    client.sendText("\r");
    EXPECT_EQ(pty->read(4), "TX2\r");

    // What is no command of the box, or no whole line, never reaches it; a line of the other set
    // reaches it in the box's own.
    other.sendText("HE\"LO\r");
    other.sendText("AUX1");
    EXPECT_TRUE(server.waitForLog(R"("HE\"LO" is no command of the box)")) << "quotes escaped";
    QByteArray keyless = "Salted__12345678";
    keyless += char(0x41);
    other.send(keyless.toBase64() + QByteArray("Salted_P87654321RX1\r").toBase64() +
               QByteArray("Salted__abcdefgh").toBase64());
    EXPECT_TRUE(server.waitForLog("a message without text dropped"));
    EXPECT_TRUE(server.log().contains("a message with a damaged header dropped"));
    other.socket.disconnectFromHost();
    EXPECT_TRUE(server.waitForLog("client 2 disconnected"));
    client.sendText("V\rAS105\r");
    EXPECT_EQ(pty->read(7), "AUX105\r") << "nothing came before it, MK2R's query neither";
}

TEST_F(ServerOnPty, TheBoxIsHeardAsItIsAndPutBackWhereItWasWhenItReturns)
{
    boxOpens();
    // An answer in two bursts, after the box's CR LF: the line feed was the name's.
    client.sendText("?RX\r");
    EXPECT_EQ(pty->read(4), "?RX\r");
    pty->write("RX1");
    pumpUntil([] { return false; }, 20);
    pty->write("\r");
    EXPECT_EQ(client.receive(1), QStringList{"RX1\r"});

    // An event while a query is open is the box's news for every window, not the answer; an
    // answer later than its query's wait is nobody's.
    client.sendText("?TX\r");
    EXPECT_EQ(pty->read(4), "?TX\r");
    pty->write("$RX2S\r");
    EXPECT_EQ(client.receive(1), QStringList{"RX1S\r"});
    ASSERT_TRUE(server.waitForLog("box gave no answer to \"?TX\""));
    pty->write("TX1\r");
    EXPECT_TRUE(server.waitForLog("box said \"TX1\" unasked"));
    // A line that does not answer the open query is nobody's; an answer without its CR ends where
    // an event begins; an asker that has gone gets nothing.
    client.sendText("?AUX2\r");
    EXPECT_EQ(pty->read(6), "?AUX2\r");
    pty->write("RX2\rAUX212$TX2\r");
    EXPECT_EQ(client.receive(3), (QStringList{"AUX212\r", "AUX212\r", "TX2\r"}))
        << "the report of the state it learned, its answer, the event";
    {
        Client leaving(server.port());
        leaving.sendText("?NAME\r");
        EXPECT_EQ(pty->read(6), "?NAME\r");
    }
    ASSERT_TRUE(server.waitForLog("client 2 disconnected"));
    pty->write("NAMEptybox\r");
    EXPECT_TRUE(server.waitForLog("dropped: its asker has gone")) << server.log().toStdString();
    // What the box holds is what is reported: it keeps an aux value's low 4 bits.
    client.sendText("AUX2255\rAUX116\rFT2\r");
    EXPECT_EQ(pty->read(19), "AUX2255\rAUX116\rTX2\r");
    EXPECT_EQ(client.receive(3), (QStringList{"AUX215\r", "AUX100\r", "TX2\r"}));

    pty->closeMaster();
    ASSERT_TRUE(server.waitForLog("box is gone"));
    client.sendText("TX1\r");
    EXPECT_TRUE(server.waitForLog("\"TX1\\r\" not sent"));
    EXPECT_TRUE(client.receive(1, 200).isEmpty()) << "no report for what the box never got";

    // Back from a power cycle, it is put back where it was before anything else, and every
    // window hears so.
    pty = std::make_unique<PtyPair>();
    QFile::remove(boxPath);
    QFile::link(pty->slavePath(), boxPath);
    boxOpens("TX2\rRX2S\rAUX100\rAUX215\r", "$TX2\r$RX2S\r");
    EXPECT_EQ(client.receive(4), (QStringList{"TX2\r", "RX1S\r", "AUX100\r", "AUX215\r"}));

    // A message sent again is refused before its key is derived. Captured from a client that wrote
    // it and hung up at once: still carried out.
    const QByteArray captured = runOpenssl(messageFormat(Key, false), "RX2\r");
    Client sender(server.port());
    sender.send(captured);
    sender.socket.disconnectFromHost();
    EXPECT_EQ(pty->read(4), "RX2\r");
    client.send(captured + captured);
    EXPECT_TRUE(server.waitForLog("client 1 (127.0.0.1): a message sent before was sent again"));
    EXPECT_EQ(pty->read(1, 200), "");
}

// Faster than the box's line: whole lines at its pace, and each source's last state wins.
TEST_F(ServerOnPty, LinesGoWholeAtTheLinesPaceAndNoSourceHoldsUpAnother)
{
    boxOpens();
    Client asking(server.port());
    asking.sendText(QString("?NAME\r").repeated(5));
    EXPECT_EQ(pty->read(6), "?NAME\r");
    QString burst;
    for (int i = 0; i < 400; ++i)
        burst += QString("AUX1%1\rTX%2\r").arg(i % 16).arg(i % 2 + 1);
    QElapsedTimer clock;
    clock.start();
    for (qsizetype at = 0; at < burst.size(); at += 60)
        client.sendText(burst.mid(at, 60));
    const QByteArray first = pty->read(64, 250);
    EXPECT_TRUE(first.startsWith("AUX1")) << "a window's command waits for one query at most";
    EXPECT_LE(first.size(), 14 + clock.elapsed()) << "about one character a millisecond";
    QByteArray wire = first;
    pumpUntil([&] { return (wire += pty->read(1000, 50)).endsWith("AUX115\rTX2\r"); }, 8000);
    EXPECT_TRUE(QString(wire).contains(QRegularExpression(R"(^((AUX1\d+|TX\d|\?NAME)\r)+$)")));
    EXPECT_LT(wire.size(), 1000) << "what was overtaken by a newer state did not go";
    const QStringList reports = client.receive(200, 500);
    EXPECT_EQ(reports.mid(reports.size() - 2), (QStringList{"AUX115\r", "TX2\r"}));
    EXPECT_FALSE(server.log().contains("box is gone"));
}

TEST(ServerWithSimulatedBox, AKeylessFlooderIsLetGoAndAKeyedOneIsThrottledStarvingNoOne)
{
    QTemporaryDir dir;
    const QString logPath = dir.filePath("server.log");
    Server server({"--simulate", "otrsp", "--max-rate", "20", "--log", logPath});
    Client keyless(server.port(), "127.0.0.5"), keyed(server.port()), honest(server.port());

    // Well-formed messages without the key: three chances, then it goes unread.
    QByteArray flood;
    for (int i = 0; i < 300; ++i)
        flood += ("Salted__" + QByteArray::number(i).leftJustified(25, 'x')).toBase64();
    keyless.send(flood);
    EXPECT_TRUE(keyless.isDisconnected());
    EXPECT_LE(server.log().count("key probably differs"), 3 + 2);
    // With the key, a flood is taken in turn with the others, at its rate.
    keyed.sendText("?TX\r");
    for (int i = 0; i < 60; ++i)
        keyed.sendText("?NAME\r");
    honest.sendText("TX1\r");
    EXPECT_EQ(honest.receive(1), QStringList{"TX1\r"});
    EXPECT_TRUE(server.waitForLog("client 2 (127.0.0.1) sends more than 20 messages a second"));
    QFile log(logPath);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(
        QString(log.readAll())
            .contains(QRegularExpression(
                R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} client 2 \(127\.0\.0\.1\) sends more than)")));
}

// What a stranger reads on the wire it cannot use: a report sent back, as it is or with its text
// flipped in place (counter mode lets it), is a replay; and only a whole command of the box's set
// makes a connection an operator's, which hears the reports and whose salts are remembered.
TEST(ServerWithSimulatedBox, AStrangerWhoReadsTheWireCanNeitherReplayNorListen)
{
    QTemporaryDir state;
    Server server({"--simulate", "otrsp", "--state-dir", state.path()});
    Client operating(server.port()), typing(server.port()), stranger(server.port(), "127.0.0.6");
    typing.sendText("T");
    operating.sendText("AUX104\r");
    const QList<QByteArray> report = operating.receiveRaw(1);
    ASSERT_EQ(report.size(), 1);
    QByteArray flipped = QByteArray::fromBase64(report[0]);
    for (const int at : {4, 5})
        flipped[16 + at] = char(flipped[16 + at] ^ ("04"[at - 4] ^ "15"[at - 4]));
    stranger.send(report[0]);
    stranger.send(flipped.toBase64());
    EXPECT_TRUE(pumpUntil([&] { return server.log().count("was sent again") == 2; }));
    EXPECT_TRUE(typing.receive(1, 300).isEmpty()) << "it has sent no whole command";
    EXPECT_EQ(QFileInfo(state.filePath("accepted-salts")).size(), 2 * 8) << "the command, the report";
}

// Junk has three chances; then its address waits, longer each time, unless an operator has
// proven the key from it.
TEST(ServerWithSimulatedBox, AStrangersJunkIsLetGoAndItsAddressHeldOffLongerEachTime)
{
    Server server({"--simulate", "otrsp"});
    // A message under another key decrypts to random bytes, now and then all printable: more
    // than three are sent, the third that is junk ends it.
    const auto junk = [&](const QString& from) {
        Client stranger(server.port(), from);
        for (int i = 0; i < 6; ++i)
            stranger.sendText("TX1\r", "not the key");
        return stranger.isDisconnected();
    };
    EXPECT_TRUE(junk("127.0.0.7"));
    EXPECT_TRUE(server.waitForLog("connections from 127.0.0.7 refused for 1 s"));
    EXPECT_TRUE(Client(server.port(), "127.0.0.7").isDisconnected());
    pumpUntil([] { return false; }, 1100);
    EXPECT_TRUE(junk("127.0.0.7"));
    EXPECT_TRUE(server.waitForLog("connections from 127.0.0.7 refused for 2 s"));
    EXPECT_TRUE(server.log().contains("sent 3 messages that no operator sends"));

    Client operating(server.port());
    operating.sendText("TX2\r");
    EXPECT_EQ(operating.receive(1), QStringList{"TX2\r"});
    EXPECT_TRUE(junk("127.0.0.1"));
    Client next(server.port());
    next.sendText("TX1\r");
    EXPECT_EQ(next.receive(1), QStringList{"TX1\r"}) << "never held off: an operator's address";
}

// Idle connections opened without end push each other out, never a new operator's whose first
// command is on its way; and one that hangs up in a flood is forgotten at once.
TEST(ServerWithSimulatedBox, ChurnAndFloodsLeaveNoTraceOnceTheStrangerHasGone)
{
    Server server({"--simulate", "otrsp", "--max-clients", "3", "--max-rate", "5"});
    std::vector<std::unique_ptr<Client>> churn;
    for (int i = 0; i < 10; ++i)
        churn.push_back(std::make_unique<Client>(server.port(), "127.0.0.8"));
    auto operating = std::make_unique<Client>(server.port());
    operating->sendText("TX2\r");
    for (int i = 0; i < 10; ++i)
        churn.push_back(std::make_unique<Client>(server.port(), "127.0.0.8"));
    EXPECT_EQ(operating->receive(1), QStringList{"TX2\r"});
    churn.clear();
    // The operator away, strangers may take all places but the one kept for its address.
    operating.reset();
    {
        Client first(server.port(), "127.0.0.9"), second(server.port(), "127.0.0.9");
        EXPECT_TRUE(Client(server.port(), "127.0.0.9").isDisconnected());
        EXPECT_TRUE(server.waitForLog("the places left are kept for the operators' addresses"));
        Client back(server.port());
        back.sendText("TX1\r");
        EXPECT_EQ(back.receive(1), QStringList{"TX1\r"});
    }

    QByteArray flood;
    for (int i = 0; i < 100; ++i)
        flood += EncryptText("?TX\r", Key).toLatin1();
    {
        Client flooder(server.port());
        flooder.send(flood);
        pumpUntil([] { return false; }, 200);
    }
    ASSERT_TRUE(server.waitForLog("messages and", 1000));
    const auto cpuTicks = [&] {
        QFile stat(QString("/proc/%1/stat").arg(server.pid()));
        stat.open(QIODevice::ReadOnly);
        const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
        return fields.value(12).toLongLong() + fields.value(13).toLongLong(); // utime, stime
    };
    pumpUntil([] { return false; }, 1000);
    const qint64 before = cpuTicks();
    pumpUntil([] { return false; }, 1000);
    EXPECT_LE(cpuTicks() - before, 2) << "idle again";
}

// A FIFO would hold the server at start for ever; a port another program holds leaves it deaf.
TEST(ServerWithSimulatedBox, AKeyFileThatIsAFifoOrAPortInUseEndsTheServerAtStart)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost));
    const std::pair<QStringList, QByteArray> starts[] = {
        {{"--key-file", fifo}, QFile::encodeName(fifo) + " is no plain file (a FIFO, a device"},
        {{"--port", QString::number(holder.serverPort())}, "cannot listen on 127.0.0.1 port "},
    };
    for (const auto& [arguments, why] : starts) {
        QProcess refused;
        refused.start(ZEPHRIN_SERVER, QStringList{"--simulate", "otrsp", "--state-dir", dir.path()} +
                                          arguments);
        ASSERT_TRUE(refused.waitForFinished(5000));
        EXPECT_EQ(refused.exitCode(), 1);
        EXPECT_TRUE(refused.readAllStandardError().contains(why)) << why.constData();
    }
}

TEST(ServerWithSimulatedBox, AMessageAcceptedBeforeARestartIsAReplayAfterIt)
{
    QTemporaryDir state;
    const QByteArray captured = EncryptText("TX2\r", Key).toLatin1();
    {
        Server server({"--simulate", "otrsp", "--state-dir", state.path()});
        Client client(server.port());
        client.send(captured);
        EXPECT_EQ(client.receive(1), QStringList{"TX2\r"});
    }
    Server again({"--simulate", "otrsp", "--state-dir", state.path()});
    Client client(again.port());
    client.send(captured);
    EXPECT_TRUE(again.waitForLog("a message sent before was sent again"));
    EXPECT_EQ(QFile::permissions(state.filePath("accepted-salts")),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
}

TEST(ServerWithSimulatedBox, AFullLogJunkAndReportsWaitingForKeysNeverHoldTheServer)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("stdout");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int neverRead = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    const QString logFifo = dir.filePath("log");
    ASSERT_EQ(::mkfifo(QFile::encodeName(logFifo).constData(), 0600), 0);
    const int logNeverRead = ::open(QFile::encodeName(logFifo).constData(), O_RDONLY | O_NONBLOCK);
    QProcess server;
    server.setStandardOutputFile(fifo);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZEPHRIN_KEY", Key);
    server.setProcessEnvironment(environment);
    const quint16 port = freePort();
    server.start(ZEPHRIN_SERVER, {"--simulate", "otrsp", "--port", QString::number(port),
                                  "--state-dir", dir.path(), "--max-rate", "1000", "--log",
                                  logFifo});
    pumpUntil([] { return false; }, 300);
    Client commands(port), junk(port);
    // Thousands of log lines, far more than the pipe holds, and a megabyte of junk.
    for (int i = 0; i < 150; ++i)
        commands.sendText(QString("TX1\rTX2\r").repeated(8));
    junk.send(QByteArray(EncryptedTextPrefix).repeated(100000));
    pumpUntil([] { return false; }, 500);
    Client honest(port);
    honest.sendText("?TX\r");
    // Its answer, and perhaps a report of the others' commands before it: the same token.
    EXPECT_EQ(honest.receive(1, 5000).value(0), "TX2\r");
    // Reports wait for keys; a newer report of the focus takes the older's place meanwhile.
    const QStringList reports = commands.receive(2400, 1000);
    EXPECT_LT(reports.size(), 400);
    EXPECT_EQ(reports.value(reports.size() - 1), "TX2\r");
    QElapsedTimer stopping;
    stopping.start();
    server.terminate();
    EXPECT_TRUE(server.waitForFinished(3000));
    EXPECT_LT(stopping.elapsed(), 1000);
    ::close(neverRead);
    ::close(logNeverRead);
}

TEST(ServerOptions, TheCommandLineReadsIntoValuesOrSaysWhatIsWrong)
{
    const auto parse = [](const QString& arguments) {
        return parseCommandLine(QStringList{"zephrin-server"} +
                                arguments.split(' ', Qt::SkipEmptyParts));
    };
    // The values read, in one line: device, port, clients, rate, threads, quiet, key and log.
    const auto describe = [](const ServerOptions& o) {
        const auto n = [](int value) { return QString::number(value); };
        return QString("%1 %2 %3 %4 %5 %6 %7 %8")
            .arg(o.device, n(o.port), n(o.limits.maxClients), n(o.limits.maxRate),
                 n(o.limits.threads), QString(o.quiet ? "quiet" : ""), o.keyFile, o.logFile);
    };
    const ParsedCommandLine given =
        parse("--simulate MK2R --port 0 --listen :: --allow ::ffff:10.1.2.0/120 --allow "
              "192.168.1.20 --allow 0.0.0.0/0 --max-clients 3 --max-per-address 0 --max-rate 1 "
              "--threads 2 --quiet "
              "--key-file /etc/zephrin/key --log /tmp/log --logger-tcp 192.0.2.7:4532");
    ASSERT_EQ(given.outcome, ParsedCommandLine::Outcome::Run) << given.text.toStdString();
    const ServerOptions& options = given.options;
    EXPECT_EQ(options.simulate, Protocol::Mk2r);
    EXPECT_EQ(options.commandSet, Protocol::Mk2r) << "the simulated box's";
    EXPECT_EQ(options.address, QHostAddress(QHostAddress::Any)) << "IPv6 and IPv4";
    const QList<QPair<QHostAddress, int>> allowed = {{QHostAddress("10.1.2.0"), 24},
                                                     {QHostAddress("192.168.1.20"), 32},
                                                     {QHostAddress("0.0.0.0"), 0}};
    EXPECT_EQ(options.limits.allow, allowed);
    EXPECT_EQ(describe(options), " 0 3 1 2 quiet /etc/zephrin/key /tmp/log");

    const ServerOptions plain = parse("--device /dev/ttyUSB0").options;
    EXPECT_EQ(describe(plain),
              QString("/dev/ttyUSB0 9876 8 50 %1   ").arg(QThread::idealThreadCount()));
    EXPECT_EQ(plain.address, QHostAddress(QHostAddress::LocalHost));
    EXPECT_FALSE(plain.simulate);
    EXPECT_EQ(plain.commandSet, Protocol::Otrsp);
    EXPECT_EQ(parse("--device /dev/ttyS0 --protocol MK2R").options.commandSet, Protocol::Mk2r);

    const std::pair<const char*, const char*> wrong[] = {
        {"", "name the box"},
        {"--device /dev/ttyS0 --simulate otrsp", "name the box"},
        {"--simulate ft8", "--simulate takes otrsp or mk2r, not ft8"},
        {"--simulate otrsp --port 65536", "--port takes"},
        {"--device /dev/ttyS0 --protocol ft8", "--protocol takes otrsp or mk2r"},
        {"--device /dev/ttyS0 --protocol both", "--protocol both is no more"},
        {"--simulate otrsp --protocol mk2r", "--protocol mk2r is not the simulated"},
        {"--simulate otrsp --allow 10.0.0.0/33", "--allow takes"},
        {"--simulate otrsp --allow /0", "--allow takes"},
        {"--simulate otrsp --threads 1000", "--threads takes a number of threads, 1 to"},
        {"--simulate otrsp --listen ::ffff:127.0.0.1", "--listen takes an IPv4 address as such"},
        {"--simulate otrsp --max-clients 0", "--max-clients takes"},
        {"--simulate otrsp --max-per-address x", "--max-per-address takes"},
        {"--simulate otrsp --split", "Unknown option 'split'"},
        {"--simulate otrsp shack", "unexpected argument shack; the key goes in"},
        {"--simulate otrsp --logger-tcp 192.0.2.7:4532", "--logger-tcp"},
    };
    for (const auto& [arguments, text] : wrong) {
        const ParsedCommandLine parsed = parse(arguments);
        EXPECT_EQ(parsed.outcome, ParsedCommandLine::Outcome::UsageError) << text;
        EXPECT_TRUE(parsed.text.startsWith(text)) << parsed.text.toStdString();
    }
    // Under --listen ::, IPv4 clients are matched by an IPv6 network that maps them.
    const QHostAddress client("192.168.1.20");
    EXPECT_TRUE(isAllowed({}, client) && isAllowed({{QHostAddress("::"), 0}}, client));
    EXPECT_TRUE(isAllowed(allowed.mid(1, 1), client) && !isAllowed(allowed.mid(0, 1), client));
    EXPECT_FALSE(isAllowed({{QHostAddress("2001:db8::"), 32}}, client));

    const ParsedCommandLine help = parse("--help");
    EXPECT_EQ(help.outcome, ParsedCommandLine::Outcome::ShowHelp);
    EXPECT_TRUE(help.text.contains("--max-rate <n>"));
}

// The simulator as the box: its front panel reaches every window, and after it lost power the
// server puts it back as it was.
TEST(ServerWithBoxsim, AFrontPanelSwitchReachesTheWindowsAndAPowerCycleIsUndone)
{
    QTemporaryDir dir;
    const QString link = dir.filePath("box");
    QProcess box;
    box.start(ZEPHRIN_BOXSIM, {"--link", link});
    ASSERT_TRUE(box.waitForReadyRead(3000));
    Server server({"--device", link});
    ASSERT_TRUE(server.waitForLog("the box's name is \"ZephrinSim\""));
    Client window(server.port());
    window.sendText("TX2\rAUX203\r");
    EXPECT_EQ(window.receive(2), (QStringList{"TX2\r", "AUX203\r"}));
    box.write("panel RX2S\n");
    EXPECT_EQ(window.receive(1), QStringList{"RX1S\r"});

    box.write("power 300\n");
    ASSERT_TRUE(server.waitForLog("box is back", 3000));
    window.sendText("?TX\r?RX\r?AUX2\r");
    EXPECT_EQ(window.receive(6), (QStringList{"TX2\r", "RX1S\r", "AUX203\r", "TX2\r", "RX2S\r",
                                              "AUX23\r"}));
    box.terminate();
    EXPECT_TRUE(box.waitForFinished(3000));
}
