// Start-up benchmark: time from process start to the first paint of every
// window shown at start, and peak resident memory, for the program and for a
// minimal Qt Widgets program, in one run. Needs an X display.
//
//   startup_bench PROGRAM MINIMAL [RUNS]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

struct Sample {
    double ms = 0;
    long maxRssKb = 0;
};

bool runOnce(const char *program, Sample &out)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        // NOLINTNEXTLINE(concurrency-mt-unsafe): the forked child has one thread
        setenv("MIPOQUIBBO_REPORT_FIRST_PAINT", "1", 1);
        execl(program, program, static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string seen;
    char buf[256];
    ssize_t n;
    bool painted = false;
    while (!painted && (n = read(fds[0], buf, sizeof buf)) > 0) {
        seen.append(buf, size_t(n));
        painted = seen.find("painted") != std::string::npos;
    }
    const auto end = std::chrono::steady_clock::now();
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    out.ms = std::chrono::duration<double, std::milli>(end - start).count();
    out.maxRssKb = usage.ru_maxrss;
    return painted && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Result {
    double ms;
    double rssMb;
};

// Runs the two programs in turn, so that whatever else the machine does
// weighs on both alike; medians of each.
std::pair<Result, Result> measure(const char *a, const char *b, int runs)
{
    Sample warm;
    runOnce(a, warm); // page cache and font cache
    runOnce(b, warm);
    std::vector<double> ms[2], rss[2];
    const char *programs[2] = {a, b};
    for (int i = 0; i < runs; ++i)
        for (int k = 0; k < 2; ++k) {
            Sample s;
            if (!runOnce(programs[k], s)) {
                std::fprintf(stderr, "%s did not report its first paint\n", programs[k]);
                std::fflush(stderr);
                std::_Exit(1);
            }
            ms[k].push_back(s.ms);
            rss[k].push_back(double(s.maxRssKb) / 1024.0);
        }
    return {{median(ms[0]), median(rss[0])}, {median(ms[1]), median(rss[1])}};
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PROGRAM MINIMAL [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 3 ? std::atoi(argv[3]) : 30;
    const auto [prog, base] = measure(argv[1], argv[2], runs);
    std::printf("%-28s %12s %14s\n", "program", "first paint", "peak memory");
    std::printf("%-28s %9.1f ms %11.1f MB\n", "mipoquibbo", prog.ms, prog.rssMb);
    std::printf("%-28s %9.1f ms %11.1f MB\n", "minimal Qt Widgets program", base.ms, base.rssMb);
    std::printf("time ratio %.2f (target <= 1.30), memory difference %+.1f MB (target <= 15)\n",
                prog.ms / base.ms, prog.rssMb - base.rssMb);
    const bool ok = prog.ms <= 1.3 * base.ms && prog.rssMb - base.rssMb <= 15.0;
    std::printf("%s\n", ok ? "within targets" : "OUTSIDE TARGETS");
    return 0;
}
