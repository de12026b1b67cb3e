// SHA-256 for the audit trail's chain. Our own, small one: linking a crypto
// library for this one digest cost every program start its loading.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace keyward {

std::array<std::uint8_t, 32> sha256(std::string_view data);

}  // namespace keyward
