// libFuzzer over the store's calls: each input is a program of calls with
// arbitrary texts, numbers and null pointers, run against one database.
// Buffers are exactly the size the interface promises to fill, so ASan sees
// any write past them; results outside the documented ones stop the run.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "store/keyward.h"

namespace {

std::string g_dbPath;

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool more() const { return m_pos < m_size; }
    std::uint8_t byte() { return more() ? m_data[m_pos++] : 0; }
    std::uint32_t word() {
        std::uint32_t w = 0;
        for (int i = 0; i < 4; ++i) w = (w << 8) | byte();
        return w;
    }
    // A text of up to 64 bytes, or null for the length byte 0xff.
    const char* text() {
        const std::uint8_t n = byte();
        if (n == 0xff) return nullptr;
        std::string& s = m_texts.emplace_back();
        for (std::uint8_t i = 0; i < (n & 0x3f) && more(); ++i)
            s.push_back(static_cast<char>(byte()));
        return s.c_str();
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    std::deque<std::string> m_texts;  // grows without moving: the pointers handed out stay valid
};

bool documented(int rc) {
    return rc == KEYWARD_OK || rc == ERR_NO_SUCH_USER || rc == ERR_BAD_PASSWORD ||
           (rc <= ERR_NULL_ARGUMENT && rc >= ERR_UNAVAILABLE);
}

void expect(bool ok) {
    if (!ok) __builtin_trap();
}

template <class Record, class List>
void listTwice(List list, int maxCount) {
    const int n = list(nullptr);
    expect(n >= ERR_UNAVAILABLE && n <= maxCount);
    if (n <= 0) return;
    std::vector<Record> buf(static_cast<std::size_t>(n));
    expect(list(buf.data()) == n);
    for (const auto& r : buf) expect(std::memchr(r.name, 0, sizeof r.name) != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // In memory where there is a tmpfs: each input makes a new database,
    // and its syncs would otherwise set the pace.
    std::string dir = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    dir += "/keyward-fuzz-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) std::abort();
    g_dbPath = std::string(dir) + "/keyward.db";
    setenv("KEYWARD_DB", g_dbPath.c_str(), 1);
    setenv("KEYWARD_HASH_COST", "1", 1);
    setenv("TRAILBOOK_SOCKET", (std::string(dir) + "/no-log").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Each input starts from an empty store, so a finding replays alone.
    keyward_stop();
    std::filesystem::remove(g_dbPath);
    keyward_start();
    Input in(data, size);
    char field[32];
    for (int step = 0; in.more() && step < 64; ++step) {
        switch (in.byte() % 16) {
            case 0: {
                const char* name = in.text();
                expect(documented(login(name, in.text())));
                break;
            }
            case 1:
                expect(std::strlen(get_cur_user()) <= KEYWARD_MAX_TEXT);
                break;
            case 2:
                expect(documented(get_cur_users(field)));
                break;
            case 3:
                expect(get_user_group(in.text()) >= 0 &&
                       get_user_group(nullptr) < KEYWARD_LEVEL_COUNT);
                break;
            case 4: {
                const char* item = in.text();
                (void)get_user_limit(in.text());
                (void)chk_user_limit(item, in.byte() % 2 ? nullptr : in.text());
                break;
            }
            case 5:
                listTwice<UserRecord>(get_user_list, 1 << 20);
                break;
            case 6: {
                const char* name = in.text();
                const char* pw = in.text();
                expect(documented(add_user(name, pw, static_cast<int>(in.byte()) - 8, in.word())));
                break;
            }
            case 7: {
                const char* cur = in.text();
                const char* next = in.text();
                expect(
                    documented(change_user(cur, next, static_cast<int>(in.byte() % 8), in.word())));
                break;
            }
            case 8:
                expect(documented(del_user(in.text())));
                break;
            case 9: {
                const char* name = in.text();
                const char* old = in.text();
                expect(documented(change_pwd(name, old, in.text())));
                break;
            }
            case 10:
                expect(documented(clear_pwd(in.text())));
                break;
            case 11:
                listTwice<LimitRecord>(get_limit_list, KEYWARD_MAX_LIMITS);
                break;
            case 12:
                expect(documented(get_limit_info(in.text(), field)));
                break;
            case 13: {
                const char* name = in.text();
                const int pos = add_limit(name, in.text());
                expect(pos >= 0 ? pos < KEYWARD_MAX_LIMITS : documented(pos));
                break;
            }
            case 14:
                expect(documented(del_limit(static_cast<int>(in.word() % 40) - 4)));
                break;
            case 15:
                // A fill without its count must fail and write nothing.
                if (in.byte() % 2 == 0) {
                    keyward_stop();
                    UserRecord one;
                    std::memset(&one, 0xab, sizeof one);
                    expect(get_user_list(&one) == ERR_NOT_COUNTED);
                    expect(static_cast<unsigned char>(one.name[0]) == 0xab);
                } else {
                    keyward_start();
                }
                break;
        }
    }
    return 0;
}
