// The socket every bare baseline uses, set up as vormcfg sets up its own on
// Linux: a UDP socket with SO_BROADCAST, tied to one interface with
// SO_BINDTODEVICE and bound to the wildcard address at the tool's port, so
// that it hears that interface's broadcasts.  Nothing else: the baselines
// show what the system costs, and the tool is measured against them.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "peer/sndp_peer.h"

namespace bare {

using peer::RECORD_SIZE;
constexpr const char READY_LINE[] = "Press CTRL + C to quit\n";

[[noreturn]] inline void die(const char* what) {
    std::fprintf(stderr, "%s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

inline int open_bound_socket(const char* device) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) die("socket");
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) die("SO_BROADCAST");
    if (setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, device, static_cast<socklen_t>(std::strlen(device) + 1)) != 0) {
        die("SO_BINDTODEVICE");
    }
    sockaddr_in wildcard{};
    wildcard.sin_family = AF_INET;
    wildcard.sin_port = htons(peer::TOOL_PORT);
    wildcard.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&wildcard), sizeof wildcard) != 0) die("bind");
    return fd;
}

// The ready line goes out the way the tool writes it: one write, at once.
inline void say_ready() {
    std::fputs(READY_LINE, stdout);
    std::fflush(stdout);
}

// The serial field of a received record, compared with `serial` as the
// tool compares it (text up to its NUL).
inline bool serial_is(const unsigned char* record, const char* serial, std::size_t serial_length) {
    return std::memcmp(record + peer::SERIAL_OFFSET, serial, serial_length) == 0 &&
           record[peer::SERIAL_OFFSET + serial_length] == 0;
}

// The target serial from `bare_<name> DEVICE SERIAL`; ends the program
// with a usage line when the arguments do not fit.
inline const char* target_serial(int argc, char* argv[], const char* name) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DEVICE SERIAL\n", name);
        std::exit(2);
    }
    if (std::strlen(argv[2]) >= peer::SERIAL_SIZE) {
        std::fprintf(stderr, "%s: serial too long\n", name);
        std::exit(2);
    }
    return argv[2];
}

// One datagram into `record` with the same recvmsg call the tool makes;
// its length, and its source in `from`.
inline ssize_t receive(int fd, unsigned char (&record)[RECORD_SIZE], sockaddr_in* from) {
    for (;;) {
        iovec data{record, sizeof record};
        msghdr message{};
        message.msg_name = from;
        message.msg_namelen = sizeof *from;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        const ssize_t length = recvmsg(fd, &message, 0);
        if (length >= 0) return length;
        if (errno != EINTR) die("recvmsg");
    }
}

}  // namespace bare
