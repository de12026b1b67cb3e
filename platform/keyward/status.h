// The outcome of a store call, in the store's terms.
#pragma once

#include <optional>
#include <string_view>

namespace keyward {

enum class Status {
    Ok,
    NoSuchUser,
    BadPassword,
    NullArgument,
    InvalidText,
    TooLong,
    EmptyText,
    NameTaken,
    BadLevel,
    NoSuchItem,
    ItemExists,
    ItemsFull,
    NotCounted,
    UsersExist,
    HashFailed,
    Busy,
    Unavailable,
    LastAdministrator,
    Denied,
};

// The call interface's result code, as named in store/keyward.h.
int toCode(Status status);
// The status a code stands for (Unavailable for one the store never returns).
Status fromCode(int code);
// The outcome as written into the audit trail, and back.
const char* outcomeName(Status status);
std::optional<Status> fromOutcome(std::string_view outcome);
// One line for people (the admin command's messages).
const char* describe(Status status);

}  // namespace keyward
