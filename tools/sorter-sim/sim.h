// The simulated sorters and the one thread that runs them: scheduled
// broadcasts, the two receive sockets and the run-time limit, all around
// ppoll().
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>

#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "options.h"
#include "record.h"
#include "settings.h"
#include "sockets.h"

// Sorters are sent in groups of this size with one sendmmsg(); large fleets
// spread their groups over the interval so a receiver is not hit by one
// burst of thousands of datagrams per tick.
constexpr size_t kBatch = 64;

struct Sorter {
  std::string serial;
  Settings now;        // what it broadcasts; now.addr is its source address
  int ifindex;         // the interface that held its first address
  uint32_t behaviour;  // index into Options::behaviours
  bool silent;         // switched off for its restart
  unsigned char rec[kRecordSize];
};

// A configuration a sorter applied, waiting for its restart.
struct PendingRestart {
  uint32_t sorter;
  bool silent;     // false: still broadcasting its old settings
  int64_t due_ns;  // when it goes silent, or, once silent, when it is back
  Takeover takeover;
};

// An interface address this run added or removed, to put back at the end.
struct AddressChange {
  int ifindex;
  uint32_t addr;
  int prefix;
};

class Sim {
 public:
  explicit Sim(Options o) : opt_(std::move(o)) {}

  int run();

 private:
  // setting up (sim.cpp)
  void build_sorters();
  void rebuild_record(Sorter& s);
  void open_sockets();
  void emit_ready() const;
  void emit_exit(const char* reason) const;

  // the loop (sim.cpp)
  const char* loop(const sigset_t& waitmask);
  int64_t next_wake(int64_t now, int64_t end_ns, bool more_now) const;
  int64_t next_broadcast(int64_t end_ns) const;
  void serve(const pollfd* fds, nfds_t nfds);

  // sending (broadcast.cpp)
  bool send_due(int64_t now);
  bool send_next(int64_t& now, int& budget);
  int64_t due_of(size_t idx) const;
  void finish_round(int64_t now);
  // returns false when the socket pushed back (EAGAIN/ENOBUFS)
  bool send_malformed(Malformed kind);
  size_t send_batch(size_t begin, size_t end, bool& pushed_back);
  void push_back_for_a_while(int64_t now);
  bool source_gone(int err, const Sorter& s);

  // receiving (receive.cpp)
  void drain(int fd, uint16_t local_port);
  void handle(const unsigned char* buf, size_t size, const Arrival& arrival,
              uint16_t local_port);
  void apply_each(const std::vector<uint32_t>& sorters, const unsigned char* rec,
                  const Arrival& arrival, uint16_t local_port, const char* match);
  void apply(uint32_t idx, const unsigned char* rec, const Arrival& arrival,
             uint16_t local_port, const char* match);
  void emit_applied(const Sorter& s, const unsigned char* rec, const Arrival& arrival,
                    uint16_t local_port, const char* match) const;
  void log_received(const unsigned char* buf, size_t size, const Arrival& arrival,
                    uint16_t local_port) const;
  bool is_broadcast(uint32_t addr) const {
    return addr == INADDR_BROADCAST || bcasts_.count(addr) != 0;
  }
  bool done_applying() const {
    return opt_.exit_after_apply != 0 && applied_ >= opt_.exit_after_apply;
  }

  // restarting (restart.cpp)
  void schedule_restart(uint32_t idx, Takeover takeover, int64_t now);
  void run_restarts(int64_t now);
  int64_t next_restart() const;
  void go_silent(PendingRestart& p, int64_t now);
  void come_back(const PendingRestart& p);
  Settings leased(const Sorter& s, uint32_t idx, Settings next, const char*& kind) const;
  bool used_by_other(uint32_t addr, uint32_t idx) const;
  bool take_address(const Sorter& s, const Settings& next);
  void leave_address(uint32_t addr, int ifindex);
  void move_in_index(uint32_t idx, uint32_t from, uint32_t to);
  int known_prefix(uint32_t addr, int ifindex) const;
  void note_change(std::vector<AddressChange>& into, std::vector<AddressChange>& undoes,
                   const AddressChange& change);
  void restore_addresses();
  void emit_restarted(const Sorter& s, uint32_t old_addr, const char* lease,
                      const std::vector<std::string>& ignored) const;

  Options opt_;
  std::vector<LocalAddr> locals_;
  std::unordered_set<uint32_t> bcasts_;
  std::vector<Sorter> sorters_;
  std::unordered_map<std::string, std::vector<uint32_t>> by_serial_;
  std::unordered_map<uint32_t, std::vector<uint32_t>> by_addr_;

  int fd_main_ = -1;
  int fd_fw_ = -1;
  uint16_t main_port_ = 0;
  sockaddr_in dest_{};
  Stamper stamper_;
  std::mt19937_64 rng_{std::random_device{}()};
  std::vector<unsigned char> scratch_;
  std::vector<unsigned char> rbuf_;

  int64_t start_ns_ = 0;
  int64_t interval_ns_ = 0;
  size_t nbatches_ = 1;

  // schedule state of the current round: malformed kinds first, then sorters
  bool broadcasting_ = true;
  uint64_t rounds_done_ = 0;
  int64_t round_start_ = 0;
  size_t mal_pos_ = 0;
  size_t pos_ = 0;
  int64_t blocked_until_ = 0;
  bool want_pollout_ = false;

  uint64_t broadcasts_ = 0;
  uint64_t malformed_sent_ = 0;
  uint64_t received_ = 0;
  uint64_t applied_ = 0;

  std::unordered_set<uint32_t> unsendable_;  // source addresses already reported gone
  std::vector<PendingRestart> restarts_;
  std::vector<AddressChange> added_;
  std::vector<AddressChange> removed_;
};
