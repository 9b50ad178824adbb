// SPDX-License-Identifier: GPL-3.0-or-later
// The command-set table as the window, the server and the simulator read it: exact tokens, the
// substring rule of a box's replies, and what the simulated box answers.

#include "boxmodel/box_model.h"
#include "boxprotocol/command_set.h"

#include <array>
#include <gtest/gtest.h>

namespace {

QString token(std::optional<BoxChange> change)
{
    if (!change)
        return "none";
    if (change->focus)
        return commandFor(*change->focus, Protocol::Otrsp);
    return QString("aux %1 %2").arg(change->radio).arg(change->output);
}

} // namespace

TEST(CommandSets, ATokenOfEitherSetReadsAsItsStateAndNothingNearItDoes)
{
    const std::pair<const char*, const char*> cases[] = {
        {"TX1", "TX1"},     {"FT2", "TX2"},        {"RX1S", "RX1S"},      {"FRS", "RX1S"},
        {"FR2", "RX2"},     {"AUX100", "aux 1 0"}, {"AS215", "aux 2 15"}, {"AUX209", "aux 2 9"},
        {"AUX116", "none"}, {"AS300", "none"},     {"AS010", "none"},     {"AUX1011", "none"},
        {"AUX10", "none"},  {"AS1a5", "none"},     {"AUX1-1", "none"},    {"RX2S", "none"},
        {"TX1 ", "none"},   {"tx1", "none"},       {"", "none"},          {"FRS\r", "none"},
    };
    for (const auto& [text, state] : cases)
        EXPECT_EQ(token(readToken(QByteArrayView(text))), state) << text;
    // Each set reads only its own words.
    EXPECT_FALSE(readCommand(Protocol::Otrsp, "FT1"));
    EXPECT_FALSE(readCommand(Protocol::Mk2r, "AUX101"));
    EXPECT_EQ(protocolNamed("MK2R"), Protocol::Mk2r);
    EXPECT_FALSE(protocolNamed("otrsp2"));
}

TEST(CommandSets, AReplyNamesEachFocusOnceStereoFormsFirst)
{
    const std::pair<const char*, const char*> cases[] = {
        {"RX2S\r", "- S"}, {"TX1RX2", "1 2"},  {"xxTX2RX1S", "2 S"}, {"RX1", "- 1"},
        {"TX2TX1", "1 -"}, {"tx1 rx1", "- -"}, {"RX2RX1", "- 1"},
    };
    const auto name = [](std::optional<FocusAction> focus) {
        return focus ? commandFor(*focus, Protocol::Otrsp).mid(2).replace("1S", "S") : QString("-");
    };
    for (const auto& [reply, focus] : cases)
        EXPECT_EQ(name(readReply(reply).tx) + " " + name(readReply(reply).rx), focus) << reply;
}

TEST(CommandSets, AWholeLineIsACommandOnlyInTheGrammarOfItsSet)
{
    const std::pair<Protocol, std::vector<const char*>> commands[] = {
        {Protocol::Otrsp,
         {"TX1", "RX2R", "AUX14", "AUX1255", "AUX2104", "AUX100", "?AUX1", "?NAME", "?", "?FW",
          "VMONO1", "?VLATCH", "ECR01", "?ECR0"}},
        {Protocol::Mk2r, {"FT1", "FRS", "AS215", "AS100", "V"}},
    };
    const std::pair<Protocol, std::vector<const char*>> others[] = {
        {Protocol::Otrsp,
         {"AUX1256", "AUX3", "AUX1", "AUX11234", "AUX1-1", "T", "TXRX2", "aux14", "V", "?V",
          "VMONO 1", "FT1", "TX1\r", ""}},
        {Protocol::Mk2r, {"AS14", "AS216", "AS1015", "TX1", "?NAME", "VMONO1", "FR"}},
    };
    for (const auto& [set, lines] : commands)
        for (const char* line : lines)
            EXPECT_TRUE(isCommandLine(set, line)) << line;
    for (const auto& [set, lines] : others)
        for (const char* line : lines)
            EXPECT_FALSE(isCommandLine(set, line)) << line;
}

TEST(CommandSets, ALineOfEitherSetReachesTheBoxInItsOwnSetAndIsReportedAsItsState)
{
    // The line, what an OTRSP box and an MK2R box are sent for it, and the report of the state
    // it leaves an OTRSP box in ("-" for none).
    const std::array<const char*, 4> lines[] = {
        {"AUX14", "AUX14", "AS104", "AUX104"},  {"AUX116", "AUX116", "AS100", "AUX100"},
        {"AUX1255", "AUX1255", "AS115", "AUX115"}, {"AUX2015", "AUX2015", "AS215", "AUX215"},
        {"RX2S", "RX2S", "FRS", "RX1S"},        {"RX1R", "RX1R", "FRS", "RX1S"},
        {"FT2", "TX2", "FT2", "TX2"},           {"FRS", "RX1S", "FRS", "RX1S"},
        {"AS105", "AUX105", "AS105", "AUX105"}, {"FR2", "RX2", "FR2", "RX2"},
        {"?TX", "?TX", "-", "-"},               {"V", "-", "V", "-"},
        {"ETX1", "ETX1", "-", "-"},             {"VMONO1", "VMONO1", "-", "-"},
        {"AUX3", "-", "-", "-"},                {"TX3", "-", "-", "-"},
    };
    const auto shown = [](std::optional<QByteArray> line) { return line ? *line : "-"; };
    for (const auto& [line, otrsp, mk2r, report] : lines) {
        EXPECT_EQ(shown(lineForBox(Protocol::Otrsp, line)), otrsp) << line;
        EXPECT_EQ(shown(lineForBox(Protocol::Mk2r, line)), mk2r) << line;
        const auto change = readStateChange(line);
        EXPECT_EQ(change ? reportToken(Protocol::Otrsp, *change) : "-", report) << line;
    }
    // The box is put back in stereo on the radio it had.
    EXPECT_EQ(stateLine(Protocol::Otrsp, *readStateChange("RX2S")), "RX2S");
    EXPECT_EQ(reportToken(Protocol::Mk2r, *readStateChange("RX2S")), "FRS");
}

// Every server test against the simulator reads its answers back; here, what no other test sees.
TEST(BoxModel, AnOtrspBoxAnswersItsQueriesAndReportsChangesOnceItsEventsAreOn)
{
    // What the box says to lines handed to it in turn; a "panel " line is a front-panel switch.
    const auto run = [](BoxModel& box, std::initializer_list<std::string> lines) {
        std::string said;
        for (const std::string& line : lines)
            said += line.starts_with("panel ") ? box.panel(line.substr(6)) : box.handle(line);
        return said;
    };
    BoxModel otrsp(Protocol::Otrsp);
    EXPECT_EQ(run(otrsp, {"?NAME", "?", "?FW", "?X"}), "NAMEZephrinSim\r?\rFW1.2\r?X\r");
    EXPECT_EQ(run(otrsp, {"TX2", "panel RX2S"}), "") << "events are off";
    EXPECT_EQ(run(otrsp, {"ETX1", "ERX1"}), "$TX2\r$RX2S\r");
    EXPECT_EQ(run(otrsp, {"RX1R", "panel TX1", "panel AUX105", "AUX1255", "AUX216"}),
              "$RX1S\r$TX1\r");
    EXPECT_EQ(run(otrsp, {"?AUX1", "?AUX2"}), "AUX115\rAUX20\r");
    otrsp.powerCycle();
    EXPECT_EQ(run(otrsp, {"TX2", "?TX", "?AUX1"}), "TX2\rAUX10\r");
    BoxModel mk2r(Protocol::Mk2r);
    EXPECT_EQ(run(mk2r, {"AS215", "V"}), "MK2R simulator version 1.2\r");
    for (const char* wrong : {"AS216", "TX1", "?TX", "ETX1", ""})
        EXPECT_EQ(mk2r.handle(wrong), "E" + std::string(wrong) + "\r");
}
