"""Datagrams on the tool's port that are not a 128-byte record with the magic are
ignored and the run goes on: the target is still answered afterwards."""
import random
import re
import time
import unittest

import cfgrecord
import netlab
from netlab import LabTestCase, WS_A, PLANT_A, PLANT_A2, BCAST_A, LIMITED_BCAST, SIM_PORT, TOOL_PORT

netlab.require_lab()

TARGET = "SN-S"
SIM = ("--interval", 100, "--duration", 15, "--log-received")


def strays(good):
    """Stray datagrams made from the target's own broadcast, so that a tool which
    looked only at the first 128 bytes, or not at the magic, would answer."""
    rnd = random.Random(20240611)
    noise = bytes(rnd.randrange(256) for _ in range(cfgrecord.SIZE))
    unterminated = bytearray(good)
    unterminated[cfgrecord.OFF_SERIAL:] = bytes(
        c if c else ord("Z") for c in unterminated[cfgrecord.OFF_SERIAL:])
    return [
        ("100 bytes", good[:100]),
        ("127 bytes", good[:127]),
        ("129 bytes", good + b"\0"),
        ("200 bytes", good + bytes(72)),
        ("empty", b""),
        ("huge", good + bytes(65507 - len(good))),
        ("no magic", b"XXXX_CFG\0" + good[9:]),
        ("magic without its NUL", good[:8] + b"X" + good[9:]),
        ("magic one letter off", b"SNDP_CFH\0" + good[9:]),
        ("unterminated serial", bytes(unterminated)),
        ("random", b"\xa5" + noise[1:]),
    ]


def run_on_serial(record):
    """A serial with no NUL is read on to the last byte of the record, and is
    printed as printable ASCII, a backslash as \\\\ and every other byte as
    \\xNN (the time stamp holds several)."""
    def shown(c):
        if c == ord("\\"):
            return "\\\\"
        return chr(c) if 0x20 <= c <= 0x7E else "\\x%02X" % c
    return "".join(shown(c) for c in record[cfgrecord.OFF_SERIAL:])


class StrayDatagramTest(LabTestCase):
    def target_broadcast(self):
        """One broadcast of the target sorter, as it is on the wire."""
        ws, plant = self.lab.plant_a()
        sniffer = ws.sniffer()
        plant.sim("--sorter", "%s,%s,255.255.255.0,10.9.0.1,off" % (TARGET, PLANT_A),
                  "--interval", 100, "--to-port", 50099, "--count", 1, "--duration", 5)
        record = bytes.fromhex(sniffer.wait_packets(src=PLANT_A, dport=50099)[0]["hex"])
        self.assertEqual(len(record), cfgrecord.SIZE)
        self.assertEqual(cfgrecord.text_at(record, cfgrecord.OFF_SERIAL, cfgrecord.SERIAL_LEN),
                         TARGET)
        return record

    def answer_after(self, plant, sniffer, tool, before):
        sim = plant.sim("--sorter", "%s,%s" % (TARGET, PLANT_A), *SIM)
        self.assertEqual(tool.finish(timeout=5), 0, tool.stderr)
        self.assertTrue(tool.stdout.endswith(self.announcement(TARGET)
                                             + self.summary(TARGET, ip="10.9.0.95")),
                        tool.stdout)
        applied = sim.wait_event("applied")
        self.assertRecord(bytes.fromhex(applied[0]["hex"]), TARGET, ip="10.9.0.95",
                          sent_after=before, sent_before=time.time())
        time.sleep(0.2)
        self.assertEqual(len(sniffer.incoming(src=WS_A)), 1)

    def test_each_kind_of_stray_is_ignored(self):
        good = self.target_broadcast()
        for name, payload in strays(good):
            with self.subTest(name, size=len(payload)):
                with netlab.Lab() as lab:
                    ws, plant = lab.plant_a()
                    sniffer = plant.sniffer()
                    before = time.time()
                    tool = ws.tool("-s", TARGET, "-i", "10.9.0.95")
                    start = self.start_lines(WS_A, TARGET)
                    self.assertTrue(self.expect_lines(tool, start), tool.stderr)
                    for to in (LIMITED_BCAST, BCAST_A):
                        plant.send("%s:%d" % (PLANT_A, SIM_PORT), "%s:%d" % (to, TOOL_PORT),
                                   [payload] * 3)
                    time.sleep(0.3)
                    self.assertTrue(tool.running(), "the tool ended: status %r, stderr %r"
                                    % (tool.popen.poll(), tool.stderr))
                    self.assertEqual(sniffer.incoming(src=WS_A), [], "a stray was answered")
                    if name == "unterminated serial":
                        # It is a record whose serial runs on to the record's
                        # last byte: announced once, under all of that text,
                        # every byte but printable ASCII escaped.
                        self.assertEqual(tool.stdout[len(start):],
                                         self.announcement(run_on_serial(payload)))
                    else:
                        self.assertEqual(tool.stdout, start, "a stray was announced")
                    self.assertEqual(tool.stderr, "", "a stray was not ignored silently")
                    self.assertNotIn("Serial Number '%s' is broadcasting" % TARGET, tool.stdout)
                    self.answer_after(plant, sniffer, tool, before)

    def test_rounds_of_every_stray_from_the_simulator(self):
        ws, plant = self.lab.plant_a(second_sorter_address=True)
        sniffer = plant.sniffer()
        kinds = "short,long,empty,huge,nomagic,magic-no-nul,unterminated,random"
        noisy = plant.sim("--sorter", "DECOY,%s" % PLANT_A2, "--malformed", kinds,
                          "--port", 50011, "--no-firewall-port", *SIM)
        before = time.time()
        tool = ws.tool("-s", TARGET, "-i", "10.9.0.95")
        tool.wait_line("Serial Number 'DECOY' is broadcasting.")
        noisy_sent = len(sniffer.packets(src=PLANT_A2))
        deadline = time.monotonic() + 3
        while len(sniffer.packets(src=PLANT_A2)) < noisy_sent + 5 * 9:
            self.assertLess(time.monotonic(), deadline, "sorter-sim sends too few strays")
            time.sleep(0.05)
        self.assertTrue(tool.running(), tool.stderr)
        self.assertEqual(sniffer.incoming(src=WS_A), [])
        self.answer_after(plant, sniffer, tool, before)
        self.assertEqual(noisy.events("received"), [])
        lines = tool.stdout.splitlines(keepends=True)
        start = self.start_lines(WS_A, TARGET).splitlines(keepends=True)
        self.assertEqual(lines[:len(start)], start)
        middle = lines[len(start):-len(self.summary(TARGET, ip="10.9.0.95").splitlines()) - 1]
        self.assertEqual(middle.count("Serial Number 'DECOY' is broadcasting.\n"), 1, middle)
        # Each round's unterminated record carries a fresh time stamp inside
        # its run-on serial, so each is a sorter of its own, announced once.
        others = "".join(l for l in middle if l != "Serial Number 'DECOY' is broadcasting.\n")
        run_on = re.findall(r"Serial Number '(DECOYZ.*?)' is broadcasting\.\n", others, re.S)
        self.assertGreaterEqual(len(run_on), 1, others)
        self.assertEqual(others, "".join(self.announcement(text) for text in run_on))


if __name__ == "__main__":
    unittest.main()
