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
