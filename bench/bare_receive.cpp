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
    const char* serial = bare::target_serial(argc, argv, "bare_receive");
    const std::size_t serial_length = std::strlen(serial);
    const int fd = bare::open_bound_socket(argv[1]);
    bare::say_ready();
    unsigned char record[bare::RECORD_SIZE];
    sockaddr_in from{};
    unsigned long long records = 0;
    for (;;) {
        const ssize_t length = bare::receive(fd, record, &from);
        ++records;
        if (length == static_cast<ssize_t>(bare::RECORD_SIZE) && bare::serial_is(record, serial, serial_length)) break;
    }
    std::printf("received %llu\n", records);
    close(fd);
    return 0;
}
