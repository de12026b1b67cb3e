// The user's base folders as the XDG base directory rules give them, for the
// platform libraries that keep files per user.
#pragma once

#include <string>

namespace xdg {

// The variable's value, or "" when it is unset.
std::string environment(const char* name);

// The folder named by variable (e.g. "XDG_CONFIG_HOME"), or the home folder
// joined with underHome (e.g. ".config") when it is unset or relative: a
// relative value is invalid and must be ignored.
std::string baseFolder(const char* variable, const char* underHome);

}  // namespace xdg
