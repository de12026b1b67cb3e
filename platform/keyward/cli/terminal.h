#pragma once

#include <string>

#include "text.h"

namespace keyward::cli {

// One line of standard input, newline stripped; the bytes are wiped after use.
SecretString readPasswordLine();

// Asks twice on the terminal without echo; fails when the two differ or
// standard input is not a terminal.
SecretString promptNewPassword();

// The password of the store user name for --login, in CP936: asked on the
// terminal, or the first line of standard input when that is no terminal.
SecretString loginPassword(const std::string& name);

// The new password as the command was told to read it, checked and in CP936.
SecretString newPassword(bool fromStdin);

}  // namespace keyward::cli
