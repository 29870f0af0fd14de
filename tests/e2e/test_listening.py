"""Listening mode (no -s, or -s ""): every sorter heard is announced once, in the
order first heard; nothing is ever sent; output reaches a pipe line by line."""
import signal
import time
import unittest

import cfgrecord
import netlab
from netlab import LabTestCase, WS_A, PLANT_A, PLANT_A2, LIMITED_BCAST, SIM_PORT, TOOL_PORT

netlab.require_lab()

SIM = ("--interval", 100, "--duration", 15, "--log-received")


class ListeningTest(LabTestCase):
    def test_announces_each_sorter_once_in_order_first_heard(self):
        ws, plant = self.lab.plant_a(second_sorter_address=True)
        sniffer = plant.sniffer()

        # The first sorter's record says 10.9.0.77 while it sends from 10.9.0.12,
        # its subnet mask text is empty (settings it stored but does not run
        # with), and its DHCP byte is 7: any byte but 0 means On.  A simulated
        # sorter always announces the address it sends from and writes 0 or 1,
        # so these broadcasts are sent as raw datagrams.
        zeta = bytearray(cfgrecord.build(serial="ZETA-2", ip="10.9.0.77", gateway="10.9.0.254",
                                         msg_type=1))
        zeta[cfgrecord.OFF_DHCP] = 7
        zeta = bytes(zeta)

        def zeta_broadcasts(count):
            plant.send("%s:%d" % (PLANT_A2, SIM_PORT), "%s:%d" % (LIMITED_BCAST, TOOL_PORT),
                       [zeta] * count, gap_ms=100)

        tool = ws.tool("-v")
        tool.wait_text("Press CTRL + C to quit\n")  # bound: the broadcasts will be heard
        zeta_broadcasts(3)
        tool.wait_line("Serial Number 'ZETA-2' is broadcasting.")
        second = plant.sim("--sorter", "ALPHA-1,%s,255.255.255.0,-,off" % PLANT_A, "--port", 50011,
                           "--no-firewall-port", *SIM)
        tool.wait_line("Serial Number 'ALPHA-1' is broadcasting.")
        zeta_broadcasts(5)  # each sorter broadcasts several more times
        self.assertTrue(tool.running(), tool.stderr)
        tool.stop(signal.SIGINT)

        self.assertEqual(tool.stdout,
                         ws.interface_report() + self.start_lines(WS_A)
                         + self.announcement("ZETA-2", source=PLANT_A2, mask="",
                                             gateway="10.9.0.254", dhcp=True)
                         + self.announcement("ALPHA-1", source=PLANT_A, mask="255.255.255.0",
                                             dhcp=False))
        self.assertEqual(sniffer.incoming(src=WS_A), [], "the listening tool sent datagrams")
        self.assertEqual(second.events("received"), [])

    def test_never_sends_even_to_a_sorter_with_an_empty_serial(self):
        for name, args, verbose in (("no -s", [], False), ('-s ""', ["-s", ""], False),
                                    ("-v", ["-v"], True), ('-s "" -v', ["-s", "", "-v"], True)):
            with self.subTest(name):
                with netlab.Lab() as lab:
                    ws, plant = lab.plant_a(second_sorter_address=True)
                    sniffer = plant.sniffer()
                    sim = plant.sim("--sorter", ",%s,255.255.255.0,10.9.0.1,on" % PLANT_A,
                                    "--sorter", "SN-L,%s,255.255.0.0,-,off" % PLANT_A2, *SIM)
                    tool = ws.tool(*args)
                    tool.wait_line("Serial Number '' is broadcasting.")
                    time.sleep(0.6)
                    self.assertTrue(tool.running(), tool.stderr)
                    tool.stop(signal.SIGINT)
                    unnamed = self.announcement("", **(dict(source=PLANT_A, mask="255.255.255.0",
                                                             gateway="10.9.0.1", dhcp=True)
                                                        if verbose else {}))
                    named = self.announcement("SN-L", **(dict(source=PLANT_A2, mask="255.255.0.0")
                                                         if verbose else {}))
                    start = (ws.interface_report() if verbose else "") + self.start_lines(WS_A)
                    self.assertIn(tool.stdout, (start + unnamed + named, start + named + unnamed))
                    if not verbose:
                        self.assertEqual(tool.stderr, "")
                    self.assertEqual(sniffer.incoming(src=WS_A), [])
                    self.assertEqual(sim.events("received"), [])

    def test_each_line_reaches_the_pipe_while_the_tool_runs(self):
        for name, args, block in (("plain", [], {}),
                                  ("-v", ["-v"], dict(source=PLANT_A, mask="255.255.255.0",
                                                      gateway="10.9.0.1", dhcp=False))):
            with self.subTest(name):
                with netlab.Lab() as lab:
                    ws, plant = lab.plant_a()
                    tool = ws.tool(*args)
                    # Nothing else is going to be printed for now: these lines can
                    # only be read if they were flushed as they were printed.
                    start = (ws.interface_report() if block else "") + self.start_lines(WS_A)
                    self.assertTrue(self.expect_lines(tool, start),
                                    "the tool ended: %r" % tool.stderr)
                    plant.sim("--sorter", "SN-P,%s,255.255.255.0,10.9.0.1,off" % PLANT_A, *SIM)
                    announced = self.announcement("SN-P", **block)
                    self.assertTrue(self.expect_lines(tool, announced),
                                    "the tool ended: %r" % tool.stderr)
                    time.sleep(0.3)
                    tool.stop(signal.SIGINT)
                    self.assertEqual(tool.stdout, start + announced,
                                     "output lost or added at SIGINT")


if __name__ == "__main__":
    unittest.main()
