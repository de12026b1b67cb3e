// The plant's account policy: [policy] of the configuration. Lockout after
// failed logins, rules and an age for passwords, the program's idle lock,
// and passwords set by someone else changed at first use. Every default
// leaves the store as it was without a policy.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "status.h"

namespace keyward {

struct LoginState;

struct Policy {
    int deny = 0;               // failures within failInterval that lock; 0: none do
    int failInterval = 900;     // seconds
    int unlockTime = 600;       // seconds of a first lock; each further one in a row doubles
    int maxUnlockTime = 86400;  // seconds a lock lasts at most
    int lockLastAdmin = 1;      // 1: the last usable level-4 user for unlockTime at most; 0: never
    int minLength = 0;          // bytes of CP936
    int minClasses = 0;         // of lower case, upper case, digits and the rest
    int maxAgeDays = 0;         // 0: passwords do not expire
    int warnDays = 7;           // the program warns this many days before
    int idleLockMinutes = 0;    // 0: no idle lock
    int mustChangeInitial = 0;  // 1: a password set by someone else is changed at the next login

    bool operator==(const Policy&) const = default;
};

// The policy as the configuration says, read afresh (libsetbank: the
// system's file, then the user's where it is read). Throws DbError for a
// bad configuration.
Policy configuredPolicy();

// A setting's value by its name in [policy] (yes/no as 1/0); nullopt for a
// name that is none.
std::optional<int> policyValue(const Policy& policy, std::string_view name);

// Why a new password (CP936) breaks the policy's rules; nullopt when it
// keeps them.
std::optional<std::string> passwordFault(const Policy& policy, std::string_view cp936);

// The settings that differ from the defaults, "name=value" each, separated
// by blanks; "" for the defaults.
std::string describePolicy(const Policy& policy);

// Whether the account is locked now: by an administrator, or locked out.
bool isLocked(const LoginState& state);

// Whether the password has expired by the state's clock; one set at a time
// not known never does.
bool passwordExpired(const Policy& policy, const LoginState& state);

// What a password check comes to under the policy before anything is
// counted: verdict is the password's alone (Ok or BadPassword); login
// tells a login from a change's old password, which neither expiry nor a
// password to change holds up.
Status policyVerdict(const Policy& policy, const LoginState& state, bool login, Status verdict);

// Whole days left before the password expires (0 on its last day and once
// expired), KEYWARD_NO_EXPIRY when it never does.
int daysBeforeExpiry(const Policy& policy, const LoginState& state);

// How long the next lock of an account lasts, in seconds: unlockTime,
// doubled for each lock before it in a row (locks), at most maxUnlockTime
// (never less than unlockTime).
long long lockSeconds(const Policy& policy, long long locks);

}  // namespace keyward
