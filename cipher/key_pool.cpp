// SPDX-License-Identifier: GPL-3.0-or-later
#include "key_pool.h"

#include "cipher_error.h"

#include <deque>
#include <optional>

struct KeyPool::State {
    Runner runner;
    int size = 0;
    crypto::Primitives* platform = nullptr;
    QString key;
    // Changes with the key, so that keys derived under an earlier one are never pooled.
    int generation = 0;
    int underWay = 0;
    std::deque<PreparedKey> ready;
    std::function<void()>* onReady = nullptr;
};

KeyPool::KeyPool(Runner runner, int size, crypto::Primitives& platform)
    : state_(std::make_shared<State>())
{
    state_->runner = std::move(runner);
    state_->size = size;
    state_->platform = &platform;
    state_->onReady = &onReady;
}

KeyPool::~KeyPool() = default;

void KeyPool::prepare(const QString& key)
{
    State& state = *state_;
    if (key != state.key || state.generation == 0) {
        state.key = key;
        ++state.generation;
        state.underWay = 0;
        state.ready.clear();
    }
    refill(state_);
}

void KeyPool::refill(const std::shared_ptr<State>& state)
{
    while (int(state->ready.size()) + state->underWay < state->size) {
        ++state->underWay;
        auto result = std::make_shared<std::optional<PreparedKey>>();
        state->runner(
            [key = state->key, platform = state->platform, result] {
                try {
                    result->emplace(PrepareKey(key, *platform));
                } catch (const CipherError&) {
                    // A message that finds the pool empty derives its key itself and reports it.
                }
            },
            [weak = std::weak_ptr<State>(state), generation = state->generation, result] {
                const auto state = weak.lock();
                if (!state || state->generation != generation)
                    return;
                --state->underWay;
                if (*result) {
                    state->ready.push_back(std::move(**result));
                    if (*state->onReady)
                        (*state->onReady)();
                }
            });
    }
}

QString KeyPool::encrypt(const QString& text, const QString& key)
{
    prepare(key); // a new key wipes the pool
    State& state = *state_;
    std::optional<PreparedKey> prepared;
    if (!state.ready.empty()) {
        prepared.emplace(std::move(state.ready.front()));
        state.ready.pop_front();
    } else {
        prepared.emplace(PrepareKey(key, *state.platform));
    }
    refill(state_);
    return EncryptPrepared(text, std::move(*prepared), *state.platform);
}

std::optional<QString> KeyPool::encryptWithReadyKey(const QString& text, const QString& key)
{
    prepare(key);
    State& state = *state_;
    if (state.ready.empty())
        return std::nullopt;
    PreparedKey prepared = std::move(state.ready.front());
    state.ready.pop_front();
    refill(state_);
    return EncryptPrepared(text, std::move(prepared), *state.platform);
}

int KeyPool::ready() const
{
    return int(state_->ready.size());
}
