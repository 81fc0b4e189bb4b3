// Shared by the fuzz targets: scratch files per process and checks that stop
// the fuzzer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/files.h"

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

inline std::u16string FuzzPath(const std::u16string& name) {
    static const ScratchFolder scratch;
    return scratch.Path(name);
}
