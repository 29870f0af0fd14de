// Address texts from the command line.
#pragma once

#include <cstdint>

#include "platform/platform.h"

enum class OctetsParse {
    converted,     // four numbers, each 0..255
    out_of_range,  // four numbers, at least one outside 0..255
    failed,        // not four dot-separated numbers
};

// Reads "a.b.c.d": four decimal numbers, each optionally signed and led by
// white space, separated by single dots; text after the fourth is ignored.
OctetsParse parse_octets(const char* text, std::int32_t octets[4]);

// Reads an IPv4 address as the classic socket libraries do: one to four
// dot-separated parts in decimal, octal (leading 0) or hex (leading 0x),
// the last part filling the remaining bytes ("10.1" is 10.0.0.1).
// Writes the address in network order; false when the text does not convert.
bool parse_inet_address(const char* text, std::uint8_t address[4]);

// An address as dotted-decimal text, the form every output shows.
struct AddressText {
    char text[16];
};
AddressText dotted(const platform::Ipv4Address& address);
