// Whole runs with -j against the scripted platform: standard output carries
// exactly one JSON object per event, the error stream the lines for a person.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "exchange/exchange.h"
#include "fakes/fake_platform.h"
#include "fakes/test_support.h"

namespace {

using platform::Ipv4Address;
using test_support::Arguments;
using test_support::CapturedStream;
using test_support::RecordBytes;

const Ipv4Address SORTER_A{{10, 9, 0, 11}};
const Ipv4Address SORTER_B{{10, 9, 0, 12}};
const Ipv4Address NEW_ADDRESS{{10, 9, 0, 101}};

RecordBytes broadcast_of(const std::string& serial) {
    return RecordBytes().magic().byte(9, 1).serial(serial).mask("255.255.255.0").gateway(10, 9, 0, 254);
}

// The target once restarted with what CONFIGURE sends.
RecordBytes restarted() {
    return RecordBytes().magic().serial("514555555").mask("255.255.255.0").gateway(10, 9, 0, 1);
}

const std::vector<std::string> CONFIGURE = {"-j", "-s", "514555555", "-i", "10.9.0.101", "-u", "255.255.255.0",
                                            "-g", "10.9.0.1"};

std::vector<std::string> configure_with(std::initializer_list<std::string> more) {
    std::vector<std::string> words = CONFIGURE;
    words.insert(words.end(), more);
    return words;
}

const std::string STARTED_TARGETED =
    "{\"event\":\"started\",\"interface\":\"192.168.1.10\",\"port\":50003,\"mode\":\"targeted\","
    "\"serial\":\"514555555\"}\n";
const std::string TARGET_HEARD =
    "{\"event\":\"sorter\",\"serial\":\"514555555\",\"ip\":\"10.9.0.11\",\"mask\":\"255.255.255.0\","
    "\"gateway\":\"10.9.0.254\",\"dhcp\":false}\n";
const std::string SENT =
    "{\"event\":\"sent\",\"serial\":\"514555555\",\"ip\":\"10.9.0.101\",\"mask\":\"255.255.255.0\","
    "\"gateway\":\"10.9.0.1\",\"dhcp\":false,\"to\":\"255.255.255.255\",\"port\":50010,\"count\":1}\n";
const std::string WAITING =
    "Waiting up to 30 seconds for '514555555' to restart with this configuration (Ctrl+C to stop)...\n";

struct JsonCase {
    const char* name;
    void (*script)();
    std::vector<std::string> words;
    int status;
    std::string out;
    std::string err;
};

void PrintTo(const JsonCase& c, std::ostream* os) {
    *os << c.name;
}

class JsonRun : public ::testing::TestWithParam<JsonCase> {
protected:
    void SetUp() override { fake::reset(); }
};

TEST_P(JsonRun, WritesOneObjectPerEvent) {
    const JsonCase& c = GetParam();
    c.script();
    Arguments arguments(c.words);
    CapturedStream out;
    CapturedStream err;
    EXPECT_EQ(run_exchange(arguments.argc(), arguments.argv(), out.get(), err.get()), c.status);
    EXPECT_EQ(out.text(), c.out);
    EXPECT_EQ(err.text(), c.err);
}

const JsonCase json_cases[] = {
    {"inventory",
     [] {
         fake::state().interfaces = {{platform::INTERFACE_UP | platform::INTERFACE_BROADCAST |
                                          platform::INTERFACE_MULTICAST,
                                      {{10, 9, 0, 1}}, {{10, 9, 0, 255}}, {{255, 255, 255, 0}}},
                                     {platform::INTERFACE_UP | platform::INTERFACE_LOOPBACK,
                                      {{127, 0, 0, 1}}, {{255, 255, 255, 255}}, {{255, 0, 0, 0}}}};
         fake::arrive(broadcast_of("514555555"), SORTER_A);
         fake::arrive(RecordBytes().magic().serial("S\xe9\x1b\x9b").mask("255.255.0.0").dhcp(2), SORTER_B);
         fake::arrive(broadcast_of("514555555"), SORTER_A);
     },
     {"-j", "-v", "-t", "10"}, EXIT_STATUS_SUCCESS,
     "{\"event\":\"interface\",\"ip\":\"10.9.0.1\",\"mask\":\"255.255.255.0\",\"broadcast\":\"10.9.0.255\","
     "\"flags\":[\"up\",\"broadcast\",\"multicast\"]}\n"
     "{\"event\":\"interface\",\"ip\":\"127.0.0.1\",\"mask\":\"255.0.0.0\",\"broadcast\":\"255.255.255.255\","
     "\"flags\":[\"up\",\"loopback\"]}\n"
     "{\"event\":\"started\",\"interface\":\"192.168.1.10\",\"port\":50003,\"mode\":\"listening\"}\n" +
         TARGET_HEARD +
         "{\"event\":\"sorter\",\"serial\":\"S\\u00e9\\u001b\\u009b\",\"serial_hex\":\"53e91b9b\","
         "\"ip\":\"10.9.0.12\",\"mask\":\"255.255.0.0\",\"gateway\":null,\"dhcp\":true}\n"
         "{\"event\":\"done\",\"sorters\":2,\"seconds\":10}\n",
     "Scanning Local Network Interfaces . . .\n\n"},
    {"configured", [] { fake::arrive(broadcast_of("514555555"), SORTER_A); }, CONFIGURE, EXIT_STATUS_SUCCESS,
     STARTED_TARGETED + TARGET_HEARD + SENT, ""},
    {"firewall",
     [] {},
     {"-j", "-f", "-r", "10.9.0.11", "-s", "514555555", "-d", "on"}, EXIT_STATUS_SUCCESS,
     "{\"event\":\"started\",\"interface\":\"192.168.1.10\",\"port\":50003,\"mode\":\"firewall\","
     "\"serial\":\"514555555\"}\n"
     "{\"event\":\"sent\",\"serial\":\"514555555\",\"ip\":\"\",\"mask\":\"\",\"gateway\":null,\"dhcp\":true,"
     "\"to\":\"10.9.0.11\",\"port\":50004,\"count\":40}\n",
     ""},
    {"not_heard_in_time", [] { fake::arrive(broadcast_of("OTHER"), SORTER_B); }, configure_with({"-t", "5"}),
     EXIT_STATUS_TIMED_OUT,
     STARTED_TARGETED +
         "{\"event\":\"sorter\",\"serial\":\"OTHER\",\"ip\":\"10.9.0.12\",\"mask\":\"255.255.255.0\","
         "\"gateway\":\"10.9.0.254\",\"dhcp\":false}\n"
         "{\"event\":\"timeout\",\"serial\":\"514555555\",\"seconds\":5}\n",
     "Serial # 514555555 was not heard within 5 seconds.\n"},
    {"verified",
     [] {
         fake::arrive(broadcast_of("514555555"), SORTER_A);
         fake::elapse(5000);
         fake::arrive(broadcast_of("OTHER"), NEW_ADDRESS);
         fake::arrive(restarted(), NEW_ADDRESS);
     },
     configure_with({"-w", "30"}), EXIT_STATUS_SUCCESS,
     STARTED_TARGETED + TARGET_HEARD + SENT +
         "{\"event\":\"sorter\",\"serial\":\"OTHER\",\"ip\":\"10.9.0.101\",\"mask\":\"255.255.255.0\","
         "\"gateway\":\"10.9.0.254\",\"dhcp\":false}\n"
         "{\"event\":\"conflict\",\"ip\":\"10.9.0.101\",\"serial\":\"OTHER\"}\n"
         "{\"event\":\"verified\",\"serial\":\"514555555\",\"ip\":\"10.9.0.101\"}\n",
     WAITING + "Warning: 10.9.0.101 is also the address of sorter 'OTHER'.\n"},
    {"kept_its_gateway",
     [] {
         fake::arrive(broadcast_of("514555555"), SORTER_A);
         fake::elapse(5000);
         fake::arrive(restarted().gateway(10, 9, 0, 254), NEW_ADDRESS);
     },
     configure_with({"-w", "30"}), EXIT_STATUS_TIMED_OUT,
     STARTED_TARGETED + TARGET_HEARD + SENT +
         "{\"event\":\"not_verified\",\"serial\":\"514555555\",\"seconds\":30,\"differs\":[\"gateway\"],"
         "\"last\":{\"serial\":\"514555555\",\"ip\":\"10.9.0.101\",\"mask\":\"255.255.255.0\","
         "\"gateway\":\"10.9.0.254\",\"dhcp\":false}}\n",
     WAITING +
         "Not verified: '514555555' did not come back with this configuration within 30 seconds.\n"
         "What it last broadcast after the reply:\n"
         "    IP Address ...... 10.9.0.101\n"
         "    Subnet mask ..... 255.255.255.0\n"
         "    Gateway ......... 10.9.0.254  (differs: sent 10.9.0.1)\n"
         "    DHCP ............ Off\n"
         "It kept its gateway: assigning a gateway needs scanner firmware v2.7 or above.\n"},
    {"not_heard_after_the_reply", [] { fake::arrive(broadcast_of("514555555"), SORTER_A); },
     configure_with({"-w", "30"}), EXIT_STATUS_TIMED_OUT,
     STARTED_TARGETED + TARGET_HEARD + SENT +
         "{\"event\":\"not_verified\",\"serial\":\"514555555\",\"seconds\":30,\"differs\":[],\"last\":null}\n",
     WAITING + "Not verified: '514555555' did not come back with this configuration within 30 seconds.\n"
               "It was not heard after the reply.\n"},
};

INSTANTIATE_TEST_SUITE_P(Events, JsonRun, ::testing::ValuesIn(json_cases),
                         [](const ::testing::TestParamInfo<JsonCase>& info) { return std::string(info.param.name); });

}  // namespace
