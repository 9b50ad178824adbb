#include "cipher/encrypted_text.h"
#include "openssl_peer.h"
#include "platform/runtime_error.h"
#include "recording_primitives.h"

namespace {

const QString keys[] = {"", "Zephrin key 9", QString::fromUtf8("clé-€-ключ")};
const int lengths[] = {0, 1, 4, 15, 16, 17, 33, 1000};

QString textOf(int length)
{
    QString text;
    for (int i = 0; i < length; ++i)
        text += QChar('!' + (i * 7) % 90);
    return text;
}

TEST(EncryptedText, OpensslReadsWhatZephrinWritesAndZephrinReadsWhatOpensslWrites)
{
    for (const QString& key : keys) {
        QStringList texts;
        for (int length : lengths)
            texts << textOf(length);
        texts << QString::fromUtf8("é") << QString::fromUtf8("€ AUX101 é");
        for (const QString& text : texts) {
            SCOPED_TRACE(
                QString("key \"%1\", %2 characters").arg(key).arg(text.size()).toStdString());
            const QString encrypted = EncryptText(text, key);
            EXPECT_TRUE(encrypted.startsWith("U2FsdGVkX1"));
            EXPECT_EQ(runOpenssl(messageFormat(key, true), encrypted.toLatin1()), text.toUtf8());

            const QByteArray fromOpenssl = runOpenssl(messageFormat(key, false), text.toUtf8());
            EXPECT_EQ(DecryptText(QString::fromLatin1(fromOpenssl), key), text);
        }
    }
}

TEST(EncryptedText, LengthFollowsTheUtf8BytesAndEverySaltIsNew)
{
    EXPECT_EQ(EncryptText("", "k").size(), 24);
    EXPECT_EQ(EncryptText("RX1\r", "k").size(), 28);
    EXPECT_EQ(QByteArray::fromBase64(EncryptText(QString::fromUtf8("é"), "k").toLatin1()).size(),
              18);
    EXPECT_EQ(QByteArray::fromBase64(EncryptText(QString::fromUtf8("€"), "k").toLatin1()).size(),
              19);
    EXPECT_NE(EncryptText("TX1\r", "k"), EncryptText("TX1\r", "k"));
}

TEST(EncryptedText, AnythingDecryptsWithoutAnError)
{
    const QString good = EncryptText("AS101\r", "key");
    QString broken = good;
    broken.insert(8, "\r\n");
    broken.insert(20, "\r\n");
    EXPECT_EQ(DecryptText(broken, "key"), "AS101\r") << "line breaks are skipped";

    const QString wrongKey = DecryptText(good, "other");
    EXPECT_NE(wrongKey, "AS101\r");
    EXPECT_FALSE(wrongKey.isEmpty());

    const QString headerOnly = QString::fromLatin1(QByteArray("Salted__12345678").toBase64());
    EXPECT_EQ(DecryptText(headerOnly, "key"), "");
    EXPECT_EQ(DecryptText("", "key"), "");
    EXPECT_EQ(DecryptText("", ""), "");

    // No header, or too short for one: the whole is ciphertext under an empty salt, and with an
    // empty key too that is an all-zero key and counter, with no derivation.
    const QByteArray plain = "no header here, just bytes";
    const QByteArray ciphertext = opensslCtr(QByteArray(32, '\0'), QByteArray(16, '\0'), plain);
    EXPECT_EQ(DecryptText(QString::fromLatin1(ciphertext.toBase64()), ""), plain);
}

TEST(EncryptedText, AFailingRandomSourceRaisesInsteadOfReusingASalt)
{
    RecordingPrimitives platform;
    platform.failing = "randomBytes";
    try {
        EncryptText("RX1\r", "key", platform);
        ADD_FAILURE() << "encrypted without a random salt";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), -2147221504);
        EXPECT_TRUE(e.description().endsWith(" &H1C800066"));
    }
}

} // namespace
