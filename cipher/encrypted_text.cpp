#include "encrypted_text.h"

#include "ctr_engine.h"
#include "platform/runtime_error.h"

namespace {

constexpr char Header[] = "Salted__";
constexpr int HeaderSize = 8;
constexpr int SaltSize = 8;

// Key bytes live only as long as the call that needs them, and are wiped on the way out.
class KeyBytes {
public:
    KeyBytes(const QString& key, crypto::Primitives& platform)
        : bytes_(key.toUtf8()), platform_(platform)
    {
    }
    ~KeyBytes()
    {
        if (!bytes_.isEmpty())
            platform_.wipe(bytes_.data(), bytes_.size());
    }
    const QByteArray& bytes() const { return bytes_; }

private:
    QByteArray bytes_;
    crypto::Primitives& platform_;
};

void crypt(QByteArray& data, const QByteArray& keyBytes, const QByteArray& salt,
           crypto::Primitives& platform)
{
    QString error;
    if (!CryptBytes(data, keyBytes, salt, 0, error, platform))
        throw RuntimeError(ErrorNumber::CipherFailure, error);
}

} // namespace

QString EncryptText(const QString& text, const QString& key, crypto::Primitives& platform)
{
    QByteArray data = text.toUtf8();
    const KeyBytes keyBytes(key, platform);
    QByteArray salt(SaltSize, '\0');
    // A salt that is not random would repeat keystreams between messages: refuse to go on.
    if (const auto status =
            platform.randomBytes(reinterpret_cast<unsigned char*>(salt.data()), SaltSize);
        crypto::failed(status))
        throw RuntimeError(ErrorNumber::CipherFailure, StatusText(status, platform));
    crypt(data, keyBytes.bytes(), salt, platform);
    data.prepend(salt);
    data.prepend(Header, HeaderSize);
    return QString::fromLatin1(data.toBase64());
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
    crypt(data, keyBytes.bytes(), salt, platform);
    return QString::fromUtf8(data);
}
