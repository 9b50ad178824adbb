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

// A context set up with the key and initial counter block as they are, no derivation.
void setUpWithMaterial(CtrContext& context, const QByteArray& key, const QByteArray& counter)
{
    QByteArray material = key + counter;
    ASSERT_TRUE(SetupContext(context, {}, {}, material, 32)) << context.lastError.toStdString();
}

TEST(CtrEngine, ARunOpensDerivesCryptsInOnePaddedCallAndReleasesInOrder)
{
    const std::pair<int, std::size_t> cases[] = {{1, 16}, {16, 16}, {17, 32}, {1000, 1008}};
    for (const auto& [length, padded] : cases) {
        RecordingPrimitives platform;
        QByteArray data = randomBytes(length);
        const QByteArray original = data;
        QString error;
        ASSERT_TRUE(CryptBytes(data, "key", "saltsalt", 0, error, platform));
        EXPECT_EQ(platform.calls,
                  (QStringList{"openKdf", "deriveKey", "openAes", "generateKey", "encryptBlocks",
                               "closeKdf", "destroyKey", "closeAes"}));
        EXPECT_EQ(platform.encryptedLengths, std::vector<std::size_t>{padded});
        EXPECT_NE(data, original);
        ASSERT_TRUE(CryptBytes(data, "key", "saltsalt", 0, error));
        EXPECT_EQ(data, original) << "crypting twice restores the data";
    }
    RecordingPrimitives platform;
    QByteArray empty;
    QString error;
    EXPECT_TRUE(CryptBytes(empty, "k", "saltsalt", 0, error, platform));
    EXPECT_TRUE(platform.encryptedLengths.empty());
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
        EXPECT_TRUE(error.startsWith("Provider routines") && error.endsWith(" &H1C800066"))
            << error.toStdString();
        EXPECT_EQ(platform.releases(), released);
    }
    EXPECT_TRUE(StatusText(-2147024891).endsWith(" &H80070005"));
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

TEST(CtrEngine, MatchesOpensslAcrossCounterCarriesAndTheWrapWhereverARunIsSplit)
{
    const QByteArray key = randomBytes(32);
    const QByteArray plain = randomBytes(75); // five blocks and a part
    for (const char* counterHex :
         {"0123456789abcdef01234567ffffffff", "0123456789abcdefffffffffffffffff",
          "ffffffffffffffffffffffffffffffff"}) {
        const QByteArray counter = QByteArray::fromHex(counterHex);
        const QByteArray whole = opensslCtr(key, counter, plain);
        for (int split : {0, 5, 16, 17, 40, 75}) {
            SCOPED_TRACE(std::string(counterHex) + " split at " + std::to_string(split));
            CtrContext context(crypto::libcrypto());
            setUpWithMaterial(context, key, counter);
            QByteArray data = plain;
            ASSERT_TRUE(CryptRange(context, data, 0, split));
            ASSERT_TRUE(CryptRange(context, data, split, -1));
            EXPECT_THROW(CryptRange(context, data, 70, 6), RuntimeError);
            EXPECT_THROW(CryptRange(context, data, 76, -1), RuntimeError);
            EXPECT_EQ(data.toHex(), whole.toHex()) << "a refused range changes nothing";
        }
    }
}

} // namespace
