"""With -v the tool lists the workstation's IPv4 interfaces before it binds:
address, netmask, broadcast address and flags, in the kernel's order."""
import signal
import unittest

import netlab
from netlab import LabTestCase, WS_A, PLANT_A

netlab.require_lab()

HEADING = "Scanning Local Network Interfaces . . .\n\n"

# lo, the veth to the plant, a broadcast-capable interface that is down, one
# whose address was added without a broadcast address and a point-to-point
# tunnel, as the workstation below is built.
EXPECTED_REPORT = (
    "  IP:        127.0.0.1 SubnetMask: 255.0.0.0  Bcast Addr: 255.255.255.255\n"
    "  Interface up (loopback)\n\n"
    "  IP:         10.9.0.1 SubnetMask: 255.255.255.0  Bcast Addr: 10.9.0.255\n"
    "  Interface up, broadcasts are supported, multicasts are supported\n\n"
    "  IP:         10.6.0.1 SubnetMask: 255.255.255.0  Bcast Addr: 10.6.0.255\n"
    "  , broadcasts are supported\n\n"
    "  IP:         10.5.0.1 SubnetMask: 255.255.252.0  Bcast Addr: 10.5.3.255\n"
    "  Interface up, broadcasts are supported, multicasts are supported\n\n"
    "  IP:         10.7.0.1 SubnetMask: 255.255.255.255  Bcast Addr: 255.255.255.255\n"
    "  Interface up, multicasts are supported (point-to-point)\n\n"
)


# Wine's interface list never sets the point-to-point flag: there the tunnel
# is listed as a plain interface (the broadcast slot is the same).
TOOL_REPORT = (EXPECTED_REPORT.replace(" (point-to-point)", "") if netlab.WINE
               else EXPECTED_REPORT)


class InterfaceReportTest(LabTestCase):
    # The runs bind WS_A with -b: without it, under Wine, the host's name
    # gives whichever of these interfaces Wine's route order puts first.

    def workstation(self):
        """ws with lo, a veth to plantA, an interface that is down (ifb: broadcast
        but no multicast), a veth whose address has no broadcast address (as
        `ip addr add` leaves it without `brd`) and a tun device with a peer
        address."""
        ws, plant = self.lab.plant_a()
        if ws.ip("link", "add", "quiet0", "type", "ifb", check=False).returncode != 0:
            self.skipTest("this kernel has no ifb devices to stand for an interface that is down")
        ws.add_addr("quiet0", "10.6.0.1/24")
        ws.ip("link", "add", "bare0", "type", "veth", "peer", "name", "bare1")
        ws.ip("addr", "add", "10.5.0.1/22", "dev", "bare0")
        for dev in ("bare0", "bare1"):
            ws.ip("link", "set", dev, "up")
        if ws.ip("tuntap", "add", "mode", "tun", "name", "tun0", check=False).returncode != 0:
            self.skipTest("this kernel has no tun devices for a point-to-point interface")
        ws.ip("addr", "add", "10.7.0.1", "peer", "10.7.0.2", "dev", "tun0")
        ws.ip("link", "set", "tun0", "up")
        return ws, plant

    def test_report_comes_first_then_the_run_goes_on(self):
        ws, plant = self.workstation()
        self.assertEqual(ws.interface_report(), EXPECTED_REPORT, "the lab is not as intended")
        plant.sim("--sorter", "SN-R,%s,255.255.255.0,-,off" % PLANT_A, "--interval", 100,
                  "--duration", 10)
        tool = ws.tool("-v", "-b", WS_A)
        announced = self.announcement("SN-R", source=PLANT_A, mask="255.255.255.0")
        self.assertTrue(self.expect_lines(tool, TOOL_REPORT + self.start_lines(WS_A) + announced),
                        tool.stderr)
        tool.stop(signal.SIGINT)
        self.assertEqual(tool.stderr, HEADING)

    def test_without_v_there_is_no_report(self):
        ws, _ = self.workstation()
        tool = ws.tool("-b", WS_A)
        self.assertTrue(self.expect_lines(tool, self.start_lines(WS_A)), tool.stderr)
        tool.stop(signal.SIGINT)
        self.assertEqual(tool.stderr, "")

    def test_ten_addresses_fit_and_an_eleventh_fails_the_query(self):
        # lo and the veth hold two addresses; the rest go onto the veth.
        for extra, fits in ((8, True), (9, False)):
            with self.subTest(addresses=2 + extra):
                with netlab.Lab() as lab:
                    ws, _ = lab.plant_a()
                    for i in range(extra):
                        ws.add_addr("to-plantA", "10.9.1.%d/24" % (i + 1))
                    tool = ws.tool("-v", "-b", WS_A)
                    if fits:
                        self.assertTrue(self.expect_lines(
                            tool, ws.interface_report() + self.start_lines(WS_A)), tool.stderr)
                        self.assertEqual(ws.interface_report().count("  IP: "), 10)
                        tool.stop(signal.SIGINT)
                        self.assertEqual(tool.stderr, HEADING)
                    else:
                        self.assertEqual(tool.finish(timeout=5), 1)
                        self.assertEqual(tool.stdout, "")
                        self.assertEqual(tool.stderr, HEADING + "WSAIoctl fails with error %d\n"
                                         % netlab.E_INTERFACE_LIST_FULL)


if __name__ == "__main__":
    unittest.main()
