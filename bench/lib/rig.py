"""The bench's lab: a workstation and a plant namespace joined by one veth
pair, the helpers that run in them, and how the tool and sorter-sim are
started there.

    workstation 10.9.0.1/24 (to-plantA)  <->  plant 10.9.0.11/24 (to-ws)
"""
import signal

from lib.helpers import BenchError, Helper, Spawner

WS_ADDR = "10.9.0.1"       # the workstation: the tool's side of the veth pair
PLANT_ADDR = "10.9.0.11"   # the plant: sorter-sim and the probe
WS_DEV = "to-plantA"       # the veth end in the workstation's namespace
PLANT_DEV = "to-ws"        # the veth end in the plant's namespace
SIM_PORT = 50010           # the flood's source port
PROBE_PORT = 50020         # the target sorter's (the probe's) port

FLEET = 256
PREFIX = "51455555LX-PLANT-NORTH-"   # 23 shared characters, then 4 digits
TARGET = PREFIX + "9000"
SETTINGS = ["-i", "10.9.0.61", "-u", "255.255.255.0", "-d", "off"]

SENDER_CPU = "0"    # the flood, and with it the kernel's delivery work
RECEIVER_CPU = "1"  # the program under measurement


def fleet_args(rounds):
    """sorter-sim's arguments for the flood: the whole fleet, `rounds` times, no pause."""
    return ["--fleet", "%d,%s,%s" % (FLEET, PREFIX, PLANT_ADDR), "--interval", 0, "--count", rounds]


class Rig:
    def __init__(self, bins, short, lab):
        self.bins = bins
        self.short = short
        self.ws, self.plant = lab.plant_a()
        self.spawner = Spawner(self.ws, [bins["spawner"]], "spawner")
        self.spawner2 = Spawner(self.ws, [bins["spawner"]], "spawner2")
        self.probe = Helper(self.plant, [bins["probe"], PLANT_DEV, PROBE_PORT, TARGET], "probe")
        if self.probe.read(10)[0] != "ready":
            raise BenchError("probe did not start")

    def tool_argv(self, *extra):
        return [self.bins["vormcfg"], "-s", TARGET, "-b", WS_ADDR] + SETTINGS + list(extra)

    def start_sim(self, args, duration):
        argv = ["taskset", "-c", SENDER_CPU, self.bins["sorter-sim"], "--port", SIM_PORT,
                "--no-firewall-port", "--duration", duration] + list(args)
        proc = self.plant.start([str(a) for a in argv], name="sorter-sim")
        proc.wait_event("ready", timeout=10)
        return proc

    @staticmethod
    def stop_sim(proc):
        """Stops sorter-sim; how many broadcasts it sent, or None."""
        proc.stop(signal.SIGINT, timeout=5)
        ends = proc.events("exit")
        return ends[-1]["broadcasts"] if ends else None

    def close(self):
        for helper in (self.probe, self.spawner, self.spawner2):
            helper.close()
