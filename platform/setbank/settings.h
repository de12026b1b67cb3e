// Every setting libsetbank knows, as SETBANK_SETTING(section, key, refuse),
// where refuse is the check of its value in setbank.cpp. The example file
// dist/varnock.conf documents each one; a test holds the two together.
#pragma once

#define SETBANK_SETTINGS(SETBANK_SETTING)                         \
    SETBANK_SETTING("store", "location", refuseLocation)          \
    SETBANK_SETTING("service", "store", refuseServiceStore)       \
    SETBANK_SETTING("service", "socket", refuseSocket)            \
    SETBANK_SETTING("service", "admin_group", refuseGroup)        \
    SETBANK_SETTING("offline", "days", refuseDays)                \
    SETBANK_SETTING("offline", "folder", refuseFolder)            \
    SETBANK_SETTING("policy", "deny", refuseCount)                \
    SETBANK_SETTING("policy", "fail_interval", refuseSeconds)     \
    SETBANK_SETTING("policy", "unlock_time", refuseSeconds)       \
    SETBANK_SETTING("policy", "max_unlock_time", refuseSeconds)   \
    SETBANK_SETTING("policy", "lock_last_admin", refuseYesNo)     \
    SETBANK_SETTING("policy", "min_length", refuseMinLength)      \
    SETBANK_SETTING("policy", "min_classes", refuseClasses)       \
    SETBANK_SETTING("policy", "max_age_days", refuseAgeDays)      \
    SETBANK_SETTING("policy", "warn_days", refuseAgeDays)         \
    SETBANK_SETTING("policy", "idle_lock_minutes", refuseMinutes) \
    SETBANK_SETTING("policy", "must_change_initial", refuseYesNo)
