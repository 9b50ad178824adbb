// SPDX-License-Identifier: GPL-3.0-or-later
// EncryptText and DecryptText of a five-character command beside their floor, one bare
// PBKDF2-HMAC-SHA-512 derivation of 48 bytes at 10000 iterations, and beside one `openssl enc`
// process per message.

#include "cipher/encrypted_text.h"

#include <QCoreApplication>
#include <QProcess>
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

const QString Command = "RX1S\r";
const QString Key = "Zephrin";

void Pbkdf2Floor(benchmark::State& state)
{
    const QByteArray password = Key.toUtf8();
    const unsigned char salt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    unsigned char out[48];
    for (auto _ : state) {
        PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()), salt, 8, 10000, EVP_sha512(),
                          48, out);
        benchmark::DoNotOptimize(out);
    }
}

void Encrypt(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(EncryptText(Command, Key));
}

void Decrypt(benchmark::State& state)
{
    const QString message = EncryptText(Command, Key);
    for (auto _ : state)
        benchmark::DoNotOptimize(DecryptText(message, Key));
}

void OpensslProcessPerMessage(benchmark::State& state)
{
    const QStringList args{"enc",   "-aes-256-ctr", "-pbkdf2", "-md",   "sha512",     "-iter",
                           "10000", "-a",           "-A",      "-pass", "pass:" + Key};
    for (auto _ : state) {
        QProcess openssl;
        openssl.start("openssl", args);
        openssl.write(Command.toUtf8());
        openssl.closeWriteChannel();
        openssl.waitForFinished();
        benchmark::DoNotOptimize(openssl.readAllStandardOutput());
    }
}

} // namespace

BENCHMARK(Pbkdf2Floor)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(Encrypt)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(Decrypt)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(OpensslProcessPerMessage)->Unit(benchmark::kMillisecond)->Iterations(50);

// The three measured in turn, round after round, so that drift of the machine's speed
// touches each alike; the ratios to the floor are the figures that count.
static void interleavedRatios(int rounds)
{
    using Clock = std::chrono::steady_clock;
    const QByteArray password = Key.toUtf8();
    const unsigned char salt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    unsigned char out[48];
    const QString message = EncryptText(Command, Key);
    std::vector<double> floor, encrypt, decrypt;
    const auto time = [](auto&& work) {
        const auto start = Clock::now();
        work();
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    for (int i = 0; i < rounds; ++i) {
        floor.push_back(time([&] {
            PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()), salt, 8, 10000,
                              EVP_sha512(), 48, out);
        }));
        encrypt.push_back(time([&] { benchmark::DoNotOptimize(EncryptText(Command, Key)); }));
        decrypt.push_back(time([&] { benchmark::DoNotOptimize(DecryptText(message, Key)); }));
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double f = median(floor), e = median(encrypt), d = median(decrypt);
    std::printf("\ninterleaved, %d rounds   median ms   ratio to PBKDF2\n", rounds);
    std::printf("PBKDF2-HMAC-SHA-512     %9.3f   %6.3f\n", f, 1.0);
    std::printf("EncryptText             %9.3f   %6.3f\n", e, e / f);
    std::printf("DecryptText             %9.3f   %6.3f\n", d, d / f);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    interleavedRatios(300);
    return 0;
}
