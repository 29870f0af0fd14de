"""The bench's line-command helpers (spawner.cpp, probe.cpp), each running in
a lab namespace: one command per line on its stdin, one answer per line."""
import sys


class BenchError(Exception):
    """The bench cannot measure: a build failed, a program did not start or answer."""


def note(text):
    sys.stderr.write("bench: %s\n" % text)
    sys.stderr.flush()


class Helper:
    """A line-command helper (spawner, probe) running in a lab namespace."""

    def __init__(self, netns, argv, name):
        self.name = name
        self.proc = netns.start([str(a) for a in argv], name=name, stdin=True)

    def tell(self, line):
        try:
            self.proc.popen.stdin.write((line + "\n").encode())
            self.proc.popen.stdin.flush()
        except OSError as exc:
            raise BenchError("%s: cannot write (%s); stderr: %s" % (self.name, exc, self.proc.stderr))

    def read(self, timeout):
        line = self.proc.next_line(timeout)
        if line is None:
            raise BenchError("%s ended; stderr: %s" % (self.name, self.proc.stderr[-2000:]))
        return line.split()

    def ask(self, line, timeout=30.0):
        self.tell(line)
        return self.read(timeout)

    def expect(self, line, word, timeout=30.0):
        answer = self.ask(line, timeout)
        if not answer or answer[0] != word:
            raise BenchError("%s: %r answered %r" % (self.name, line, " ".join(answer)))
        return answer

    def close(self):
        try:
            self.tell("quit")
        except BenchError:
            pass
        self.proc.stop(timeout=3)


class Spawner(Helper):
    """spawner.cpp: starts a program, times it to its ready line, reads its
    memory and CPU, reaps it, reads the namespace's UDP counters."""

    def start(self, argv, timeout=15.0):
        a = self.expect("start " + "\t".join(str(x) for x in argv), "ready", timeout)
        return {"pid": int(a[1]), "spawned": int(a[2]), "ready": int(a[3]), "vmhwm_kib": int(a[4]),
                "vmrss_kib": int(a[5]), "cpu_ns": int(a[6])}

    @staticmethod
    def _exit(a):
        return {"status": int(a[1]), "cpu_ns": (int(a[2]) + int(a[3])) * 1000, "user_ns": int(a[2]) * 1000,
                "timed_out": a[4] == "1", "exited": int(a[5]), "output_bytes": int(a[6])}

    def wait(self, timeout_ms):
        return self._exit(self.expect("wait %d" % timeout_ms, "exit", timeout_ms / 1000.0 + 5))

    def read_exit(self, timeout):
        a = self.read(timeout)
        if a[0] != "exit":
            raise BenchError("%s: wait answered %r" % (self.name, " ".join(a)))
        return self._exit(a)

    def stop(self):
        return self._exit(self.expect("stop", "exit", 5))

    def pin(self, cpus):
        self.expect("cpu %s" % cpus, "ok")

    def udp(self):
        a = self.expect("udp", "udp")
        return {"in": int(a[1]), "noports": int(a[2]), "errors": int(a[3]), "rcvbuf": int(a[4])}
