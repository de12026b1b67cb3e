// The account store's call interface: records, levels, result codes and the
// calls of libkeyward, plus the start/stop entries of the three platform
// libraries. Every text crossing this interface is NUL-terminated CP936.
//
// Text: names and titles are 1..31 bytes of valid CP936 without control
// characters (titles may be empty); passwords are 0..255 bytes of valid
// CP936. Anything else makes the call fail; nothing is truncated or
// replaced. A null pointer where text is expected fails too.
//
// Where /etc/varnock/varnock.conf names the system store ([store] location
// = system), every call is a request to the account service (keywardd) on
// its local socket; it knows the caller from the kernel, keeps the
// logged-in user per connection and applies, behind the program's own
// checks, the rules the program applies (levels below the logged-in user's
// own, items they hold, sys_limit to maintain items, a last level-4 user
// kept): a refused call returns ERR_DENIED (or ERR_LAST_ADMIN) and is
// audited. $KEYWARD_DB and the user's configuration then change nothing.
// Otherwise the personal store, opened in this process: its SQLite database
// at $KEYWARD_DB, else where the configuration's [store] location says
// (libsetbank: /etc/varnock/varnock.conf, then the user's), else
// $XDG_DATA_HOME/varnock/keyward.db, else ~/.local/share/varnock/keyward.db.
// A postgresql:// location puts it on a PostgreSQL server shared by many
// stations, with the same rules.
// Folders on that path may be symlinks, the file itself not. A file there
// that is not a store is left untouched and every call fails with
// ERR_UNAVAILABLE; why goes to the system log and once to standard error.
// Passwords are yescrypt hashes at the cost of the database's settings row
// 'hash_cost' (set by `keyward init` to suit the machine, or to
// $KEYWARD_HASH_COST when given), which $KEYWARD_HASH_COST (1..11) may raise
// but never lower; a database without that row takes $KEYWARD_HASH_COST
// (tests use 1), else the built-in cost. Each call is one transaction,
// audited when it writes (in the database and in the system log, authpriv
// "varnock"); several processes may share the database.
// A password is checked with no lock held, so logins at many stations at
// once do not wait on each other's hashing.
// On a server no call waits longer than about 7 s for one answer (2 s for
// each host named to connect): beyond that it fails with ERR_UNAVAILABLE,
// the connection is dropped and the next call connects again. A change
// whose COMMIT went unanswered that way may have been made or not, as after
// a crash: ERR_UNAVAILABLE then does not say it was not (the next listing
// shows which).
#pragma once

// Usable from C (C99 on) as from C++: records and codes are plain C; in C++
// the codes are constexpr ints and the texts inline constants.
#ifdef __cplusplus
#include <cstddef>
#include <cstdint>
#define KEYWARD_CONST(name, value) constexpr int name = value
#define KEYWARD_TEXT inline constexpr const char* const
#define KEYWARD_LAYOUT(check) static_assert(check, #check)
#else
#include <stddef.h>
#include <stdint.h>
#define KEYWARD_CONST(name, value) enum { name = value }
#define KEYWARD_TEXT static const char* const
// An array of negative size where the check fails: C99 has no static_assert.
#define KEYWARD_LAYOUT_NAME_(line) keyward_layout_##line
#define KEYWARD_LAYOUT_NAME(line) KEYWARD_LAYOUT_NAME_(line)
#define KEYWARD_LAYOUT(check) typedef char KEYWARD_LAYOUT_NAME(__LINE__)[(check) ? 1 : -1]
#endif

#if defined(__GNUC__)
#define KEYWARD_API __attribute__((visibility("default")))
#else
#define KEYWARD_API
#endif

// One entry of the user list. The password never travels in a record.
typedef struct UserRecord {
    char name[32];  // at most 31 bytes of text, NUL-terminated
    int32_t level;  // 0..4
    uint32_t mask;  // bit i: holds permission item i
} UserRecord;

// One permission item. Its position in the item list is its bit in a mask.
typedef struct LimitRecord {
    char name[32];   // the item's key, at most 31 bytes
    char title[32];  // caption for people, at most 31 bytes
} LimitRecord;

KEYWARD_LAYOUT(sizeof(UserRecord) == 40);
KEYWARD_LAYOUT(offsetof(UserRecord, name) == 0);
KEYWARD_LAYOUT(offsetof(UserRecord, level) == 32);
KEYWARD_LAYOUT(offsetof(UserRecord, mask) == 36);
KEYWARD_LAYOUT(sizeof(LimitRecord) == 64);
KEYWARD_LAYOUT(offsetof(LimitRecord, name) == 0);
KEYWARD_LAYOUT(offsetof(LimitRecord, title) == 32);

// Result codes. Success is 0; every failure is negative and changes no
// account (the attempt is audited). The program tells only the first two
// failures apart.
KEYWARD_CONST(KEYWARD_OK, 0);            // done
KEYWARD_CONST(ERR_NO_SUCH_USER, -986);   // no user of that name (also from calls changing one)
KEYWARD_CONST(ERR_BAD_PASSWORD, -1094);  // the password does not match
KEYWARD_CONST(ERR_NULL_ARGUMENT, -1);    // a text or buffer argument is null
KEYWARD_CONST(ERR_INVALID_TEXT, -2);     // not CP936, or a control character in a name
KEYWARD_CONST(ERR_TOO_LONG, -3);         // text longer than its limit in CP936 bytes
KEYWARD_CONST(ERR_EMPTY_NAME, -4);       // a name is empty
KEYWARD_CONST(ERR_USER_EXISTS, -5);      // another user has that name
KEYWARD_CONST(ERR_BAD_LEVEL, -6);        // level outside 0..4
KEYWARD_CONST(ERR_NO_SUCH_ITEM, -7);     // no permission item of that name or position
KEYWARD_CONST(ERR_ITEM_EXISTS, -8);      // a permission item of that name exists
KEYWARD_CONST(ERR_ITEMS_FULL, -9);       // 32 permission items exist already
KEYWARD_CONST(ERR_NOT_COUNTED, -10);     // a list fill without a count call first
KEYWARD_CONST(ERR_USERS_EXIST, -11);     // users exist (the admin command's init)
KEYWARD_CONST(ERR_HASH_FAILED, -12);     // password hashing failed
KEYWARD_CONST(ERR_BUSY, -13);            // database locked beyond the busy timeout
KEYWARD_CONST(ERR_UNAVAILABLE, -14);     // no usable store (missing, foreign, damaged file,
                                         // a server not reached or not answering in time)
KEYWARD_CONST(ERR_LAST_ADMIN, -15);      // would leave the store without a level-4 user
KEYWARD_CONST(ERR_DENIED, -16);          // the account service's rules refuse the caller

KEYWARD_CONST(KEYWARD_MAX_LIMITS, 32);  // one item per mask bit
KEYWARD_CONST(KEYWARD_MAX_TEXT, 31);    // bytes of text in a 32-byte field
KEYWARD_CONST(KEYWARD_LEVEL_COUNT, 5);

// Level texts, indexed by level number 0..4.
KEYWARD_TEXT g_levelText[KEYWARD_LEVEL_COUNT] = {"Level_0", "Level_1", "Level_2", "Level_3",
                                                 "Level_4"};

// The built-in item whose holders may maintain the item list.
KEYWARD_TEXT SYS_LIMIT_NAME = "sys_limit";
// 系统权限, spelt as CP936 bytes whatever the compiler's character set.
KEYWARD_TEXT SYS_LIMIT_TITLE = "\xcf\xb5\xcd\xb3\xc8\xa8\xcf\xde";
// The user who is offered every row's commands in the user list's menu.
KEYWARD_TEXT QORVEL_USER = "qorvel";

#undef KEYWARD_CONST
#undef KEYWARD_TEXT
#undef KEYWARD_LAYOUT
#undef KEYWARD_LAYOUT_NAME
#undef KEYWARD_LAYOUT_NAME_

#ifdef __cplusplus
extern "C" {
#endif

// ---- start and stop entries ---------------------------------------------
// Safe in any order and any number of times; the results carry no meaning.
KEYWARD_API int keyward_start(void);
KEYWARD_API int keyward_stop(void);
KEYWARD_API int trailbook_start(void);
KEYWARD_API int trailbook_stop(void);
KEYWARD_API int setbank_start(void);
KEYWARD_API int setbank_stop(void);

// ---- the logged-in user -------------------------------------------------
// Checks name and password. 0: the store remembers the user for this process
// by identity (a rename is followed, a deleted user holds nothing, a failed
// attempt keeps the previous user, keyward_stop forgets);
// ERR_NO_SUCH_USER, also for a name longer than any account's (31 bytes);
// ERR_BAD_PASSWORD, also for a password longer than any stored (255 bytes);
// another ERR_ code: not done (bad text, store unavailable). Every attempt
// is audited; for an unknown name the audit records only that, never the
// typed text. A store that can be read but not written (a read-only or full
// disk) still gives the verdict; the attempt then goes to the system log
// alone, saying the audit trail could not take it.
KEYWARD_API int login(const char* name, const char* password);

// The logged-in user's name, "" before a login or once that user is gone.
// The store owns the string; it stays valid until the next store call.
KEYWARD_API const char* get_cur_user(void);

// Copies the logged-in user's name into buf (32 bytes). 0 on success,
// nonzero when nobody is logged in or buf is null.
KEYWARD_API int get_cur_users(char* buf);

// The level of user (null: the logged-in user); 0 when unknown.
KEYWARD_API int get_user_group(const char* user);

// The permission mask of user (null: the logged-in user); 0 when unknown.
KEYWARD_API uint32_t get_user_limit(const char* user);

// Nonzero when user (null: the logged-in user) holds the item called name.
KEYWARD_API int chk_user_limit(const char* name, const char* user);

// ---- users --------------------------------------------------------------
// Two-call listing: with a null buffer returns the number of users; with a
// buffer fills exactly as many records as the last count call of this
// process reported (zero-filling those it lacks, never writing more, even
// when another process added users meanwhile) and returns that number.
// A fill without an earlier count writes nothing and fails.
KEYWARD_API int get_user_list(UserRecord* buf);

// Adds a user with a unique name, level 0..4 and the mask as given. 0 = added.
KEYWARD_API int add_user(const char* name, const char* password, int level, uint32_t mask);

// Renames and/or changes level and mask of the user called cur_name; the
// password stays. Fails on an unknown cur_name or a name taken by another
// user. 0 = changed.
KEYWARD_API int change_user(const char* cur_name, const char* new_name, int level, uint32_t mask);

// 0 = deleted.
KEYWARD_API int del_user(const char* name);

// 0 = changed; ERR_BAD_PASSWORD when old_password is wrong; other = failed.
KEYWARD_API int change_pwd(const char* name, const char* old_password, const char* new_password);

// Sets the empty password. 0 = cleared.
KEYWARD_API int clear_pwd(const char* name);

// ---- permission items ---------------------------------------------------
// Two-call listing in insertion order, as get_user_list.
KEYWARD_API int get_limit_list(LimitRecord* buf);

// Copies the title of the item called name into buf (32 bytes). 0 on
// success; nonzero (buf left empty) when there is no such item.
KEYWARD_API int get_limit_info(const char* name, char* buf);

// Appends an item. Negative: not added (name exists already, 32 items
// exist, bad text). Otherwise its position.
KEYWARD_API int add_limit(const char* name, const char* title);

// Removes the item at position pos (from 0). Every stored mask drops bit pos
// and the bits above move down one place, so no grant passes to the item
// that takes the position; an all-ones mask ("every item") stays all-ones.
// 0 = removed.
KEYWARD_API int del_limit(int pos);

#ifdef __cplusplus
}  // extern "C"
#endif
