// Console output. Every line is flushed as it is written so that a pipe
// (vormcfg -v | tee log) holds everything printed before an interrupt.
#pragma once

#include <cstddef>
#include <cstdio>

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void console_print(std::FILE* stream, const char* format, ...);

// Text that came off the network is shown with every control byte (0x00 to
// 0x1F and 0x7F) written as \xNN, so that a datagram cannot move the cursor,
// retitle or clear the technician's terminal. Every other byte, 0x80 and up
// included, is kept, so an ordinary serial reads exactly as it was sent.
//
// Writes what fits of the shown form into `out` (never half an escape),
// then a NUL; returns the length of the whole shown form, so a result of
// `capacity` or more means the text was cut short.
std::size_t escape_control_bytes(const char* text, std::size_t length, char* out, std::size_t capacity);

// Room for the shown form of `length` bytes and its NUL.
constexpr std::size_t escaped_capacity(std::size_t length) {
    return 4 * length + 1;
}
