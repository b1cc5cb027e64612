// The fuzz targets' check of an invariant: a broken one aborts with its
// condition and place, which libFuzzer reports as a crash with the input.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace quorvid::fuzz {

[[noreturn]] inline void broken(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::abort();
}

}  // namespace quorvid::fuzz

#define FUZZ_CHECK(condition) \
    do { \
        if (!(condition)) ::quorvid::fuzz::broken(#condition, __FILE__, __LINE__); \
    } while (false)
