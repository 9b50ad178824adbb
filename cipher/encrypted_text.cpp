// SPDX-License-Identifier: GPL-3.0-or-later
#include "encrypted_text.h"

#include "cipher_error.h"
#include "ctr_engine.h"

namespace {

constexpr const char* Header = messageformat::Magic;
constexpr int HeaderSize = int(messageformat::MagicBytes);
constexpr int SaltSize = int(messageformat::SaltBytes);
constexpr int KeyLength = 32;

void wipe(QByteArray& bytes, crypto::Primitives& platform)
{
    if (!bytes.isEmpty())
        platform.wipe(bytes.data(), bytes.size());
}

// Key bytes live only as long as the call that needs them, and are wiped on the way out.
class KeyBytes {
public:
    KeyBytes(const QString& key, crypto::Primitives& platform)
        : bytes_(key.toUtf8()), platform_(platform)
    {
    }
    ~KeyBytes() { wipe(bytes_, platform_); }
    const QByteArray& bytes() const { return bytes_; }

private:
    QByteArray bytes_;
    crypto::Primitives& platform_;
};

} // namespace

PreparedKey::PreparedKey(QByteArray salt, QByteArray material, crypto::Primitives& platform)
    : salt_(std::move(salt)), material_(std::move(material)), platform_(platform)
{
}

PreparedKey::PreparedKey(PreparedKey&& other) noexcept
    : salt_(std::exchange(other.salt_, {})), material_(std::exchange(other.material_, {})),
      platform_(other.platform_)
{
}

PreparedKey::~PreparedKey()
{
    wipe(material_, platform_);
}

PreparedKey PrepareKey(const QString& key, crypto::Primitives& platform)
{
    QByteArray salt(SaltSize, '\0');
    // A salt that is not random would repeat keystreams between messages: refuse to go on.
    if (const auto status =
            platform.randomBytes(reinterpret_cast<unsigned char*>(salt.data()), SaltSize);
        crypto::failed(status))
        throw CipherError(CipherError::Kind::EngineFailed, StatusText(status, platform));
    const KeyBytes keyBytes(key, platform);
    PreparedKey prepared(salt, {}, platform);
    CtrContext context(platform);
    if (!SetupContext(context, keyBytes.bytes(), salt, prepared.material(), KeyLength))
        throw CipherError(CipherError::Kind::EngineFailed, context.lastError);
    return prepared;
}

QString EncryptPrepared(const QString& text, PreparedKey prepared, crypto::Primitives& platform)
{
    QByteArray data = text.toUtf8();
    CtrContext context(platform);
    // Neither key bytes nor salt: the material is taken as it stands, nothing derived again.
    if (!SetupContext(context, {}, {}, prepared.material(), KeyLength) ||
        !CryptRange(context, data, 0, -1))
        throw CipherError(CipherError::Kind::EngineFailed, context.lastError);
    data.prepend(prepared.salt());
    data.prepend(Header, HeaderSize);
    return QString::fromLatin1(data.toBase64());
}

QString EncryptText(const QString& text, const QString& key, crypto::Primitives& platform)
{
    return EncryptPrepared(text, PrepareKey(key, platform), platform);
}

QString DecryptText(const QString& text, const QString& key, crypto::Primitives& platform)
{
    // Base64 decoding skips what is not Base64, line breaks included.
    QByteArray data = QByteArray::fromBase64(text.toLatin1());
    const KeyBytes keyBytes(key, platform);
    QByteArray salt;
    if (data.size() >= HeaderSize + SaltSize && data.startsWith(Header)) {
        salt = data.mid(HeaderSize, SaltSize);
        data = data.mid(HeaderSize + SaltSize);
    }
    QString error;
    if (!CryptBytes(data, keyBytes.bytes(), salt, 0, error, platform))
        throw CipherError(CipherError::Kind::EngineFailed, error);
    return QString::fromUtf8(data);
}
