// sorter-sim: a stand-in for one or many networked sorters, so that vormcfg
// can be exercised end to end without hardware.  It is an independent peer
// of the tool and shares no code with it.  Output is one JSON object per
// line on stdout.
//
//   options.cpp    the command line: one table of options and their help
//   record.cpp     the 128-byte record: its layout, building and reading it
//   events.cpp     the JSON-line writer
//   malformed.cpp  the bytes of each kind of malformed datagram
//   sockets.cpp    UDP sockets, source addresses, the namespace's interfaces
//   netns_guard.cpp  the refusal to run in the machine's own namespace
//   sim.cpp        the sorters' state and the loop; broadcast.cpp sends,
//                  receive.cpp takes configurations, restart.cpp restarts
//   settings.cpp   what a configuration makes of a sorter's settings
//   netlink.cpp    adding and removing interface addresses
#include <cstdio>

#include "netns_guard.h"
#include "options.h"
#include "sim.h"

int main(int argc, char** argv) {
  Options o = parse_args(argc, argv);
  // Before any socket: not even the interface list is read in the wrong
  // namespace.
  std::string refusal = machine_namespace_refusal();
  if (!refusal.empty()) {
    std::fprintf(stderr, "sorter-sim: %s\n", refusal.c_str());
    return 2;
  }
  Sim sim(std::move(o));
  return sim.run();
}
