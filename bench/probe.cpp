// The sorter side of the bench, run inside the plant's network namespace.
// It plays the target sorter: broadcasts its record to the tool's port and
// times the answer, and it stands at the firewall port to time the records
// of firewall mode.  One command per line on stdin, one answer per line:
//
//   ping TIMEOUT_MS     broadcast the target's record and wait for a
//                       configuration for that serial; answers "lat NS"
//                       (CLOCK_MONOTONIC, from just before the send to just
//                       after the answer is received) or "timeout"
//   send                broadcast the target's record only; answers "sent"
//   fw COUNT TIMEOUT_MS listen on the firewall port (answers "listening" once
//                       bound), take up to COUNT records or wait TIMEOUT_MS;
//                       answers "fw N", then N lines "t KERNEL_NS MONO_NS PORT"
//                       (the kernel's receive time stamp, CLOCK_REALTIME, the
//                       monotonic time the bench read it, the sender's port)
//   quit
//
//   probe DEVICE PORT SERIAL
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "peer/sndp_peer.h"

namespace {

using peer::FIREWALL_PORT;
using peer::MAGIC;
using peer::RECORD_SIZE;
using peer::SERIAL_OFFSET;
using peer::TOOL_PORT;
using peer::TYPE_BROADCAST;
using peer::TYPE_CONFIGURATION;
using peer::TYPE_OFFSET;

std::int64_t now_ns() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "probe: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void answer(const std::string& line) {
    std::cout << line << '\n' << std::flush;
}

int open_socket(const char* device, unsigned short port, bool timestamps) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) die("socket");
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) die("SO_BROADCAST");
    if (setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, device, socklen_t(std::strlen(device) + 1)) != 0) {
        die("SO_BINDTODEVICE");
    }
    if (timestamps && setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0) die("SO_TIMESTAMPNS");
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) die("bind " + std::to_string(port));
    return fd;
}

struct Probe {
    const char* device;
    int fd;
    unsigned char record[RECORD_SIZE];
    std::string serial;
};

bool is_answer(const Probe& probe, const unsigned char* data, ssize_t length) {
    return length == ssize_t(RECORD_SIZE) && std::memcmp(data, MAGIC, sizeof MAGIC) == 0 &&
           data[TYPE_OFFSET] == TYPE_CONFIGURATION &&
           std::memcmp(data + SERIAL_OFFSET, probe.serial.c_str(), probe.serial.size() + 1) == 0;
}

void drain(const Probe& probe) {
    unsigned char scratch[2048];
    while (recv(probe.fd, scratch, sizeof scratch, MSG_DONTWAIT) >= 0) {
    }
}

void send_record(const Probe& probe) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(TOOL_PORT);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    if (sendto(probe.fd, probe.record, RECORD_SIZE, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) !=
        ssize_t(RECORD_SIZE)) {
        die("sendto");
    }
}

void ping(const Probe& probe, long timeout_ms) {
    drain(probe);
    const std::int64_t sent = now_ns();
    send_record(probe);
    const std::int64_t deadline = sent + timeout_ms * 1000000LL;
    unsigned char reply[2048];
    for (;;) {
        const std::int64_t left = deadline - now_ns();
        if (left <= 0) {
            answer("timeout");
            return;
        }
        pollfd p{probe.fd, POLLIN, 0};
        if (poll(&p, 1, int(left / 1000000) + 1) <= 0) continue;
        const ssize_t length = recv(probe.fd, reply, sizeof reply, MSG_DONTWAIT);
        const std::int64_t received = now_ns();
        if (is_answer(probe, reply, length)) {
            answer("lat " + std::to_string(received - sent));
            return;
        }
    }
}

void firewall(const Probe& probe, long count, long timeout_ms) {
    const int fd = open_socket(probe.device, FIREWALL_PORT, true);
    answer("listening");
    const std::int64_t deadline = now_ns() + timeout_ms * 1000000LL;
    struct Arrival {
        std::int64_t stamp;
        std::int64_t read_at;
        unsigned port;
    };
    std::vector<Arrival> arrivals;
    unsigned char data[2048];
    alignas(cmsghdr) unsigned char control[256];
    while (long(arrivals.size()) < count) {
        const std::int64_t left = deadline - now_ns();
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, int(left / 1000000) + 1) <= 0) continue;
        iovec io{data, sizeof data};
        sockaddr_in from{};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t length = recvmsg(fd, &message, MSG_DONTWAIT);
        const std::int64_t read_at = now_ns();
        if (length != ssize_t(RECORD_SIZE)) continue;
        std::int64_t stamp = 0;
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_TIMESTAMPNS) {
                timespec t{};
                std::memcpy(&t, CMSG_DATA(header), sizeof t);
                stamp = std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
            }
        }
        arrivals.push_back(Arrival{stamp, read_at, ntohs(from.sin_port)});
    }
    close(fd);
    answer("fw " + std::to_string(arrivals.size()));
    for (const Arrival& a : arrivals) {
        answer("t " + std::to_string(a.stamp) + " " + std::to_string(a.read_at) + " " + std::to_string(a.port));
    }
}

void put_text(unsigned char* record, std::size_t offset, const char* text) {
    std::memcpy(record + offset, text, std::strlen(text));
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 4 || std::strlen(argv[3]) == 0 || std::strlen(argv[3]) >= peer::SERIAL_SIZE) {
        std::fprintf(stderr, "usage: probe DEVICE PORT SERIAL (1 to 27 characters)\n");
        return 2;
    }
    Probe probe{};
    probe.device = argv[1];
    probe.fd = open_socket(argv[1], static_cast<unsigned short>(std::atoi(argv[2])), false);
    probe.serial = argv[3];
    std::memcpy(probe.record, MAGIC, sizeof MAGIC);
    probe.record[TYPE_OFFSET] = TYPE_BROADCAST;
    put_text(probe.record, SERIAL_OFFSET, argv[3]);
    put_text(probe.record, peer::IP_OFFSET, "10.9.0.11");
    put_text(probe.record, peer::MASK_OFFSET, "255.255.255.0");
    answer("ready");
    std::string line;
    while (std::getline(std::cin, line)) {
        const std::size_t space = line.find(' ');
        const std::string command = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        if (command == "ping") {
            ping(probe, std::atol(rest.c_str()));
        } else if (command == "send") {
            send_record(probe);
            answer("sent");
        } else if (command == "fw") {
            long count = 0;
            long timeout_ms = 0;
            std::sscanf(rest.c_str(), "%ld %ld", &count, &timeout_ms);
            firewall(probe, count, timeout_ms);
        } else if (command == "quit") {
            break;
        } else {
            answer("unknown " + command);
        }
    }
    close(probe.fd);
    return 0;
}
