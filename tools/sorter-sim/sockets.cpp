#include "sockets.h"

#include <ifaddrs.h>
#include <net/if.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "settings.h"
#include "util.h"

namespace {

void enable(int fd, int level, int option, const char* name) {
  int one = 1;
  if (setsockopt(fd, level, option, &one, sizeof one) < 0)
    sys_error(std::string("setsockopt ") + name);
}

uint32_t in_addr_of(const sockaddr* sa) {
  return reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr;
}

}  // namespace

int open_socket(uint16_t port, const char* what) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) sys_error("socket");
  enable(fd, SOL_SOCKET, SO_REUSEADDR, "SO_REUSEADDR");
  enable(fd, SOL_SOCKET, SO_BROADCAST, "SO_BROADCAST");
  enable(fd, IPPROTO_IP, IP_PKTINFO, "IP_PKTINFO");
  // A vormcfg flood test may send faster than we drain; a larger buffer
  // only makes drops less likely, so failure here is not an error.
  int rcv = 1 << 22;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcv, sizeof rcv);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_ANY);
  sa.sin_port = htons(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0)
    sys_error(std::string("bind 0.0.0.0:") + std::to_string(port) + " (" + what + ")");
  return fd;
}

uint16_t bound_port(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) < 0)
    sys_error("getsockname");
  return ntohs(sa.sin_port);
}

bool transient_send_error(int e) {
  return e == EAGAIN || e == EWOULDBLOCK || e == ENOBUFS || e == EINTR ||
         e == ECONNREFUSED;
}

void discover_interfaces(std::vector<LocalAddr>& locals,
                         std::unordered_set<uint32_t>& broadcasts) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) < 0) sys_error("getifaddrs");
  for (ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
    if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET) continue;
    // IPv4 aliases come back labelled "eth0:1"; the index belongs to "eth0".
    std::string name = ifa->ifa_name;
    size_t colon = name.find(':');
    if (colon != std::string::npos) name.resize(colon);
    unsigned idx = if_nametoindex(name.c_str());
    if (idx == 0) continue;
    int prefix = ifa->ifa_netmask ? prefix_length(in_addr_of(ifa->ifa_netmask)) : 32;
    locals.push_back({in_addr_of(ifa->ifa_addr), int(idx), prefix});
    if ((ifa->ifa_flags & IFF_BROADCAST) && ifa->ifa_broadaddr &&
        ifa->ifa_broadaddr->sa_family == AF_INET)
      broadcasts.insert(in_addr_of(ifa->ifa_broadaddr));
  }
  freeifaddrs(list);
}

void sourced_message(msghdr& mh, sockaddr_in* dest, iovec* iov, SourceControl& ctl,
                     int ifindex, uint32_t source_be) {
  std::memset(ctl.buf, 0, sizeof ctl.buf);
  mh = msghdr{};
  mh.msg_name = dest;
  mh.msg_namelen = sizeof *dest;
  mh.msg_iov = iov;
  mh.msg_iovlen = 1;
  mh.msg_control = ctl.buf;
  mh.msg_controllen = sizeof ctl.buf;
  cmsghdr* cm = CMSG_FIRSTHDR(&mh);
  cm->cmsg_level = IPPROTO_IP;
  cm->cmsg_type = IP_PKTINFO;
  cm->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
  // Interface, local (source) address, and the header destination, which
  // the kernel ignores when sending.
  const in_pktinfo pi{ifindex, in_addr{source_be}, in_addr{0}};
  std::memcpy(CMSG_DATA(cm), &pi, sizeof pi);
}

ssize_t receive_datagram(int fd, unsigned char* buf, size_t len, Arrival& arrival) {
  arrival = Arrival{};
  iovec iov{buf, len};
  alignas(cmsghdr) unsigned char cbuf[256];
  msghdr mh{};
  mh.msg_name = &arrival.from;
  mh.msg_namelen = sizeof arrival.from;
  mh.msg_iov = &iov;
  mh.msg_iovlen = 1;
  mh.msg_control = cbuf;
  mh.msg_controllen = sizeof cbuf;
  ssize_t n = recvmsg(fd, &mh, MSG_TRUNC);
  if (n < 0) return n;
  for (cmsghdr* cm = CMSG_FIRSTHDR(&mh); cm; cm = CMSG_NXTHDR(&mh, cm)) {
    if (cm->cmsg_level == IPPROTO_IP && cm->cmsg_type == IP_PKTINFO) {
      in_pktinfo pi;
      std::memcpy(&pi, CMSG_DATA(cm), sizeof pi);
      arrival.to = pi.ipi_addr.s_addr;
      arrival.ifindex = pi.ipi_ifindex;
    }
  }
  return n;
}
