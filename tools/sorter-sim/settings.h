// A sorter's network settings, and what a configuration record makes of
// them.  Pure functions: no sockets, no clock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Settings {
  uint32_t addr;     // network order, as all addresses here
  uint32_t mask;
  uint32_t gateway;  // 0 = none
  bool dhcp;
};

// What a sorter takes from a configuration record, before any lease.
struct Takeover {
  Settings next;
  // Fields the record asked for that the sorter did not take: "ip" or
  // "mask" (not a usable address or mask), "gateway" (old firmware).
  std::vector<std::string> ignored;
};

// The IP text: strict dotted decimal and a host address (not 0.x.x.x,
// 127.x.x.x, nor 224.0.0.0 and above); empty keeps the old address.  The
// mask text: strict dotted decimal with 1 to 32 leading one bits; empty
// keeps the old mask.  The gateway: 0 means none.
Takeover take_configuration(const Settings& old, const unsigned char* rec,
                            bool takes_gateway);

// Number of leading one bits of a mask.
int prefix_length(uint32_t mask_be);
uint32_t mask_of_prefix(int prefix);
// The subnet's broadcast address, or 0 for a /31 or /32.
uint32_t broadcast_of(uint32_t addr_be, int prefix);

// Link-local addresses a device picks for itself without a DHCP server:
// 169.254.1.0 to 169.254.254.255, mask 255.255.0.0.
constexpr uint32_t kLinkLocalMask = 0x0000ffff;  // 255.255.0.0, network order
uint32_t link_local_candidate(const std::string& serial, uint32_t attempt);
