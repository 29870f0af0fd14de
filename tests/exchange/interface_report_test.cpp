#include "exchange/interface_report.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "exchange/exchange.h"
#include "fakes/fake_platform.h"
#include "fakes/test_support.h"

namespace {

using platform::INTERFACE_BROADCAST;
using platform::INTERFACE_LOOPBACK;
using platform::INTERFACE_MULTICAST;
using platform::INTERFACE_POINT_TO_POINT;
using platform::INTERFACE_UP;
using test_support::Arguments;
using test_support::CapturedStream;

struct ReportCase {
    const char* name;
    fake::Interface record;
    const char* expected;
};

const ReportCase report_cases[] = {
    {"up, multicast and loopback",
     {INTERFACE_UP | INTERFACE_MULTICAST | INTERFACE_LOOPBACK, {{127, 0, 0, 1}}, {{255, 255, 255, 255}}, {{255, 0, 0, 0}}},
     "  IP:        127.0.0.1 SubnetMask: 255.0.0.0  Bcast Addr: 255.255.255.255\n"
     "  Interface up, multicasts are supported (loopback)\n\n"},
    {"broadcast without up",
     {INTERFACE_BROADCAST, {{10, 6, 0, 1}}, {{10, 6, 0, 255}}, {{255, 255, 255, 0}}},
     "  IP:         10.6.0.1 SubnetMask: 255.255.255.0  Bcast Addr: 10.6.0.255\n"
     "  , broadcasts are supported\n\n"},
    {"all flags clear",
     {0, {{10, 0, 0, 1}}, {{10, 0, 0, 255}}, {{255, 255, 255, 0}}},
     "  IP:         10.0.0.1 SubnetMask: 255.255.255.0  Bcast Addr: 10.0.0.255\n"
     "  \n\n"},
    {"every flag, fifteen-character address keeps one blank",
     {INTERFACE_UP | INTERFACE_BROADCAST | INTERFACE_LOOPBACK | INTERFACE_POINT_TO_POINT | INTERFACE_MULTICAST,
      {{192, 168, 100, 200}}, {{192, 168, 100, 255}}, {{255, 255, 255, 0}}},
     "  IP:  192.168.100.200 SubnetMask: 255.255.255.0  Bcast Addr: 192.168.100.255\n"
     "  Interface up, broadcasts are supported, multicasts are supported (loopback) (point-to-point)\n\n"},
    {"point-to-point",
     {INTERFACE_UP | INTERFACE_POINT_TO_POINT, {{10, 7, 0, 1}}, {{255, 255, 255, 255}}, {{255, 255, 255, 255}}},
     "  IP:         10.7.0.1 SubnetMask: 255.255.255.255  Bcast Addr: 255.255.255.255\n"
     "  Interface up (point-to-point)\n\n"},
};

class InterfaceReport : public ::testing::TestWithParam<ReportCase> {
protected:
    void SetUp() override { fake::reset(); }
};

TEST_P(InterfaceReport, WritesOneBlockPerRecord) {
    fake::state().interfaces = {GetParam().record};
    CapturedStream out;
    CapturedStream err;
    EXPECT_TRUE(list_interfaces(nullptr, TEXT_REPORT, ReportStreams{out.get(), err.get(), true}));
    EXPECT_EQ(out.text(), GetParam().expected);
    EXPECT_EQ(err.text(), "Scanning Local Network Interfaces . . .\n\n");
}

INSTANTIATE_TEST_SUITE_P(Records, InterfaceReport, ::testing::ValuesIn(report_cases),
                         [](const ::testing::TestParamInfo<ReportCase>& info) {
                             std::string name = info.param.name;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

TEST(InterfaceReportList, KeepsTheOrderAndIgnoresAPartialRecord) {
    fake::reset();
    fake::state().interfaces = {report_cases[0].record, report_cases[1].record};
    InterfaceList list{};
    ASSERT_TRUE(platform::query_interface_list(nullptr, list.bytes, sizeof list.bytes, &list.byte_count));
    list.byte_count += platform::INTERFACE_RECORD_SIZE - 1;  // the start of a third record
    CapturedStream out;
    report_interfaces(list, TEXT_REPORT, ReportStreams{out.get(), stderr, true});
    EXPECT_EQ(out.text(), std::string(report_cases[0].expected) + report_cases[1].expected);
}

TEST(InterfaceReportList, ReportsNothingForAnEmptyList) {
    InterfaceList list{};
    CapturedStream out;
    report_interfaces(list, TEXT_REPORT, ReportStreams{out.get(), stderr, true});
    EXPECT_EQ(out.text(), "");
}

// The list as Windows delivers it, laid out here with that layout's own
// numbers: 76-byte records, a little-endian flag word at 0, address slots at
// 4, 28 and 52 with the address 4 bytes into each, and the flag bits 0x1 up,
// 0x2 broadcast, 0x4 loopback, 0x8 point-to-point, 0x10 multicast. The fake
// and the POSIX layer write their lists with the header's constants, so a
// constant that drifted from these numbers would show nowhere else on Linux.
TEST(InterfaceReportList, ReadsTheRecordsOfTheOriginalLayout) {
    struct Laid {
        std::uint8_t flag;
        std::uint8_t host;  // the address is 10.1.0.host, its broadcast 10.1.host.255
        const char* flags_line;
    };
    const Laid laid[] = {
        {0x01, 1, "  Interface up\n"},
        {0x02, 2, "  , broadcasts are supported\n"},
        {0x04, 3, "   (loopback)\n"},
        {0x08, 4, "   (point-to-point)\n"},
        {0x10, 5, "  , multicasts are supported\n"},
    };
    InterfaceList list{};
    std::string expected;
    std::size_t at = 0;
    for (const Laid& record : laid) {
        const std::uint8_t address[4] = {10, 1, 0, record.host};
        const std::uint8_t broadcast[4] = {10, 1, record.host, 255};
        const std::uint8_t netmask[4] = {255, 255, 240, 0};
        list.bytes[at + 0] = record.flag;
        std::memcpy(list.bytes + at + 4 + 4, address, 4);
        std::memcpy(list.bytes + at + 28 + 4, broadcast, 4);
        std::memcpy(list.bytes + at + 52 + 4, netmask, 4);
        at += 76;
        const std::string host = std::to_string(record.host);
        expected += "  IP:         10.1.0." + host + " SubnetMask: 255.255.240.0  Bcast Addr: 10.1." + host + ".255\n" +
                    record.flags_line + "\n";
    }
    list.byte_count = at;
    CapturedStream out;
    report_interfaces(list, TEXT_REPORT, ReportStreams{out.get(), stderr, true});
    EXPECT_EQ(out.text(), expected);
}

TEST(InterfaceReportInRun, FailedQueryEndsTheRunBeforeBinding) {
    fake::reset();
    fake::fail(fake::Operation::query_interfaces, 105);
    Arguments arguments({"-v", "-s", "514555555"});
    CapturedStream out;
    CapturedStream err;
    EXPECT_EQ(run_exchange(arguments.argc(), arguments.argv(), out.get(), err.get()), EXIT_STATUS_NETWORK_FAILURE);
    EXPECT_EQ(err.text(), "Scanning Local Network Interfaces . . .\n\nWSAIoctl fails with error 105\n");
    EXPECT_EQ(out.text(), "");
    const fake::Platform& p = fake::state();
    EXPECT_TRUE(p.broadcast_enabled);
    EXPECT_FALSE(p.bound);
    EXPECT_EQ(p.sockets_closed, 1);
    EXPECT_EQ(p.network_stops, 1);
}

TEST(InterfaceReportInRun, ComesBeforeTheStartLinesOnlyWithV) {
    for (const bool verbose : {false, true}) {
        SCOPED_TRACE(verbose ? "-v" : "no -v");
        fake::reset();
        fake::state().interfaces = {report_cases[1].record};
        Arguments arguments(verbose ? std::vector<std::string>{"-v"} : std::vector<std::string>{"-b", "10.6.0.1"});
        CapturedStream out;
        CapturedStream err;
        run_exchange(arguments.argc(), arguments.argv(), out.get(), err.get());
        const std::string start = "vormcfg running on network interface ";
        EXPECT_EQ(out.text().find(report_cases[1].expected), verbose ? 0 : std::string::npos);
        EXPECT_EQ(out.text().find(start), verbose ? std::strlen(report_cases[1].expected) : 0);
    }
}

}  // namespace
