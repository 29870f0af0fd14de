#include "exchange/json_line.h"

#include <cstring>

namespace {

const char HEX_DIGITS[] = "0123456789abcdef";

bool is_printable_ascii(unsigned char byte) {
    return byte >= 0x20 && byte <= 0x7E;
}

void put(JsonLine& line, const char* bytes, std::size_t length) {
    // One byte stays free for the line feed.
    if (line.overflowed || line.length + length >= sizeof line.text) {
        line.overflowed = true;
        return;
    }
    std::memcpy(line.text + line.length, bytes, length);
    line.length += length;
}

void put_char(JsonLine& line, char c) {
    put(line, &c, 1);
}

void put_quoted(JsonLine& line, const char* bytes, std::size_t length) {
    put_char(line, '"');
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char byte = static_cast<unsigned char>(bytes[i]);
        if (byte == '"' || byte == '\\') {
            const char escape[2] = {'\\', static_cast<char>(byte)};
            put(line, escape, sizeof escape);
        } else if (is_printable_ascii(byte)) {
            put_char(line, static_cast<char>(byte));
        } else {
            const char escape[6] = {'\\', 'u', '0', '0', HEX_DIGITS[byte >> 4], HEX_DIGITS[byte & 0x0F]};
            put(line, escape, sizeof escape);
        }
    }
    put_char(line, '"');
}

// The comma before every member but the first, then the name and colon.
void put_name(JsonLine& line, const char* name) {
    if (line.member_written[line.depth]) put_char(line, ',');
    line.member_written[line.depth] = true;
    if (name == nullptr) return;
    put_quoted(line, name, std::strlen(name));
    put_char(line, ':');
}

void open(JsonLine& line, const char* name, char bracket) {
    put_name(line, name);
    put_char(line, bracket);
    if (line.depth + 1 >= JSON_DEPTH) {
        line.overflowed = true;
        return;
    }
    line.member_written[++line.depth] = false;
}

void close(JsonLine& line, char bracket) {
    if (line.depth > 0) --line.depth;
    put_char(line, bracket);
}

}  // namespace

bool json_needs_escapes(const char* bytes, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (!is_printable_ascii(static_cast<unsigned char>(bytes[i]))) return true;
    }
    return false;
}

void json_begin(JsonLine& line) {
    line.length = 0;
    line.depth = 0;
    line.member_written[0] = false;
    line.overflowed = false;
    put_char(line, '{');
}

void json_text(JsonLine& line, const char* name, const char* bytes, std::size_t length) {
    put_name(line, name);
    put_quoted(line, bytes, length);
}

void json_text(JsonLine& line, const char* name, const char* text) {
    json_text(line, name, text, std::strlen(text));
}

void json_hex_if_escaped(JsonLine& line, const char* name, const char* bytes, std::size_t length) {
    if (!json_needs_escapes(bytes, length)) return;
    put_name(line, name);
    put_char(line, '"');
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char byte = static_cast<unsigned char>(bytes[i]);
        const char digits[2] = {HEX_DIGITS[byte >> 4], HEX_DIGITS[byte & 0x0F]};
        put(line, digits, sizeof digits);
    }
    put_char(line, '"');
}

void json_number(JsonLine& line, const char* name, long value) {
    char digits[24];
    const int length = std::snprintf(digits, sizeof digits, "%ld", value);
    put_name(line, name);
    put(line, digits, static_cast<std::size_t>(length));
}

void json_bool(JsonLine& line, const char* name, bool value) {
    put_name(line, name);
    put(line, value ? "true" : "false", value ? 4 : 5);
}

void json_null(JsonLine& line, const char* name) {
    put_name(line, name);
    put(line, "null", 4);
}

void json_open_object(JsonLine& line, const char* name) {
    open(line, name, '{');
}

void json_close_object(JsonLine& line) {
    close(line, '}');
}

void json_open_array(JsonLine& line, const char* name) {
    open(line, name, '[');
}

void json_close_array(JsonLine& line) {
    close(line, ']');
}

void json_end(JsonLine& line, std::FILE* out) {
    put_char(line, '}');
    if (line.overflowed) return;
    line.text[line.length++] = '\n';
    std::fwrite(line.text, 1, line.length, out);
    std::fflush(out);
}
