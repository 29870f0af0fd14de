// Baseline of the receive-cost figure: receives 128-byte datagrams on the
// socket vormcfg uses, with the same recvmsg call, and only counts them.
// It stops at the record of SERIAL (the target) and prints the count.
//
//   bare_receive DEVICE SERIAL
#include <sys/socket.h>

#include <cstdio>
#include <cstring>

#include "bare_socket.h"

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bare_receive DEVICE SERIAL\n");
        return 2;
    }
    const char* serial = argv[2];
    const std::size_t serial_length = std::strlen(serial);
    if (serial_length >= bare::SERIAL_SIZE) {
        std::fprintf(stderr, "bare_receive: serial too long\n");
        return 2;
    }
    const int fd = bare::open_bound_socket(argv[1]);
    bare::say_ready();
    unsigned char record[bare::RECORD_SIZE];
    unsigned long long records = 0;
    for (;;) {
        sockaddr_in from{};
        iovec data{record, sizeof record};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        const ssize_t length = recvmsg(fd, &message, 0);
        if (length < 0) {
            if (errno == EINTR) continue;
            bare::die("recvmsg");
        }
        ++records;
        if (length == static_cast<ssize_t>(bare::RECORD_SIZE) && bare::serial_is(record, serial, serial_length)) break;
    }
    std::printf("received %llu\n", records);
    close(fd);
    return 0;
}
