#pragma once

#include "platform/crypto_primitives.h"

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
    static constexpr crypto::Status FailureStatus = 0x1C800066;

    crypto::Status record(const QString& call)
    {
        calls << call;
        if (call == unsupported)
            throw crypto::Unsupported("missing");
        if (call == faulting)
            throw std::bad_alloc();
        return call == failing ? FailureStatus : 0;
    }
    crypto::Status openKdf(crypto::Handle& kdf) override
    {
        if (auto s = record("openKdf"))
            return s;
        return real.openKdf(kdf);
    }
    crypto::Status deriveKey(crypto::Handle kdf, const unsigned char* p, std::size_t pl,
                             const unsigned char* s, std::size_t sl, std::uint64_t i,
                             unsigned char* out, std::size_t ol) override
    {
        if (auto st = record("deriveKey"))
            return st;
        return real.deriveKey(kdf, p, pl, s, sl, i, out, ol);
    }
    crypto::Status openAes(crypto::Handle& aes) override
    {
        if (auto s = record("openAes"))
            return s;
        return real.openAes(aes);
    }
    crypto::Status generateKey(crypto::Handle aes, const unsigned char* secret, std::size_t l,
                               crypto::Handle& key) override
    {
        if (auto s = record("generateKey"))
            return s;
        return real.generateKey(aes, secret, l, key);
    }
    crypto::Status encryptBlocks(crypto::Handle key, unsigned char* d, std::size_t l) override
    {
        encryptedLengths.push_back(l);
        if (auto s = record("encryptBlocks"))
            return s;
        return real.encryptBlocks(key, d, l);
    }
    void destroyKey(crypto::Handle key) override
    {
        calls << "destroyKey";
        real.destroyKey(key);
    }
    void closeKdf(crypto::Handle kdf) override
    {
        calls << "closeKdf";
        real.closeKdf(kdf);
    }
    void closeAes(crypto::Handle aes) override
    {
        calls << "closeAes";
        real.closeAes(aes);
    }
    QString statusMessage(crypto::Status s) const override { return real.statusMessage(s); }
    crypto::Status randomBytes(unsigned char* out, std::size_t l) override
    {
        if (auto s = record("randomBytes"))
            return s;
        return real.randomBytes(out, l);
    }
    void wipe(void* d, std::size_t l) override { real.wipe(d, l); }

    QStringList releases() const
    {
        QStringList r;
        for (const QString& c : calls)
            if (c == "closeKdf" || c == "destroyKey" || c == "closeAes")
                r << c;
        return r;
    }
};
