"""Network lab for the vormcfg end-to-end tests: the names the test modules use.

Every test builds its own small network out of network namespaces joined by
veth pairs, and runs vormcfg, sorter-sim and the helpers of nstools.py inside
them.  The parts, each its own module:

    netsafety.py  the namespaces, the harness's own re-execution in private
                  ones, the forbidden set, Netns and Lab: what keeps every
                  datagram inside the lab (read it alone to audit that)
    nsguard.py    the last check inside a namespace before a program runs
    labwine.py    the tool under Wine, with a wineserver of each run's own
    procs.py      Proc and Sniffer: running processes and their output
    expected.py   what the tool must print and send

This module adds what the tests run in a namespace (the tool, sorter-sim,
the sniffer, raw sends) and the usual networks.

Address plan (private test addresses, used only inside the lab):

    ws  10.9.0.1/24  <-> plantA 10.9.0.11/24 (and 10.9.0.12 where asked)
    ws  10.8.0.1/24  <-> plantB 10.8.0.11/24 (where a second interface is needed)

Environment: VORMCFG and SORTER_SIM name the binaries under test;
VORMCFG_RUNNER puts a program in front of the tool (netsafety.runner_words);
VORMCFG_WINE=1 and WINEPREFIX run the Windows build under Wine (labwine).
"""
import ipaddress
import json
import os
import secrets
import sys
import unittest

# The record layout and the other peers the tests share with the bench and the soak.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "peer"))
import labwine
import netsafety
from expected import ExpectedOutput
from labwine import E_ADDRESS_IN_USE, E_ADDRESS_NOT_AVAILABLE, E_INTERFACE_LIST_FULL, WINE
from labwine import wineservers
from netsafety import FORBIDDEN_NETNS, GUARD, HERE, NETNS_DIR, PREFIX, SKIP_CODE
from netsafety import in_user_namespace, skip_run
from netsafety import netns_inode as _netns_inode
from procs import Proc, Sniffer

NSTOOLS = os.path.join(HERE, "nstools.py")

WS_A, PLANT_A, PLANT_A2, BCAST_A = "10.9.0.1", "10.9.0.11", "10.9.0.12", "10.9.0.255"
WS_B, PLANT_B, BCAST_B = "10.8.0.1", "10.8.0.11", "10.8.0.255"
LIMITED_BCAST = "255.255.255.255"
# The tool runs in a time zone far from UTC, so a record stamped with local
# time instead of UTC shows.
TOOL_TZ = "VCF-05:30"
TOOL_PORT = 50003
SIM_PORT = 50010
FIREWALL_PORT = 50004

# The binaries under test, from the environment: {"VORMCFG": path, "SORTER_SIM": path},
# and under Wine also "WINE" and "WINEPREFIX".
BIN = {}


def tool_command(args):
    """The command that runs vormcfg with `args`: VORMCFG_RUNNER, when set,
    goes in front (for example a memory checker); under Wine, Wine with a
    wineserver of the run's own."""
    wine = (labwine.wine_command(BIN["WINEPREFIX"], BIN["WINE"], BIN["VORMCFG"]) if WINE
            else [])
    return netsafety.runner_words() + wine + [BIN["VORMCFG"]] + [str(a) for a in args]


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


def require_lab():
    """Called by every test module before its tests: the binaries, the harness
    in namespaces of its own, and under Wine a machine fit for wine runs."""
    if BIN:
        return
    binaries = _binaries()
    netsafety.require_namespaces()
    if WINE:
        binaries["WINE"] = labwine.check_wine(binaries["VORMCFG"], FORBIDDEN_NETNS)
        binaries["WINEPREFIX"] = os.path.abspath(os.environ["WINEPREFIX"])
    BIN.update(binaries)


# iproute2's flag names and the report's texts, in the report's order.
_REPORT_FLAGS = (("UP", "Interface up"), ("BROADCAST", ", broadcasts are supported"),
                 ("MULTICAST", ", multicasts are supported"), ("LOOPBACK", " (loopback)"),
                 ("POINTOPOINT", " (point-to-point)"))


class Netns(netsafety.Netns):
    """A lab namespace and the programs the tests run in it."""

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


class Lab(netsafety.Lab):
    """A lab whose namespaces run the tool and sorter-sim; it also makes the
    usual networks."""

    netns_class = Netns

    def __init__(self):
        require_lab()
        super().__init__()

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
        was_open = not self.closed
        super().close()
        if WINE and was_open:
            stray = labwine.wineservers_in(FORBIDDEN_NETNS)
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


class LabTestCase(ExpectedOutput, unittest.TestCase):
    """A test case with a fresh lab per test, removed whatever the outcome."""

    maxDiff = None

    def setUp(self):
        self.lab = Lab()
        self.addCleanup(self.lab.close)
