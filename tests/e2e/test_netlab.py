"""The lab itself: nothing it starts may run outside the namespaces it made."""
import json
import os
import re
import shlex
import signal
import subprocess
import sys
import unittest
from unittest import mock

import netlab
from netlab import LabTestCase, WS_A, TOOL_PORT

netlab.require_lab()

PROBE = ["sh", "-c", "echo ran"]


class NamespaceGuardTest(LabTestCase):
    def guard(self, netns_path, expected):
        cmd = ["nsenter", "--net=%s" % netns_path, "--", sys.executable, netlab.GUARD,
               str(expected), ",".join(str(i) for i in sorted(netlab.FORBIDDEN_NETNS)),
               str(os.getpid()), "--"] + PROBE
        return subprocess.run(cmd, capture_output=True, text=True, timeout=10)

    def test_guard_refuses_the_harness_namespace(self):
        own = "/proc/%d/ns/net" % os.getpid()
        res = self.guard(own, os.stat(own).st_ino)
        self.assertEqual((res.returncode, res.stdout), (126, ""), res.stderr)
        self.assertIn("not a lab namespace", res.stderr)

    def test_guard_refuses_the_namespace_the_harness_was_started_in(self):
        outer = "/proc/%d/ns/net" % os.getppid()
        res = self.guard(outer, started_in())
        self.assertEqual(res.stdout, "", res.stderr)
        self.assertNotEqual(res.returncode, 0)
        if not netlab.in_user_namespace():  # else nsenter itself may not go there
            self.assertEqual(res.returncode, 126, res.stderr)
            self.assertIn("not a lab namespace", res.stderr)

    def test_guard_refuses_a_namespace_other_than_the_expected_one(self):
        first, second = self.lab.netns("ws"), self.lab.netns("plantA")
        res = self.guard(first.path, second.inode)
        self.assertEqual((res.returncode, res.stdout), (126, ""), res.stderr)

    def test_guard_runs_the_program_in_the_expected_namespace(self):
        ws = self.lab.netns("ws")
        res = self.guard(ws.path, ws.inode)
        self.assertEqual((res.returncode, res.stdout), (0, "ran\n"), res.stderr)

    def test_lab_refuses_a_namespace_it_no_longer_owns(self):
        ws = self.lab.netns("ws")
        self.lab.close()
        with self.assertRaises(RuntimeError):
            ws.run(PROBE)
        self.assertFalse(os.path.exists(ws.path), "namespace left behind")


def started_in():
    """The network namespace the harness was started in, normally the
    machine's: the one its parent (ctest, a shell) still runs in."""
    try:
        return os.stat("/proc/%d/ns/net" % os.getppid()).st_ino
    except PermissionError:  # a parent of another user, seen from a user namespace
        others = netlab.FORBIDDEN_NETNS - {netlab._netns_inode()}
        assert len(others) == 1, netlab.FORBIDDEN_NETNS
        return others.pop()


class HarnessNamespaceTest(unittest.TestCase):
    """A program started without the lab lands where it cannot send."""

    def test_harness_runs_in_an_empty_namespace_of_its_own(self):
        own = netlab._netns_inode()
        self.assertNotEqual(own, started_in(), "the harness runs in the namespace it was started in")
        self.assertEqual(netlab.FORBIDDEN_NETNS, {own, started_in()})
        links = json.loads(subprocess.run(["ip", "-j", "addr", "show"], capture_output=True,
                                          text=True, check=True).stdout)
        self.assertEqual([(link["ifname"], "UP" in link["flags"], link["addr_info"])
                          for link in links], [("lo", False, [])])

    # VORMCFG_RUNNER, and whether the tool may be run by it.
    RUNNERS = [
        ("", True),
        ("valgrind -q --error-exitcode=99 --leak-check=full", True),
        ("env TZ=UTC nice -n 5 /usr/bin/time -v", True),
        ("taskset -c 0-3 stdbuf -oL", True),
        ("setpriv --reuid=0 --init-groups", True),
        ("systemd-run --user --pipe", False),
        ("flatpak-spawn --host", False),
        ("env systemd-run --scope", False),
        ("nice -n 5 /usr/bin/systemd-run", False),
        ("sh -c", False),
        ("valgrind --log-file /tmp/v.log", False),  # an option's value in a word of its own
    ]

    def test_runner_is_accepted_only_when_it_execs_the_tool_in_place(self):
        for runner, accepted in self.RUNNERS:
            with self.subTest(runner=runner), \
                    mock.patch.dict(os.environ, {"VORMCFG_RUNNER": runner}):
                if accepted:
                    self.assertEqual(netlab.tool_command(["-h"])[-2:], [netlab.BIN["VORMCFG"], "-h"])
                    self.assertEqual(netlab.tool_command([])[:len(shlex.split(runner))],
                                     shlex.split(runner))
                    continue
                with self.assertRaises(SystemExit) as refusal:
                    netlab.tool_command(["-h"])
                self.assertRegex(str(refusal.exception), r"^VORMCFG_RUNNER='.*': refusing '[^\n]*$")

    def test_refused_runner_ends_the_run_before_any_lab(self):
        env = dict(os.environ, VORMCFG_RUNNER="systemd-run --user")
        res = subprocess.run([sys.executable, "-c", "import netlab; netlab.require_lab()"],
                             capture_output=True, text=True, env=env, timeout=10)
        self.assertEqual((res.returncode, res.stdout), (1, ""), res.stderr)
        self.assertEqual(res.stderr.count("\n"), 1, res.stderr)
        self.assertIn("refusing 'systemd-run'", res.stderr)


def socket_holders(listing):
    """{pid: process name} of the processes `ss -p` shows holding sockets."""
    return {int(pid): name for name, pid in re.findall(r'\("([^"]*)",pid=(\d+)', listing)}


class ToolSocketTest(LabTestCase):
    SS = ["ss", "-u", "-a", "-n", "-p", "sport", "=", ":%d" % TOOL_PORT]

    def test_tool_socket_and_every_holder_are_in_the_lab_namespace(self):
        # Under Wine the socket is made and held by a wineserver: it must be
        # one the run started inside the lab namespace, not one it found.
        ws, _ = self.lab.plant_a()
        tool = ws.tool("-b", WS_A)
        self.assertTrue(self.expect_lines(tool, self.start_lines(WS_A)), tool.stderr)
        in_lab = ws.run(self.SS).stdout.decode()
        holders = socket_holders(in_lab)
        self.assertTrue(holders, "no process holds the tool's socket in the lab: %r" % in_lab)
        for pid, name in holders.items():
            self.assertEqual(netlab._netns_inode("/proc/%d/ns/net" % pid), ws.inode,
                             "%s (pid %d) holds the tool's socket from another namespace"
                             % (name, pid))
        if netlab.WINE:
            self.assertTrue([n for n in holders.values() if n.startswith("wineserver")], in_lab)
            self.assertEqual([pid for pid, inode in netlab.wineservers().items()
                              if inode in netlab.FORBIDDEN_NETNS], [])
        here = subprocess.run(self.SS, capture_output=True, text=True, timeout=10).stdout
        self.assertEqual(set(socket_holders(here)) & set(holders), set(), here)
        tool.stop(signal.SIGINT)


if __name__ == "__main__":
    unittest.main()
