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
//   sim.cpp        the sorters' state and the loop; broadcast.cpp sends,
//                  receive.cpp takes configurations
#include "options.h"
#include "sim.h"

int main(int argc, char** argv) {
  Options o = parse_args(argc, argv);
  Sim sim(std::move(o));
  return sim.run();
}
