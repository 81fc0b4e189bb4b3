// Shared by the fuzz targets: scratch files per process and checks that stop
// the fuzzer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

std::u16string FuzzPath(const std::u16string& name);
void WriteFuzzFile(const std::u16string& path, const uint8_t* data, size_t size);
std::vector<uint8_t> ReadFuzzFile(const std::u16string& path);
