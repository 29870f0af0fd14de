// Baseline of the firewall-mode figure: 40 records to ADDR:50004, 250 ms
// apart, each send due at a fixed time from the first (clock_nanosleep to an
// absolute CLOCK_MONOTONIC deadline), then the last 250 ms pause; so its
// intervals show only what the machine's timers and scheduler add.
//
//   bare_firewall DEVICE LOCAL_PORT ADDR
#include <arpa/inet.h>
#include <sys/socket.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bare_socket.h"

namespace {

constexpr int SENDS = 40;
constexpr long INTERVAL_NS = 250000000L;

timespec after(timespec start, long long ns) {
    const long long total = (long long)start.tv_nsec + ns;
    start.tv_sec += time_t(total / 1000000000LL);
    start.tv_nsec = long(total % 1000000000LL);
    return start;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bare_firewall DEVICE LOCAL_PORT ADDR\n");
        return 2;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) bare::die("socket");
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) bare::die("SO_BROADCAST");
    if (setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, argv[1], socklen_t(std::strlen(argv[1]) + 1)) != 0) {
        bare::die("SO_BINDTODEVICE");
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<unsigned short>(std::atoi(argv[2])));
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) bare::die("bind");
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(peer::FIREWALL_PORT);
    if (inet_pton(AF_INET, argv[3], &to.sin_addr) != 1) {
        std::fprintf(stderr, "bare_firewall: bad address %s\n", argv[3]);
        return 2;
    }
    unsigned char record[bare::RECORD_SIZE] = {};
    std::memcpy(record, peer::MAGIC, sizeof peer::MAGIC);
    record[peer::TYPE_OFFSET] = peer::TYPE_CONFIGURATION;
    bare::say_ready();
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (int i = 0; i < SENDS; ++i) {
        const timespec due = after(start, (long long)i * INTERVAL_NS);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
        }
        if (sendto(fd, record, sizeof record, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) !=
            ssize_t(sizeof record)) {
            bare::die("sendto");
        }
    }
    const timespec end = after(start, (long long)SENDS * INTERVAL_NS);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &end, nullptr) == EINTR) {
    }
    close(fd);
    return 0;
}
