// SPDX-License-Identifier: GPL-3.0-or-later
#include "ctr_engine.h"

#include "cipher_error.h"

CtrContext::~CtrContext()
{
    ReleaseContext(*this);
    primitives->wipe(counterBlock.data(), counterBlock.size());
    if (!keystream.empty())
        primitives->wipe(keystream.data(), keystream.size());
}

QString StatusText(crypto::Status status, const crypto::Primitives& platform)
{
    QString text = platform.statusMessage(status);
    if (text.size() > 2 && text.endsWith("\r\n"))
        text.chop(2);
    return text + " &H" + QString::number(static_cast<std::uint32_t>(status), 16).toUpper();
}

bool IncrementCounterWord(unsigned char* word)
{
    std::uint32_t value = (std::uint32_t(word[0]) << 24) | (std::uint32_t(word[1]) << 16) |
                          (std::uint32_t(word[2]) << 8) | std::uint32_t(word[3]);
    const bool wrapped = value == 0xFFFFFFFFu;
    value = wrapped ? 0 : value + 1;
    word[0] = static_cast<unsigned char>(value >> 24);
    word[1] = static_cast<unsigned char>(value >> 16);
    word[2] = static_cast<unsigned char>(value >> 8);
    word[3] = static_cast<unsigned char>(value);
    return wrapped;
}

// Adds one to the 128-bit big-endian counter block, modulo 2^128.
static void incrementCounter(std::array<unsigned char, CounterBlockSize>& block)
{
    for (int word = 3; word >= 0; --word)
        if (!IncrementCounterWord(block.data() + std::ptrdiff_t(4) * word))
            return;
}

static bool fail(CtrContext& context, crypto::Status status)
{
    context.lastError = StatusText(status, *context.primitives);
    return false;
}

bool SetupContext(CtrContext& context, const QByteArray& keyBytes, const QByteArray& saltBytes,
                  QByteArray& keyMaterial, int keyLength)
{
    crypto::Primitives& platform = *context.primitives;
    if (!context.keystream.empty())
        platform.wipe(context.keystream.data(), context.keystream.size());
    context.keystream.clear();
    context.keystreamPosition = 0;
    context.lastError.clear();

    const qsizetype materialSize = keyLength + CounterBlockSize;
    const qsizetype kept = std::min(keyMaterial.size(), materialSize);
    keyMaterial.resize(materialSize);
    std::fill(keyMaterial.begin() + kept, keyMaterial.end(), '\0');
    auto* material = reinterpret_cast<unsigned char*>(keyMaterial.data());

    try {
        if (!keyBytes.isEmpty() || !saltBytes.isEmpty()) {
            if (const auto status = platform.openKdf(context.kdfProvider); crypto::failed(status))
                return fail(context, status);
            const auto status = platform.deriveKey(
                context.kdfProvider, reinterpret_cast<const unsigned char*>(keyBytes.constData()),
                keyBytes.size(), reinterpret_cast<const unsigned char*>(saltBytes.constData()),
                saltBytes.size(), KdfIterations, material, materialSize);
            if (crypto::failed(status))
                return fail(context, status);
        }
        if (const auto status = platform.openAes(context.aesProvider); crypto::failed(status))
            return fail(context, status);
    } catch (const crypto::Unsupported&) {
        context.lastError = UnsupportedEncryption;
        return false;
    }

    if (const auto status =
            platform.generateKey(context.aesProvider, material, keyLength, context.aesKey);
        crypto::failed(status))
        return fail(context, status);
    std::copy(material + keyLength, material + materialSize, context.counterBlock.begin());
    return true;
}

bool CryptRange(CtrContext& context, QByteArray& data, qsizetype offset, qsizetype size)
{
    if (size < 0)
        size = data.size() - offset;
    if (offset < 0 || size < 0 || offset > data.size() || size > data.size() - offset)
        throw CipherError(CipherError::Kind::OutOfRange,
                          QString("Subscript out of range: bytes %1 to %2 of %3")
                              .arg(offset)
                              .arg(offset + size)
                              .arg(data.size()));
    auto* bytes = reinterpret_cast<unsigned char*>(data.data());
    qsizetype position = offset;
    const qsizetype end = offset + size;

    // Keystream left over from the previous run's partial last block serves first.
    while (position < end && context.keystreamPosition % CounterBlockSize != 0)
        bytes[position++] ^= context.keystream[context.keystreamPosition++];
    if (position == end)
        return true;

    const qsizetype remaining = end - position;
    const std::size_t padded = std::size_t(remaining + CounterBlockSize - 1) & ~std::size_t(15);
    if (context.keystream.size() < padded) {
        if (!context.keystream.empty())
            context.primitives->wipe(context.keystream.data(), context.keystream.size());
        context.keystream.assign(padded, 0);
    }
    for (std::size_t i = 0; i < padded; i += CounterBlockSize) {
        std::copy(context.counterBlock.begin(), context.counterBlock.end(),
                  context.keystream.begin() + i);
        incrementCounter(context.counterBlock);
    }
    // One library call for every counter block of the run.
    if (const auto status =
            context.primitives->encryptBlocks(context.aesKey, context.keystream.data(), padded);
        crypto::failed(status))
        return fail(context, status);

    context.keystreamPosition = 0;
    while (position < end)
        bytes[position++] ^= context.keystream[context.keystreamPosition++];
    return true;
}

void ReleaseContext(CtrContext& context)
{
    crypto::Primitives& platform = *context.primitives;
    if (context.kdfProvider) {
        platform.closeKdf(context.kdfProvider);
        context.kdfProvider = nullptr;
    }
    if (context.aesKey) {
        platform.destroyKey(context.aesKey);
        context.aesKey = nullptr;
    }
    if (context.aesProvider) {
        platform.closeAes(context.aesProvider);
        context.aesProvider = nullptr;
    }
}

bool CryptBytes(QByteArray& data, const QByteArray& keyBytes, const QByteArray& saltBytes,
                int keyLength, QString& errorText, crypto::Primitives& platform)
{
    const int length = keyLength < 1 ? 32 : keyLength;
    CtrContext context(platform);
    QByteArray keyMaterial;
    struct Wipe {
        crypto::Primitives& platform;
        QByteArray& material;
        ~Wipe()
        {
            if (!material.isEmpty())
                platform.wipe(material.data(), material.size());
        }
    } wipeMaterial{platform, keyMaterial};

    if (!SetupContext(context, keyBytes, saltBytes, keyMaterial, length) ||
        !CryptRange(context, data, 0, -1)) {
        errorText = context.lastError;
        return false;
    }
    return true;
}
