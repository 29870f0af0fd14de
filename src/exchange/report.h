// What a run tells its user. The driver says what happened, one call per
// event; how that is shown is a table of these functions, one file per form
// (text for a person in text_report.cpp). Failure lines are the driver's own.
#pragma once

#include <cstdint>
#include <cstdio>

#include "exchange/interface_list.h"
#include "platform/platform.h"
#include "protocol/sndp_msg.h"

enum class RunMode { listening, targeted, firewall };

struct ReportStreams {
    std::FILE* out;
    std::FILE* err;
    bool verbose;
};

struct StartedEvent {
    platform::Ipv4Address local;
    std::uint16_t port;
    RunMode mode;
    const SndpCfgMsg* msg;  // the outgoing record: its serial names the target
};

struct SentEvent {
    const SndpCfgMsg* msg;
    platform::Endpoint destination;
    int count;
};

// The settings a sorter broadcasts differently from what was sent to it.
enum Difference : unsigned {
    DIFFERS_ADDRESS = 1u << 0,
    DIFFERS_MASK = 1u << 1,
    DIFFERS_GATEWAY = 1u << 2,
    DIFFERS_DHCP = 1u << 3,
};

struct NotVerifiedEvent {
    const SndpCfgMsg* sent;
    int seconds;
    const SndpCfgMsg* last;  // what the target last broadcast after the reply; null when not heard
    platform::Endpoint last_source;
    unsigned differences;  // Difference bits
};

struct Report {
    void (*interface)(const ReportStreams&, const InterfaceRecord&);
    void (*started)(const ReportStreams&, const StartedEvent&);
    void (*sorter)(const ReportStreams&, const SndpCfgMsg& record, const platform::Endpoint& source);
    void (*table_full)(const ReportStreams&, int capacity);
    void (*sent)(const ReportStreams&, const SentEvent&);
    void (*target_not_heard)(const ReportStreams&, const SndpCfgMsg& msg, int seconds);
    void (*listening_done)(const ReportStreams&, int sorters, int seconds);
    void (*verifying)(const ReportStreams&, const SndpCfgMsg& msg, int seconds);
    void (*verified)(const ReportStreams&, const SndpCfgMsg& msg, const platform::Endpoint& source);
    void (*not_verified)(const ReportStreams&, const NotVerifiedEvent&);
    void (*conflict)(const ReportStreams&, const platform::Ipv4Address& address, const SndpCfgMsg& record);
};

extern const Report TEXT_REPORT;
// One JSON object per line on the output stream; the error stream keeps the
// text form's lines for a person watching.
extern const Report JSON_REPORT;
