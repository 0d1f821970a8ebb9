// The fuzzers' invariant check: a broken one names itself and stops the run where libFuzzer keeps
// the input that broke it.
#pragma once

#include <cstdio>

#define FUZZ_CHECK(cond)                                           \
    do {                                                           \
        if (!(cond)) {                                             \
            std::fprintf(stderr, "invariant broken: %s\n", #cond); \
            __builtin_trap();                                      \
        }                                                          \
    } while (0)
