#include "box_model.h"

#include <gtest/gtest.h>

namespace {

TEST(BoxModel, OtrspAnswersItsQueriesEchoesOthersAndIgnoresUnknownCommands)
{
    BoxModel box(BoxModel::CommandSet::Otrsp);
    EXPECT_EQ(box.handle("?TX"), "TX1\r");
    EXPECT_EQ(box.handle("TX2"), "");
    EXPECT_EQ(box.handle("RX2S"), "");
    EXPECT_EQ(box.handle("?TX"), "TX2\r");
    EXPECT_EQ(box.handle("?RX"), "RX2S\r");
    EXPECT_EQ(box.handle("?FW"), "FW1.2\r");
    EXPECT_EQ(box.handle("?AUX"), "?AUX\r");
    EXPECT_EQ(box.handle("?"), "?\r");
    EXPECT_EQ(box.handle("JUNK"), "");
    EXPECT_EQ(box.handle("AUX212"), "");
    EXPECT_EQ(box.aux(2), 12);
}

TEST(BoxModel, Mk2rAnswersAnythingItDoesNotKnowWithE)
{
    BoxModel box(BoxModel::CommandSet::Mk2r);
    EXPECT_EQ(box.handle("FRS"), "");
    EXPECT_EQ(box.rx(), "1S");
    EXPECT_EQ(box.handle("AS115"), "");
    EXPECT_EQ(box.aux(1), 15);
    EXPECT_EQ(box.handle("AS116"), "EAS116\r");
    EXPECT_EQ(box.handle("RX1"), "ERX1\r");
    EXPECT_EQ(box.handle("V").rfind("MK2R", 0), 0u);
}

} // namespace
