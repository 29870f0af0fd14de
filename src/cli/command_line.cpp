#include "cli/command_line.h"

#include <cstring>

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
    std::memset(&msg, 0, sizeof msg);
    run.verbose = false;
    option_index = 0;
    for (int letter; (letter = get_option(argc, argv, OPTION_STRING)) != -1;) {
        const char* argument = option_argument;
        switch (letter) {
            case 'h': return ok ? ParseOutcome::help : ParseOutcome::usage_error;
            case '?': return ok && asked_for_help() ? ParseOutcome::help : ParseOutcome::usage_error;
            case 'v': run.verbose = true; break;
            case 'f': run.firewall_mode = true; break;
            case 's': ok = copy_text_option(msg.serial, sizeof msg.serial, argument, 's', err) && ok; break;
            case 'i': ok = copy_text_option(msg.ip_address, sizeof msg.ip_address, argument, 'i', err) && ok; break;
            case 'u': ok = copy_text_option(msg.subnet_mask, sizeof msg.subnet_mask, argument, 'u', err) && ok; break;
            case 'g': ok = set_gateway(msg, argument, err) && ok; break;
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
        }
    }
    if (run.firewall_mode && !remote_given) {
        console_print(err, "fatal: when using the '-f' option, you must also specify the '-r' option.\n");
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
        "\n",
        "  If the -s option is missing, a listening mode is entered and\n",
        "  information is displayed from any broadcasting sorters on the network.\n",
        "\n",
        "  Ex: Setup static IP addressing for sorter 514555555 using 192.168.1.101:\n\n",
        "  C:\\>vormcfg -s 514555555 -d off -i 192.168.1.101 -u 255.255.255.0\n\n",
    };
    for (const char* line : lines) console_print(err, "%s", line);
}
