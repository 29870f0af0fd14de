"""-t: listening ends after its time with a count of the sorters heard; a target
not heard in time ends the run with status 3 and nothing sent."""
import time
import unittest

import netlab
from netlab import LabTestCase, WS_A, PLANT_A, PLANT_A2

netlab.require_lab()

SIM = ("--interval", 100, "--duration", 20)


class TimeoutTest(LabTestCase):
    def waited(self, tool):
        """Seconds from the tool's last start line (when its wait begins) to its end."""
        started = [t for t, line in tool.out if line == "Press CTRL + C to quit\n"]
        self.assertEqual(len(started), 1, tool.stdout)
        return tool.ended - started[0]

    def test_listening_ends_with_the_count_of_sorters_heard(self):
        ws, plant = self.lab.plant_a(second_sorter_address=True)
        sniffer = plant.sniffer()
        plant.sim("--sorter", "SN-T1,%s" % PLANT_A, "--sorter", "SN-T2,%s" % PLANT_A2, *SIM)
        tool = ws.tool("-t", 2)
        self.assertEqual(tool.finish(timeout=10), 0, tool.stderr)
        self.assertIn(tool.stdout,
                      [self.start_lines(WS_A) + self.announcement(a) + self.announcement(b)
                       + "Sorters heard: 2 in 2 seconds.\n"
                       for a, b in (("SN-T1", "SN-T2"), ("SN-T2", "SN-T1"))])
        self.assertEqual(tool.stderr, "")
        self.assertAlmostEqual(self.waited(tool), 2.0, delta=1.0)
        self.assertEqual(sniffer.incoming(src=WS_A), [])

    def test_target_not_heard_in_time_exits_3_without_sending(self):
        ws, plant = self.lab.plant_a()
        sniffer = plant.sniffer()
        sim = plant.sim("--sorter", "SN-OTHER,%s" % PLANT_A, "--log-received", *SIM)
        tool = ws.tool("-s", "SN-ABSENT", "-i", "10.9.0.90", "-t", 2)
        self.assertEqual(tool.finish(timeout=10), 3, tool.stderr)
        self.assertEqual(tool.stdout, self.start_lines(WS_A, "SN-ABSENT") + self.announcement("SN-OTHER"))
        self.assertEqual(tool.stderr, "Serial # SN-ABSENT was not heard within 2 seconds.\n")
        self.assertAlmostEqual(self.waited(tool), 2.0, delta=1.0)
        time.sleep(0.2)
        self.assertEqual(sniffer.incoming(src=WS_A), [])
        self.assertEqual(sim.events("received"), [])


if __name__ == "__main__":
    unittest.main()
