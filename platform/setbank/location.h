// What a store location names, one rule for the configuration that checks it
// and the store that opens it: a postgresql:// (or postgres://) URI is a
// store on a server; anything else is "system" or a file.
#pragma once

#include <string_view>

namespace setbank {

inline bool isServerLocation(std::string_view location) {
    return location.starts_with("postgresql://") || location.starts_with("postgres://");
}

}  // namespace setbank
