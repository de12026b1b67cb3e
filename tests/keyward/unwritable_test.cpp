// A store that can be read but not written (a read-only folder, file or
// file system, a full disk): logins still get their true verdict, noted in
// the system log since the audit trail cannot take them, and every change
// fails cleanly, leaving the store as it was.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <sstream>

#include "support.h"

using namespace kwtest;

namespace {

enum class Way { ReadOnlyFolder, ReadOnlyFile, ReadOnlyFileSystem, FullFileSystem };

bool needsMount(Way way) {
    return way == Way::ReadOnlyFileSystem || way == Way::FullFileSystem;
}

// Not even root may write: immutable for root, without write bits for others.
bool protect(const std::string& path, bool on) {
    if (geteuid() == 0)
        return std::system(
                   ("chattr " + std::string(on ? "+i " : "-i ") + path + " 2>/dev/null").c_str()) ==
               0;
    return chmod(path.c_str(), on ? 0500 : 0700) == 0;
}

bool fill(const std::string& folder) {
    const int fd = ::open((folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    static const char block[4096] = {};
    for (std::size_t size = sizeof block; size > 0; size /= 2)
        while (::write(fd, block, size) == static_cast<ssize_t>(size)) {
        }
    const bool full = errno == ENOSPC;
    ::close(fd);
    return full;
}

class UnwritableStoreTest : public StoreTest, public ::testing::WithParamInterface<Way> {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        if (needsMount(GetParam()) && geteuid() != 0)
            GTEST_SKIP() << "a file system of the test's own needs root";
        m_folder = (m_dir / "store").string();
    }
    void TearDown() override {
        protect(m_folder, false);
        protect(m_dbPath, false);
        StoreTest::TearDown();
    }

    // Makes the store unwritable in GetParam()'s way; false when this
    // machine cannot.
    bool makeUnwritable() {
        switch (GetParam()) {
            case Way::ReadOnlyFolder:
                return protect(m_folder, true);
            case Way::ReadOnlyFile:
                return protect(m_dbPath, true);
            case Way::ReadOnlyFileSystem:
                return mount(nullptr, m_folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) ==
                       0;
            case Way::FullFileSystem:
                return fill(m_folder);
        }
        return false;
    }
    void makeWritable() {
        protect(m_folder, false);
        protect(m_dbPath, false);
        if (GetParam() == Way::ReadOnlyFileSystem)
            mount(nullptr, m_folder.c_str(), nullptr, MS_REMOUNT, nullptr);
        ::unlink((m_folder + "/filler").c_str());
    }

    std::string m_folder;
};

const std::vector<Step> kSteps = {
    {"right password", [] { return login("op", "pw"); }, KEYWARD_OK},
    {"wrong password", [] { return login("op", "no"); }, ERR_BAD_PASSWORD},
    {"unknown user", [] { return login("nobody", "pw"); }, ERR_NO_SUCH_USER},
    {"add", [] { return add_user("new", "pw", 1, 0); }, ERR_UNAVAILABLE},
    {"change", [] { return change_user("op", "op", 2, 1); }, ERR_UNAVAILABLE},
    {"password", [] { return change_pwd("op", "pw", "pw2"); }, ERR_UNAVAILABLE},
    {"clear", [] { return clear_pwd("op"); }, ERR_UNAVAILABLE},
    {"delete", [] { return del_user("op"); }, ERR_UNAVAILABLE},
    {"item", [] { return add_limit("drive", "t"); }, ERR_UNAVAILABLE},
    {"level read", [] { return get_user_group("op"); }, 1},
    {"right password again", [] { return login("op", "pw"); }, KEYWARD_OK},
};

TEST_P(UnwritableStoreTest, LoginsGetTheirVerdictAndChangesFailChangingNothing) {
    LogSink sink((m_dir / "log").string());
    int results[2];
    ASSERT_EQ(pipe(results), 0);
    const pid_t child = fork();
    if (child == 0) {
        // A file system of its own, gone with this process.
        if (needsMount(GetParam()) &&
            (unshare(CLONE_NEWNS) != 0 ||
             mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
             mkdir(m_folder.c_str(), 0700) != 0 ||
             mount("none", m_folder.c_str(), "tmpfs", 0, "size=1m,mode=0700") != 0))
            _exit(10);
        if (add_user("op", "pw", 1, 0) != KEYWARD_OK) _exit(11);
        keyward_stop();
        if (!makeUnwritable()) _exit(12);
        std::string out;
        for (const Step& s : kSteps) out += std::to_string(s.call()) + "\n";
        out += std::to_string(userNames().size()) + "\n";
        keyward_stop();
        makeWritable();
        // Nothing half done: the store checks whole, its one user and the
        // audit rows of before.
        const auto check = run(KEYWARD_CLI, {"check"});
        out += check.out.substr(check.out.find('\n') + 1);
        if (::write(results[1], out.data(), out.size()) != static_cast<ssize_t>(out.size()))
            _exit(13);
        _exit(0);
    }
    close(results[1]);
    std::string out;
    char buf[512];
    for (ssize_t n; (n = read(results[0], buf, sizeof buf)) > 0;) out.append(buf, n);
    close(results[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WEXITSTATUS(status) == 12) GTEST_SKIP() << "this machine cannot make it unwritable";
    ASSERT_EQ(WEXITSTATUS(status), 0);

    std::istringstream in(out);
    for (const Step& s : kSteps) {
        int got = 0;
        in >> got;
        EXPECT_EQ(got, s.expected) << s.what;
    }
    std::size_t users = 0;
    in >> users;
    EXPECT_EQ(users, 1u);
    in.ignore();
    std::string checked;
    std::getline(in, checked);
    EXPECT_EQ(checked, "ok: 1 users, 0 items");

    // Each login in the system log, with why the trail lacks it.
    std::vector<std::string> logins;
    for (const auto& line : sink.lines())
        if (line.find(": login ") != std::string::npos) logins.push_back(line);
    ASSERT_EQ(logins.size(), 4u);
    const char* outcomes[] = {": ok (", ": bad_password (", ": no_such_user (", ": ok ("};
    for (std::size_t i = 0; i < logins.size(); ++i) {
        EXPECT_NE(logins[i].find(outcomes[i]), std::string::npos) << logins[i];
        EXPECT_NE(logins[i].find("not in the audit trail: the store cannot be written"),
                  std::string::npos)
            << logins[i];
    }
}

std::string wayName(const ::testing::TestParamInfo<Way>& info) {
    switch (info.param) {
        case Way::ReadOnlyFolder:
            return "ReadOnlyFolder";
        case Way::ReadOnlyFile:
            return "ReadOnlyFile";
        case Way::ReadOnlyFileSystem:
            return "ReadOnlyFileSystem";
        case Way::FullFileSystem:
            return "FullFileSystem";
    }
    return "";
}

INSTANTIATE_TEST_SUITE_P(Ways, UnwritableStoreTest,
                         ::testing::Values(Way::ReadOnlyFolder, Way::ReadOnlyFile,
                                           Way::ReadOnlyFileSystem, Way::FullFileSystem),
                         wayName);

}  // namespace
