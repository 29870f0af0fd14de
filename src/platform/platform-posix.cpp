// POSIX sockets as Linux provides them; no other POSIX system is built or
// tested. A UDP socket bound to a unicast address hears no broadcasts here,
// unlike on Windows, so a socket is bound to the wildcard address and tied to
// the interface that holds the chosen address (SO_BINDTODEVICE); its replies
// name that interface and that source address explicitly (IP_PKTINFO).
#if !defined(__linux__)
#error "platform-posix.cpp is written for Linux (SO_BINDTODEVICE, IP_PKTINFO); build on Linux or Windows"
#endif

#include "platform/platform.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

struct UdpSocket {
    int fd;
    unsigned interface_index;  // 0 until bound
    in_addr local;
};

namespace {

constexpr std::size_t HOST_NAME_BUFFER = 256;

in_addr to_in_addr(const Ipv4Address& address) {
    in_addr result{};
    std::memcpy(&result.s_addr, address.octets, 4);
    return result;
}

Ipv4Address from_in_addr(in_addr address) {
    Ipv4Address result{};
    std::memcpy(result.octets, &address.s_addr, 4);
    return result;
}

sockaddr_in to_sockaddr(const Endpoint& endpoint) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(endpoint.port);
    result.sin_addr = to_in_addr(endpoint.address);
    return result;
}

const sockaddr_in* ipv4_of(const sockaddr* address) {
    if (address == nullptr || address->sa_family != AF_INET) return nullptr;
    return reinterpret_cast<const sockaddr_in*>(address);
}

struct InterfaceName {
    char name[IF_NAMESIZE + 1];
    unsigned index;
};

// The interface holding `address`; the whole 127/8 block lives on loopback
// (Debian names the host 127.0.1.1, an address no interface lists).
bool find_interface(in_addr address, InterfaceName* found) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    const bool in_loopback_block = (ntohl(address.s_addr) >> 24) == 127;
    const ifaddrs* match = nullptr;
    for (const ifaddrs* entry = list; entry != nullptr && match == nullptr; entry = entry->ifa_next) {
        const sockaddr_in* ipv4 = ipv4_of(entry->ifa_addr);
        if (ipv4 == nullptr) continue;
        if (ipv4->sin_addr.s_addr == address.s_addr) match = entry;
    }
    for (const ifaddrs* entry = list; entry != nullptr && match == nullptr && in_loopback_block; entry = entry->ifa_next) {
        if (ipv4_of(entry->ifa_addr) != nullptr && (entry->ifa_flags & IFF_LOOPBACK) != 0) match = entry;
    }
    if (match != nullptr) {
        std::strncpy(found->name, match->ifa_name, IF_NAMESIZE);
        found->name[IF_NAMESIZE] = '\0';
        found->index = if_nametoindex(found->name);
    }
    freeifaddrs(list);
    if (match == nullptr) errno = EADDRNOTAVAIL;
    return match != nullptr && found->index != 0;
}

bool tie_to_interface(int fd, const InterfaceName& interface) {
    return setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, interface.name,
                      static_cast<socklen_t>(std::strlen(interface.name) + 1)) == 0;
}

std::uint32_t translate_flags(unsigned system_flags) {
    std::uint32_t flags = 0;
    if (system_flags & IFF_UP) flags |= INTERFACE_UP;
    if (system_flags & IFF_BROADCAST) flags |= INTERFACE_BROADCAST;
    if (system_flags & IFF_LOOPBACK) flags |= INTERFACE_LOOPBACK;
    if (system_flags & IFF_POINTOPOINT) flags |= INTERFACE_POINT_TO_POINT;
    if (system_flags & IFF_MULTICAST) flags |= INTERFACE_MULTICAST;
    return flags;
}

void write_slot(std::uint8_t* record, int slot, in_addr address) {
    std::uint8_t* at = record + slot;
    at[0] = AF_INET & 0xFF;  // the family, little-endian as the original lays it out
    at[1] = 0;
    std::memcpy(at + INTERFACE_SLOT_ADDRESS_OFFSET, &address.s_addr, 4);
}

// getifaddrs holds a broadcast address only for an interface that
// broadcasts; for an address added without one it holds the address itself.
in_addr broadcast_of(const ifaddrs* entry, std::uint32_t flags, in_addr address, in_addr netmask) {
    const sockaddr_in* system = (entry->ifa_flags & IFF_BROADCAST) != 0 ? ipv4_of(entry->ifa_broadaddr) : nullptr;
    const Ipv4Address system_broadcast = from_in_addr(system != nullptr ? system->sin_addr : in_addr{});
    return to_in_addr(broadcast_slot_address(flags, from_in_addr(address), from_in_addr(netmask),
                                             system != nullptr ? &system_broadcast : nullptr));
}

void write_interface_record(std::uint8_t* record, const ifaddrs* entry) {
    std::memset(record, 0, INTERFACE_RECORD_SIZE);
    const std::uint32_t flags = translate_flags(entry->ifa_flags);
    for (int i = 0; i < 4; ++i) record[INTERFACE_FLAGS_OFFSET + i] = static_cast<std::uint8_t>(flags >> (8 * i));
    const sockaddr_in* netmask_entry = ipv4_of(entry->ifa_netmask);
    const in_addr address = ipv4_of(entry->ifa_addr)->sin_addr;
    const in_addr netmask = netmask_entry != nullptr ? netmask_entry->sin_addr : in_addr{};
    write_slot(record, INTERFACE_ADDRESS_SLOT, address);
    write_slot(record, INTERFACE_BROADCAST_SLOT, broadcast_of(entry, flags, address, netmask));
    write_slot(record, INTERFACE_NETMASK_SLOT, netmask);
}

// `datagram` once the socket has something to read, or how the wait ended.
// A deadline already passed still takes a datagram that is waiting.
ReceiveStatus wait_readable(int fd, std::uint64_t deadline) {
    if (deadline == NO_DEADLINE) return ReceiveStatus::datagram;
    for (;;) {
        const std::uint64_t now = monotonic_milliseconds();
        const std::uint64_t remaining = deadline > now ? deadline - now : 0;
        pollfd watched{fd, POLLIN, 0};
        const int ready = poll(&watched, 1, remaining > INT_MAX ? INT_MAX : static_cast<int>(remaining));
        if (ready < 0) return errno == EINTR ? ReceiveStatus::interrupted : ReceiveStatus::failed;
        if (ready > 0) return ReceiveStatus::datagram;
        if (remaining == 0) return ReceiveStatus::timed_out;
    }
}

}  // namespace

bool start_network() {
    // The C library reads the time zone on its first calendar conversion;
    // do it now rather than between a sorter's broadcast and our reply.
    tzset();
    return true;
}

void stop_network() {}

int last_error() {
    return errno;
}

UdpSocket* open_udp_socket() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return nullptr;
    // malloc rather than new keeps the C++ runtime out of the binary's start-up.
    UdpSocket* created = static_cast<UdpSocket*>(std::malloc(sizeof(UdpSocket)));
    if (created != nullptr) *created = UdpSocket{fd, 0, in_addr{}};
    if (created == nullptr) {
        close(fd);
        errno = ENOMEM;
    }
    return created;
}

void close_socket(UdpSocket* socket) {
    close(socket->fd);
    std::free(socket);
}

bool enable_broadcast(UdpSocket* socket) {
    const int on = 1;
    return setsockopt(socket->fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
}

bool bind_socket(UdpSocket* socket, const Endpoint& local) {
    InterfaceName interface{};
    const in_addr address = to_in_addr(local.address);
    if (!find_interface(address, &interface)) return false;
    if (!tie_to_interface(socket->fd, interface)) return false;
    sockaddr_in wildcard = to_sockaddr(Endpoint{{{0, 0, 0, 0}}, local.port});
    if (bind(socket->fd, reinterpret_cast<const sockaddr*>(&wildcard), sizeof wildcard) != 0) return false;
    socket->interface_index = interface.index;
    socket->local = address;
    return true;
}

ReceiveStatus receive_datagram(UdpSocket* socket, void* buffer, std::size_t capacity, std::size_t* received,
                               Endpoint* source, std::uint64_t deadline) {
    for (;;) {
        const ReceiveStatus readiness = wait_readable(socket->fd, deadline);
        if (readiness != ReceiveStatus::datagram) return readiness;
        sockaddr_in from{};
        iovec data{buffer, capacity};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        // Without a deadline the receive itself waits; with one, poll() has
        // waited and a datagram that vanished meanwhile means waiting again.
        const ssize_t length = recvmsg(socket->fd, &message, deadline == NO_DEADLINE ? 0 : MSG_DONTWAIT);
        if (length < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (length < 0) return errno == EINTR ? ReceiveStatus::interrupted : ReceiveStatus::failed;
        *received = static_cast<std::size_t>(length);
        source->address = from_in_addr(from.sin_addr);
        source->port = ntohs(from.sin_port);
        return (message.msg_flags & MSG_TRUNC) != 0 ? ReceiveStatus::truncated : ReceiveStatus::datagram;
    }
}

long send_datagram(UdpSocket* socket, const void* data, std::size_t length, const Endpoint& destination,
                   bool dont_route) {
    sockaddr_in to = to_sockaddr(destination);
    iovec payload{const_cast<void*>(data), length};
    msghdr message{};
    message.msg_name = &to;
    message.msg_namelen = sizeof to;
    message.msg_iov = &payload;
    message.msg_iovlen = 1;
    // Name the source and the way out, so that a broadcast leaves by the
    // chosen interface whatever the routing table prefers.
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (socket->interface_index != 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = static_cast<int>(socket->interface_index);
        info.ipi_spec_dst = socket->local;
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
    }
    ssize_t sent;
    do {
        sent = sendmsg(socket->fd, &message, dont_route ? MSG_DONTROUTE : 0);
    } while (sent < 0 && errno == EINTR);
    return static_cast<long>(sent);
}

bool resolve_host_addresses(Ipv4Address* addresses, int capacity, int* count) {
    char name[HOST_NAME_BUFFER];
    if (gethostname(name, sizeof name) != 0) name[0] = '\0';
    name[sizeof name - 1] = '\0';  // a cut name need not end in a NUL
    *count = 0;
    if (name[0] == '\0') return false;
    // gethostbyname keeps the order of the hosts file or the name server;
    // getaddrinfo would re-sort it by RFC 6724 and put a link-local address
    // first. The tool has one thread, so its static result is safe here.
    const hostent* host = gethostbyname(name);
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4) return false;
    for (char** entry = host->h_addr_list; *entry != nullptr && *count < capacity; ++entry) {
        in_addr address{};
        std::memcpy(&address.s_addr, *entry, 4);
        addresses[(*count)++] = from_in_addr(address);
    }
    return *count > 0;
}

bool query_interface_list(UdpSocket* /*socket*/, std::uint8_t* buffer, std::size_t capacity_bytes,
                          std::size_t* bytes_returned) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    const std::size_t capacity = capacity_bytes / INTERFACE_RECORD_SIZE;
    std::size_t count = 0;
    bool fits = true;
    for (const ifaddrs* entry = list; entry != nullptr && fits; entry = entry->ifa_next) {
        if (ipv4_of(entry->ifa_addr) == nullptr) continue;
        fits = count < capacity;
        if (fits) write_interface_record(buffer + count++ * INTERFACE_RECORD_SIZE, entry);
    }
    freeifaddrs(list);
    if (!fits) {
        errno = ENOBUFS;
        return false;
    }
    *bytes_returned = count * INTERFACE_RECORD_SIZE;
    return true;
}

void current_utc_time(CalendarTime* now) {
    timespec clock{};
    clock_gettime(CLOCK_REALTIME, &clock);
    std::tm utc{};
    gmtime_r(&clock.tv_sec, &utc);
    now->year = static_cast<std::uint16_t>(utc.tm_year + 1900);
    now->month = static_cast<std::uint16_t>(utc.tm_mon + 1);
    now->day_of_week = static_cast<std::uint16_t>(utc.tm_wday);
    now->day = static_cast<std::uint16_t>(utc.tm_mday);
    now->hour = static_cast<std::uint16_t>(utc.tm_hour);
    now->minute = static_cast<std::uint16_t>(utc.tm_min);
    now->second = static_cast<std::uint16_t>(utc.tm_sec > 59 ? 59 : utc.tm_sec);
    now->milliseconds = static_cast<std::uint16_t>(clock.tv_nsec / 1000000);
}

void sleep_milliseconds(unsigned milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

std::uint64_t monotonic_milliseconds() {
    timespec clock{};
    clock_gettime(CLOCK_MONOTONIC, &clock);
    return static_cast<std::uint64_t>(clock.tv_sec) * 1000u + static_cast<std::uint64_t>(clock.tv_nsec) / 1000000u;
}

}  // namespace platform
