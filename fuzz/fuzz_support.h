// What both fuzz targets need: a failed check that stops the fuzzer with a
// message, and a stream that keeps what the tool printed.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#define CHECK(condition, ...)                                       \
    do {                                                            \
        if (!(condition)) {                                         \
            std::fprintf(stderr, "CHECK failed: %s: ", #condition); \
            std::fprintf(stderr, __VA_ARGS__);                      \
            std::fprintf(stderr, "\n");                             \
            std::abort();                                           \
        }                                                           \
    } while (0)

struct Captured {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* file = open_memstream(&text, &size);
    ~Captured() { std::free(text); }
    std::string close() {
        std::fclose(file);
        return std::string(text, size);
    }
};
