#include "settings.h"

#include <arpa/inet.h>

#include "record.h"
#include "util.h"

namespace {

bool usable_host(uint32_t addr_be) {
  uint32_t first = ntohl(addr_be) >> 24;
  return first != 0 && first != 127 && first < 224;
}

bool contiguous(uint32_t mask_be) {
  uint32_t host_bits = ~ntohl(mask_be);
  return (host_bits & (host_bits + 1)) == 0;  // the ones, then only zeros
}

}  // namespace

Takeover take_configuration(const Settings& old, const unsigned char* rec,
                            bool takes_gateway) {
  Takeover t{old, {}};
  t.next.dhcp = rec[kOffDhcp] != 0;
  std::string ip = read_text(rec, kOffIp);
  uint32_t addr;
  if (!ip.empty() && parse_strict_ip(ip, addr) && usable_host(addr))
    t.next.addr = addr;
  else if (!ip.empty() && !t.next.dhcp)
    t.ignored.push_back("ip");
  std::string mask_text = read_text(rec, kOffMask);
  uint32_t mask;
  if (!mask_text.empty() && parse_strict_ip(mask_text, mask) && mask != 0 && contiguous(mask))
    t.next.mask = mask;
  else if (!mask_text.empty())
    t.ignored.push_back("mask");
  uint32_t gateway = read_gateway(rec);
  if (takes_gateway)
    t.next.gateway = gateway;
  else if (gateway != old.gateway)
    t.ignored.push_back("gateway");
  return t;
}

int prefix_length(uint32_t mask_be) {
  uint32_t m = ntohl(mask_be);
  int n = 0;
  while (n < 32 && (m & (0x80000000u >> n))) ++n;
  return n;
}

uint32_t mask_of_prefix(int prefix) {
  return prefix <= 0 ? 0 : htonl(0xffffffffu << (32 - prefix));
}

uint32_t broadcast_of(uint32_t addr_be, int prefix) {
  if (prefix >= 31) return 0;
  return addr_be | ~mask_of_prefix(prefix);
}

uint32_t link_local_candidate(const std::string& serial, uint32_t attempt) {
  // FNV-1a of the serial: a sorter comes back at the same address each time,
  // as a device that derives it from its hardware address does.
  uint32_t h = 2166136261u;
  for (unsigned char c : serial) h = (h ^ c) * 16777619u;
  constexpr uint32_t kFirst = (169u << 24) | (254u << 16) | (1u << 8);  // 169.254.1.0
  constexpr uint32_t kCount = 254 * 256;                               // to .254.255
  return htonl(kFirst + (h + attempt) % kCount);
}
