// Small helpers every part of sorter-sim uses: the two ways to give up, the
// clock, and IPv4 addresses as text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Bad command line: one line naming the problem, exit status 2.
[[noreturn]] void usage_error(const std::string& msg);
// A system call failed where going on makes no sense: exit status 1.
[[noreturn]] void sys_error(const std::string& call);

int64_t mono_ns();

// Addresses are kept in network byte order throughout.
std::string ip_text(uint32_t addr_be);
bool parse_ip(const std::string& s, uint32_t& out_be);
// Exactly four decimal numbers 0..255 joined by dots, without signs, white
// space or leading zeros (a lone 0 is fine).
bool parse_strict_ip(const std::string& s, uint32_t& out_be);
bool parse_uint(const std::string& s, uint64_t max, uint64_t& out);
std::vector<std::string> split(const std::string& s, char sep);
