#include "form_fixture.h"

namespace {

const QChar BS = QChar(8);

class TerminalTest : public FormTest {
protected:
    // What ShowData makes of data on a pane that holds `pane`; the caller's variable too.
    QString show(const QString& pane, QString data, QString* dataAfter = nullptr)
    {
        term().content = pane;
        form.protocol = "3"; // the change handler does nothing
        form.ShowData(term(), data);
        if (dataAfter)
            *dataAfter = data;
        return term().content;
    }
};

TEST_F(TerminalTest, ShowDataPairsLineEndsAppliesBackspacesAndTrimsPastTheLimit)
{
    QString after;
    EXPECT_EQ(show("", "RX1\r\n", &after), "RX1\r\n");
    EXPECT_EQ(after, "RX1\r\n");
    EXPECT_EQ(show("x", "\n\nA\rB\r\r", &after), "xA\r\nB\r\n\r\n");

    EXPECT_EQ(show("", QString("ab") + BS + "c"), "ac");
    EXPECT_EQ(show("12", QString(BS) + "x"), "1x");
    EXPECT_EQ(show("12", QString(BS) + BS + "x"), "1x");
    EXPECT_EQ(show("", QString(BS) + "x"), "x") << "a leading backspace on an empty pane";
    EXPECT_EQ(show("12", QString(BS) + BS + BS), "1");
    EXPECT_TRUE(boxes().empty());

    // The pane is trimmed only past its limit, and after a huge piece by as many whole trims as
    // it takes, at once, in time proportional to the piece.
    EXPECT_EQ(show(QString(16000, 'a'), "b").size(), 16001) << "exactly 16000 is not trimmed";
    EXPECT_EQ(show(QString(4096, 'x') + QString(11905, 'y'), "b"), QString(11905, 'y') + "b");
    EXPECT_EQ(show(QString(9 * 4096, 'x') + QString(13136, 'y'), "b"), QString(13136, 'y') + "b");
    QString flood;
    for (int i = 0; i < 300000; ++i)
        flood += QString("x") + BS + "\n";
    EXPECT_EQ(show("", flood + "end\r"), "end\r\n");
}

TEST_F(TerminalTest, RepliesLightTheLampsTheyReportAndErrorsRaiseTheirBoxesByProtocol)
{
    setLamps("LdLdd");
    serial.receive("TX2\r", 3); // an event other than received characters is ignored
    EXPECT_EQ(term().content, "");
    serial.waiting.clear();
    form.protocol = "1";
    serial.receive("RX2S\r");
    EXPECT_EQ(lamps(), "LdddL");
    serial.receive("TX1RX2");
    EXPECT_EQ(lamps(), "LddLd");
    serial.receive("TX2\r");
    EXPECT_EQ(lamps(), "dLdLd");
    serial.receive("tx1 rx1");
    EXPECT_EQ(lamps(), "dLdLd") << "the search is case-sensitive";
    EXPECT_EQ(term().content, "RX2S\r\nTX1RX2TX2\r\ntx1 rx1");
    EXPECT_TRUE(boxes().empty());

    // Error replies raise their boxes by protocol.
    struct Case {
        const char* protocol;
        const char* piece;
        QStringList prompts;
        const char* paneAfter;
    };
    const QString trapBox = "VB6 runtime error (txtTerm_change): 13 - Type mismatch";
    const Case cases[] = {
        {"1", "E", {"MK2R protocol error."}, "E"},
        {"1", "E\r", {}, "E\r\n"},
        {"1", "FW?", {"OTRSP protocol error."}, "FW?"},
        {"1", "e", {}, "e"},
        {"2", "E", {"MK2R Protocol Error."}, ""},
        {"2", "\r\nEFR9\r", {"MK2R Protocol Error."}, ""},
        {"2", "?X", {"OTRSP Protocol Error."}, ""},
        {"2", "A?", {"OTRSP protocol error."}, "A?"},
        {"2", "AE", {}, "AE"},
        {"3", "E", {"MK2R protocol error."}, "E"},
        {"", "?", {trapBox, "OTRSP protocol error."}, "?"},
        {"abc", "RX1", {trapBox}, "RX1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(
            QString("protocol \"%1\", piece \"%2\"").arg(c.protocol, c.piece).toStdString());
        boxes().clear();
        term().content.clear();
        form.protocol = c.protocol;
        serial.receive(c.piece);
        EXPECT_EQ(ui.dialog.prompts(), c.prompts);
        EXPECT_EQ(term().content, c.paneAfter);
    }
}

TEST_F(TerminalTest, TypedKeysGoToTheBoxOneByteEachWhenTheyCan)
{
    openCom3("1");
    form.buffer = "RX2\r\n";
    term().keyHandler('a');
    EXPECT_EQ(serial.writes, QStringList{"a"});
    EXPECT_EQ(lamps(), "dddLd") << "a key looks at the last reply again";
    EXPECT_TRUE(boxes().empty());

    // Without a link, without a protocol, and on a closed port.
    serial.writes.clear();
    form.mode = "";
    form.protocol = "1";
    term().keyHandler('a');
    EXPECT_TRUE(serial.writes.isEmpty());
    EXPECT_TRUE(boxes().empty());

    openCom3("");
    term().keyHandler('a');
    EXPECT_EQ(serial.writes, QStringList{"a"}) << "the key is sent first";
    EXPECT_EQ(ui.dialog.prompts(),
              QStringList{"VB6 runtime error (txtTerm_KeyPress): 13 - Type mismatch"});

    openCom3("1");
    serial.open = false;
    form.buffer = "RX1";
    term().keyHandler('a');
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_TRUE(boxes()[0].prompt.startsWith("VB6 runtime error (txtTerm_KeyPress): 8018 - "));
    EXPECT_EQ(lamps(), "dddLd") << "the lamp step is skipped";
}

} // namespace
