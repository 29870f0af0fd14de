#include "cli/address_text.h"

#include <cctype>
#include <cstdio>

namespace {

bool is_space(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// One signed decimal number as scanf's %d takes it; `value` saturates so
// that a huge number is still seen as out of range.
bool read_decimal(const char*& cursor, std::int64_t* value) {
    while (is_space(*cursor)) ++cursor;
    bool negative = false;
    if (*cursor == '+' || *cursor == '-') negative = *cursor++ == '-';
    if (!is_digit(*cursor)) return false;
    std::int64_t magnitude = 0;
    for (; is_digit(*cursor); ++cursor) {
        if (magnitude < (std::int64_t{1} << 40)) magnitude = magnitude * 10 + (*cursor - '0');
    }
    *value = negative ? -magnitude : magnitude;
    return true;
}

int digit_value(char c) {
    if (is_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// One part of an inet address: decimal, 0-led octal or 0x-led hex.
bool read_inet_part(const char*& cursor, std::uint64_t* value) {
    if (!is_digit(*cursor)) return false;
    unsigned base = 10;
    if (cursor[0] == '0' && (cursor[1] == 'x' || cursor[1] == 'X')) {
        base = 16;
        cursor += 2;
        if (digit_value(*cursor) >= 16) return false;
    } else if (cursor[0] == '0') {
        base = 8;
    }
    std::uint64_t total = 0;
    for (int digit = digit_value(*cursor); digit < static_cast<int>(base); digit = digit_value(*++cursor)) {
        total = total * base + static_cast<unsigned>(digit);
        if (total > 0xFFFFFFFFu) return false;
    }
    // A digit the base does not have ("08") makes the text unreadable.
    if (digit_value(*cursor) < 10) return false;
    *value = total;
    return true;
}

}  // namespace

OctetsParse parse_octets(const char* text, std::int32_t octets[4]) {
    const char* cursor = text;
    std::int64_t numbers[4];
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && *cursor++ != '.') return OctetsParse::failed;
        if (!read_decimal(cursor, &numbers[i])) return OctetsParse::failed;
    }
    bool in_range = true;
    for (int i = 0; i < 4; ++i) {
        in_range = in_range && numbers[i] >= 0 && numbers[i] <= 255;
        octets[i] = static_cast<std::int32_t>(numbers[i] & 0xFF);
    }
    return in_range ? OctetsParse::converted : OctetsParse::out_of_range;
}

bool parse_inet_address(const char* text, std::uint8_t address[4]) {
    const char* cursor = text;
    std::uint64_t parts[4];
    int count = 0;
    for (;;) {
        if (!read_inet_part(cursor, &parts[count])) return false;
        ++count;
        if (*cursor != '.') break;
        if (count == 4) return false;
        ++cursor;
    }
    if (*cursor != '\0' && !is_space(*cursor)) return false;
    // The leading parts are one byte each; the last fills what is left.
    for (int i = 0; i < count - 1; ++i) {
        if (parts[i] > 0xFF) return false;
    }
    const int last_bytes = 4 - (count - 1);
    if (last_bytes < 4 && parts[count - 1] >> (8 * last_bytes) != 0) return false;
    std::uint32_t value = 0;
    for (int i = 0; i < count - 1; ++i) value |= static_cast<std::uint32_t>(parts[i]) << (24 - 8 * i);
    value |= static_cast<std::uint32_t>(parts[count - 1]);
    for (int i = 0; i < 4; ++i) address[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    return true;
}

AddressText dotted(const platform::Ipv4Address& address) {
    AddressText result{};
    std::snprintf(result.text, sizeof result.text, "%u.%u.%u.%u", address.octets[0], address.octets[1],
                  address.octets[2], address.octets[3]);
    return result;
}
