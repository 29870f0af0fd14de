// Console output. Every line is flushed as it is written so that a pipe
// (vormcfg -v | tee log) holds everything printed before an interrupt.
#pragma once

#include <cstddef>
#include <cstdio>

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void console_print(std::FILE* stream, const char* format, ...);

// Text that came off the network is shown so that a datagram can neither
// move the cursor, retitle or clear the technician's terminal nor pass one
// text off as another: printable ASCII (0x20 to 0x7E) stands as it is, but
// a backslash is written as \\, and every other byte as \xNN. That takes
// in the C1 controls some terminals act on, raw (0x9B is CSI) or UTF-8
// encoded (C2 9B), and keeps a serial whose text is A\x1BZ apart from one
// that holds a real ESC. An ordinary serial reads exactly as it was sent.
//
// Writes what fits of the shown form into `out` (never half an escape),
// then a NUL; returns the length of the whole shown form, so a result of
// `capacity` or more means the text was cut short.
std::size_t escape_received_text(const char* text, std::size_t length, char* out, std::size_t capacity);

// Room for the shown form of `length` bytes and its NUL.
constexpr std::size_t escaped_capacity(std::size_t length) {
    return 4 * length + 1;
}
