// The restart model: after applying a configuration a sorter keeps
// broadcasting its old settings for a while (the technician walking to the
// power switch), is silent while it restarts, then broadcasts its new
// settings from its new address, which it really adds to its interface.
#include <arpa/inet.h>
#include <net/if.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "events.h"
#include "netlink.h"
#include "sim.h"
#include "util.h"

namespace {

std::string interface_name(int ifindex) {
  char name[IF_NAMESIZE] = {};
  if (!if_indextoname(unsigned(ifindex), name)) return "#" + std::to_string(ifindex);
  return name;
}

bool same_place(const AddressChange& a, const AddressChange& b) {
  return a.ifindex == b.ifindex && a.addr == b.addr;
}

}  // namespace

// A later configuration replaces one still waiting, and the technician
// starts walking again.
void Sim::schedule_restart(uint32_t idx, Takeover takeover, int64_t now) {
  const Behaviour& b = opt_.behaviours[sorters_[idx].behaviour];
  PendingRestart p{idx, false, now + int64_t(b.restart_after_ms) * 1000000,
                   std::move(takeover)};
  auto it = std::find_if(restarts_.begin(), restarts_.end(),
                         [&](const PendingRestart& r) { return r.sorter == idx; });
  if (it != restarts_.end())
    *it = std::move(p);
  else
    restarts_.push_back(std::move(p));
}

int64_t Sim::next_restart() const {
  int64_t due = INT64_MAX;
  for (const PendingRestart& p : restarts_) due = std::min(due, p.due_ns);
  return due;
}

void Sim::run_restarts(int64_t now) {
  for (size_t i = 0; i < restarts_.size();) {
    PendingRestart& p = restarts_[i];
    if (p.due_ns > now) {
      ++i;
    } else if (!p.silent) {
      go_silent(p, now);
    } else {
      PendingRestart done = std::move(p);
      restarts_.erase(restarts_.begin() + ptrdiff_t(i));
      come_back(done);
    }
  }
}

void Sim::go_silent(PendingRestart& p, int64_t now) {
  Sorter& s = sorters_[p.sorter];
  s.silent = true;
  p.silent = true;
  p.due_ns = now + int64_t(opt_.behaviours[s.behaviour].restart_time_ms) * 1000000;
  JsonLine("restarting")
      .seconds("t", mono_ns() - start_ns_)
      .text("serial", s.serial)
      .text("addr", ip_text(s.now.addr))
      .emit();
}

void Sim::come_back(const PendingRestart& p) {
  Sorter& s = sorters_[p.sorter];
  const Settings old = s.now;
  const char* lease = "";
  Settings next = p.takeover.next;
  if (next.dhcp) next = leased(s, p.sorter, next, lease);
  if (next.addr != old.addr && !take_address(s, next)) {
    next = old;
    lease = "";
  }
  if (next.addr != old.addr) move_in_index(p.sorter, old.addr, next.addr);
  s.now = next;
  s.silent = false;
  rebuild_record(s);
  if (next.addr != old.addr) leave_address(old.addr, s.ifindex);
  emit_restarted(s, old.addr, lease, p.takeover.ignored);
}

bool Sim::used_by_other(uint32_t addr, uint32_t idx) const {
  auto it = by_addr_.find(addr);
  return it != by_addr_.end() && (it->second.size() > 1 || it->second[0] != idx);
}

// The plant's DHCP server gives the lowest address of its range that no
// other simulated sorter uses; without one, or with none free, the sorter
// picks a link-local address of its own.
Settings Sim::leased(const Sorter& s, uint32_t idx, Settings next, const char*& kind) const {
  for (uint32_t h = opt_.dhcp_first; h != 0; ++h) {
    if (!used_by_other(htonl(h), idx)) {
      next.addr = htonl(h);
      kind = "pool";
      return next;
    }
    if (h == opt_.dhcp_last) break;
  }
  constexpr uint32_t kTries = 254 * 256;
  for (uint32_t attempt = 0; attempt < kTries; ++attempt) {
    next.addr = link_local_candidate(s.serial, attempt);
    if (!used_by_other(next.addr, idx)) break;
  }
  next.mask = kLinkLocalMask;
  kind = "link-local";
  return next;
}

// The new address on the interface that held the old one, with the prefix
// of the new mask.  A failure is reported, never papered over.
bool Sim::take_address(const Sorter& s, const Settings& next) {
  int prefix = prefix_length(next.mask);
  int err = add_address(s.ifindex, next.addr, prefix);
  if (err == 0) note_change(added_, removed_, AddressChange{s.ifindex, next.addr, prefix});
  if (err == 0 || err == EEXIST) {
    uint32_t broadcast = broadcast_of(next.addr, prefix);
    if (broadcast != 0) bcasts_.insert(broadcast);
    return true;
  }
  std::string ifname = interface_name(s.ifindex);
  std::fprintf(stderr,
               "sorter-sim: sorter '%s' cannot take its new address %s/%d on %s: %s; "
               "it comes back with its old settings at %s\n",
               s.serial.c_str(), ip_text(next.addr).c_str(), prefix, ifname.c_str(),
               std::strerror(err), ip_text(s.now.addr).c_str());
  JsonLine("address_failed")
      .seconds("t", mono_ns() - start_ns_)
      .text("serial", s.serial)
      .text("addr", ip_text(next.addr))
      .number("prefix", uint64_t(prefix))
      .text("interface", ifname)
      .text("old_addr", ip_text(s.now.addr))
      .text("error", std::strerror(err))
      .emit();
  return false;
}

// Removes an address no simulated sorter sends from any more, so the
// sorter cannot be reached at its old address either.
void Sim::leave_address(uint32_t addr, int ifindex) {
  if (by_addr_.count(addr) != 0) return;
  int prefix = known_prefix(addr, ifindex);
  int err = promote_secondaries(ifindex);
  if (err == 0) err = remove_address(ifindex, addr);
  if (err == 0) note_change(removed_, added_, AddressChange{ifindex, addr, prefix});
  if (err != 0 && err != EADDRNOTAVAIL)
    std::fprintf(stderr, "sorter-sim: cannot remove the old address %s from %s: %s\n",
                 ip_text(addr).c_str(), interface_name(ifindex).c_str(), std::strerror(err));
}

void Sim::move_in_index(uint32_t idx, uint32_t from, uint32_t to) {
  auto it = by_addr_.find(from);
  if (it != by_addr_.end()) {
    std::vector<uint32_t>& v = it->second;
    v.erase(std::remove(v.begin(), v.end(), idx), v.end());
    if (v.empty()) by_addr_.erase(it);
  }
  by_addr_[to].push_back(idx);
}

int Sim::known_prefix(uint32_t addr, int ifindex) const {
  const AddressChange here{ifindex, addr, 0};
  for (const AddressChange& a : added_)
    if (same_place(a, here)) return a.prefix;
  for (const LocalAddr& l : locals_)
    if (l.addr == addr && l.ifindex == ifindex) return l.prefix;
  return 32;
}

// An address added and later removed again (or the other way round) needs
// no putting back.
void Sim::note_change(std::vector<AddressChange>& into, std::vector<AddressChange>& undoes,
                      const AddressChange& change) {
  auto it = std::find_if(undoes.begin(), undoes.end(),
                         [&](const AddressChange& a) { return same_place(a, change); });
  if (it != undoes.end())
    undoes.erase(it);
  else
    into.push_back(change);
}

// The simulated sorters leave the namespace's interfaces as they found them.
void Sim::restore_addresses() {
  for (const AddressChange& a : removed_) {
    int err = add_address(a.ifindex, a.addr, a.prefix);
    if (err != 0 && err != EEXIST)
      std::fprintf(stderr, "sorter-sim: cannot put back the address %s/%d on %s: %s\n",
                   ip_text(a.addr).c_str(), a.prefix, interface_name(a.ifindex).c_str(),
                   std::strerror(err));
  }
  for (const AddressChange& a : added_) {
    int err = promote_secondaries(a.ifindex);
    if (err == 0) err = remove_address(a.ifindex, a.addr);
    if (err != 0 && err != EADDRNOTAVAIL)
      std::fprintf(stderr, "sorter-sim: cannot remove the address %s from %s: %s\n",
                   ip_text(a.addr).c_str(), interface_name(a.ifindex).c_str(),
                   std::strerror(err));
  }
  removed_.clear();
  added_.clear();
}

void Sim::emit_restarted(const Sorter& s, uint32_t old_addr, const char* lease,
                         const std::vector<std::string>& ignored) const {
  JsonLine("restarted")
      .seconds("t", mono_ns() - start_ns_)
      .text("serial", s.serial)
      .text("old_addr", ip_text(old_addr))
      .text("addr", ip_text(s.now.addr))
      .text("ip", ip_text(s.now.addr))
      .text("mask", ip_text(s.now.mask))
      .text("gateway", s.now.gateway ? ip_text(s.now.gateway) : std::string())
      .boolean("dhcp", s.now.dhcp)
      .text("lease", lease)
      .texts("ignored", ignored)
      .emit();
}
