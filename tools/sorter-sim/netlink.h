// Interface addresses, changed over rtnetlink: a restarted sorter really
// sends from its new address.  Each call returns 0 or an errno value.
#pragma once

#include <cstdint>

// addr/prefix with its subnet's broadcast address, on interface ifindex.
// EEXIST when the interface has the address already.
int add_address(int ifindex, uint32_t addr_be, int prefix);
int remove_address(int ifindex, uint32_t addr_be);
// Removing a subnet's first (primary) address would take the other
// addresses of that subnet on the interface with it, unless the interface
// promotes them instead.
int promote_secondaries(int ifindex);
