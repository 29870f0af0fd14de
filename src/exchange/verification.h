// Whether a sorter's broadcast shows the configuration the tool sent it.
#pragma once

#include "platform/platform.h"
#include "protocol/sndp_msg.h"

// The Difference bits (exchange/report.h) of what `heard`, broadcast from
// `source`, shows unlike `sent`; 0 when it shows the whole configuration.
// The DHCP flag always counts. With DHCP off so do the address (the source
// of the broadcast, when -i gave one), the mask text (when -u gave one) and
// the gateway (when -g gave one that is not 0). With DHCP on the address is
// leased, so only the flag counts.
unsigned differences_from_sent(const SndpCfgMsg& sent, const SndpCfgMsg& heard, const platform::Ipv4Address& source);

// The fixed address `sent` assigns; false when it assigns none (DHCP on, or no -i).
bool assigned_address(const SndpCfgMsg& sent, platform::Ipv4Address* address);
