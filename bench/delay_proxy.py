#!/usr/bin/python3
"""FTP-aware delay proxy on 127.0.0.1: a stand-in for a long-distance link.

    delay_proxy.py --upstream PORT [--listen PORT] [--delay-ms 10] [--port-file FILE]
                   [--lifetime S] [--cut-percent P] [--stall-percent P] [--stall-seconds S]
                   [--seed N]

Accepts FTP control connections on 127.0.0.1 (--listen, 0 = any free port; the port is
printed on the first line of standard output and written to --port-file) and forwards each to
127.0.0.1:--upstream. Every byte, in each direction, is held for --delay-ms before it is passed
on (a fixed one-way delay; bandwidth is not limited and bytes keep their order). Replies "227"
(PASV) and "229" (EPSV) from the server are rewritten to name a fresh listener of the proxy, which
forwards the one data connection it accepts to the address the server announced, with the same
delay. Active mode (PORT, EPRT) is not supported: the benchmark clients run passive.
--delay-ms 0 passes bytes straight on, with no queue in between.

Opening a connection costs the delay once: the proxy connects upstream only after it. The
client's own connect() returns at once (the kernel completes it), so each connection set-up is
one one-way delay cheaper than on a real link, for every client alike.

Chaos mode, for testing how a client copes with a broken link (both default 0: off). Every
proxied connection, control or data, is numbered and, with probability --cut-percent/100, cut, or
with probability --stall-percent/100 stalled, once a random number of its bytes (uniform in 0..16
KiB, both directions counted together) has passed, or at its end if it carries fewer (the end is
then not passed on). A cut closes both sides at once: a reset (SO_LINGER 0) or a plain close,
picked at random; at the end of a connection always a reset, since a plain close there is the
normal end. A download's data connection closed plainly midway can leave the client a short file
while the server, its data already handed to its kernel, still replies 226. A stall stops
forwarding both ways and holds both sides open for --stall-seconds (default 120), then closes
them. --seed makes the choices reproducible. Each fault is reported on standard error ("chaos:
cut data connection #17 after 812 bytes, reset"), and at exit a summary ("chaos: N connections,
C cut, S stalled").

Only 127.0.0.1 is ever contacted. Runs until killed (SIGTERM/SIGINT), or until --lifetime
seconds have passed.
"""
import argparse
import asyncio
import collections
import random
import re
import signal
import socket
import struct
import sys
import time

LOOPBACK = "127.0.0.1"
CHUNK = 1 << 16
# A fault comes after 0..FAULT_BYTES bytes: the benchmark's small files are 1 to 16 KiB, so
# most faults on data connections land inside a transfer rather than at its end.
FAULT_BYTES = 1 << 14
PASV = re.compile(rb"^227 [^(]*\((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)")
EPSV = re.compile(rb"^229 [^(]*\((.)\1\1(\d+)\1\)")
# The running connections: the event loop holds tasks only weakly, and one was seen collected
# (with its sockets) while it still waited on a peer.
LINKS = set()


class Tripped(Exception):
    """A connection reached its planned fault: nothing more may be passed on."""


class Gate:
    """Counts one connection's bytes, both directions together, and trips at its planned fault
    (None: never)."""

    def __init__(self, chaos, kind, number, fault=None, after=0, reset=False):
        self.chaos, self.kind, self.number = chaos, kind, number
        self.fault, self.after, self.reset = fault, after, reset
        self.seen = 0
        self.tripped = self.at_end = False

    def admit(self, data):
        """The part of `data` that passes before the fault; an empty `data` (the end of one
        direction) trips a fault not reached yet."""
        if self.fault is None:
            return data
        if self.tripped:
            return b""
        room = self.after - self.seen
        if data and len(data) <= room:
            self.seen += len(data)
            return data
        self.tripped = True
        self.at_end = not data
        self.seen += min(len(data), room)
        return data[:room]

    async def strike(self, writers):
        """Carries out the fault on both sides of the tripped connection."""
        what = f"{self.kind} connection #{self.number} after {self.seen} bytes"
        if self.at_end:
            what += " (at its end)"
        if self.fault == "stall":
            self.chaos.report("stalls", f"stalled {what} for {self.chaos.stall_seconds:g} s")
            await asyncio.sleep(self.chaos.stall_seconds)
            return
        reset = self.reset or self.at_end
        self.chaos.report("cuts", f"cut {what}, {'reset' if reset else 'closed'}")
        for w in writers:
            abort(w, reset)


class Chaos:
    """Plans each connection's fault, if any, and keeps the counts."""

    def __init__(self, cut_percent=0.0, stall_percent=0.0, stall_seconds=120.0, seed=None):
        self.cut, self.stall = cut_percent / 100, stall_percent / 100
        self.stall_seconds = stall_seconds
        self.rng = random.Random(seed)
        self.connections = self.cuts = self.stalls = 0

    @property
    def on(self):
        return self.cut > 0 or self.stall > 0

    def gate(self, kind):
        self.connections += 1
        if not self.on:
            return Gate(self, kind, self.connections)
        r = self.rng.random()
        fault = "cut" if r < self.cut else "stall" if r < self.cut + self.stall else None
        return Gate(self, kind, self.connections, fault,
                    self.rng.randint(0, FAULT_BYTES), self.rng.random() < 0.5)

    def report(self, counter, line):
        setattr(self, counter, getattr(self, counter) + 1)
        print(f"chaos: {line}", file=sys.stderr, flush=True)

    def summary(self):
        return f"chaos: {self.connections} connections, {self.cuts} cut, {self.stalls} stalled"


def abort(writer, reset):
    """Closes at once, dropping what is still buffered; with `reset` the peer gets an RST."""
    try:
        if reset:
            sock = writer.get_extra_info("socket")
            if sock is not None:
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        writer.transport.abort()
    except OSError:
        pass


class DelayedPipe:
    """Copies reader to writer, each chunk delivered `delay` seconds after it was read. A
    separate writer task keeps reading and delivering independent, so the delay does not cut the
    throughput; with no delay each chunk is written at once, with the writer's back-pressure.
    `rewrite` (for the control connection's server side) may replace whole lines. Raises Tripped
    when the gate trips."""

    def __init__(self, reader, writer, delay, gate, rewrite=None):
        self.reader, self.writer, self.delay, self.rewrite = reader, writer, delay, rewrite
        self.gate = gate
        self.broken = False
        self.queue = collections.deque()
        self.ready = asyncio.Event()

    async def run(self):
        if not self.delay:
            await self._read()
            self._end()
            return
        deliver = asyncio.ensure_future(self._deliver())
        try:
            await self._read()
            self._push(None)
            await deliver
        finally:
            deliver.cancel()  # tripped or cancelled: what is still queued is dropped

    async def _read(self):
        pending = b""
        while True:
            try:
                data = await self.reader.read(CHUNK)
            except (ConnectionError, OSError):
                data = b""
            passed = self.gate.admit(data)
            if self.rewrite is None:
                out = passed
            else:
                pending += passed
                *lines, pending = pending.split(b"\n")
                out = b"".join([await self.rewrite(line + b"\n") for line in lines])
            if out:
                await self._emit(out)
            if self.gate.tripped:
                raise Tripped()
            if not data:
                if pending:
                    await self._emit(pending)
                return

    async def _emit(self, data):
        if self.delay:
            self._push(data)
            return
        if self.broken:
            return  # the peer is gone: read on to the end, dropping the rest
        try:
            self.writer.write(data)
            await self.writer.drain()
        except (ConnectionError, OSError):
            self.broken = True

    def _push(self, data):
        self.queue.append((time.monotonic() + self.delay, data))
        self.ready.set()

    def _end(self):
        try:
            if self.writer.can_write_eof():
                self.writer.write_eof()
            else:
                self.writer.close()
        except (ConnectionError, OSError):
            pass

    async def _deliver(self):
        while True:
            while not self.queue:
                self.ready.clear()
                await self.ready.wait()
            due, data = self.queue.popleft()
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            if data is None:
                self._end()
                return
            try:
                self.writer.write(data)
                await self.writer.drain()
            except (ConnectionError, OSError):
                return


async def link(client_reader, client_writer, host, port, delay, gate, rewrite=None):
    """One proxied connection: upstream is reached after one delay, then both ways delayed."""
    task = asyncio.current_task()
    LINKS.add(task)
    try:
        await forward(client_reader, client_writer, host, port, delay, gate, rewrite)
    finally:
        LINKS.discard(task)


async def forward(client_reader, client_writer, host, port, delay, gate, rewrite):
    await asyncio.sleep(delay)
    try:
        up_reader, up_writer = await asyncio.open_connection(host, port)
    except OSError:
        client_writer.close()
        return
    writers = (client_writer, up_writer)
    pipes = [asyncio.ensure_future(p.run()) for p in (
        DelayedPipe(client_reader, up_writer, delay, gate),
        DelayedPipe(up_reader, client_writer, delay, gate, rewrite),
    )]
    try:
        await asyncio.gather(*pipes)
    except Tripped:
        for p in pipes:
            p.cancel()
        await gate.strike(writers)
    finally:
        for w in writers:
            try:
                w.close()
            except OSError:
                pass


async def data_listener(host, port, delay, chaos):
    """A one-shot listener that forwards its one connection to host:port; returns its port."""
    done = asyncio.Event()

    async def on_connect(reader, writer):
        server.close()
        try:
            await link(reader, writer, host, port, delay, chaos.gate("data"))
        finally:
            done.set()

    server = await asyncio.start_server(on_connect, LOOPBACK, 0)

    async def expire():
        # A data connection that is never made must not keep a listener for ever.
        try:
            await asyncio.wait_for(done.wait(), timeout=120)
        except asyncio.TimeoutError:
            server.close()

    asyncio.ensure_future(expire())
    return server.sockets[0].getsockname()[1]


def control_rewriter(delay, chaos):
    async def rewrite(line):
        m = PASV.match(line)
        if m:
            host = ".".join(x.decode() for x in m.groups()[:4])
            port = int(m.group(5)) * 256 + int(m.group(6))
            if host != LOOPBACK:
                host = LOOPBACK  # the server may announce another of its own addresses
            mine = await data_listener(host, port, delay, chaos)
            return b"227 Entering Passive Mode (127,0,0,1,%d,%d).\r\n" % (mine // 256, mine % 256)
        m = EPSV.match(line)
        if m:
            mine = await data_listener(LOOPBACK, int(m.group(2)), delay, chaos)
            return b"229 Entering Extended Passive Mode (|||%d|)\r\n" % mine
        return line

    return rewrite


async def main_async(a):
    delay = a.delay_ms / 1000.0
    chaos = Chaos(a.cut_percent, a.stall_percent, a.stall_seconds, a.seed)

    async def on_control(reader, writer):
        await link(reader, writer, LOOPBACK, a.upstream, delay, chaos.gate("control"),
                   control_rewriter(delay, chaos))

    server = await asyncio.start_server(on_control, LOOPBACK, a.listen)
    port = server.sockets[0].getsockname()[1]
    print(port, flush=True)
    if a.port_file:
        with open(a.port_file, "w") as f:
            f.write(f"{port}\n")
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    try:
        await asyncio.wait_for(stop.wait(), timeout=a.lifetime)
    except asyncio.TimeoutError:
        pass
    server.close()
    if chaos.on:
        print(chaos.summary(), file=sys.stderr, flush=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--upstream", type=int, required=True, help="FTP server port on 127.0.0.1")
    ap.add_argument("--listen", type=int, default=0, help="control port (0: any free one)")
    ap.add_argument("--delay-ms", type=float, default=10.0, help="one-way delay, each direction")
    ap.add_argument("--port-file", help="also write the listening port here")
    ap.add_argument("--lifetime", type=float, default=6 * 3600, help="stop after this long (s)")
    ap.add_argument("--cut-percent", type=float, default=0.0, help="percent of connections cut")
    ap.add_argument("--stall-percent", type=float, default=0.0,
                    help="percent of connections stalled")
    ap.add_argument("--stall-seconds", type=float, default=120.0,
                    help="how long a stalled connection is held open")
    ap.add_argument("--seed", type=int, help="random seed, for a reproducible run")
    a = ap.parse_args()
    if not 0 <= a.delay_ms <= 1000:
        sys.exit("--delay-ms must be 0..1000")
    if not (0 <= a.cut_percent <= 100 and 0 <= a.stall_percent <= 100
            and a.cut_percent + a.stall_percent <= 100):
        sys.exit("--cut-percent and --stall-percent must be 0..100, together at most 100")
    if not 0 <= a.stall_seconds <= 86400:
        sys.exit("--stall-seconds must be 0..86400")
    asyncio.run(main_async(a))


if __name__ == "__main__":
    main()
