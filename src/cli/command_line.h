// The command line: options into the outgoing record and the run settings.
#pragma once

#include <cstdint>
#include <cstdio>

#include "protocol/sndp_msg.h"

struct RunOptions {
    bool verbose;
    bool firewall_mode;
    bool json;  // one JSON object per line on standard output instead of text
    // As typed with -b and -r; a first number of 0 means not given.
    std::int32_t bind_octets[4];
    std::int32_t remote_octets[4];
    // 0 when not given: wait for the target without end, and end after the summary.
    int timeout_seconds;
    int verify_seconds;
};

// The address -b or -r names: the low 8 bits of each number, in order.
platform::Ipv4Address address_from_octets(const std::int32_t octets[4]);

enum class ParseOutcome {
    run,          // the command line is usable
    help,         // -h or -?: the usage text, then a successful end
    usage_error,  // the usage text, then the usage-error exit status
};

constexpr const char* OPTION_STRING = "?hfvjs:i:g:u:d:b:r:t:w:";
constexpr int LONGEST_WAIT_SECONDS = 86400;

// Zero-fills `msg` and writes every option into it and into `run`. The
// caller sets `firewall_mode` false and the octets to 0 beforehand. Lines
// that explain a bad value go to `err` as they are found; settings that no
// network accepts (an address in no subnet, a gateway outside the subnet)
// are refused like any other bad value.
ParseOutcome parse_arguments(int argc, char* const argv[], SndpCfgMsg& msg, RunOptions& run, std::FILE* err);

void print_usage(std::FILE* err);
