"""Targeted mode (-s): the tool waits for the named sorter, answers it once with
the configuration record, prints what it sent and ends with 0."""
import signal
import time
import unittest

import cfgrecord
import netlab
from netlab import (LabTestCase, WS_A, PLANT_A, PLANT_A2, BCAST_A, LIMITED_BCAST, SIM_PORT,
                    TOOL_PORT)

netlab.require_lab()

SIM = ("--interval", 100, "--duration", 15, "--log-received")


# name, sim options, tool options, settings (for record and summary), where the reply goes
CASES = [
    ("every setting, sorter sends to 255.255.255.255",
     (), ["-i", "10.9.0.50", "-u", "255.255.0.0", "-g", "10.9.0.254", "-d", "on"],
     dict(ip="10.9.0.50", mask="255.255.0.0", gateway="10.9.0.254", dhcp=True), LIMITED_BCAST),
    ("sorter sends the directed broadcast, no mask, no gateway",
     ("--to", BCAST_A), ["-i", "10.9.0.51", "-d", "off"],
     dict(ip="10.9.0.51", dhcp=False), LIMITED_BCAST),
    ("sorter broadcasting from another port",
     ("--port", 50123, "--no-firewall-port"),
     ["-i", "10.9.0.52", "-u", "255.255.255.128", "-g", "10.9.0.1"],
     dict(ip="10.9.0.52", mask="255.255.255.128", gateway="10.9.0.1", dhcp=False), LIMITED_BCAST),
    ("gateway 0.0.0.0 and empty mask are left out",
     (), ["-i", "10.9.0.53", "-u", "", "-g", "0.0.0.0", "-d", "on"],
     dict(ip="10.9.0.53", gateway="0.0.0.0", dhcp=True), LIMITED_BCAST),
    ("-r sends to the sorter's address",
     (), ["-i", "10.9.0.54", "-u", "255.255.255.0", "-r", PLANT_A],
     dict(ip="10.9.0.54", mask="255.255.255.0", dhcp=False), PLANT_A),
    ("-r 0.0.0.0 means 255.255.255.255",
     ("--to", BCAST_A), ["-i", "10.9.0.55", "-r", "0.0.0.0"],
     dict(ip="10.9.0.55", dhcp=False), LIMITED_BCAST),
    ("-r with first number 0 means 255.255.255.255",
     (), ["-i", "10.9.0.56", "-r", "0.9.0.11"],
     dict(ip="10.9.0.56", dhcp=False), LIMITED_BCAST),
    ("longest serial the record holds", (), ["-i", "10.9.0.57"],
     dict(ip="10.9.0.57", dhcp=False, serial="S" * 27), LIMITED_BCAST),
    ("-v shows the sorter's current configuration first",
     ("--to", BCAST_A), ["-v", "-i", "10.9.0.58", "-g", "10.9.0.1", "-d", "on"],
     dict(ip="10.9.0.58", gateway="10.9.0.1", dhcp=True), LIMITED_BCAST),
]

# What -v shows of a sorter-sim sorter started as "--sorter SERIAL,10.9.0.11".
SIM_SORTER_BLOCK = dict(source=PLANT_A, mask="255.255.255.0", gateway=None, dhcp=False)


class TargetedTest(LabTestCase):
    def check_answer(self, sim, tool, sniffer, serial, settings, to, port,
                     before, after, start_local=WS_A, heard_before=(), block=None, report=""):
        """The tool's whole stdout, the one datagram the plant saw, and the record
        the sim applied."""
        self.assertEqual(tool.stdout,
                         report + self.start_lines(start_local, serial)
                         + "".join(self.announcement(s) for s in heard_before)
                         + self.announcement(serial, **(block or {}))
                         + self.summary(serial, **settings))
        applied = sim.wait_event("applied", timeout=3)
        time.sleep(0.2)  # let the sniffer print anything that followed
        sent = sniffer.incoming(src=start_local)
        self.assertEqual(len(sent), 1, "the tool sent %d datagrams: %r" % (len(sent), sent))
        self.assertEqual((sent[0]["sport"], sent[0]["dst"], sent[0]["dport"]),
                         (TOOL_PORT, to, port), "the reply's source port, destination and port")
        record = bytes.fromhex(sent[0]["hex"])
        self.assertRecord(record, serial, sent_after=before, sent_before=after, **settings)
        self.assertEqual(len(applied), 1, applied)
        self.assertEqual(bytes.fromhex(applied[0]["hex"]), record)
        self.assertEqual((applied[0]["from"], applied[0]["to"], applied[0]["port"]),
                         (start_local, to, port))
        self.assertApplied(applied[0], serial, **settings)

    def test_answers_the_target_once_with_the_command_line_settings(self):
        for name, sim_args, tool_args, settings, to in CASES:
            with self.subTest(name):
                with netlab.Lab() as lab:
                    ws, plant = lab.plant_a()
                    sniffer = plant.sniffer()
                    settings = dict(settings)
                    serial = settings.pop("serial", "SN-T")
                    sim = plant.sim("--sorter", "%s,%s" % (serial, PLANT_A), *SIM, *sim_args)
                    port = sim_args[1] if sim_args[:1] == ("--port",) else SIM_PORT
                    before = time.time()
                    tool = ws.tool("-s", serial, *tool_args)
                    code = tool.finish(timeout=5)
                    after = time.time()
                    self.assertEqual(code, 0, tool.stderr)
                    verbose = "-v" in tool_args
                    if not verbose:
                        self.assertEqual(tool.stderr, "")
                    self.check_answer(sim, tool, sniffer, serial, settings, to, port,
                                      before, after,
                                      block=SIM_SORTER_BLOCK if verbose else None,
                                      report=ws.interface_report() if verbose else "")

    def test_other_sorters_are_announced_not_answered(self):
        ws, plant = self.lab.plant_a(second_sorter_address=True)
        sniffer = plant.sniffer()
        # One decoy's serial starts with the target's, the target's starts with the other's.
        decoys = plant.sim("--sorter", "SN-T-2,%s" % PLANT_A2, "--sorter", "SN-,%s" % PLANT_A2,
                           *SIM)
        before = time.time()
        tool = ws.tool("-s", "SN-T", "-i", "10.9.0.60")
        tool.wait_line("Serial Number 'SN-T-2' is broadcasting.")
        tool.wait_line("Serial Number 'SN-' is broadcasting.")
        time.sleep(0.5)  # several more rounds from the decoys
        self.assertTrue(tool.running(), "the tool ended before its target appeared: %r"
                        % tool.stderr)
        self.assertEqual(sniffer.incoming(src=WS_A), [], "a decoy was answered")
        target = plant.sim("--sorter", "SN-T,%s" % PLANT_A, "--port", 50011,
                           "--no-firewall-port", *SIM)
        self.assertEqual(tool.finish(timeout=5), 0, tool.stderr)
        after = time.time()
        self.check_answer(target, tool, sniffer, "SN-T", dict(ip="10.9.0.60"),
                          LIMITED_BCAST, 50011, before, after, heard_before=("SN-T-2", "SN-"))
        self.assertEqual(decoys.events("received"), [])

    def test_a_serial_running_on_past_the_target_is_another_sorter(self):
        # The decoy's serial field holds the target's 27 characters and one
        # more, with no NUL: its serial reads on into the address field.  A
        # tool that compared only as much as the target's serial would answer it.
        target = "SN-0123456789-ABCDEFGHIJKLM"
        self.assertEqual(len(target), cfgrecord.SERIAL_LEN - 1)
        decoy = bytearray(cfgrecord.build(ip=PLANT_A2, mask="255.255.255.0", msg_type=1))
        decoy[cfgrecord.OFF_SERIAL:cfgrecord.OFF_IP] = (target + "X").encode()
        run_on = target + "X" + PLANT_A2
        ws, plant = self.lab.plant_a(second_sorter_address=True)
        sniffer = plant.sniffer()
        before = time.time()
        tool = ws.tool("-s", target, "-i", "10.9.0.61")
        self.assertTrue(self.expect_lines(tool, self.start_lines(WS_A, target)), tool.stderr)
        plant.send("%s:%d" % (PLANT_A2, SIM_PORT), "%s:%d" % (LIMITED_BCAST, TOOL_PORT),
                   [bytes(decoy)] * 3)
        self.assertTrue(self.expect_lines(tool, self.announcement(run_on)), tool.stderr)
        time.sleep(0.3)
        self.assertEqual(sniffer.incoming(src=WS_A), [], "the decoy was answered")
        sim = plant.sim("--sorter", "%s,%s" % (target, PLANT_A), *SIM)
        self.assertEqual(tool.finish(timeout=5), 0, tool.stderr)
        self.check_answer(sim, tool, sniffer, target, dict(ip="10.9.0.61"), LIMITED_BCAST,
                          SIM_PORT, before, time.time(), heard_before=(run_on,))

    def test_stop_and_continue_while_waiting_does_not_end_the_run(self):
        # (case, sorter starts while the tool is stopped)
        for name, sorter_while_stopped in (("stopped and continued before the sorter appears", False),
                                           ("sorter's broadcasts queue up while stopped", True)):
            with self.subTest(name):
                with netlab.Lab() as lab:
                    ws, plant = lab.plant_a()
                    sniffer = plant.sniffer()
                    before = time.time()
                    tool = ws.tool("-s", "SN-Z", "-i", "10.9.0.70", "-d", "on")
                    for expected in self.start_lines(WS_A, "SN-Z").splitlines():
                        tool.wait_line(expected)
                    sim = None
                    for _ in range(3):
                        tool.send_signal(signal.SIGSTOP)
                        time.sleep(0.2)
                        if sorter_while_stopped and sim is None:
                            sim = plant.sim("--sorter", "SN-Z,%s" % PLANT_A, *SIM)
                            time.sleep(0.4)
                            self.assertEqual(sniffer.incoming(src=WS_A), [])
                        tool.send_signal(signal.SIGCONT)
                        if sim is not None:
                            break
                        time.sleep(0.2)
                        self.assertTrue(tool.running(), "SIGSTOP/SIGCONT ended the tool: "
                                        "status %r, stderr %r" % (tool.popen.poll(), tool.stderr))
                    if sim is None:
                        sim = plant.sim("--sorter", "SN-Z,%s" % PLANT_A, *SIM)
                    self.assertEqual(tool.finish(timeout=5), 0, tool.stderr)
                    self.check_answer(sim, tool, sniffer, "SN-Z",
                                      dict(ip="10.9.0.70", dhcp=True), LIMITED_BCAST, SIM_PORT,
                                      before, time.time())


if __name__ == "__main__":
    unittest.main()
