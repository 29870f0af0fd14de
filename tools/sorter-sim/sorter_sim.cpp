// sorter-sim: a stand-in for one or many networked sorters, so that vormcfg
// can be exercised end to end without hardware.  It is deliberately written
// as an independent peer: the record layout below is its own, so a mistake
// in vormcfg's encoder shows up here instead of being mirrored.
//
// Everything runs in one thread around ppoll(): scheduled broadcasts, the
// two receive sockets and the run-time limit.  Output is one JSON object per
// line on stdout, written with write(2) so a test reading through a pipe sees
// every line as soon as it happens.

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

// ---- record layout -------------------------------------------------------

constexpr size_t kRecordSize = 128;
constexpr size_t kOffMagic = 0;
constexpr size_t kMagicLen = 9;
constexpr size_t kOffType = 9;
constexpr size_t kOffSerial = 13;
constexpr size_t kSerialLen = 28;
constexpr size_t kOffIp = 41;
constexpr size_t kIpLen = 16;
constexpr size_t kOffMask = 57;
constexpr size_t kMaskLen = 16;
constexpr size_t kOffDhcp = 83;
constexpr size_t kOffStamp = 104;  // year(2) month wday day h m s ms(2)
constexpr size_t kStampLen = 10;
constexpr size_t kOffGateway = 117;

constexpr unsigned char kMagic[kMagicLen] = {'S', 'N', 'D', 'P', '_',
                                             'C', 'F', 'G', '\0'};
constexpr uint32_t kConfigType = 3;
constexpr uint16_t kFirewallPort = 50004;
constexpr size_t kMaxUdpPayload = 65507;
constexpr size_t kRecvBuf = 65536;
// Sorters are sent in groups of this size with one sendmmsg(); large fleets
// spread their groups over the interval so a receiver is not hit by one
// burst of thousands of datagrams per tick.
constexpr size_t kBatch = 64;

constexpr const char* kHelp =
    R"(sorter-sim [options]
  --sorter SERIAL,ADDR[,MASK[,GATEWAY[,DHCP]]]   simulate one sorter (repeatable). SERIAL may be empty (",10.9.0.11").
                  ADDR is the address it sends from (must be on a local interface). MASK default 255.255.255.0,
                  GATEWAY default none ("-" or 0.0.0.0 = none), DHCP on|off default off.
  --fleet N,PREFIX,ADDR   N sorters (1..100000) with serials PREFIX0001, PREFIX0002 ... (4-digit zero-padded index,
                  wider when N > 9999), all sending from ADDR, mask 255.255.255.0, no gateway, dhcp off.
  --port P        local port the broadcasts leave from and configurations are taken at (default 50010)
  --no-firewall-port   do not listen on 50004
  --to ADDR       destination of the broadcasts (default 255.255.255.255; a directed broadcast such as 10.9.0.255 or a unicast address also allowed)
  --to-port P     destination port (default 50003)
  --interval MS   each sorter broadcasts once per interval (default 1000; 0 = as fast as possible, for floods)
  --count N       broadcasts per sorter, then stop broadcasting but keep listening (default 0 = unlimited)
  --duration S    end after S seconds (default 30, at most 3600; the sim always ends by itself)
  --exit-after-apply N   exit after N applied configurations (default 0 = never)
  --msg-type N    msg_type of the broadcasts (default 1)
  --malformed LIST  comma list; each kind is sent once per interval (from the first sorter's address, before the valid records):
                  short (100 bytes of a valid record's start), long (a valid record followed by 72 more bytes = 200 bytes),
                  empty (0 bytes), huge (65507 bytes), nomagic (128 bytes, magic "XXXX_CFG"), magic-no-nul (byte 8 = 'X'),
                  unterminated (valid magic/type 3-free record whose serial holds 28 non-NUL bytes and every byte after it up to 127 non-NUL too),
                  random (128 random bytes)
  --log-received  print a JSON line for every datagram received, accepted or not
  --help
)";

// ---- small helpers ------------------------------------------------------

[[noreturn]] void usage_error(const std::string& msg) {
  std::fprintf(stderr, "sorter-sim: %s\nTry 'sorter-sim --help'.\n",
               msg.c_str());
  std::exit(2);
}

[[noreturn]] void sys_error(const std::string& call) {
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

// Received text is untrusted: bytes may be anything, so everything outside
// printable ASCII is \u-escaped and the output stays plain ASCII JSON.
void json_str(std::string& out, const std::string& s) {
  static const char hexd[] = "0123456789abcdef";
  out += '"';
  for (unsigned char c : s) {
    if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c >= 0x7f) {
      out += "\\u00";
      out += hexd[c >> 4];
      out += hexd[c & 15];
    } else {
      out += char(c);
    }
  }
  out += '"';
}

void hex_append(std::string& out, const unsigned char* p, size_t n) {
  static const char hexd[] = "0123456789abcdef";
  out.reserve(out.size() + 2 * n + 2);
  for (size_t i = 0; i < n; ++i) {
    out += hexd[p[i] >> 4];
    out += hexd[p[i] & 15];
  }
}

void append_t(std::string& out, int64_t ns) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%lld.%06lld",
                static_cast<long long>(ns / 1000000000),
                static_cast<long long>((ns % 1000000000) / 1000));
  out += buf;
}

void emit(std::string line) {
  line += '\n';
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = write(STDOUT_FILENO, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // nobody is listening any more; keep simulating regardless
    }
    p += n;
    left -= size_t(n);
  }
}

// Text fields run to the first NUL, but a sender that forgot the NUL must
// not make us read past the record.
std::string read_text(const unsigned char* rec, size_t off) {
  std::string s;
  for (size_t i = off; i < kRecordSize && rec[i] != 0; ++i) s += char(rec[i]);
  return s;
}

void put_text(unsigned char* rec, size_t off, size_t field_len,
              const std::string& s) {
  std::memset(rec + off, 0, field_len);
  std::memcpy(rec + off, s.data(), std::min(s.size(), field_len - 1));
}

uint32_t get_le32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
         uint32_t(p[3]) << 24;
}

uint16_t get_le16(const unsigned char* p) {
  return uint16_t(p[0] | p[1] << 8);
}

// ---- time stamp -----------------------------------------------------------

// gmtime_r only when the second changes: floods restamp every datagram.
struct Stamper {
  time_t cached_sec = -1;
  tm cached{};

  void make(unsigned char out[kStampLen]) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    if (ts.tv_sec != cached_sec) {
      gmtime_r(&ts.tv_sec, &cached);
      cached_sec = ts.tv_sec;
    }
    unsigned year = unsigned(cached.tm_year + 1900);
    unsigned ms = unsigned(ts.tv_nsec / 1000000);
    out[0] = uint8_t(year);
    out[1] = uint8_t(year >> 8);
    out[2] = uint8_t(cached.tm_mon + 1);
    out[3] = uint8_t(cached.tm_wday);
    out[4] = uint8_t(cached.tm_mday);
    out[5] = uint8_t(cached.tm_hour);
    out[6] = uint8_t(cached.tm_min);
    out[7] = uint8_t(cached.tm_sec);
    out[8] = uint8_t(ms);
    out[9] = uint8_t(ms >> 8);
  }
};

// ---- configuration ------------------------------------------------------

struct SorterConfig {
  std::string serial;
  uint32_t addr = 0;  // network order
  std::string mask = "255.255.255.0";
  uint32_t gateway = 0;  // network order
  bool dhcp = false;
};

enum class Malformed { Short, Long, Empty, Huge, NoMagic, MagicNoNul,
                       Unterminated, Random };

struct Options {
  std::vector<SorterConfig> sorters;
  uint16_t port = 50010;
  bool firewall_port = true;
  uint32_t to = INADDR_BROADCAST;  // same in either byte order
  uint16_t to_port = 50003;
  uint64_t interval_ms = 1000;
  uint64_t count = 0;
  double duration_s = 30;
  uint64_t exit_after_apply = 0;
  uint32_t msg_type = 1;
  std::vector<Malformed> malformed;
  bool log_received = false;
};

SorterConfig parse_sorter(const std::string& arg) {
  std::vector<std::string> f = split(arg, ',');
  if (f.size() < 2 || f.size() > 5)
    usage_error("--sorter wants SERIAL,ADDR[,MASK[,GATEWAY[,DHCP]]], got \"" +
                arg + "\"");
  SorterConfig s;
  s.serial = f[0];
  if (s.serial.size() > kSerialLen - 1)
    usage_error("--sorter: serial \"" + s.serial + "\" is longer than 27 characters");
  if (!parse_ip(f[1], s.addr))
    usage_error("--sorter: \"" + f[1] + "\" is not an IPv4 address");
  if (f.size() > 2 && !f[2].empty()) {
    uint32_t m;
    if (!parse_ip(f[2], m))
      usage_error("--sorter: mask \"" + f[2] + "\" is not a dotted IPv4 mask");
    s.mask = ip_text(m);
  }
  if (f.size() > 3 && !f[3].empty() && f[3] != "-") {
    if (!parse_ip(f[3], s.gateway))
      usage_error("--sorter: gateway \"" + f[3] + "\" is not an IPv4 address");
  }
  if (f.size() > 4 && !f[4].empty()) {
    if (f[4] == "on")
      s.dhcp = true;
    else if (f[4] == "off")
      s.dhcp = false;
    else
      usage_error("--sorter: DHCP must be on or off, got \"" + f[4] + "\"");
  }
  return s;
}

void parse_fleet(const std::string& arg, std::vector<SorterConfig>& out) {
  std::vector<std::string> f = split(arg, ',');
  if (f.size() != 3)
    usage_error("--fleet wants N,PREFIX,ADDR, got \"" + arg + "\"");
  uint64_t n;
  if (!parse_uint(f[0], 100000, n) || n == 0)
    usage_error("--fleet: N must be 1..100000, got \"" + f[0] + "\"");
  int width = std::max(4, int(std::to_string(n).size()));
  if (f[1].size() + size_t(width) > kSerialLen - 1)
    usage_error("--fleet: serials of prefix \"" + f[1] +
                "\" would be longer than 27 characters");
  uint32_t addr;
  if (!parse_ip(f[2], addr))
    usage_error("--fleet: \"" + f[2] + "\" is not an IPv4 address");
  out.reserve(out.size() + n);
  for (uint64_t i = 1; i <= n; ++i) {
    std::string num = std::to_string(i);
    SorterConfig s;
    s.serial = f[1] + std::string(size_t(width) - num.size(), '0') + num;
    s.addr = addr;
    out.push_back(std::move(s));
  }
}

Options parse_args(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    std::string val;
    bool has_inline = false;
    if (a.rfind("--", 0) == 0) {
      size_t eq = a.find('=');
      if (eq != std::string::npos) {
        val = a.substr(eq + 1);
        a = a.substr(0, eq);
        has_inline = true;
      }
    }
    auto need = [&]() -> std::string {
      if (has_inline) return val;
      if (i + 1 >= argc) usage_error(a + " needs a value");
      return argv[++i];
    };
    auto no_value = [&]() {
      if (has_inline) usage_error(a + " takes no value");
    };
    uint64_t n;
    if (a == "--help") {
      std::fputs(kHelp, stdout);
      std::exit(0);
    } else if (a == "--sorter") {
      o.sorters.push_back(parse_sorter(need()));
    } else if (a == "--fleet") {
      parse_fleet(need(), o.sorters);
    } else if (a == "--port") {
      std::string v = need();
      if (!parse_uint(v, 65535, n)) usage_error("--port: bad port \"" + v + "\"");
      o.port = uint16_t(n);
    } else if (a == "--no-firewall-port") {
      no_value();
      o.firewall_port = false;
    } else if (a == "--to") {
      std::string v = need();
      if (!parse_ip(v, o.to)) usage_error("--to: \"" + v + "\" is not an IPv4 address");
    } else if (a == "--to-port") {
      std::string v = need();
      if (!parse_uint(v, 65535, n) || n == 0)
        usage_error("--to-port: bad port \"" + v + "\"");
      o.to_port = uint16_t(n);
    } else if (a == "--interval") {
      std::string v = need();
      if (!parse_uint(v, 3600000, n))
        usage_error("--interval: want milliseconds 0..3600000, got \"" + v + "\"");
      o.interval_ms = n;
    } else if (a == "--count") {
      std::string v = need();
      if (!parse_uint(v, UINT64_MAX, n)) usage_error("--count: bad number \"" + v + "\"");
      o.count = n;
    } else if (a == "--duration") {
      std::string v = need();
      char* end = nullptr;
      errno = 0;
      double d = v.empty() || !(std::isdigit(static_cast<unsigned char>(v[0])) || v[0] == '.')
                     ? NAN
                     : std::strtod(v.c_str(), &end);
      if (std::isnan(d) || errno != 0 || end == nullptr || *end != '\0' ||
          !(d > 0) || d > 3600)
        usage_error("--duration: want seconds, more than 0 and at most 3600, got \"" + v + "\"");
      o.duration_s = d;
    } else if (a == "--exit-after-apply") {
      std::string v = need();
      if (!parse_uint(v, UINT64_MAX, n))
        usage_error("--exit-after-apply: bad number \"" + v + "\"");
      o.exit_after_apply = n;
    } else if (a == "--msg-type") {
      std::string v = need();
      if (!parse_uint(v, UINT32_MAX, n)) usage_error("--msg-type: bad number \"" + v + "\"");
      o.msg_type = uint32_t(n);
    } else if (a == "--malformed") {
      for (const std::string& k : split(need(), ',')) {
        if (k == "short") o.malformed.push_back(Malformed::Short);
        else if (k == "long") o.malformed.push_back(Malformed::Long);
        else if (k == "empty") o.malformed.push_back(Malformed::Empty);
        else if (k == "huge") o.malformed.push_back(Malformed::Huge);
        else if (k == "nomagic") o.malformed.push_back(Malformed::NoMagic);
        else if (k == "magic-no-nul") o.malformed.push_back(Malformed::MagicNoNul);
        else if (k == "unterminated") o.malformed.push_back(Malformed::Unterminated);
        else if (k == "random") o.malformed.push_back(Malformed::Random);
        else usage_error("--malformed: unknown kind \"" + k + "\"");
      }
    } else if (a == "--log-received") {
      no_value();
      o.log_received = true;
    } else {
      usage_error("unknown argument \"" + std::string(argv[i]) + "\"");
    }
  }
  if (o.sorters.empty()) usage_error("at least one --sorter or --fleet is needed");
  if (o.firewall_port && o.port == kFirewallPort)
    usage_error("--port 50004 is the firewall-mode port; add --no-firewall-port to use it");
  return o;
}

// ---- runtime state --------------------------------------------------------

struct Sorter {
  std::string serial;
  uint32_t addr;  // source address, network order; never changes
  int ifindex;
  unsigned char rec[kRecordSize];
};

// The sorter's own address as source and its interface as the way out, so
// a limited broadcast leaves where the sorter "is" even without a route for
// 255.255.255.255.  Fields in order: interface, local address, and the
// header destination, which the kernel ignores when sending.
in_pktinfo source_info(const Sorter& s) {
  return in_pktinfo{s.ifindex, in_addr{s.addr}, in_addr{0}};
}

struct LocalAddr {
  uint32_t addr;
  int ifindex;
};

volatile sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

int open_socket(uint16_t port, const char* what) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) sys_error("socket");
  int one = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) < 0)
    sys_error("setsockopt SO_REUSEADDR");
  if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) < 0)
    sys_error("setsockopt SO_BROADCAST");
  if (setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof one) < 0)
    sys_error("setsockopt IP_PKTINFO");
  // A vormcfg flood test may send faster than we drain; a larger buffer
  // only makes drops less likely, so failure here is not an error.
  int rcv = 1 << 22;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcv, sizeof rcv);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_ANY);
  sa.sin_port = htons(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0)
    sys_error(std::string("bind 0.0.0.0:") + std::to_string(port) + " (" + what + ")");
  return fd;
}

uint16_t bound_port(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) < 0)
    sys_error("getsockname");
  return ntohs(sa.sin_port);
}

class Sim {
 public:
  explicit Sim(Options o) : opt_(std::move(o)) {}

  int run();

 private:
  void discover_interfaces();
  void build_sorters();
  void build_record(Sorter& s, const SorterConfig& cfg);

  // sending
  bool send_due(int64_t now);
  int64_t due_of(size_t idx) const;
  void finish_round(int64_t now);
  // returns false when the socket pushed back (EAGAIN/ENOBUFS)
  bool send_malformed(Malformed kind);
  size_t send_batch(size_t begin, size_t end, bool& pushed_back);
  bool transient(int e) const {
    return e == EAGAIN || e == EWOULDBLOCK || e == ENOBUFS || e == EINTR ||
           e == ECONNREFUSED;
  }

  // receiving
  void drain(int fd, uint16_t local_port);
  void handle(const unsigned char* buf, size_t size, const sockaddr_in& from,
              uint32_t to, int ifindex, uint16_t local_port);
  void apply(Sorter& s, const unsigned char* rec, const sockaddr_in& from,
             uint32_t to, uint16_t local_port, const char* match);
  bool is_broadcast(uint32_t addr) const {
    return addr == INADDR_BROADCAST || bcasts_.count(addr) != 0;
  }
  bool done_applying() const {
    return opt_.exit_after_apply != 0 && applied_ >= opt_.exit_after_apply;
  }

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
};

void Sim::discover_interfaces() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) < 0) sys_error("getifaddrs");
  for (ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
    if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET) continue;
    // IPv4 aliases come back labelled "eth0:1"; the index belongs to "eth0".
    std::string name = ifa->ifa_name;
    size_t colon = name.find(':');
    if (colon != std::string::npos) name.resize(colon);
    unsigned idx = if_nametoindex(name.c_str());
    if (idx == 0) continue;
    uint32_t a = reinterpret_cast<sockaddr_in*>(ifa->ifa_addr)->sin_addr.s_addr;
    locals_.push_back({a, int(idx)});
    if ((ifa->ifa_flags & IFF_BROADCAST) && ifa->ifa_broadaddr &&
        ifa->ifa_broadaddr->sa_family == AF_INET)
      bcasts_.insert(reinterpret_cast<sockaddr_in*>(ifa->ifa_broadaddr)->sin_addr.s_addr);
  }
  freeifaddrs(list);
}

void Sim::build_record(Sorter& s, const SorterConfig& cfg) {
  std::memset(s.rec, 0, kRecordSize);
  std::memcpy(s.rec + kOffMagic, kMagic, kMagicLen);
  uint32_t t = opt_.msg_type;
  s.rec[kOffType + 0] = uint8_t(t);
  s.rec[kOffType + 1] = uint8_t(t >> 8);
  s.rec[kOffType + 2] = uint8_t(t >> 16);
  s.rec[kOffType + 3] = uint8_t(t >> 24);
  put_text(s.rec, kOffSerial, kSerialLen, cfg.serial);
  put_text(s.rec, kOffIp, kIpLen, ip_text(cfg.addr));
  put_text(s.rec, kOffMask, kMaskLen, cfg.mask);
  s.rec[kOffDhcp] = cfg.dhcp ? 1 : 0;
  std::memcpy(s.rec + kOffGateway, &cfg.gateway, 4);  // already network order
}

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
    s.addr = cfg.addr;
    s.ifindex = it->ifindex;
    build_record(s, cfg);
    if (!s.serial.empty()) by_serial_[s.serial].push_back(uint32_t(i));
    by_addr_[s.addr].push_back(uint32_t(i));
  }
  // The parsed options held a second copy of every serial; a 100000 fleet
  // need not.
  std::vector<SorterConfig>().swap(opt_.sorters);
}

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
  unsigned char* b = scratch_.data();
  size_t len = 0;
  auto valid_start = [&]() {
    std::memcpy(b, first.rec, kRecordSize);
    stamper_.make(b + kOffStamp);
  };
  switch (kind) {
    case Malformed::Short:
      valid_start();
      len = 100;
      break;
    case Malformed::Long:
      valid_start();
      std::memset(b + kRecordSize, 0, 72);
      len = kRecordSize + 72;
      break;
    case Malformed::Empty:
      len = 0;
      break;
    case Malformed::Huge:
      // A valid record at the front, so a receiver that silently truncates
      // to 128 bytes would wrongly see a good record.
      valid_start();
      std::memset(b + kRecordSize, 0, kMaxUdpPayload - kRecordSize);
      len = kMaxUdpPayload;
      break;
    case Malformed::NoMagic:
      valid_start();
      std::memcpy(b, "XXXX_CFG", 8);
      len = kRecordSize;
      break;
    case Malformed::MagicNoNul:
      valid_start();
      b[8] = 'X';
      len = kRecordSize;
      break;
    case Malformed::Unterminated: {
      valid_start();
      // Never a configuration, even if the broadcasts were told to use 3.
      if (get_le32(b + kOffType) == kConfigType) b[kOffType] = 1;
      for (size_t i = kOffSerial; i < kRecordSize; ++i)
        if (b[i] == 0) b[i] = 'Z';
      len = kRecordSize;
      break;
    }
    case Malformed::Random:
      for (size_t i = 0; i < kRecordSize; i += 8) {
        uint64_t r = rng_();
        std::memcpy(b + i, &r, 8);
      }
      len = kRecordSize;
      break;
  }

  iovec iov{b, len};
  alignas(cmsghdr) unsigned char cbuf[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  msghdr mh{};
  mh.msg_name = &dest_;
  mh.msg_namelen = sizeof dest_;
  mh.msg_iov = &iov;
  mh.msg_iovlen = 1;
  mh.msg_control = cbuf;
  mh.msg_controllen = sizeof cbuf;
  cmsghdr* cm = CMSG_FIRSTHDR(&mh);
  cm->cmsg_level = IPPROTO_IP;
  cm->cmsg_type = IP_PKTINFO;
  cm->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
  const in_pktinfo pi = source_info(first);
  std::memcpy(CMSG_DATA(cm), &pi, sizeof pi);
  if (sendmsg(fd_main_, &mh, 0) < 0) {
    if (transient(errno)) return false;
    sys_error("sendmsg (malformed datagram from " + ip_text(first.addr) + ")");
  }
  ++malformed_sent_;
  return true;
}

size_t Sim::send_batch(size_t begin, size_t end, bool& pushed_back) {
  static mmsghdr msgs[kBatch];
  static iovec iovs[kBatch];
  alignas(cmsghdr) static unsigned char cbufs[kBatch][CMSG_SPACE(sizeof(in_pktinfo))];
  unsigned char stamp[kStampLen];
  stamper_.make(stamp);
  size_t n = end - begin;
  for (size_t k = 0; k < n; ++k) {
    Sorter& s = sorters_[begin + k];
    std::memcpy(s.rec + kOffStamp, stamp, kStampLen);
    iovs[k].iov_base = s.rec;
    iovs[k].iov_len = kRecordSize;
    msghdr& mh = msgs[k].msg_hdr;
    mh = msghdr{};
    mh.msg_name = &dest_;
    mh.msg_namelen = sizeof dest_;
    mh.msg_iov = &iovs[k];
    mh.msg_iovlen = 1;
    mh.msg_control = cbufs[k];
    mh.msg_controllen = sizeof cbufs[k];
    cmsghdr* cm = CMSG_FIRSTHDR(&mh);
    cm->cmsg_level = IPPROTO_IP;
    cm->cmsg_type = IP_PKTINFO;
    cm->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    const in_pktinfo pi = source_info(s);
    std::memcpy(CMSG_DATA(cm), &pi, sizeof pi);
  }
  int r = sendmmsg(fd_main_, msgs, unsigned(n), 0);
  if (r < 0) {
    if (transient(errno)) {
      pushed_back = true;
      return 0;
    }
    sys_error("sendmmsg (from " + ip_text(sorters_[begin].addr) + ")");
  }
  if (size_t(r) < n) pushed_back = true;
  broadcasts_ += uint64_t(r);
  return size_t(r);
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
    if (mal_pos_ < opt_.malformed.size()) {
      if (round_start_ > now) return false;
      if (!send_malformed(opt_.malformed[mal_pos_])) {
        blocked_until_ = now + 1000000;
        want_pollout_ = true;
        return false;
      }
      ++mal_pos_;
      --budget;
      continue;
    }
    if (pos_ < sorters_.size()) {
      if (due_of(pos_) > now) return false;
      size_t end = std::min((pos_ / kBatch + 1) * kBatch, sorters_.size());
      bool pushed_back = false;
      pos_ += send_batch(pos_, end, pushed_back);
      --budget;
      if (pushed_back) {
        blocked_until_ = now + 1000000;
        want_pollout_ = true;
        return false;
      }
      now = mono_ns();
      continue;
    }
    finish_round(now);
  }
  return broadcasting_ && budget == 0;
}

void Sim::drain(int fd, uint16_t local_port) {
  // Bounded, so a flood aimed at us cannot starve our own schedule.
  for (int i = 0; i < 1024 && !done_applying(); ++i) {
    sockaddr_in from{};
    iovec iov{rbuf_.data(), rbuf_.size()};
    alignas(cmsghdr) unsigned char cbuf[256];
    msghdr mh{};
    mh.msg_name = &from;
    mh.msg_namelen = sizeof from;
    mh.msg_iov = &iov;
    mh.msg_iovlen = 1;
    mh.msg_control = cbuf;
    mh.msg_controllen = sizeof cbuf;
    ssize_t n = recvmsg(fd, &mh, MSG_TRUNC);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      if (transient(errno)) continue;
      sys_error("recvmsg (port " + std::to_string(local_port) + ")");
    }
    uint32_t to = 0;
    int ifindex = 0;
    for (cmsghdr* cm = CMSG_FIRSTHDR(&mh); cm; cm = CMSG_NXTHDR(&mh, cm)) {
      if (cm->cmsg_level == IPPROTO_IP && cm->cmsg_type == IP_PKTINFO) {
        in_pktinfo pi;
        std::memcpy(&pi, CMSG_DATA(cm), sizeof pi);
        to = pi.ipi_addr.s_addr;
        ifindex = pi.ipi_ifindex;
      }
    }
    ++received_;
    handle(rbuf_.data(), size_t(n), from, to, ifindex, local_port);
  }
}

void Sim::handle(const unsigned char* buf, size_t size, const sockaddr_in& from,
                 uint32_t to, int ifindex, uint16_t local_port) {
  if (opt_.log_received) {
    std::string l = "{\"event\":\"received\",\"t\":";
    append_t(l, mono_ns() - start_ns_);
    l += ",\"from\":";
    json_str(l, ip_text(from.sin_addr.s_addr));
    l += ",\"from_port\":" + std::to_string(ntohs(from.sin_port));
    l += ",\"to\":";
    json_str(l, to ? ip_text(to) : std::string());
    l += ",\"port\":" + std::to_string(local_port);
    l += ",\"ifindex\":" + std::to_string(ifindex);
    l += ",\"size\":" + std::to_string(size);
    l += ",\"hex\":\"";
    hex_append(l, buf, std::min<size_t>(size, 256));
    l += "\"}";
    emit(std::move(l));
  }

  if (size != kRecordSize) return;
  if (std::memcmp(buf + kOffMagic, kMagic, kMagicLen) != 0) return;
  if (get_le32(buf + kOffType) != kConfigType) return;
  std::string serial = read_text(buf, kOffSerial);

  if (!serial.empty()) {
    auto it = by_serial_.find(serial);
    if (it == by_serial_.end()) return;
    for (uint32_t idx : it->second) {
      apply(sorters_[idx], buf, from, to, local_port, "serial");
      if (done_applying()) return;
    }
    return;
  }
  // An empty serial means "whoever this was addressed to", which only the
  // firewall-mode port honours.
  if (local_port != kFirewallPort || !opt_.firewall_port) return;
  if (is_broadcast(to)) {
    for (Sorter& s : sorters_) {
      apply(s, buf, from, to, local_port, "address");
      if (done_applying()) return;
    }
    return;
  }
  auto it = by_addr_.find(to);
  if (it == by_addr_.end()) return;
  for (uint32_t idx : it->second) {
    apply(sorters_[idx], buf, from, to, local_port, "address");
    if (done_applying()) return;
  }
}

void Sim::apply(Sorter& s, const unsigned char* rec, const sockaddr_in& from,
                uint32_t to, uint16_t local_port, const char* match) {
  std::string ip = read_text(rec, kOffIp);
  std::string mask = read_text(rec, kOffMask);
  uint32_t gw;
  std::memcpy(&gw, rec + kOffGateway, 4);
  bool dhcp = rec[kOffDhcp] != 0;

  // What it will announce after its restart; the source address cannot
  // follow, since the simulated sorter does not really own the new address.
  put_text(s.rec, kOffIp, kIpLen, ip);
  put_text(s.rec, kOffMask, kMaskLen, mask);
  std::memcpy(s.rec + kOffGateway, &gw, 4);
  s.rec[kOffDhcp] = dhcp ? 1 : 0;
  ++applied_;

  char ts[64];
  std::snprintf(ts, sizeof ts, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ",
                unsigned(get_le16(rec + kOffStamp)), unsigned(rec[kOffStamp + 2]),
                unsigned(rec[kOffStamp + 4]), unsigned(rec[kOffStamp + 5]),
                unsigned(rec[kOffStamp + 6]), unsigned(rec[kOffStamp + 7]),
                unsigned(get_le16(rec + kOffStamp + 8)));

  std::string l = "{\"event\":\"applied\",\"t\":";
  append_t(l, mono_ns() - start_ns_);
  l += ",\"serial\":";
  json_str(l, s.serial);
  l += ",\"addr\":";
  json_str(l, ip_text(s.addr));
  l += ",\"match\":";
  json_str(l, match);
  l += ",\"ip\":";
  json_str(l, ip);
  l += ",\"mask\":";
  json_str(l, mask);
  l += ",\"gateway\":";
  json_str(l, gw ? ip_text(gw) : std::string());
  l += dhcp ? ",\"dhcp\":true" : ",\"dhcp\":false";
  l += ",\"msg_type\":" + std::to_string(get_le32(rec + kOffType));
  l += ",\"timestamp\":";
  json_str(l, ts);
  l += ",\"day_of_week\":" + std::to_string(unsigned(rec[kOffStamp + 3]));
  l += ",\"from\":";
  json_str(l, ip_text(from.sin_addr.s_addr));
  l += ",\"from_port\":" + std::to_string(ntohs(from.sin_port));
  l += ",\"to\":";
  json_str(l, to ? ip_text(to) : std::string());
  l += ",\"port\":" + std::to_string(local_port);
  l += ",\"hex\":\"";
  hex_append(l, rec, kRecordSize);
  l += "\"}";
  emit(std::move(l));
}

int Sim::run() {
  start_ns_ = mono_ns();
  discover_interfaces();
  build_sorters();
  scratch_.assign(kMaxUdpPayload, 0);
  rbuf_.assign(kRecvBuf, 0);

  fd_main_ = open_socket(opt_.port, "sorter port");
  main_port_ = bound_port(fd_main_);
  if (opt_.firewall_port) fd_fw_ = open_socket(kFirewallPort, "firewall-mode port");

  dest_.sin_family = AF_INET;
  dest_.sin_addr.s_addr = opt_.to;
  dest_.sin_port = htons(opt_.to_port);
  interval_ns_ = int64_t(opt_.interval_ms) * 1000000;
  nbatches_ = (sorters_.size() + kBatch - 1) / kBatch;

  // Signals are only let through inside ppoll, so a stop request can never
  // slip in between the flag check and going to sleep.
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

  emit("{\"event\":\"ready\",\"port\":" + std::to_string(main_port_) +
       ",\"firewall_port\":" + std::to_string(opt_.firewall_port ? kFirewallPort : 0) +
       ",\"sorters\":" + std::to_string(sorters_.size()) + "}");

  int64_t t0 = mono_ns();
  const int64_t end_ns = t0 + int64_t(std::llround(opt_.duration_s * 1e9));
  round_start_ = t0;
  const char* reason = "duration";

  for (;;) {
    int64_t now = mono_ns();
    if (now >= end_ns) break;
    bool more_now = send_due(now);

    now = mono_ns();
    int64_t wake = end_ns;
    if (broadcasting_) {
      if (blocked_until_ != 0)
        wake = std::min(wake, blocked_until_);
      else if (mal_pos_ < opt_.malformed.size())
        wake = std::min(wake, round_start_);
      else if (pos_ < sorters_.size())
        wake = std::min(wake, due_of(pos_));
      else
        wake = std::min(wake, round_start_);
    }
    if (more_now) wake = now;
    int64_t wait = std::max<int64_t>(0, wake - now);

    pollfd fds[2];
    nfds_t nfds = 0;
    fds[nfds++] = {fd_main_, short(POLLIN | (want_pollout_ ? POLLOUT : 0)), 0};
    if (fd_fw_ >= 0) fds[nfds++] = {fd_fw_, POLLIN, 0};
    timespec ts{time_t(wait / 1000000000), long(wait % 1000000000)};
    int r = ppoll(fds, nfds, &ts, &waitmask);
    if (r < 0) {
      if (errno != EINTR) sys_error("ppoll");
    }
    if (g_stop) {
      reason = "signal";
      break;
    }
    if (r > 0) {
      if (want_pollout_ && (fds[0].revents & POLLOUT)) {
        want_pollout_ = false;
        blocked_until_ = 0;
      }
      if (fds[0].revents & (POLLIN | POLLERR)) drain(fd_main_, main_port_);
      if (!done_applying() && nfds > 1 && (fds[1].revents & (POLLIN | POLLERR)))
        drain(fd_fw_, kFirewallPort);
    }
    if (done_applying()) {
      reason = "exit-after-apply";
      break;
    }
  }

  emit("{\"event\":\"exit\",\"broadcasts\":" + std::to_string(broadcasts_) +
       ",\"received\":" + std::to_string(received_) +
       ",\"applied\":" + std::to_string(applied_) +
       ",\"malformed\":" + std::to_string(malformed_sent_) +
       ",\"reason\":\"" + reason + "\"}");
  close(fd_main_);
  if (fd_fw_ >= 0) close(fd_fw_);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o = parse_args(argc, argv);
  Sim sim(std::move(o));
  return sim.run();
}
