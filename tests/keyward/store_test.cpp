// The store's calls against a real database. Compiled with CP936 as the
// execution character set: Chinese literals here are the bytes callers pass.
#include <crypt.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <cstring>
#include <regex>

#include "process.h"
#include "support.h"

using namespace kwtest;

namespace {

std::string utf8(const char8_t* text) {
    return reinterpret_cast<const char*>(text);
}

// 15 Chinese characters (30 bytes) and one letter: 31 bytes, the longest name.
const std::string kName31 = "系统权限管理员用户名称测试中文x";
const std::string kName32 = "系统权限管理员用户名称测试中文字";

class LoginTest : public StoreTest {};
class UserTest : public StoreTest {};
class PasswordTest : public StoreTest {};
class TextTest : public StoreTest {};
class ListingTest : public StoreTest {};
class LimitTest : public StoreTest {};
class AuditTest : public StoreTest {};
class DatabaseTest : public StoreTest {};
class ConcurrencyTest : public StoreTest {};

}  // namespace

TEST(TextSource, ChineseLiteralsAreCp936) {
    // Everything below relies on two bytes per character.
    EXPECT_EQ(kName31.size(), 31u);
    EXPECT_EQ(kName32.size(), 32u);
    EXPECT_EQ(std::string(SYS_LIMIT_TITLE), "\xcf\xb5\xcd\xb3\xc8\xa8\xcf\xde");
}

TEST_F(LoginTest, ResultCodesAndTheLoggedInUser) {
    ASSERT_EQ(add_user("alice", "pw", 2, 5), KEYWARD_OK);
    EXPECT_EQ(login("bob", "pw"), ERR_NO_SUCH_USER);
    EXPECT_EQ(login("alice", "wrong"), ERR_BAD_PASSWORD);
    EXPECT_EQ(login("alice", ""), ERR_BAD_PASSWORD);
    EXPECT_STREQ(get_cur_user(), "");

    ASSERT_EQ(login("alice", "pw"), KEYWARD_OK);
    EXPECT_STREQ(get_cur_user(), "alice");
    char buf[40];
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(get_cur_users(buf), KEYWARD_OK);
    EXPECT_STREQ(buf, "alice");
    EXPECT_EQ(buf[32], 'Z') << "wrote past the 32-byte buffer";
    EXPECT_EQ(get_user_group(nullptr), 2);
    EXPECT_EQ(get_user_limit(nullptr), 5u);

    // A failed attempt as someone else leaves the logged-in user in place.
    EXPECT_EQ(login("alice", "nope"), ERR_BAD_PASSWORD);
    EXPECT_STREQ(get_cur_user(), "alice");
}

TEST_F(LoginTest, NobodyLoggedInHoldsNothing) {
    ASSERT_GE(add_limit("sys_limit", SYS_LIMIT_TITLE), 0);
    ASSERT_EQ(add_user("admin", "pw", 4, 0xFFFFFFFF), KEYWARD_OK);
    char buf[32] = "junk";
    EXPECT_EQ(get_cur_users(buf), ERR_NO_SUCH_USER);
    EXPECT_STREQ(get_cur_user(), "");
    EXPECT_EQ(get_user_group(nullptr), 0);
    EXPECT_EQ(get_user_limit(nullptr), 0u);
    EXPECT_EQ(chk_user_limit("sys_limit", nullptr), 0);
    // A named user answers without anyone logged in.
    EXPECT_EQ(get_user_group("admin"), 4);
    EXPECT_NE(chk_user_limit("sys_limit", "admin"), 0);
}

TEST_F(LoginTest, IdentityFollowsRenameAndEndsWithDeletion) {
    ASSERT_EQ(add_user("alice", "pw", 2, 1), KEYWARD_OK);
    ASSERT_EQ(login("alice", "pw"), KEYWARD_OK);
    const char* name = get_cur_user();
    ASSERT_EQ(change_user("alice", "alicia", 3, 6), KEYWARD_OK);
    EXPECT_STREQ(get_cur_user(), "alicia");
    EXPECT_STREQ(name, "alicia") << "an earlier answer must stay a valid string";
    EXPECT_EQ(get_user_group(nullptr), 3);
    EXPECT_EQ(get_user_limit(nullptr), 6u);

    ASSERT_EQ(del_user("alicia"), KEYWARD_OK);
    // A new user of the same name is someone else.
    ASSERT_EQ(add_user("alicia", "pw", 4, 0xFFFFFFFF), KEYWARD_OK);
    EXPECT_STREQ(get_cur_user(), "");
    char buf[32];
    EXPECT_EQ(get_cur_users(buf), ERR_NO_SUCH_USER);
    EXPECT_EQ(get_user_group(nullptr), 0);
    EXPECT_EQ(get_user_limit(nullptr), 0u);
}

TEST_F(LoginTest, UnusableStoredValuesNeverMatch) {
    ASSERT_EQ(add_user("locked", "pw", 1, 0), KEYWARD_OK);
    ASSERT_EQ(add_user("star", "pw", 1, 0), KEYWARD_OK);
    ASSERT_EQ(add_user("blank", "pw", 1, 0), KEYWARD_OK);
    keyward_stop();
    ASSERT_EQ(execOn(m_dbPath,
                     "UPDATE users SET hash = '!' || hash WHERE name = 'locked';"
                     "UPDATE users SET hash = '*' WHERE name = 'star';"
                     "UPDATE users SET hash = '' WHERE name = 'blank';"),
              SQLITE_OK);
    EXPECT_EQ(login("locked", "pw"), ERR_BAD_PASSWORD);
    EXPECT_EQ(login("star", "*"), ERR_BAD_PASSWORD);
    EXPECT_EQ(login("star", ""), ERR_BAD_PASSWORD);
    EXPECT_EQ(login("blank", ""), ERR_BAD_PASSWORD);
}

TEST_F(LoginTest, NullArgumentsFailWithoutCrashing) {
    ASSERT_EQ(add_user("alice", "pw", 2, 1), KEYWARD_OK);
    char buf[32];
    EXPECT_EQ(login(nullptr, "pw"), ERR_NULL_ARGUMENT);
    EXPECT_EQ(login("alice", nullptr), ERR_NULL_ARGUMENT);
    EXPECT_EQ(login(nullptr, nullptr), ERR_NULL_ARGUMENT);
    EXPECT_EQ(get_cur_users(nullptr), ERR_NULL_ARGUMENT);
    EXPECT_EQ(add_user(nullptr, "pw", 1, 0), ERR_NULL_ARGUMENT);
    EXPECT_EQ(add_user("bob", nullptr, 1, 0), ERR_NULL_ARGUMENT);
    EXPECT_EQ(change_user(nullptr, "x", 1, 0), ERR_NULL_ARGUMENT);
    EXPECT_EQ(change_user("alice", nullptr, 1, 0), ERR_NULL_ARGUMENT);
    EXPECT_EQ(del_user(nullptr), ERR_NULL_ARGUMENT);
    EXPECT_EQ(change_pwd(nullptr, "pw", "x"), ERR_NULL_ARGUMENT);
    EXPECT_EQ(change_pwd("alice", nullptr, "x"), ERR_NULL_ARGUMENT);
    EXPECT_EQ(change_pwd("alice", "pw", nullptr), ERR_NULL_ARGUMENT);
    EXPECT_EQ(clear_pwd(nullptr), ERR_NULL_ARGUMENT);
    EXPECT_EQ(get_limit_info(nullptr, buf), ERR_NULL_ARGUMENT);
    EXPECT_EQ(get_limit_info("sys_limit", nullptr), ERR_NULL_ARGUMENT);
    EXPECT_EQ(add_limit(nullptr, "t"), ERR_NULL_ARGUMENT);
    EXPECT_EQ(add_limit("n", nullptr), ERR_NULL_ARGUMENT);
    EXPECT_EQ(chk_user_limit(nullptr, nullptr), 0);
    EXPECT_EQ(userNames(), std::vector<std::string>{"alice"});
    EXPECT_EQ(login("alice", "pw"), KEYWARD_OK) << "a refused call changed the password";
}

TEST_F(LoginTest, ChkUserLimitFollowsPositions) {
    for (const char* item : {"a", "b", "c"}) ASSERT_GE(add_limit(item, "t"), 0);
    ASSERT_EQ(add_user("u", "", 1, 0b101), KEYWARD_OK);
    ASSERT_EQ(add_user("all", "", 1, 0xFFFFFFFF), KEYWARD_OK);
    EXPECT_NE(chk_user_limit("a", "u"), 0);
    EXPECT_EQ(chk_user_limit("b", "u"), 0);
    EXPECT_NE(chk_user_limit("c", "u"), 0);
    EXPECT_EQ(chk_user_limit("d", "u"), 0);
    EXPECT_EQ(chk_user_limit("a", "nobody"), 0);
    EXPECT_NE(chk_user_limit("b", "all"), 0);
    ASSERT_EQ(login("u", ""), KEYWARD_OK);
    EXPECT_NE(chk_user_limit("c", nullptr), 0);
    EXPECT_EQ(chk_user_limit("b", nullptr), 0);
}

TEST(Binding, LoginReachesTheStoreNotTheCLibrary) {
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&login), &info), 0);
    EXPECT_NE(std::strstr(info.dli_fname, "libkeyward.so"), nullptr) << info.dli_fname;
    void* versioned = dlvsym(RTLD_DEFAULT, "login", "KEYWARD_1.0");
    EXPECT_EQ(versioned, reinterpret_cast<void*>(&login));
}

TEST_F(LoginTest, UnknownUserThroughTheBoundName) {
    // glibc's login(const struct utmp*) returns nothing; only the store
    // answers ERR_NO_SUCH_USER.
    EXPECT_EQ(login("nobody", "x"), ERR_NO_SUCH_USER);
}

TEST_F(UserTest, AddUserRules) {
    EXPECT_EQ(add_user("a", "pw", 0, 0), KEYWARD_OK);
    EXPECT_EQ(add_user("b", "pw", 4, 0xFFFFFFFF), KEYWARD_OK);
    EXPECT_EQ(add_user("c", "pw", 1, 0x80000001), KEYWARD_OK);
    EXPECT_EQ(add_user("a", "other", 1, 0), ERR_USER_EXISTS) << "duplicate name";
    EXPECT_EQ(add_user("d", "pw", -1, 0), ERR_BAD_LEVEL);
    EXPECT_EQ(add_user("e", "pw", 5, 0), ERR_BAD_LEVEL);
    EXPECT_EQ(add_user("", "pw", 1, 0), ERR_EMPTY_NAME);

    EXPECT_EQ(userNames(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(get_user_group("a"), 0);
    EXPECT_EQ(get_user_limit("b"), 0xFFFFFFFFu);
    EXPECT_EQ(get_user_limit("c"), 0x80000001u)
        << "masks are kept as given, bits beyond the items too";
    EXPECT_EQ(login("a", "pw"), KEYWARD_OK) << "the duplicate must not have replaced the password";
}

TEST_F(UserTest, ChangeUserKeepsPasswordAndRefusesTakenNames) {
    ASSERT_EQ(add_user("alice", "apw", 1, 1), KEYWARD_OK);
    ASSERT_EQ(add_user("bob", "bpw", 1, 2), KEYWARD_OK);

    EXPECT_EQ(change_user("alice", "bob", 2, 3), ERR_USER_EXISTS);
    EXPECT_EQ(get_user_group("alice"), 1) << "a refused change must change nothing";
    EXPECT_EQ(change_user("carol", "dave", 2, 3), ERR_NO_SUCH_USER);
    EXPECT_EQ(change_user("alice", "x", 7, 3), ERR_BAD_LEVEL);

    EXPECT_EQ(change_user("alice", "alice", 3, 0xF0), KEYWARD_OK);
    EXPECT_EQ(get_user_group("alice"), 3);
    EXPECT_EQ(get_user_limit("alice"), 0xF0u);

    EXPECT_EQ(change_user("alice", "ann", 2, 9), KEYWARD_OK);
    EXPECT_EQ(login("ann", "apw"), KEYWARD_OK);
    EXPECT_EQ(login("alice", "apw"), ERR_NO_SUCH_USER);
    EXPECT_EQ(userNames(), (std::vector<std::string>{"ann", "bob"}))
        << "a rename keeps the position";
}

TEST_F(UserTest, DelUser) {
    ASSERT_EQ(add_user("alice", "pw", 1, 0), KEYWARD_OK);
    ASSERT_EQ(add_user("bob", "pw", 1, 0), KEYWARD_OK);
    EXPECT_EQ(del_user("alice"), KEYWARD_OK);
    EXPECT_EQ(del_user("alice"), ERR_NO_SUCH_USER);
    EXPECT_EQ(del_user("nobody"), ERR_NO_SUCH_USER);
    EXPECT_EQ(userNames(), std::vector<std::string>{"bob"});
}

TEST_F(PasswordTest, ChangeAndClear) {
    ASSERT_EQ(add_user("alice", "old", 1, 0), KEYWARD_OK);
    EXPECT_EQ(change_pwd("alice", "wrong", "new"), ERR_BAD_PASSWORD);
    EXPECT_EQ(login("alice", "old"), KEYWARD_OK);
    EXPECT_EQ(change_pwd("nobody", "old", "new"), ERR_NO_SUCH_USER);

    EXPECT_EQ(change_pwd("alice", "old", "新密码"), KEYWARD_OK);
    EXPECT_EQ(login("alice", "old"), ERR_BAD_PASSWORD);
    EXPECT_EQ(login("alice", "新密码"), KEYWARD_OK);

    EXPECT_EQ(clear_pwd("alice"), KEYWARD_OK);
    EXPECT_EQ(login("alice", "新密码"), ERR_BAD_PASSWORD);
    EXPECT_EQ(login("alice", ""), KEYWARD_OK);
    EXPECT_EQ(change_pwd("alice", "", "again"), KEYWARD_OK);
    EXPECT_EQ(login("alice", "again"), KEYWARD_OK);
    EXPECT_EQ(clear_pwd("nobody"), ERR_NO_SUCH_USER);
}

TEST_F(PasswordTest, HashCostIsCarriedByEachHash) {
    ASSERT_EQ(add_user("cheap", "pw", 1, 0), KEYWARD_OK);
    keyward_stop();
    setenv("KEYWARD_HASH_COST", "2", 1);
    ASSERT_EQ(add_user("dearer", "pw", 1, 0), KEYWARD_OK);
    auto db = openDirect(m_dbPath);
    const auto hashes = column(db.get(), "SELECT hash FROM users ORDER BY id");
    ASSERT_EQ(hashes.size(), 2u);
    EXPECT_EQ(hashes[0].rfind("$y$", 0), 0u);
    EXPECT_NE(hashes[0].substr(0, 6), hashes[1].substr(0, 6))
        << "the cost is part of the stored setting";
    EXPECT_EQ(login("cheap", "pw"), KEYWARD_OK);
    EXPECT_EQ(login("dearer", "pw"), KEYWARD_OK);
}

// The cost part of a yescrypt hash ("$y$j9T$"), as libxcrypt writes it.
std::string costPart(unsigned long cost) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (crypt_gensalt_rn("$y$", cost, nullptr, 0, setting, sizeof setting) == nullptr) return "";
    const std::string text = setting;
    return text.substr(0, text.find('$', 3) + 1);
}

// A station's environment may make hashes dearer than the store's setting,
// never cheaper; a store without a setting takes what it is given.
TEST_F(PasswordTest, TheEnvironmentsCostOnlyRaisesTheStoresSetting) {
    struct Case {
        const char* setting;      // the store's, or nullptr for none
        const char* environment;  // KEYWARD_HASH_COST, or nullptr
        unsigned long cost;
    };
    const Case cases[] = {
        {"5", "1", 5}, {"5", "6", 6}, {"5", nullptr, 5}, {nullptr, "2", 2}, {nullptr, nullptr, 7},
    };
    ASSERT_EQ(add_user("first", "", 1, 0), KEYWARD_OK);
    int i = 0;
    for (const Case& c : cases) {
        keyward_stop();
        ASSERT_EQ(execOn(m_dbPath, c.setting ? std::string("INSERT OR REPLACE INTO settings "
                                                           "VALUES ('hash_cost', '") +
                                                   c.setting + "')"
                                             : std::string("DELETE FROM settings")),
                  SQLITE_OK);
        if (c.environment)
            setenv("KEYWARD_HASH_COST", c.environment, 1);
        else
            unsetenv("KEYWARD_HASH_COST");
        const std::string name = "u" + std::to_string(i++);
        ASSERT_EQ(add_user(name.c_str(), "pw", 1, 0), KEYWARD_OK);
        const auto hash = column(openDirect(m_dbPath).get(),
                                 "SELECT hash FROM users WHERE name = '" + name + "'");
        ASSERT_EQ(hash.size(), 1u);
        EXPECT_EQ(hash[0].rfind(costPart(c.cost), 0), 0u)
            << (c.setting ? c.setting : "-") << " " << (c.environment ? c.environment : "-");
    }
}

TEST_F(PasswordTest, NoPasswordInClearInTheDatabaseFile) {
    const std::vector<std::string> secrets = {"Kx7-first-secret", "Qm4-second-secret",
                                              "Wz9-third-secret", "Rt2-wrong-guess", "机密口令"};
    ASSERT_EQ(add_user("alice", secrets[0].c_str(), 1, 0), KEYWARD_OK);
    ASSERT_EQ(add_user("bob", secrets[4].c_str(), 1, 0), KEYWARD_OK);
    ASSERT_EQ(change_pwd("alice", secrets[0].c_str(), secrets[1].c_str()), KEYWARD_OK);
    ASSERT_EQ(change_pwd("alice", secrets[3].c_str(), secrets[2].c_str()), ERR_BAD_PASSWORD);
    ASSERT_EQ(login("alice", secrets[3].c_str()), ERR_BAD_PASSWORD);
    ASSERT_EQ(login("bob", secrets[4].c_str()), KEYWARD_OK);
    keyward_stop();

    const std::string bytes = readBytes(m_dbPath);
    ASSERT_NE(bytes.find("alice"), std::string::npos) << "the file read is the store's";
    for (const auto& s : secrets) EXPECT_EQ(bytes.find(s), std::string::npos) << s;
    EXPECT_EQ(bytes.find(utf8(u8"机密口令")), std::string::npos);
}

TEST_F(TextTest, NameLengthsCountCp936Bytes) {
    const std::string ascii31(31, 'a');
    const std::string ascii32(32, 'b');
    EXPECT_EQ(add_user(ascii31.c_str(), "", 1, 0), KEYWARD_OK);
    EXPECT_EQ(add_user(ascii32.c_str(), "", 1, 0), ERR_TOO_LONG);
    EXPECT_EQ(add_user(kName31.c_str(), "", 1, 0), KEYWARD_OK);
    EXPECT_EQ(add_user(kName32.c_str(), "", 1, 0), ERR_TOO_LONG);
    EXPECT_EQ(change_user(ascii31.c_str(), ascii32.c_str(), 1, 0), ERR_TOO_LONG);
    // No account has a name longer than 31 bytes, nor a password longer than
    // 255: a login with one is answered as for any that does not match.
    const std::string password256(256, 'p');
    EXPECT_EQ(login(ascii32.c_str(), ""), ERR_NO_SUCH_USER);
    EXPECT_EQ(login(kName32.c_str(), password256.c_str()), ERR_NO_SUCH_USER);
    EXPECT_EQ(login(ascii31.c_str(), password256.c_str()), ERR_BAD_PASSWORD);
    EXPECT_EQ(login("ghost", password256.c_str()), ERR_NO_SUCH_USER);

    // A fresh listing gives the 31-byte names back byte for byte.
    keyward_stop();
    EXPECT_EQ(userNames(), (std::vector<std::string>{ascii31, kName31}));
    auto db = openDirect(m_dbPath);
    EXPECT_EQ(column(db.get(), "SELECT name FROM users ORDER BY id").at(1),
              utf8(u8"系统权限管理员用户名称测试中文x"))
        << "the database holds UTF-8";
}

TEST_F(TextTest, ItemTextLimits) {
    EXPECT_GE(add_limit(kName31.c_str(), kName31.c_str()), 0);
    EXPECT_EQ(add_limit(kName32.c_str(), "t"), ERR_TOO_LONG);
    EXPECT_EQ(add_limit("n", kName32.c_str()), ERR_TOO_LONG);
    EXPECT_GE(add_limit("untitled", ""), 0);
    EXPECT_EQ(limitNames(), (std::vector<std::string>{kName31, "untitled"}));

    char buf[40];
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(get_limit_info(kName31.c_str(), buf), KEYWARD_OK);
    EXPECT_EQ(std::string(buf), kName31);
    EXPECT_EQ(buf[32], 'Z') << "wrote past the 32-byte buffer";
    EXPECT_EQ(get_limit_info("missing", buf), ERR_NO_SUCH_ITEM);
    EXPECT_STREQ(buf, "") << "no item leaves the buffer empty";
}

TEST_F(TextTest, BytesThatAreNotCp936AreRefused) {
    ASSERT_EQ(add_user("alice", "pw", 1, 0), KEYWARD_OK);
    const char* invalid[] = {
        "\xff\xfe",   // 0xFF is no lead byte
        "ab\x81",     // lead byte cut off at the end
        "\x81\x20x",  // trail byte out of range
        "tab\there",  // control characters are no name
    };
    for (const char* text : invalid) {
        EXPECT_EQ(add_user(text, "pw", 1, 0), ERR_INVALID_TEXT) << text;
        EXPECT_EQ(login(text, "pw"), ERR_INVALID_TEXT) << text;
        EXPECT_EQ(change_user("alice", text, 1, 0), ERR_INVALID_TEXT) << text;
        EXPECT_EQ(add_limit(text, "t"), ERR_INVALID_TEXT) << text;
        EXPECT_EQ(add_limit("item", text), ERR_INVALID_TEXT) << text;
    }
    EXPECT_EQ(add_user("bob", "\xff", 1, 0), ERR_INVALID_TEXT) << "passwords are CP936 text too";
    EXPECT_EQ(change_pwd("alice", "pw", "ab\x81"), ERR_INVALID_TEXT);
    EXPECT_EQ(userNames(), std::vector<std::string>{"alice"});
    EXPECT_TRUE(limitNames().empty());
    EXPECT_EQ(login("alice", "pw"), KEYWARD_OK);
}

TEST_F(TextTest, PasswordLimitAndEmptyPassword) {
    const std::string pw255(255, 'p');
    const std::string pw256(256, 'p');
    EXPECT_EQ(add_user("long", pw255.c_str(), 1, 0), KEYWARD_OK);
    EXPECT_EQ(add_user("longer", pw256.c_str(), 1, 0), ERR_TOO_LONG);
    EXPECT_EQ(add_user("empty", "", 1, 0), KEYWARD_OK);
    EXPECT_EQ(login("long", pw255.c_str()), KEYWARD_OK);
    EXPECT_EQ(login("empty", ""), KEYWARD_OK);
    EXPECT_EQ(login("empty", " "), ERR_BAD_PASSWORD);
}

TEST_F(ListingTest, CountThenFillInInsertionOrder) {
    EXPECT_EQ(get_user_list(nullptr), 0);
    EXPECT_EQ(get_limit_list(nullptr), 0);
    ASSERT_EQ(add_user("zed", "", 3, 7), KEYWARD_OK);
    ASSERT_EQ(add_user("amy", "", 1, 0xFFFFFFFF), KEYWARD_OK);
    ASSERT_EQ(get_user_list(nullptr), 2);
    UserRecord recs[2];
    std::memset(recs, 0xAB, sizeof recs);
    EXPECT_EQ(get_user_list(recs), 2);
    EXPECT_STREQ(recs[0].name, "zed");
    EXPECT_EQ(recs[0].level, 3);
    EXPECT_EQ(recs[0].mask, 7u);
    EXPECT_STREQ(recs[1].name, "amy");
    EXPECT_EQ(recs[1].mask, 0xFFFFFFFFu);
    for (std::size_t i = std::strlen(recs[0].name); i < sizeof recs[0].name; ++i)
        EXPECT_EQ(recs[0].name[i], 0) << "name bytes after the text are zero";

    ASSERT_GE(add_limit("z", "last"), 0);
    ASSERT_GE(add_limit("a", "first"), 0);
    EXPECT_EQ(limitNames(), (std::vector<std::string>{"z", "a"}));
}

TEST_F(ListingTest, FillNeverWritesMoreThanTheCountReported) {
    ASSERT_EQ(add_user("u1", "", 1, 0), KEYWARD_OK);
    ASSERT_EQ(add_user("u2", "", 1, 0), KEYWARD_OK);
    ASSERT_GE(add_limit("i1", "t"), 0);
    ASSERT_EQ(get_user_list(nullptr), 2);
    ASSERT_EQ(get_limit_list(nullptr), 1);

    // Another process adds between the two calls.
    ASSERT_TRUE(inChild(
        [] { return add_user("u3", "", 1, 0) == KEYWARD_OK && add_limit("i2", "t") >= 0; }));

    UserRecord users[3];
    std::memset(users, 0xAB, sizeof users);
    EXPECT_EQ(get_user_list(users), 2);
    EXPECT_STREQ(users[1].name, "u2");
    EXPECT_EQ(static_cast<unsigned char>(users[2].name[0]), 0xAB)
        << "wrote a record the count did not announce";

    LimitRecord items[2];
    std::memset(items, 0xAB, sizeof items);
    EXPECT_EQ(get_limit_list(items), 1);
    EXPECT_STREQ(items[0].name, "i1");
    EXPECT_EQ(static_cast<unsigned char>(items[1].name[0]), 0xAB);
}

TEST_F(ListingTest, FillZeroesRecordsThatWentMissing) {
    ASSERT_EQ(add_user("u1", "", 1, 1), KEYWARD_OK);
    ASSERT_EQ(add_user("u2", "", 2, 2), KEYWARD_OK);
    ASSERT_GE(add_limit("i1", "t1"), 0);
    ASSERT_GE(add_limit("i2", "t2"), 0);
    ASSERT_EQ(get_user_list(nullptr), 2);
    ASSERT_EQ(get_limit_list(nullptr), 2);
    ASSERT_TRUE(inChild([] { return del_user("u1") == KEYWARD_OK && del_limit(1) == KEYWARD_OK; }));

    UserRecord users[2];
    std::memset(users, 0xAB, sizeof users);
    EXPECT_EQ(get_user_list(users), 2);
    EXPECT_STREQ(users[0].name, "u2");
    const UserRecord zero{};
    EXPECT_EQ(std::memcmp(&users[1], &zero, sizeof zero), 0);

    LimitRecord items[2];
    std::memset(items, 0xAB, sizeof items);
    EXPECT_EQ(get_limit_list(items), 2);
    EXPECT_STREQ(items[0].name, "i1");
    const LimitRecord none{};
    EXPECT_EQ(std::memcmp(&items[1], &none, sizeof none), 0);
}

TEST_F(ListingTest, StoredNamesComeBackAsCp936OrEmpty) {
    // Written past the store, as a hand edit would; each row's outcome must
    // not depend on the row before it.
    struct Row {
        std::string stored;  // UTF-8, or not
        std::string listed;  // CP936
    };
    const Row rows[] = {
        {"\xff", ""},  // not UTF-8
        {utf8(u8"用户"), "用户"},
        {utf8(u8"\U0001F600"), ""},  // no CP936 for it
        {utf8(u8"\U0001F600用户"), ""},
        {utf8(u8"名"), "名"},
        {std::string(31, 'a'), std::string(31, 'a')},
        {std::string(32, 'b'), ""},  // no room for the terminator
        {utf8(u8"系统权限管理员用户名称测试中文x"), kName31},
        {utf8(u8"系统权限管理员用户名称测试中文字"), ""},
        {"plain", "plain"},
    };
    ASSERT_EQ(get_user_list(nullptr), 0);
    keyward_stop();
    auto db = openDirect(m_dbPath);
    for (const Row& row : rows) {
        std::string hex;
        for (unsigned char c : row.stored)
            hex += "0123456789ABCDEF"[c >> 4], hex += "0123456789ABCDEF"[c & 15];
        ASSERT_EQ(exec(db.get(), "INSERT INTO users(name, level, mask, hash) VALUES (CAST(X'" +
                                     hex + "' AS TEXT), 1, 0, 'x')"),
                  SQLITE_OK);
    }
    std::vector<std::string> expected;
    for (const Row& row : rows) expected.push_back(row.listed);
    EXPECT_EQ(userNames(), expected);
}

TEST_F(ListingTest, FillWithoutACountWritesNothing) {
    ASSERT_EQ(add_user("u1", "", 1, 0), KEYWARD_OK);
    ASSERT_GE(add_limit("i1", "t"), 0);
    UserRecord user;
    std::memset(&user, 0xAB, sizeof user);
    EXPECT_EQ(get_user_list(&user), ERR_NOT_COUNTED);
    EXPECT_EQ(static_cast<unsigned char>(user.name[0]), 0xAB);
    LimitRecord item;
    std::memset(&item, 0xAB, sizeof item);
    EXPECT_EQ(get_limit_list(&item), ERR_NOT_COUNTED);
    EXPECT_EQ(static_cast<unsigned char>(item.name[0]), 0xAB);
}

TEST_F(LimitTest, AddLimitAppendsOnceAndStopsAt32) {
    EXPECT_EQ(add_limit("sys_limit", SYS_LIMIT_TITLE), 0);
    EXPECT_EQ(add_limit("sys_limit", SYS_LIMIT_TITLE), ERR_ITEM_EXISTS)
        << "registered at every start, kept once";
    EXPECT_EQ(add_limit("sys_limit", "other title"), ERR_ITEM_EXISTS);
    for (int i = 1; i < KEYWARD_MAX_LIMITS; ++i)
        EXPECT_EQ(add_limit(("item" + std::to_string(i)).c_str(), "t"), i);
    EXPECT_EQ(add_limit("item32", "t"), ERR_ITEMS_FULL);
    EXPECT_EQ(get_limit_list(nullptr), KEYWARD_MAX_LIMITS);

    char title[32];
    EXPECT_EQ(get_limit_info("sys_limit", title), KEYWARD_OK);
    EXPECT_STREQ(title, SYS_LIMIT_TITLE);
}

TEST_F(LimitTest, DeletingAnItemRealignsEveryMask) {
    for (const char* item : {"a", "b", "c", "d"}) ASSERT_GE(add_limit(item, "t"), 0);
    ASSERT_EQ(add_user("abd", "", 1, 0b1011), KEYWARD_OK);
    ASSERT_EQ(add_user("all", "", 4, 0xFFFFFFFF), KEYWARD_OK);
    ASSERT_EQ(add_user("high", "", 1, 0x80000004), KEYWARD_OK);

    EXPECT_EQ(del_limit(1), KEYWARD_OK);
    EXPECT_EQ(limitNames(), (std::vector<std::string>{"a", "c", "d"}));
    EXPECT_EQ(get_user_limit("abd"), 0b101u);
    EXPECT_NE(chk_user_limit("d", "abd"), 0);
    EXPECT_EQ(chk_user_limit("c", "abd"), 0) << "the grant of b must not pass to c";
    EXPECT_EQ(get_user_limit("all"), 0xFFFFFFFFu);
    EXPECT_EQ(get_user_limit("high"), 0x40000002u);

    EXPECT_EQ(del_limit(3), ERR_NO_SUCH_ITEM);
    EXPECT_EQ(del_limit(-1), ERR_NO_SUCH_ITEM);
    EXPECT_EQ(get_user_limit("abd"), 0b101u) << "a refused delete must not shift masks";

    EXPECT_EQ(del_limit(2), KEYWARD_OK);
    EXPECT_EQ(get_user_limit("abd"), 0b1u);
}

TEST_F(LimitTest, DeletingAnItemRewritesOnlyTheMasksThatChange) {
    for (const char* item : {"a", "b", "c", "d"}) ASSERT_GE(add_limit(item, "t"), 0);
    struct User {
        const char* name;
        std::uint32_t before, after;
        bool written;
    };
    const User users[] = {
        {"none", 0, 0, false},
        {"below", 0b0011, 0b0011, false},
        {"all", 0xFFFFFFFF, 0xFFFFFFFF, false},
        {"at", 0b0100, 0, true},
        {"above", 0b1000, 0b0100, true},
        {"mixed", 0b1101, 0b0101, true},
        {"top", 0x80000000, 0x40000000, true},
    };
    for (const User& u : users) ASSERT_EQ(add_user(u.name, "", 1, u.before), KEYWARD_OK);
    keyward_stop();
    ASSERT_EQ(execOn(m_dbPath,
                     "CREATE TABLE written(name TEXT);"
                     "CREATE TRIGGER note_write AFTER UPDATE ON users "
                     "BEGIN INSERT INTO written VALUES (new.name); END;"),
              SQLITE_OK);
    ASSERT_EQ(del_limit(2), KEYWARD_OK);
    std::vector<std::string> written;
    for (const User& u : users) {
        EXPECT_EQ(get_user_limit(u.name), u.after) << u.name;
        if (u.written) written.push_back(u.name);
    }
    auto db = openDirect(m_dbPath);
    EXPECT_EQ(column(db.get(), "SELECT name FROM written ORDER BY rowid"), written);
}

TEST_F(LimitTest, DeletingTheLastOfThirtyTwo) {
    for (int i = 0; i < KEYWARD_MAX_LIMITS; ++i)
        // Appended rather than "i" + std::to_string(i): GCC 12 at -O3 sees a
        // string inserted into a temporary as overlapping (-Wrestrict, a false
        // alarm) and a Release build with warnings as errors stops.
        ASSERT_EQ(add_limit(std::string("i").append(std::to_string(i)).c_str(), "t"), i);
    ASSERT_EQ(add_user("u", "", 1, 0x80000001), KEYWARD_OK);
    EXPECT_EQ(del_limit(31), KEYWARD_OK);
    EXPECT_EQ(get_user_limit("u"), 1u);
    EXPECT_EQ(add_limit("again", "t"), 31);
    EXPECT_EQ(chk_user_limit("again", "u"), 0);
}

namespace {

struct AuditRow {
    std::string actor, action, target, outcome;
    bool operator==(const AuditRow&) const = default;
};

std::ostream& operator<<(std::ostream& os, const AuditRow& r) {
    return os << "{" << r.actor << ", " << r.action << ", " << r.target << ", " << r.outcome << "}";
}

std::vector<AuditRow> auditRows(sqlite3* db) {
    const auto lines =
        column(db,
               "SELECT ifnull(actor, '-') || '|' || action || '|' || ifnull(target, '-') || '|' || "
               "outcome FROM audit ORDER BY id");
    std::vector<AuditRow> rows;
    for (const auto& line : lines) {
        std::vector<std::string> f;
        std::size_t start = 0;
        for (std::size_t bar; (bar = line.find('|', start)) != std::string::npos; start = bar + 1)
            f.push_back(line.substr(start, bar - start));
        f.push_back(line.substr(start));
        rows.push_back({f.at(0), f.at(1), f.at(2), f.at(3)});
    }
    return rows;
}

}  // namespace

TEST_F(AuditTest, EveryAttemptAndChangeIsRecorded) {
    EXPECT_EQ(login("ghost", "pw"), ERR_NO_SUCH_USER);
    ASSERT_EQ(add_user("admin", "Secret-1", 4, 0xFFFFFFFF), KEYWARD_OK);
    EXPECT_EQ(login("admin", "Wrong-1"), ERR_BAD_PASSWORD);
    ASSERT_EQ(login("admin", "Secret-1"), KEYWARD_OK);
    ASSERT_EQ(add_user("bob", "Secret-2", 1, 0), KEYWARD_OK);
    EXPECT_EQ(add_user("bob", "Secret-3", 1, 0), ERR_USER_EXISTS);
    ASSERT_EQ(change_user("bob", "rob", 2, 1), KEYWARD_OK);
    ASSERT_EQ(change_pwd("rob", "Secret-2", "Secret-4"), KEYWARD_OK);
    ASSERT_EQ(clear_pwd("rob"), KEYWARD_OK);
    ASSERT_GE(add_limit("item", "t"), 0);
    ASSERT_EQ(del_limit(0), KEYWARD_OK);
    ASSERT_EQ(del_user("rob"), KEYWARD_OK);
    // Deleting oneself, and what follows, still names who acted.
    ASSERT_EQ(del_user("admin"), KEYWARD_OK);
    ASSERT_GE(add_limit("after", "t"), 0);

    auto db = openDirect(m_dbPath);
    const std::vector<AuditRow> expected = {
        {"-", "login", "-", "no_such_user"},      {"-", "user_add", "admin", "ok"},
        {"-", "login", "admin", "bad_password"},  {"-", "login", "admin", "ok"},
        {"admin", "user_add", "bob", "ok"},       {"admin", "user_add", "bob", "name_taken"},
        {"admin", "user_change", "bob", "ok"},    {"admin", "password_change", "rob", "ok"},
        {"admin", "password_clear", "rob", "ok"}, {"admin", "item_add", "item", "ok"},
        {"admin", "item_delete", "item", "ok"},   {"admin", "user_delete", "rob", "ok"},
        {"admin", "user_delete", "admin", "ok"},  {"admin", "item_add", "after", "ok"},
    };
    EXPECT_EQ(auditRows(db.get()), expected);

    const auto times = column(db.get(), "SELECT at FROM audit");
    const std::regex utc(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
    for (const auto& t : times) EXPECT_TRUE(std::regex_match(t, utc)) << t;
    const auto all = column(db.get(),
                            "SELECT group_concat(ifnull(actor,'') || ifnull(target,'') || "
                            "ifnull(detail,'') || outcome, ' ') FROM audit");
    // The unknown name may be a password typed into the name field.
    for (const char* secret : {"Secret-1", "Secret-2", "Secret-3", "Secret-4", "Wrong-1", "ghost"})
        EXPECT_EQ(all.at(0).find(secret), std::string::npos) << secret;
}

// Each link is HMAC-SHA-256, under the key beside the store, over the
// previous link and the row's fields, length-prefixed; checked here against
// openssl's own HMAC, so the links stay what other tools can verify.
TEST_F(AuditTest, EachLinkIsHmacSha256OfThePreviousLinkAndTheRowUnderTheStoresKey) {
    ASSERT_EQ(add_user("张三", "Secret-1", 4, 1), KEYWARD_OK);
    EXPECT_EQ(login("nobody", "pw"), ERR_NO_SUCH_USER);  // a row with NULL fields
    keyward_stop();
    const std::string key = readBytes(m_dbPath + ".key");
    ASSERT_EQ(key.size(), 65u) << "64 hex digits and a newline";
    EXPECT_EQ(
        std::filesystem::status(m_dbPath + ".key").permissions() & std::filesystem::perms::all,
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    auto db = openDirect(m_dbPath);
    const std::string field =
        "CASE WHEN %1 IS NULL THEN 'N;' ELSE length(CAST(%1 AS BLOB)) || ':' || %1 || ';' END";
    std::string row;
    for (const char* name :
         {"id", "at", "actor", "action", "target", "detail", "outcome", "pid", "os_user", "host"})
        row += " || " + std::regex_replace(field, std::regex("%1"),
                                           std::string("CAST(") + name + " AS TEXT)");
    const auto data = column(db.get(),
                             "SELECT coalesce(length(CAST(lag(hash) OVER w AS BLOB)) || "
                             "':' || lag(hash) OVER w || ';', '0:;')" +
                                 row + " FROM audit WINDOW w AS (ORDER BY id) ORDER BY id");
    const auto hashes = column(db.get(), "SELECT hash FROM audit ORDER BY id");
    ASSERT_EQ(data.size(), hashes.size());
    ASSERT_GE(hashes.size(), 2u);
    EXPECT_EQ(column(db.get(), "SELECT count(*) FROM audit WHERE os_user IS NULL OR host IS NULL"),
              std::vector<std::string>{"0"})
        << "every row names who asked";
    for (std::size_t i = 0; i < data.size(); ++i) {
        const auto mac =
            run("/usr/bin/openssl",
                {"dgst", "-sha256", "-mac", "HMAC", "-macopt", "hexkey:" + key.substr(0, 64), "-r"},
                data[i]);
        ASSERT_EQ(mac.exitCode, 0) << mac.err;
        EXPECT_EQ(hashes[i], mac.out.substr(0, 64)) << "row " << i + 1 << ": " << data[i];
    }
}

TEST_F(AuditTest, TrailIsAppendOnly) {
    ASSERT_EQ(login("ghost", "pw"), ERR_NO_SUCH_USER);
    keyward_stop();
    auto db = openDirect(m_dbPath);
    EXPECT_NE(exec(db.get(), "UPDATE audit SET outcome = 'ok'"), SQLITE_OK);
    EXPECT_NE(exec(db.get(), "DELETE FROM audit"), SQLITE_OK);
    EXPECT_EQ(column(db.get(), "SELECT outcome FROM audit"),
              std::vector<std::string>{"no_such_user"});
}

TEST_F(DatabaseTest, PersistsAcrossStopAndStart) {
    keyward_start();
    ASSERT_EQ(add_user("alice", "pw", 3, 0x11), KEYWARD_OK);
    ASSERT_GE(add_limit("sys_limit", SYS_LIMIT_TITLE), 0);
    keyward_stop();
    keyward_stop();
    keyward_start();
    keyward_start();
    EXPECT_EQ(userNames(), std::vector<std::string>{"alice"});
    EXPECT_EQ(get_user_limit("alice"), 0x11u);
    EXPECT_EQ(limitNames(), std::vector<std::string>{"sys_limit"});
    EXPECT_EQ(login("alice", "pw"), KEYWARD_OK);
    keyward_stop();
    EXPECT_STREQ(get_cur_user(), "") << "stop ends the login";
    EXPECT_EQ(get_user_group("alice"), 3) << "calls after stop reopen";
}

TEST_F(DatabaseTest, AnUnchangedStartWritesNothing) {
    ASSERT_EQ(add_limit(SYS_LIMIT_NAME, SYS_LIMIT_TITLE), 0);
    ASSERT_EQ(add_user("op", "pw", 1, 1), KEYWARD_OK);
    keyward_stop();
    struct stat before {};
    ASSERT_EQ(stat(m_dbPath.c_str(), &before), 0);
    const std::string bytes = readBytes(m_dbPath);

    // What the program does as it starts, up to its login window.
    keyward_start();
    EXPECT_EQ(add_limit(SYS_LIMIT_NAME, SYS_LIMIT_TITLE), ERR_ITEM_EXISTS);
    EXPECT_EQ(add_limit(SYS_LIMIT_NAME, "another title"), ERR_ITEM_EXISTS);
    EXPECT_EQ(limitNames(), std::vector<std::string>{SYS_LIMIT_NAME});
    EXPECT_EQ(userNames(), std::vector<std::string>{"op"});
    keyward_stop();

    struct stat after {};
    ASSERT_EQ(stat(m_dbPath.c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(readBytes(m_dbPath), bytes) << "the audit trail and all else as it was";
}

TEST_F(DatabaseTest, FileFolderAndConnectionSettings) {
    keyward_start();
    struct stat st {};
    ASSERT_EQ(stat(m_dbPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((m_dir / "store").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    auto db = openDirect(m_dbPath);
    EXPECT_EQ(column(db.get(), "PRAGMA journal_mode"), std::vector<std::string>{"delete"});
    EXPECT_EQ(column(db.get(), "PRAGMA user_version"), std::vector<std::string>{"5"});
    EXPECT_EQ(column(db.get(), "PRAGMA application_id"),
              std::vector<std::string>{std::to_string(0x4b575244)});
}

TEST_F(DatabaseTest, DefaultPaths) {
    unsetenv("KEYWARD_DB");
    setenv("XDG_DATA_HOME", (m_dir / "xdg").c_str(), 1);
    ASSERT_EQ(add_user("x", "", 1, 0), KEYWARD_OK);
    EXPECT_TRUE(std::filesystem::exists(m_dir / "xdg" / "varnock" / "keyward.db"));
    keyward_stop();

    const std::string home = getenv("HOME") != nullptr ? getenv("HOME") : "";
    unsetenv("XDG_DATA_HOME");
    setenv("HOME", (m_dir / "home").c_str(), 1);
    ASSERT_EQ(add_user("y", "", 1, 0), KEYWARD_OK);
    keyward_stop();
    setenv("HOME", home.c_str(), 1);
    EXPECT_TRUE(
        std::filesystem::exists(m_dir / "home" / ".local" / "share" / "varnock" / "keyward.db"));
}

TEST_F(DatabaseTest, NewerSchemaFailsCleanly) {
    keyward_start();
    keyward_stop();
    ASSERT_EQ(execOn(m_dbPath, "PRAGMA user_version = 99"), SQLITE_OK);
    EXPECT_EQ(add_user("x", "", 1, 0), ERR_UNAVAILABLE);
    EXPECT_EQ(login("x", ""), ERR_UNAVAILABLE);
    EXPECT_EQ(get_user_list(nullptr), ERR_UNAVAILABLE);
    EXPECT_STREQ(get_cur_user(), "");
}

TEST_F(DatabaseTest, UnusablePathFailsCleanly) {
    setenv("KEYWARD_DB", "/proc/keyward-cannot-be-here/k.db", 1);
    EXPECT_EQ(add_user("x", "", 1, 0), ERR_UNAVAILABLE);
    EXPECT_EQ(add_limit("x", "t"), ERR_UNAVAILABLE);
    EXPECT_EQ(get_user_list(nullptr), ERR_UNAVAILABLE);
    EXPECT_EQ(get_user_group("x"), 0);
}

TEST_F(ConcurrencyTest, TwoProcessesWritingAtOnce) {
    constexpr int kEach = 40;
    auto addMany = [](const char* prefix) {
        int failures = 0;
        for (int i = 0; i < kEach; ++i)
            failures += add_user((prefix + std::to_string(i)).c_str(), "pw", 1, 0) != KEYWARD_OK;
        return failures == 0;
    };
    // The parent's connection is open before the fork; the child must not
    // use it.
    ASSERT_EQ(get_user_list(nullptr), 0);
    const pid_t pid = fork();
    if (pid == 0) _exit(addMany("child") ? 0 : 1);
    const bool parentOk = addMany("parent");
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(parentOk);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    const auto names = userNames();
    EXPECT_EQ(names.size(), 2u * kEach);
    for (int i = 0; i < kEach; ++i) {
        EXPECT_NE(std::find(names.begin(), names.end(), "child" + std::to_string(i)), names.end());
        EXPECT_NE(std::find(names.begin(), names.end(), "parent" + std::to_string(i)), names.end());
    }
    auto db = openDirect(m_dbPath);
    EXPECT_EQ(column(db.get(), "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
    EXPECT_EQ(column(db.get(), "SELECT count(*) FROM audit WHERE outcome = 'ok'"),
              std::vector<std::string>{std::to_string(2 * kEach)});
}

TEST(PlatformLibraries, StartAndStopInAnyOrder) {
    EXPECT_EQ(trailbook_stop(), 0);
    EXPECT_EQ(setbank_stop(), 0);
    EXPECT_EQ(trailbook_start(), 0);
    EXPECT_EQ(trailbook_start(), 0);
    EXPECT_EQ(setbank_start(), 0);
    EXPECT_EQ(trailbook_stop(), 0);
    EXPECT_EQ(trailbook_stop(), 0);
    EXPECT_EQ(setbank_stop(), 0);
    EXPECT_EQ(keyward_stop(), 0);
    EXPECT_EQ(keyward_stop(), 0);
}
