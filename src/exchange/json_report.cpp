// The run's output for scripts: one JSON object per event and line on the
// output stream. What the text form writes to the error stream for a person
// (the -t and -w lines, warnings, notes) still goes there.
#include "cli/address_text.h"
#include "exchange/json_line.h"
#include "exchange/report.h"

namespace {

void begin_event(JsonLine& line, const char* event) {
    json_begin(line);
    json_text(line, "event", event);
}

// A text, and its bytes in hex beside it when it needed escapes.
void put_text(JsonLine& line, const char* name, const char* hex_name, const FieldText& text) {
    json_text(line, name, text.text, text.length);
    json_hex_if_escaped(line, hex_name, text.text, text.length);
}

void put_serial(JsonLine& line, const SndpCfgMsg& record) {
    put_text(line, "serial", "serial_hex", read_text_field(record, record.serial));
}

void put_gateway(JsonLine& line, const SndpCfgMsg& record) {
    if (has_gateway(record)) {
        json_text(line, "gateway", dotted(gateway_address(record)).text);
    } else {
        json_null(line, "gateway");
    }
}

// A sorter's settings as its broadcast shows them.
void put_broadcast(JsonLine& line, const SndpCfgMsg& record, const platform::Endpoint& source) {
    put_serial(line, record);
    json_text(line, "ip", dotted(source.address).text);
    put_text(line, "mask", "mask_hex", read_text_field(record, record.subnet_mask));
    put_gateway(line, record);
    json_bool(line, "dhcp", record.dhcp_enabled != 0);
}

// The lines the text form writes to its output stream, sent to the error stream.
ReportStreams for_a_person(const ReportStreams& streams) {
    return ReportStreams{streams.err, streams.err, streams.verbose};
}

void interface(const ReportStreams& streams, const InterfaceRecord& record) {
    static const struct {
        std::uint32_t bit;
        const char* name;
    } flag_names[] = {
        {platform::INTERFACE_UP, "up"},
        {platform::INTERFACE_BROADCAST, "broadcast"},
        {platform::INTERFACE_MULTICAST, "multicast"},
        {platform::INTERFACE_LOOPBACK, "loopback"},
        {platform::INTERFACE_POINT_TO_POINT, "point-to-point"},
    };
    JsonLine line;
    begin_event(line, "interface");
    json_text(line, "ip", dotted(record.address).text);
    json_text(line, "mask", dotted(record.netmask).text);
    json_text(line, "broadcast", dotted(record.broadcast).text);
    json_open_array(line, "flags");
    for (const auto& flag : flag_names) {
        if (record.flags & flag.bit) json_text(line, nullptr, flag.name);
    }
    json_close_array(line);
    json_end(line, streams.out);
}

const char* mode_name(RunMode mode) {
    switch (mode) {
        case RunMode::listening: return "listening";
        case RunMode::targeted: return "targeted";
        case RunMode::firewall: return "firewall";
    }
    return "";
}

void started(const ReportStreams& streams, const StartedEvent& event) {
    JsonLine line;
    begin_event(line, "started");
    json_text(line, "interface", dotted(event.local).text);
    json_number(line, "port", event.port);
    json_text(line, "mode", mode_name(event.mode));
    if (event.mode != RunMode::listening) put_serial(line, *event.msg);
    json_end(line, streams.out);
}

void sorter(const ReportStreams& streams, const SndpCfgMsg& record, const platform::Endpoint& source) {
    JsonLine line;
    begin_event(line, "sorter");
    put_broadcast(line, record, source);
    json_end(line, streams.out);
}

void table_full(const ReportStreams& streams, int capacity) {
    TEXT_REPORT.table_full(streams, capacity);
}

void sent(const ReportStreams& streams, const SentEvent& event) {
    const SndpCfgMsg& msg = *event.msg;
    JsonLine line;
    begin_event(line, "sent");
    put_serial(line, msg);
    json_text(line, "ip", msg.ip_address);
    json_text(line, "mask", msg.subnet_mask);
    put_gateway(line, msg);
    json_bool(line, "dhcp", msg.dhcp_enabled != 0);
    json_text(line, "to", dotted(event.destination.address).text);
    json_number(line, "port", event.destination.port);
    json_number(line, "count", event.count);
    json_end(line, streams.out);
}

void target_not_heard(const ReportStreams& streams, const SndpCfgMsg& msg, int seconds) {
    JsonLine line;
    begin_event(line, "timeout");
    put_serial(line, msg);
    json_number(line, "seconds", seconds);
    json_end(line, streams.out);
    TEXT_REPORT.target_not_heard(streams, msg, seconds);
}

void listening_done(const ReportStreams& streams, int sorters, int seconds) {
    JsonLine line;
    begin_event(line, "done");
    json_number(line, "sorters", sorters);
    json_number(line, "seconds", seconds);
    json_end(line, streams.out);
}

void verifying(const ReportStreams& streams, const SndpCfgMsg& msg, int seconds) {
    TEXT_REPORT.verifying(for_a_person(streams), msg, seconds);
}

void verified(const ReportStreams& streams, const SndpCfgMsg& msg, const platform::Endpoint& source) {
    JsonLine line;
    begin_event(line, "verified");
    put_serial(line, msg);
    json_text(line, "ip", dotted(source.address).text);
    json_end(line, streams.out);
}

void not_verified(const ReportStreams& streams, const NotVerifiedEvent& event) {
    static const struct {
        unsigned bit;
        const char* name;
    } difference_names[] = {
        {DIFFERS_ADDRESS, "ip"}, {DIFFERS_MASK, "mask"}, {DIFFERS_GATEWAY, "gateway"}, {DIFFERS_DHCP, "dhcp"},
    };
    JsonLine line;
    begin_event(line, "not_verified");
    put_serial(line, *event.sent);
    json_number(line, "seconds", event.seconds);
    json_open_array(line, "differs");
    for (const auto& difference : difference_names) {
        if (event.differences & difference.bit) json_text(line, nullptr, difference.name);
    }
    json_close_array(line);
    if (event.last != nullptr) {
        json_open_object(line, "last");
        put_broadcast(line, *event.last, event.last_source);
        json_close_object(line);
    } else {
        json_null(line, "last");
    }
    json_end(line, streams.out);
    TEXT_REPORT.not_verified(streams, event);
}

void conflict(const ReportStreams& streams, const platform::Ipv4Address& address, const SndpCfgMsg& record) {
    JsonLine line;
    begin_event(line, "conflict");
    json_text(line, "ip", dotted(address).text);
    put_serial(line, record);
    json_end(line, streams.out);
    TEXT_REPORT.conflict(streams, address, record);
}

}  // namespace

const Report JSON_REPORT = {
    interface, started, sorter,       table_full,   sent,     target_not_heard,
    listening_done, verifying, verified, not_verified, conflict,
};
