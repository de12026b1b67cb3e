// Password hashing: yescrypt through libxcrypt.
#pragma once

#include <optional>
#include <string>

namespace keyward {

// One verification takes about 65-80 ms at this cost on the 2-core build
// machine (bench/keyward measures it). The setting stored with each hash
// carries its cost, so changing this keeps old hashes valid.
inline constexpr unsigned long kDefaultHashCost = 7;
inline constexpr unsigned long kMinHashCost = 1;
inline constexpr unsigned long kMaxHashCost = 11;

// A fresh salted hash of password at cost, or nullopt when libxcrypt fails.
std::optional<std::string> hashPassword(const std::string& password, unsigned long cost);

// True when password matches stored. A stored value that is empty or starts
// with '*' or '!' (a locked or unusable entry) never matches.
bool verifyPassword(const std::string& password, const std::string& stored);

}  // namespace keyward
