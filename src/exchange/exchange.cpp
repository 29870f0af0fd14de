#include "exchange/exchange.h"

#include <cstdarg>

#include "cli/command_line.h"
#include "cli/console.h"
#include "exchange/interface_report.h"
#include "exchange/known_sorters.h"
#include "exchange/local_address.h"
#include "exchange/report.h"
#include "exchange/verification.h"
#include "platform/platform.h"
#include "protocol/sndp_msg.h"

namespace {

// A step's result when the run goes on; otherwise a step returns the exit status.
constexpr int CARRY_ON = -1;

struct Exchange {
    SndpCfgMsg msg;  // the outgoing record, filled by the command line
    RunOptions run;
    bool network_started;
    platform::UdpSocket* socket;
    bool table_full_reported;
    const Report* report;
    ReportStreams streams;
};

void release(Exchange& ex) {
    if (ex.socket != nullptr) platform::close_socket(ex.socket);
    if (ex.network_started) platform::stop_network();
    ex.socket = nullptr;
    ex.network_started = false;
}

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
int fail(Exchange& ex, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::vfprintf(ex.streams.err, format, arguments);
    va_end(arguments);
    std::fflush(ex.streams.err);
    release(ex);
    return EXIT_STATUS_NETWORK_FAILURE;
}

RunMode mode_of(const Exchange& ex) {
    if (ex.run.firewall_mode) return RunMode::firewall;
    return serial_is_empty(ex.msg) ? RunMode::listening : RunMode::targeted;
}

// Opens, sets up and binds the socket.
int start_up(Exchange& ex) {
    if (!platform::start_network()) {
        return fail(ex, "fatal: could not open initialize the network library: %d.\n", platform::last_error());
    }
    ex.network_started = true;
    ex.socket = platform::open_udp_socket();
    if (ex.socket == nullptr) return fail(ex, "fatal: could not create socket: %d\n", platform::last_error());
    if (!platform::enable_broadcast(ex.socket)) {
        return fail(ex, "Error setting socket 'SO_BROADCAST' option: %d\n", platform::last_error());
    }
    if (ex.run.verbose && !list_interfaces(ex.socket, *ex.report, ex.streams)) {
        return fail(ex, "WSAIoctl fails with error %d\n", platform::last_error());
    }
    platform::Endpoint local{};
    if (!choose_local_address(ex.run, ex.socket, &local.address)) return fail(ex, "Could not get host name.\n");
    local.port = SNDP_LISTEN_PORT;
    if (!platform::bind_socket(ex.socket, local)) {
        return fail(ex, "Could not bind to socket: %d\n", platform::last_error());
    }
    ex.report->started(ex.streams, StartedEvent{local.address, local.port, mode_of(ex), &ex.msg});
    return CARRY_ON;
}

std::uint64_t deadline_after(int seconds) {
    if (seconds == 0) return platform::NO_DEADLINE;
    return platform::monotonic_milliseconds() + static_cast<std::uint64_t>(seconds) * 1000u;
}

enum class Arrival { record, timed_out, socket_error };

// Waits for the next 128-byte datagram that carries the magic. Anything
// else on the port is a stray packet and goes unremarked.
Arrival receive_record(Exchange& ex, SndpCfgMsg* received, platform::Endpoint* source, std::uint64_t deadline) {
    for (;;) {
        std::size_t length = 0;
        switch (platform::receive_datagram(ex.socket, received, sizeof *received, &length, source, deadline)) {
            case platform::ReceiveStatus::failed: return Arrival::socket_error;
            case platform::ReceiveStatus::timed_out: return Arrival::timed_out;
            case platform::ReceiveStatus::interrupted:
            case platform::ReceiveStatus::truncated: continue;
            case platform::ReceiveStatus::datagram: break;
        }
        if (length == SNDP_MSG_SIZE && has_magic(*received)) return Arrival::record;
    }
}

void announce_if_new(Exchange& ex, const SndpCfgMsg& received, const platform::Endpoint& source) {
    if (is_known_sorter(received)) return;
    if (!remember_sorter(received)) {
        if (!ex.table_full_reported) ex.report->table_full(ex.streams, MAX_KNOWN_SORTERS);
        ex.table_full_reported = true;
        return;
    }
    ex.report->sorter(ex.streams, received, source);
}

// The end of a wait that ran out: listening was asked to stop, the target
// was asked to appear.
int wait_ran_out(Exchange& ex) {
    if (mode_of(ex) == RunMode::listening) {
        ex.report->listening_done(ex.streams, known_sorters.count, ex.run.timeout_seconds);
        release(ex);
        return EXIT_STATUS_SUCCESS;
    }
    ex.report->target_not_heard(ex.streams, ex.msg, ex.run.timeout_seconds);
    release(ex);
    return EXIT_STATUS_TIMED_OUT;
}

struct Target {
    SndpCfgMsg record;
    platform::Endpoint source;
};

// Listens until the target's record arrives, or until -t's time is up. Its
// announcement waits until the reply is out: the sorter is waiting on the
// wire, the console can wait a moment. Listening mode has an empty target
// and never answers: a passive listener must not configure a sorter that
// broadcasts an empty serial.
int wait_for_target(Exchange& ex, Target* target) {
    const bool listening = serial_is_empty(ex.msg);
    const std::uint64_t deadline = deadline_after(ex.run.timeout_seconds);
    for (;;) {
        switch (receive_record(ex, &target->record, &target->source, deadline)) {
            case Arrival::socket_error: return fail(ex, "Could not receive datagram: %d\n", platform::last_error());
            case Arrival::timed_out: return wait_ran_out(ex);
            case Arrival::record: break;
        }
        if (!listening && same_serial(target->record, ex.msg)) return CARRY_ON;
        announce_if_new(ex, target->record, target->source);
    }
}

// Completes and sends the record; only the last send's result counts.
// Leaves the destination in `peer`; false, with the error in `error`, when
// the last send did not go out whole.
bool send_reply(Exchange& ex, platform::Endpoint* peer, int send_count, int* error) {
    complete_outgoing(ex.msg);
    const bool broadcast_reply = ex.run.remote_octets[0] == 0;
    peer->address = broadcast_reply ? platform::Ipv4Address{{255, 255, 255, 255}} : address_from_octets(ex.run.remote_octets);
    long sent = 0;
    for (int i = 0; i < send_count; ++i) {
        sent = platform::send_datagram(ex.socket, &ex.msg, sizeof ex.msg, *peer, broadcast_reply);
        *error = platform::last_error();
        if (send_count > 1) platform::sleep_milliseconds(FIREWALL_SEND_INTERVAL_MS);
    }
    return sent == static_cast<long>(SNDP_MSG_SIZE);
}

// What the target last broadcast while the tool waited for it to restart.
struct LastHeard {
    bool heard;
    SndpCfgMsg record;
    platform::Endpoint source;
    unsigned differences;
};

int not_verified(Exchange& ex, const LastHeard& last) {
    ex.report->not_verified(ex.streams, NotVerifiedEvent{&ex.msg, ex.run.verify_seconds,
                                                         last.heard ? &last.record : nullptr, last.source,
                                                         last.differences});
    release(ex);
    return EXIT_STATUS_TIMED_OUT;
}

// Another sorter on the address just given to the target: one of the two
// will not be reachable once the target has restarted.
void warn_of_conflict(Exchange& ex, const SndpCfgMsg& record, const platform::Endpoint& source, bool* warned) {
    platform::Ipv4Address assigned{};
    if (*warned || !assigned_address(ex.msg, &assigned)) return;
    for (int i = 0; i < 4; ++i) {
        if (assigned.octets[i] != source.address.octets[i]) return;
    }
    ex.report->conflict(ex.streams, assigned, record);
    *warned = true;
}

// After the reply, listens until the target broadcasts what it was sent,
// or until -w's time is up.
int verify_restart(Exchange& ex) {
    ex.report->verifying(ex.streams, ex.msg, ex.run.verify_seconds);
    const std::uint64_t deadline = deadline_after(ex.run.verify_seconds);
    LastHeard last{};
    bool conflict_warned = false;
    for (;;) {
        SndpCfgMsg record;
        platform::Endpoint source{};
        switch (receive_record(ex, &record, &source, deadline)) {
            case Arrival::socket_error: return fail(ex, "Could not receive datagram: %d\n", platform::last_error());
            case Arrival::timed_out: return not_verified(ex, last);
            case Arrival::record: break;
        }
        announce_if_new(ex, record, source);
        if (!same_serial(record, ex.msg)) {
            warn_of_conflict(ex, record, source, &conflict_warned);
            continue;
        }
        last = LastHeard{true, record, source, differences_from_sent(ex.msg, record, source.address)};
        if (last.differences == 0) {
            ex.report->verified(ex.streams, ex.msg, source);
            release(ex);
            return EXIT_STATUS_SUCCESS;
        }
    }
}

}  // namespace

int run_exchange(int argc, char* argv[], std::FILE* out, std::FILE* err) {
    Exchange ex{};
    ex.streams = ReportStreams{out, err, false};
    forget_known_sorters();
    switch (parse_arguments(argc, argv, ex.msg, ex.run, err)) {
        case ParseOutcome::help: print_usage(err); return EXIT_STATUS_SUCCESS;
        case ParseOutcome::usage_error: print_usage(err); return EXIT_STATUS_USAGE;
        case ParseOutcome::run: break;
    }
    ex.streams.verbose = ex.run.verbose;
    ex.report = ex.run.json ? &JSON_REPORT : &TEXT_REPORT;
    if (int status = start_up(ex); status != CARRY_ON) return status;
    Target target{};
    target.source = platform::Endpoint{{{0, 0, 0, 0}}, SNDP_SORTER_PORT};
    if (!ex.run.firewall_mode) {
        if (int status = wait_for_target(ex, &target); status != CARRY_ON) return status;
    }
    platform::Endpoint peer = target.source;
    const int send_count = ex.run.firewall_mode ? FIREWALL_SEND_COUNT : 1;
    int error = 0;
    const bool sent = send_reply(ex, &peer, send_count, &error);
    if (!ex.run.firewall_mode) announce_if_new(ex, target.record, target.source);
    if (!sent) return fail(ex, "Error sending reply message to port %d: %d\n", peer.port, error);
    ex.report->sent(ex.streams, SentEvent{&ex.msg, peer, send_count});
    if (ex.run.verify_seconds != 0) return verify_restart(ex);
    release(ex);
    return EXIT_STATUS_SUCCESS;
}
