// Console output. Every line is flushed as it is written so that a pipe
// (vormcfg -v | tee log) holds everything printed before an interrupt.
#pragma once

#include <cstdio>

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void console_print(std::FILE* stream, const char* format, ...);
