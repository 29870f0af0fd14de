"""Firewall mode (-f -r ADDR): without waiting for any broadcast, the record goes
40 times to ADDR:50004 with a 250 ms pause after each, then the summary."""
import time
import unittest

import netlab
from netlab import LabTestCase, WS_A, PLANT_A, LIMITED_BCAST, FIREWALL_PORT

netlab.require_lab()

SENDS = 40
SETTINGS = dict(ip="10.9.0.61", mask="255.255.255.0", gateway="10.9.0.1", dhcp=False)
ARGS = ["-s", "SN-F", "-i", "10.9.0.61", "-u", "255.255.255.0", "-g", "10.9.0.1", "-d", "off"]


class FirewallTest(LabTestCase):
    def test_forty_records_to_the_firewall_port(self):
        for name, reply, to in (("-r the sorter's address", PLANT_A, PLANT_A),
                                ("-r 0.0.0.0 means 255.255.255.255", "0.0.0.0", LIMITED_BCAST)):
            with self.subTest(name):
                with netlab.Lab() as lab:
                    ws, plant = lab.plant_a()
                    sniffer = plant.sniffer()
                    # The sorter's broadcasts never reach the tool's port: firewall
                    # mode must not depend on hearing it.
                    sim = plant.sim("--sorter", "SN-F,%s" % PLANT_A, "--interval", 200,
                                    "--to-port", 50099, "--duration", 30, "--log-received")
                    before = time.time()
                    tool = ws.tool("-f", "-r", reply, *ARGS)
                    self.assertTrue(self.expect_lines(tool, self.start_lines(WS_A, "SN-F")),
                                    tool.stderr)
                    code = tool.finish(timeout=20)
                    after = time.time()
                    self.assertEqual(code, 0, tool.stderr)
                    self.assertEqual(tool.stdout, self.start_lines(WS_A, "SN-F")
                                     + self.summary("SN-F", **SETTINGS))
                    self.assertEqual(tool.stderr, "")
                    # 40 sends, each followed by 250 ms, from the start lines on
                    # (a program under Wine takes a while to get there).
                    bound_at = next(t for t, line in tool.out if line == "Press CTRL + C to quit\n")
                    self.assertGreaterEqual(tool.ended - bound_at, 9.5)
                    self.assertLessEqual(tool.ended - bound_at, 11.5)

                    time.sleep(0.3)
                    sent = sniffer.incoming(src=WS_A)
                    self.assertEqual(len(sent), SENDS, [(p["dst"], p["dport"]) for p in sent])
                    self.assertEqual({(p["dst"], p["dport"]) for p in sent}, {(to, FIREWALL_PORT)})
                    records = {p["hex"] for p in sent}
                    self.assertEqual(len(records), 1, "the 40 records are not all the same")
                    self.assertRecord(bytes.fromhex(records.pop()), "SN-F", sent_after=before,
                                      sent_before=after, **SETTINGS)
                    gaps = [b["t"] - a["t"] for a, b in zip(sent, sent[1:])]
                    self.assertGreaterEqual(min(gaps), 0.2, gaps)
                    self.assertLessEqual(max(gaps), 0.5, gaps)
                    # The summary comes after the last pause.
                    summary_at = next(t for t, line in tool.out if "This is the configuration" in line)
                    self.assertGreaterEqual(summary_at - bound_at, 9.5)

                    received = sim.events("received")
                    self.assertEqual(len(received), SENDS)
                    self.assertEqual({(r["from"], r["port"], r["to"]) for r in received},
                                     {(WS_A, FIREWALL_PORT, to)})
                    applied = sim.wait_event("applied")
                    self.assertApplied(applied[0], "SN-F", **SETTINGS)


if __name__ == "__main__":
    unittest.main()
