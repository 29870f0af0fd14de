#include "exchange/local_address.h"

#include "exchange/interface_list.h"

namespace {

constexpr int HOST_ADDRESS_CAPACITY = 16;

bool is_loopback(const platform::Ipv4Address& address) {
    return address.octets[0] == 127;
}

bool first_live_interface(platform::UdpSocket* socket, platform::Ipv4Address* chosen) {
    InterfaceList list{};
    if (!platform::query_interface_list(socket, list.bytes, sizeof list.bytes, &list.byte_count)) return false;
    for (int i = 0; i < interface_count(list); ++i) {
        const InterfaceRecord record = interface_at(list, i);
        const bool up = (record.flags & platform::INTERFACE_UP) != 0;
        const bool loopback = (record.flags & platform::INTERFACE_LOOPBACK) != 0 || is_loopback(record.address);
        if (up && !loopback) {
            *chosen = record.address;
            return true;
        }
    }
    return false;
}

}  // namespace

bool choose_local_address(const RunOptions& run, platform::UdpSocket* socket, platform::Ipv4Address* chosen) {
    if (run.bind_octets[0] != 0) {
        *chosen = address_from_octets(run.bind_octets);
        return true;
    }
    platform::Ipv4Address resolved[HOST_ADDRESS_CAPACITY];
    int resolved_count = 0;
    if (!platform::resolve_host_addresses(resolved, HOST_ADDRESS_CAPACITY, &resolved_count)) resolved_count = 0;
    for (int i = 0; i < resolved_count; ++i) {
        if (!is_loopback(resolved[i])) {
            *chosen = resolved[i];
            return true;
        }
    }
    if (first_live_interface(socket, chosen)) return true;
    if (resolved_count == 0) return false;
    *chosen = resolved[0];
    return true;
}
