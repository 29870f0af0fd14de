// Which local address the tool binds when -b does not say.
#pragma once

#include "cli/command_line.h"
#include "platform/platform.h"

// -b's address when given; otherwise the host name's first non-loopback
// address; when the name yields only loopback (as a Debian host name does)
// or does not resolve, the first up, non-loopback interface; failing that a
// loopback address the name gave. False when there is nothing to bind.
bool choose_local_address(const RunOptions& run, platform::UdpSocket* socket, platform::Ipv4Address* chosen);
