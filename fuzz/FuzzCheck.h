#pragma once
// The failure report of the fuzz targets: a broken invariant prints what failed and aborts,
// which libFuzzer records as a crash and saves the input that caused it.

#include <cstdio>
#include <cstdlib>

namespace trelmo::fuzz {

[[noreturn]] inline void fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace trelmo::fuzz

#define FUZZ_CHECK(cond)                                     \
    do {                                                     \
        if (!(cond))                                         \
            ::trelmo::fuzz::fail(#cond, __FILE__, __LINE__); \
    } while (0)
