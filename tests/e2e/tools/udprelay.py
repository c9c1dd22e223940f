#!/usr/bin/env python3
"""A UDP relay between the console and the demo platform on loopback, for the end-to-end tests.

  udprelay.py --console-side PORT --platform-side PORT --console HOST:PORT --platform HOST:PORT
              [--drop P] [--seed N] [--storm N] [--report FILE]

The console knows the console side as the platform's address; the platform sends everything to
the platform side (gbplat --outbound-proxy). What the console sends goes on to the platform,
what the platform sends goes on to the console, each datagram dropped with probability P (a
fixed seed makes the run repeat itself).

With --storm, SIGUSR1 sends N hostile datagrams (sipstorm.py) to the console from the console
side, the platform's address as the console knows it. They go in batches, each followed by a
keepalive MESSAGE the console must answer before the next batch: so the console's socket buffer
never overflows, the answer times tell how long a batch took, and the storm rate is what the
console handles. The console's answers to the storm do not reach the platform.
Report lines (also on stdout): "STORM ..." figures, then "STORM done". Standard library only.
"""

import argparse
import os
import random
import selectors
import signal
import socket
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sipstorm  # noqa: E402

BATCH_BYTES = 96 * 1024  # well inside the console's receive buffer
BATCH_COUNT = 64
PROBE_WAIT = 5.0  # seconds before a probe counts as lost


def endpoint(text):
    host, port = text.rsplit(":", 1)
    return host, int(port)


def udp_drops(port):
    """The kernel's drop count of the UDP socket bound to port (0 when not found)."""
    try:
        with open("/proc/net/udp") as f:
            for line in f.readlines()[1:]:
                fields = line.split()
                if int(fields[1].split(":")[1], 16) == port:
                    return int(fields[-1])
    except OSError:
        pass
    return 0


class Storm:
    def __init__(self, args, console_side):
        ids = sipstorm.Ids("%s:%d" % args.console, "127.0.0.1:%d" % args.console_side,
                           args.host_code, args.plat_code)
        self.ids = ids
        self.sock = console_side
        self.to = args.console
        without = set(k.strip() for k in args.without.split(",") if k.strip())
        self.source = sipstorm.storm(random.Random(args.seed + 1), args.storm, ids, without)
        self.total = args.storm
        self.sent = self.bytes = self.probes = self.answered = 0
        self.slowest = 0.0
        self.kinds = {}
        self.waiting = None  # (probe number, sent at)
        self.started = time.monotonic()
        self.drops_before = udp_drops(args.console[1])
        self.done = False

    def probe(self):
        self.probes += 1
        rng = random.Random(self.probes)
        body = ('<?xml version="1.0"?><Notify><CmdType>Keepalive</CmdType><SN>%d</SN>'
                "<DeviceID>%s</DeviceID><Status>OK</Status></Notify>"
                % (self.probes, self.ids.plat_code)).encode()
        text = sipstorm._request(rng, self.ids, "MESSAGE", body,
                                 call_id="storm-probe-%d" % self.probes)
        self.sock.sendto(text, self.to)
        self.waiting = (self.probes, time.monotonic())

    def step(self):
        """Sends the next batch when the last probe was answered (or given up)."""
        if self.done:
            return
        now = time.monotonic()
        if self.waiting is not None:
            if now - self.waiting[1] < PROBE_WAIT:
                return
            self.waiting = None  # lost: go on
        batch_bytes = 0
        for _ in range(BATCH_COUNT):
            item = next(self.source, None)
            if item is None:
                break
            kind, data = item
            self.sock.sendto(data[:65507], self.to)
            self.sent += 1
            self.bytes += len(data)
            self.kinds[kind] = self.kinds.get(kind, 0) + 1
            batch_bytes += len(data)
            if batch_bytes >= BATCH_BYTES:
                break
        self.probe()

    def answered_probe(self, text):
        if self.waiting is None or b"storm-probe-%d\r\n" % self.waiting[0] not in text:
            return
        self.slowest = max(self.slowest, time.monotonic() - self.waiting[1])
        self.answered += 1
        self.waiting = None
        if self.sent >= self.total:
            self.done = True

    def report(self):
        seconds = time.monotonic() - self.started
        drops = udp_drops(self.to[1]) - self.drops_before
        yield ("STORM sent %d datagrams (%d bytes) in %.1f s: %.0f datagrams/s handled, "
               "%d dropped by the kernel" % (self.sent, self.bytes, seconds,
                                             (self.sent - drops) / seconds, drops))
        yield ("STORM probes answered %d of %d, slowest answer %.0f ms"
               % (self.answered, self.probes, self.slowest * 1000))
        yield "STORM kinds " + ", ".join("%s %d" % kv for kv in sorted(self.kinds.items()))
        yield "STORM done"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--console-side", type=int, required=True)
    ap.add_argument("--platform-side", type=int, required=True)
    ap.add_argument("--console", type=endpoint, required=True)
    ap.add_argument("--platform", type=endpoint, required=True)
    ap.add_argument("--drop", type=float, default=0.0)
    ap.add_argument("--seed", type=int, default=9)
    ap.add_argument("--storm", type=int, default=0)
    ap.add_argument("--without", default="", help="storm kinds left out, comma-separated")
    ap.add_argument("--host-code", default="01552400000805100001")
    ap.add_argument("--plat-code", default="01552403048401000001")
    ap.add_argument("--report", default=None)
    args = ap.parse_args()

    report = open(args.report, "a") if args.report else None

    def say(line):
        print(line, flush=True)
        if report:
            report.write(line + "\n")
            report.flush()

    def bound(port):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 21)
        s.bind(("127.0.0.1", port))
        s.setblocking(False)
        return s

    console_side = bound(args.console_side)
    platform_side = bound(args.platform_side)
    sel = selectors.DefaultSelector()
    sel.register(console_side, selectors.EVENT_READ, "console")
    sel.register(platform_side, selectors.EVENT_READ, "platform")
    loss = random.Random(args.seed)
    counts = {"console": [0, 0], "platform": [0, 0]}  # forwarded, dropped
    state = {"storm": None, "go": False, "stop": False}
    signal.signal(signal.SIGUSR1, lambda *_: state.update(go=True))
    signal.signal(signal.SIGTERM, lambda *_: state.update(stop=True))
    signal.signal(signal.SIGINT, lambda *_: state.update(stop=True))
    say("relay listening: console side %d, platform side %d, drop %.2f, seed %d"
        % (args.console_side, args.platform_side, args.drop, args.seed))

    while not state["stop"]:
        if state["go"] and args.storm and state["storm"] is None:
            state["storm"] = Storm(args, console_side)
            say("STORM started: %d datagrams" % args.storm)
        storm = state["storm"]
        if storm is not None and not storm.done:
            storm.step()
        for key, _ in sel.select(timeout=0.005 if storm and not storm.done else 0.2):
            side = key.data
            sock = key.fileobj
            while True:
                try:
                    data, source = sock.recvfrom(65535)
                except BlockingIOError:
                    break
                if side == "console" and b"Call-ID: storm" in data:
                    if storm is not None:
                        storm.answered_probe(data)
                    continue  # the console's answers to the storm
                if loss.random() < args.drop:
                    counts[side][1] += 1
                    continue
                counts[side][0] += 1
                if side == "console":
                    platform_side.sendto(data, args.platform)
                else:
                    console_side.sendto(data, args.console)
        if storm is not None and storm.done and not getattr(storm, "reported", False):
            storm.reported = True
            for line in storm.report():
                say(line)
    say("relay forwarded from the console %d (dropped %d), from the platform %d (dropped %d)"
        % (counts["console"][0], counts["console"][1], counts["platform"][0],
           counts["platform"][1]))


if __name__ == "__main__":
    main()
