// Arbitrary bytes as a command line: the input split at its NUL bytes into
// the argument words after the program name, taken through the option
// scanner, parse_arguments and then run_exchange on the scripted platform.
// Whatever is typed, the outgoing record and the run settings may hold only
// what their fields can carry, and nothing ends the process.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/get_option.h"
#include "exchange/exchange.h"
#include "fakes/fake_platform.h"
#include "fuzz_support.h"

namespace {

bool all_zero(const std::uint8_t* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

bool terminated(const char* field, std::size_t size) {
    return std::memchr(field, '\0', size) != nullptr;
}

// The word that holds `text`, or -1.
int word_holding(const char* text, const std::vector<char*>& argv) {
    for (std::size_t k = 0; k + 1 < argv.size(); ++k) {
        if (text >= argv[k] && text <= argv[k] + std::strlen(argv[k])) return static_cast<int>(k);
    }
    return -1;
}

// A text field is an option's argument: some word is that text or ends in it.
bool typed(const char* field, const std::vector<char*>& argv) {
    const std::size_t length = std::strlen(field);
    if (length == 0) return true;
    for (std::size_t k = 1; k + 1 < argv.size(); ++k) {
        const std::size_t word = std::strlen(argv[k]);
        if (word >= length && std::memcmp(argv[k] + word - length, field, length) == 0) return true;
    }
    return false;
}

void scan_options(int argc, const std::vector<char*>& argv, std::size_t letters) {
    option_index = 0;
    std::size_t calls = 0;
    for (int letter; (letter = get_option(argc, argv.data(), OPTION_STRING)) != -1;) {
        CHECK(++calls <= letters + static_cast<std::size_t>(argc) + 1, "the scanner does not end");
        CHECK(option_index >= 1 && option_index <= argc, "option_index %d of %d", option_index, argc);
        if (letter == '?') continue;
        const char* entry = std::strchr(OPTION_STRING, letter);
        CHECK(letter != ':' && entry != nullptr, "letter %d is no option", letter);
        if (entry[1] == ':') {
            CHECK(option_argument != nullptr && word_holding(option_argument, argv) >= 1,
                  "-%c has no argument from the command line", letter);
        }
    }
    CHECK(option_index >= 0 && option_index <= argc, "option_index %d of %d at the end", option_index, argc);
}

// "a.b.c.d" in plain decimal, read here apart from the tool's own reader.
bool plain_address(const char* text, std::uint32_t* value) {
    unsigned parts[4];
    int used = 0;
    if (std::sscanf(text, "%3u.%3u.%3u.%3u%n", &parts[0], &parts[1], &parts[2], &parts[3], &used) != 4 ||
        text[used] != '\0') {
        return false;
    }
    *value = 0;
    for (const unsigned part : parts) {
        if (part > 255) return false;
        *value = *value << 8 | part;
    }
    char again[16];
    std::snprintf(again, sizeof again, "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
    return std::strcmp(again, text) == 0;  // no sign, space or leading zero
}

// What a usable command line asks a sorter to take: an address of a host, a
// mask with room for hosts, and with DHCP off one subnet for both and the
// gateway.
void check_settings_a_network_accepts(const SndpCfgMsg& msg) {
    std::uint32_t address = 0;
    std::uint32_t mask = 0;
    const bool has_address = msg.ip_address[0] != '\0';
    const bool has_mask = msg.subnet_mask[0] != '\0';
    if (has_address) {
        CHECK(plain_address(msg.ip_address, &address), "address %s sent", msg.ip_address);
        const std::uint32_t first = address >> 24;
        CHECK(first != 0 && first != 127 && first < 224, "address %s names no host", msg.ip_address);
    }
    if (has_mask) {
        CHECK(plain_address(msg.subnet_mask, &mask), "mask %s sent", msg.subnet_mask);
        const std::uint32_t hosts = ~mask;
        CHECK((hosts & (hosts + 1)) == 0 && mask >= 0x80000000u && hosts >= 3, "mask %s sent", msg.subnet_mask);
    }
    if (msg.dhcp_enabled != 0 || !has_address || !has_mask) return;
    CHECK((address & ~mask) != 0 && (address & ~mask) != ~mask, "%s is no host of its subnet", msg.ip_address);
    const std::uint32_t gateway = static_cast<std::uint32_t>(msg.gateway[0]) << 24 |
                                  static_cast<std::uint32_t>(msg.gateway[1]) << 16 |
                                  static_cast<std::uint32_t>(msg.gateway[2]) << 8 | msg.gateway[3];
    if (gateway == 0) return;
    CHECK((gateway & mask) == (address & mask) && gateway != address, "gateway outside the subnet or the address");
}

struct Parsed {
    ParseOutcome outcome;
    SndpCfgMsg msg;
    RunOptions run;
    std::string err;
};

Parsed parse(int argc, const std::vector<char*>& argv) {
    Parsed parsed;
    std::memset(&parsed.msg, 0xA5, sizeof parsed.msg);  // parse_arguments must clear it
    std::memset(&parsed.run, 0, sizeof parsed.run);
    parsed.run.verbose = true;                           // and set this itself
    Captured err;
    parsed.outcome = parse_arguments(argc, argv.data(), parsed.msg, parsed.run, err.file);
    parsed.err = err.close();
    return parsed;
}

void check_fields(const Parsed& p, const std::vector<char*>& argv) {
    const SndpCfgMsg& msg = p.msg;
    CHECK(p.outcome == ParseOutcome::run || p.outcome == ParseOutcome::help || p.outcome == ParseOutcome::usage_error,
          "outcome %d", static_cast<int>(p.outcome));
    CHECK(terminated(msg.serial, sizeof msg.serial), "serial without NUL");
    CHECK(terminated(msg.ip_address, sizeof msg.ip_address), "address without NUL");
    CHECK(terminated(msg.subnet_mask, sizeof msg.subnet_mask), "mask without NUL");
    CHECK(msg.dhcp_enabled == 0 || msg.dhcp_enabled == 1, "dhcp %u", msg.dhcp_enabled);
    CHECK(all_zero(reinterpret_cast<const std::uint8_t*>(msg.magic), sizeof msg.magic) &&
              all_zero(msg.msg_type, sizeof msg.msg_type),
          "magic or type written before the reply");
    CHECK(all_zero(msg.reserved_a, sizeof msg.reserved_a) && all_zero(msg.reserved_b, sizeof msg.reserved_b) &&
              all_zero(msg.reserved_c, sizeof msg.reserved_c) && all_zero(msg.reserved_d, sizeof msg.reserved_d),
          "a reserved byte is not zero");
    CHECK(all_zero(reinterpret_cast<const std::uint8_t*>(&msg.timestamp), sizeof msg.timestamp),
          "time stamp written before the reply");
    for (int i = 0; i < 4; ++i) {
        CHECK(p.run.bind_octets[i] >= 0 && p.run.bind_octets[i] <= 255, "-b octet %d", p.run.bind_octets[i]);
        CHECK(p.run.remote_octets[i] >= 0 && p.run.remote_octets[i] <= 255, "-r octet %d", p.run.remote_octets[i]);
    }
    if (p.outcome != ParseOutcome::run) return;
    CHECK(p.err.empty(), "a usable command line explained an error: %s", p.err.c_str());
    CHECK(typed(msg.serial, argv) && typed(msg.ip_address, argv) && typed(msg.subnet_mask, argv),
          "a text field holds what was not typed");
    check_settings_a_network_accepts(msg);
    for (const int seconds : {p.run.timeout_seconds, p.run.verify_seconds}) {
        CHECK(seconds >= 0 && seconds <= 86400, "a wait of %d seconds", seconds);
    }
    CHECK(p.run.verify_seconds == 0 || msg.serial[0] != '\0', "-w without a serial");
}

// Nothing arrives on the scripted platform: a receive without a deadline
// fails, one with a deadline times out.
int status_with_nothing_heard(const Parsed& p) {
    const bool listening = p.msg.serial[0] == '\0';
    if (p.run.firewall_mode) return p.run.verify_seconds != 0 ? EXIT_STATUS_TIMED_OUT : EXIT_STATUS_SUCCESS;
    if (p.run.timeout_seconds == 0) return EXIT_STATUS_NETWORK_FAILURE;
    return listening ? EXIT_STATUS_SUCCESS : EXIT_STATUS_TIMED_OUT;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words = {"vormcfg"};
    std::string word;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    if (size > 0) words.push_back(word);
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    scan_options(argc, argv, size);

    const Parsed first = parse(argc, argv);
    check_fields(first, argv);
    // The scanner's state is process-wide: a second parse must not see the first.
    const Parsed again = parse(argc, argv);
    CHECK(again.outcome == first.outcome && std::memcmp(&again.msg, &first.msg, sizeof first.msg) == 0 &&
              again.err == first.err,
          "a second parse differs");

    fake::reset();
    Captured out;
    Captured err;
    const int status = run_exchange(argc, argv.data(), out.file, err.file);
    out.close();
    err.close();
    int expected = EXIT_STATUS_USAGE;
    if (first.outcome == ParseOutcome::help) expected = EXIT_STATUS_SUCCESS;
    if (first.outcome == ParseOutcome::run) expected = status_with_nothing_heard(first);
    CHECK(status == expected, "run_exchange ended with %d, expected %d", status, expected);
    const fake::Platform& p = fake::state();
    CHECK(p.sockets_closed == p.sockets_opened && p.network_stops == p.network_starts, "not released");
    const bool sent = first.outcome == ParseOutcome::run && first.run.firewall_mode;
    CHECK(p.sent.size() == (sent ? 40u : 0u), "%zu sent", p.sent.size());
    return 0;
}
