#include "sim.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "events.h"
#include "util.h"

namespace {

constexpr size_t kRecvBuf = 65536;

volatile sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

// Signals are only let through inside ppoll, so a stop request can never
// slip in between the flag check and going to sleep.  Returns the mask to
// wait with.
sigset_t block_stop_signals() {
  sigset_t block, waitmask;
  sigemptyset(&block);
  sigaddset(&block, SIGINT);
  sigaddset(&block, SIGTERM);
  sigprocmask(SIG_BLOCK, &block, &waitmask);
  sigdelset(&waitmask, SIGINT);
  sigdelset(&waitmask, SIGTERM);
  struct sigaction sa{};
  sa.sa_handler = on_signal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  return waitmask;
}

}  // namespace

void Sim::build_sorters() {
  sorters_.resize(opt_.sorters.size());
  for (size_t i = 0; i < opt_.sorters.size(); ++i) {
    const SorterConfig& cfg = opt_.sorters[i];
    Sorter& s = sorters_[i];
    auto it = std::find_if(locals_.begin(), locals_.end(),
                           [&](const LocalAddr& l) { return l.addr == cfg.addr; });
    if (it == locals_.end())
      usage_error("address " + ip_text(cfg.addr) +
                  " is not on any local interface; a sorter can only send from its own address");
    s.serial = cfg.serial;
    s.now = Settings{cfg.addr, 0, cfg.gateway, cfg.dhcp};
    parse_ip(cfg.mask, s.now.mask);
    s.ifindex = it->ifindex;
    s.behaviour = cfg.behaviour;
    s.silent = false;
    rebuild_record(s);
    if (!s.serial.empty()) by_serial_[s.serial].push_back(uint32_t(i));
    by_addr_[s.now.addr].push_back(uint32_t(i));
  }
  // The parsed options held a second copy of every serial; a 100000 fleet
  // need not.
  std::vector<SorterConfig>().swap(opt_.sorters);
}

void Sim::rebuild_record(Sorter& s) {
  build_record(s.rec, RecordFields{opt_.msg_type, s.serial, ip_text(s.now.addr),
                                   ip_text(s.now.mask), s.now.dhcp, s.now.gateway});
}

void Sim::open_sockets() {
  fd_main_ = open_socket(opt_.port, "sorter port");
  main_port_ = bound_port(fd_main_);
  if (opt_.firewall_port) fd_fw_ = open_socket(kFirewallPort, "firewall-mode port");
  dest_.sin_family = AF_INET;
  dest_.sin_addr.s_addr = opt_.to;
  dest_.sin_port = htons(opt_.to_port);
}

void Sim::emit_ready() const {
  JsonLine("ready")
      .number("port", main_port_)
      .number("firewall_port", opt_.firewall_port ? kFirewallPort : 0)
      .number("sorters", sorters_.size())
      .emit();
}

void Sim::emit_exit(const char* reason) const {
  JsonLine("exit")
      .number("broadcasts", broadcasts_)
      .number("received", received_)
      .number("applied", applied_)
      .number("malformed", malformed_sent_)
      .text("reason", reason)
      .emit();
}

int64_t Sim::next_broadcast(int64_t end_ns) const {
  if (!broadcasting_) return end_ns;
  if (blocked_until_ != 0) return std::min(end_ns, blocked_until_);
  if (mal_pos_ >= opt_.malformed.size() && pos_ < sorters_.size())
    return std::min(end_ns, due_of(pos_));
  return std::min(end_ns, round_start_);
}

int64_t Sim::next_wake(int64_t now, int64_t end_ns, bool more_now) const {
  if (more_now) return now;
  return std::min(next_broadcast(end_ns), next_restart());
}

void Sim::serve(const pollfd* fds, nfds_t nfds) {
  if (want_pollout_ && (fds[0].revents & POLLOUT)) {
    want_pollout_ = false;
    blocked_until_ = 0;
  }
  if (fds[0].revents & (POLLIN | POLLERR)) drain(fd_main_, main_port_);
  if (!done_applying() && nfds > 1 && (fds[1].revents & (POLLIN | POLLERR)))
    drain(fd_fw_, kFirewallPort);
}

// Runs until the duration is over, a signal arrives or enough
// configurations were applied; returns which.
const char* Sim::loop(const sigset_t& waitmask) {
  const int64_t t0 = mono_ns();
  const int64_t end_ns = t0 + int64_t(std::llround(opt_.duration_s * 1e9));
  round_start_ = t0;
  for (;;) {
    int64_t now = mono_ns();
    if (now >= end_ns) return "duration";
    run_restarts(now);
    bool more_now = send_due(now);
    now = mono_ns();
    int64_t wait = std::max<int64_t>(0, next_wake(now, end_ns, more_now) - now);
    pollfd fds[2];
    nfds_t nfds = 0;
    fds[nfds++] = {fd_main_, short(POLLIN | (want_pollout_ ? POLLOUT : 0)), 0};
    if (fd_fw_ >= 0) fds[nfds++] = {fd_fw_, POLLIN, 0};
    timespec ts{time_t(wait / 1000000000), long(wait % 1000000000)};
    int r = ppoll(fds, nfds, &ts, &waitmask);
    if (r < 0 && errno != EINTR) sys_error("ppoll");
    if (g_stop) return "signal";
    if (r > 0) serve(fds, nfds);
    if (done_applying()) return "exit-after-apply";
  }
}

int Sim::run() {
  start_ns_ = mono_ns();
  discover_interfaces(locals_, bcasts_);
  build_sorters();
  scratch_.assign(kMaxUdpPayload, 0);
  rbuf_.assign(kRecvBuf, 0);
  open_sockets();
  interval_ns_ = int64_t(opt_.interval_ms) * 1000000;
  nbatches_ = (sorters_.size() + kBatch - 1) / kBatch;
  sigset_t waitmask = block_stop_signals();
  emit_ready();
  const char* reason = loop(waitmask);
  restore_addresses();
  emit_exit(reason);
  close(fd_main_);
  if (fd_fw_ >= 0) close(fd_fw_);
  return 0;
}
