// Every setting libsetbank knows, as SETBANK_SETTING(section, key, refuse),
// where refuse is the check of its value in setbank.cpp. The example file
// dist/varnock.conf documents each one; a test holds the two together.
#pragma once

#define SETBANK_SETTINGS(SETBANK_SETTING)                   \
    SETBANK_SETTING("store", "location", refuseLocation)    \
    SETBANK_SETTING("service", "store", refuseServiceStore) \
    SETBANK_SETTING("service", "socket", refuseSocket)      \
    SETBANK_SETTING("service", "admin_group", refuseGroup)  \
    SETBANK_SETTING("offline", "days", refuseDays)          \
    SETBANK_SETTING("offline", "folder", refuseFolder)
