#!/usr/bin/env python3
"""Last check before a lab process starts: are we really in the lab's namespace?

netlab starts every process as

    nsenter --net=/run/netns/NAME -- python3 nsguard.py EXPECTED FORBIDDEN[,...] PARENT -- PROGRAM ARGS...

By then nsenter has switched the network namespace.  This script compares the
inode of /proc/self/ns/net with the one the harness recorded when it created
NAME, and with the namespaces it must never run in (the harness's own, and the
machine's one when the harness runs in a user namespace).  Only when the
namespace is the expected one and none of the forbidden ones does it exec the
program, in the same process, so the pid the harness holds is the program's.

It also asks the kernel to kill the program when the harness dies, so that a
harness killed by a timeout leaves no tool behind in a namespace.
"""
import ctypes
import os
import signal
import sys

PR_SET_PDEATHSIG = 1


def main(argv):
    try:
        sep = argv.index("--")
    except ValueError:
        sep = -1
    if sep != 4 or len(argv) <= sep + 1:
        sys.stderr.write("nsguard: usage: nsguard.py EXPECTED FORBIDDEN PARENT -- PROGRAM ...\n")
        return 125
    expected = int(argv[1])
    forbidden = {int(x) for x in argv[2].split(",") if x}
    parent = int(argv[3])
    program = argv[sep + 1:]

    current = os.stat("/proc/self/ns/net").st_ino
    if current in forbidden:
        sys.stderr.write("nsguard: refusing to run %r in a network namespace that is not "
                         "a lab namespace (net inode %d)\n" % (program[0], current))
        return 126
    if current != expected:
        sys.stderr.write("nsguard: refusing to run %r: network namespace inode %d, "
                         "expected %d\n" % (program[0], current, expected))
        return 126

    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
    if os.getppid() != parent:
        # The harness died before the death signal was armed.
        return 125

    try:
        os.execvp(program[0], program)
    except OSError as exc:
        sys.stderr.write("nsguard: cannot run %s: %s\n" % (program[0], exc))
        return 127


if __name__ == "__main__":
    sys.exit(main(sys.argv))
