// Password hashing: yescrypt through libxcrypt.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace keyward {

// One verification takes about 65-220 ms at this cost on the 2-core build
// machine, depending on its load (bench/keyward measures it). The setting
// stored with each hash carries its cost, so changing this keeps old hashes
// valid.
inline constexpr unsigned long kDefaultHashCost = 7;
inline constexpr unsigned long kMinHashCost = 1;
inline constexpr unsigned long kMaxHashCost = 11;
// A store's own setting is never cheaper than this, however slow the machine.
inline constexpr unsigned long kMinFittedHashCost = 5;

// A cost written as text ("7"), or nullopt when it is not one of 1..11.
std::optional<unsigned long> parseHashCost(const std::string& text);

// $KEYWARD_HASH_COST when it holds a valid cost (tests use 1), else nullopt.
std::optional<unsigned long> hashCostFromEnvironment();

// Measures yescrypt here: the cost from kMinFittedHashCost up whose hashing
// time is nearest target (on a doubling scale). Takes well under a second.
unsigned long fitHashCost(std::chrono::milliseconds target);

// A fresh salted hash of password at cost, or nullopt when libxcrypt fails.
std::optional<std::string> hashPassword(const std::string& password, unsigned long cost);

// True when password matches stored. A stored value that is empty or starts
// with '*' or '!' (a locked or unusable entry) never matches.
bool verifyPassword(const std::string& password, const std::string& stored);

}  // namespace keyward
