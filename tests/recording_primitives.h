// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/crypto_primitives.h"

#include <QRegularExpression>
#include <QStringList>
#include <new>
#include <vector>

// The real library, with every call recorded and any one of them made to fail.
struct RecordingPrimitives : crypto::Primitives {
    crypto::Primitives& real = crypto::libcrypto();
    QStringList calls;
    QString failing;     // the call that reports a failure status
    QString unsupported; // the call that finds the library missing
    QString faulting;    // the call that raises some other fault
    std::vector<std::size_t> encryptedLengths;
    std::uint64_t iterations = 0; // key derivations of this many rounds; 0: as asked
    static constexpr crypto::Status FailureStatus = 0x1C800066;

    // Records the call; its failure status, or the real call's.
    template <typename Call> crypto::Status record(const QString& call, Call&& realCall)
    {
        calls << call;
        if (call == unsupported)
            throw crypto::Unsupported("missing");
        if (call == faulting)
            throw std::bad_alloc();
        return call == failing ? FailureStatus : realCall();
    }
    crypto::Status openKdf(crypto::Kdf*& kdf) override
    {
        return record("openKdf", [&] { return real.openKdf(kdf); });
    }
    crypto::Status deriveKey(crypto::Kdf* kdf, const unsigned char* p, std::size_t pl,
                             const unsigned char* s, std::size_t sl, std::uint64_t i,
                             unsigned char* out, std::size_t ol) override
    {
        const std::uint64_t rounds = iterations ? iterations : i;
        return record("deriveKey",
                      [&] { return real.deriveKey(kdf, p, pl, s, sl, rounds, out, ol); });
    }
    crypto::Status openAes(crypto::Aes*& aes) override
    {
        return record("openAes", [&] { return real.openAes(aes); });
    }
    crypto::Status generateKey(crypto::Aes* aes, const unsigned char* secret, std::size_t l,
                               crypto::Key*& key) override
    {
        return record("generateKey", [&] { return real.generateKey(aes, secret, l, key); });
    }
    crypto::Status encryptBlocks(crypto::Key* key, unsigned char* d, std::size_t l) override
    {
        encryptedLengths.push_back(l);
        return record("encryptBlocks", [&] { return real.encryptBlocks(key, d, l); });
    }
    crypto::Status randomBytes(unsigned char* out, std::size_t l) override
    {
        return record("randomBytes", [&] { return real.randomBytes(out, l); });
    }
    void destroyKey(crypto::Key* key) override
    {
        calls << "destroyKey";
        real.destroyKey(key);
    }
    void closeKdf(crypto::Kdf* kdf) override
    {
        calls << "closeKdf";
        real.closeKdf(kdf);
    }
    void closeAes(crypto::Aes* aes) override
    {
        calls << "closeAes";
        real.closeAes(aes);
    }
    QString message; // the library's text for a status; empty: the real one
    QString statusMessage(crypto::Status s) const override
    {
        return message.isEmpty() ? real.statusMessage(s) : message;
    }
    std::vector<std::size_t> wiped; // the length of each overwrite
    void wipe(void* d, std::size_t l) override
    {
        wiped.push_back(l);
        real.wipe(d, l);
    }

    QStringList releases() const { return calls.filter(QRegularExpression("^(close|destroy)")); }
};
