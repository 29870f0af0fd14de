#include "cli/address_text.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

const char* result_name(OctetsParse result) {
    switch (result) {
        case OctetsParse::converted: return "converted";
        case OctetsParse::out_of_range: return "out_of_range";
        case OctetsParse::failed: return "failed";
    }
    return "?";
}

TEST(ParseOctets, ReadsFourDecimalNumbers) {
    struct Case {
        const char* text;
        OctetsParse result;
        std::array<std::int32_t, 4> octets;  // checked when converted
    };
    const Case cases[] = {
        {"10.0.0.5", OctetsParse::converted, {10, 0, 0, 5}},
        {"0.0.0.0", OctetsParse::converted, {0, 0, 0, 0}},
        {"255.255.255.255", OctetsParse::converted, {255, 255, 255, 255}},
        {"192.168.001.010", OctetsParse::converted, {192, 168, 1, 10}},  // decimal, not octal
        {" 10. 0.\t0.\n5", OctetsParse::converted, {10, 0, 0, 5}},
        {"+10.+0.0.5", OctetsParse::converted, {10, 0, 0, 5}},
        {"-0.0.0.1", OctetsParse::converted, {0, 0, 0, 1}},
        {"10.0.0.5x", OctetsParse::converted, {10, 0, 0, 5}},
        {"10.0.0.5.6", OctetsParse::converted, {10, 0, 0, 5}},
        {"10.0.0.5 trailing", OctetsParse::converted, {10, 0, 0, 5}},
        {"300.0.0.5", OctetsParse::out_of_range, {}},
        {"10.0.0.256", OctetsParse::out_of_range, {}},
        {"-1.0.0.1", OctetsParse::out_of_range, {}},
        {"4294967306.0.0.1", OctetsParse::out_of_range, {}},
        {"99999999999999999999.0.0.1", OctetsParse::out_of_range, {}},
        {"10.0.0", OctetsParse::failed, {}},
        {"300.0.0", OctetsParse::failed, {}},
        {"10 .0.0.5", OctetsParse::failed, {}},
        {"10..0.5", OctetsParse::failed, {}},
        {"10,0,0,5", OctetsParse::failed, {}},
        {"- 1.0.0.1", OctetsParse::failed, {}},
        {"+.0.0.1", OctetsParse::failed, {}},
        {"a.b.c.d", OctetsParse::failed, {}},
        {"0x0A.0.0.1", OctetsParse::failed, {}},
        {"", OctetsParse::failed, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        std::int32_t octets[4] = {-7, -7, -7, -7};
        const OctetsParse result = parse_octets(c.text, octets);
        EXPECT_STREQ(result_name(result), result_name(c.result));
        if (c.result == OctetsParse::converted && result == c.result) {
            for (int i = 0; i < 4; ++i) EXPECT_EQ(octets[i], c.octets[i]) << "octet " << i;
        }
    }
}

TEST(ParseInetAddress, ReadsOneToFourParts) {
    struct Case {
        const char* text;
        bool converts;
        std::array<std::uint8_t, 4> address;  // checked when it converts
    };
    const Case cases[] = {
        {"192.168.1.1", true, {192, 168, 1, 1}},
        {"0.0.0.0", true, {0, 0, 0, 0}},
        {"255.255.255.255", true, {255, 255, 255, 255}},
        {"10.1", true, {10, 0, 0, 1}},
        {"1.2.3", true, {1, 2, 0, 3}},
        {"1.2.65535", true, {1, 2, 255, 255}},
        {"1.16777215", true, {1, 255, 255, 255}},
        {"167772161", true, {10, 0, 0, 1}},
        {"4294967295", true, {255, 255, 255, 255}},
        {"0x0A.0.0.1", true, {10, 0, 0, 1}},
        {"0XFF.0xff.0xAb.0", true, {255, 255, 0xAB, 0}},
        {"0xC0A80101", true, {192, 168, 1, 1}},
        {"010.0.0.1", true, {8, 0, 0, 1}},
        {"0377.0.0.0", true, {255, 0, 0, 0}},
        {"0.0.0.00", true, {0, 0, 0, 0}},
        {"1.2.3.4 trailing", true, {1, 2, 3, 4}},
        {"1.2.3.4\t", true, {1, 2, 3, 4}},
        {"1.2.3.4\n", true, {1, 2, 3, 4}},
        {"08.0.0.1", false, {}},
        {"0400.0.0.0", false, {}},
        {"1.2.3.4.5", false, {}},
        {"1.2.3.4.", false, {}},
        {"1.", false, {}},
        {"1..2.3", false, {}},
        {".1.2.3", false, {}},
        {"256.0.0.1", false, {}},
        {"1.256.0.1", false, {}},
        {"1.2.3.256", false, {}},
        {"1.2.65536", false, {}},
        {"1.16777216", false, {}},
        {"4294967296", false, {}},
        {"0x100000000", false, {}},
        {"1.2.3.4x", false, {}},
        {"0x", false, {}},
        {"0xG", false, {}},
        {"1a.0.0.1", false, {}},
        {" 1.2.3.4", false, {}},
        {"-1.2.3.4", false, {}},
        {"+1.2.3.4", false, {}},
        {"", false, {}},
        {"gateway", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        std::uint8_t address[4] = {0x5A, 0x5A, 0x5A, 0x5A};
        const bool converts = parse_inet_address(c.text, address);
        EXPECT_EQ(converts, c.converts);
        if (c.converts && converts) {
            for (int i = 0; i < 4; ++i) EXPECT_EQ(address[i], c.address[i]) << "byte " << i;
        }
    }
}

}  // namespace
