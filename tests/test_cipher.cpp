// SPDX-License-Identifier: GPL-3.0-or-later
// The cipher: the CTR engine on the real library with failures made on demand, the encrypted
// text against the openssl command, and DecryptText on cut and damaged input, under the address
// and undefined-behaviour sanitizers.

#include "cipher/cipher_error.h"
#include "cipher/ctr_engine.h"
#include "cipher/encrypted_text.h"
#include "cipher/key_pool.h"
#include "openssl_peer.h"
#include "recording_primitives.h"

#include <QRandomGenerator>
#include <set>

namespace {

QByteArray randomBytes(int n)
{
    QByteArray bytes(n, '\0');
    for (char& b : bytes)
        b = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

TEST(CtrEngine, ARunCryptsInOnePaddedCallAndAFailingStepLeavesTheDataAndReleasesWhatItOpened)
{
    for (const auto& [length, padded] : {std::pair{1, 16u}, {17, 32u}, {1000, 1008u}}) {
        RecordingPrimitives platform;
        QByteArray data = randomBytes(length);
        const QByteArray original = data;
        QString error;
        ASSERT_TRUE(CryptBytes(data, "key", "saltsalt", 0, error, platform));
        EXPECT_EQ(platform.calls.join(' '), "openKdf deriveKey openAes generateKey encryptBlocks "
                                            "closeKdf destroyKey closeAes");
        EXPECT_EQ(platform.encryptedLengths, std::vector<std::size_t>{padded});
        ASSERT_TRUE(CryptBytes(data, "key", "saltsalt", 0, error));
        EXPECT_EQ(data, original) << "crypting twice restores the data";
    }
    const std::pair<const char*, const char*> failures[] = {
        {"openKdf", ""},
        {"deriveKey", "closeKdf"},
        {"openAes", "closeKdf"},
        {"generateKey", "closeKdf closeAes"},
        {"encryptBlocks", "closeKdf destroyKey closeAes"},
    };
    for (const auto& [step, released] : failures) {
        RecordingPrimitives platform;
        platform.failing = step;
        QByteArray data("RX1\r");
        QString error;
        EXPECT_FALSE(CryptBytes(data, "key", "saltsalt", 0, error, platform)) << step;
        EXPECT_EQ(data, QByteArray("RX1\r"));
        EXPECT_EQ(error, platform.real.statusMessage(platform.FailureStatus) + " &H1C800066");
        EXPECT_EQ(platform.releases().join(' '), released) << step;
    }
    // A missing library is unsupported; other faults pass on after the release.
    RecordingPrimitives missing, faulting;
    missing.message = "Failed\r\n"; // a text of the system's own, with its line end
    EXPECT_EQ(StatusText(7, missing), "Failed &H7");
    missing.unsupported = "openAes";
    faulting.faulting = "encryptBlocks";
    QByteArray data("x");
    QString error;
    EXPECT_FALSE(CryptBytes(data, "key", {}, 0, error, missing));
    EXPECT_EQ(error, "Unsupported encryption");
    EXPECT_THROW(CryptBytes(data, "key", {}, 0, error, faulting), std::bad_alloc);
    EXPECT_EQ(faulting.releases().join(' '), "closeKdf destroyKey closeAes");
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
            QByteArray material = key + counter; // as they are, with no derivation
            ASSERT_TRUE(SetupContext(context, {}, {}, material, 32));
            QByteArray data = plain;
            ASSERT_TRUE(CryptRange(context, data, 0, split));
            ASSERT_TRUE(CryptRange(context, data, split, -1));
            EXPECT_THROW(CryptRange(context, data, 70, 6), CipherError);
            EXPECT_THROW(CryptRange(context, data, 76, -1), CipherError);
            EXPECT_EQ(data.toHex(), whole.toHex()) << "a refused range changes nothing";
        }
    }
}

TEST(EncryptedText, OpensslReadsWhatZephrinWritesAndZephrinReadsWhatOpensslWrites)
{
    for (const QString& key : {QString(), QString("Zephrin key 9"), QString("clé-€-ключ")}) {
        for (int length : {0, 1, 15, 16, 17, 33, 1000, -1}) {
            QString text = length < 0 ? QString("€ AUX101 é") : QString();
            for (int i = 0; i < length; ++i)
                text += QChar('!' + (i * 7) % 90);
            SCOPED_TRACE(QString("key \"%1\", text %2").arg(key, text.left(20)).toStdString());
            const QString encrypted = EncryptText(text, key);
            EXPECT_EQ(encrypted.size(), 4 * ((16 + text.toUtf8().size() + 2) / 3));
            EXPECT_EQ(runOpenssl(messageFormat(key, true), encrypted.toLatin1()), text.toUtf8());
            const QByteArray fromOpenssl = runOpenssl(messageFormat(key, false), text.toUtf8());
            EXPECT_EQ(DecryptText(QString::fromLatin1(fromOpenssl), key), text);
        }
    }
}

TEST(EncryptedText, LineBreaksAreSkippedAnythingDecryptsAndSecretsAreWiped)
{
    const QString good = EncryptText("AS101\r", "key");
    EXPECT_EQ(DecryptText(QString(good).insert(20, "\r\n").insert(8, "\r\n"), "key"), "AS101\r");
    EXPECT_NE(DecryptText(good, "other"), "AS101\r");
    EXPECT_FALSE(DecryptText(good, "other").isEmpty());
    EXPECT_EQ(DecryptText(QByteArray("Salted__12345678").toBase64(), "key"), "");
    EXPECT_EQ(DecryptText("", "key"), "");

    // No header, or too short for one: the whole is ciphertext under an empty salt, and with an
    // empty key too that is an all-zero key and counter, with no derivation.
    const QByteArray plain = "no header here, just bytes";
    const QByteArray ciphertext = opensslCtr(QByteArray(32, '\0'), QByteArray(16, '\0'), plain);
    EXPECT_EQ(DecryptText(QString::fromLatin1(ciphertext.toBase64()), ""), plain);

    // The key's bytes, the derived key and counter, and the keystream are overwritten.
    RecordingPrimitives platform;
    EncryptText("RX1\r", "key", platform);
    std::sort(platform.wiped.begin(), platform.wiped.end());
    EXPECT_EQ(platform.wiped, (std::vector<std::size_t>{3, 16, 16, 16, 48}));

    // A failing random source raises instead of reusing a salt.
    platform.failing = "randomBytes";
    try {
        EncryptText("RX1\r", "key", platform);
        ADD_FAILURE() << "encrypted without a random salt";
    } catch (const CipherError& e) {
        EXPECT_EQ(e.kind(), CipherError::Kind::EngineFailed);
        EXPECT_TRUE(e.description().endsWith(" &H1C800066"));
    }
}

TEST(EncryptedText, EveryCutOrDamagedMessageDecryptsWithinItsLengthWithoutAFault)
{
    const QString sample = EncryptText("AS115 € é", "Zephrin");
    for (int at = 0; at <= sample.size(); ++at) {
        EXPECT_LE(DecryptText(sample.left(at), "Zephrin").size(), at);
        for (const QChar c : {QChar('\n'), QChar('='), QChar('A'), QChar(0xe9)})
            EXPECT_LE(DecryptText(QString(sample).insert(at, c), "").size(), sample.size() + 1);
    }
}

TEST(KeyPool, ServesEachReadySaltOnceAndSwitchesToANewKeyAtOnce)
{
    // Jobs wait until the test runs them, as a worker thread would run them later.
    std::vector<std::function<void()>> later;
    KeyPool pool([&](std::function<void()> job, std::function<void()> done) {
        later.push_back([job, done] { job(), done(); });
    });
    const auto runLater = [&] {
        for (auto waiting = std::exchange(later, {}); const auto& run : waiting)
            run();
    };
    pool.prepare("key");
    runLater();
    ASSERT_EQ(pool.ready(), 4);
    EXPECT_EQ(runOpenssl(messageFormat("key", true), pool.encrypt("RX1\r", "key").toLatin1()),
              "RX1\r");
    EXPECT_EQ(pool.ready(), 3);

    // A new key: what was pooled or under way for the old one is never used.
    EXPECT_EQ(DecryptText(pool.encrypt("TX1\r", "new"), "new"), "TX1\r");
    runLater();
    EXPECT_EQ(pool.ready(), 4);
    EXPECT_EQ(DecryptText(pool.encrypt("TX2\r", "new"), "new"), "TX2\r");

    // Ten thousand messages from a pool refilled at once: no salt twice.
    RecordingPrimitives quick;
    quick.iterations = 1;
    KeyPool busy([](std::function<void()> job, std::function<void()> done) { job(), done(); },
                 KeyPool::DefaultSize, quick);
    std::set<QByteArray> salts;
    for (int i = 0; i < 10000; ++i)
        salts.insert(QByteArray::fromBase64(busy.encrypt("TX1\r", "key").toLatin1()).mid(8, 8));
    EXPECT_EQ(salts.size(), 10000u);
}

} // namespace
