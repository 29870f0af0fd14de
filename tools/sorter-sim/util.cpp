#include "util.h"

#include <arpa/inet.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void usage_error(const std::string& msg) {
  std::fprintf(stderr, "sorter-sim: %s\nTry 'sorter-sim --help'.\n",
               msg.c_str());
  std::exit(2);
}

void sys_error(const std::string& call) {
  int e = errno;
  std::fprintf(stderr, "sorter-sim: %s: %s\n", call.c_str(),
               std::strerror(e));
  std::exit(1);
}

int64_t mono_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::string ip_text(uint32_t addr_be) {
  char buf[INET_ADDRSTRLEN];
  in_addr a{};
  a.s_addr = addr_be;
  inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

bool parse_ip(const std::string& s, uint32_t& out_be) {
  in_addr a{};
  if (inet_pton(AF_INET, s.c_str(), &a) != 1) return false;
  out_be = a.s_addr;
  return true;
}

bool parse_strict_ip(const std::string& s, uint32_t& out_be) {
  std::vector<std::string> parts = split(s, '.');
  if (parts.size() != 4) return false;
  uint32_t host = 0;
  for (const std::string& part : parts) {
    uint64_t n;
    if (part.size() > 3 || (part.size() > 1 && part[0] == '0') || !parse_uint(part, 255, n))
      return false;
    host = host << 8 | uint32_t(n);
  }
  out_be = htonl(host);
  return true;
}

bool parse_uint(const std::string& s, uint64_t max, uint64_t& out) {
  if (s.empty() || s.size() > 20) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    uint64_t d = uint64_t(c - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  if (v > max) return false;
  out = v;
  return true;
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t p = s.find(sep, start);
    if (p == std::string::npos) {
      out.push_back(s.substr(start));
      return out;
    }
    out.push_back(s.substr(start, p - start));
    start = p + 1;
  }
}
