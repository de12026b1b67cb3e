#include "password.h"

#include <crypt.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace keyward {

namespace {

// crypt_data is large (32 KiB) and holds intermediate state derived from the
// password, so it lives on the heap and is wiped before it is freed.
struct WipedCryptData {
    crypt_data data{};
    ~WipedCryptData() { explicit_bzero(&data, sizeof data); }
};

bool constantTimeEqual(const char* a, const char* b, std::size_t n) {
    unsigned char diff = 0;
    for (std::size_t i = 0; i < n; ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

}  // namespace

std::optional<std::string> hashPassword(const std::string& password, unsigned long cost) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (crypt_gensalt_rn("$y$", cost, nullptr, 0, setting, sizeof setting) == nullptr)
        return std::nullopt;
    auto work = std::make_unique<WipedCryptData>();
    const char* hash = crypt_rn(password.c_str(), setting, &work->data, sizeof work->data);
    if (hash == nullptr || hash[0] == '*') return std::nullopt;
    return std::string(hash);
}

bool verifyPassword(const std::string& password, const std::string& stored) {
    if (stored.empty() || stored[0] == '*' || stored[0] == '!') return false;
    auto work = std::make_unique<WipedCryptData>();
    const char* hash = crypt_rn(password.c_str(), stored.c_str(), &work->data, sizeof work->data);
    if (hash == nullptr || hash[0] == '*') return false;
    // The length of a hash string tells nothing about the password.
    const std::size_t n = std::strlen(hash);
    return n == stored.size() && constantTimeEqual(hash, stored.data(), n);
}

std::optional<unsigned long> parseHashCost(const std::string& text) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || text[0] == '-' || *end != '\0' || value < kMinHashCost ||
        value > kMaxHashCost)
        return std::nullopt;
    return value;
}

std::optional<unsigned long> hashCostFromEnvironment() {
    const char* env = std::getenv("KEYWARD_HASH_COST");
    return env != nullptr ? parseHashCost(env) : std::nullopt;
}

unsigned long fitHashCost(std::chrono::milliseconds target) {
    using Clock = std::chrono::steady_clock;
    // The faster of two runs: a one-off stall says nothing about the machine.
    const auto timeAt = [](unsigned long cost) {
        auto best = std::chrono::duration<double, std::milli>::max();
        for (int run = 0; run < 2; ++run) {
            const auto start = Clock::now();
            if (!hashPassword("fitting the cost", cost)) return best;
            best = std::min<std::chrono::duration<double, std::milli>>(best, Clock::now() - start);
        }
        return best;
    };
    const double goal = static_cast<double>(target.count());
    unsigned long cost = kMinFittedHashCost;
    double time = timeAt(cost).count();
    while (cost < kMaxHashCost && time < goal) {
        const double next = timeAt(cost + 1).count();
        // Each step doubles the work: take the step when it lands nearer.
        if (next / goal > goal / time) break;
        ++cost;
        time = next;
    }
    return cost;
}

}  // namespace keyward
