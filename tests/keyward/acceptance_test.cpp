// A program that knows the store only through store/keyward.h, after
// `keyward init`: logs in, is refused, adds a user with a 31-byte CP936 name
// that a fresh process lists back byte for byte, and no password is in clear
// in the database file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "process.h"
#include "store/keyward.h"

namespace {

const char* g_self = nullptr;

// 15 Chinese characters in CP936 and one letter: 31 bytes.
const std::string kLongName =
    "\xcf\xb5\xcd\xb3\xc8\xa8\xcf\xde\xb9\xdc\xc0\xed\xd4\xb1\xd3\xc3\xbb\xa7\xc3\xfb"
    "\xb3\xc6\xb2\xe2\xca\xd4\xd6\xd0\xce\xc4x";

std::string hex(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", c);
        out += buf;
    }
    return out;
}

// The fresh process's part: every user name in hex, one a line.
int listUsers() {
    const int n = get_user_list(nullptr);
    if (n < 0) return 1;
    std::vector<UserRecord> recs(static_cast<std::size_t>(n));
    if (n > 0) get_user_list(recs.data());
    for (const auto& r : recs)
        std::printf("%s\n", hex(std::string(r.name, strnlen(r.name, sizeof r.name))).c_str());
    return 0;
}

}  // namespace

TEST(Acceptance, ProgramAgainstAnInitialisedStore) {
    char tmpl[] = "/tmp/keyward-accept-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::filesystem::path dir = tmpl;
    const std::string db = (dir / "keyward.db").string();
    setenv("KEYWARD_DB", db.c_str(), 1);
    setenv("KEYWARD_HASH_COST", "1", 1);
    setenv("TRAILBOOK_SOCKET", (dir / "no-log").c_str(), 1);

    const std::string rootPw = "Acc3pt-root-pw";
    const std::string userPw = "Acc3pt-user-pw";
    const auto init =
        kwtest::run(KEYWARD_CLI, {"init", "--admin", "root", "--password-stdin"}, rootPw + "\n");
    ASSERT_EQ(init.exitCode, 0) << init.err;

    keyward_start();
    EXPECT_EQ(login("root", rootPw.c_str()), KEYWARD_OK);
    EXPECT_EQ(login("root", "not-the-password"), ERR_BAD_PASSWORD);
    EXPECT_EQ(login("nobody", rootPw.c_str()), ERR_NO_SUCH_USER);
    ASSERT_EQ(add_user(kLongName.c_str(), userPw.c_str(), 1, 1), KEYWARD_OK);
    keyward_stop();

    const auto listed = kwtest::run(g_self, {"--list-users"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out, hex("root") + "\n" + hex(kLongName) + "\n");

    std::ifstream in(db, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.find(rootPw), std::string::npos);
    EXPECT_EQ(bytes.find(userPw), std::string::npos);

    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--list-users") == 0) return listUsers();
    g_self = argv[0];
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
