"""The lab itself: nothing it starts may run outside the namespaces it made."""
import os
import re
import signal
import subprocess
import sys
import unittest

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
