#include "cli/console.h"

#include <cstdarg>

namespace {

bool is_printable_ascii(unsigned char byte) {
    return byte >= 0x20 && byte <= 0x7E;
}

}  // namespace

void console_print(std::FILE* stream, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stream, format, arguments);
    va_end(arguments);
    std::fflush(stream);
}

std::size_t escape_received_text(const char* text, std::size_t length, char* out, std::size_t capacity) {
    static const char hex_digits[] = "0123456789ABCDEF";
    std::size_t needed = 0;
    std::size_t written = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        char shown[4] = {static_cast<char>(byte)};
        std::size_t width = 1;
        if (byte == '\\') {
            shown[1] = '\\';
            width = 2;
        } else if (!is_printable_ascii(byte)) {
            shown[0] = '\\';
            shown[1] = 'x';
            shown[2] = hex_digits[byte >> 4];
            shown[3] = hex_digits[byte & 0x0F];
            width = 4;
        }
        // Once one escape has not fit, nothing after it is written either:
        // a shorter byte further on must not close the gap.
        if (written == needed && capacity > 0 && needed + width < capacity) {
            for (std::size_t k = 0; k < width; ++k) out[written++] = shown[k];
        }
        needed += width;
    }
    if (capacity > 0) out[written] = '\0';
    return needed;
}
