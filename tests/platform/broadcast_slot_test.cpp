#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::INTERFACE_BROADCAST;
using platform::INTERFACE_LOOPBACK;
using platform::INTERFACE_MULTICAST;
using platform::INTERFACE_POINT_TO_POINT;
using platform::INTERFACE_UP;
using platform::Ipv4Address;

std::string dotted(const Ipv4Address& address) {
    return std::to_string(address.octets[0]) + "." + std::to_string(address.octets[1]) + "." +
           std::to_string(address.octets[2]) + "." + std::to_string(address.octets[3]);
}

TEST(BroadcastSlot, DirectedForInterfacesThatBroadcastLimitedForTheRest) {
    constexpr std::uint32_t ETHERNET = INTERFACE_UP | INTERFACE_BROADCAST | INTERFACE_MULTICAST;
    const Ipv4Address none{};
    struct Case {
        const char* name;
        std::uint32_t flags;
        Ipv4Address address;
        Ipv4Address netmask;
        bool system_has_one;
        Ipv4Address system_broadcast;
        const char* shown;
    };
    const Case cases[] = {
        {"the system's broadcast address", ETHERNET, {{10, 9, 0, 1}}, {{255, 255, 255, 0}}, true, {{10, 9, 0, 255}},
         "10.9.0.255"},
        {"a broadcast address set apart from the mask's", ETHERNET, {{10, 9, 0, 1}}, {{255, 255, 255, 0}}, true,
         {{10, 9, 0, 127}}, "10.9.0.127"},
        {"added without one: the system gives the own address", ETHERNET, {{10, 9, 0, 1}}, {{255, 255, 255, 0}},
         true, {{10, 9, 0, 1}}, "10.9.0.255"},
        {"none from the system", ETHERNET, {{10, 9, 0, 1}}, {{255, 255, 255, 0}}, false, none, "10.9.0.255"},
        {"host bits set over a /16", ETHERNET, {{169, 254, 5, 5}}, {{255, 255, 0, 0}}, true, {{169, 254, 5, 5}},
         "169.254.255.255"},
        {"a /20 that cuts an octet", ETHERNET, {{172, 16, 33, 7}}, {{255, 255, 240, 0}}, false, none,
         "172.16.47.255"},
        {"an interface that is down", INTERFACE_BROADCAST, {{10, 6, 0, 1}}, {{255, 255, 255, 0}}, true,
         {{10, 6, 0, 1}}, "10.6.0.255"},
        {"loopback", INTERFACE_UP | INTERFACE_LOOPBACK, {{127, 0, 0, 1}}, {{255, 0, 0, 0}}, false, none,
         "255.255.255.255"},
        {"loopback that claims to broadcast", INTERFACE_UP | INTERFACE_BROADCAST | INTERFACE_LOOPBACK,
         {{127, 0, 0, 1}}, {{255, 0, 0, 0}}, true, {{127, 255, 255, 255}}, "255.255.255.255"},
        {"point-to-point, the peer where the broadcast would be", INTERFACE_UP | INTERFACE_POINT_TO_POINT,
         {{10, 7, 0, 1}}, {{255, 255, 255, 255}}, true, {{10, 7, 0, 2}}, "255.255.255.255"},
        {"point-to-point that claims to broadcast", ETHERNET | INTERFACE_POINT_TO_POINT, {{10, 7, 0, 1}},
         {{255, 255, 255, 0}}, true, {{10, 7, 0, 1}}, "255.255.255.255"},
        {"no broadcast flag", INTERFACE_UP | INTERFACE_MULTICAST, {{10, 5, 0, 1}}, {{255, 255, 255, 0}}, false,
         none, "255.255.255.255"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Ipv4Address shown = platform::broadcast_slot_address(c.flags, c.address, c.netmask,
                                                                   c.system_has_one ? &c.system_broadcast : nullptr);
        EXPECT_EQ(dotted(shown), c.shown);
    }
}

}  // namespace
