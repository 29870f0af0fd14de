#include "fakes/fake_platform.h"

#include <cstdio>
#include <cstring>

namespace fake {

namespace {

Platform the_platform;

bool failing(Operation operation) {
    if (!the_platform.fails[static_cast<int>(operation)]) return false;
    the_platform.error = the_platform.failing_error;
    return true;
}

void write_slot(std::uint8_t* record, int slot, const platform::Ipv4Address& address) {
    std::memcpy(record + slot + platform::INTERFACE_SLOT_ADDRESS_OFFSET, address.octets, 4);
}

// What has been written to `stream` so far, buffered bytes included.
long written_to(std::FILE* stream) {
    if (stream == nullptr) return -1;
    std::fflush(stream);
    std::fseek(stream, 0, SEEK_END);
    return std::ftell(stream);
}

}  // namespace

Platform& reset() {
    the_platform = Platform{};
    the_platform.host_name_resolves = true;
    the_platform.host_addresses = {platform::Ipv4Address{{192, 168, 1, 10}}};
    the_platform.clock = platform::CalendarTime{2017, 12, 0, 31, 23, 59, 59, 999};
    the_platform.monotonic_now = CLOCK_START;
    the_platform.script_time = CLOCK_START;
    return the_platform;
}

Platform& state() {
    return the_platform;
}

void fail(Operation operation, int error) {
    the_platform.fails[static_cast<int>(operation)] = true;
    the_platform.failing_error = error;
}

void elapse(std::uint64_t milliseconds) {
    the_platform.script_time += milliseconds;
}

void arrive(const std::vector<std::uint8_t>& bytes, platform::Ipv4Address source, std::uint16_t port) {
    the_platform.arrivals.push_back(
        Arrival{platform::ReceiveStatus::datagram, bytes, {source, port}, 0, the_platform.script_time});
}

void arrive_status(platform::ReceiveStatus status, int error) {
    the_platform.arrivals.push_back(Arrival{status, {}, {{{0, 0, 0, 0}}, 0}, error, the_platform.script_time});
}

}  // namespace fake

namespace platform {

struct UdpSocket {
    int id;
};

namespace {
UdpSocket the_socket{1};
}

bool start_network() {
    if (fake::failing(fake::Operation::start_network)) return false;
    ++fake::the_platform.network_starts;
    return true;
}

void stop_network() {
    ++fake::the_platform.network_stops;
}

int last_error() {
    return fake::the_platform.error;
}

UdpSocket* open_udp_socket() {
    if (fake::failing(fake::Operation::open_socket)) return nullptr;
    ++fake::the_platform.sockets_opened;
    return &the_socket;
}

void close_socket(UdpSocket*) {
    ++fake::the_platform.sockets_closed;
}

bool enable_broadcast(UdpSocket*) {
    if (fake::failing(fake::Operation::enable_broadcast)) return false;
    fake::the_platform.broadcast_enabled = true;
    return true;
}

bool bind_socket(UdpSocket*, const Endpoint& local) {
    if (fake::failing(fake::Operation::bind_socket)) return false;
    fake::the_platform.bound = true;
    fake::the_platform.bound_to = local;
    return true;
}

ReceiveStatus receive_datagram(UdpSocket*, void* buffer, std::size_t capacity, std::size_t* received,
                               Endpoint* source, std::uint64_t deadline) {
    fake::Platform& p = fake::the_platform;
    if (fake::failing(fake::Operation::receive)) return ReceiveStatus::failed;
    const bool in_time = !p.arrivals.empty() && (deadline == NO_DEADLINE || p.arrivals.front().at <= deadline);
    if (!in_time && deadline != NO_DEADLINE) {
        if (p.monotonic_now < deadline) p.monotonic_now = deadline;
        return ReceiveStatus::timed_out;
    }
    if (!in_time) {
        p.error = fake::SCRIPT_EXHAUSTED;
        return ReceiveStatus::failed;
    }
    const fake::Arrival next = p.arrivals.front();
    p.arrivals.pop_front();
    if (p.monotonic_now < next.at) p.monotonic_now = next.at;
    if (next.status == ReceiveStatus::failed) p.error = next.error;
    if (next.status != ReceiveStatus::datagram) return next.status;
    const std::size_t length = next.bytes.size() < capacity ? next.bytes.size() : capacity;
    if (length > 0) std::memcpy(buffer, next.bytes.data(), length);
    *received = length;
    *source = next.source;
    return next.bytes.size() > capacity ? ReceiveStatus::truncated : next.status;
}

long send_datagram(UdpSocket*, const void* data, std::size_t length, const Endpoint& destination, bool dont_route) {
    fake::Platform& p = fake::the_platform;
    const std::size_t number = p.sent.size();
    const std::uint8_t* bytes = static_cast<const std::uint8_t*>(data);
    p.sent.push_back(fake::Sent{std::vector<std::uint8_t>(bytes, bytes + length), destination, dont_route,
                                fake::written_to(p.watched_output)});
    if (fake::failing(fake::Operation::send)) return -1;
    if (number < p.send_results.size() && p.send_results[number] != static_cast<long>(length)) {
        p.error = p.failing_error;
        return p.send_results[number];
    }
    return static_cast<long>(length);
}

bool resolve_host_addresses(Ipv4Address* addresses, int capacity, int* count) {
    const fake::Platform& p = fake::the_platform;
    *count = 0;
    if (!p.host_name_resolves) return false;
    for (const Ipv4Address& address : p.host_addresses) {
        if (*count < capacity) addresses[(*count)++] = address;
    }
    return *count > 0;
}

bool query_interface_list(UdpSocket*, std::uint8_t* buffer, std::size_t capacity_bytes, std::size_t* bytes_returned) {
    fake::Platform& p = fake::the_platform;
    ++p.interface_queries;
    if (fake::failing(fake::Operation::query_interfaces)) return false;
    if (p.interfaces.size() * INTERFACE_RECORD_SIZE > capacity_bytes) {
        p.error = 105;  // the list does not fit, as ENOBUFS
        return false;
    }
    std::memset(buffer, 0, capacity_bytes);
    std::uint8_t* record = buffer;
    for (const fake::Interface& interface : p.interfaces) {
        for (int i = 0; i < 4; ++i) record[INTERFACE_FLAGS_OFFSET + i] = static_cast<std::uint8_t>(interface.flags >> (8 * i));
        fake::write_slot(record, INTERFACE_ADDRESS_SLOT, interface.address);
        fake::write_slot(record, INTERFACE_BROADCAST_SLOT, interface.broadcast);
        fake::write_slot(record, INTERFACE_NETMASK_SLOT, interface.netmask);
        record += INTERFACE_RECORD_SIZE;
    }
    *bytes_returned = p.interfaces.size() * INTERFACE_RECORD_SIZE;
    return true;
}

void current_utc_time(CalendarTime* now) {
    ++fake::the_platform.clock_reads;
    *now = fake::the_platform.clock;
}

void sleep_milliseconds(unsigned milliseconds) {
    fake::the_platform.sleeps.push_back(milliseconds);
    fake::the_platform.monotonic_now += milliseconds;
}

std::uint64_t monotonic_milliseconds() {
    return fake::the_platform.monotonic_now;
}

}  // namespace platform
