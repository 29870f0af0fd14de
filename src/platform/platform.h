// The operating system as the tool sees it: one UDP socket, the host's
// addresses and interfaces, the calendar and monotonic clocks, a pause and
// the last error.
// Everything above this header is portable; each platform has its own file
// beside it and only those files include system headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace platform {

struct Ipv4Address {
    std::uint8_t octets[4];  // in network order: octets[0] is the first number
};

struct Endpoint {
    Ipv4Address address;
    std::uint16_t port;  // host order
};

// Calendar time in UTC with the field order of the platform's own record.
struct CalendarTime {
    std::uint16_t year;
    std::uint16_t month;        // 1..12
    std::uint16_t day_of_week;  // 0..6, Sunday is 0
    std::uint16_t day;          // 1..31
    std::uint16_t hour;
    std::uint16_t minute;
    std::uint16_t second;
    std::uint16_t milliseconds;
};

// Interface list records, laid out as the original platform delivers them so
// that one formatter serves every platform: a 32-bit little-endian flag word,
// then three 24-byte address slots (address, broadcast, netmask), each holding
// its IPv4 address in network order at slot offset 4.
constexpr int INTERFACE_RECORD_SIZE = 76;
constexpr int INTERFACE_LIST_CAPACITY = 10;
constexpr int INTERFACE_FLAGS_OFFSET = 0;
constexpr int INTERFACE_ADDRESS_SLOT = 4;
constexpr int INTERFACE_BROADCAST_SLOT = 28;
constexpr int INTERFACE_NETMASK_SLOT = 52;
constexpr int INTERFACE_SLOT_ADDRESS_OFFSET = 4;

constexpr std::uint32_t INTERFACE_UP = 0x1;
constexpr std::uint32_t INTERFACE_BROADCAST = 0x2;
constexpr std::uint32_t INTERFACE_LOOPBACK = 0x4;
constexpr std::uint32_t INTERFACE_POINT_TO_POINT = 0x8;
constexpr std::uint32_t INTERFACE_MULTICAST = 0x10;

// What a record's broadcast slot holds, the same on every platform. An
// interface that broadcasts (neither loopback nor point-to-point) shows its
// directed broadcast address: the system's, or the address with every host
// bit set where the system has none or gives the interface's own address
// there (as glibc does for an address added without a broadcast address).
// Any other interface shows 255.255.255.255.
inline Ipv4Address broadcast_slot_address(std::uint32_t flags, const Ipv4Address& address,
                                          const Ipv4Address& netmask, const Ipv4Address* system_broadcast) {
    Ipv4Address slot{{255, 255, 255, 255}};
    const bool broadcasts =
        (flags & INTERFACE_BROADCAST) != 0 && (flags & (INTERFACE_LOOPBACK | INTERFACE_POINT_TO_POINT)) == 0;
    if (!broadcasts) return slot;
    const bool system_has_one =
        system_broadcast != nullptr && std::memcmp(system_broadcast->octets, address.octets, 4) != 0;
    if (system_has_one) return *system_broadcast;
    for (int i = 0; i < 4; ++i) slot.octets[i] = static_cast<std::uint8_t>(address.octets[i] | ~netmask.octets[i]);
    return slot;
}

enum class ReceiveStatus {
    datagram,     // a whole datagram is in the buffer
    truncated,    // a datagram larger than the buffer arrived; its rest is lost
    interrupted,  // a signal cut the wait short; nothing arrived
    timed_out,    // the deadline passed; nothing arrived
    failed,       // a socket error; see last_error()
};

// A deadline on the monotonic clock; NO_DEADLINE waits for as long as it takes.
constexpr std::uint64_t NO_DEADLINE = ~std::uint64_t{0};

struct UdpSocket;  // owned by the platform file

// Starts and stops the socket library where the platform has one.
bool start_network();
void stop_network();

// The platform's error number of the last failed operation.
int last_error();

UdpSocket* open_udp_socket();
void close_socket(UdpSocket* socket);
bool enable_broadcast(UdpSocket* socket);

// Binds `local.port` on the interface that holds `local.address` so that
// the socket hears that interface's broadcasts as well as its unicast, and
// its datagrams leave by that interface with that source address.
bool bind_socket(UdpSocket* socket, const Endpoint& local);

// Waits for one datagram until the monotonic clock reaches `deadline`.
ReceiveStatus receive_datagram(UdpSocket* socket, void* buffer, std::size_t capacity,
                               std::size_t* received, Endpoint* source, std::uint64_t deadline);

// Returns the number of bytes sent, or -1.
long send_datagram(UdpSocket* socket, const void* data, std::size_t length,
                   const Endpoint& destination, bool dont_route);

// The addresses the host's own name resolves to, in resolver order.
// False when the name is unknown or does not resolve to an IPv4 address.
bool resolve_host_addresses(Ipv4Address* addresses, int capacity, int* count);

// Fills `buffer` with up to `capacity_bytes / INTERFACE_RECORD_SIZE` records
// of the host's IPv4 interfaces in the system's order, down ones included.
// A list that does not fit is a failure.
bool query_interface_list(UdpSocket* socket, std::uint8_t* buffer, std::size_t capacity_bytes,
                          std::size_t* bytes_returned);

void current_utc_time(CalendarTime* now);
void sleep_milliseconds(unsigned milliseconds);

// Milliseconds since an arbitrary start, never going back: a change of the
// calendar clock neither shortens nor stretches a wait measured with it.
std::uint64_t monotonic_milliseconds();

}  // namespace platform
