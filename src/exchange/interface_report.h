// The verbose report of the workstation's IPv4 interfaces, so that the user
// can pick the address to pass to -b.
#pragma once

#include <cstdio>

#include "exchange/interface_list.h"
#include "platform/platform.h"

// Writes the heading to `err`, queries the list and writes one block per
// interface to `out`. False when the query failed; the caller reports it
// with platform::last_error().
bool list_interfaces(platform::UdpSocket* socket, std::FILE* out, std::FILE* err);

void print_interface_blocks(const InterfaceList& list, std::FILE* out);
