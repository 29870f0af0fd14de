#include "cli/command_line.h"

#include <cstring>

#include "cli/address_rules.h"
#include "cli/address_text.h"
#include "cli/console.h"
#include "cli/get_option.h"

namespace {

constexpr std::size_t GATEWAY_TEXT_LIMIT = 1023;

bool equals_ignoring_case(const char* text, const char* lower) {
    for (; *text != '\0' && *lower != '\0'; ++text, ++lower) {
        const char c = (*text >= 'A' && *text <= 'Z') ? static_cast<char>(*text - 'A' + 'a') : *text;
        if (c != *lower) return false;
    }
    return *text == '\0' && *lower == '\0';
}

bool fits(const char* text, std::size_t limit, char letter, std::FILE* err) {
    if (std::strlen(text) <= limit) return true;
    console_print(err, "fatal: the '-%c' argument is longer than %zu characters.\n", letter, limit);
    return false;
}

bool refuse(std::FILE* err, char letter, const char* text, const char* rule) {
    console_print(err, "fatal: the '-%c' argument '%s' %s.\n", letter, text, rule);
    return false;
}

bool check_dotted_quad(const char* text, char letter, std::uint32_t* address, std::FILE* err) {
    switch (parse_dotted_quad(text, address)) {
        case DottedQuad::valid: return true;
        case DottedQuad::not_four_numbers: return refuse(err, letter, text, "is not four decimal numbers joined by dots");
        case DottedQuad::out_of_range: return refuse(err, letter, text, "has a number outside 0 to 255");
        case DottedQuad::leading_zero:
            return refuse(err, letter, text, "has a number with a leading zero, which some devices read as octal");
    }
    return false;
}

// An empty -i or -u asks for nothing and is sent as it is.
bool check_host_text(const char* text, std::FILE* err) {
    std::uint32_t address = 0;
    if (text[0] == '\0') return true;
    if (!check_dotted_quad(text, 'i', &address, err)) return false;
    switch (classify_host_address(address)) {
        case HostAddress::usable: return true;
        case HostAddress::this_network: return refuse(err, 'i', text, "is in 0.0.0.0/8, which names no host");
        case HostAddress::loopback: return refuse(err, 'i', text, "is a loopback address (127.0.0.0/8)");
        case HostAddress::multicast_or_reserved:
            return refuse(err, 'i', text, "is a multicast, reserved or broadcast address (224.0.0.0 and above)");
    }
    return false;
}

bool check_mask_text(const char* text, std::FILE* err) {
    std::uint32_t mask = 0;
    if (text[0] == '\0') return true;
    if (!check_dotted_quad(text, 'u', &mask, err)) return false;
    switch (classify_subnet_mask(mask)) {
        case SubnetMask::usable: return true;
        case SubnetMask::not_contiguous: return refuse(err, 'u', text, "is not a subnet mask: its one-bits are not contiguous");
        case SubnetMask::no_room: return refuse(err, 'u', text, "leaves no subnet of hosts: a mask has 1 to 30 one-bits");
    }
    return false;
}

std::uint32_t gateway_value(const SndpCfgMsg& msg) {
    return static_cast<std::uint32_t>(msg.gateway[0]) << 24 | static_cast<std::uint32_t>(msg.gateway[1]) << 16 |
           static_cast<std::uint32_t>(msg.gateway[2]) << 8 | msg.gateway[3];
}

// A fixed address, its mask and its gateway have to make one subnet that the
// sorter can live in; with DHCP on the address is leased and not checked.
bool check_subnet(const SndpCfgMsg& msg, const char* gateway_text, std::FILE* err) {
    std::uint32_t address = 0;
    std::uint32_t mask = 0;
    if (msg.dhcp_enabled != 0 || parse_dotted_quad(msg.ip_address, &address) != DottedQuad::valid ||
        parse_dotted_quad(msg.subnet_mask, &mask) != DottedQuad::valid ||
        classify_subnet_mask(mask) != SubnetMask::usable) {
        return true;
    }
    char subnet[40];
    std::snprintf(subnet, sizeof subnet, "%s/%d", dotted(address_of(network_of(address, mask))).text, prefix_length(mask));
    char rule[128];
    bool ok = true;
    if (address == network_of(address, mask) || address == broadcast_of(address, mask)) {
        std::snprintf(rule, sizeof rule, "is the %s address of its subnet %s",
                      address == network_of(address, mask) ? "network" : "broadcast", subnet);
        ok = refuse(err, 'i', msg.ip_address, rule);
    }
    const std::uint32_t gateway = gateway_value(msg);
    if (gateway == 0) return ok;
    if (network_of(gateway, mask) != network_of(address, mask)) {
        std::snprintf(rule, sizeof rule, "is outside the subnet %s of the '-i' address", subnet);
        return refuse(err, 'g', gateway_text, rule);
    }
    if (gateway == network_of(address, mask) || gateway == broadcast_of(address, mask)) {
        std::snprintf(rule, sizeof rule, "is the %s address of the subnet %s",
                      gateway == network_of(address, mask) ? "network" : "broadcast", subnet);
        return refuse(err, 'g', gateway_text, rule);
    }
    if (gateway == address) return refuse(err, 'g', gateway_text, "is the address given with '-i'");
    return ok;
}

// A whole number of seconds, as -t and -w take it.
bool set_seconds(int* seconds, const char* text, char letter, std::FILE* err) {
    long value = 0;
    const char* cursor = text;
    for (; *cursor >= '0' && *cursor <= '9' && value <= LONGEST_WAIT_SECONDS; ++cursor) {
        value = value * 10 + (*cursor - '0');
    }
    if (cursor == text || *cursor != '\0' || value < 1 || value > LONGEST_WAIT_SECONDS) {
        console_print(err, "fatal: the '-%c' argument '%s' must be a whole number of seconds from 1 to %d.\n",
                      letter, text, LONGEST_WAIT_SECONDS);
        return false;
    }
    *seconds = static_cast<int>(value);
    return true;
}

// A repeated -s, -i or -u copies the new text and its NUL over the start of
// the field and leaves the bytes after that NUL as they were.
bool copy_text_option(char* field, std::size_t field_size, const char* text, char letter, std::FILE* err) {
    if (!fits(text, field_size - 1, letter, err)) return false;
    std::memcpy(field, text, std::strlen(text) + 1);
    return true;
}

bool set_gateway(SndpCfgMsg& msg, const char* text, std::FILE* err) {
    if (!fits(text, GATEWAY_TEXT_LIMIT, 'g', err)) return false;
    std::uint8_t address[4];
    if (!parse_inet_address(text, address)) {
        console_print(err, "fatal: the '-g' argument '%s' is not an IPv4 address.\n", text);
        return false;
    }
    std::memcpy(msg.gateway, address, sizeof msg.gateway);
    return true;
}

bool set_dhcp(SndpCfgMsg& msg, const char* text, std::FILE* err) {
    if (equals_ignoring_case(text, "on")) {
        msg.dhcp_enabled = 1;
    } else if (equals_ignoring_case(text, "off")) {
        msg.dhcp_enabled = 0;
    } else {
        console_print(err, "fatal: the '-d' argument must be 'on' or 'off', not '%s'.\n", text);
        return false;
    }
    return true;
}

// A failed conversion leaves all four octets 0 and is explained by the
// usage text alone; a number outside 0..255 would address another host.
OctetsParse set_octets(std::int32_t octets[4], const char* text, char letter, std::FILE* err) {
    const OctetsParse result = parse_octets(text, octets);
    if (result == OctetsParse::converted) return result;
    std::memset(octets, 0, 4 * sizeof octets[0]);
    if (result == OctetsParse::out_of_range) {
        console_print(err, "fatal: the '-%c' argument '%s' has a number outside 0 to 255.\n", letter, text);
    }
    return result;
}

// The scanner answers '?' both for -? and for a letter it does not know.
bool asked_for_help() {
    return option_cursor != nullptr && option_cursor[-1] == '?';
}

}  // namespace

platform::Ipv4Address address_from_octets(const std::int32_t octets[4]) {
    platform::Ipv4Address address{};
    for (int i = 0; i < 4; ++i) address.octets[i] = static_cast<std::uint8_t>(octets[i] & 0xFF);
    return address;
}

ParseOutcome parse_arguments(int argc, char* const argv[], SndpCfgMsg& msg, RunOptions& run, std::FILE* err) {
    bool ok = true;
    bool remote_given = false;
    const char* gateway_text = "";
    std::memset(&msg, 0, sizeof msg);
    run.verbose = false;
    run.json = false;
    run.timeout_seconds = 0;
    run.verify_seconds = 0;
    option_index = 0;
    for (int letter; (letter = get_option(argc, argv, OPTION_STRING)) != -1;) {
        const char* argument = option_argument;
        switch (letter) {
            case 'h': return ok ? ParseOutcome::help : ParseOutcome::usage_error;
            case '?': return ok && asked_for_help() ? ParseOutcome::help : ParseOutcome::usage_error;
            case 'v': run.verbose = true; break;
            case 'f': run.firewall_mode = true; break;
            case 'j': run.json = true; break;
            case 's': ok = copy_text_option(msg.serial, sizeof msg.serial, argument, 's', err) && ok; break;
            case 'i':
                ok = copy_text_option(msg.ip_address, sizeof msg.ip_address, argument, 'i', err) &&
                     check_host_text(argument, err) && ok;
                break;
            case 'u':
                ok = copy_text_option(msg.subnet_mask, sizeof msg.subnet_mask, argument, 'u', err) &&
                     check_mask_text(argument, err) && ok;
                break;
            case 'g':
                // The text the gateway came from, for a line about its subnet.
                if (set_gateway(msg, argument, err)) {
                    gateway_text = argument;
                } else {
                    ok = false;
                }
                break;
            case 'd': ok = set_dhcp(msg, argument, err) && ok; break;
            case 'b': ok = set_octets(run.bind_octets, argument, 'b', err) == OctetsParse::converted && ok; break;
            case 'r': {
                // Four numbers count as a given -r for -f, in range or not:
                // an out-of-range one has its own line already.
                const OctetsParse result = set_octets(run.remote_octets, argument, 'r', err);
                remote_given = remote_given || result != OctetsParse::failed;
                ok = result == OctetsParse::converted && ok;
                break;
            }
            case 't': ok = set_seconds(&run.timeout_seconds, argument, 't', err) && ok; break;
            case 'w': ok = set_seconds(&run.verify_seconds, argument, 'w', err) && ok; break;
        }
    }
    if (run.firewall_mode && !remote_given) {
        console_print(err, "fatal: when using the '-f' option, you must also specify the '-r' option.\n");
        ok = false;
    }
    ok = check_subnet(msg, gateway_text, err) && ok;
    if (run.verify_seconds != 0 && serial_is_empty(msg)) {
        console_print(err, "fatal: the '-w' option needs the serial number of the sorter to verify, given with '-s'.\n");
        ok = false;
    }
    return ok ? ParseOutcome::run : ParseOutcome::usage_error;
}

void print_usage(std::FILE* err) {
    static const char* const lines[] = {
        "\n",
        "vormcfg v1.0.0.7 - network settings for sorters\n",
        "\n",
        "  vormcfg [device-id] [configuration-options] [tool-settings]\n\n",
        "  device-id - identifies the target sorter:\n",
        "    -s serial : identifies the target sorter's serial number\n",
        "    -r ipaddr : identifies the target sorter's current IP address.\n\n",
        "  configuration-options - specify new configuration parameters:\n",
        "    -i ip     : ip address to assign to the sorter\n",
        "    -u mask   : subnet mask to assign to the sorter\n",
        "    -g gtwy   : gateway address to assign to the sorter\n",
        "                (Requires scanner firmware v2.7 or above)\n",
        "    -d on|off : enable/disable DHCP on the sorter\n\n",
        "  tool-settings - change the behavior of this tool\n",
        "    -b ifc    : bind to a specific network interface\n",
        "    -f        : firewall mode. Send cfg msg w/o waiting for req from sorter\n",
        "                In this mode, you must also specify the '-r ipaddr' option.\n",
        "    -v        : verbose mode\n",
        "    -t secs   : give up after secs seconds; listening mode then ends\n",
        "    -w secs   : after sending, wait up to secs seconds for the sorter to\n",
        "                restart with the new configuration, and verify it\n",
        "    -j        : write one JSON object per line instead of text\n",
        "\n",
        "  If the -s option is missing, a listening mode is entered and\n",
        "  information is displayed from any broadcasting sorters on the network.\n",
        "\n",
        "  Ex: Setup static IP addressing for sorter 514555555 using 192.168.1.101:\n\n",
        "  C:\\>vormcfg -s 514555555 -d off -i 192.168.1.101 -u 255.255.255.0\n\n",
    };
    for (const char* line : lines) console_print(err, "%s", line);
}
