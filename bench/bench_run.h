// Running a program of the build for a benchmark: its CPU time, wall time and peak memory.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace wtk::bench {

struct Usage {
    double cpuMs = 0;  // user + sys
    double wallMs = 0;
    double rssMb = 0;  // peak resident set
    bool ok = false;
};

// Runs the program with stdout and stderr to /dev/null; its CPU time, wall time and peak RSS.
inline Usage Run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(stdout);  // or the child repeats what is buffered
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage ru {};
    ::wait4(pid, &status, 0, &ru);
    const auto t1 = std::chrono::steady_clock::now();
    Usage u;
    u.wallMs = std::chrono::duration<double, std::milli>(t1 - t0).count();
    u.cpuMs = (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 +
              (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-3;
    u.rssMb = ru.ru_maxrss / 1024.0;
    u.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return u;
}

}  // namespace wtk::bench
