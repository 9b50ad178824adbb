// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

// The cryptographic services beneath the message cipher: PBKDF2-HMAC-SHA-512, AES block
// encryption in ECB mode without padding, and a secure random source. Each call returns a
// status: 0 on success, otherwise the library's error code. The counter mode itself is the
// cipher's own code, not the library's.
namespace crypto {

using Status = std::int32_t;

// The library's objects, opaque to their users: a key-derivation function, a block cipher and
// a key ready for use.
struct Kdf;
struct Aes;
struct Key;

inline bool failed(Status status)
{
    return status != 0;
}

// The library or one of its algorithms is not there at all.
class Unsupported : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Primitives {
public:
    virtual ~Primitives() = default;

    virtual Status openKdf(Kdf*& kdf) = 0; // HMAC-SHA-512
    virtual Status deriveKey(Kdf* kdf, const unsigned char* password, std::size_t passwordLength,
                             const unsigned char* salt, std::size_t saltLength,
                             std::uint64_t iterations, unsigned char* out,
                             std::size_t outLength) = 0;
    virtual Status openAes(Aes*& aes) = 0; // AES, ECB, no padding
    virtual Status generateKey(Aes* aes, const unsigned char* secret, std::size_t length,
                               Key*& key) = 0;
    // Encrypts whole 16-byte blocks in place, each on its own, in one call.
    virtual Status encryptBlocks(Key* key, unsigned char* data, std::size_t length) = 0;
    virtual void destroyKey(Key* key) = 0;
    virtual void closeKdf(Kdf* kdf) = 0;
    virtual void closeAes(Aes* aes) = 0;

    // The library's text for a status, or empty text when it has none.
    virtual QString statusMessage(Status status) const = 0;
    virtual Status randomBytes(unsigned char* out, std::size_t length) = 0;
    // Overwrites key material before its memory is given back.
    virtual void wipe(void* data, std::size_t length) = 0;
};

// OpenSSL's libcrypto.
Primitives& libcrypto();

} // namespace crypto
