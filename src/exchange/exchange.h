// The tool's main flow: parse the command line, open and bind the socket,
// announce the sorters heard, answer the target, print what was sent and,
// when asked, wait for the target to come back with it.
#pragma once

#include <cstdio>

constexpr int EXIT_STATUS_SUCCESS = 0;
constexpr int EXIT_STATUS_NETWORK_FAILURE = 1;
constexpr int EXIT_STATUS_USAGE = 2;
// The target was not heard within -t, or did not come back with its new
// configuration within -w.
constexpr int EXIT_STATUS_TIMED_OUT = 3;

constexpr unsigned short SNDP_LISTEN_PORT = 50003;
constexpr unsigned short SNDP_SORTER_PORT = 50004;
constexpr int FIREWALL_SEND_COUNT = 40;
constexpr unsigned FIREWALL_SEND_INTERVAL_MS = 250;

// Returns the process exit status.
int run_exchange(int argc, char* argv[], std::FILE* out, std::FILE* err);
