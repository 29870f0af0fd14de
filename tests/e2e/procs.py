"""The processes a lab runs, as the tests see them: Proc reads a process's
output line by line while it runs (text lines and the JSON event lines of
sorter-sim and nstools.py), Sniffer filters the packets nstools.py sniff
reports.  Nothing here starts a process: Netns.start() does, in netsafety.
"""
import json
import queue
import signal
import subprocess
import threading
import time


class Proc:
    """A process running in a lab namespace, its output read line by line."""

    def __init__(self, name, argv, popen, crlf=False):
        self.name = name
        self.argv = argv
        self.popen = popen
        self.pid = popen.pid
        self.started = time.monotonic()
        self.ended = None
        self.out = []          # (monotonic time, line) for every stdout line read
        self.err = []
        self._outq = queue.Queue()
        self._readers = [
            threading.Thread(target=self._read, args=(popen.stdout, self.out, self._outq, crlf),
                             daemon=True),
            threading.Thread(target=self._read, args=(popen.stderr, self.err, None, crlf),
                             daemon=True),
        ]
        for t in self._readers:
            t.start()

    @staticmethod
    def _read(pipe, store, q, crlf):
        for raw in iter(pipe.readline, b""):
            if crlf and raw.endswith(b"\r\n"):
                # A Windows program's text streams end lines with CR LF.
                raw = raw[:-2] + b"\n"
            item = (time.monotonic(), raw.decode("utf-8", "replace"))
            store.append(item)
            if q is not None:
                q.put(item)
        if q is not None:
            q.put(None)

    # -- stdout, as it arrives -------------------------------------------------
    def next_line(self, timeout):
        """Next stdout line, or None at end of output; raises TimeoutError."""
        try:
            item = self._outq.get(timeout=max(0.0, timeout))
        except queue.Empty:
            raise TimeoutError("%s: no output line within %.1f s; so far stdout=%r stderr=%r"
                               % (self.name, timeout, self.stdout, self.stderr))
        if item is None:
            self._outq.put(None)
            return None
        return item[1]

    def wait_line(self, match, timeout=5.0):
        """Consume stdout lines until one matches (a str is compared with the line
        without its newline, a compiled regex is searched); returns that line."""
        deadline = time.monotonic() + timeout
        while True:
            line = self.next_line(deadline - time.monotonic())
            if line is None:
                raise AssertionError("%s ended (status %r) before printing %r; stdout=%r stderr=%r"
                                     % (self.name, self.popen.poll(), getattr(match, "pattern", match),
                                        self.stdout, self.stderr))
            if isinstance(match, str):
                if line.rstrip("\n") == match:
                    return line
            elif match.search(line):
                return line

    def wait_text(self, text, timeout=5.0):
        """Wait until stdout holds `text` anywhere (lines read are not consumed)."""
        deadline = time.monotonic() + timeout
        while text not in self.stdout:
            if time.monotonic() > deadline or (self.popen.poll() is not None
                                               and not self._readers[0].is_alive()
                                               and text not in self.stdout):
                raise AssertionError("%s: %r not printed (status %r); stdout=%r stderr=%r"
                                     % (self.name, text, self.popen.poll(), self.stdout,
                                        self.stderr))
            time.sleep(0.02)

    @property
    def stdout(self):
        return "".join(l for _, l in list(self.out))

    @property
    def stderr(self):
        return "".join(l for _, l in list(self.err))

    # -- JSON lines (sorter-sim, nstools) ------------------------------------------
    def events(self, name=None):
        found = []
        for _, line in list(self.out):
            try:
                obj = json.loads(line)
            except ValueError:
                continue
            if isinstance(obj, dict) and (name is None or obj.get("event") == name):
                found.append(obj)
        return found

    def wait_event(self, name, timeout=5.0, where=None, count=1):
        """Wait until `count` events called `name` (passing `where`) have been
        printed; returns them all."""
        deadline = time.monotonic() + timeout
        while True:
            hits = [e for e in self.events(name) if where is None or where(e)]
            if len(hits) >= count:
                return hits
            if time.monotonic() > deadline:
                raise AssertionError("%s: %d of %d %r events within %.1f s; status %r; stderr=%r; "
                                     "last stdout=%r" % (self.name, len(hits), count, name, timeout,
                                                          self.popen.poll(), self.stderr[-2000:],
                                                          self.stdout[-2000:]))
            if self.popen.poll() is not None and not self._readers[0].is_alive():
                hits = [e for e in self.events(name) if where is None or where(e)]
                if len(hits) >= count:
                    return hits
                raise AssertionError("%s ended (status %r) after %d of %d %r events; stderr=%r"
                                     % (self.name, self.popen.returncode, len(hits), count, name,
                                        self.stderr[-2000:]))
            time.sleep(0.02)

    # -- life cycle ------------------------------------------------------------------
    def running(self):
        return self.popen.poll() is None

    def send_signal(self, sig):
        if self.popen.poll() is None:
            self.popen.send_signal(sig)

    def finish(self, timeout=5.0):
        """Wait for the process to end by itself; returns its status."""
        try:
            self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("%s still running after %.1f s; stdout=%r stderr=%r"
                                 % (self.name, timeout, self.stdout, self.stderr))
        self._after_exit()
        return self.popen.returncode

    def stop(self, sig=signal.SIGINT, timeout=5.0):
        """Signal the process and wait for it; kills it if it does not end."""
        self.send_signal(sig)
        try:
            self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
        self._after_exit()
        return self.popen.returncode

    def kill(self):
        if self.popen.poll() is None:
            try:
                self.popen.kill()
            except ProcessLookupError:
                pass
        try:
            self.popen.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass
        self._after_exit()

    def _after_exit(self):
        if self.ended is None:
            self.ended = time.monotonic()
        for t in self._readers:
            t.join(timeout=2)
        for pipe in (self.popen.stdin, self.popen.stdout, self.popen.stderr):
            if pipe is not None:
                try:
                    pipe.close()
                except OSError:
                    pass

    @property
    def elapsed(self):
        return (self.ended or time.monotonic()) - self.started


class Sniffer:
    """nstools.py sniff: every IPv4 packet seen in a namespace."""

    def __init__(self, proc):
        self.proc = proc

    def packets(self, **match):
        """UDP packets whose fields equal the given ones (src=..., dst=..., dport=...)."""
        return [p for p in self.proc.events("packet")
                if p.get("proto") == 17 and "fragment_offset" not in p
                and all(p.get(k) == v for k, v in match.items())]

    def incoming(self, **match):
        """Packets that arrived from another namespace (not sent from this one)."""
        return [p for p in self.packets(**match) if p.get("pkttype") != 4]

    def wait_packets(self, count=1, timeout=5.0, **match):
        deadline = time.monotonic() + timeout
        while True:
            hits = self.incoming(**match)
            if len(hits) >= count:
                return hits
            if time.monotonic() > deadline:
                raise AssertionError("sniffer in %s: %d of %d packets matching %r within %.1f s"
                                     % (self.proc.name, len(hits), count, match, timeout))
            time.sleep(0.02)
