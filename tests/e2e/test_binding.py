"""-b on a workstation with two interfaces, and the tool's socket that cannot be
opened."""
import signal
import time
import unittest

import netlab
from netlab import (LabTestCase, WS_A, WS_B, PLANT_A, PLANT_B, BCAST_A, BCAST_B,
                    LIMITED_BCAST, SIM_PORT, TOOL_PORT)

netlab.require_lab()

SIM = ("--interval", 100, "--duration", 20, "--log-received")

# The side the tool binds and the other one: (ws address, plant address,
# directed broadcast, serial prefix).  The default route in ws points to the
# other side, so the routing table alone would send a broadcast the wrong way.
SIDES = {
    "A": (WS_A, PLANT_A, BCAST_A, "A"),
    "B": (WS_B, PLANT_B, BCAST_B, "B"),
}


class BindInterfaceTest(LabTestCase):
    def run_side(self, bound, other):
        ws, plant_a, plant_b = self.lab.plant_a_and_b()
        plants = {"A": plant_a, "B": plant_b}
        local, plant_addr, _, _ = SIDES[bound]
        _, other_plant_addr, _, _ = SIDES[other]
        ws.ip("route", "add", "default", "via", other_plant_addr)

        sniffers = {k: p.sniffer() for k, p in plants.items()}
        ws_sniffer = ws.sniffer()
        sims = {}
        for side, plant in plants.items():
            _, addr, directed, prefix = SIDES[side]
            sims[side + "-LIM"] = plant.sim("--sorter", "%s-LIM,%s" % (prefix, addr), *SIM)
            sims[side + "-DIR"] = plant.sim("--sorter", "%s-DIR,%s" % (prefix, addr), "--to", directed,
                                            "--port", 50011, "--no-firewall-port", *SIM)

        # Listening: only the bound side's sorters are heard, both broadcast kinds.
        listen_from = time.time()
        tool = ws.tool("-v", "-b", local)
        for kind in ("LIM", "DIR"):
            tool.wait_text("Serial Number '%s-%s' is broadcasting.\n" % (bound, kind))
        ws_sniffer.wait_packets(count=5, timeout=3, src=other_plant_addr, dst=LIMITED_BCAST)
        ws_sniffer.wait_packets(count=5, timeout=3, src=other_plant_addr, dst=SIDES[other][2])
        self.assertTrue(tool.running(), tool.stderr)
        tool.stop(signal.SIGINT)
        heard = [l for l in tool.stdout.splitlines() if l.startswith("Serial Number")]
        self.assertEqual(sorted(heard), ["Serial Number '%s-%s' is broadcasting." % (bound, k)
                                         for k in ("DIR", "LIM")], tool.stdout)
        self.assertIn("running on network interface %s\n" % local, tool.stdout)
        self.assertIn("    IP Address ...... %s\n" % plant_addr, tool.stdout)
        self.assertNotIn(other_plant_addr, tool.stdout)
        for s in sniffers.values():
            self.assertEqual(s.incoming(src=WS_A) + s.incoming(src=WS_B), [])

        # A sorter on the other side is never answered.
        tool = ws.tool("-b", local, "-s", "%s-LIM" % other, "-i", "10.9.0.80")
        for expected in self.start_lines(local, "%s-LIM" % other).splitlines():
            tool.wait_line(expected)
        seen = len(ws_sniffer.incoming(src=other_plant_addr))
        ws_sniffer.wait_packets(count=seen + 6, timeout=3, src=other_plant_addr)
        self.assertTrue(tool.running(), tool.stderr)
        tool.stop(signal.SIGINT)
        self.assertNotIn("Serial Number '%s-" % other, tool.stdout)
        for s in sniffers.values():
            self.assertEqual(s.incoming(src=WS_A) + s.incoming(src=WS_B), [])

        # The bound side's sorter is answered, by the bound interface only.
        before = time.time()
        serial = "%s-LIM" % bound
        tool = ws.tool("-b", local, "-s", serial, "-i", "10.9.0.81", "-u", "255.255.255.0")
        self.assertEqual(tool.finish(timeout=5), 0, tool.stderr)
        after = time.time()
        start = self.start_lines(local, serial)
        tail = self.announcement(serial) + self.summary(serial, ip="10.9.0.81", mask="255.255.255.0")
        self.assertTrue(tool.stdout.startswith(start) and tool.stdout.endswith(tail), tool.stdout)
        # The bound side's other sorter may have been heard first; nothing else.
        self.assertIn(tool.stdout[len(start):-len(tail)],
                      ("", self.announcement("%s-DIR" % bound)), tool.stdout)
        applied = sims[serial].wait_event("applied")[0]
        self.assertEqual((applied["from"], applied["to"], applied["port"]),
                         (local, LIMITED_BCAST, SIM_PORT))
        self.assertRecord(bytes.fromhex(applied["hex"]), serial, ip="10.9.0.81",
                          mask="255.255.255.0", sent_after=before, sent_before=after)
        time.sleep(0.2)
        here = sniffers[bound].incoming(src=local)
        self.assertEqual([(p["dst"], p["dport"]) for p in here], [(LIMITED_BCAST, SIM_PORT)])
        there = sniffers[other]
        self.assertEqual(there.incoming(src=WS_A) + there.incoming(src=WS_B), [],
                         "the reply also left by the other interface")
        for name, sim in sims.items():
            if name != serial:
                self.assertEqual(sim.events("received"), [], name)

    def test_bound_to_plant_a_side_with_default_route_to_plant_b(self):
        self.run_side("A", "B")

    def test_bound_to_plant_b_side_with_default_route_to_plant_a(self):
        self.run_side("B", "A")


class SecondaryAddressTest(LabTestCase):
    WS_A2 = "10.9.0.2"
    # Wine binds a socket to the wildcard address underneath: there the
    # kernel picks the source, the interface's first address.  Windows
    # itself sends from the bound address.
    SOURCE = WS_A if netlab.WINE else WS_A2

    def test_reply_leaves_from_the_second_address_that_b_names(self):
        # The routing table would pick the interface's first address, 10.9.0.1.
        ws, plant = self.lab.plant_a()
        ws.add_addr("to-plantA", self.WS_A2 + "/24")
        sniffer = plant.sniffer()
        sim = plant.sim("--sorter", "SN-2ND,%s" % PLANT_A, *SIM)
        before = time.time()
        tool = ws.tool("-b", self.WS_A2, "-s", "SN-2ND", "-i", "10.9.0.82")
        self.assertEqual(tool.finish(timeout=5), 0, tool.stderr)
        self.assertEqual(tool.stdout, self.start_lines(self.WS_A2, "SN-2ND")
                         + self.announcement("SN-2ND") + self.summary("SN-2ND", ip="10.9.0.82"))
        applied = sim.wait_event("applied")[0]
        self.assertRecord(bytes.fromhex(applied["hex"]), "SN-2ND", ip="10.9.0.82",
                          sent_after=before, sent_before=time.time())
        time.sleep(0.2)
        self.assertEqual([(p["src"], p["sport"], p["dst"], p["dport"])
                          for p in sniffer.incoming(src=WS_A) + sniffer.incoming(src=self.WS_A2)],
                         [(self.SOURCE, TOOL_PORT, LIMITED_BCAST, SIM_PORT)])
        self.assertEqual(applied["from"], self.SOURCE)


# The error numbers are the platform's own (netlab: errno, or Winsock's
# under Wine).
IN_USE = "Could not bind to socket: %d\n" % netlab.E_ADDRESS_IN_USE
NOT_HERE = "Could not bind to socket: %d\n" % netlab.E_ADDRESS_NOT_AVAILABLE


class BindFailureTest(LabTestCase):
    CASES = [
        # name, who holds the tool's port in ws, tool options, stderr
        ("port taken on all addresses", "0.0.0.0", [], IN_USE),
        ("port taken on all addresses, -b", "0.0.0.0", ["-b", WS_A], IN_USE),
        ("port taken on the bound address", WS_A, ["-b", WS_A], IN_USE),
        ("port taken on the host's address", WS_A, [], IN_USE),
        ("-b an address no interface holds", None, ["-b", "10.7.7.7"], NOT_HERE),
        ("-b the address of the other side", None, ["-b", PLANT_A], NOT_HERE),
    ]

    def test_socket_that_cannot_be_bound_ends_with_1(self):
        for name, held, args, message in self.CASES:
            for mode in (["-s", "SN-1", "-i", "10.9.0.90"], []):
                with self.subTest(name, mode=mode):
                    with netlab.Lab() as lab:
                        ws, plant = lab.plant_a()
                        sniffer = plant.sniffer()
                        if held:
                            lab_holder = ws.hold_port("%s:%d" % (held, TOOL_PORT))
                        sim = plant.sim("--sorter", "SN-1,%s" % PLANT_A, *SIM)
                        tool = ws.tool(*(args + mode))
                        code = tool.finish(timeout=5)
                        self.assertEqual((code, tool.stderr), (1, message), tool.stdout)
                        self.assertEqual(sniffer.incoming(src=WS_A), [])
                        self.assertEqual(sim.events("received"), [])
                        if held:
                            self.assertTrue(lab_holder.running())


if __name__ == "__main__":
    unittest.main()
