#include "process.h"

#include <fcntl.h>
#include <poll.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace kwtest {

namespace {

struct Fd {
    int fd = -1;
    ~Fd() { reset(); }
    void reset() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

}  // namespace

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::string& input) {
    std::array<Fd, 2> in, out, err;
    int p[2];
    for (auto* pair : {&in, &out, &err}) {
        if (pipe2(p, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        (*pair)[0].fd = p[0];
        (*pair)[1].fd = p[1];
    }
    std::vector<std::string> argvText{program};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0].fd, 0);
        dup2(out[1].fd, 1);
        dup2(err[1].fd, 2);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    in[0].reset();
    out[1].reset();
    err[1].reset();
    // Small inputs fit the pipe; the reader below drains both outputs. A
    // child that exits without reading its input is no error of the test.
    signal(SIGPIPE, SIG_IGN);
    if (!input.empty() && ::write(in[1].fd, input.data(), input.size()) < 0 && errno != EPIPE)
        throw std::runtime_error("write to child");
    in[1].reset();

    RunResult result;
    std::array<pollfd, 2> fds{{{out[0].fd, POLLIN, 0}, {err[0].fd, POLLIN, 0}}};
    std::array<std::string*, 2> sinks{&result.out, &result.err};
    int open = 2;
    while (open > 0 && poll(fds.data(), fds.size(), -1) > 0) {
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace kwtest
