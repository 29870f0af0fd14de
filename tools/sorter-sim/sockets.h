// The UDP sockets: opening them, sending from a chosen source address, and
// receiving with the address a datagram was sent to.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstdint>
#include <unordered_set>
#include <vector>

// A non-blocking socket bound to 0.0.0.0:port, broadcast allowed, that
// reports the destination address of what it receives.
int open_socket(uint16_t port, const char* what);
uint16_t bound_port(int fd);

// Errors after which a send is simply tried again later.
bool transient_send_error(int e);

struct LocalAddr {
  uint32_t addr;  // network order
  int ifindex;
  int prefix;
};

// Every IPv4 address of the namespace, and every broadcast address.
void discover_interfaces(std::vector<LocalAddr>& locals,
                         std::unordered_set<uint32_t>& broadcasts);

// Room for the one control message that names a datagram's source.
struct SourceControl {
  alignas(cmsghdr) unsigned char buf[CMSG_SPACE(sizeof(in_pktinfo))];
};

// Fills `mh` to send `iov` to `dest` from `source` out of interface
// `ifindex`, so that a limited broadcast leaves where the sorter "is" even
// without a route for 255.255.255.255.
void sourced_message(msghdr& mh, sockaddr_in* dest, iovec* iov, SourceControl& ctl,
                     int ifindex, uint32_t source_be);

struct Arrival {
  sockaddr_in from;
  uint32_t to;  // destination address, network order; 0 if not reported
  int ifindex;
};

// One recvmsg(MSG_TRUNC): the datagram's full size, or -1 with errno set.
ssize_t receive_datagram(int fd, unsigned char* buf, size_t len, Arrival& arrival);
