"""Without -b the tool binds the address its host name resolves to; a name that
resolves only to loopback is replaced by the first up, non-loopback interface,
and failing that by a loopback address."""
import signal
import time
import unittest

import netlab
from netlab import LabTestCase, WS_A, WS_B, PLANT_A, LIMITED_BCAST, SIM_PORT

netlab.require_lab()

LOOPBACK_ONLY = "127.0.0.1 localhost\n127.0.1.1 vcf-station\n"


# The resolver's order is the hosts file's; a resolver that re-sorts by
# RFC 6724 would put the link-local address first.
LINK_LOCAL = "169.254.5.5"
TEN_THEN_LINK_LOCAL = "127.0.0.1 localhost\n%s vcf-station\n%s vcf-station\n" % (WS_A, LINK_LOCAL)


class HostAddressTest(LabTestCase):
    # Windows resolves the host's own name to the addresses of its interfaces
    # that are up, whatever the hosts file says, and so does Wine: there the
    # name on the second interface's address still gives the first, and a
    # case about the hosts file's order (None below) says nothing.
    # name, network, hosts file, ws interfaces taken down, addresses added to
    # ws as (dev, cidr), expected bound address, expected under Wine
    CASES = [
        ("name on 127.0.1.1 only, one interface", "A", LOOPBACK_ONLY, [], [], WS_A, WS_A),
        ("name on 127.0.1.1 only, first interface down", "AB", LOOPBACK_ONLY, ["to-plantA"], [],
         WS_B, WS_B),
        ("name on the second interface's address", "AB",
         "127.0.0.1 localhost\n%s vcf-station\n" % WS_B, [], [], WS_B, WS_A),
        ("name on a 10.x address, then on a link-local one", "A", TEN_THEN_LINK_LOCAL, [],
         [("to-plantA", LINK_LOCAL + "/16")], WS_A, None),
    ]

    def test_bound_address_follows_the_host_name(self):
        for name, network, hosts, down, added, expected, expected_under_wine in self.CASES:
            if netlab.WINE:
                if expected_under_wine is None:
                    continue  # a case Wine cannot tell from another
                expected = expected_under_wine
            with self.subTest(name):
                with netlab.Lab() as lab:
                    if network == "A":
                        ws, _ = lab.plant_a()
                    else:
                        ws, _, _ = lab.plant_a_and_b()
                    for dev in down:
                        ws.ip("link", "set", dev, "down")
                    for dev, cidr in added:
                        ws.add_addr(dev, cidr)
                    tool = ws.tool(hosts=hosts)
                    self.assertTrue(self.expect_lines(tool, self.start_lines(expected)),
                                    tool.stderr)
                    tool.stop(signal.SIGINT)

    def test_chosen_interface_is_used(self):
        ws, plant = self.lab.plant_a()
        sim = plant.sim("--sorter", "SN-H,%s" % PLANT_A, "--interval", 100, "--duration", 15)
        tool = ws.tool("-s", "SN-H", "-i", "10.9.0.85", hosts=LOOPBACK_ONLY)
        self.assertEqual(tool.finish(timeout=5), 0, tool.stderr)
        self.assertEqual(tool.stdout, self.start_lines(WS_A, "SN-H") + self.announcement("SN-H")
                         + self.summary("SN-H", ip="10.9.0.85"))
        applied = sim.wait_event("applied")[0]
        self.assertEqual((applied["from"], applied["to"], applied["port"]),
                         (WS_A, LIMITED_BCAST, SIM_PORT))

    def test_only_loopback_up_binds_a_loopback_address(self):
        ws = self.lab.netns("ws")
        tool = ws.tool(hosts=LOOPBACK_ONLY)
        # No interface but lo is up: the name's own 127.0.1.1 is bound (under
        # Wine too, which then falls back to the hosts file).
        self.assertTrue(self.expect_lines(tool, self.start_lines("127.0.1.1")), tool.stderr)
        time.sleep(0.3)
        self.assertTrue(tool.running(), tool.stderr)
        tool.stop(signal.SIGINT)

    def test_name_that_does_not_resolve_with_only_loopback(self):
        ws = self.lab.netns("ws")
        tool = ws.tool(hostname="vcf-nowhere", hosts="127.0.0.1 localhost\n")
        self.assertEqual(tool.finish(timeout=10), 1, tool.stdout)
        self.assertEqual(tool.stderr, "Could not get host name.\n")
        self.assertNotIn("running on network interface", tool.stdout)


if __name__ == "__main__":
    unittest.main()
