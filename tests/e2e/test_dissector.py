"""The Wireshark dissector names every field of a captured exchange: a capture
taken in the lab during a targeted exchange decodes to the command line that
was sent, and malformed datagrams are flagged."""
import os
import shutil
import signal
import time
import unittest

import netlab
from netlab import LabTestCase, WS_A, PLANT_A, SIM_PORT, TOOL_PORT

netlab.require_lab()

DISSECTOR = os.path.join(netlab.HERE, "..", "..", "contrib", "wireshark", "vormcfg.lua")
FIELDS = ("magic", "msg_type", "serial", "ip_address", "subnet_mask", "dhcp", "timestamp",
          "timestamp.day_of_week", "gateway", "reserved_a", "reserved_d")


@unittest.skipIf(shutil.which("tshark") is None, "tshark is not installed (Debian package tshark)")
class DissectorTest(LabTestCase):
    def capture(self, ns, exchange):
        """Capture UDP on ns's veth while exchange() runs; returns the file."""
        path = os.path.join(self.lab._tmp, "exchange.pcapng")
        tshark = ns.start(["tshark", "-q", "-i", "to-plantA", "-f", "udp", "-w", path],
                          name="tshark")
        deadline = time.monotonic() + 10
        while "Capturing on" not in tshark.stderr:
            self.assertLess(time.monotonic(), deadline, "tshark did not start: %r" % tshark.stderr)
            time.sleep(0.05)
        exchange()
        time.sleep(0.3)
        tshark.stop(signal.SIGINT)
        return path

    def decode(self, ns, path, display_filter):
        argv = ["tshark", "-r", path, "-X", "lua_script:%s" % os.path.abspath(DISSECTOR),
                "-Y", display_filter, "-T", "fields", "-E", "separator=|"]
        for name in FIELDS:
            argv += ["-e", "sndp_cfg." + name]
        argv += ["-e", "_ws.expert.message"]
        res = ns.run(argv, timeout=30)
        self.assertEqual(res.returncode, 0, res.stderr)
        return [dict(zip(FIELDS + ("expert",), line.split("|")))
                for line in res.stdout.decode().splitlines()]

    def test_reply_decodes_to_the_command_line(self):
        ws, plant = self.lab.plant_a()
        plant.sim("--sorter", "514555555,%s,255.255.0.0,10.9.0.254,on" % PLANT_A,
                  "--interval", 100, "--duration", 10)

        def exchange():
            tool = ws.tool("-s", "514555555", "-i", "10.9.0.101", "-u", "255.255.255.0",
                           "-g", "10.9.0.1", "-d", "off")
            self.assertEqual(tool.finish(timeout=5), 0, tool.stderr)

        path = self.capture(ws, exchange)
        replies = self.decode(ws, path, "ip.src==%s && udp.srcport==%d" % (WS_A, TOOL_PORT))
        self.assertEqual(len(replies), 1, replies)
        reply = replies[0]
        self.assertEqual(
            {k: reply[k] for k in ("magic", "msg_type", "serial", "ip_address", "subnet_mask",
                                   "dhcp", "gateway", "reserved_a", "reserved_d", "expert")},
            {"magic": "SNDP_CFG", "msg_type": "3", "serial": "514555555",
             "ip_address": "10.9.0.101", "subnet_mask": "255.255.255.0", "dhcp": "0",
             "gateway": "10.9.0.1", "reserved_a": "00" * 10, "reserved_d": "00" * 7,
             "expert": ""})
        self.assertRegex(reply["timestamp"], r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} UTC$")
        self.assertEqual(reply["timestamp"][:10], time.strftime("%Y-%m-%d", time.gmtime()))

        broadcasts = self.decode(ws, path, "ip.src==%s && udp.dstport==%d" % (PLANT_A, TOOL_PORT))
        self.assertGreaterEqual(len(broadcasts), 1)
        self.assertEqual((broadcasts[0]["serial"], broadcasts[0]["subnet_mask"],
                          broadcasts[0]["gateway"], broadcasts[0]["dhcp"]),
                         ("514555555", "255.255.0.0", "10.9.0.254", "1"))

    def test_malformed_datagrams_are_flagged(self):
        ws, plant = self.lab.plant_a()
        kinds = "short,nomagic,magic-no-nul,unterminated"
        path = self.capture(ws, lambda: plant.sim(
            "--sorter", "SN-M,%s" % PLANT_A, "--malformed", kinds, "--count", 1,
            "--interval", 100, "--duration", 1).finish(timeout=5))
        flagged = [r["expert"] for r in self.decode(ws, path, "udp.srcport==%d" % SIM_PORT)]
        for message in ("Not 128 bytes", 'No "SNDP_CFG" magic', "Text without its NUL"):
            self.assertTrue(any(message in text for text in flagged), (message, flagged))


if __name__ == "__main__":
    unittest.main()
