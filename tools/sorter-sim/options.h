// The command line: what to simulate and how.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "malformed.h"

constexpr uint16_t kFirewallPort = 50004;

// How a sorter treats a configuration it is sent.
struct Behaviour {
  uint64_t restart_after_ms = 3000;  // still broadcasting its old settings
  uint64_t restart_time_ms = 3000;   // silent, while it restarts
  unsigned firmware_major = 2;
  unsigned firmware_minor = 7;
  bool ignore = false;      // never applies a configuration
  bool no_restart = false;  // applies it, but nobody restarts the sorter

  // Firmware before v2.7 takes a configuration but keeps its gateway.
  bool takes_gateway() const {
    return firmware_major > 2 || (firmware_major == 2 && firmware_minor >= 7);
  }
};

struct SorterConfig {
  std::string serial;
  uint32_t addr = 0;  // network order
  std::string mask = "255.255.255.0";
  uint32_t gateway = 0;  // network order
  bool dhcp = false;
  uint32_t behaviour = 0;  // index into Options::behaviours
};

struct Options {
  std::vector<SorterConfig> sorters;
  // Given before the first --sorter or --fleet, a sorter option changes
  // `defaults`; after one, the Behaviour of the most recent one, which
  // started as a copy of `defaults`.
  Behaviour defaults;
  std::vector<Behaviour> behaviours;
  // The plant's DHCP server: its range of addresses, host byte order;
  // first == 0 when there is none.
  uint32_t dhcp_first = 0;
  uint32_t dhcp_last = 0;
  uint16_t port = 50010;
  bool firewall_port = true;
  uint32_t to = 0xffffffff;  // 255.255.255.255, the same in either byte order
  uint16_t to_port = 50003;
  uint64_t interval_ms = 1000;
  uint64_t count = 0;
  double duration_s = 30;
  uint64_t exit_after_apply = 0;
  uint32_t msg_type = 1;
  std::vector<Malformed> malformed;
  bool log_received = false;
};

// Exits with the help text (status 0) or a usage error (status 2).
Options parse_args(int argc, char** argv);
