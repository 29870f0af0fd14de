// The command line: what to simulate and how.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "malformed.h"

constexpr uint16_t kFirewallPort = 50004;

struct SorterConfig {
  std::string serial;
  uint32_t addr = 0;  // network order
  std::string mask = "255.255.255.0";
  uint32_t gateway = 0;  // network order
  bool dhcp = false;
};

struct Options {
  std::vector<SorterConfig> sorters;
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
