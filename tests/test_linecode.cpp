// SPDX-License-Identifier: GPL-3.0-or-later
// The line code both ends share: serial bursts, and the cutting of a
// connection's bytes into messages by the server's rules and by the window's.

#include "linecode/burst_cutter.h"
#include "linecode/message_stream.h"
#include "pty_pair.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace {

// A message of the given length: the prefix, Base64 letters, and padding when asked.
QByteArray message(int length, bool padded = false)
{
    QByteArray text = "U2FsdGVkX1" + QByteArray(length - 10, 'A');
    if (padded)
        text.back() = '=';
    return text;
}

QList<QByteArray> taken(MessageStream& stream)
{
    QList<QByteArray> messages;
    while (stream.hasComplete())
        messages << stream.takeNext();
    return messages;
}

} // namespace

TEST(BurstCutter, ABurstEndsAtACarriageReturnAt128BytesOrAfterSilence)
{
    QList<QByteArray> bursts;
    BurstCutter cutter([&](const QByteArray& burst) { bursts << burst; });
    cutter.take("RX1\rTX");
    EXPECT_EQ(bursts, QList<QByteArray>{"RX1\r"});
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(pumpUntil([&] { return bursts.size() == 2; }, 1000));
    EXPECT_EQ(bursts[1], "TX");
    EXPECT_GE(clock.elapsed(), 2) << "the line's silence ends it, not the next turn of the loop";

    bursts.clear();
    cutter.take(QByteArray(300, 'x'));
    EXPECT_EQ(bursts, (QList<QByteArray>{QByteArray(128, 'x'), QByteArray(128, 'x')}));
    EXPECT_EQ(cutter.partialSize(), 44);
    cutter.clear();
    pumpUntil([] { return false; }, 20);
    EXPECT_EQ(bursts.size(), 2) << "a cleared burst never arrives";
}

TEST(MessageStream, TheServerSkipsBlanksHoldsAPrefixInPiecesAndWaitsForAnUnpaddedTail)
{
    MessageStream stream(MessageStream::Reader::Server);
    // openssl's line feed, text before a prefix, a padded message whole at once.
    EXPECT_TRUE(stream.append(" junk" + message(28, true) + "\n"));
    EXPECT_EQ(taken(stream), QList<QByteArray>{message(28, true)});
    EXPECT_EQ(stream.takeDroppedCount(), 4);
    EXPECT_TRUE(stream.append(message(24).left(5)));
    EXPECT_FALSE(stream.tailMayBeComplete());
    EXPECT_TRUE(stream.append(message(24).mid(5)));
    EXPECT_TRUE(taken(stream).isEmpty()) << "unpadded: more may come";
    EXPECT_TRUE(stream.tailMayBeComplete());
    EXPECT_TRUE(stream.append(message(24)));
    EXPECT_EQ(taken(stream), QList<QByteArray>{message(24)}) << "ended by the next prefix";
    EXPECT_EQ(stream.takeTail(), message(24));
    EXPECT_TRUE(stream.takeTail().isEmpty());

    // Unfinished text is bounded, with or without a prefix.
    EXPECT_TRUE(stream.append(QByteArray(MessageStream::MaxUnfinishedBytes, 'x')));
    EXPECT_FALSE(stream.append("x"));
    stream.clear();
    EXPECT_FALSE(stream.append(message(MessageStream::MaxUnfinishedBytes + 1)));
}

TEST(MessageStream, TheWindowTakesAWholeLengthAtOnceAndHoldsOnlyAPieceWithAPrefix)
{
    MessageStream stream(MessageStream::Reader::Window);
    stream.append("junk" + message(24) + message(28).left(13));
    EXPECT_EQ(taken(stream), QList<QByteArray>{message(24)});
    stream.append(message(28).mid(13));
    EXPECT_EQ(taken(stream), QList<QByteArray>{message(28)}) << "the held piece and its rest";

    stream.append(message(28).left(20)); // shorter than a header: held
    stream.dropUnfinished();             // its rest will not come
    stream.append("tail without a prefix " + message(24).left(4));
    stream.append(message(24));
    EXPECT_EQ(taken(stream), QList<QByteArray>{message(24)});

    // A held piece past the bound is no server's and is dropped.
    stream.append(message(MessageStream::MaxUnfinishedBytes + 2));
    stream.append(message(24));
    EXPECT_EQ(taken(stream), QList<QByteArray>{message(24)});
}

TEST(MessageStream, AWellFormedMessageIsPrefixedBase64PaddedAtTheEndOnly)
{
    EXPECT_TRUE(isWellFormedMessage(message(24)));
    EXPECT_TRUE(isWellFormedMessage(message(28, true)));
    for (const QByteArray& bad : {message(20), message(25), "A" + message(23),
                                  message(24).replace(12, 1, "="), message(24).replace(12, 1, "-")})
        EXPECT_FALSE(isWellFormedMessage(bad)) << bad.constData();
}
