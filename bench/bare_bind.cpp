// Baseline of the start-up figure: opens and binds the socket vormcfg
// binds, says so with the tool's ready line, then waits to be stopped.
//
//   bare_bind DEVICE
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "bare_socket.h"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bare_bind DEVICE\n");
        return 2;
    }
    const int fd = bare::open_bound_socket(argv[1]);
    bare::say_ready();
    pause();  // SIGTERM ends it
    close(fd);
    return 0;
}
