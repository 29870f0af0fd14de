"""-w: after the reply the tool keeps listening until the sorter, really restarted
by sorter-sim at its new address, broadcasts what it was sent; when it does not
within the time, the tool shows what it last broadcast and ends with 3."""
import json
import os
import re
import shlex
import time
import unittest

import netlab
from netlab import LabTestCase, WS_A, PLANT_A, PLANT_A2

netlab.require_lab()

TARGET = "SN-W"
NEW_IP = "10.9.0.101"
SIM = ("--interval", 100, "--duration", 30, "--restart-after", 300, "--restart-time", 400)
# The target starts at 10.9.0.11/24 with gateway 10.9.0.254.
TARGET_SORTER = "%s,%s,255.255.255.0,10.9.0.254,off" % (TARGET, PLANT_A)
CONFIGURE = ("-s", TARGET, "-d", "off", "-i", NEW_IP, "-u", "255.255.255.0", "-g", "10.9.0.1")
README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")


def waiting(seconds, serial=TARGET):
    return ("Waiting up to %d seconds for '%s' to restart with this configuration "
            "(Ctrl+C to stop)...\n" % (seconds, serial))


def verified(source, serial=TARGET):
    return "Verified: '%s' now broadcasts this configuration from %s.\n" % (serial, source)


def not_verified(seconds, serial=TARGET):
    return ("Not verified: '%s' did not come back with this configuration within %d seconds.\n"
            % (serial, seconds))


# name, options of the target sorter, tool options, exit status, the tool's last
# stdout line (None: its summary is last), its stderr
CASES = [
    ("verified after a real restart to a new address", (), CONFIGURE + ("-w", 10), 0,
     verified(NEW_IP), ""),
    ("firmware 2.6 keeps its gateway", ("--firmware", "2.6"), CONFIGURE + ("-w", 3), 3, None,
     not_verified(3)
     + "What it last broadcast after the reply:\n"
       "    IP Address ...... 10.9.0.101\n"
       "    Subnet mask ..... 255.255.255.0\n"
       "    Gateway ......... 10.9.0.254  (differs: sent 10.9.0.1)\n"
       "    DHCP ............ Off\n"
       "It kept its gateway: assigning a gateway needs scanner firmware v2.7 or above.\n"),
    ("nobody restarted it", ("--no-restart",), CONFIGURE + ("-w", 3), 3, None,
     not_verified(3)
     + "What it last broadcast after the reply:\n"
       "    IP Address ...... 10.9.0.11  (differs: sent 10.9.0.101)\n"
       "    Subnet mask ..... 255.255.255.0\n"
       "    Gateway ......... 10.9.0.254  (differs: sent 10.9.0.1)\n"
       "    DHCP ............ Off\n"),
    ("DHCP on, leased from a pool", ("--dhcp-pool", "10.9.0.50-10.9.0.59"),
     ("-s", TARGET, "-d", "on", "-w", 10), 0, verified("10.9.0.50"), ""),
]


class VerifyTest(LabTestCase):
    def test_waits_for_the_restart_and_checks_the_configuration(self):
        for name, sim_options, tool_options, status, last_line, err in CASES:
            with self.subTest(name):
                with netlab.Lab() as lab:
                    ws, plant = lab.plant_a()
                    plant.sim(*SIM, "--sorter", TARGET_SORTER, *sim_options)
                    tool = ws.tool(*tool_options)
                    self.assertEqual(tool.finish(timeout=20), status, tool.stderr)
                    seconds = tool_options[tool_options.index("-w") + 1]
                    summary_end = tool.stdout.index(waiting(seconds))
                    self.assertEqual(tool.stdout[summary_end:], waiting(seconds) + (last_line or ""))
                    self.assertEqual(tool.stderr, err)

    def test_another_sorter_on_the_new_address_is_reported_once(self):
        ws, plant = self.lab.plant_a()
        plant.add_addr("to-ws", NEW_IP + "/24")
        plant.sim(*SIM, "--sorter", TARGET_SORTER, "--sorter", "SN-DUP,%s" % NEW_IP)
        tool = ws.tool(*CONFIGURE, "-w", 10)
        self.assertEqual(tool.finish(timeout=20), 0, tool.stderr)
        self.assertTrue(tool.stdout.endswith(verified(NEW_IP)), tool.stdout)
        self.assertEqual(tool.stderr, "Warning: %s is also the address of sorter 'SN-DUP'.\n" % NEW_IP)

    def test_json_reports_verified_and_not_verified(self):
        for name, sim_options, last in (
                ("verified", (), dict(event="verified", serial=TARGET, ip=NEW_IP)),
                ("not verified", ("--firmware", "2.6"),
                 dict(event="not_verified", serial=TARGET, seconds=3, differs=["gateway"],
                      last=dict(serial=TARGET, ip=NEW_IP, mask="255.255.255.0",
                                gateway="10.9.0.254", dhcp=False)))):
            with self.subTest(name):
                with netlab.Lab() as lab:
                    ws, plant = lab.plant_a()
                    plant.sim(*SIM, "--sorter", TARGET_SORTER, *sim_options)
                    tool = ws.tool("-j", *CONFIGURE, "-w", 3 if sim_options else 10)
                    tool.finish(timeout=20)
                    events = [json.loads(line) for line in tool.stdout.splitlines()]
                    self.assertEqual([e["event"] for e in events[:-1]], ["started", "sorter", "sent"])
                    self.assertEqual(events[-1], last)
                    self.assertTrue(tool.stderr.startswith(waiting(last.get("seconds", 10))),
                                    tool.stderr)

    def test_the_readme_configuration_loop_runs_as_written(self):
        with open(README) as f:
            readme = f.read()
        loop = re.search(r"^(while IFS=, read .*?^done < sorters.csv)$", readme, re.M | re.S).group(1)
        # The README's loop, with shorter waits and the tool under test as `vormcfg`.
        loop = loop.replace("-t 60", "-t 5").replace("-w 300", "-w 3")
        ws, plant = self.lab.plant_a(second_sorter_address=True)
        plant.sim(*SIM, "--sorter", TARGET_SORTER,
                  "--sorter", "SN-OLD,%s" % PLANT_A2, "--firmware", "2.6")
        work = self.lab._tmp
        with open(os.path.join(work, "sorters.csv"), "w") as f:
            f.write("%s,%s,255.255.255.0,10.9.0.1\nSN-OLD,10.9.0.102,255.255.255.0,10.9.0.1\n"
                    "SN-GONE,10.9.0.103,255.255.255.0,\n" % (TARGET, NEW_IP))
        tool = " ".join(shlex.quote(a) for a in netlab.tool_command([]))
        script = 'cd "$1" && vormcfg() { %s "$@"; }\n%s\n' % (tool, loop)
        res = ws.run(self.lab.host_identity("vcf-station") + ["sh", "-c", script, "loop", work],
                     timeout=60)
        self.assertEqual(res.returncode, 0, res.stderr)
        reported = [line for line in res.stderr.decode().splitlines() if line.startswith("SN-")]
        self.assertEqual(reported, ["SN-OLD: not heard, or not back with 10.9.0.102",
                                    "SN-GONE: not heard, or not back with 10.9.0.103"])
        with open(os.path.join(work, "configured.jsonl")) as f:
            events = [json.loads(line) for line in f]
        self.assertEqual([(e["event"], e.get("serial")) for e in events if e["event"] != "sorter"],
                         [("started", TARGET), ("sent", TARGET), ("verified", TARGET),
                          ("started", "SN-OLD"), ("sent", "SN-OLD"), ("not_verified", "SN-OLD"),
                          ("started", "SN-GONE"), ("timeout", "SN-GONE")])


if __name__ == "__main__":
    unittest.main()
