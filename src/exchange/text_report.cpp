// The run's output for a person at a console: the tool's own lines.
#include "cli/address_text.h"
#include "cli/console.h"
#include "exchange/interface_report.h"
#include "exchange/report.h"

namespace {

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

ShownText shown_serial(const SndpCfgMsg& record) {
    return shown(read_text_field(record, record.serial));
}

const char* on_off(std::uint8_t dhcp_enabled) {
    return dhcp_enabled != 0 ? "On" : "Off";
}

void interface(const ReportStreams& streams, const InterfaceRecord& record) {
    print_interface_block(record, streams.out);
}

void started(const ReportStreams& streams, const StartedEvent& event) {
    console_print(streams.out, "vormcfg running on network interface %s\n", dotted(event.local).text);
    if (!serial_is_empty(*event.msg)) {
        console_print(streams.out, "Waiting for LumatrexExpert serial # %s\n", event.msg->serial);
    } else {
        console_print(streams.out, "Listening mode: Waiting for Lumatrex Expert broadcast activity...\n");
    }
    console_print(streams.out, "Press CTRL + C to quit\n\n");
}

void current_configuration(std::FILE* out, const SndpCfgMsg& record, const platform::Endpoint& source) {
    console_print(out, "Current configuration:\n");
    console_print(out, "    IP Address ...... %s\n", dotted(source.address).text);
    console_print(out, "    Subnet mask ..... %s\n", shown(read_text_field(record, record.subnet_mask)).text);
    if (has_gateway(record)) console_print(out, "    Gateway ......... %s\n", dotted(gateway_address(record)).text);
    console_print(out, "    DHCP ............ %s\n", on_off(record.dhcp_enabled));
}

void sorter(const ReportStreams& streams, const SndpCfgMsg& record, const platform::Endpoint& source) {
    console_print(streams.out, "Serial Number '%s' is broadcasting.\n", shown_serial(record).text);
    if (streams.verbose) current_configuration(streams.out, record, source);
}

void table_full(const ReportStreams& streams, int capacity) {
    console_print(streams.err, "Note: %d sorters are listed; sorters heard from now on are not announced.\n", capacity);
}

void sent(const ReportStreams& streams, const SentEvent& event) {
    const SndpCfgMsg& msg = *event.msg;
    console_print(streams.out,
                  "\nThis is the configuration that was sent to '%s'.\n"
                  "Restart the sorter and re-run 'vormcfg -v' to verify this configuration:\n\n",
                  msg.serial);
    console_print(streams.out, "    IP Address ...... %s\n", msg.ip_address);
    if (msg.subnet_mask[0] != '\0') console_print(streams.out, "    Subnet mask ..... %s\n", msg.subnet_mask);
    if (has_gateway(msg)) console_print(streams.out, "    Gateway ......... %s\n", dotted(gateway_address(msg)).text);
    console_print(streams.out, "    DHCP ............ %s\n", on_off(msg.dhcp_enabled));
}

void target_not_heard(const ReportStreams& streams, const SndpCfgMsg& msg, int seconds) {
    console_print(streams.err, "Serial # %s was not heard within %d seconds.\n", msg.serial, seconds);
}

void listening_done(const ReportStreams& streams, int sorters, int seconds) {
    console_print(streams.out, "Sorters heard: %d in %d seconds.\n", sorters, seconds);
}

void verifying(const ReportStreams& streams, const SndpCfgMsg& msg, int seconds) {
    console_print(streams.out,
                  "Waiting up to %d seconds for '%s' to restart with this configuration (Ctrl+C to stop)...\n",
                  seconds, msg.serial);
}

void verified(const ReportStreams& streams, const SndpCfgMsg& msg, const platform::Endpoint& source) {
    console_print(streams.out, "Verified: '%s' now broadcasts this configuration from %s.\n", msg.serial,
                  dotted(source.address).text);
}

// One line of what the sorter last broadcast, with what was sent beside it
// where the two differ.
void heard_line(std::FILE* err, const char* label, const char* heard, bool differs, const char* sent) {
    if (differs) {
        console_print(err, "    %s %s  (differs: sent %s)\n", label, heard, sent);
    } else {
        console_print(err, "    %s %s\n", label, heard);
    }
}

void last_broadcast(std::FILE* err, const NotVerifiedEvent& event) {
    const SndpCfgMsg& heard = *event.last;
    const SndpCfgMsg& sent = *event.sent;
    const unsigned d = event.differences;
    console_print(err, "What it last broadcast after the reply:\n");
    heard_line(err, "IP Address ......", dotted(event.last_source.address).text, d & DIFFERS_ADDRESS, sent.ip_address);
    heard_line(err, "Subnet mask .....", shown(read_text_field(heard, heard.subnet_mask)).text, d & DIFFERS_MASK,
               sent.subnet_mask);
    if (has_gateway(heard) || (d & DIFFERS_GATEWAY) != 0) {
        heard_line(err, "Gateway .........", has_gateway(heard) ? dotted(gateway_address(heard)).text : "none",
                   d & DIFFERS_GATEWAY, dotted(gateway_address(sent)).text);
    }
    heard_line(err, "DHCP ............", on_off(heard.dhcp_enabled), d & DIFFERS_DHCP, on_off(sent.dhcp_enabled));
}

void not_verified(const ReportStreams& streams, const NotVerifiedEvent& event) {
    console_print(streams.err, "Not verified: '%s' did not come back with this configuration within %d seconds.\n",
                  event.sent->serial, event.seconds);
    if (event.last == nullptr) {
        console_print(streams.err, "It was not heard after the reply.\n");
        return;
    }
    last_broadcast(streams.err, event);
    if (event.differences == DIFFERS_GATEWAY) {
        console_print(streams.err, "It kept its gateway: assigning a gateway needs scanner firmware v2.7 or above.\n");
    }
}

void conflict(const ReportStreams& streams, const platform::Ipv4Address& address, const SndpCfgMsg& record) {
    console_print(streams.err, "Warning: %s is also the address of sorter '%s'.\n", dotted(address).text,
                  shown_serial(record).text);
}

}  // namespace

const Report TEXT_REPORT = {
    interface, started, sorter, table_full, sent, target_not_heard, listening_done, verifying, verified, not_verified, conflict,
};
