"""What keeps the end-to-end lab off the machine's network, in one module.

The tool and sorter-sim broadcast: on the machine's own interfaces their
datagrams would leave the machine.  Three fences, each enough alone:

1. The harness runs in network and mount namespaces of its own.  When a test
   program first asks for a lab (require_namespaces), it re-executes itself
   under unshare: as root `unshare --net --mount`, as another user
   `unshare -rnm`, which also maps the user to root in a user namespace.  Its
   network namespace holds only a loopback interface that is down, so a
   program that reaches none of the lab's namespaces (started by a test
   directly, or by a runner that escaped) finds no network to send on.
2. The lab's namespaces are made with `ip netns add` under a /run/netns that
   is a tmpfs of the harness's mount namespace: no other process sees them,
   and they end with the harness.  (So nothing is left in the machine's
   /run/netns by a harness that was killed, and there is nothing to sweep.)
3. Every lab process starts through Netns._command: nsenter into the
   namespace the lab made, then nsguard.py, which compares the namespace it
   landed in with the one recorded when it was made and with FORBIDDEN_NETNS
   (the namespace the harness was started in, normally the machine's, and the
   harness's own) before it execs the program.

VORMCFG_RUNNER puts programs in front of the tool (a memory checker, say).
Each program it names must exec the next in place (RUNNERS_IN_PLACE): one
that hands its command to a service (systemd-run, flatpak-spawn) would run
the tool wherever that service runs.

Where the namespaces cannot be made the run is skipped: "SKIP: ..." and exit
77, CTest's skip code; under CI=true, where everything must run, exit 1.
"""
import atexit
import os
import re
import secrets
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile

from procs import Proc

HERE = os.path.dirname(os.path.abspath(__file__))
GUARD = os.path.join(HERE, "nsguard.py")
NETNS_DIR = "/run/netns"
SKIP_CODE = 77
PREFIX = "vcf-"

RUNNERS_IN_PLACE = frozenset(("valgrind", "wine", "env", "time", "taskset", "nice", "setpriv",
                              "stdbuf"))
# Words of VORMCFG_RUNNER that name no program: options, NAME=VALUE, numbers
# and CPU lists.
_NOT_A_PROGRAM = re.compile(r"^(-|[^=/]+=|[0-9][0-9a-fA-Fx,.:-]*$)")

# "PID:NET:MNT": the process that re-executed itself in namespaces of its
# own, and the inodes of the network and mount namespaces it was started in.
_REEXEC_ENV = "VCF_E2E_REEXEC"
_USERNS_ENV = "VCF_E2E_USERNS"

# Network namespace inodes no lab process may ever run in.
FORBIDDEN_NETNS = set()
_live_labs = []
_prepared = False


def netns_inode(path="/proc/self/ns/net"):
    return os.stat(path).st_ino


def _mntns_inode():
    return os.stat("/proc/self/ns/mnt").st_ino


def in_user_namespace():
    """The harness maps its user to root in a user namespace (it is not root)."""
    return os.environ.get(_USERNS_ENV) == "1"


def skip_run(reason):
    """Leave the whole run as skipped, or as failed under CI=true."""
    what = os.environ.get("VCF_TEST_NAME") or os.path.basename(sys.argv[0])
    if os.environ.get("CI") == "true":
        line, code = "FAIL: %s skipped under CI=true: %s\n" % (what, reason), 1
    else:
        line, code = "SKIP: %s\n" % reason, SKIP_CODE
    sys.stdout.write(line)
    sys.stdout.flush()
    sys.stderr.flush()
    os._exit(code)


def runner_words():
    """VORMCFG_RUNNER as words; SystemExit with one line unless every program
    it names execs the next one in place."""
    text = os.environ.get("VORMCFG_RUNNER", "")
    try:
        words = shlex.split(text)
    except ValueError as exc:
        raise SystemExit("VORMCFG_RUNNER=%r: %s" % (text, exc))
    programs = [w for i, w in enumerate(words) if i == 0 or not _NOT_A_PROGRAM.match(w)]
    refused = [p for p in programs if os.path.basename(p) not in RUNNERS_IN_PLACE]
    if refused:
        raise SystemExit("VORMCFG_RUNNER=%r: refusing %s: only %s may run the tool, as they "
                         "exec it in place, inside the lab's namespace (give option values "
                         "as --option=value)" % (text, ", ".join(repr(p) for p in refused),
                                                 ", ".join(sorted(RUNNERS_IN_PLACE))))
    return words


def _unshare_command():
    if os.geteuid() == 0:
        return ["unshare", "--net", "--mount", "--propagation", "private"]
    return ["unshare", "--map-root-user", "--net", "--mount", "--propagation", "private"]


def _reexec_in_private_namespaces():
    unshare = _unshare_command()
    probe = subprocess.run(unshare + ["true"], capture_output=True, text=True)
    if probe.returncode != 0:
        skip_run("cannot make network and mount namespaces for the harness as uid %d "
                 "(%s: %s); run the e2e tests as root"
                 % (os.getuid(), " ".join(unshare),
                    probe.stderr.strip() or "exit %d" % probe.returncode))
    with open("/proc/self/cmdline", "rb") as f:
        argv = [os.fsdecode(a) for a in f.read().split(b"\0")[:-1]]
    env = dict(os.environ)
    # unshare execs in place: the process that comes back is this one.
    env[_REEXEC_ENV] = "%d:%d:%d" % (os.getpid(), netns_inode(), _mntns_inode())
    env[_USERNS_ENV] = "1" if os.geteuid() != 0 else ""
    sys.stdout.flush()
    sys.stderr.flush()
    os.execvpe("unshare", unshare + ["--"] + argv, env)


def _mount_private_netns_dir(outer_mntns):
    """Give `ip netns` a /run/netns of the harness's own."""
    if _mntns_inode() == outer_mntns:
        # Mounted there it would cover the machine's /run/netns for everyone.
        raise SystemExit("refusing to mount over %s: the harness still runs in the mount "
                         "namespace it was started in" % NETNS_DIR)
    if os.path.isdir(NETNS_DIR):
        cmd = ["mount", "-t", "tmpfs", "-o", "mode=0755", "vcf-netns", NETNS_DIR]
    else:
        # Rather than make /run/netns on the machine (or where this user may
        # not), put a private /run over the real one.
        cmd = ["mount", "-t", "tmpfs", "-o", "mode=0755", "vcf-run", "/run"]
    res = subprocess.run(cmd, capture_output=True, text=True)
    if res.returncode != 0:
        skip_run("cannot mount a private %s in the harness's mount namespace: %s"
                 % (NETNS_DIR, res.stderr.strip()))
    os.makedirs(NETNS_DIR, exist_ok=True)


def require_namespaces():
    """Before any lab: the tools, the harness in namespaces of its own
    (re-executing it there), a private /run/netns and the forbidden set."""
    global _prepared
    if _prepared:
        return
    missing = [t for t in ("ip", "nsenter", "unshare", "mount") if shutil.which(t) is None]
    if missing:
        skip_run("missing tools: %s (iproute2 and util-linux are needed)" % ", ".join(missing))
    runner_words()
    pid, _, started_in = os.environ.get(_REEXEC_ENV, "").partition(":")
    if pid != str(os.getpid()):
        _reexec_in_private_namespaces()
    outer_netns, outer_mntns = (int(inode) for inode in started_in.split(":"))
    own = netns_inode()
    if own == outer_netns:
        raise SystemExit("the harness still runs in the network namespace it was started in "
                         "(inode %d) after unshare --net" % own)
    _mount_private_netns_dir(outer_mntns)
    FORBIDDEN_NETNS.update((outer_netns, own))
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


def run_checked(cmd, check=True, **kw):
    res = subprocess.run(cmd, capture_output=True, text=True, **kw)
    if check and res.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(cmd), res.returncode,
                                                   res.stderr.strip()))
    return res


class Netns:
    """A network namespace a lab made, and the only way to run a program in it."""

    def __init__(self, lab, role):
        self.lab = lab
        self.role = role
        self.name = "%s-%s" % (lab.tag, role)
        self.path = os.path.join(NETNS_DIR, self.name)
        run_checked(["ip", "netns", "add", self.name])
        lab._netns.append(self)
        self.inode = netns_inode(self.path)
        if self.inode in FORBIDDEN_NETNS:
            raise RuntimeError("namespace %s is the harness's own namespace" % self.name)
        self.ip("link", "set", "lo", "up")

    def ip(self, *args, check=True):
        return run_checked(["ip", "-n", self.name] + list(args), check=check)

    def add_addr(self, dev, cidr):
        self.ip("addr", "add", cidr, "broadcast", "+", "dev", dev)

    def _command(self, argv):
        if self not in self.lab._netns or self.lab.closed:
            raise RuntimeError("%s is not a live namespace of this lab" % self.name)
        inode = netns_inode(self.path)
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


class Lab:
    """A set of namespaces and the processes in them, all removed by close()."""

    netns_class = Netns

    def __init__(self):
        require_namespaces()
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
        return self.netns_class(self, role)

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

    def close(self):
        if self.closed:
            return
        self.closed = True
        for proc in self._procs:
            proc.kill()
        for ns in reversed(self._netns):
            run_checked(["ip", "netns", "del", ns.name], check=False)
        shutil.rmtree(self._tmp, ignore_errors=True)
        if self in _live_labs:
            _live_labs.remove(self)
