// Starts a program and prints how long it took until a top-level window of
// the given title was mapped on the X display, in milliseconds, and the CPU
// time the program had used by then (all its threads; other work on a
// shared machine moves the first far more than the second); with
// --rss-after MS, also the program's resident size in KiB that many
// milliseconds after the mapping. Then ends the program.
//
// usage: startup_timer [--rss-after MS] TITLE PROGRAM [ARGS...]
// prints: WALL_MS CPU_MS RSS_KIB  (RSS_KIB -1 without --rss-after)
// Needs a display without a window manager (Xvfb): top-level windows are
// then children of the root window, whose map events this watches.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

std::string titleOf(Display* dpy, Window w) {
    const Atom netName = XInternAtom(dpy, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(dpy, w, netName, 0, 1024, False, utf8, &type, &format, &count, &after,
                           &data) == Success &&
        data != nullptr) {
        title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    return title;
}

// CPU time of every thread of pid so far, from the scheduler's nanoseconds.
double cpuMs(pid_t pid) {
    double ns = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        std::ifstream stat(task.path() / "schedstat");
        double run = 0;
        if (stat >> run) ns += run;
    }
    return ns / 1e6;
}

long rssKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    int arg = 1;
    long rssAfterMs = -1;
    if (arg + 1 < argc && std::strcmp(argv[arg], "--rss-after") == 0) {
        rssAfterMs = std::atol(argv[arg + 1]);
        arg += 2;
    }
    if (argc - arg < 2) {
        std::fprintf(stderr, "usage: startup_timer [--rss-after MS] TITLE PROGRAM [ARGS...]\n");
        return 2;
    }
    const std::string wanted = argv[arg];
    Display* dpy = XOpenDisplay(nullptr);
    if (dpy == nullptr) {
        std::fprintf(stderr, "startup_timer: no X display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(dpy);
    XSelectInput(dpy, root, SubstructureNotifyMask);
    XSync(dpy, False);

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[arg + 1], argv + arg + 1);
        _exit(127);
    }
    double ms = -1;
    double cpu = -1;
    // The title may be set after the window is mapped: each mapped window
    // is asked again on its property changes.
    while (ms < 0) {
        XEvent e;
        XNextEvent(dpy, &e);
        Window w = None;
        if (e.type == MapNotify) {
            w = e.xmap.window;
            XSelectInput(dpy, w, PropertyChangeMask);
        } else if (e.type == PropertyNotify) {
            w = e.xproperty.window;
            XWindowAttributes attrs;
            if (!XGetWindowAttributes(dpy, w, &attrs) || attrs.map_state != IsViewable) w = None;
        }
        if (w != None && titleOf(dpy, w) == wanted) {
            ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count();
            cpu = cpuMs(pid);
        }
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            std::fprintf(stderr, "startup_timer: %s ended before its window showed\n",
                         argv[arg + 1]);
            return 1;
        }
    }
    long rss = -1;
    if (rssAfterMs >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(rssAfterMs));
        rss = rssKiB(pid);
    }
    kill(pid, SIGTERM);
    for (int i = 0; i < 100 && waitpid(pid, nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (waitpid(pid, nullptr, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    XCloseDisplay(dpy);
    std::printf("%.1f %.1f %ld\n", ms, cpu, rss);
    return 0;
}
