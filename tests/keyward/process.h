// Running programs and child processes in tests.
#pragma once

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace kwtest {

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs program with args, feeding input on its standard input.
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::string& input = "");

// Runs body in a child process; true when the child exited with status 0.
template <class Body>
bool inChild(Body body);

}  // namespace kwtest

template <class Body>
bool kwtest::inChild(Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        int status = 1;
        try {
            status = body() ? 0 : 1;
        } catch (...) {
        }
        // _exit: the child must not run the parent's atexit handlers.
        _exit(status);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
