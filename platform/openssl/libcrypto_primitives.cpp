// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/crypto_primitives.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <string>

namespace crypto {

struct Kdf {
    EVP_MD* digest;
};
struct Aes {
    EVP_CIPHER* cipher;
};
struct Key {
    EVP_CIPHER_CTX* context;
};

namespace {

// The status of the failure just reported by libcrypto: its oldest queued error code, or a
// general code when it queued none.
Status lastError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    return code ? Status(code) : Status(ERR_PACK(ERR_LIB_EVP, 0, ERR_R_OPERATION_FAIL));
}

// An algorithm that libcrypto cannot fetch is not there at all.
template <typename Algorithm> Algorithm* available(Algorithm* algorithm, const char* name)
{
    if (!algorithm) {
        ERR_clear_error();
        throw Unsupported(std::string(name) + " is not available in libcrypto");
    }
    return algorithm;
}

class Libcrypto : public Primitives {
public:
    Status openKdf(Kdf*& kdf) override
    {
        kdf = new Kdf{available(EVP_MD_fetch(nullptr, "SHA512", nullptr), "SHA-512")};
        return 0;
    }

    Status deriveKey(Kdf* kdf, const unsigned char* password, std::size_t passwordLength,
                     const unsigned char* salt, std::size_t saltLength, std::uint64_t iterations,
                     unsigned char* out, std::size_t outLength) override
    {
        static const unsigned char none = 0;
        const int ok = PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(password ? password : &none),
                                         int(passwordLength), salt ? salt : &none, int(saltLength),
                                         int(iterations), kdf->digest, int(outLength), out);
        return ok == 1 ? 0 : lastError();
    }

    Status openAes(Aes*& aes) override
    {
        aes = new Aes{available(EVP_CIPHER_fetch(nullptr, "AES-256-ECB", nullptr), "AES-256")};
        return 0;
    }

    Status generateKey(Aes* aes, const unsigned char* secret, std::size_t length,
                       Key*& key) override
    {
        // The provider is AES-256; shorter keys take the matching AES variant.
        const EVP_CIPHER* cipher = aes->cipher;
        if (length == 16)
            cipher = EVP_aes_128_ecb();
        else if (length == 24)
            cipher = EVP_aes_192_ecb();
        else if (length != 32)
            return Status(ERR_PACK(ERR_LIB_EVP, 0, EVP_R_INVALID_KEY_LENGTH));
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        if (!ctx)
            return lastError();
        if (EVP_EncryptInit_ex2(ctx, cipher, secret, nullptr, nullptr) != 1 ||
            EVP_CIPHER_CTX_set_padding(ctx, 0) != 1) {
            EVP_CIPHER_CTX_free(ctx);
            return lastError();
        }
        key = new Key{ctx};
        return 0;
    }

    Status encryptBlocks(Key* key, unsigned char* data, std::size_t length) override
    {
        int written = 0;
        if (EVP_EncryptUpdate(key->context, data, &written, data, int(length)) != 1 ||
            std::size_t(written) != length)
            return lastError();
        return 0;
    }

    // The key context wipes its expanded key when it is freed.
    void destroyKey(Key* key) override
    {
        EVP_CIPHER_CTX_free(key->context);
        delete key;
    }
    void closeKdf(Kdf* kdf) override
    {
        EVP_MD_free(kdf->digest);
        delete kdf;
    }
    void closeAes(Aes* aes) override
    {
        EVP_CIPHER_free(aes->cipher);
        delete aes;
    }

    QString statusMessage(Status status) const override
    {
        OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
        const char* library = ERR_lib_error_string(static_cast<unsigned long>(status));
        const char* reason = ERR_reason_error_string(static_cast<unsigned long>(status));
        if (!library && !reason)
            return {};
        return QString("%1: %2").arg(library ? library : "libcrypto", reason ? reason : "error");
    }

    Status randomBytes(unsigned char* out, std::size_t length) override
    {
        return RAND_bytes(out, int(length)) == 1 ? 0 : lastError();
    }

    void wipe(void* data, std::size_t length) override { OPENSSL_cleanse(data, length); }
};

} // namespace

Primitives& libcrypto()
{
    static Libcrypto instance;
    return instance;
}

} // namespace crypto
