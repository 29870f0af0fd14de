"""Datagrams on the tool's port that are not a 128-byte record with the magic are
ignored and the run goes on: the target is still answered afterwards."""
import time
import unittest

import cfgrecord
import expected_text
import netlab
from expected_text import announcement
from netlab import LabTestCase, WS_A, PLANT_A, PLANT_A2, BCAST_A, LIMITED_BCAST, SIM_PORT, TOOL_PORT
from strays import strays_of

netlab.require_lab()

TARGET = "SN-S"
SIM = ("--interval", 100, "--duration", 15, "--log-received")
PACKET_OUTGOING = 4  # a packet's type as the sniffer sees it leave


def run_on_serials_sent(sniffer, source):
    """The serials, as shown, of the records with a run-on serial that left
    `source`, in the order they left (each once: not its looped-back copy)."""
    serials = []
    for packet in sniffer.packets(src=source, pkttype=PACKET_OUTGOING):
        record = bytes.fromhex(packet["hex"])
        if (len(record) == cfgrecord.SIZE and record.startswith(cfgrecord.MAGIC)
                and b"\0" not in record[cfgrecord.OFF_SERIAL:]):
            serials.append(expected_text.serial_shown(record))
    return serials


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
        self.assertTrue(tool.stdout.endswith(announcement(TARGET)
                                             + self.summary(TARGET, ip="10.9.0.95")),
                        tool.stdout)
        applied = sim.wait_event("applied")
        self.assertRecord(bytes.fromhex(applied[0]["hex"]), TARGET, ip="10.9.0.95",
                          sent_after=before, sent_before=time.time())
        time.sleep(0.2)
        self.assertEqual(len(sniffer.incoming(src=WS_A)), 1)

    def test_each_kind_of_stray_is_ignored(self):
        good = self.target_broadcast()
        for name, payload, announced_as in strays_of(good):
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
                    # A serial with no NUL runs on to the record's last byte: that
                    # record is announced once, under all of that text, every byte
                    # but printable ASCII escaped (the time stamp holds several).
                    announced = announcement(announced_as) if announced_as is not None else ""
                    self.assertEqual(tool.stdout[len(start):], announced, "a stray was announced")
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
        self.assertEqual(middle.count(announcement("DECOY")), 1, middle)
        # Each round's unterminated record carries a fresh time stamp inside
        # its run-on serial, so each is a sorter of its own, announced once:
        # those the tool heard, a run of what the simulator sent, in order.
        others = "".join(l for l in middle if l != announcement("DECOY"))
        sent = run_on_serials_sent(sniffer, PLANT_A2)
        heard = expected_text.announced(others)
        self.assertGreaterEqual(len(heard), 1, others)
        self.assertIn(heard[0], sent, "announced, but never sent")
        first = sent.index(heard[0])
        self.assertEqual(others, "".join(announcement(serial)
                                         for serial in sent[first:first + len(heard)]))


if __name__ == "__main__":
    unittest.main()
