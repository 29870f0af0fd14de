"""The tool under Wine: with VORMCFG_WINE=1, VORMCFG is the Windows build
(vormcfg.exe) and runs under Wine, in the prefix WINEPREFIX names (made
beforehand, as scripts/test-windows does).

Wine keeps a program's sockets in its wineserver, not in the program: a wine
run that joined a running wineserver of another namespace would open the
tool's socket there.  A wine run finds its wineserver through a socket under
/tmp, named in the prefix (Debian) or after the user (upstream Wine).  So
every tool run gets a mount namespace of its own with an empty private /tmp
and the prefix under a private overlay that has forgotten any earlier server:
it can only start a wineserver of its own, from inside the lab namespace.
Besides, no lab is made, or closed without complaint, while a wineserver runs
in a forbidden namespace (netsafety.FORBIDDEN_NETNS); test_netlab checks where
the tool's socket and its holders live.

The expectations that differ under Wine are named here (WINE, the error
numbers) and in the test modules.
"""
import os
import re
import shutil

# The tool under test is the Windows build, run by Wine.
WINE = os.environ.get("VORMCFG_WINE") == "1"
# The error numbers of the tool's failure lines: Winsock's on Windows, errno
# elsewhere.
E_ADDRESS_IN_USE = 10048 if WINE else 98           # WSAEADDRINUSE / EADDRINUSE
E_ADDRESS_NOT_AVAILABLE = 10049 if WINE else 99    # WSAEADDRNOTAVAIL / EADDRNOTAVAIL
E_INTERFACE_LIST_FULL = 10014 if WINE else 105     # WSAEFAULT / ENOBUFS

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


def wine_command(prefix, wine, program):
    """What goes in front of `program` (vormcfg.exe) to run it under Wine with a
    wineserver of the run's own."""
    return (["unshare", "--mount", "--propagation", "private", "--", "sh", "-c",
             _WINE_PRIVATE_SERVER, "wine-private-server", prefix, wine,
             os.path.dirname(program)])


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
            found[int(entry)] = os.stat("/proc/%s/ns/net" % entry).st_ino
        except OSError:
            continue  # ended meanwhile, or a zombie
    return found


def wineservers_in(forbidden):
    """Pids of the wineservers running in one of the `forbidden` namespaces."""
    return sorted(pid for pid, inode in wineservers().items() if inode in forbidden)


def check_wine(program, forbidden):
    """The wine to run `program` with, once the prefix, the paths and the
    machine allow a wine run in the lab; otherwise SystemExit with the reason."""
    wine = shutil.which("wine")
    if wine is None:
        raise SystemExit("VORMCFG_WINE=1 but there is no wine (Debian: wine, wine64)")
    prefix = os.path.abspath(os.environ.get("WINEPREFIX", ""))
    if not os.path.isfile(os.path.join(prefix, "system.reg")):
        raise SystemExit("VORMCFG_WINE=1 needs WINEPREFIX naming a prepared Wine prefix "
                         "(scripts/test-windows makes one); WINEPREFIX=%r"
                         % os.environ.get("WINEPREFIX"))
    for what, path in (("WINEPREFIX", prefix), ("VORMCFG", program)):
        if path == "/tmp" or re.search(r"[,:\\]", path):
            raise SystemExit("%s=%s: a wine run takes the prefix as an overlay and brings "
                             "both back into a private /tmp, so neither may be /tmp itself "
                             "or hold ',' ':' '\\'" % (what, path))
    stray = wineservers_in(forbidden)
    if stray:
        raise SystemExit("wineserver running outside the lab namespaces (pid %s): a wine run "
                         "could open its sockets there; stop it first" % ", ".join(map(str, stray)))
    return wine
