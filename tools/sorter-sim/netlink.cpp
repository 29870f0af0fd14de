#include "netlink.h"

#include <linux/if_link.h>
#include <linux/ip.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "settings.h"

namespace {

// One request: the netlink header, the family's header, then attributes.
struct Request {
  alignas(nlmsghdr) unsigned char buf[256];

  Request(uint16_t type, uint16_t flags) {
    std::memset(buf, 0, sizeof buf);
    header()->nlmsg_len = NLMSG_LENGTH(0);
    header()->nlmsg_type = type;
    header()->nlmsg_flags = uint16_t(NLM_F_REQUEST | NLM_F_ACK | flags);
    header()->nlmsg_seq = 1;
  }
  nlmsghdr* header() { return reinterpret_cast<nlmsghdr*>(buf); }
  unsigned char* tail() { return buf + NLMSG_ALIGN(header()->nlmsg_len); }

  void* append(size_t len) {
    void* at = tail();
    header()->nlmsg_len = uint32_t(NLMSG_ALIGN(header()->nlmsg_len) + len);
    return at;
  }
  // An attribute; a nested one is closed with end_nest().
  rtattr* attribute(uint16_t type, const void* data, size_t len) {
    rtattr* a = static_cast<rtattr*>(append(RTA_LENGTH(len)));
    a->rta_type = type;
    a->rta_len = uint16_t(RTA_LENGTH(len));
    if (len) std::memcpy(RTA_DATA(a), data, len);
    return a;
  }
  void end_nest(rtattr* nest) {
    nest->rta_len = uint16_t(tail() - reinterpret_cast<unsigned char*>(nest));
  }
};

// Sends the request and reads the kernel's acknowledgement.
int transact(Request& req) {
  int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return errno;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  int err = 0;
  if (sendto(fd, req.buf, req.header()->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
             sizeof kernel) < 0) {
    err = errno;
  } else {
    alignas(nlmsghdr) unsigned char reply[1024];
    ssize_t n = recv(fd, reply, sizeof reply, 0);
    const nlmsghdr* h = reinterpret_cast<const nlmsghdr*>(reply);
    if (n < 0)
      err = errno;
    else if (n < ssize_t(NLMSG_LENGTH(sizeof(nlmsgerr))) || h->nlmsg_type != NLMSG_ERROR)
      err = EPROTO;
    else
      err = -static_cast<const nlmsgerr*>(NLMSG_DATA(h))->error;
  }
  close(fd);
  return err;
}

ifaddrmsg* address_header(Request& req, int ifindex, int prefix) {
  ifaddrmsg* ifa = static_cast<ifaddrmsg*>(req.append(sizeof(ifaddrmsg)));
  ifa->ifa_family = AF_INET;
  ifa->ifa_prefixlen = uint8_t(prefix);
  ifa->ifa_scope = RT_SCOPE_UNIVERSE;
  ifa->ifa_index = unsigned(ifindex);
  return ifa;
}

}  // namespace

int add_address(int ifindex, uint32_t addr_be, int prefix) {
  Request req(RTM_NEWADDR, NLM_F_CREATE | NLM_F_EXCL);
  address_header(req, ifindex, prefix);
  req.attribute(IFA_LOCAL, &addr_be, 4);
  req.attribute(IFA_ADDRESS, &addr_be, 4);
  uint32_t broadcast = broadcast_of(addr_be, prefix);
  if (broadcast != 0) req.attribute(IFA_BROADCAST, &broadcast, 4);
  return transact(req);
}

int remove_address(int ifindex, uint32_t addr_be) {
  Request req(RTM_DELADDR, 0);
  address_header(req, ifindex, 0);
  req.attribute(IFA_LOCAL, &addr_be, 4);
  return transact(req);
}

int promote_secondaries(int ifindex) {
  Request req(RTM_SETLINK, 0);
  ifinfomsg* ifi = static_cast<ifinfomsg*>(req.append(sizeof(ifinfomsg)));
  ifi->ifi_family = AF_UNSPEC;
  ifi->ifi_index = ifindex;
  rtattr* af_spec = req.attribute(IFLA_AF_SPEC, nullptr, 0);
  rtattr* inet = req.attribute(AF_INET, nullptr, 0);
  rtattr* conf = req.attribute(IFLA_INET_CONF, nullptr, 0);
  uint32_t on = 1;
  req.attribute(IPV4_DEVCONF_PROMOTE_SECONDARIES, &on, 4);
  req.end_nest(conf);
  req.end_nest(inet);
  req.end_nest(af_spec);
  return transact(req);
}
