"""The lab itself: nothing it starts may run outside the namespaces it made."""
import os
import subprocess
import sys
import unittest

import netlab
from netlab import LabTestCase

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


if __name__ == "__main__":
    unittest.main()
