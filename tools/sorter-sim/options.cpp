#include "options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <arpa/inet.h>

#include "record.h"
#include "util.h"

namespace {

// ---- the values of single options ----------------------------------------

uint64_t number_arg(const char* option, const std::string& v, uint64_t min,
                    uint64_t max, const char* want) {
  uint64_t n;
  if (!parse_uint(v, max, n) || n < min)
    usage_error(std::string(option) + ": " + want + " \"" + v + "\"");
  return n;
}

uint32_t ip_arg(const std::string& what, const std::string& v) {
  uint32_t a;
  if (!parse_ip(v, a)) usage_error(what + " \"" + v + "\" is not an IPv4 address");
  return a;
}

SorterConfig parse_sorter(const std::string& arg);
void parse_fleet(const std::string& arg, std::vector<SorterConfig>& out);
[[noreturn]] void print_help();

// Every --sorter and --fleet starts a Behaviour of its own, for the sorter
// options that follow it.
void set_sorter(Options& o, const std::string& v) {
  o.behaviours.push_back(o.defaults);
  o.sorters.push_back(parse_sorter(v));
  o.sorters.back().behaviour = uint32_t(o.behaviours.size() - 1);
}
void set_fleet(Options& o, const std::string& v) {
  o.behaviours.push_back(o.defaults);
  size_t first = o.sorters.size();
  parse_fleet(v, o.sorters);
  for (size_t i = first; i < o.sorters.size(); ++i)
    o.sorters[i].behaviour = uint32_t(o.behaviours.size() - 1);
}
void set_port(Options& o, const std::string& v) {
  o.port = uint16_t(number_arg("--port", v, 0, 65535, "bad port"));
}
void set_no_firewall_port(Options& o, const std::string&) { o.firewall_port = false; }
void set_to(Options& o, const std::string& v) { o.to = ip_arg("--to:", v); }
void set_to_port(Options& o, const std::string& v) {
  o.to_port = uint16_t(number_arg("--to-port", v, 1, 65535, "bad port"));
}
void set_interval(Options& o, const std::string& v) {
  o.interval_ms = number_arg("--interval", v, 0, 3600000,
                             "want milliseconds 0..3600000, got");
}
void set_count(Options& o, const std::string& v) {
  o.count = number_arg("--count", v, 0, UINT64_MAX, "bad number");
}
void set_exit_after_apply(Options& o, const std::string& v) {
  o.exit_after_apply = number_arg("--exit-after-apply", v, 0, UINT64_MAX, "bad number");
}
void set_msg_type(Options& o, const std::string& v) {
  o.msg_type = uint32_t(number_arg("--msg-type", v, 0, UINT32_MAX, "bad number"));
}
void set_log_received(Options& o, const std::string&) { o.log_received = true; }
void set_help(Options&, const std::string&) { print_help(); }

void set_dhcp_pool(Options& o, const std::string& v) {
  std::vector<std::string> ends = split(v, '-');
  uint32_t first, last;
  if (ends.size() != 2 || !parse_strict_ip(ends[0], first) || !parse_strict_ip(ends[1], last))
    usage_error("--dhcp-pool wants FIRST-LAST, two IPv4 addresses, got \"" + v + "\"");
  if (ntohl(first) == 0 || ntohl(first) > ntohl(last))
    usage_error("--dhcp-pool: FIRST must be above 0.0.0.0 and not above LAST, got \"" + v + "\"");
  o.dhcp_first = ntohl(first);
  o.dhcp_last = ntohl(last);
}

// ---- the sorter options ----------------------------------------------------------

Behaviour& current_behaviour(Options& o) {
  return o.behaviours.empty() ? o.defaults : o.behaviours.back();
}

void set_restart_after(Options& o, const std::string& v) {
  current_behaviour(o).restart_after_ms =
      number_arg("--restart-after", v, 0, 3600000, "want milliseconds 0..3600000, got");
}
void set_restart_time(Options& o, const std::string& v) {
  current_behaviour(o).restart_time_ms =
      number_arg("--restart-time", v, 0, 3600000, "want milliseconds 0..3600000, got");
}
void set_ignore(Options& o, const std::string&) { current_behaviour(o).ignore = true; }
void set_no_restart(Options& o, const std::string&) { current_behaviour(o).no_restart = true; }

void set_firmware(Options& o, const std::string& v) {
  std::vector<std::string> parts = split(v, '.');
  uint64_t major, minor;
  if (parts.size() != 2 || !parse_uint(parts[0], 999, major) || !parse_uint(parts[1], 999, minor))
    usage_error("--firmware wants a version MAJOR.MINOR such as 2.6, got \"" + v + "\"");
  current_behaviour(o).firmware_major = unsigned(major);
  current_behaviour(o).firmware_minor = unsigned(minor);
}

void set_duration(Options& o, const std::string& v) {
  char* end = nullptr;
  errno = 0;
  bool starts_well = !v.empty() &&
                     (std::isdigit(static_cast<unsigned char>(v[0])) || v[0] == '.');
  double d = starts_well ? std::strtod(v.c_str(), &end) : NAN;
  if (std::isnan(d) || errno != 0 || end == nullptr || *end != '\0' || !(d > 0) ||
      d > 3600)
    usage_error("--duration: want seconds, more than 0 and at most 3600, got \"" + v + "\"");
  o.duration_s = d;
}

void set_malformed(Options& o, const std::string& v) {
  for (const std::string& name : split(v, ',')) {
    Malformed kind;
    if (!malformed_from_name(name, kind))
      usage_error("--malformed: unknown kind \"" + name + "\"");
    o.malformed.push_back(kind);
  }
}

// ---- the table ---------------------------------------------------------------

struct OptionEntry {
  const char* name;
  const char* value;  // its name in the help; nullptr for an option without one
  void (*set)(Options&, const std::string& value);
  const char* help;   // lines after the first are indented under the first
};

constexpr OptionEntry kOptions[] = {
    {"--sorter", "SERIAL,ADDR[,MASK[,GATEWAY[,DHCP]]]", set_sorter,
     "simulate one sorter (repeatable). SERIAL may be empty (\",10.9.0.11\").\n"
     "ADDR is the address it sends from (must be on a local interface). MASK default 255.255.255.0,\n"
     "GATEWAY default none (\"-\" or 0.0.0.0 = none), DHCP on|off default off."},
    {"--fleet", "N,PREFIX,ADDR", set_fleet,
     "N sorters (1..100000) with serials PREFIX0001, PREFIX0002 ... (4-digit zero-padded index,\n"
     "wider when N > 9999), all sending from ADDR, mask 255.255.255.0, no gateway, dhcp off."},
    {"--port", "P", set_port,
     "local port the broadcasts leave from and configurations are taken at (default 50010)"},
    {"--no-firewall-port", nullptr, set_no_firewall_port, "do not listen on 50004"},
    {"--to", "ADDR", set_to,
     "destination of the broadcasts (default 255.255.255.255; a directed broadcast such as\n"
     "10.9.0.255 or a unicast address also allowed)"},
    {"--to-port", "P", set_to_port, "destination port (default 50003)"},
    {"--interval", "MS", set_interval,
     "each sorter broadcasts once per interval (default 1000; 0 = as fast as possible, for floods)"},
    {"--count", "N", set_count,
     "broadcasts per sorter, then stop broadcasting but keep listening (default 0 = unlimited)"},
    {"--duration", "S", set_duration,
     "end after S seconds (default 30, at most 3600; the sim always ends by itself)"},
    {"--exit-after-apply", "N", set_exit_after_apply,
     "exit after N applied configurations (default 0 = never)"},
    {"--msg-type", "N", set_msg_type, "msg_type of the broadcasts (default 1)"},
    {"--malformed", "LIST", set_malformed,
     "comma list; each kind is sent once per interval (from the first sorter's address, before\n"
     "the valid records): short (100 bytes of a valid record's start), long (a valid record\n"
     "followed by 72 more bytes = 200 bytes), empty (0 bytes), huge (65507 bytes), nomagic\n"
     "(128 bytes, magic \"XXXX_CFG\"), magic-no-nul (byte 8 = 'X'), unterminated (a record whose\n"
     "type is never 3 and whose bytes from the serial to the end hold no NUL),\n"
     "random (128 random bytes)"},
    {"--log-received", nullptr, set_log_received,
     "print a JSON line for every datagram received, accepted or not"},
    {"--dhcp-pool", "FIRST-LAST", set_dhcp_pool,
     "the plant's DHCP server: a sorter restarting with DHCP on leases the lowest address of\n"
     "this range that no other simulated sorter uses (default: no server; such a sorter comes\n"
     "back at a link-local address 169.254.x.y, mask 255.255.0.0)"},
    {"--help", nullptr, set_help, "print this help and exit"},
};

constexpr char kSorterOptionsHeading[] =
    "Sorter options. Given before the first --sorter or --fleet, they are every sorter's default;\n"
    "after one, to the sorters of the most recent --sorter or --fleet only.\n"
    "A sorter applies a configuration sent to its serial (or, at port 50004 with an empty\n"
    "serial, to its address), keeps broadcasting its old settings for --restart-after, is silent\n"
    "for --restart-time, then broadcasts its new settings from its new address.\n";

constexpr OptionEntry kSorterOptions[] = {
    {"--restart-after", "MS", set_restart_after,
     "from applying a configuration to going silent for the restart (default 3000)"},
    {"--restart-time", "MS", set_restart_time,
     "silent while it restarts, then back with its new settings (default 3000)"},
    {"--firmware", "VERSION", set_firmware,
     "firmware version (default 2.7); before 2.7 a sorter keeps its gateway"},
    {"--ignore", nullptr, set_ignore, "never apply a configuration"},
    {"--no-restart", nullptr, set_no_restart,
     "apply a configuration but keep broadcasting the old settings: nobody restarts it"},
};

void print_option(const OptionEntry& entry) {
  constexpr int kHelpColumn = 18;
  std::string head = std::string("  ") + entry.name;
  if (entry.value) head += std::string(" ") + entry.value;
  if (head.size() + 2 > size_t(kHelpColumn)) {
    std::printf("%s\n%*s", head.c_str(), kHelpColumn, "");
  } else {
    std::printf("%-*s", kHelpColumn, head.c_str());
  }
  for (const char* p = entry.help; *p; ++p) {
    std::putchar(*p);
    if (*p == '\n') std::printf("%*s", kHelpColumn, "");
  }
  std::putchar('\n');
}

void print_help() {
  std::printf("sorter-sim [options]\n");
  for (const OptionEntry& entry : kOptions) print_option(entry);
  std::printf("\n%s", kSorterOptionsHeading);
  for (const OptionEntry& entry : kSorterOptions) print_option(entry);
  std::exit(0);
}

const OptionEntry* find_option(const std::string& name) {
  for (const OptionEntry& entry : kOptions)
    if (name == entry.name) return &entry;
  for (const OptionEntry& entry : kSorterOptions)
    if (name == entry.name) return &entry;
  return nullptr;
}

// ---- --sorter and --fleet ------------------------------------------------------

SorterConfig parse_sorter(const std::string& arg) {
  std::vector<std::string> f = split(arg, ',');
  if (f.size() < 2 || f.size() > 5)
    usage_error("--sorter wants SERIAL,ADDR[,MASK[,GATEWAY[,DHCP]]], got \"" + arg + "\"");
  f.resize(5);
  SorterConfig s;
  s.serial = f[0];
  if (s.serial.size() > kSerialLen - 1)
    usage_error("--sorter: serial \"" + s.serial + "\" is longer than 27 characters");
  s.addr = ip_arg("--sorter:", f[1]);
  uint32_t mask;
  if (!f[2].empty() && !parse_ip(f[2], mask))
    usage_error("--sorter: mask \"" + f[2] + "\" is not a dotted IPv4 mask");
  if (!f[2].empty()) s.mask = ip_text(mask);
  if (!f[3].empty() && f[3] != "-") s.gateway = ip_arg("--sorter: gateway", f[3]);
  if (f[4] == "on" || f[4] == "off")
    s.dhcp = f[4] == "on";
  else if (!f[4].empty())
    usage_error("--sorter: DHCP must be on or off, got \"" + f[4] + "\"");
  return s;
}

void parse_fleet(const std::string& arg, std::vector<SorterConfig>& out) {
  std::vector<std::string> f = split(arg, ',');
  if (f.size() != 3) usage_error("--fleet wants N,PREFIX,ADDR, got \"" + arg + "\"");
  uint64_t n = number_arg("--fleet", f[0], 1, 100000, "N must be 1..100000, got");
  size_t width = std::max<size_t>(4, std::to_string(n).size());
  if (f[1].size() + width > kSerialLen - 1)
    usage_error("--fleet: serials of prefix \"" + f[1] +
                "\" would be longer than 27 characters");
  uint32_t addr = ip_arg("--fleet:", f[2]);
  out.reserve(out.size() + n);
  for (uint64_t i = 1; i <= n; ++i) {
    std::string num = std::to_string(i);
    SorterConfig s;
    s.serial = f[1] + std::string(width - num.size(), '0') + num;
    s.addr = addr;
    out.push_back(std::move(s));
  }
}

void check_combination(const Options& o) {
  if (o.sorters.empty()) usage_error("at least one --sorter or --fleet is needed");
  if (o.firewall_port && o.port == kFirewallPort)
    usage_error("--port 50004 is the firewall-mode port; add --no-firewall-port to use it");
}

}  // namespace

Options parse_args(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    size_t eq = name.rfind("--", 0) == 0 ? name.find('=') : std::string::npos;
    bool has_inline = eq != std::string::npos;
    std::string value = has_inline ? name.substr(eq + 1) : std::string();
    if (has_inline) name.resize(eq);
    const OptionEntry* entry = find_option(name);
    if (!entry) usage_error("unknown argument \"" + std::string(argv[i]) + "\"");
    if (!entry->value && has_inline) usage_error(name + " takes no value");
    if (entry->value && !has_inline) {
      if (i + 1 >= argc) usage_error(name + " needs a value");
      value = argv[++i];
    }
    entry->set(o, value);
  }
  check_combination(o);
  return o;
}
