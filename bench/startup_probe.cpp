// Start-up of whole programs on an X server: the time from fork and exec until the program's
// second top-level window is mapped, seen from the server's side through MapNotify on the
// root window, and the program's peak resident set once it has settled. Programs are run in
// turn, round after round, so that they share the machine's ups and downs.
//
//   startup_probe ROUNDS NAME DIR EXECUTABLE [NAME DIR EXECUTABLE]...
// With KELVORA_BENCH_DESKTOP set (the window manager running), two programs give one row: the
// first against the second, its floor. Under a window manager a window counts once its frame is
// mapped.
#include <xcb/xcb.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Program {
    std::string name, dir, executable;
    std::vector<double> ms;
    std::vector<long> kb;
};

long peakKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            long kb = -1;
            status >> kb;
            return kb;
        }
        status.ignore(1 << 16, '\n');
    }
    return -1;
}

class Probe {
public:
    Probe() {
        int screenNumber = 0;
        m_c = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(m_c)) {
            std::fprintf(stderr, "startup_probe: no X server (DISPLAY is not usable)\n");
            std::exit(1);
        }
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_c));
        for (int i = 0; i < screenNumber; ++i)
            xcb_screen_next(&it);
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_c, it.data->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_c);
    }
    ~Probe() { xcb_disconnect(m_c); }

    // One start of the program; false when it did not map two windows in time.
    bool run(Program& p) {
        countMaps(); // what is left from the previous program
        const Clock::time_point start = Clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            unsetenv("QT_QPA_PLATFORM");
            if (chdir(p.dir.c_str()) != 0)
                _exit(126);
            execl(p.executable.c_str(), p.executable.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int maps = 0;
        const Clock::time_point deadline = start + std::chrono::seconds(30);
        while (maps < 2 && Clock::now() < deadline) {
            pollfd fd{xcb_get_file_descriptor(m_c), POLLIN, 0};
            poll(&fd, 1, 100);
            maps += countMaps();
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        // The first paint and the settling after it belong to start-up as far as memory goes.
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        const long kb = peakKb(pid);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        if (maps < 2)
            return false;
        p.ms.push_back(ms);
        p.kb.push_back(kb);
        return true;
    }

private:
    // Top-level windows mapped since the last call; override-redirect ones (menus, tool
    // tips) do not count, but where a window manager frames the windows: its frames may be
    // override-redirect (fluxbox's are).
    int countMaps() {
        int n = 0;
        while (xcb_generic_event_t* e = xcb_poll_for_event(m_c)) {
            if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                (m_framed || !reinterpret_cast<xcb_map_notify_event_t*>(e)->override_redirect))
                ++n;
            std::free(e);
        }
        return n;
    }

    xcb_connection_t* m_c;
    const bool m_framed = std::getenv("KELVORA_BENCH_DESKTOP") != nullptr;
};

template <class T> T median(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5 || (argc - 2) % 3 != 0) {
        std::fprintf(stderr, "usage: %s ROUNDS NAME DIR EXECUTABLE [NAME DIR EXECUTABLE]...\n",
                     argv[0]);
        return 2;
    }
    const int rounds = std::atoi(argv[1]);
    std::vector<Program> programs;
    for (int i = 2; i + 2 < argc; i += 3)
        programs.push_back({argv[i], argv[i + 1], argv[i + 2], {}, {}});

    Probe probe;
    // Two rounds first to fill the caches (fontconfig, the dynamic linker, the disk).
    for (int round = -2; round < rounds; ++round) {
        for (Program& p : programs) {
            if (!probe.run(p)) {
                std::fprintf(stderr, "startup_probe: %s mapped no two windows in 30 s\n",
                             p.name.c_str());
                return 1;
            }
            if (round < 0) {
                p.ms.clear();
                p.kb.clear();
            }
        }
    }

    const char* desktop = std::getenv("KELVORA_BENCH_DESKTOP");
    if (desktop && programs.size() == 2) {
        const double time = median(programs[0].ms) / median(programs[1].ms);
        std::printf("  %-16s %7.1f ms   floor %7.1f ms   %.2fx (target <= 1.2x: %s)\n", desktop,
                    median(programs[0].ms), median(programs[1].ms), time,
                    time <= 1.2 ? "met" : "MISSED");
        return time <= 1.2 ? 0 : 3;
    }
    std::printf("Start-up until both windows are mapped, median of %d runs each:\n", rounds);
    for (const Program& p : programs)
        std::printf("  %-20s %7.1f ms (fastest %.1f, slowest %.1f)   peak RSS %6.1f MB\n",
                    p.name.c_str(), median(p.ms), *std::min_element(p.ms.begin(), p.ms.end()),
                    *std::max_element(p.ms.begin(), p.ms.end()), double(median(p.kb)) / 1024);
    if (programs.size() == 2) {
        const double time = median(programs[0].ms) / median(programs[1].ms);
        const double memory = double(median(programs[0].kb)) / double(median(programs[1].kb));
        std::printf("  %s / %s: start-up %.2fx (target <= 1.2x: %s), peak RSS %.2fx (target "
                    "<= 1.2x: %s)\n",
                    programs[0].name.c_str(), programs[1].name.c_str(), time,
                    time <= 1.2 ? "met" : "MISSED", memory, memory <= 1.2 ? "met" : "MISSED");
        return time <= 1.2 && memory <= 1.2 ? 0 : 3;
    }
    return 0;
}
