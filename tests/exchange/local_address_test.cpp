#include "exchange/local_address.h"

#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "fakes/fake_platform.h"

namespace {

using platform::INTERFACE_BROADCAST;
using platform::INTERFACE_LOOPBACK;
using platform::INTERFACE_MULTICAST;
using platform::INTERFACE_UP;
using platform::Ipv4Address;

constexpr std::uint32_t LIVE = INTERFACE_UP | INTERFACE_BROADCAST | INTERFACE_MULTICAST;

fake::Interface interface(std::uint32_t flags, Ipv4Address address) {
    return fake::Interface{flags, address, {{255, 255, 255, 255}}, {{255, 0, 0, 0}}};
}

const fake::Interface LOOPBACK_INTERFACE = interface(INTERFACE_UP | INTERFACE_LOOPBACK, {{127, 0, 0, 1}});

std::string text_of(const Ipv4Address& address) {
    return std::to_string(address.octets[0]) + "." + std::to_string(address.octets[1]) + "." +
           std::to_string(address.octets[2]) + "." + std::to_string(address.octets[3]);
}

struct Case {
    const char* name;
    std::array<std::int32_t, 4> bind;
    bool resolves;
    std::vector<Ipv4Address> resolved;
    std::vector<fake::Interface> interfaces;
    bool query_fails;
    const char* chosen;  // nullptr: nothing to bind
};

std::vector<fake::Interface> ten_interfaces_last_live() {
    std::vector<fake::Interface> list(10, interface(LIVE & ~INTERFACE_UP, {{10, 0, 0, 1}}));
    list.back() = interface(LIVE, {{10, 0, 0, 10}});
    return list;
}

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class ChooseLocalAddress : public ::testing::TestWithParam<Case> {};

TEST_P(ChooseLocalAddress, PicksTheAddressToBind) {
    const Case& c = GetParam();
    fake::Platform& p = fake::reset();
    p.host_name_resolves = c.resolves;
    p.host_addresses = c.resolved;
    p.interfaces = c.interfaces;
    if (c.query_fails) fake::fail(fake::Operation::query_interfaces, 22);
    RunOptions run{};
    for (int i = 0; i < 4; ++i) run.bind_octets[i] = c.bind[i];

    Ipv4Address chosen{{0xEE, 0xEE, 0xEE, 0xEE}};
    const bool found = choose_local_address(run, nullptr, &chosen);
    if (c.chosen == nullptr) {
        EXPECT_FALSE(found) << "chose " << text_of(chosen);
    } else {
        ASSERT_TRUE(found);
        EXPECT_EQ(text_of(chosen), c.chosen);
    }
}

const std::vector<Ipv4Address> LOOPBACK_ONLY = {{{127, 0, 1, 1}}, {{127, 0, 0, 1}}};

const Case cases[] = {
    {"bind_option", {10, 1, 2, 3}, false, {}, {}, false, "10.1.2.3"},
    {"bind_option_over_host_name", {10, 1, 2, 3}, true, {{{192, 168, 1, 10}}}, {}, false, "10.1.2.3"},
    {"bind_option_first_zero_is_absent", {0, 1, 2, 3}, true, {{{192, 168, 1, 10}}}, {}, false, "192.168.1.10"},
    {"host_name_first_address", {}, true, {{{192, 168, 1, 10}}, {{10, 0, 0, 2}}},
     {interface(LIVE, {{172, 16, 0, 4}})}, false, "192.168.1.10"},
    {"host_name_skips_loopback", {}, true, {{{127, 0, 1, 1}}, {{10, 0, 0, 2}}, {{192, 168, 1, 10}}},
     {interface(LIVE, {{172, 16, 0, 4}})}, false, "10.0.0.2"},
    {"loopback_name_uses_first_live_interface", {}, true, LOOPBACK_ONLY,
     {LOOPBACK_INTERFACE, interface(LIVE & ~INTERFACE_UP, {{10, 0, 0, 9}}), interface(LIVE, {{172, 16, 0, 4}}),
      interface(LIVE, {{172, 16, 0, 5}})},
     false, "172.16.0.4"},
    {"up_flag_alone_is_enough", {}, true, LOOPBACK_ONLY, {interface(INTERFACE_UP, {{172, 16, 0, 4}})}, false,
     "172.16.0.4"},
    {"loopback_flag_excludes_any_address", {}, true, LOOPBACK_ONLY,
     {interface(INTERFACE_UP | INTERFACE_LOOPBACK, {{10, 9, 9, 9}}), interface(LIVE, {{172, 16, 0, 4}})}, false,
     "172.16.0.4"},
    {"unresolved_name_uses_interface", {}, false, {}, {LOOPBACK_INTERFACE, interface(LIVE, {{172, 16, 0, 4}})},
     false, "172.16.0.4"},
    {"name_with_no_addresses_uses_interface", {}, true, {}, {interface(LIVE, {{172, 16, 0, 4}})}, false,
     "172.16.0.4"},
    {"tenth_interface", {}, false, {}, ten_interfaces_last_live(), false, "10.0.0.10"},
    {"loopback_name_when_no_live_interface", {}, true, LOOPBACK_ONLY,
     {LOOPBACK_INTERFACE, interface(LIVE & ~INTERFACE_UP, {{10, 0, 0, 9}})}, false, "127.0.1.1"},
    {"loopback_name_when_interface_query_fails", {}, true, LOOPBACK_ONLY, {interface(LIVE, {{172, 16, 0, 4}})},
     true, "127.0.1.1"},
    {"nothing_when_unresolved_and_no_live_interface", {}, false, {},
     {LOOPBACK_INTERFACE, interface(LIVE & ~INTERFACE_UP, {{10, 0, 0, 9}})}, false, nullptr},
    {"nothing_when_unresolved_and_no_interfaces", {}, false, {}, {}, false, nullptr},
    {"nothing_when_unresolved_and_query_fails", {}, false, {}, {interface(LIVE, {{172, 16, 0, 4}})}, true, nullptr},
    {"bind_option_with_nothing_else", {192, 168, 7, 7}, false, {}, {}, true, "192.168.7.7"},
};

INSTANTIATE_TEST_SUITE_P(Hosts, ChooseLocalAddress, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
