#include "cli/address_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* quad_name(DottedQuad result) {
    switch (result) {
        case DottedQuad::valid: return "valid";
        case DottedQuad::not_four_numbers: return "not_four_numbers";
        case DottedQuad::out_of_range: return "out_of_range";
        case DottedQuad::leading_zero: return "leading_zero";
    }
    return "?";
}

TEST(ParseDottedQuad, TakesOnlyFourPlainDecimalNumbers) {
    struct Case {
        const char* text;
        DottedQuad result;
        std::uint32_t address;  // checked when valid
    };
    const Case cases[] = {
        {"192.168.1.101", DottedQuad::valid, 0xC0A80165},
        {"0.0.0.0", DottedQuad::valid, 0},
        {"255.255.255.255", DottedQuad::valid, 0xFFFFFFFF},
        {"10.0.0.0", DottedQuad::valid, 0x0A000000},
        {"010.1.1.5", DottedQuad::leading_zero, 0},  // octal 8.1.1.5 to a C parser
        {"10.1.1.05", DottedQuad::leading_zero, 0},
        {"10.1.1.00", DottedQuad::leading_zero, 0},
        {"999.1.1.1", DottedQuad::out_of_range, 0},
        {"10.0.0.256", DottedQuad::out_of_range, 0},
        {"010.0.0.256", DottedQuad::out_of_range, 0},  // the worse fault is named
        {"99999999999999999999.0.0.1", DottedQuad::out_of_range, 0},
        {"10.0.0", DottedQuad::not_four_numbers, 0},  // not 10.0.0.0
        {"10.0.0.5.6", DottedQuad::not_four_numbers, 0},
        {"10.0.0.5x", DottedQuad::not_four_numbers, 0},
        {"10.0.0.5 ", DottedQuad::not_four_numbers, 0},
        {" 10.0.0.5", DottedQuad::not_four_numbers, 0},
        {"+10.0.0.5", DottedQuad::not_four_numbers, 0},
        {"10.-0.0.5", DottedQuad::not_four_numbers, 0},
        {"10..0.5", DottedQuad::not_four_numbers, 0},
        {"10.0.0.", DottedQuad::not_four_numbers, 0},
        {"0x0A.0.0.1", DottedQuad::not_four_numbers, 0},
        {"10.1", DottedQuad::not_four_numbers, 0},
        {"", DottedQuad::not_four_numbers, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        std::uint32_t address = 0x5A5A5A5A;
        const DottedQuad result = parse_dotted_quad(c.text, &address);
        EXPECT_STREQ(quad_name(result), quad_name(c.result));
        EXPECT_EQ(address, c.result == DottedQuad::valid ? c.address : 0x5A5A5A5Au);
    }
}

TEST(ClassifyHostAddress, RefusesThisNetworkLoopbackAndAbove223) {
    struct Case {
        std::uint32_t address;
        HostAddress result;
    };
    const Case cases[] = {
        {0x00000000, HostAddress::this_network},          // 0.0.0.0
        {0x00FFFFFF, HostAddress::this_network},          // 0.255.255.255
        {0x01000000, HostAddress::usable},                // 1.0.0.0
        {0x7EFFFFFF, HostAddress::usable},                // 126.255.255.255
        {0x7F000001, HostAddress::loopback},              // 127.0.0.1
        {0x7FFFFFFF, HostAddress::loopback},              // 127.255.255.255
        {0x80000000, HostAddress::usable},                // 128.0.0.0
        {0xDFFFFFFE, HostAddress::usable},                // 223.255.255.254
        {0xE0000000, HostAddress::multicast_or_reserved}, // 224.0.0.0
        {0xF0000000, HostAddress::multicast_or_reserved}, // 240.0.0.0
        {0xFFFFFFFF, HostAddress::multicast_or_reserved}, // 255.255.255.255
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(classify_host_address(c.address), c.result);
    }
}

TEST(ClassifySubnetMask, TakesContiguousMasksOfOneToThirtyBits) {
    struct Case {
        std::uint32_t mask;
        SubnetMask result;
        int prefix;
    };
    const Case cases[] = {
        {0xFFFFFF00, SubnetMask::usable, 24},
        {0x80000000, SubnetMask::usable, 1},
        {0xFFFFFFFC, SubnetMask::usable, 30},
        {0xFFFFFFFE, SubnetMask::no_room, 31},
        {0xFFFFFFFF, SubnetMask::no_room, 32},
        {0x00000000, SubnetMask::no_room, 0},
        {0xFF00FF00, SubnetMask::not_contiguous, 8},
        {0x7FFFFFFF, SubnetMask::not_contiguous, 0},
        {0xFFFFFF01, SubnetMask::not_contiguous, 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mask);
        EXPECT_EQ(classify_subnet_mask(c.mask), c.result);
        EXPECT_EQ(prefix_length(c.mask), c.prefix);
    }
}

}  // namespace
