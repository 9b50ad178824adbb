// SPDX-License-Identifier: GPL-3.0-or-later
// The command-set table as the window, the server and the simulator read it: exact tokens, the
// substring rule of a box's replies, and what the simulated box answers.

#include "boxmodel/box_model.h"
#include "boxprotocol/command_set.h"

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

TEST(CommandSets, ALoggersCommandsAreReportedInTheWindowsOwnTokens)
{
    const std::pair<const char*, const char*> tokens[] = {
        {"AUX14", "AUX104"}, {"AUX10", "AUX100"},  {"AUX2015", "AUX215"}, {"RX2S", "RX1S"},
        {"RX1R", "RX1S"},    {"RX2R", "RX1S"},     {"AS107", "AS107"},    {"TX2", "TX2"},
        {"AUX116", nullptr}, {"AUX2104", nullptr}, {"?TX", nullptr},      {"RX3", nullptr}};
    for (const auto& [command, token] : tokens)
        EXPECT_EQ(windowToken(command), token ? std::optional<QByteArray>(token) : std::nullopt)
            << command;
}

// Every server test against the simulator reads its focus answers back; here, what no other
// test sees.
TEST(BoxModel, AnOtrspBoxEchoesOtherQueriesAndPlaysReverseStereoAnMk2rBoxAnswersErrors)
{
    BoxModel otrsp(Protocol::Otrsp);
    EXPECT_EQ(otrsp.handle("?NAME") + otrsp.handle("?") + otrsp.handle("?FW"), "?NAME\r?\rFW1.2\r");
    otrsp.handle("RX2R"); // played as stereo
    EXPECT_EQ(otrsp.handle("XYZ") + otrsp.handle("?RX"), "RX2S\r");
    BoxModel mk2r(Protocol::Mk2r);
    EXPECT_EQ(mk2r.handle("AS215") + mk2r.handle("V"), "MK2R simulator version 1.2\r");
    for (const char* wrong : {"AS216", "TX1", "?TX", ""})
        EXPECT_EQ(mk2r.handle(wrong), "E" + std::string(wrong) + "\r");
}
