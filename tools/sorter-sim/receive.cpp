// What the sorters take from the network: configuration records addressed
// to them, by serial or, at the firewall-mode port, by address.
#include <algorithm>
#include <cerrno>

#include "events.h"
#include "sim.h"
#include "util.h"

void Sim::drain(int fd, uint16_t local_port) {
  // Bounded, so a flood aimed at us cannot starve our own schedule.
  for (int i = 0; i < 1024 && !done_applying(); ++i) {
    Arrival arrival;
    ssize_t n = receive_datagram(fd, rbuf_.data(), rbuf_.size(), arrival);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      if (transient_send_error(errno)) continue;
      sys_error("recvmsg (port " + std::to_string(local_port) + ")");
    }
    ++received_;
    handle(rbuf_.data(), size_t(n), arrival, local_port);
  }
}

void Sim::log_received(const unsigned char* buf, size_t size, const Arrival& arrival,
                       uint16_t local_port) const {
  JsonLine("received")
      .seconds("t", mono_ns() - start_ns_)
      .text("from", ip_text(arrival.from.sin_addr.s_addr))
      .number("from_port", ntohs(arrival.from.sin_port))
      .text("to", arrival.to ? ip_text(arrival.to) : std::string())
      .number("port", local_port)
      .number("ifindex", uint64_t(arrival.ifindex))
      .number("size", size)
      .hex("hex", buf, std::min<size_t>(size, 256))
      .emit();
}

void Sim::handle(const unsigned char* buf, size_t size, const Arrival& arrival,
                 uint16_t local_port) {
  if (opt_.log_received) log_received(buf, size, arrival, local_port);
  if (!is_config_record(buf, size)) return;
  std::string serial = read_text(buf, kOffSerial);
  if (!serial.empty()) {
    auto it = by_serial_.find(serial);
    if (it != by_serial_.end()) apply_each(it->second, buf, arrival, local_port, "serial");
    return;
  }
  // An empty serial means "whoever this was addressed to", which only the
  // firewall-mode port honours.
  if (local_port != kFirewallPort || !opt_.firewall_port) return;
  if (is_broadcast(arrival.to)) {
    for (uint32_t idx = 0; idx < sorters_.size() && !done_applying(); ++idx)
      apply(idx, buf, arrival, local_port, "address");
    return;
  }
  auto it = by_addr_.find(arrival.to);
  if (it != by_addr_.end()) apply_each(it->second, buf, arrival, local_port, "address");
}

void Sim::apply_each(const std::vector<uint32_t>& sorters, const unsigned char* rec,
                     const Arrival& arrival, uint16_t local_port, const char* match) {
  for (uint32_t idx : sorters) {
    apply(idx, rec, arrival, local_port, match);
    if (done_applying()) return;
  }
}

// A sorter switched off for its restart hears nothing; one that ignores
// configurations takes none.
void Sim::apply(uint32_t idx, const unsigned char* rec, const Arrival& arrival,
                uint16_t local_port, const char* match) {
  Sorter& s = sorters_[idx];
  const Behaviour& b = opt_.behaviours[s.behaviour];
  if (b.ignore || s.silent) return;
  ++applied_;
  emit_applied(s, rec, arrival, local_port, match);
  if (!b.no_restart)
    schedule_restart(idx, take_configuration(s.now, rec, b.takes_gateway()), mono_ns());
}

void Sim::emit_applied(const Sorter& s, const unsigned char* rec, const Arrival& arrival,
                       uint16_t local_port, const char* match) const {
  uint32_t gw = read_gateway(rec);
  JsonLine("applied")
      .seconds("t", mono_ns() - start_ns_)
      .text("serial", s.serial)
      .text("addr", ip_text(s.now.addr))
      .text("match", match)
      .text("ip", read_text(rec, kOffIp))
      .text("mask", read_text(rec, kOffMask))
      .text("gateway", gw ? ip_text(gw) : std::string())
      .boolean("dhcp", rec[kOffDhcp] != 0)
      .number("msg_type", get_le32(rec + kOffType))
      .text("timestamp", stamp_text(rec))
      .number("day_of_week", rec[kOffStamp + 3])
      .text("from", ip_text(arrival.from.sin_addr.s_addr))
      .number("from_port", ntohs(arrival.from.sin_port))
      .text("to", arrival.to ? ip_text(arrival.to) : std::string())
      .number("port", local_port)
      .hex("hex", rec, kRecordSize)
      .emit();
}
