#include "exchange/exchange.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "fakes/fake_platform.h"
#include "fakes/test_support.h"

namespace {

using platform::Ipv4Address;
using test_support::Arguments;
using test_support::Bytes;
using test_support::CapturedStream;
using test_support::RecordBytes;
using test_support::SameBytes;

const Ipv4Address SORTER_A{{192, 168, 1, 50}};
const Ipv4Address SORTER_B{{192, 168, 1, 51}};
const Ipv4Address STRAY_SOURCE{{192, 168, 1, 99}};
constexpr std::uint16_t SORTER_PORT = 50010;  // the fake's default source port

const char* const TARGET = "514555555";
const char* const OTHER = "514666666";

std::string address_text(const Ipv4Address& address) {
    return std::to_string(address.octets[0]) + "." + std::to_string(address.octets[1]) + "." +
           std::to_string(address.octets[2]) + "." + std::to_string(address.octets[3]);
}

// What a sorter broadcasts: its serial and current settings.
RecordBytes broadcast_of(const char* serial) {
    return RecordBytes().magic().byte(9, 1).serial(serial).ip("10.9.9.9").mask("255.255.0.0");
}

std::string start_lines(const char* target, const char* interface = "192.168.1.10") {
    std::string text = std::string("vormcfg running on network interface ") + interface + "\n";
    if (target != nullptr) {
        text += std::string("Waiting for LumatrexExpert serial # ") + target + "\n";
    } else {
        text += "Listening mode: Waiting for Lumatrex Expert broadcast activity...\n";
    }
    return text + "Press CTRL + C to quit\n\n";
}

std::string announced(const std::string& serial) {
    return "Serial Number '" + serial + "' is broadcasting.\n";
}

std::string summary_head(const char* serial) {
    return std::string("\nThis is the configuration that was sent to '") + serial +
           "'.\nRestart the sorter and re-run 'vormcfg -v' to verify this configuration:\n\n";
}

std::string usage_text() {
    CapturedStream usage;
    print_usage(usage.get());
    return usage.text();
}

std::string describe(const platform::Endpoint& endpoint) {
    return address_text(endpoint.address) + ":" + std::to_string(endpoint.port);
}

class ExchangeTest : public ::testing::Test {
protected:
    void SetUp() override { fake::reset(); }

    int run(const std::vector<std::string>& words) {
        Arguments arguments(words);
        fake::state().watched_output = out_.get();
        return run_exchange(arguments.argc(), arguments.argv(), out_.get(), err_.get());
    }
    std::string out() const { return out_.text(); }
    std::string err() const { return err_.text(); }

    // Released exactly what was opened.
    void expect_released() const {
        const fake::Platform& p = fake::state();
        EXPECT_EQ(p.sockets_closed, p.sockets_opened);
        EXPECT_EQ(p.network_stops, p.network_starts);
    }

private:
    CapturedStream out_;
    CapturedStream err_;
};

// --- Failures -----------------------------------------------------------

struct FailureCase {
    const char* name;
    void (*arrange)();
    std::string err;
    std::string out;
    int sockets_opened;
    int network_starts;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class ExchangeFailure : public ExchangeTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ExchangeFailure, ReportsReleasesAndExitsWithOne) {
    const FailureCase& c = GetParam();
    c.arrange();
    fake::arrive(broadcast_of(TARGET), SORTER_A);

    EXPECT_EQ(run({"-s", TARGET, "-i", "10.0.0.9"}), EXIT_STATUS_NETWORK_FAILURE);
    EXPECT_EQ(err(), c.err);
    EXPECT_EQ(out(), c.out);
    const fake::Platform& p = fake::state();
    EXPECT_EQ(p.sockets_opened, c.sockets_opened);
    EXPECT_EQ(p.network_starts, c.network_starts);
    EXPECT_EQ(p.sockets_closed, c.sockets_opened);
    EXPECT_EQ(p.network_stops, c.network_starts);
}

const std::string STARTED = start_lines(TARGET);

const FailureCase failure_cases[] = {
    {"start_network", [] { fake::fail(fake::Operation::start_network, 10091); },
     "fatal: could not open initialize the network library: 10091.\n", "", 0, 0},
    {"open_socket", [] { fake::fail(fake::Operation::open_socket, 24); }, "fatal: could not create socket: 24\n", "",
     0, 1},
    {"enable_broadcast", [] { fake::fail(fake::Operation::enable_broadcast, 13); },
     "Error setting socket 'SO_BROADCAST' option: 13\n", "", 1, 1},
    {"host_name_unresolved", [] { fake::state().host_name_resolves = false; }, "Could not get host name.\n", "", 1,
     1},
    {"interface_query",
     [] {
         fake::state().host_name_resolves = false;
         fake::state().interfaces = {{platform::INTERFACE_UP, {{10, 0, 0, 7}}, {}, {}}};
         fake::fail(fake::Operation::query_interfaces, 22);
     },
     "Could not get host name.\n", "", 1, 1},
    {"bind", [] { fake::fail(fake::Operation::bind_socket, 98); }, "Could not bind to socket: 98\n", "", 1, 1},
    {"receive", [] { fake::fail(fake::Operation::receive, 104); }, "Could not receive datagram: 104\n", STARTED, 1,
     1},
    // The loop waits again after an interrupted or truncated receive; a failure
    // that follows is still reported with its own error number.
    {"receive_after_interrupted_wait",
     [] {
         fake::arrive_status(platform::ReceiveStatus::interrupted);
         fake::arrive_status(platform::ReceiveStatus::failed, 110);
     },
     "Could not receive datagram: 110\n", STARTED, 1, 1},
    {"receive_after_truncated_datagram",
     [] {
         Bytes longer = broadcast_of(TARGET);  // the target's record, then more
         longer.resize(200);
         fake::arrive(longer, STRAY_SOURCE);
         fake::arrive_status(platform::ReceiveStatus::failed, 111);
     },
     "Could not receive datagram: 111\n", STARTED, 1, 1},
    {"send", [] { fake::fail(fake::Operation::send, 101); }, "Error sending reply message to port 50010: 101\n",
     STARTED + announced(TARGET), 1, 1},
    {"short_send",
     [] {
         fake::state().send_results = {64};
         fake::state().failing_error = 90;
     },
     "Error sending reply message to port 50010: 90\n", STARTED + announced(TARGET), 1, 1},
};

INSTANTIATE_TEST_SUITE_P(Operations, ExchangeFailure, ::testing::ValuesIn(failure_cases),
                         [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(ExchangeTest, CommandLineOutcomesOpenNothing) {
    struct Case {
        std::vector<std::string> words;
        int status;
        std::string err_before_usage;
    };
    const Case cases[] = {
        {{"-h"}, EXIT_STATUS_SUCCESS, ""},
        {{"-s", TARGET, "-?"}, EXIT_STATUS_SUCCESS, ""},
        {{"-x"}, EXIT_STATUS_USAGE, ""},
        {{"-s"}, EXIT_STATUS_USAGE, ""},
        {{"-d", "maybe"}, EXIT_STATUS_USAGE, "fatal: the '-d' argument must be 'on' or 'off', not 'maybe'.\n"},
        {{"-f"}, EXIT_STATUS_USAGE, "fatal: when using the '-f' option, you must also specify the '-r' option.\n"},
        {{"-b", "10.0.0"}, EXIT_STATUS_USAGE, ""},
    };
    const std::string usage = usage_text();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words.front());
        fake::reset();
        CapturedStream out;
        CapturedStream err;
        Arguments arguments(c.words);
        EXPECT_EQ(run_exchange(arguments.argc(), arguments.argv(), out.get(), err.get()), c.status);
        EXPECT_EQ(err.text(), c.err_before_usage + usage);
        EXPECT_EQ(out.text(), "");
        EXPECT_EQ(fake::state().network_starts, 0);
        EXPECT_EQ(fake::state().sockets_opened, 0);
    }
}

// --- Listening ----------------------------------------------------------

TEST_F(ExchangeTest, ListeningAnnouncesEachSorterOnceInOrderOfArrival) {
    fake::arrive(broadcast_of(TARGET).mask("255.255.255.0"), SORTER_A);
    fake::arrive(broadcast_of(OTHER).mask("").gateway(192, 168, 1, 1).dhcp(1), SORTER_B);
    fake::arrive(broadcast_of(TARGET).mask("255.255.255.0"), SORTER_A);
    fake::arrive(broadcast_of(OTHER).mask("").gateway(192, 168, 1, 1).dhcp(1), SORTER_B);

    EXPECT_EQ(run({"-v"}), EXIT_STATUS_NETWORK_FAILURE);  // the script runs out
    EXPECT_EQ(out(), start_lines(nullptr) + announced(TARGET) +
                         "Current configuration:\n"
                         "    IP Address ...... 192.168.1.50\n"
                         "    Subnet mask ..... 255.255.255.0\n"
                         "    DHCP ............ Off\n" +
                         announced(OTHER) +
                         "Current configuration:\n"
                         "    IP Address ...... 192.168.1.51\n"
                         "    Subnet mask ..... \n"
                         "    Gateway ......... 192.168.1.1\n"
                         "    DHCP ............ On\n");
    EXPECT_EQ(err(), "Scanning Local Network Interfaces . . .\n\nCould not receive datagram: 9999\n");
    EXPECT_TRUE(fake::state().sent.empty());
    expect_released();
}

TEST_F(ExchangeTest, ListeningWithoutVerbosePrintsSerialsOnly) {
    fake::arrive(broadcast_of(TARGET), SORTER_A);
    fake::arrive(broadcast_of(OTHER), SORTER_B);
    run({});
    EXPECT_EQ(out(), start_lines(nullptr) + announced(TARGET) + announced(OTHER));
}

TEST_F(ExchangeTest, TextsWithoutNulAreReadOnToTheNextNul) {
    const std::string serial(28, '5');
    const std::string mask(16, '2');
    fake::arrive(RecordBytes().magic().put(13, serial).ip("10.1.2.3").put(57, mask), SORTER_A);
    run({"-v"});
    EXPECT_EQ(out(), start_lines(nullptr) + announced(serial + "10.1.2.3") +
                         "Current configuration:\n"
                         "    IP Address ...... 192.168.1.50\n"
                         "    Subnet mask ..... " + mask + "\n"
                         "    DHCP ............ Off\n");
}

TEST_F(ExchangeTest, ListeningNeverAnswersAnEmptySerial) {
    const std::vector<std::string> command_lines[] = {{}, {"-s", ""}, {"-v", "-s", "", "-i", "10.0.0.9"}};
    for (const std::vector<std::string>& words : command_lines) {
        SCOPED_TRACE(words.size());
        fake::reset();
        fake::arrive(broadcast_of(""), SORTER_A);
        fake::arrive(broadcast_of(TARGET), SORTER_B);
        fake::arrive(broadcast_of(""), SORTER_A);
        EXPECT_EQ(run(words), EXIT_STATUS_NETWORK_FAILURE);
        EXPECT_TRUE(fake::state().sent.empty());
        EXPECT_TRUE(fake::state().arrivals.empty());
    }
}

// --- Answering the target -------------------------------------------------

TEST_F(ExchangeTest, AnswersTheTargetWithTheCompletedRecord) {
    fake::arrive(broadcast_of(OTHER), SORTER_B);
    fake::arrive(broadcast_of(TARGET).gateway(10, 0, 0, 1).dhcp(0), SORTER_A);
    fake::arrive(broadcast_of(OTHER), SORTER_B);  // after the answer: never read

    EXPECT_EQ(run({"-s", TARGET, "-d", "on", "-i", "192.168.1.101", "-u", "255.255.255.0", "-g", "192.168.1.1"}),
              EXIT_STATUS_SUCCESS);

    const fake::Platform& p = fake::state();
    ASSERT_EQ(p.sent.size(), 1u);
    EXPECT_TRUE(SameBytes(RecordBytes()
                              .magic()
                              .reply_type()
                              .serial(TARGET)
                              .ip("192.168.1.101")
                              .mask("255.255.255.0")
                              .dhcp(1)
                              .fake_clock_stamp()
                              .gateway(192, 168, 1, 1),
                          p.sent[0].bytes));
    EXPECT_EQ(describe(p.sent[0].destination), "255.255.255.255:50010");
    EXPECT_TRUE(p.sent[0].dont_route);
    EXPECT_EQ(describe(p.bound_to), "192.168.1.10:50003");
    EXPECT_TRUE(p.broadcast_enabled);
    EXPECT_EQ(p.arrivals.size(), 1u);
    EXPECT_TRUE(p.sleeps.empty());

    EXPECT_EQ(out(), start_lines(TARGET) + announced(OTHER) + announced(TARGET) + summary_head(TARGET) +
                         "    IP Address ...... 192.168.1.101\n"
                         "    Subnet mask ..... 255.255.255.0\n"
                         "    Gateway ......... 192.168.1.1\n"
                         "    DHCP ............ On\n");
    EXPECT_EQ(err(), "");
    expect_released();
}

// The sorter waits on the wire for its reply; the console can wait a moment.
TEST_F(ExchangeTest, AnnouncesTheTargetOnlyOnceItsReplyIsOut) {
    fake::arrive(broadcast_of(OTHER), SORTER_B);
    fake::arrive(broadcast_of(TARGET), SORTER_A);

    EXPECT_EQ(run({"-v", "-s", TARGET, "-i", "10.0.0.9"}), EXIT_STATUS_SUCCESS);

    const fake::Platform& p = fake::state();
    ASSERT_EQ(p.sent.size(), 1u);
    ASSERT_GE(p.sent[0].output_before, 0);
    const std::string printed = out();
    const std::string before_reply = printed.substr(0, static_cast<std::size_t>(p.sent[0].output_before));
    const std::string after_reply = printed.substr(before_reply.size());
    EXPECT_EQ(before_reply.find(announced(TARGET)), std::string::npos) << before_reply;
    EXPECT_NE(before_reply.find(announced(OTHER)), std::string::npos) << before_reply;
    EXPECT_EQ(after_reply.rfind(announced(TARGET), 0), 0u) << after_reply;
}

TEST_F(ExchangeTest, SummaryLeavesOutEmptyMaskAndNoGateway) {
    fake::arrive(broadcast_of(TARGET), SORTER_A);
    EXPECT_EQ(run({"-s", TARGET, "-g", "0.0.0.0", "-d", "off"}), EXIT_STATUS_SUCCESS);
    EXPECT_EQ(out(), start_lines(TARGET) + announced(TARGET) + summary_head(TARGET) +
                         "    IP Address ...... \n"
                         "    DHCP ............ Off\n");
}

TEST_F(ExchangeTest, ReplyDestination) {
    struct Case {
        const char* name;
        std::vector<std::string> words;
        std::string destination;
        bool dont_route;
        std::size_t sends;
    };
    const Case cases[] = {
        {"broadcast to the source port", {"-s", TARGET}, "255.255.255.255:50123", true, 1},
        {"unicast with -r", {"-s", TARGET, "-r", "10.0.0.5"}, "10.0.0.5:50123", false, 1},
        {"-r with first number 0 broadcasts", {"-s", TARGET, "-r", "0.1.2.3"}, "255.255.255.255:50123", true, 1},
        {"firewall unicast", {"-s", TARGET, "-f", "-r", "10.0.0.5"}, "10.0.0.5:50004", false, 40},
        {"firewall broadcast", {"-s", TARGET, "-f", "-r", "0.0.0.0"}, "255.255.255.255:50004", true, 40},
    };
    const Bytes expected = RecordBytes().magic().reply_type().serial(TARGET).ip("10.0.0.9").fake_clock_stamp();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        fake::arrive(broadcast_of(TARGET), SORTER_A, 50123);
        std::vector<std::string> words = c.words;
        words.insert(words.end(), {"-i", "10.0.0.9"});
        EXPECT_EQ(run(words), EXIT_STATUS_SUCCESS);

        const fake::Platform& p = fake::state();
        ASSERT_EQ(p.sent.size(), c.sends);
        for (std::size_t i = 0; i < p.sent.size(); ++i) {
            SCOPED_TRACE("send " + std::to_string(i));
            EXPECT_TRUE(SameBytes(expected, p.sent[i].bytes));
            EXPECT_EQ(describe(p.sent[i].destination), c.destination);
            EXPECT_EQ(p.sent[i].dont_route, c.dont_route);
        }
        const bool firewall = c.sends > 1;
        EXPECT_EQ(p.sleeps, firewall ? std::vector<unsigned>(40, 250) : std::vector<unsigned>{});
        EXPECT_EQ(p.arrivals.size(), firewall ? 1u : 0u) << "firewall mode must not receive";
        EXPECT_EQ(p.clock_reads, 1) << "one time stamp for every send";
        expect_released();
    }
}

TEST_F(ExchangeTest, FirewallModePrintsStartLinesAndSummary) {
    EXPECT_EQ(run({"-f", "-r", "10.0.0.5", "-s", TARGET, "-i", "10.0.0.9", "-u", "255.0.0.0", "-d", "ON"}),
              EXIT_STATUS_SUCCESS);
    EXPECT_EQ(out(), start_lines(TARGET) + summary_head(TARGET) +
                         "    IP Address ...... 10.0.0.9\n"
                         "    Subnet mask ..... 255.0.0.0\n"
                         "    DHCP ............ On\n");
    EXPECT_EQ(err(), "");
}

TEST_F(ExchangeTest, FirewallReportsOnlyTheLastSend) {
    struct Case {
        const char* name;
        std::vector<long> results;
        int status;
        std::string err;
    };
    std::vector<long> last_fails(40, 128);
    last_fails.back() = -1;
    std::vector<long> last_short(40, -1);
    last_short.back() = 100;
    const Case cases[] = {
        {"first fails", {-1}, EXIT_STATUS_SUCCESS, ""},
        {"all but the last fail", std::vector<long>(39, -1), EXIT_STATUS_SUCCESS, ""},
        {"last fails", last_fails, EXIT_STATUS_NETWORK_FAILURE, "Error sending reply message to port 50004: 111\n"},
        {"last short", last_short, EXIT_STATUS_NETWORK_FAILURE, "Error sending reply message to port 50004: 111\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        fake::state().send_results = c.results;
        fake::state().failing_error = 111;
        CapturedStream out;
        CapturedStream err;
        Arguments arguments{"-f", "-r", "10.0.0.5", "-s", TARGET};
        EXPECT_EQ(run_exchange(arguments.argc(), arguments.argv(), out.get(), err.get()), c.status);
        EXPECT_EQ(err.text(), c.err);
        EXPECT_EQ(fake::state().sent.size(), 40u);
        EXPECT_EQ(fake::state().sleeps.size(), 40u);
        if (c.status == EXIT_STATUS_SUCCESS) {
            EXPECT_NE(out.text().find(summary_head(TARGET)), std::string::npos);
        } else {
            EXPECT_EQ(out.text(), start_lines(TARGET));
        }
        expect_released();
    }
}

// --- What the loop skips and how far it remembers ---------------------------

TEST_F(ExchangeTest, StrayDatagramsAreSkippedSilently) {
    const Bytes target = broadcast_of(TARGET);
    Bytes longer = target;
    longer.push_back(0);
    struct Case {
        const char* name;
        Bytes bytes;
        platform::ReceiveStatus status;
    };
    const Case cases[] = {
        {"one byte short", Bytes(target.begin(), target.end() - 1), platform::ReceiveStatus::datagram},
        {"empty", Bytes(), platform::ReceiveStatus::datagram},
        {"one byte long", longer, platform::ReceiveStatus::datagram},
        {"no magic", RecordBytes(broadcast_of(TARGET)).put(0, "SNDP_CFX"), platform::ReceiveStatus::datagram},
        {"byte 8 of the magic not NUL", RecordBytes(broadcast_of(TARGET)).byte(8, '!'),
         platform::ReceiveStatus::datagram},
        {"interrupted wait", Bytes(), platform::ReceiveStatus::interrupted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        CapturedStream out;
        CapturedStream err;
        if (c.status == platform::ReceiveStatus::datagram) {
            fake::arrive(c.bytes, STRAY_SOURCE, 50099);
        } else {
            fake::arrive_status(c.status);
        }
        fake::arrive(target, SORTER_A);

        Arguments arguments{"-s", TARGET};
        EXPECT_EQ(run_exchange(arguments.argc(), arguments.argv(), out.get(), err.get()), EXIT_STATUS_SUCCESS);
        ASSERT_EQ(fake::state().sent.size(), 1u);
        EXPECT_EQ(describe(fake::state().sent[0].destination), "255.255.255.255:50010");
        EXPECT_EQ(out.text(), start_lines(TARGET) + announced(TARGET) + summary_head(TARGET) +
                                  "    IP Address ...... \n"
                                  "    DHCP ............ Off\n");
        EXPECT_EQ(err.text(), "");
    }
}

TEST_F(ExchangeTest, FullTableStopsAnnouncingButStillAnswersTheTarget) {
    auto serial_number = [](int i) {
        char text[8];
        std::snprintf(text, sizeof text, "S%03d", i);
        return std::string(text);
    };
    for (int i = 0; i < 300; ++i) {
        fake::arrive(broadcast_of(serial_number(i).c_str()), Ipv4Address{{10, 0, static_cast<std::uint8_t>(i / 256),
                                                                          static_cast<std::uint8_t>(i % 256)}});
    }
    fake::arrive(broadcast_of("S000"), SORTER_A);  // known
    fake::arrive(broadcast_of("S256"), SORTER_A);  // heard after the table filled
    fake::arrive(broadcast_of(TARGET), SORTER_A, 50077);

    EXPECT_EQ(run({"-s", TARGET}), EXIT_STATUS_SUCCESS);

    std::string expected_out = start_lines(TARGET);
    for (int i = 0; i < 256; ++i) expected_out += announced(serial_number(i));
    expected_out += summary_head(TARGET) + "    IP Address ...... \n    DHCP ............ Off\n";
    EXPECT_EQ(out(), expected_out);
    EXPECT_EQ(err(), "Note: 256 sorters are listed; sorters heard from now on are not announced.\n");
    ASSERT_EQ(fake::state().sent.size(), 1u);
    EXPECT_EQ(describe(fake::state().sent[0].destination), "255.255.255.255:50077");
}

// --- Giving up (-t) and verifying the restart (-w) ---------------------------

const Ipv4Address NEW_ADDRESS{{10, 9, 0, 101}};

// The target as it broadcasts once restarted with what CONFIGURE sends.
RecordBytes restarted(const char* serial = TARGET) {
    return RecordBytes().magic().byte(9, 1).serial(serial).mask("255.255.255.0").gateway(10, 9, 0, 1);
}

const std::vector<std::string> CONFIGURE = {"-s", TARGET, "-d", "off", "-i", "10.9.0.101", "-u", "255.255.255.0",
                                            "-g", "10.9.0.1"};

std::vector<std::string> configure_with(std::initializer_list<std::string> more) {
    std::vector<std::string> words = CONFIGURE;
    words.insert(words.end(), more);
    return words;
}

std::string summary_of_configure() {
    return summary_head(TARGET) +
           "    IP Address ...... 10.9.0.101\n"
           "    Subnet mask ..... 255.255.255.0\n"
           "    Gateway ......... 10.9.0.1\n"
           "    DHCP ............ Off\n";
}

std::string waiting_line(int seconds) {
    return "Waiting up to " + std::to_string(seconds) + " seconds for '" + TARGET +
           "' to restart with this configuration (Ctrl+C to stop)...\n";
}

const std::string NOT_VERIFIED =
    std::string("Not verified: '") + TARGET + "' did not come back with this configuration within 30 seconds.\n";

struct TimedCase {
    const char* name;
    void (*script)();  // arrivals, with fake::elapse() between them
    std::vector<std::string> words;
    int status;
    std::string out;
    std::string err;
    std::uint64_t ends_at;  // the monotonic clock when the run ended, from CLOCK_START
    std::size_t sends;
};

void PrintTo(const TimedCase& c, std::ostream* os) {
    *os << c.name;
}

class TimedRun : public ExchangeTest, public ::testing::WithParamInterface<TimedCase> {};

TEST_P(TimedRun, EndsWithItsLinesAndReleasesEverything) {
    const TimedCase& c = GetParam();
    c.script();
    EXPECT_EQ(run(c.words), c.status);
    EXPECT_EQ(out(), c.out);
    EXPECT_EQ(err(), c.err);
    EXPECT_EQ(fake::state().monotonic_now - fake::CLOCK_START, c.ends_at);
    EXPECT_EQ(fake::state().sent.size(), c.sends);
    expect_released();
}

const TimedCase timed_cases[] = {
    {"listening_ends_after_its_time",
     [] {
         fake::arrive(broadcast_of(TARGET), SORTER_A);
         fake::elapse(2000);
         fake::arrive(broadcast_of(OTHER), SORTER_B);
         fake::arrive(broadcast_of(TARGET), SORTER_A);
         fake::elapse(3001);
         fake::arrive(broadcast_of("LATE"), SORTER_B);  // after the deadline: never read
     },
     {"-t", "5"}, EXIT_STATUS_SUCCESS,
     start_lines(nullptr) + announced(TARGET) + announced(OTHER) + "Sorters heard: 2 in 5 seconds.\n", "", 5000, 0},
    {"listening_with_nothing_heard", [] {}, {"-t", "1"}, EXIT_STATUS_SUCCESS,
     start_lines(nullptr) + "Sorters heard: 0 in 1 seconds.\n", "", 1000, 0},
    {"target_not_heard",
     [] {
         fake::elapse(1000);
         fake::arrive(broadcast_of(OTHER), SORTER_B);
         fake::elapse(5000);
         fake::arrive(broadcast_of(TARGET), SORTER_A);
     },
     {"-s", TARGET, "-t", "5"}, EXIT_STATUS_TIMED_OUT, start_lines(TARGET) + announced(OTHER),
     std::string("Serial # ") + TARGET + " was not heard within 5 seconds.\n", 5000, 0},
    {"target_heard_just_in_time",
     [] {
         fake::elapse(5000);
         fake::arrive(broadcast_of(TARGET), SORTER_A);
     },
     {"-s", TARGET, "-t", "5", "-i", "10.0.0.9"}, EXIT_STATUS_SUCCESS,
     start_lines(TARGET) + announced(TARGET) + summary_head(TARGET) +
         "    IP Address ...... 10.0.0.9\n    DHCP ............ Off\n",
     "", 5000, 1},
    {"firewall_sends_all_forty_whatever_the_timeout", [] { fake::arrive(broadcast_of(TARGET), SORTER_A); },
     {"-f", "-r", "10.0.0.5", "-s", TARGET, "-t", "1"}, EXIT_STATUS_SUCCESS,
     start_lines(TARGET) + summary_head(TARGET) + "    IP Address ...... \n    DHCP ............ Off\n", "", 10000,
     40},
    {"verified_after_the_restart",
     [] {
         fake::arrive(broadcast_of(TARGET), SORTER_A);
         fake::elapse(1000);
         fake::arrive(broadcast_of(TARGET), SORTER_A);  // still the old settings
         fake::elapse(20000);
         fake::arrive(restarted(), NEW_ADDRESS);
     },
     configure_with({"-w", "30"}), EXIT_STATUS_SUCCESS,
     start_lines(TARGET) + announced(TARGET) + summary_of_configure() + waiting_line(30) +
         "Verified: '" + TARGET + "' now broadcasts this configuration from 10.9.0.101.\n",
     "", 21000, 1},
    {"verified_from_a_lease_with_dhcp_on",
     [] {
         fake::arrive(broadcast_of(TARGET), SORTER_A);
         fake::elapse(3000);
         fake::arrive(broadcast_of(TARGET).dhcp(7), Ipv4Address{{169, 254, 3, 4}});  // any non-zero value is On
     },
     {"-s", TARGET, "-d", "on", "-i", "10.9.0.101", "-w", "30"}, EXIT_STATUS_SUCCESS,
     start_lines(TARGET) + announced(TARGET) + summary_head(TARGET) +
         "    IP Address ...... 10.9.0.101\n    DHCP ............ On\n" + waiting_line(30) + "Verified: '" +
         TARGET + "' now broadcasts this configuration from 169.254.3.4.\n",
     "", 3000, 1},
    {"kept_its_gateway",
     [] {
         fake::arrive(broadcast_of(TARGET), SORTER_A);
         fake::elapse(5000);
         fake::arrive(restarted().gateway(10, 9, 0, 254), NEW_ADDRESS);
     },
     configure_with({"-w", "30"}), EXIT_STATUS_TIMED_OUT,
     start_lines(TARGET) + announced(TARGET) + summary_of_configure() + waiting_line(30),
     NOT_VERIFIED +
         "What it last broadcast after the reply:\n"
         "    IP Address ...... 10.9.0.101\n"
         "    Subnet mask ..... 255.255.255.0\n"
         "    Gateway ......... 10.9.0.254  (differs: sent 10.9.0.1)\n"
         "    DHCP ............ Off\n"
         "It kept its gateway: assigning a gateway needs scanner firmware v2.7 or above.\n",
     30000, 1},
    {"never_restarted",
     [] {
         fake::arrive(broadcast_of(TARGET).dhcp(1), SORTER_A);
         fake::elapse(10000);
         fake::arrive(broadcast_of(TARGET).dhcp(1), SORTER_A);
     },
     configure_with({"-w", "30"}), EXIT_STATUS_TIMED_OUT,
     start_lines(TARGET) + announced(TARGET) + summary_of_configure() + waiting_line(30),
     NOT_VERIFIED +
         "What it last broadcast after the reply:\n"
         "    IP Address ...... 192.168.1.50  (differs: sent 10.9.0.101)\n"
         "    Subnet mask ..... 255.255.0.0  (differs: sent 255.255.255.0)\n"
         "    Gateway ......... none  (differs: sent 10.9.0.1)\n"
         "    DHCP ............ On  (differs: sent Off)\n",
     30000, 1},
    {"not_heard_after_the_reply", [] { fake::arrive(broadcast_of(TARGET), SORTER_A); }, configure_with({"-w", "30"}),
     EXIT_STATUS_TIMED_OUT, start_lines(TARGET) + announced(TARGET) + summary_of_configure() + waiting_line(30),
     NOT_VERIFIED + "It was not heard after the reply.\n", 30000, 1},
    {"another_sorter_on_the_new_address",
     [] {
         fake::arrive(broadcast_of(TARGET), SORTER_A);
         fake::elapse(1000);
         fake::arrive(broadcast_of(OTHER), NEW_ADDRESS);
         fake::arrive(broadcast_of(OTHER), NEW_ADDRESS);
         fake::arrive(broadcast_of("THIRD"), SORTER_B);
         fake::elapse(1000);
         fake::arrive(restarted(), NEW_ADDRESS);
     },
     configure_with({"-w", "30"}), EXIT_STATUS_SUCCESS,
     start_lines(TARGET) + announced(TARGET) + summary_of_configure() + waiting_line(30) + announced(OTHER) +
         announced("THIRD") + "Verified: '" + TARGET + "' now broadcasts this configuration from 10.9.0.101.\n",
     std::string("Warning: 10.9.0.101 is also the address of sorter '") + OTHER + "'.\n", 2000, 1},
    {"receive_fails_while_verifying",
     [] {
         fake::arrive(broadcast_of(TARGET), SORTER_A);
         fake::arrive_status(platform::ReceiveStatus::failed, 104);
     },
     configure_with({"-w", "30"}), EXIT_STATUS_NETWORK_FAILURE,
     start_lines(TARGET) + announced(TARGET) + summary_of_configure() + waiting_line(30),
     "Could not receive datagram: 104\n", 0, 1},
    {"firewall_then_verified",
     [] {
         fake::elapse(15000);  // the forty sends take ten seconds
         fake::arrive(restarted(), NEW_ADDRESS);
     },
     configure_with({"-f", "-r", "10.9.0.11", "-w", "30"}), EXIT_STATUS_SUCCESS,
     start_lines(TARGET) + summary_of_configure() + waiting_line(30) + announced(TARGET) + "Verified: '" + TARGET +
         "' now broadcasts this configuration from 10.9.0.101.\n",
     "", 15000, 40},
};

INSTANTIATE_TEST_SUITE_P(Deadlines, TimedRun, ::testing::ValuesIn(timed_cases),
                         [](const ::testing::TestParamInfo<TimedCase>& info) { return std::string(info.param.name); });

TEST_F(ExchangeTest, InterruptedWaitKeepsItsDeadline) {
    fake::elapse(3000);
    fake::arrive_status(platform::ReceiveStatus::interrupted);
    EXPECT_EQ(run({"-s", TARGET, "-t", "5"}), EXIT_STATUS_TIMED_OUT);
    EXPECT_EQ(fake::state().monotonic_now - fake::CLOCK_START, 5000u);
    expect_released();
}

TEST_F(ExchangeTest, StartLineNamesTheBoundAddress) {
    struct Case {
        const char* name;
        std::vector<std::string> words;
        bool resolves;
        std::vector<fake::Interface> interfaces;
        std::string address;
    };
    const Case cases[] = {
        {"host name", {}, true, {}, "192.168.1.10"},
        {"-b", {"-b", "10.1.2.3"}, false, {}, "10.1.2.3"},
        {"interface", {}, false, {{platform::INTERFACE_UP, {{172, 16, 0, 4}}, {}, {}}}, "172.16.0.4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        fake::state().host_name_resolves = c.resolves;
        fake::state().interfaces = c.interfaces;
        CapturedStream out;
        CapturedStream err;
        Arguments arguments(c.words);
        run_exchange(arguments.argc(), arguments.argv(), out.get(), err.get());
        EXPECT_EQ(out.text(), start_lines(nullptr, c.address.c_str()));
        EXPECT_EQ(describe(fake::state().bound_to), c.address + ":50003");
    }
}

}  // namespace
