// What makes an address or a mask one that a network accepts. Addresses are
// 32-bit values in host order here, so that masks and subnets are plain
// arithmetic.
#pragma once

#include <cstdint>

#include "platform/platform.h"

enum class DottedQuad {
    valid,
    not_four_numbers,  // anything but four plain decimal numbers and three dots
    out_of_range,      // a number above 255
    leading_zero,      // "010", which some readers take for octal
};

// Exactly four decimal numbers 0..255 joined by single dots: no sign, no
// white space, no leading zero (a lone 0 is fine), nothing after the last.
DottedQuad parse_dotted_quad(const char* text, std::uint32_t* address);

enum class HostAddress {
    usable,
    this_network,            // 0.0.0.0/8
    loopback,                // 127.0.0.0/8
    multicast_or_reserved,   // 224.0.0.0 and above, 255.255.255.255 included
};

HostAddress classify_host_address(std::uint32_t address);

enum class SubnetMask {
    usable,
    not_contiguous,  // a zero-bit before a one-bit
    no_room,         // 0 one-bits, or 31 or 32: no subnet with hosts in it
};

SubnetMask classify_subnet_mask(std::uint32_t mask);
int prefix_length(std::uint32_t mask);

inline std::uint32_t network_of(std::uint32_t address, std::uint32_t mask) {
    return address & mask;
}
inline std::uint32_t broadcast_of(std::uint32_t address, std::uint32_t mask) {
    return (address & mask) | ~mask;
}

inline platform::Ipv4Address address_of(std::uint32_t address) {
    return platform::Ipv4Address{{static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16),
                                  static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)}};
}
