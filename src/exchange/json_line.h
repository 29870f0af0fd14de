// One JSON object written as one line, for scripts reading the tool's output.
// The object is built in a fixed buffer and written whole, so a reader never
// sees half an object; it holds flat members, arrays of strings and one
// level of nested objects, which is all the tool's events need.
#pragma once

#include <cstddef>
#include <cstdio>

constexpr std::size_t JSON_LINE_CAPACITY = 4096;
constexpr int JSON_DEPTH = 4;

struct JsonLine {
    char text[JSON_LINE_CAPACITY];
    std::size_t length;
    int depth;
    bool member_written[JSON_DEPTH];  // per open object or array: is a comma due?
    bool overflowed;                  // the object did not fit and is not written
};

void json_begin(JsonLine& line);
// Text of any bytes, as a lossless JSON string: printable ASCII stands as it
// is (with `"` and `\` escaped), every other byte becomes \u00XX, its
// Latin-1 code point, so the line is valid UTF-8 whatever the bytes are.
void json_text(JsonLine& line, const char* name, const char* bytes, std::size_t length);
void json_text(JsonLine& line, const char* name, const char* text);
// When `bytes` hold anything but printable ASCII, also `name` with their
// lower-case hex, from which a script gets the exact bytes back.
void json_hex_if_escaped(JsonLine& line, const char* name, const char* bytes, std::size_t length);
void json_number(JsonLine& line, const char* name, long value);
void json_bool(JsonLine& line, const char* name, bool value);
void json_null(JsonLine& line, const char* name);
// A nested object or array; name is null for an element of an array.
void json_open_object(JsonLine& line, const char* name);
void json_close_object(JsonLine& line);
void json_open_array(JsonLine& line, const char* name);
void json_close_array(JsonLine& line);
// Closes the object and writes it with its line feed, flushed.
void json_end(JsonLine& line, std::FILE* out);

// Whether a text holds anything json_text would escape as \u00XX.
bool json_needs_escapes(const char* bytes, std::size_t length);
