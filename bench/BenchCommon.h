#pragma once

// What every benchmark needs, whatever it drives: its numeric options, its
// own CPU time, and a way out on a failure. Figures go to standard output.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace bench {

[[noreturn]] inline void die(const char* what) {
    std::fprintf(stderr, "bench: %s\n", what);
    std::exit(1);
}

// The value after `name` on the command line, or fallback.
inline int intArg(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], name))
            return std::atoi(argv[i + 1]);
    return fallback;
}

// CPU milliseconds of this process so far.
inline double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

} // namespace bench
