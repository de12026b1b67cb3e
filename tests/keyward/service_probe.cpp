// A program of the platform as the account service's tests run it, as any
// user: each argument group is one store call, its result printed on a line
// of its own. Knows only the store's header.
//
//   login NAME PASSWORD | change_user CUR NEW LEVEL MASK | add_user NAME PW LEVEL MASK
//   del_user NAME | clear_pwd NAME | add_limit NAME TITLE | del_limit POS
//   users                 the user list, "name level mask" per line, then "end"
//   adds PREFIX N         adds users PREFIX0.. one by one, "acked NAME" after each
//                         the store answered 0 (for the kill test)
//   policy NAME | days_left NAME   get_policy, get_pwd_days_left
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "store/keyward.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    keyward_start();
    for (std::size_t i = 0; i < args.size();) {
        const std::string& call = args[i];
        const auto arg = [&](std::size_t k) { return args.at(i + k).c_str(); };
        const auto number = [&](std::size_t k) { return std::strtoll(arg(k), nullptr, 0); };
        if (call == "login") {
            std::printf("%d\n", login(arg(1), arg(2)));
            i += 3;
        } else if (call == "change_user") {
            std::printf("%d\n", change_user(arg(1), arg(2), static_cast<int>(number(3)),
                                            static_cast<uint32_t>(number(4))));
            i += 5;
        } else if (call == "add_user") {
            std::printf("%d\n", add_user(arg(1), arg(2), static_cast<int>(number(3)),
                                         static_cast<uint32_t>(number(4))));
            i += 5;
        } else if (call == "del_user") {
            std::printf("%d\n", del_user(arg(1)));
            i += 2;
        } else if (call == "clear_pwd") {
            std::printf("%d\n", clear_pwd(arg(1)));
            i += 2;
        } else if (call == "add_limit") {
            std::printf("%d\n", add_limit(arg(1), arg(2)));
            i += 3;
        } else if (call == "del_limit") {
            std::printf("%d\n", del_limit(static_cast<int>(number(1))));
            i += 2;
        } else if (call == "policy") {
            std::printf("%d\n", get_policy(arg(1)));
            i += 2;
        } else if (call == "days_left") {
            std::printf("%d\n", get_pwd_days_left(arg(1)));
            i += 2;
        } else if (call == "users") {
            const int n = get_user_list(nullptr);
            std::vector<UserRecord> users(n > 0 ? static_cast<std::size_t>(n) : 0);
            if (n > 0) get_user_list(users.data());
            for (const auto& u : users) std::printf("%s %d %u\n", u.name, u.level, u.mask);
            std::printf("end %d\n", n);
            i += 1;
        } else if (call == "adds") {
            for (long long k = 0; k < number(2); ++k) {
                const std::string name = std::string(arg(1)) + std::to_string(k);
                if (add_user(name.c_str(), "pw", 1, 0) == 0)
                    std::printf("acked %s\n", name.c_str());
                std::fflush(stdout);
            }
            i += 3;
        } else {
            std::fprintf(stderr, "service_probe: unknown call %s\n", call.c_str());
            return 2;
        }
        std::fflush(stdout);
    }
    keyward_stop();
    return 0;
}
