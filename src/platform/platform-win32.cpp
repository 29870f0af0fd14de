// Windows Sockets. A datagram socket bound to an interface's own address
// hears that interface's broadcasts here, so the chosen address itself is
// bound and the socket needs no further tie to its interface.
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <climits>
#include <cstddef>
#include <cstring>
#include <new>

namespace platform {

struct UdpSocket {
    SOCKET handle;
};

namespace {

// Version 1.1 is all the tool needs; later Winsock versions grant it too.
constexpr WORD WINSOCK_VERSION_WANTED = MAKEWORD(1, 1);
constexpr std::size_t HOST_NAME_BUFFER = 256;
// Room for every address of a well-equipped host, unlike the caller's
// fixed-size list.
constexpr int HELD_ADDRESS_CAPACITY = 128;
// select() takes its wait in a timeval of longs; a day fits, longer waits
// go round again.
constexpr std::uint64_t MAX_SELECT_WAIT_MS = 24u * 60u * 60u * 1000u;

// The interface list is handed to the core as the system delivers it, so
// the system's record has to be the one platform.h describes.
static_assert(sizeof(INTERFACE_INFO) == INTERFACE_RECORD_SIZE, "INTERFACE_INFO record size");
static_assert(offsetof(INTERFACE_INFO, iiFlags) == INTERFACE_FLAGS_OFFSET, "flag word offset");
static_assert(offsetof(INTERFACE_INFO, iiAddress) == INTERFACE_ADDRESS_SLOT, "address slot offset");
static_assert(offsetof(INTERFACE_INFO, iiBroadcastAddress) == INTERFACE_BROADCAST_SLOT, "broadcast slot offset");
static_assert(offsetof(INTERFACE_INFO, iiNetmask) == INTERFACE_NETMASK_SLOT, "netmask slot offset");
static_assert(offsetof(sockaddr_in, sin_addr) == INTERFACE_SLOT_ADDRESS_OFFSET, "address offset in a slot");
static_assert(IFF_UP == INTERFACE_UP && IFF_BROADCAST == INTERFACE_BROADCAST && IFF_LOOPBACK == INTERFACE_LOOPBACK &&
                  IFF_POINTTOPOINT == INTERFACE_POINT_TO_POINT && IFF_MULTICAST == INTERFACE_MULTICAST,
              "interface flag bits");

// WSAStartup reports its failure by its result, not through WSAGetLastError
// (which needs a started library).
int startup_error = 0;

sockaddr_in to_sockaddr(const Endpoint& endpoint) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(endpoint.port);
    std::memcpy(&result.sin_addr, endpoint.address.octets, 4);
    return result;
}

Ipv4Address from_in_addr(const in_addr& address) {
    Ipv4Address result{};
    std::memcpy(result.octets, &address, 4);
    return result;
}

int clamp_length(std::size_t length) {
    return length > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

// The broadcast slot means the same on every platform: the interface's own
// broadcast address, or 255.255.255.255 where it has none (loopback,
// point-to-point). What the system leaves there varies: Windows documents
// the peer's address for a point-to-point link and is known to give
// 255.255.255.255 for some interfaces; Wine leaves it empty (0.0.0.0) for
// loopback and tunnels. So the slot is worked out here from the address and
// mask, which is how Windows forms an interface's broadcast address.
void normalise_broadcast(INTERFACE_INFO& record) {
    const Ipv4Address address = from_in_addr(record.iiAddress.AddressIn.sin_addr);
    const Ipv4Address mask = from_in_addr(record.iiNetmask.AddressIn.sin_addr);
    const Ipv4Address slot = broadcast_slot_address(record.iiFlags, address, mask, nullptr);
    sockaddr_in& broadcast = record.iiBroadcastAddress.AddressIn;
    broadcast.sin_family = AF_INET;
    std::memcpy(&broadcast.sin_addr, slot.octets, 4);
}

// Windows refuses to bind an address that no interface of the host holds
// (WSAEADDRNOTAVAIL). Wine binds any address, to the wildcard address
// underneath, and the tool would then wait on an interface that is not
// there; so the host's own list is asked first. Where it cannot be read,
// bind() decides.
bool held_by_this_host(SOCKET handle, in_addr address) {
    const u_long host_order = ntohl(address.s_addr);
    if (host_order == INADDR_ANY || (host_order >> 24) == 127) return true;  // 127/8 is all loopback
    INTERFACE_INFO list[HELD_ADDRESS_CAPACITY];
    DWORD returned = 0;
    if (WSAIoctl(handle, SIO_GET_INTERFACE_LIST, nullptr, 0, list, sizeof list, &returned, nullptr, nullptr) != 0) {
        return true;
    }
    for (DWORD i = 0; i < returned / sizeof list[0]; ++i) {
        if (list[i].iiAddress.AddressIn.sin_addr.s_addr == address.s_addr) return true;
    }
    return false;
}

// `datagram` once the socket has something to read, or how the wait ended.
// A deadline already passed still takes a datagram that is waiting.
ReceiveStatus wait_readable(SOCKET handle, std::uint64_t deadline) {
    if (deadline == NO_DEADLINE) return ReceiveStatus::datagram;
    for (;;) {
        const std::uint64_t now = monotonic_milliseconds();
        const std::uint64_t remaining = deadline > now ? deadline - now : 0;
        const std::uint64_t waited = remaining > MAX_SELECT_WAIT_MS ? MAX_SELECT_WAIT_MS : remaining;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(handle, &readable);
        timeval timeout{static_cast<long>(waited / 1000), static_cast<long>(waited % 1000) * 1000};
        const int ready = select(0, &readable, nullptr, nullptr, &timeout);
        if (ready == SOCKET_ERROR) {
            return WSAGetLastError() == WSAEINTR ? ReceiveStatus::interrupted : ReceiveStatus::failed;
        }
        if (ready > 0) return ReceiveStatus::datagram;
        if (remaining == 0) return ReceiveStatus::timed_out;
    }
}

}  // namespace

bool start_network() {
    WSADATA data{};
    startup_error = WSAStartup(WINSOCK_VERSION_WANTED, &data);
    return startup_error == 0;
}

void stop_network() {
    WSACleanup();
}

int last_error() {
    return startup_error != 0 ? startup_error : WSAGetLastError();
}

UdpSocket* open_udp_socket() {
    const SOCKET handle = socket(AF_INET, SOCK_DGRAM, 0);
    if (handle == INVALID_SOCKET) return nullptr;
    UdpSocket* created = new (std::nothrow) UdpSocket{handle};
    if (created == nullptr) {
        closesocket(handle);
        WSASetLastError(WSA_NOT_ENOUGH_MEMORY);
    }
    return created;
}

void close_socket(UdpSocket* socket) {
    closesocket(socket->handle);
    delete socket;
}

bool enable_broadcast(UdpSocket* socket) {
    const int on = 1;
    return setsockopt(socket->handle, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

bool bind_socket(UdpSocket* socket, const Endpoint& local) {
    const sockaddr_in address = to_sockaddr(local);
    if (!held_by_this_host(socket->handle, address.sin_addr)) {
        WSASetLastError(WSAEADDRNOTAVAIL);
        return false;
    }
    return bind(socket->handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

ReceiveStatus receive_datagram(UdpSocket* socket, void* buffer, std::size_t capacity, std::size_t* received,
                               Endpoint* source, std::uint64_t deadline) {
    const ReceiveStatus readiness = wait_readable(socket->handle, deadline);
    if (readiness != ReceiveStatus::datagram) return readiness;
    sockaddr_in from{};
    int from_length = sizeof from;
    const int length = recvfrom(socket->handle, static_cast<char*>(buffer), clamp_length(capacity), 0,
                                reinterpret_cast<sockaddr*>(&from), &from_length);
    if (length == SOCKET_ERROR) {
        switch (WSAGetLastError()) {
            case WSAEMSGSIZE:
                // The buffer holds the datagram's first part; the rest is gone.
                *received = capacity;
                source->address = from_in_addr(from.sin_addr);
                source->port = ntohs(from.sin_port);
                return ReceiveStatus::truncated;
            case WSAEINTR: return ReceiveStatus::interrupted;
            default: return ReceiveStatus::failed;
        }
    }
    *received = static_cast<std::size_t>(length);
    source->address = from_in_addr(from.sin_addr);
    source->port = ntohs(from.sin_port);
    return ReceiveStatus::datagram;
}

long send_datagram(UdpSocket* socket, const void* data, std::size_t length, const Endpoint& destination,
                   bool dont_route) {
    const sockaddr_in to = to_sockaddr(destination);
    const int sent = sendto(socket->handle, static_cast<const char*>(data), clamp_length(length),
                            dont_route ? MSG_DONTROUTE : 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent == SOCKET_ERROR ? -1L : static_cast<long>(sent);
}

bool resolve_host_addresses(Ipv4Address* addresses, int capacity, int* count) {
    char name[HOST_NAME_BUFFER];
    if (gethostname(name, static_cast<int>(sizeof name)) != 0) name[0] = '\0';
    name[sizeof name - 1] = '\0';  // a cut name need not end in a NUL
    *count = 0;
    if (name[0] == '\0') return false;
    const hostent* host = gethostbyname(name);
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4) return false;
    for (char** entry = host->h_addr_list; *entry != nullptr && *count < capacity; ++entry) {
        in_addr address{};
        std::memcpy(&address, *entry, 4);
        addresses[(*count)++] = from_in_addr(address);
    }
    return *count > 0;
}

bool query_interface_list(UdpSocket* socket, std::uint8_t* buffer, std::size_t capacity_bytes,
                          std::size_t* bytes_returned) {
    DWORD returned = 0;
    const DWORD capacity = capacity_bytes > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity_bytes);
    if (WSAIoctl(socket->handle, SIO_GET_INTERFACE_LIST, nullptr, 0, buffer, capacity, &returned, nullptr,
                 nullptr) != 0) {
        return false;
    }
    const std::size_t records = returned / sizeof(INTERFACE_INFO);
    for (std::size_t i = 0; i < records; ++i) {
        INTERFACE_INFO record;
        std::memcpy(&record, buffer + i * sizeof record, sizeof record);
        normalise_broadcast(record);
        std::memcpy(buffer + i * sizeof record, &record, sizeof record);
    }
    *bytes_returned = returned;
    return true;
}

void current_utc_time(CalendarTime* now) {
    SYSTEMTIME utc{};
    GetSystemTime(&utc);
    now->year = utc.wYear;
    now->month = utc.wMonth;
    now->day_of_week = utc.wDayOfWeek;
    now->day = utc.wDay;
    now->hour = utc.wHour;
    now->minute = utc.wMinute;
    now->second = utc.wSecond;
    now->milliseconds = utc.wMilliseconds;
}

void sleep_milliseconds(unsigned milliseconds) {
    Sleep(milliseconds);
}

std::uint64_t monotonic_milliseconds() {
    return GetTickCount64();
}

}  // namespace platform
