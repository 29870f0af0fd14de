// The broadcast schedule: each round sends the malformed kinds, then every
// sorter once, spread over the interval.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim.h"
#include "util.h"

int64_t Sim::due_of(size_t idx) const {
  if (interval_ns_ == 0) return round_start_;
  return round_start_ + int64_t((uint64_t(interval_ns_) * (idx / kBatch)) / nbatches_);
}

void Sim::finish_round(int64_t now) {
  ++rounds_done_;
  mal_pos_ = 0;
  pos_ = 0;
  if (opt_.count != 0 && rounds_done_ >= opt_.count) {
    broadcasting_ = false;
    return;
  }
  int64_t next = round_start_ + interval_ns_;
  // Fell more than a whole interval behind (slow receiver, suspended
  // process): start afresh instead of firing a burst of catch-up rounds.
  if (next + interval_ns_ < now) next = now;
  round_start_ = next;
}

bool Sim::send_malformed(Malformed kind) {
  const Sorter& first = sorters_[0];
  unsigned char valid[kRecordSize];
  std::memcpy(valid, first.rec, kRecordSize);
  stamper_.make(valid + kOffStamp);
  unsigned char noise[kRecordSize] = {};
  for (size_t i = 0; kind == Malformed::Random && i < kRecordSize; i += 8) {
    uint64_t r = rng_();
    std::memcpy(noise + i, &r, 8);
  }
  size_t len = malformed_datagram(kind, valid, noise, scratch_.data());
  iovec iov{scratch_.data(), len};
  msghdr mh;
  SourceControl ctl;
  sourced_message(mh, &dest_, &iov, ctl, first.ifindex, first.now.addr);
  if (sendmsg(fd_main_, &mh, 0) < 0) {
    if (transient_send_error(errno)) return false;
    if (source_gone(errno, first)) return true;
    sys_error("sendmsg (malformed datagram from " + ip_text(first.now.addr) + ")");
  }
  ++malformed_sent_;
  return true;
}

// Another sorter-sim in this namespace may have removed an address that
// sorters of this one send from (its own sorter moved away): those sorters
// are off the network until the address is back, but the others go on.
bool Sim::source_gone(int err, const Sorter& s) {
  if (err != ENETUNREACH && err != EADDRNOTAVAIL) return false;
  if (unsendable_.insert(s.now.addr).second)
    std::fprintf(stderr,
                 "sorter-sim: sorter '%s' cannot send from %s: %s; this namespace no longer "
                 "has that address, so the sorters at it stay silent while it is gone\n",
                 s.serial.c_str(), ip_text(s.now.addr).c_str(), std::strerror(err));
  return true;
}

// Sends the sorters begin..end that are not restarting; returns how many of
// the range are done with (all, unless the socket pushed back).
size_t Sim::send_batch(size_t begin, size_t end, bool& pushed_back) {
  static mmsghdr msgs[kBatch];
  static iovec iovs[kBatch];
  static SourceControl ctls[kBatch];
  static size_t which[kBatch];
  unsigned char stamp[kStampLen];
  stamper_.make(stamp);
  size_t n = 0;
  for (size_t i = begin; i < end; ++i) {
    Sorter& s = sorters_[i];
    if (s.silent) continue;
    std::memcpy(s.rec + kOffStamp, stamp, kStampLen);
    iovs[n] = iovec{s.rec, kRecordSize};
    sourced_message(msgs[n].msg_hdr, &dest_, &iovs[n], ctls[n], s.ifindex, s.now.addr);
    which[n++] = i;
  }
  if (n == 0) return end - begin;
  int r = sendmmsg(fd_main_, msgs, unsigned(n), 0);
  if (r < 0 && source_gone(errno, sorters_[which[0]])) return which[0] + 1 - begin;
  if (r < 0 && !transient_send_error(errno))
    sys_error("sendmmsg (from " + ip_text(sorters_[which[0]].now.addr) + ")");
  size_t sent = r < 0 ? 0 : size_t(r);
  broadcasts_ += sent;
  if (sent == n) return end - begin;
  pushed_back = true;
  return which[sent] - begin;
}

void Sim::push_back_for_a_while(int64_t now) {
  blocked_until_ = now + 1000000;
  want_pollout_ = true;
}

// One step of the round: a malformed datagram, a batch of sorters or the
// round's end.  Returns false when nothing more is due now.
bool Sim::send_next(int64_t& now, int& budget) {
  if (mal_pos_ < opt_.malformed.size()) {
    if (round_start_ > now) return false;
    if (!send_malformed(opt_.malformed[mal_pos_])) {
      push_back_for_a_while(now);
      return false;
    }
    ++mal_pos_;
    --budget;
    return true;
  }
  if (pos_ < sorters_.size()) {
    if (due_of(pos_) > now) return false;
    size_t end = std::min((pos_ / kBatch + 1) * kBatch, sorters_.size());
    bool pushed_back = false;
    pos_ += send_batch(pos_, end, pushed_back);
    --budget;
    if (pushed_back) {
      push_back_for_a_while(now);
      return false;
    }
    now = mono_ns();
    return true;
  }
  finish_round(now);
  return true;
}

// Sends whatever is due.  Returns true when more is due right now (the
// caller should poll without sleeping).
bool Sim::send_due(int64_t now) {
  if (!broadcasting_) return false;
  if (blocked_until_ != 0) {
    if (now < blocked_until_) return false;
    blocked_until_ = 0;
    want_pollout_ = false;
  }
  // Bound the work per loop turn so received datagrams are still handled
  // promptly during a flood.
  int budget = interval_ns_ == 0 ? 4 : 64;
  while (broadcasting_ && budget > 0) {
    if (!send_next(now, budget)) return false;
  }
  return broadcasting_ && budget == 0;
}
