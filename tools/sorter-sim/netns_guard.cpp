#include "netns_guard.h"

#include <fcntl.h>
#include <linux/nsfs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// The inode of the initial user namespace is fixed (PROC_USER_INIT_INO).
constexpr ino_t kInitialUserNsInode = 0xEFFFFFFD;
constexpr unsigned long kKernelThreadFlag = 0x00200000;  // PF_KTHREAD

struct NsId {
  dev_t dev;
  ino_t ino;
  bool operator==(const NsId& o) const { return dev == o.dev && ino == o.ino; }
};

bool ns_id(const char* path, NsId& id, std::string& why) {
  struct stat st;
  if (stat(path, &st) < 0) {
    why = std::string(path) + ": " + std::strerror(errno);
    return false;
  }
  id = NsId{st.st_dev, st.st_ino};
  return true;
}

// A network namespace owned by a user namespace other than the initial one
// was made after boot, so it cannot be the machine's own.
bool owned_by_later_user_namespace() {
  int net = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
  if (net < 0) return false;
  int owner = ioctl(net, NS_GET_USERNS);
  close(net);
  if (owner < 0) return false;  // owned outside our reach, or an old kernel
  struct stat st;
  bool later = fstat(owner, &st) == 0 && st.st_ino != kInitialUserNsInode;
  close(owner);
  return later;
}

std::string read_small_file(const char* path) {
  char buf[512];
  FILE* f = std::fopen(path, "re");
  if (!f) return std::string();
  size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  return std::string(buf, n);
}

// The kernel's flags of a process: the seventh field after the name in
// /proc/PID/stat (the name is in parentheses and may hold anything).
bool kernel_thread(const char* stat_path) {
  std::string stat = read_small_file(stat_path);
  size_t p = stat.rfind(')');
  if (p == std::string::npos) return false;
  unsigned long flags = 0;
  char state;
  int ppid, pgrp, session, tty, tpgid;
  return std::sscanf(stat.c_str() + p + 1, " %c %d %d %d %d %d %lu", &state, &ppid,
                     &pgrp, &session, &tty, &tpgid, &flags) == 7 &&
         (flags & kKernelThreadFlag) != 0;
}

// Kernel threads live in the initial network namespace: where PID 1 cannot
// be inspected, kthreadd (PID 2) shows the machine's namespace.
bool kthreadd_namespace(NsId& id, std::string& why) {
  if (read_small_file("/proc/2/comm") != "kthreadd\n" || !kernel_thread("/proc/2/stat")) {
    why = "PID 2 is not kthreadd";
    return false;
  }
  return ns_id("/proc/2/ns/net", id, why);
}

const char kWhereToRun[] =
    "; run it in a network namespace made for testing (ip netns exec, unshare --net)";

}  // namespace

std::string machine_namespace_refusal() {
  std::string why_self, why_init, why_kthreadd;
  NsId self, machine;
  if (!ns_id("/proc/self/ns/net", self, why_self))
    return "refusing to run: cannot tell which network namespace this is (" + why_self +
           ")" + kWhereToRun;
  if (owned_by_later_user_namespace()) return std::string();
  if (ns_id("/proc/1/ns/net", machine, why_init) ||
      kthreadd_namespace(machine, why_kthreadd)) {
    if (!(self == machine)) return std::string();
    return std::string("refusing to run in the network namespace of PID 1, normally the "
                       "machine's own: a simulated fleet must never broadcast on a real network") +
           kWhereToRun;
  }
  return "refusing to run: cannot tell whether this is the network namespace of PID 1 (" +
         why_init + "; " + why_kthreadd + ")" + kWhereToRun;
}
