// A scripted stand-in for the platform layer: tests queue what arrives,
// make any operation fail with a chosen error number, and read back what
// was sent, slept, opened and released.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

enum class Operation {
    start_network,
    open_socket,
    enable_broadcast,
    bind_socket,
    query_interfaces,
    receive,
    send,
};

struct Arrival {
    platform::ReceiveStatus status;
    std::vector<std::uint8_t> bytes;  // a truncated arrival keeps only what fits
    platform::Endpoint source;
    int error;  // for failed
    std::uint64_t at;  // on the monotonic clock
};

struct Sent {
    std::vector<std::uint8_t> bytes;
    platform::Endpoint destination;
    bool dont_route;
    // How many bytes of the watched output had been written when the send
    // was made; -1 when no output is watched.
    long output_before;
};

struct Interface {
    std::uint32_t flags;
    platform::Ipv4Address address;
    platform::Ipv4Address broadcast;
    platform::Ipv4Address netmask;
};

// When the script of arrivals runs out, a receive without a deadline fails
// with this number, so a run that would wait forever ends instead; one with
// a deadline times out at its deadline.
constexpr int SCRIPT_EXHAUSTED = 9999;

// Where the monotonic clock stands when a test begins.
constexpr std::uint64_t CLOCK_START = 1000000;

struct Platform {
    // Scripted failures: the operation fails with `failing_error`.
    bool fails[7];
    int failing_error;
    // Send results by send number (0-based); others send the whole datagram.
    std::vector<long> send_results;

    std::deque<Arrival> arrivals;
    bool host_name_resolves;
    std::vector<platform::Ipv4Address> host_addresses;
    std::vector<Interface> interfaces;
    platform::CalendarTime clock;
    // The monotonic clock: a wait moves it to the arrival or the deadline,
    // a pause by its length. Arrivals are scripted at `script_time`.
    std::uint64_t monotonic_now;
    std::uint64_t script_time;

    // What the run did.
    int network_starts;
    int network_stops;
    int sockets_opened;
    int sockets_closed;
    bool broadcast_enabled;
    bool bound;
    platform::Endpoint bound_to;
    int interface_queries;
    std::vector<Sent> sent;
    // The stream whose writes the sends are placed among, so that a test can
    // tell what was printed before a send and what after it.
    std::FILE* watched_output;
    std::vector<unsigned> sleeps;
    int clock_reads;  // calls of current_utc_time
    int error;  // what last_error() answers
};

// Resets the fake to a host named after 192.168.1.10 with no interfaces.
Platform& reset();
Platform& state();

void fail(Operation operation, int error);

// Arrivals scripted from now on come `milliseconds` after the ones before.
void elapse(std::uint64_t milliseconds);

// A datagram from `source` (port 50010 unless given).
void arrive(const std::vector<std::uint8_t>& bytes, platform::Ipv4Address source, std::uint16_t port = 50010);
void arrive_status(platform::ReceiveStatus status, int error = 0);

}  // namespace fake
