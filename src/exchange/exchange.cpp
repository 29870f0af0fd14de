#include "exchange/exchange.h"

#include <cstdarg>

#include "cli/command_line.h"
#include "cli/console.h"
#include "exchange/interface_report.h"
#include "exchange/known_sorters.h"
#include "exchange/local_address.h"
#include "platform/platform.h"
#include "protocol/sndp_msg.h"

namespace {

struct Exchange {
    SndpCfgMsg msg;  // the outgoing record, filled by the command line
    RunOptions run;
    bool network_started;
    platform::UdpSocket* socket;
    bool table_full_reported;
    std::FILE* out;
    std::FILE* err;
};

#define ADDRESS_FORMAT "%u.%u.%u.%u"
#define ADDRESS_ARGUMENTS(a) (a).octets[0], (a).octets[1], (a).octets[2], (a).octets[3]

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
    std::vfprintf(ex.err, format, arguments);
    va_end(arguments);
    std::fflush(ex.err);
    release(ex);
    return EXIT_STATUS_NETWORK_FAILURE;
}

// Opens, sets up and binds the socket; 0 when ready, else the exit status.
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
    if (ex.run.verbose && !list_interfaces(ex.socket, ex.out, ex.err)) {
        return fail(ex, "WSAIoctl fails with error %d\n", platform::last_error());
    }
    platform::Endpoint local{};
    if (!choose_local_address(ex.run, ex.socket, &local.address)) return fail(ex, "Could not get host name.\n");
    local.port = SNDP_LISTEN_PORT;
    if (!platform::bind_socket(ex.socket, local)) {
        return fail(ex, "Could not bind to socket: %d\n", platform::last_error());
    }
    console_print(ex.out, "vormcfg running on network interface " ADDRESS_FORMAT "\n", ADDRESS_ARGUMENTS(local.address));
    if (!serial_is_empty(ex.msg)) {
        console_print(ex.out, "Waiting for LumatrexExpert serial # %s\n", ex.msg.serial);
    } else {
        console_print(ex.out, "Listening mode: Waiting for Lumatrex Expert broadcast activity...\n");
    }
    console_print(ex.out, "Press CTRL + C to quit\n\n");
    return 0;
}

enum class Arrival { record, socket_error };

// Waits for the next 128-byte datagram that carries the magic. Anything
// else on the port is a stray packet and goes unremarked.
Arrival receive_record(Exchange& ex, SndpCfgMsg* received, platform::Endpoint* source) {
    for (;;) {
        std::size_t length = 0;
        switch (platform::receive_datagram(ex.socket, received, sizeof *received, &length, source)) {
            case platform::ReceiveStatus::failed: return Arrival::socket_error;
            case platform::ReceiveStatus::interrupted:
            case platform::ReceiveStatus::truncated: continue;
            case platform::ReceiveStatus::datagram: break;
        }
        if (length == SNDP_MSG_SIZE && has_magic(*received)) return Arrival::record;
    }
}

// A received text as it is printed. It is at most the rest of the record,
// and every byte of it takes at most four characters.
struct ShownText {
    char text[escaped_capacity(SNDP_MSG_SIZE)];
};

ShownText shown(const FieldText& field) {
    ShownText result;
    escape_received_text(field.text, field.length, result.text, sizeof result.text);
    return result;
}

void print_current_configuration(Exchange& ex, const SndpCfgMsg& received, const platform::Endpoint& source) {
    const FieldText mask = read_text_field(received, received.subnet_mask);
    console_print(ex.out, "Current configuration:\n");
    console_print(ex.out, "    IP Address ...... " ADDRESS_FORMAT "\n", ADDRESS_ARGUMENTS(source.address));
    console_print(ex.out, "    Subnet mask ..... %s\n", shown(mask).text);
    if (has_gateway(received)) {
        console_print(ex.out, "    Gateway ......... " ADDRESS_FORMAT "\n", ADDRESS_ARGUMENTS(gateway_address(received)));
    }
    console_print(ex.out, "    DHCP ............ %s\n", received.dhcp_enabled != 0 ? "On" : "Off");
}

void announce_if_new(Exchange& ex, const SndpCfgMsg& received, const platform::Endpoint& source) {
    if (is_known_sorter(received)) return;
    if (!remember_sorter(received)) {
        if (!ex.table_full_reported) {
            console_print(ex.err, "Note: %d sorters are listed; sorters heard from now on are not announced.\n",
                          MAX_KNOWN_SORTERS);
            ex.table_full_reported = true;
        }
        return;
    }
    const FieldText serial = read_text_field(received, received.serial);
    console_print(ex.out, "Serial Number '%s' is broadcasting.\n", shown(serial).text);
    if (ex.run.verbose) print_current_configuration(ex, received, source);
}

struct Target {
    SndpCfgMsg record;
    platform::Endpoint source;
};

// Listens until the target's record arrives. Its announcement waits until
// the reply is out: the sorter is waiting on the wire, the console can wait
// a moment. Listening mode has an empty target and never answers: a passive
// listener must not configure a sorter that broadcasts an empty serial.
int wait_for_target(Exchange& ex, Target* target) {
    const bool listening = serial_is_empty(ex.msg);
    for (;;) {
        if (receive_record(ex, &target->record, &target->source) == Arrival::socket_error) {
            return fail(ex, "Could not receive datagram: %d\n", platform::last_error());
        }
        if (!listening && same_serial(target->record, ex.msg)) return 0;
        announce_if_new(ex, target->record, target->source);
    }
}

// Completes and sends the record; only the last send's result counts.
// Leaves the destination in `peer`; false, with the error in `error`, when
// the last send did not go out whole.
bool send_reply(Exchange& ex, platform::Endpoint* peer, int* error) {
    complete_outgoing(ex.msg);
    const bool broadcast_reply = ex.run.remote_octets[0] == 0;
    peer->address = broadcast_reply ? platform::Ipv4Address{{255, 255, 255, 255}} : address_from_octets(ex.run.remote_octets);
    const int send_count = ex.run.firewall_mode ? FIREWALL_SEND_COUNT : 1;
    long sent = 0;
    for (int i = 0; i < send_count; ++i) {
        sent = platform::send_datagram(ex.socket, &ex.msg, sizeof ex.msg, *peer, broadcast_reply);
        *error = platform::last_error();
        if (send_count > 1) platform::sleep_milliseconds(FIREWALL_SEND_INTERVAL_MS);
    }
    return sent == static_cast<long>(SNDP_MSG_SIZE);
}

void print_summary(Exchange& ex) {
    console_print(ex.out,
                  "\nThis is the configuration that was sent to '%s'.\n"
                  "Restart the sorter and re-run 'vormcfg -v' to verify this configuration:\n\n",
                  ex.msg.serial);
    console_print(ex.out, "    IP Address ...... %s\n", ex.msg.ip_address);
    if (ex.msg.subnet_mask[0] != '\0') console_print(ex.out, "    Subnet mask ..... %s\n", ex.msg.subnet_mask);
    if (has_gateway(ex.msg)) {
        console_print(ex.out, "    Gateway ......... " ADDRESS_FORMAT "\n", ADDRESS_ARGUMENTS(gateway_address(ex.msg)));
    }
    console_print(ex.out, "    DHCP ............ %s\n", ex.msg.dhcp_enabled != 0 ? "On" : "Off");
}

}  // namespace

int run_exchange(int argc, char* argv[], std::FILE* out, std::FILE* err) {
    Exchange ex{};
    ex.out = out;
    ex.err = err;
    forget_known_sorters();
    switch (parse_arguments(argc, argv, ex.msg, ex.run, err)) {
        case ParseOutcome::help: print_usage(err); return EXIT_STATUS_SUCCESS;
        case ParseOutcome::usage_error: print_usage(err); return EXIT_STATUS_USAGE;
        case ParseOutcome::run: break;
    }
    if (int status = start_up(ex)) return status;
    Target target{};
    target.source = platform::Endpoint{{{0, 0, 0, 0}}, SNDP_SORTER_PORT};
    if (!ex.run.firewall_mode) {
        if (int status = wait_for_target(ex, &target)) return status;
    }
    platform::Endpoint peer = target.source;
    int error = 0;
    const bool sent = send_reply(ex, &peer, &error);
    if (!ex.run.firewall_mode) announce_if_new(ex, target.record, target.source);
    if (!sent) return fail(ex, "Error sending reply message to port %d: %d\n", peer.port, error);
    print_summary(ex);
    release(ex);
    return EXIT_STATUS_SUCCESS;
}
