#include "status.h"

#include <array>
#include <cstddef>

#include "store/keyward.h"

namespace keyward {

namespace {

struct StatusInfo {
    int code;
    const char* outcome;
    const char* text;
};

constexpr std::array<StatusInfo, static_cast<std::size_t>(Status::Denied) + 1> kStatusInfo = {{
    {KEYWARD_OK, "ok", "done"},
    {ERR_NO_SUCH_USER, "no_such_user", "no such user"},
    {ERR_BAD_PASSWORD, "bad_password", "wrong password"},
    {ERR_NULL_ARGUMENT, "null_argument", "a text argument is missing"},
    {ERR_INVALID_TEXT, "invalid_text", "not valid text (CP936 without control characters)"},
    {ERR_TOO_LONG, "too_long", "text too long"},
    {ERR_EMPTY_NAME, "empty_text", "empty name"},
    {ERR_USER_EXISTS, "name_taken", "user exists"},
    {ERR_BAD_LEVEL, "bad_level", "level must be 0 to 4"},
    {ERR_NO_SUCH_ITEM, "no_such_item", "no such permission item"},
    {ERR_ITEM_EXISTS, "item_exists", "permission item exists"},
    {ERR_ITEMS_FULL, "items_full", "32 permission items exist already"},
    {ERR_NOT_COUNTED, "not_counted", "the list was not counted first"},
    {ERR_USERS_EXIST, "users_exist", "users exist already"},
    {ERR_HASH_FAILED, "hash_failed", "password hashing failed"},
    {ERR_BUSY, "busy", "database is locked"},
    {ERR_UNAVAILABLE, "unavailable", "database unavailable"},
    {ERR_LAST_ADMIN, "last_administrator", "the store's last level-4 user"},
    {ERR_DENIED, "denied", "not allowed for this user"},
}};

const StatusInfo& info(Status status) {
    return kStatusInfo[static_cast<std::size_t>(status)];
}

}  // namespace

int toCode(Status status) {
    return info(status).code;
}

Status fromCode(int code) {
    for (std::size_t i = 0; i < kStatusInfo.size(); ++i)
        if (kStatusInfo[i].code == code) return static_cast<Status>(i);
    return Status::Unavailable;
}

const char* outcomeName(Status status) {
    return info(status).outcome;
}

std::optional<Status> fromOutcome(std::string_view outcome) {
    for (std::size_t i = 0; i < kStatusInfo.size(); ++i)
        if (kStatusInfo[i].outcome == outcome) return static_cast<Status>(i);
    return std::nullopt;
}

const char* describe(Status status) {
    return info(status).text;
}

}  // namespace keyward
