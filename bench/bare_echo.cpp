// Baseline of the reply-latency figure: waits on vormcfg's socket for the
// record of SERIAL and sends one 128-byte record back to the limited
// broadcast address at the sender's port, as vormcfg answers; then ends.
// Records of other serials are received and passed over.
//
//   bare_echo DEVICE SERIAL
#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>

#include "bare_socket.h"

int main(int argc, char* argv[]) {
    const char* serial = bare::target_serial(argc, argv, "bare_echo");
    const std::size_t serial_length = std::strlen(serial);
    const int fd = bare::open_bound_socket(argv[1]);
    bare::say_ready();
    unsigned char record[bare::RECORD_SIZE];
    sockaddr_in from{};
    for (;;) {
        const ssize_t length = bare::receive(fd, record, &from);
        if (length == static_cast<ssize_t>(bare::RECORD_SIZE) && bare::serial_is(record, serial, serial_length)) break;
    }
    record[peer::TYPE_OFFSET] = peer::TYPE_CONFIGURATION;  // so that the probe takes it for the tool's
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = from.sin_port;
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    if (sendto(fd, record, sizeof record, MSG_DONTROUTE, reinterpret_cast<const sockaddr*>(&to), sizeof to) !=
        static_cast<ssize_t>(sizeof record)) {
        bare::die("sendto");
    }
    close(fd);
    return 0;
}
