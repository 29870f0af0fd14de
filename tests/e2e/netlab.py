"""Network lab for the vormcfg end-to-end tests.

Every test builds its own small network out of network namespaces joined by
veth pairs, and runs vormcfg, sorter-sim and the helpers of nstools.py inside
them.  Nothing the tests start ever runs in the namespace the harness itself
runs in: processes are started only by Netns.start()/run(), which go through
nsenter into a namespace this harness created, and nsguard.py checks the
namespace inode once inside before it execs the program.

Address plan (private test addresses, used only inside the lab):

    ws  10.9.0.1/24  <-> plantA 10.9.0.11/24 (and 10.9.0.12 where asked)
    ws  10.8.0.1/24  <-> plantB 10.8.0.11/24 (where a second interface is needed)

As root the namespaces are made with `ip netns add`.  As another user the
test module re-executes itself under `unshare -rnm` (a user namespace that maps
the user to root, with private network and mount namespaces) and mounts a
tmpfs over /run/netns; where that is impossible it prints "SKIP: ..." and
exits 77, which CTest reports as skipped.

Environment: VORMCFG and SORTER_SIM name the binaries under test.

With VORMCFG_WINE=1, VORMCFG is the Windows build (vormcfg.exe) and runs
under Wine, in the prefix WINEPREFIX names (made beforehand, as
scripts/test-windows does).  Wine keeps a program's sockets in its
wineserver, not in the program: a wine run that joined a running wineserver
of another namespace would open the tool's socket there.  A wine run finds
its wineserver through a socket under /tmp, named in the prefix (Debian) or
after the user (upstream Wine).  So every tool run gets a mount namespace of
its own with an empty private /tmp and the prefix under a private overlay
that has forgotten any earlier server: it can only start a wineserver of its
own, from inside the lab namespace.  Besides, no lab is made, or closed
without complaint, while a wineserver runs in a namespace that is not a lab
namespace; test_netlab checks where the tool's socket and its holders live.
The expectations that differ under Wine are named below (WINE, the error
numbers) and in the test modules.
"""
import atexit
import ipaddress
import json
import os
import queue
import re
import secrets
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

# The record layout and the other peers the tests share with the bench and the soak.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "peer"))
import cfgrecord

HERE = os.path.dirname(os.path.abspath(__file__))
GUARD = os.path.join(HERE, "nsguard.py")
NSTOOLS = os.path.join(HERE, "nstools.py")
NETNS_DIR = "/run/netns"
SKIP_CODE = 77
PREFIX = "vcf-"

WS_A, PLANT_A, PLANT_A2, BCAST_A = "10.9.0.1", "10.9.0.11", "10.9.0.12", "10.9.0.255"
WS_B, PLANT_B, BCAST_B = "10.8.0.1", "10.8.0.11", "10.8.0.255"
LIMITED_BCAST = "255.255.255.255"
# The tool runs in a time zone far from UTC, so a record stamped with local
# time instead of UTC shows.
TOOL_TZ = "VCF-05:30"
TOOL_PORT = 50003
SIM_PORT = 50010
FIREWALL_PORT = 50004

# The tool under test is the Windows build, run by Wine.
WINE = os.environ.get("VORMCFG_WINE") == "1"
# The error numbers of the tool's failure lines: Winsock's on Windows, errno
# elsewhere.
E_ADDRESS_IN_USE = 10048 if WINE else 98           # WSAEADDRINUSE / EADDRINUSE
E_ADDRESS_NOT_AVAILABLE = 10049 if WINE else 99    # WSAEADDRNOTAVAIL / EADDRNOTAVAIL
E_INTERFACE_LIST_FULL = 10014 if WINE else 105     # WSAEFAULT / ENOBUFS

_USERNS_ENV = "VCF_E2E_USERNS"
_OUTER_NETNS_ENV = "VCF_E2E_OUTER_NETNS"

# The binaries under test, from the environment: {"VORMCFG": path, "SORTER_SIM": path}.
BIN = {}
# Network namespace inodes no lab process may ever run in.
FORBIDDEN_NETNS = set()
_live_labs = []
_prepared = False


def tool_command(args):
    """The command that runs vormcfg with `args`: VORMCFG_RUNNER, when set,
    goes in front (for example a memory checker); under Wine, Wine with a
    wineserver of the run's own."""
    runner = shlex.split(os.environ.get("VORMCFG_RUNNER", ""))
    return runner + _wine_command() + [BIN["VORMCFG"]] + [str(a) for a in args]


# Run as `sh -c SCRIPT name PREFIX WINE PROGRAM_DIR PROGRAM ARGS...` in a mount namespace
# of the run's own: a private /tmp holds whatever wineserver the run starts,
# and the prefix's record of a running server (and any registry the run
# saves) goes to a private overlay.  The session's own processes (wineserver,
# services) keep the stderr of the run that starts them and outlive it by
# seconds: a first program with its output on /dev/null starts them, so that
# the tool's pipes close when the tool ends.
_WINE_PRIVATE_SERVER = """
prefix=$1 wine=$2 program_dir=$3
shift 3
exec 9</tmp &&
mount -t tmpfs -o mode=1777 vcf-wine-tmp /tmp || exit 125
# The prefix and the program may live under the real /tmp (a checkout
# there): those two folders come back into the private one.
for keep in "$prefix" "$program_dir"; do
    case $keep in
        /tmp/*) mkdir -p "$keep" && mount --no-canonicalize --bind "/proc/self/fd/9/${keep#/tmp/}" "$keep" || exit 125 ;;
    esac
done
exec 9<&-
cd / &&
mkdir /tmp/.prefix-changes /tmp/.prefix-work &&
mount -t overlay -o "lowerdir=$prefix,upperdir=/tmp/.prefix-changes,workdir=/tmp/.prefix-work" \
    vcf-wineprefix "$prefix" &&
rm -f "$prefix/wineserver" || exit 125
export WINEPREFIX="$prefix" WINEDEBUG=-all
"$wine" cmd /c exit </dev/null >/dev/null 2>&1 || {
    echo "wine-private-server: no Wine session in $prefix" >&2
    exit 125
}
exec "$wine" "$@"
"""


def _wine_command():
    if not WINE:
        return []
    return (["unshare", "--mount", "--propagation", "private", "--", "sh", "-c",
             _WINE_PRIVATE_SERVER, "wine-private-server", BIN["WINEPREFIX"], BIN["WINE"],
             os.path.dirname(BIN["VORMCFG"])])


def wineservers():
    """{pid: network namespace inode} of every wineserver on the machine."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % entry) as f:
                if not f.read().startswith("wineserver"):
                    continue
            found[int(entry)] = _netns_inode("/proc/%s/ns/net" % entry)
        except OSError:
            continue  # ended meanwhile, or a zombie
    return found


def _wineservers_outside_labs():
    return sorted(pid for pid, inode in wineservers().items() if inode in FORBIDDEN_NETNS)


def _check_wine():
    wine = shutil.which("wine")
    if wine is None:
        raise SystemExit("VORMCFG_WINE=1 but there is no wine (Debian: wine, wine64)")
    prefix = os.path.abspath(os.environ.get("WINEPREFIX", ""))
    if not os.path.isfile(os.path.join(prefix, "system.reg")):
        raise SystemExit("VORMCFG_WINE=1 needs WINEPREFIX naming a prepared Wine prefix "
                         "(scripts/test-windows makes one); WINEPREFIX=%r"
                         % os.environ.get("WINEPREFIX"))
    for what, path in (("WINEPREFIX", prefix), ("VORMCFG", BIN["VORMCFG"])):
        if path == "/tmp" or re.search(r"[,:\\]", path):
            raise SystemExit("%s=%s: a wine run takes the prefix as an overlay and brings "
                             "both back into a private /tmp, so neither may be /tmp itself "
                             "or hold ',' ':' '\\'" % (what, path))
    stray = _wineservers_outside_labs()
    if stray:
        raise SystemExit("wineserver running outside the lab namespaces (pid %s): a wine run "
                         "could open its sockets there; stop it first (wineserver -k)"
                         % ", ".join(map(str, stray)))
    return wine


def _netns_inode(path="/proc/self/ns/net"):
    return os.stat(path).st_ino


def skip_run(reason):
    """Leave the whole module as skipped (CTest SKIP_RETURN_CODE 77)."""
    sys.stdout.write("SKIP: %s\n" % reason)
    sys.stdout.flush()
    os._exit(SKIP_CODE)


def _binaries():
    found = {}
    for var in ("VORMCFG", "SORTER_SIM"):
        path = os.environ.get(var)
        if not path:
            raise SystemExit("%s is not set: run the e2e tests through ctest, or set "
                             "VORMCFG and SORTER_SIM to the built binaries" % var)
        if not os.access(path, os.X_OK):
            raise SystemExit("%s=%s is not an executable file" % (var, path))
        found[var] = os.path.abspath(path)
    return found


def _reexec_in_user_namespace():
    probe = subprocess.run(["unshare", "-rnm", "true"], capture_output=True, text=True)
    if probe.returncode != 0:
        skip_run("not root, and user namespaces are not available to uid %d "
                 "(unshare -rnm: %s); run the e2e tests as root"
                 % (os.getuid(), probe.stderr.strip() or "exit %d" % probe.returncode))
    with open("/proc/self/cmdline", "rb") as f:
        argv = [os.fsdecode(a) for a in f.read().split(b"\0")[:-1]]
    env = dict(os.environ)
    env[_USERNS_ENV] = "1"
    env[_OUTER_NETNS_ENV] = str(_netns_inode())
    sys.stdout.flush()
    sys.stderr.flush()
    os.execvpe("unshare", ["unshare", "-rnm", "--"] + argv, env)


def _mount_private_netns_dir():
    """Inside the user namespace: give `ip netns` a /run/netns of our own."""
    if os.path.isdir(NETNS_DIR):
        cmd = ["mount", "-t", "tmpfs", "-o", "mode=0755", "vcf-netns", NETNS_DIR]
    else:
        # /run/netns does not exist and cannot be created by this user: put a
        # private /run over the real one (only this process tree sees it).
        cmd = ["mount", "-t", "tmpfs", "-o", "mode=0755", "vcf-run", "/run"]
    res = subprocess.run(cmd, capture_output=True, text=True)
    if res.returncode != 0:
        skip_run("cannot mount a private %s in the user namespace: %s"
                 % (NETNS_DIR, res.stderr.strip()))
    os.makedirs(NETNS_DIR, exist_ok=True)


def _sweep_stale():
    """Remove namespaces left by a harness that was killed (its pid is gone)."""
    try:
        names = os.listdir(NETNS_DIR)
    except OSError:
        return
    for name in names:
        m = re.match(r"^%s(\d+)-[0-9a-f]+-" % re.escape(PREFIX), name)
        if m and not os.path.exists("/proc/%s" % m.group(1)):
            subprocess.run(["ip", "netns", "del", name], capture_output=True)


def require_lab():
    """Called by every test module before its tests: root (real or mapped) and tools."""
    global _prepared
    if _prepared:
        return
    missing = [t for t in ("ip", "nsenter", "unshare", "mount") if shutil.which(t) is None]
    if missing:
        skip_run("missing tools: %s (iproute2 and util-linux are needed)" % ", ".join(missing))
    BIN.update(_binaries())
    if os.environ.get(_USERNS_ENV) == "1":
        _mount_private_netns_dir()
        outer = os.environ.get(_OUTER_NETNS_ENV)
        if outer:
            FORBIDDEN_NETNS.add(int(outer))
    elif os.geteuid() != 0:
        _reexec_in_user_namespace()
    else:
        _sweep_stale()
    FORBIDDEN_NETNS.add(_netns_inode())
    if WINE:
        BIN["WINE"] = _check_wine()
        BIN["WINEPREFIX"] = os.path.abspath(os.environ["WINEPREFIX"])
    signal.signal(signal.SIGTERM, _terminated)
    atexit.register(_close_all_labs)
    _prepared = True


def _terminated(signum, _frame):
    # unittest would report SystemExit as a test error and go on: leave now,
    # after removing the namespaces.
    _close_all_labs()
    os._exit(128 + signum)


def _close_all_labs():
    for lab in list(_live_labs):
        try:
            lab.close()
        except RuntimeError as exc:  # the others are still to be removed
            sys.stderr.write("%s\n" % exc)


def _run(cmd, check=True, **kw):
    res = subprocess.run(cmd, capture_output=True, text=True, **kw)
    if check and res.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(cmd), res.returncode,
                                                   res.stderr.strip()))
    return res


class Proc:
    """A process running in a lab namespace, its output read line by line."""

    def __init__(self, name, argv, popen, crlf=False):
        self.name = name
        self.argv = argv
        self.popen = popen
        self.pid = popen.pid
        self.started = time.monotonic()
        self.ended = None
        self.out = []          # (monotonic time, line) for every stdout line read
        self.err = []
        self._outq = queue.Queue()
        self._readers = [
            threading.Thread(target=self._read, args=(popen.stdout, self.out, self._outq, crlf),
                             daemon=True),
            threading.Thread(target=self._read, args=(popen.stderr, self.err, None, crlf),
                             daemon=True),
        ]
        for t in self._readers:
            t.start()

    @staticmethod
    def _read(pipe, store, q, crlf):
        for raw in iter(pipe.readline, b""):
            if crlf and raw.endswith(b"\r\n"):
                # A Windows program's text streams end lines with CR LF.
                raw = raw[:-2] + b"\n"
            item = (time.monotonic(), raw.decode("utf-8", "replace"))
            store.append(item)
            if q is not None:
                q.put(item)
        if q is not None:
            q.put(None)

    # -- stdout, as it arrives -------------------------------------------------
    def next_line(self, timeout):
        """Next stdout line, or None at end of output; raises TimeoutError."""
        try:
            item = self._outq.get(timeout=max(0.0, timeout))
        except queue.Empty:
            raise TimeoutError("%s: no output line within %.1f s; so far stdout=%r stderr=%r"
                               % (self.name, timeout, self.stdout, self.stderr))
        if item is None:
            self._outq.put(None)
            return None
        return item[1]

    def wait_line(self, match, timeout=5.0):
        """Consume stdout lines until one matches (a str is compared with the line
        without its newline, a compiled regex is searched); returns that line."""
        deadline = time.monotonic() + timeout
        while True:
            line = self.next_line(deadline - time.monotonic())
            if line is None:
                raise AssertionError("%s ended (status %r) before printing %r; stdout=%r stderr=%r"
                                     % (self.name, self.popen.poll(), getattr(match, "pattern", match),
                                        self.stdout, self.stderr))
            if isinstance(match, str):
                if line.rstrip("\n") == match:
                    return line
            elif match.search(line):
                return line

    def wait_text(self, text, timeout=5.0):
        """Wait until stdout holds `text` anywhere (lines read are not consumed)."""
        deadline = time.monotonic() + timeout
        while text not in self.stdout:
            if time.monotonic() > deadline or (self.popen.poll() is not None
                                               and not self._readers[0].is_alive()
                                               and text not in self.stdout):
                raise AssertionError("%s: %r not printed (status %r); stdout=%r stderr=%r"
                                     % (self.name, text, self.popen.poll(), self.stdout,
                                        self.stderr))
            time.sleep(0.02)

    @property
    def stdout(self):
        return "".join(l for _, l in list(self.out))

    @property
    def stderr(self):
        return "".join(l for _, l in list(self.err))

    # -- JSON lines (sorter-sim, nstools) ------------------------------------------
    def events(self, name=None):
        found = []
        for _, line in list(self.out):
            try:
                obj = json.loads(line)
            except ValueError:
                continue
            if isinstance(obj, dict) and (name is None or obj.get("event") == name):
                found.append(obj)
        return found

    def wait_event(self, name, timeout=5.0, where=None, count=1):
        """Wait until `count` events called `name` (passing `where`) have been
        printed; returns them all."""
        deadline = time.monotonic() + timeout
        while True:
            hits = [e for e in self.events(name) if where is None or where(e)]
            if len(hits) >= count:
                return hits
            if time.monotonic() > deadline:
                raise AssertionError("%s: %d of %d %r events within %.1f s; status %r; stderr=%r; "
                                     "last stdout=%r" % (self.name, len(hits), count, name, timeout,
                                                          self.popen.poll(), self.stderr[-2000:],
                                                          self.stdout[-2000:]))
            if self.popen.poll() is not None and not self._readers[0].is_alive():
                hits = [e for e in self.events(name) if where is None or where(e)]
                if len(hits) >= count:
                    return hits
                raise AssertionError("%s ended (status %r) after %d of %d %r events; stderr=%r"
                                     % (self.name, self.popen.returncode, len(hits), count, name,
                                        self.stderr[-2000:]))
            time.sleep(0.02)

    # -- life cycle ------------------------------------------------------------------
    def running(self):
        return self.popen.poll() is None

    def send_signal(self, sig):
        if self.popen.poll() is None:
            self.popen.send_signal(sig)

    def finish(self, timeout=5.0):
        """Wait for the process to end by itself; returns its status."""
        try:
            self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("%s still running after %.1f s; stdout=%r stderr=%r"
                                 % (self.name, timeout, self.stdout, self.stderr))
        self._after_exit()
        return self.popen.returncode

    def stop(self, sig=signal.SIGINT, timeout=5.0):
        """Signal the process and wait for it; kills it if it does not end."""
        self.send_signal(sig)
        try:
            self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
        self._after_exit()
        return self.popen.returncode

    def kill(self):
        if self.popen.poll() is None:
            try:
                self.popen.kill()
            except ProcessLookupError:
                pass
        try:
            self.popen.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass
        self._after_exit()

    def _after_exit(self):
        if self.ended is None:
            self.ended = time.monotonic()
        for t in self._readers:
            t.join(timeout=2)
        for pipe in (self.popen.stdin, self.popen.stdout, self.popen.stderr):
            if pipe is not None:
                try:
                    pipe.close()
                except OSError:
                    pass

    @property
    def elapsed(self):
        return (self.ended or time.monotonic()) - self.started


class Sniffer:
    """nstools.py sniff: every IPv4 packet seen in a namespace."""

    def __init__(self, proc):
        self.proc = proc

    def packets(self, **match):
        """UDP packets whose fields equal the given ones (src=..., dst=..., dport=...)."""
        return [p for p in self.proc.events("packet")
                if p.get("proto") == 17 and "fragment_offset" not in p
                and all(p.get(k) == v for k, v in match.items())]

    def incoming(self, **match):
        """Packets that arrived from another namespace (not sent from this one)."""
        return [p for p in self.packets(**match) if p.get("pkttype") != 4]

    def wait_packets(self, count=1, timeout=5.0, **match):
        deadline = time.monotonic() + timeout
        while True:
            hits = self.incoming(**match)
            if len(hits) >= count:
                return hits
            if time.monotonic() > deadline:
                raise AssertionError("sniffer in %s: %d of %d packets matching %r within %.1f s"
                                     % (self.proc.name, len(hits), count, match, timeout))
            time.sleep(0.02)


# iproute2's flag names and the report's texts, in the report's order.
_REPORT_FLAGS = (("UP", "Interface up"), ("BROADCAST", ", broadcasts are supported"),
                 ("MULTICAST", ", multicasts are supported"), ("LOOPBACK", " (loopback)"),
                 ("POINTOPOINT", " (point-to-point)"))


class Netns:
    def __init__(self, lab, role):
        self.lab = lab
        self.role = role
        self.name = "%s-%s" % (lab.tag, role)
        self.path = os.path.join(NETNS_DIR, self.name)
        _run(["ip", "netns", "add", self.name])
        lab._netns.append(self)
        self.inode = _netns_inode(self.path)
        if self.inode in FORBIDDEN_NETNS:
            raise RuntimeError("namespace %s is the harness's own namespace" % self.name)
        self.ip("link", "set", "lo", "up")

    def ip(self, *args, check=True):
        return _run(["ip", "-n", self.name] + list(args), check=check)

    def add_addr(self, dev, cidr):
        self.ip("addr", "add", cidr, "broadcast", "+", "dev", dev)

    def _command(self, argv):
        if self not in self.lab._netns or self.lab.closed:
            raise RuntimeError("%s is not a live namespace of this lab" % self.name)
        inode = _netns_inode(self.path)
        if inode != self.inode or inode in FORBIDDEN_NETNS:
            raise RuntimeError("refusing to enter %s: namespace inode %d (expected %d, "
                               "forbidden %r)" % (self.path, inode, self.inode,
                                                  sorted(FORBIDDEN_NETNS)))
        return (["nsenter", "--net=%s" % self.path, "--", sys.executable, GUARD,
                 str(self.inode), ",".join(str(i) for i in sorted(FORBIDDEN_NETNS)),
                 str(os.getpid()), "--"] + list(argv))

    def start(self, argv, name=None, stdin=False, env=None, crlf=False):
        cmd = self._command(argv)
        popen = subprocess.Popen(cmd, stdin=subprocess.PIPE if stdin else subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 env=dict(os.environ, **(env or {})))
        proc = Proc("%s[%s]" % (name or os.path.basename(argv[0]), self.role), argv, popen,
                    crlf=crlf)
        self.lab._procs.append(proc)
        return proc

    def run(self, argv, timeout=10.0, input=None, env=None):
        cmd = self._command(argv)
        return subprocess.run(cmd, capture_output=True, timeout=timeout, input=input,
                              env=dict(os.environ, **(env or {})))

    # -- the things the tests run ----------------------------------------------------
    def sim(self, *args, ready_timeout=5.0):
        """Start sorter-sim and wait for its ready line."""
        proc = self.start([BIN["SORTER_SIM"]] + [str(a) for a in args], name="sorter-sim")
        proc.wait_event("ready", timeout=ready_timeout)
        return proc

    def tool(self, *args, hostname="vcf-station", hosts=None):
        """Start vormcfg with a host name and hosts file of the test's own, so that
        what it binds without -b does not depend on the machine it runs on.
        hostname=None runs it with the machine's name and files."""
        argv = tool_command(args)
        if hostname is not None:
            argv = self.lab.host_identity(hostname, hosts) + argv
        return self.start(argv, name="vormcfg", env={"TZ": TOOL_TZ}, crlf=WINE)

    def sniffer(self):
        proc = self.start([sys.executable, NSTOOLS, "sniff"], name="sniffer")
        proc.wait_event("ready")
        return Sniffer(proc)

    def send(self, bind, to, payloads, gap_ms=20):
        """Send raw datagrams (bytes each) from bind ("addr:port") to to ("addr:port")."""
        lines = "".join((p.hex() if p else "-") + "\n" for p in payloads)
        res = self.run([sys.executable, NSTOOLS, "send", "--bind", bind, "--to", to,
                        "--gap", str(gap_ms)], input=lines.encode())
        if res.returncode != 0:
            raise RuntimeError("send failed: %s" % res.stderr.decode(errors="replace"))

    def interface_report(self):
        """What `vormcfg -v` must list for this namespace, worked out from
        iproute2's view of it: every IPv4 address in the kernel's order.  The
        broadcast slot of an interface that broadcasts (neither loopback nor
        point-to-point) holds its broadcast address or, for an address added
        without one, the address with all host bits set; any other interface
        shows 255.255.255.255."""
        report = ""
        for link in json.loads(self.ip("-j", "-4", "addr", "show").stdout):
            flags = link.get("flags", [])
            broadcasts = "BROADCAST" in flags and not {"LOOPBACK", "POINTOPOINT"} & set(flags)
            for addr in link.get("addr_info", []):
                network = ipaddress.IPv4Network("%s/%d" % (addr["local"], addr["prefixlen"]),
                                                strict=False)
                bcast = LIMITED_BCAST
                if broadcasts:
                    bcast = addr.get("broadcast", addr["local"])
                    if bcast == addr["local"]:
                        bcast = str(network.broadcast_address)
                report += "  IP: %16s SubnetMask: %s  Bcast Addr: %s\n  " % (
                    addr["local"], network.netmask, bcast)
                report += "".join(text for flag, text in _REPORT_FLAGS if flag in flags) + "\n\n"
        return report

    def hold_port(self, bind):
        proc = self.start([sys.executable, NSTOOLS, "hold", "--bind", bind], name="holder",
                          stdin=True)
        proc.wait_event("ready")
        return proc


class Lab:
    """A set of namespaces and the processes in them, all removed by close()."""

    def __init__(self):
        require_lab()
        self.tag = "%s%d-%s" % (PREFIX, os.getpid(), secrets.token_hex(3))
        self.closed = False
        self._netns = []
        self._procs = []
        self._tmp = tempfile.mkdtemp(prefix=self.tag + "-")
        _live_labs.append(self)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def netns(self, role):
        return Netns(self, role)

    def link(self, left, left_cidr, right, right_cidr):
        """A veth pair from `left` to `right`; returns (left dev, right dev)."""
        ldev, rdev = "to-" + right.role, "to-" + left.role
        left.ip("link", "add", ldev, "type", "veth", "peer", "name", rdev,
                "netns", right.name)
        for ns, dev, cidr in ((left, ldev, left_cidr), (right, rdev, right_cidr)):
            for c in ([cidr] if isinstance(cidr, str) else cidr):
                ns.add_addr(dev, c)
            ns.ip("link", "set", dev, "up")
        return ldev, rdev

    def host_identity(self, hostname, hosts=None):
        """Command prefix giving a process its own host name, a hosts file of the
        test's own and a name service that reads only files."""
        if hosts is None:
            hosts = "127.0.0.1 localhost\n127.0.1.1 %s\n" % hostname
        hosts_file = os.path.join(self._tmp, "hosts-%s" % secrets.token_hex(3))
        nss_file = os.path.join(self._tmp, "nsswitch.conf")
        with open(hosts_file, "w") as f:
            f.write(hosts)
        with open(nss_file, "w") as f:
            f.write("hosts: files\n")
        for path in (hosts_file, nss_file):
            os.chmod(path, 0o644)
        script = ('hostname "$1" && mount --bind "$2" /etc/hosts && '
                  'mount --bind "$3" /etc/nsswitch.conf && shift 3 && exec "$@"')
        return ["unshare", "--uts", "--mount", "--propagation", "private", "--",
                "sh", "-c", script, "host-identity", hostname, hosts_file, nss_file]

    def close(self):
        if self.closed:
            return
        self.closed = True
        for proc in self._procs:
            proc.kill()
        for ns in reversed(self._netns):
            _run(["ip", "netns", "del", ns.name], check=False)
        shutil.rmtree(self._tmp, ignore_errors=True)
        if self in _live_labs:
            _live_labs.remove(self)
        if WINE:
            stray = _wineservers_outside_labs()
            if stray:
                raise RuntimeError("wineserver running outside the lab namespaces (pid %s)"
                                   % ", ".join(map(str, stray)))

    # -- the usual networks ----------------------------------------------------------
    def plant_a(self, second_sorter_address=False):
        """ws 10.9.0.1/24 <-> plantA 10.9.0.11/24 (+ 10.9.0.12); returns (ws, plantA)."""
        ws = self.netns("ws")
        pa = self.netns("plantA")
        right = [PLANT_A + "/24"] + ([PLANT_A2 + "/24"] if second_sorter_address else [])
        self.link(ws, WS_A + "/24", pa, right)
        return ws, pa

    def plant_a_and_b(self):
        """plant_a() plus ws 10.8.0.1/24 <-> plantB 10.8.0.11/24; returns (ws, A, B)."""
        ws, pa = self.plant_a()
        pb = self.netns("plantB")
        self.link(ws, WS_B + "/24", pb, PLANT_B + "/24")
        return ws, pa, pb


class LabTestCase(unittest.TestCase):
    """A test case with a fresh lab per test, removed whatever the outcome."""

    maxDiff = None

    def setUp(self):
        self.lab = Lab()
        self.addCleanup(self.lab.close)

    def start_lines(self, local, serial=None):
        second = ("Waiting for LumatrexExpert serial # %s\n" % serial if serial
                  else "Listening mode: Waiting for Lumatrex Expert broadcast activity...\n")
        return ("vormcfg running on network interface %s\n" % local + second
                + "Press CTRL + C to quit\n\n")

    @staticmethod
    def summary(serial, ip, mask=None, gateway=None, dhcp=False):
        text = ("\nThis is the configuration that was sent to '%s'.\n"
                "Restart the sorter and re-run 'vormcfg -v' to verify this configuration:\n\n"
                % serial)
        text += "    IP Address ...... %s\n" % ip
        if mask:
            text += "    Subnet mask ..... %s\n" % mask
        if gateway and gateway != "0.0.0.0":
            text += "    Gateway ......... %s\n" % gateway
        text += "    DHCP ............ %s\n" % ("On" if dhcp else "Off")
        return text

    @staticmethod
    def announcement(serial, source=None, mask="", gateway=None, dhcp=False):
        """The lines printed for a sorter heard for the first time (with the -v
        block when source is given)."""
        text = "Serial Number '%s' is broadcasting.\n" % serial
        if source is not None:
            text += "Current configuration:\n"
            text += "    IP Address ...... %s\n" % source
            text += "    Subnet mask ..... %s\n" % mask
            if gateway:
                text += "    Gateway ......... %s\n" % gateway
            text += "    DHCP ............ %s\n" % ("On" if dhcp else "Off")
        return text

    def assertRecord(self, record, serial, ip, mask=None, gateway=None, dhcp=False,
                     sent_after=None, sent_before=None):
        """`record` is exactly what `-s serial -i ip [-u mask] [-g gateway] -d on|off`
        must send, stamped with the UTC time between sent_after and sent_before
        (time.time() values; a little slack for clock granularity)."""
        expected = cfgrecord.build(serial=serial, ip=ip, mask=mask or "", dhcp=dhcp,
                                   gateway=gateway)
        self.assertEqual(len(record), cfgrecord.SIZE, "record is %d bytes" % len(record))
        actual = cfgrecord.without_stamp(record)
        self.assertEqual(actual, expected, "record differs from the command line: %s\n"
                         "record: %s" % (cfgrecord.field_diff(expected, actual), record.hex()))
        when, dow = cfgrecord.decode_stamp(record)
        self.assertEqual(dow, when.isoweekday() % 7,
                         "day of week %d does not match %s" % (dow, when.date()))
        stamp = when.timestamp()
        if sent_after is not None:
            self.assertGreaterEqual(stamp, sent_after - 2.0, "time stamp %s too early" % when)
        if sent_before is not None:
            self.assertLessEqual(stamp, sent_before + 2.0, "time stamp %s too late" % when)

    def assertApplied(self, applied, serial, ip, mask=None, gateway=None, dhcp=False):
        """sorter-sim's own reading of the record it applied agrees."""
        self.assertEqual(applied.get("serial"), serial, applied)
        self.assertEqual(applied.get("ip"), ip, applied)
        self.assertEqual(applied.get("mask") or "", mask or "", applied)
        if gateway and gateway != "0.0.0.0":
            self.assertEqual(applied.get("gateway"), gateway, applied)
        else:
            self.assertIn(applied.get("gateway"), (None, "", "-", "0.0.0.0"), applied)
        self.assertIs(applied.get("dhcp"), dhcp, applied)
        self.assertEqual(applied.get("msg_type"), cfgrecord.MSG_CONFIG, applied)

    def expect_lines(self, proc, text, timeout=5.0):
        """The next stdout lines of proc are exactly `text`, each read while it
        arrives; returns whether the process was still running after the last."""
        deadline = time.monotonic() + timeout
        for want in text.splitlines(keepends=True):
            got = proc.next_line(deadline - time.monotonic())
            self.assertEqual(got, want, "stdout so far: %r; stderr: %r" % (proc.stdout, proc.stderr))
        return proc.running()
