#include "cipher/ctr_engine.h"
#include "openssl_peer.h"
#include "platform/runtime_error.h"
#include "recording_primitives.h"

#include <QRandomGenerator>

namespace {

QByteArray randomBytes(int n)
{
    QByteArray bytes(n, '\0');
    for (char& b : bytes)
        b = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

// Crypts data under the key and initial counter block given as they are, no derivation.
QByteArray cryptWithMaterial(const QByteArray& key, const QByteArray& counter, QByteArray data)
{
    CtrContext context(crypto::libcrypto());
    QByteArray material = key + counter;
    EXPECT_TRUE(SetupContext(context, {}, {}, material, 32)) << context.lastError.toStdString();
    EXPECT_TRUE(CryptRange(context, data, 0, -1));
    ReleaseContext(context);
    return data;
}

TEST(CtrEngine, ASuccessfulRunOpensDerivesCryptsOnceAndReleasesInOrder)
{
    RecordingPrimitives platform;
    QByteArray data = randomBytes(1000);
    const QByteArray original = data;
    QString error;
    ASSERT_TRUE(CryptBytes(data, "key", "saltsalt", 0, error, platform));
    EXPECT_EQ(platform.calls, (QStringList{"openKdf", "deriveKey", "openAes", "generateKey",
                                           "encryptBlocks", "closeKdf", "destroyKey", "closeAes"}));
    EXPECT_EQ(platform.encryptedLengths, std::vector<std::size_t>{1008});
    EXPECT_NE(data, original);
    ASSERT_TRUE(CryptBytes(data, "key", "saltsalt", 0, error));
    EXPECT_EQ(data, original) << "crypting twice restores the data";
}

TEST(CtrEngine, RunsUseOnePaddedKeystreamCallAndEmptyDataNone)
{
    const std::pair<int, std::size_t> cases[] = {{1, 16}, {15, 16}, {16, 16}, {17, 32}, {33, 48}};
    for (const auto& [length, padded] : cases) {
        RecordingPrimitives platform;
        QByteArray data(length, 'x');
        QString error;
        ASSERT_TRUE(CryptBytes(data, "k", {}, 0, error, platform));
        EXPECT_EQ(platform.encryptedLengths, std::vector<std::size_t>{padded}) << length;
    }
    RecordingPrimitives platform;
    QByteArray empty;
    QString error;
    EXPECT_TRUE(CryptBytes(empty, "k", "saltsalt", 0, error, platform));
    EXPECT_TRUE(platform.encryptedLengths.empty());
    EXPECT_TRUE(platform.calls.contains("deriveKey") && platform.calls.contains("generateKey"));
}

TEST(CtrEngine, LibraryFailuresLeaveTheDataAndReleaseWhatWasOpened)
{
    const std::pair<const char*, QStringList> cases[] = {
        {"openKdf", {}},
        {"deriveKey", {"closeKdf"}},
        {"openAes", {"closeKdf"}},
        {"generateKey", {"closeKdf", "closeAes"}},
        {"encryptBlocks", {"closeKdf", "destroyKey", "closeAes"}},
    };
    for (const auto& [step, released] : cases) {
        SCOPED_TRACE(step);
        RecordingPrimitives platform;
        platform.failing = step;
        QByteArray data("RX1\r");
        QString error;
        EXPECT_FALSE(CryptBytes(data, "key", "saltsalt", 0, error, platform));
        EXPECT_EQ(data, QByteArray("RX1\r"));
        EXPECT_TRUE(error.endsWith(" &H1C800066")) << error.toStdString();
        EXPECT_GT(error.size(), 11) << "the library's own text comes first";
        EXPECT_EQ(platform.releases(), released);
    }
}

TEST(CtrEngine, AMissingLibraryIsUnsupportedAndOtherFaultsPassOnAfterRelease)
{
    for (const char* step : {"openKdf", "openAes"}) {
        RecordingPrimitives platform;
        platform.unsupported = step;
        QByteArray data("x");
        QString error;
        EXPECT_FALSE(CryptBytes(data, "key", {}, 0, error, platform));
        EXPECT_EQ(error, "Unsupported encryption");
    }
    RecordingPrimitives platform;
    platform.faulting = "encryptBlocks";
    QByteArray data("x");
    QString error;
    EXPECT_THROW(CryptBytes(data, "key", {}, 0, error, platform), std::bad_alloc);
    EXPECT_EQ(platform.releases(), (QStringList{"closeKdf", "destroyKey", "closeAes"}));
}

TEST(CtrEngine, StatusTextShowsTheCodeInUpperCaseHex)
{
    EXPECT_EQ(StatusText(0x7FFF1234).right(12), " &H7FFF1234");
    EXPECT_TRUE(StatusText(-2147024891).endsWith(" &H80070005"));
    EXPECT_TRUE(StatusText(0x1C800066).startsWith("Provider routines"));
}

TEST(CtrEngine, MatchesOpensslAcrossCounterCarriesAndTheFullWrap)
{
    const QByteArray key = randomBytes(32);
    const QByteArray plain = randomBytes(70); // five blocks
    for (const char* counterHex :
         {"0123456789abcdef01234567ffffffff", "0123456789abcdefffffffffffffffff",
          "ffffffffffffffffffffffffffffffff"}) {
        const QByteArray counter = QByteArray::fromHex(counterHex);
        EXPECT_EQ(cryptWithMaterial(key, counter, plain).toHex(),
                  opensslCtr(key, counter, plain).toHex())
            << counterHex;
    }
}

TEST(CtrEngine, EmptyKeyAndSaltMeanAnAllZeroKeyAndCounter)
{
    RecordingPrimitives platform;
    QByteArray data = randomBytes(40);
    const QByteArray plain = data;
    QString error;
    ASSERT_TRUE(CryptBytes(data, {}, {}, 0, error, platform));
    EXPECT_FALSE(platform.calls.contains("openKdf")) << "no derivation runs";
    EXPECT_EQ(data.toHex(), opensslCtr(QByteArray(32, '\0'), QByteArray(16, '\0'), plain).toHex());
}

TEST(CtrEngine, ARunSplitOverTwoCallsEqualsOneCall)
{
    const QByteArray key = randomBytes(32);
    const QByteArray counter = randomBytes(16);
    const QByteArray plain = randomBytes(75);
    const QByteArray whole = cryptWithMaterial(key, counter, plain);
    for (int split : {0, 5, 16, 17, 40, 75}) {
        CtrContext context(crypto::libcrypto());
        QByteArray material = key + counter;
        ASSERT_TRUE(SetupContext(context, {}, {}, material, 32));
        QByteArray data = plain;
        ASSERT_TRUE(CryptRange(context, data, 0, split));
        ASSERT_TRUE(CryptRange(context, data, split, -1));
        EXPECT_EQ(data, whole) << split;
    }
}

TEST(CtrEngine, ARangeOutsideTheDataIsRefusedWithoutTouchingMemory)
{
    CtrContext context(crypto::libcrypto());
    QByteArray material;
    ASSERT_TRUE(SetupContext(context, "k", {}, material, 32));
    QByteArray data(10, 'x');
    EXPECT_THROW(CryptRange(context, data, 5, 6), RuntimeError);
    EXPECT_THROW(CryptRange(context, data, 11, -1), RuntimeError);
    EXPECT_EQ(data, QByteArray(10, 'x'));
}

} // namespace
