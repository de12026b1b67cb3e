#include "policy.h"

#include <algorithm>
#include <charconv>
#include <iterator>

#include "calls.h"
#include "connection.h"
#include "setbank.h"

namespace keyward {

namespace {

struct Setting {
    const char* name;
    int Policy::*member;
};

// In the order the example configuration shows them.
constexpr Setting kSettings[] = {
    {"deny", &Policy::deny},
    {"fail_interval", &Policy::failInterval},
    {"unlock_time", &Policy::unlockTime},
    {"max_unlock_time", &Policy::maxUnlockTime},
    {"lock_last_admin", &Policy::lockLastAdmin},
    {"min_length", &Policy::minLength},
    {"min_classes", &Policy::minClasses},
    {"max_age_days", &Policy::maxAgeDays},
    {"warn_days", &Policy::warnDays},
    {"idle_lock_minutes", &Policy::idleLockMinutes},
    {"must_change_initial", &Policy::mustChangeInitial},
};

// libsetbank has checked each value: a number in its range, or yes or no.
int parse(const std::string& text) {
    if (text == "yes") return 1;
    if (text == "no") return 0;
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::string shown(const Setting& s, int value) {
    const bool yesNo = s.member == &Policy::lockLastAdmin || s.member == &Policy::mustChangeInitial;
    if (yesNo) return value != 0 ? "yes" : "no";
    return std::to_string(value);
}

}  // namespace

Policy configuredPolicy() {
    if (setbank_reload() != 0) {
        char why[1024];
        setbank_error(why, sizeof why);
        throw DbError(Fault::Unavailable, std::string("bad configuration: ") + why);
    }
    Policy policy;
    for (const Setting& s : kSettings) {
        char value[64];
        if (setbank_get("policy", s.name, value, sizeof value) > 0) policy.*s.member = parse(value);
    }
    return policy;
}

std::optional<int> policyValue(const Policy& policy, std::string_view name) {
    const auto* it = std::find_if(std::begin(kSettings), std::end(kSettings),
                                  [&](const Setting& s) { return name == s.name; });
    if (it == std::end(kSettings)) return std::nullopt;
    return policy.*it->member;
}

std::optional<std::string> passwordFault(const Policy& policy, std::string_view cp936) {
    if (cp936.size() < static_cast<std::size_t>(policy.minLength))
        return "shorter than " + std::to_string(policy.minLength) + " bytes";
    // A byte of 0x80 or above belongs to a character of two: the rest.
    bool lower = false, upper = false, digit = false, other = false;
    for (const char c : cp936) {
        lower = lower || (c >= 'a' && c <= 'z');
        upper = upper || (c >= 'A' && c <= 'Z');
        digit = digit || (c >= '0' && c <= '9');
        other =
            other || !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
    }
    const int classes = int{lower} + int{upper} + int{digit} + int{other};
    if (classes < policy.minClasses)
        return "characters of " + std::to_string(classes) + " class(es), fewer than " +
               std::to_string(policy.minClasses);
    return std::nullopt;
}

std::string describePolicy(const Policy& policy) {
    const Policy defaults;
    std::string text;
    for (const Setting& s : kSettings) {
        if (policy.*s.member == defaults.*s.member) continue;
        text += (text.empty() ? "" : " ") + std::string(s.name) + "=" + shown(s, policy.*s.member);
    }
    return text;
}

bool isLocked(const LoginState& state) {
    return state.locked || state.lockedUntil > state.now;
}

namespace {

constexpr std::int64_t kDay = 86400;

// When the password expires, or nullopt for never.
std::optional<std::int64_t> expiry(const Policy& policy, const LoginState& state) {
    if (policy.maxAgeDays <= 0 || state.passwordSet == 0) return std::nullopt;
    return state.passwordSet + policy.maxAgeDays * kDay;
}

}  // namespace

bool passwordExpired(const Policy& policy, const LoginState& state) {
    const auto at = expiry(policy, state);
    return at && *at <= state.now;
}

Status policyVerdict(const Policy& policy, const LoginState& state, bool login, Status verdict) {
    if (isLocked(state)) return Status::AccountLocked;
    if (verdict != Status::Ok || !login) return verdict;
    if (passwordExpired(policy, state)) return Status::PasswordExpired;
    if (policy.mustChangeInitial != 0 && state.mustChange) return Status::MustChangePassword;
    return Status::Ok;
}

int daysBeforeExpiry(const Policy& policy, const LoginState& state) {
    const auto at = expiry(policy, state);
    if (!at) return KEYWARD_NO_EXPIRY;
    return *at <= state.now ? 0 : static_cast<int>((*at - state.now) / kDay);
}

long long lockSeconds(const Policy& policy, long long locks) {
    const long long cap = std::max(policy.unlockTime, policy.maxUnlockTime);
    long long seconds = policy.unlockTime;
    for (long long i = 0; i < locks && seconds < cap; ++i) seconds *= 2;
    return std::min(seconds, cap);
}

}  // namespace keyward
