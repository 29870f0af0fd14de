#include "cli/address_rules.h"

namespace {

constexpr int SMALLEST_PREFIX = 1;
constexpr int LARGEST_PREFIX = 30;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// One number of a dotted quad; `cursor` ends on the character after it.
DottedQuad read_number(const char*& cursor, std::uint32_t* value) {
    if (!is_digit(*cursor)) return DottedQuad::not_four_numbers;
    const bool leading_zero = cursor[0] == '0' && is_digit(cursor[1]);
    std::uint32_t number = 0;
    for (; is_digit(*cursor); ++cursor) {
        if (number <= 255) number = number * 10 + static_cast<std::uint32_t>(*cursor - '0');
    }
    if (number > 255) return DottedQuad::out_of_range;
    if (leading_zero) return DottedQuad::leading_zero;
    *value = number;
    return DottedQuad::valid;
}

}  // namespace

DottedQuad parse_dotted_quad(const char* text, std::uint32_t* address) {
    const char* cursor = text;
    std::uint32_t value = 0;
    // The worst fault found is the one reported: a text that is no address
    // at all is not told about a leading zero.
    DottedQuad verdict = DottedQuad::valid;
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && *cursor++ != '.') return DottedQuad::not_four_numbers;
        std::uint32_t number = 0;
        const DottedQuad read = read_number(cursor, &number);
        if (read == DottedQuad::not_four_numbers) return read;
        if (read == DottedQuad::out_of_range || verdict == DottedQuad::valid) verdict = read;
        value = value << 8 | number;
    }
    if (*cursor != '\0') return DottedQuad::not_four_numbers;
    if (verdict == DottedQuad::valid) *address = value;
    return verdict;
}

HostAddress classify_host_address(std::uint32_t address) {
    const std::uint32_t first = address >> 24;
    if (first == 0) return HostAddress::this_network;
    if (first == 127) return HostAddress::loopback;
    if (first >= 224) return HostAddress::multicast_or_reserved;
    return HostAddress::usable;
}

int prefix_length(std::uint32_t mask) {
    int ones = 0;
    for (std::uint32_t bit = 0x80000000u; bit != 0 && (mask & bit) != 0; bit >>= 1) ++ones;
    return ones;
}

SubnetMask classify_subnet_mask(std::uint32_t mask) {
    const int ones = prefix_length(mask);
    const std::uint32_t contiguous = ones == 0 ? 0 : ~std::uint32_t{0} << (32 - ones);
    if (mask != contiguous) return SubnetMask::not_contiguous;
    if (ones < SMALLEST_PREFIX || ones > LARGEST_PREFIX) return SubnetMask::no_room;
    return SubnetMask::usable;
}
