// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// AES in counter mode over a byte array, in place, with the key and the initial counter block
// derived by PBKDF2-HMAC-SHA-512 from key bytes and salt bytes. Counter mode is its own inverse:
// the one operation both encrypts and decrypts.

#include "platform/crypto_primitives.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <vector>

constexpr std::uint64_t KdfIterations = 10000;
constexpr int CounterBlockSize = 16;

// The state of one counter-mode run. The CryptBytes call that creates it owns it; its library
// objects are released when it goes, on every way out.
struct CtrContext {
    explicit CtrContext(crypto::Primitives& platform) : primitives(&platform) {}
    CtrContext(const CtrContext&) = delete;
    CtrContext& operator=(const CtrContext&) = delete;
    ~CtrContext();

    crypto::Primitives* primitives;
    crypto::Kdf* kdfProvider = nullptr;
    crypto::Aes* aesProvider = nullptr;
    crypto::Key* aesKey = nullptr;
    // The next counter value: four 32-bit words, each stored big-endian.
    std::array<unsigned char, CounterBlockSize> counterBlock{};
    // Encrypted counter blocks; grows to the largest padded run and never shrinks.
    std::vector<unsigned char> keystream;
    // Index of the next keystream byte not yet used.
    int keystreamPosition = 0;
    QString lastError;
};

// Crypts data in place. keyLength below 1 means 32 (AES-256). False, with errorText set and the
// data unchanged, when a library call failed; any other fault passes on to the caller after
// the context has been released.
bool CryptBytes(QByteArray& data, const QByteArray& keyBytes, const QByteArray& saltBytes,
                int keyLength, QString& errorText,
                crypto::Primitives& platform = crypto::libcrypto());

// Derives the key material (key bytes L, then the 16-byte initial counter block) and opens the
// key. With both key bytes and salt bytes empty no derivation runs and the material is taken as
// it stands, zero-filled to its length.
bool SetupContext(CtrContext& context, const QByteArray& keyBytes, const QByteArray& saltBytes,
                  QByteArray& keyMaterial, int keyLength);

// Crypts size bytes of data from offset, in place; a size below 0 means up to the end. Runs on
// one context continue each other: leftover keystream serves the next call first.
bool CryptRange(CtrContext& context, QByteArray& data, qsizetype offset, qsizetype size);

// Releases the library objects the context holds: KDF provider, AES key, AES provider. Safe on
// a context whose set-up stopped part way, and when called twice.
void ReleaseContext(CtrContext& context);

// Adds one to a big-endian 32-bit counter word; true when it wrapped to zero.
bool IncrementCounterWord(unsigned char* word);

// A library status as an error text: the library's text, " &H" and the code in upper-case hex.
QString StatusText(crypto::Status status, const crypto::Primitives& platform = crypto::libcrypto());

constexpr const char* UnsupportedEncryption = "Unsupported encryption";
