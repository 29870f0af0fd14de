// sorter-sim broadcasts, and the package installs it in /usr/bin: it must
// never run in the machine's own network namespace, where a simulated fleet
// would broadcast on a plant's real network.
#pragma once

#include <string>

// Empty when this process runs in a network namespace that is certainly not
// the one of PID 1; otherwise the reason to refuse, as one line.  Opens no
// socket.
std::string machine_namespace_refusal();
