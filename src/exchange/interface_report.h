// The verbose report of the workstation's IPv4 interfaces, so that the user
// can pick the address to pass to -b.
#pragma once

#include <cstdio>

#include "exchange/interface_list.h"
#include "exchange/report.h"
#include "platform/platform.h"

// Writes the heading to the error stream, queries the list and reports each
// interface. False when the query failed; the caller reports it with
// platform::last_error().
bool list_interfaces(platform::UdpSocket* socket, const Report& report, const ReportStreams& streams);

void report_interfaces(const InterfaceList& list, const Report& report, const ReportStreams& streams);

// The text form of one interface: its addresses, then its flags.
void print_interface_block(const InterfaceRecord& record, std::FILE* out);
