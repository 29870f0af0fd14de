#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "fakes/test_support.h"

namespace {

using namespace std::string_literals;
using test_support::Arguments;
using test_support::AT_IP;
using test_support::AT_MASK;
using test_support::AT_SERIAL;
using test_support::bytes_of;
using test_support::CapturedStream;
using test_support::RecordBytes;
using test_support::SameBytes;

struct Settings {
    bool verbose;
    bool firewall_mode;
    std::array<int, 4> bind;
    std::array<int, 4> remote;
    int timeout = 0;
    int verify = 0;
    bool json = false;
};

const Settings DEFAULTS{false, false, {0, 0, 0, 0}, {0, 0, 0, 0}};

Settings with_verbose(Settings s) { s.verbose = true; return s; }
Settings with_firewall(Settings s) { s.firewall_mode = true; return s; }
Settings with_bind(std::array<int, 4> octets, Settings s = DEFAULTS) { s.bind = octets; return s; }
Settings with_remote(std::array<int, 4> octets, Settings s = DEFAULTS) { s.remote = octets; return s; }
Settings with_timeout(int seconds) { Settings s = DEFAULTS; s.timeout = seconds; return s; }
Settings with_verify(int seconds) { Settings s = DEFAULTS; s.verify = seconds; return s; }
Settings with_json(Settings s) { s.json = true; return s; }

const char* outcome_name(ParseOutcome outcome) {
    switch (outcome) {
        case ParseOutcome::run: return "run";
        case ParseOutcome::help: return "help";
        case ParseOutcome::usage_error: return "usage_error";
    }
    return "?";
}

// The result of one parse, from a record full of 0xAA and settings the
// parser has to overwrite where it owns them.
struct Parsed {
    ParseOutcome outcome;
    std::string err;
    test_support::Bytes record;
    RunOptions run;
};

Parsed parse(const std::vector<std::string>& words) {
    Arguments arguments(words);
    CapturedStream err;
    SndpCfgMsg msg;
    std::memset(&msg, 0xAA, sizeof msg);
    RunOptions run{};
    run.verbose = true;  // the parser owns these
    run.timeout_seconds = 7;
    run.verify_seconds = 7;
    run.json = true;
    Parsed parsed;
    parsed.outcome = parse_arguments(arguments.argc(), arguments.argv(), msg, run, err.get());
    parsed.err = err.text();
    parsed.record = bytes_of(msg);
    parsed.run = run;
    return parsed;
}

void expect_settings(const RunOptions& run, const Settings& expected) {
    EXPECT_EQ(run.verbose, expected.verbose);
    EXPECT_EQ(run.firewall_mode, expected.firewall_mode);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(run.bind_octets[i], expected.bind[i]) << "bind octet " << i;
        EXPECT_EQ(run.remote_octets[i], expected.remote[i]) << "remote octet " << i;
    }
    EXPECT_EQ(run.timeout_seconds, expected.timeout);
    EXPECT_EQ(run.verify_seconds, expected.verify);
    EXPECT_EQ(run.json, expected.json);
}

struct ParseCase {
    const char* name;
    std::vector<std::string> words;
    ParseOutcome outcome;
    std::string err;
    RecordBytes record;
    Settings settings;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

class ParseArguments : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseArguments, FillsRecordAndSettings) {
    const ParseCase& c = GetParam();
    const Parsed parsed = parse(c.words);
    EXPECT_STREQ(outcome_name(parsed.outcome), outcome_name(c.outcome));
    EXPECT_EQ(parsed.err, c.err);
    EXPECT_TRUE(SameBytes(c.record, parsed.record));
    expect_settings(parsed.run, c.settings);
}

const std::string D_LINE = "fatal: the '-d' argument must be 'on' or 'off', not '";
const std::string F_LINE = "fatal: when using the '-f' option, you must also specify the '-r' option.\n";
const std::string W_LINE = "fatal: the '-w' option needs the serial number of the sorter to verify, given with '-s'.\n";

std::string refused(const char* letter, const char* text, const char* rule) {
    return "fatal: the '"s + letter + "' argument '" + text + "' " + rule + ".\n";
}

const char* const NOT_FOUR = "is not four decimal numbers joined by dots";
const char* const OUT_OF_RANGE = "has a number outside 0 to 255";
const char* const LEADING_ZERO = "has a number with a leading zero, which some devices read as octal";
const char* const NO_ROOM = "leaves no subnet of hosts: a mask has 1 to 30 one-bits";
const char* const SECONDS_RULE = "must be a whole number of seconds from 1 to 86400";

RecordBytes fixed(const char* ip, const char* mask) {
    return RecordBytes().ip(ip).mask(mask);
}

const ParseCase parse_cases[] = {
    // Nothing given: a zero record and listening mode.
    {"no_arguments", {}, ParseOutcome::run, "", RecordBytes(), DEFAULTS},
    {"full_configuration",
     {"-s", "514555555", "-d", "off", "-i", "192.168.1.101", "-u", "255.255.255.0", "-g", "192.168.1.1"},
     ParseOutcome::run, "",
     RecordBytes().serial("514555555").ip("192.168.1.101").mask("255.255.255.0").gateway(0xC0, 0xA8, 0x01, 0x01),
     DEFAULTS},
    {"attached_arguments", {"-s514555555", "-dON", "-vi10.0.0.5"}, ParseOutcome::run, "",
     RecordBytes().serial("514555555").dhcp(1).ip("10.0.0.5"), with_verbose(DEFAULTS)},
    {"json_grouped", {"-jv", "-t", "10"}, ParseOutcome::run, "", RecordBytes(),
     with_json(with_verbose(with_timeout(10)))},
    {"empty_serial", {"-s", ""}, ParseOutcome::run, "", RecordBytes(), DEFAULTS},

    // A repeated text option overwrites the start of the field only.
    {"repeated_ip", {"-i", "192.168.1.101", "-i", "10.0.0.5"}, ParseOutcome::run, "",
     RecordBytes().put(AT_IP, "10.0.0.5\0.101\0"s), DEFAULTS},
    {"repeated_serial", {"-s", "514123456", "-s", "12"}, ParseOutcome::run, "",
     RecordBytes().put(AT_SERIAL, "12\0""123456\0"s), DEFAULTS},
    {"repeated_mask", {"-u", "255.255.255.0", "-u", "255.0.0.0"}, ParseOutcome::run, "",
     RecordBytes().put(AT_MASK, "255.0.0.0\0""5.0\0"s), DEFAULTS},

    // -d
    {"dhcp_on_mixed_case", {"-d", "oN"}, ParseOutcome::run, "", RecordBytes().dhcp(1), DEFAULTS},
    {"dhcp_off_upper_case", {"-d", "OFF"}, ParseOutcome::run, "", RecordBytes(), DEFAULTS},
    {"dhcp_last_wins", {"-d", "on", "-d", "off"}, ParseOutcome::run, "", RecordBytes(), DEFAULTS},
    {"dhcp_one", {"-d", "1"}, ParseOutcome::usage_error, D_LINE + "1'.\n", RecordBytes(), DEFAULTS},
    {"dhcp_enable", {"-d", "enable"}, ParseOutcome::usage_error, D_LINE + "enable'.\n", RecordBytes(), DEFAULTS},
    {"dhcp_empty", {"-d", ""}, ParseOutcome::usage_error, D_LINE + "'.\n", RecordBytes(), DEFAULTS},
    {"dhcp_prefix", {"-d", "o"}, ParseOutcome::usage_error, D_LINE + "o'.\n", RecordBytes(), DEFAULTS},
    {"dhcp_longer", {"-d", "onn"}, ParseOutcome::usage_error, D_LINE + "onn'.\n", RecordBytes(), DEFAULTS},
    {"dhcp_error_keeps_earlier_value", {"-d", "on", "-d", "yes"}, ParseOutcome::usage_error, D_LINE + "yes'.\n",
     RecordBytes().dhcp(1), DEFAULTS},

    // -g
    {"gateway_zero_means_none", {"-g", "0.0.0.0"}, ParseOutcome::run, "", RecordBytes(), DEFAULTS},
    {"gateway_short_form", {"-g", "10.1"}, ParseOutcome::run, "", RecordBytes().gateway(10, 0, 0, 1), DEFAULTS},
    {"gateway_hex", {"-g", "0xC0.0xA8.1.0xFE"}, ParseOutcome::run, "", RecordBytes().gateway(192, 168, 1, 254),
     DEFAULTS},
    {"gateway_not_an_address", {"-g", "gateway"}, ParseOutcome::usage_error,
     "fatal: the '-g' argument 'gateway' is not an IPv4 address.\n", RecordBytes(), DEFAULTS},
    {"gateway_octet_too_big", {"-g", "192.168.1.256"}, ParseOutcome::usage_error,
     "fatal: the '-g' argument '192.168.1.256' is not an IPv4 address.\n", RecordBytes(), DEFAULTS},
    {"gateway_empty", {"-g", ""}, ParseOutcome::usage_error, "fatal: the '-g' argument '' is not an IPv4 address.\n",
     RecordBytes(), DEFAULTS},

    // -b and -r
    {"bind", {"-b", "10.0.0.5"}, ParseOutcome::run, "", RecordBytes(), with_bind({10, 0, 0, 5})},
    {"bind_trailing_text_ignored", {"-b", "10.0.0.5x"}, ParseOutcome::run, "", RecordBytes(),
     with_bind({10, 0, 0, 5})},
    {"bind_three_numbers_fails_silently", {"-b", "10.0.0"}, ParseOutcome::usage_error, "", RecordBytes(), DEFAULTS},
    {"bind_number_over_255", {"-b", "300.0.0.5"}, ParseOutcome::usage_error,
     "fatal: the '-b' argument '300.0.0.5' has a number outside 0 to 255.\n", RecordBytes(), DEFAULTS},
    {"bind_negative_number", {"-b", "-1.0.0.1"}, ParseOutcome::usage_error,
     "fatal: the '-b' argument '-1.0.0.1' has a number outside 0 to 255.\n", RecordBytes(), DEFAULTS},
    {"bind_number_wrapping_32_bits", {"-b", "4294967306.0.0.1"}, ParseOutcome::usage_error,
     "fatal: the '-b' argument '4294967306.0.0.1' has a number outside 0 to 255.\n", RecordBytes(), DEFAULTS},
    {"bind_failure_zeroes_earlier_octets", {"-b", "10.0.0.5", "-b", "10.0.0"}, ParseOutcome::usage_error, "",
     RecordBytes(), DEFAULTS},
    {"remote", {"-r", "10.0.0.5"}, ParseOutcome::run, "", RecordBytes(), with_remote({10, 0, 0, 5})},
    {"remote_out_of_range", {"-r", "10.0.0.256"}, ParseOutcome::usage_error,
     "fatal: the '-r' argument '10.0.0.256' has a number outside 0 to 255.\n", RecordBytes(), DEFAULTS},

    // -f needs a converted -r.
    {"firewall_with_remote", {"-v", "-f", "-r", "10.0.0.5", "-s", "514555555"}, ParseOutcome::run, "",
     RecordBytes().serial("514555555"), with_firewall(with_remote({10, 0, 0, 5}, with_verbose(DEFAULTS)))},
    {"firewall_remote_before", {"-r", "10.0.0.5", "-f"}, ParseOutcome::run, "", RecordBytes(),
     with_firewall(with_remote({10, 0, 0, 5}))},
    {"firewall_remote_zero_accepted", {"-f", "-r", "0.0.0.0"}, ParseOutcome::run, "", RecordBytes(),
     with_firewall(DEFAULTS)},
    {"firewall_without_remote", {"-f"}, ParseOutcome::usage_error, F_LINE, RecordBytes(), with_firewall(DEFAULTS)},
    {"firewall_remote_not_converted", {"-f", "-r", "10.0.0"}, ParseOutcome::usage_error, F_LINE, RecordBytes(),
     with_firewall(DEFAULTS)},
    // Four numbers out of range are a given -r: one line, the one that says what is wrong.
    {"firewall_remote_out_of_range", {"-f", "-r", "300.0.0.5"}, ParseOutcome::usage_error,
     "fatal: the '-r' argument '300.0.0.5' has a number outside 0 to 255.\n", RecordBytes(),
     with_firewall(DEFAULTS)},
    {"firewall_remote_out_of_range_before", {"-r", "256.0.0.1", "-f"}, ParseOutcome::usage_error,
     "fatal: the '-r' argument '256.0.0.1' has a number outside 0 to 255.\n", RecordBytes(),
     with_firewall(DEFAULTS)},
    {"firewall_remote_not_converted_after_out_of_range", {"-f", "-r", "300.0.0.5", "-r", "10.0.0"},
     ParseOutcome::usage_error, "fatal: the '-r' argument '300.0.0.5' has a number outside 0 to 255.\n",
     RecordBytes(), with_firewall(DEFAULTS)},

    // -i: four plain decimal numbers naming a host.
    {"ip_number_over_255", {"-i", "999.1.1.1"}, ParseOutcome::usage_error, refused("-i", "999.1.1.1", OUT_OF_RANGE),
     RecordBytes().ip("999.1.1.1"), DEFAULTS},
    {"ip_three_numbers", {"-i", "10.0.0"}, ParseOutcome::usage_error, refused("-i", "10.0.0", NOT_FOUR),
     RecordBytes().ip("10.0.0"), DEFAULTS},
    {"ip_leading_zero", {"-i", "010.1.1.5"}, ParseOutcome::usage_error, refused("-i", "010.1.1.5", LEADING_ZERO),
     RecordBytes().ip("010.1.1.5"), DEFAULTS},
    {"ip_trailing_space", {"-i", "10.0.0.5 "}, ParseOutcome::usage_error, refused("-i", "10.0.0.5 ", NOT_FOUR),
     RecordBytes().ip("10.0.0.5 "), DEFAULTS},
    {"ip_this_network", {"-i", "0.1.2.3"}, ParseOutcome::usage_error,
     refused("-i", "0.1.2.3", "is in 0.0.0.0/8, which names no host"), RecordBytes().ip("0.1.2.3"), DEFAULTS},
    {"ip_loopback", {"-i", "127.0.0.5"}, ParseOutcome::usage_error,
     refused("-i", "127.0.0.5", "is a loopback address (127.0.0.0/8)"), RecordBytes().ip("127.0.0.5"), DEFAULTS},
    {"ip_last_unicast", {"-i", "223.255.255.254"}, ParseOutcome::run, "", RecordBytes().ip("223.255.255.254"),
     DEFAULTS},
    {"ip_multicast", {"-i", "224.0.0.0"}, ParseOutcome::usage_error,
     refused("-i", "224.0.0.0", "is a multicast, reserved or broadcast address (224.0.0.0 and above)"),
     RecordBytes().ip("224.0.0.0"), DEFAULTS},
    {"ip_bad_then_good_stays_refused", {"-i", "10.0.0", "-i", "10.0.0.5"}, ParseOutcome::usage_error,
     refused("-i", "10.0.0", NOT_FOUR), RecordBytes().ip("10.0.0.5"), DEFAULTS},

    // -u: a contiguous mask with room for hosts.
    {"mask_slash_30", {"-u", "255.255.255.252"}, ParseOutcome::run, "", RecordBytes().mask("255.255.255.252"),
     DEFAULTS},
    {"mask_not_contiguous", {"-u", "255.0.255.0"}, ParseOutcome::usage_error,
     refused("-u", "255.0.255.0", "is not a subnet mask: its one-bits are not contiguous"),
     RecordBytes().mask("255.0.255.0"), DEFAULTS},
    {"mask_slash_31", {"-u", "255.255.255.254"}, ParseOutcome::usage_error, refused("-u", "255.255.255.254", NO_ROOM),
     RecordBytes().mask("255.255.255.254"), DEFAULTS},
    {"mask_all_ones", {"-u", "255.255.255.255"}, ParseOutcome::usage_error, refused("-u", "255.255.255.255", NO_ROOM),
     RecordBytes().mask("255.255.255.255"), DEFAULTS},
    {"mask_zero", {"-u", "0.0.0.0"}, ParseOutcome::usage_error, refused("-u", "0.0.0.0", NO_ROOM),
     RecordBytes().mask("0.0.0.0"), DEFAULTS},
    {"mask_leading_zero", {"-u", "255.255.255.000"}, ParseOutcome::usage_error,
     refused("-u", "255.255.255.000", LEADING_ZERO), RecordBytes().mask("255.255.255.000"), DEFAULTS},
    {"empty_ip_and_mask_ask_for_nothing", {"-i", "", "-u", ""}, ParseOutcome::run, "", RecordBytes(), DEFAULTS},

    // With DHCP off, address, mask and gateway make one subnet.
    {"network_address", {"-i", "10.9.0.0", "-u", "255.255.255.0"}, ParseOutcome::usage_error,
     refused("-i", "10.9.0.0", "is the network address of its subnet 10.9.0.0/24"), fixed("10.9.0.0", "255.255.255.0"),
     DEFAULTS},
    {"broadcast_address", {"-i", "10.9.0.255", "-u", "255.255.255.0"}, ParseOutcome::usage_error,
     refused("-i", "10.9.0.255", "is the broadcast address of its subnet 10.9.0.0/24"),
     fixed("10.9.0.255", "255.255.255.0"), DEFAULTS},
    {"host_of_slash_30", {"-i", "10.9.0.102", "-u", "255.255.255.252"}, ParseOutcome::run, "",
     fixed("10.9.0.102", "255.255.255.252"), DEFAULTS},
    {"broadcast_of_slash_30", {"-i", "10.9.0.103", "-u", "255.255.255.252", "-d", "off"}, ParseOutcome::usage_error,
     refused("-i", "10.9.0.103", "is the broadcast address of its subnet 10.9.0.100/30"),
     fixed("10.9.0.103", "255.255.255.252"), DEFAULTS},
    {"network_address_with_dhcp_on", {"-d", "on", "-i", "10.9.0.0", "-u", "255.255.255.0"}, ParseOutcome::run, "",
     fixed("10.9.0.0", "255.255.255.0").dhcp(1), DEFAULTS},
    {"network_address_without_mask", {"-i", "10.9.0.0"}, ParseOutcome::run, "", RecordBytes().ip("10.9.0.0"),
     DEFAULTS},
    {"gateway_inside", {"-i", "10.9.0.101", "-u", "255.255.255.0", "-g", "10.9.0.1"}, ParseOutcome::run, "",
     fixed("10.9.0.101", "255.255.255.0").gateway(10, 9, 0, 1), DEFAULTS},
    {"gateway_outside", {"-g", "10.8.0.1", "-i", "10.9.0.101", "-u", "255.255.255.0"}, ParseOutcome::usage_error,
     refused("-g", "10.8.0.1", "is outside the subnet 10.9.0.0/24 of the '-i' address"),
     fixed("10.9.0.101", "255.255.255.0").gateway(10, 8, 0, 1), DEFAULTS},
    {"gateway_outside_as_typed", {"-i", "10.9.0.101", "-u", "255.255.255.0", "-g", "10.1"},
     ParseOutcome::usage_error, refused("-g", "10.1", "is outside the subnet 10.9.0.0/24 of the '-i' address"),
     fixed("10.9.0.101", "255.255.255.0").gateway(10, 0, 0, 1), DEFAULTS},
    {"gateway_is_the_address", {"-i", "10.9.0.101", "-u", "255.255.255.0", "-g", "10.9.0.101"},
     ParseOutcome::usage_error, refused("-g", "10.9.0.101", "is the address given with '-i'"),
     fixed("10.9.0.101", "255.255.255.0").gateway(10, 9, 0, 101), DEFAULTS},
    {"gateway_is_the_subnet_broadcast", {"-i", "10.9.0.101", "-u", "255.255.255.0", "-g", "10.9.0.255"},
     ParseOutcome::usage_error, refused("-g", "10.9.0.255", "is the broadcast address of the subnet 10.9.0.0/24"),
     fixed("10.9.0.101", "255.255.255.0").gateway(10, 9, 0, 255), DEFAULTS},
    {"gateway_zero_is_none", {"-i", "10.9.0.101", "-u", "255.255.255.0", "-g", "0.0.0.0"}, ParseOutcome::run, "",
     fixed("10.9.0.101", "255.255.255.0"), DEFAULTS},
    {"address_and_gateway_both_refused", {"-i", "10.9.0.0", "-u", "255.255.255.0", "-g", "10.8.0.1"},
     ParseOutcome::usage_error,
     refused("-i", "10.9.0.0", "is the network address of its subnet 10.9.0.0/24") +
         refused("-g", "10.8.0.1", "is outside the subnet 10.9.0.0/24 of the '-i' address"),
     fixed("10.9.0.0", "255.255.255.0").gateway(10, 8, 0, 1), DEFAULTS},

    // -t and -w take whole seconds; -w verifies the sorter -s names.
    {"timeout", {"-t", "5"}, ParseOutcome::run, "", RecordBytes(), with_timeout(5)},
    {"timeout_longest", {"-t", "86400"}, ParseOutcome::run, "", RecordBytes(), with_timeout(86400)},
    {"timeout_zero", {"-t", "0"}, ParseOutcome::usage_error, refused("-t", "0", SECONDS_RULE), RecordBytes(),
     DEFAULTS},
    {"timeout_past_a_day", {"-t", "86401"}, ParseOutcome::usage_error, refused("-t", "86401", SECONDS_RULE),
     RecordBytes(), DEFAULTS},
    {"timeout_huge", {"-t", "99999999999999999999"}, ParseOutcome::usage_error,
     refused("-t", "99999999999999999999", SECONDS_RULE), RecordBytes(), DEFAULTS},
    {"timeout_negative", {"-t", "-5"}, ParseOutcome::usage_error, refused("-t", "-5", SECONDS_RULE), RecordBytes(),
     DEFAULTS},
    {"timeout_fraction", {"-t", "1.5"}, ParseOutcome::usage_error, refused("-t", "1.5", SECONDS_RULE), RecordBytes(),
     DEFAULTS},
    {"timeout_with_unit", {"-t", "5s"}, ParseOutcome::usage_error, refused("-t", "5s", SECONDS_RULE), RecordBytes(),
     DEFAULTS},
    {"timeout_empty", {"-t", ""}, ParseOutcome::usage_error, refused("-t", "", SECONDS_RULE), RecordBytes(),
     DEFAULTS},
    {"verify", {"-s", "514555555", "-w", "300"}, ParseOutcome::run, "", RecordBytes().serial("514555555"),
     with_verify(300)},
    {"verify_bad_seconds", {"-s", "514555555", "-w", "soon"}, ParseOutcome::usage_error,
     refused("-w", "soon", SECONDS_RULE), RecordBytes().serial("514555555"), DEFAULTS},
    {"verify_without_serial", {"-w", "300"}, ParseOutcome::usage_error, W_LINE, RecordBytes(), with_verify(300)},
    {"verify_with_empty_serial", {"-s", "", "-w", "300"}, ParseOutcome::usage_error, W_LINE, RecordBytes(),
     with_verify(300)},

    // Every bad value is reported, in order; the good ones are kept.
    {"errors_reported_in_order", {"-d", "yes", "-s", "514555555", "-g", "nowhere"}, ParseOutcome::usage_error,
     D_LINE + "yes'.\nfatal: the '-g' argument 'nowhere' is not an IPv4 address.\n",
     RecordBytes().serial("514555555"), DEFAULTS},

    // Help, unknown letters and missing arguments end the scan.
    {"help", {"-h", "-d", "maybe"}, ParseOutcome::help, "", RecordBytes(), DEFAULTS},
    {"help_question_mark", {"-v", "-?", "-d", "maybe"}, ParseOutcome::help, "", RecordBytes(),
     with_verbose(DEFAULTS)},
    {"help_after_error", {"-d", "maybe", "-h"}, ParseOutcome::usage_error, D_LINE + "maybe'.\n", RecordBytes(),
     DEFAULTS},
    {"question_mark_after_error", {"-d", "maybe", "-?"}, ParseOutcome::usage_error, D_LINE + "maybe'.\n",
     RecordBytes(), DEFAULTS},
    {"unknown_letter", {"-V"}, ParseOutcome::usage_error, "", RecordBytes(), DEFAULTS},
    {"long_option", {"--verbose"}, ParseOutcome::usage_error, "", RecordBytes(), DEFAULTS},
    {"unknown_letter_stops_scan", {"-f", "-x", "-s", "514555555"}, ParseOutcome::usage_error, "", RecordBytes(),
     with_firewall(DEFAULTS)},
    {"unknown_letter_before_help", {"-x", "-h"}, ParseOutcome::usage_error, "", RecordBytes(), DEFAULTS},
    {"missing_argument", {"-v", "-i"}, ParseOutcome::usage_error, "", RecordBytes(), with_verbose(DEFAULTS)},

    // Where the options end.
    {"plain_word_first", {"514555555", "-s", "1"}, ParseOutcome::run, "", RecordBytes(), DEFAULTS},
    {"double_dash", {"-v", "--", "-s", "1"}, ParseOutcome::run, "", RecordBytes(), with_verbose(DEFAULTS)},
};

INSTANTIATE_TEST_SUITE_P(CommandLines, ParseArguments, ::testing::ValuesIn(parse_cases),
                         [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(ParseArguments, LaterSuccessDoesNotClearAnEarlierAddressFailure) {
    for (const char* letter : {"-b", "-r"}) {
        SCOPED_TRACE(letter);
        EXPECT_EQ(parse({letter, "10.0.0", letter, "10.0.0.5"}).outcome, ParseOutcome::usage_error);
        EXPECT_EQ(parse({letter, "300.0.0.1", letter, "10.0.0.5"}).outcome, ParseOutcome::usage_error);
    }
}

TEST(ParseArguments, TextFieldLimits) {
    struct Field {
        const char* letter;
        std::size_t offset;
        std::size_t size;
        std::string at_limit;  // as long as the field holds, and a valid value
        std::string shorter;   // another valid value
    };
    const Field fields[] = {{"-s", AT_SERIAL, 28, std::string(27, '7'), "12"},
                            {"-i", AT_IP, 16, "192.168.100.200", "10.0.0.1"},
                            {"-u", AT_MASK, 16, "255.255.255.128", "255.0.0.0"}};
    for (const Field& field : fields) {
        SCOPED_TRACE(field.letter);
        const std::size_t limit = field.size - 1;
        ASSERT_EQ(field.at_limit.size(), limit);

        const std::string& at_limit = field.at_limit;
        const Parsed fits = parse({field.letter, at_limit});
        EXPECT_EQ(fits.outcome, ParseOutcome::run);
        EXPECT_EQ(fits.err, "");
        EXPECT_TRUE(SameBytes(RecordBytes().text(field.offset, at_limit), fits.record));

        // Too long: the line, and the earlier value left as it was.
        const Parsed too_long = parse({field.letter, field.shorter, field.letter, "1" + at_limit});
        EXPECT_EQ(too_long.outcome, ParseOutcome::usage_error);
        EXPECT_EQ(too_long.err, "fatal: the '" + std::string(field.letter) + "' argument is longer than " +
                                    std::to_string(limit) + " characters.\n");
        EXPECT_TRUE(SameBytes(RecordBytes().text(field.offset, field.shorter), too_long.record));
    }
}

TEST(ParseArguments, GatewayTextLimit) {
    // White space ends an address, so a padded address converts up to the limit.
    const std::string at_limit = "192.168.1.1" + std::string(1023 - 11, ' ');
    const Parsed fits = parse({"-g", at_limit});
    EXPECT_EQ(fits.outcome, ParseOutcome::run);
    EXPECT_EQ(fits.err, "");
    EXPECT_TRUE(SameBytes(RecordBytes().gateway(192, 168, 1, 1), fits.record));

    const Parsed too_long = parse({"-g", at_limit + " "});
    EXPECT_EQ(too_long.outcome, ParseOutcome::usage_error);
    EXPECT_EQ(too_long.err, "fatal: the '-g' argument is longer than 1023 characters.\n");
    EXPECT_TRUE(SameBytes(RecordBytes(), too_long.record));
}

TEST(PrintUsage, WritesTheUsageText) {
    const char* const expected =
        "\n"
        "vormcfg v1.0.0.7 - network settings for sorters\n"
        "\n"
        "  vormcfg [device-id] [configuration-options] [tool-settings]\n"
        "\n"
        "  device-id - identifies the target sorter:\n"
        "    -s serial : identifies the target sorter's serial number\n"
        "    -r ipaddr : identifies the target sorter's current IP address.\n"
        "\n"
        "  configuration-options - specify new configuration parameters:\n"
        "    -i ip     : ip address to assign to the sorter\n"
        "    -u mask   : subnet mask to assign to the sorter\n"
        "    -g gtwy   : gateway address to assign to the sorter\n"
        "                (Requires scanner firmware v2.7 or above)\n"
        "    -d on|off : enable/disable DHCP on the sorter\n"
        "\n"
        "  tool-settings - change the behavior of this tool\n"
        "    -b ifc    : bind to a specific network interface\n"
        "    -f        : firewall mode. Send cfg msg w/o waiting for req from sorter\n"
        "                In this mode, you must also specify the '-r ipaddr' option.\n"
        "    -v        : verbose mode\n"
        "    -t secs   : give up after secs seconds; listening mode then ends\n"
        "    -w secs   : after sending, wait up to secs seconds for the sorter to\n"
        "                restart with the new configuration, and verify it\n"
        "    -j        : write one JSON object per line instead of text\n"
        "\n"
        "  If the -s option is missing, a listening mode is entered and\n"
        "  information is displayed from any broadcasting sorters on the network.\n"
        "\n"
        "  Ex: Setup static IP addressing for sorter 514555555 using 192.168.1.101:\n"
        "\n"
        "  C:\\>vormcfg -s 514555555 -d off -i 192.168.1.101 -u 255.255.255.0\n"
        "\n";
    CapturedStream err;
    print_usage(err.get());
    EXPECT_EQ(err.text(), expected);
}

TEST(AddressFromOctets, KeepsTheLowEightBitsInOrder) {
    const std::int32_t octets[4] = {10, 256 + 1, -1, 255};
    const platform::Ipv4Address address = address_from_octets(octets);
    EXPECT_EQ(address.octets[0], 10);
    EXPECT_EQ(address.octets[1], 1);
    EXPECT_EQ(address.octets[2], 255);
    EXPECT_EQ(address.octets[3], 255);
}

}  // namespace
