// Random and mutated input for DecryptText for a bounded time (ZEPHRIN_FUZZ_SECONDS, default
// 5), under the address and undefined-behaviour sanitizers: it must never raise, never read
// out of bounds, and never return more characters than the input had bytes.

#include "cipher/encrypted_text.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <random>

namespace {

QString mutate(QString text, std::mt19937& random)
{
    std::uniform_int_distribution<int> kind(0, 5), byte(0, 255);
    const int edits = 1 + random() % 4;
    for (int i = 0; i < edits; ++i) {
        const int at = text.isEmpty() ? 0 : int(random() % text.size());
        switch (kind(random)) {
        case 0: text.truncate(at); break;
        case 1: text.insert(at, QChar(byte(random))); break;
        case 2: text.replace(at, 1, QChar(byte(random))); break;
        case 3: text.insert(at, "\r\n"); break;
        case 4: text.remove(at, 1 + random() % 8); break;
        default: text += text.mid(at, 12); break;
        }
    }
    return text;
}

TEST(DecryptFuzz, NeverRaisesOrOverrunsOnAnyInput)
{
    const int seconds = qEnvironmentVariable("ZEPHRIN_FUZZ_SECONDS", "5").toInt();
    std::mt19937 random(20261206); // fixed, so a failure repeats
    const QString keys[] = {"", "Zephrin", QString::fromUtf8("ключ")};
    const QString samples[] = {EncryptText("RX1\r", "Zephrin"), EncryptText("", ""),
                               EncryptText(QString::fromUtf8("AS115 € é"), "Zephrin"),
                               QString::fromLatin1(QByteArray("Salted__").toBase64())};
    QElapsedTimer clock;
    clock.start();
    int runs = 0;
    while (clock.elapsed() < seconds * 1000) {
        QString input;
        if (random() % 4 == 0) {
            const int length = int(random() % 200);
            for (int i = 0; i < length; ++i)
                input += QChar(int(random() % 256));
        } else {
            input = mutate(samples[random() % 4], random);
        }
        const QString& key = keys[random() % 3];
        QString output;
        ASSERT_NO_THROW(output = DecryptText(input, key)) << input.toStdString();
        ASSERT_LE(output.size(), input.size());
        ++runs;
    }
    EXPECT_GT(runs, 10);
}

} // namespace
