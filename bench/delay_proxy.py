#!/usr/bin/python3
"""FTP-aware delay proxy on 127.0.0.1: a stand-in for a long-distance link.

    delay_proxy.py --upstream PORT [--listen PORT] [--delay-ms 10] [--port-file FILE]

Accepts FTP control connections on 127.0.0.1 (--listen, 0 = any free port; the port is
printed on the first line of standard output and written to --port-file) and forwards each to
127.0.0.1:--upstream. Every byte, in each direction, is held for --delay-ms before it is passed
on (a fixed one-way delay; bandwidth is not limited and bytes keep their order). Replies "227"
(PASV) and "229" (EPSV) from the server are rewritten to name a fresh listener of the proxy, which
forwards the one data connection it accepts to the address the server announced, with the same
delay. Active mode (PORT, EPRT) is not supported: the benchmark clients run passive.

Opening a connection costs the delay once: the proxy connects upstream only after it. The
client's own connect() returns at once (the kernel completes it), so each connection set-up is
one one-way delay cheaper than on a real link, for every client alike.

Only 127.0.0.1 is ever contacted. Runs until killed (SIGTERM/SIGINT), or until --lifetime
seconds have passed.
"""
import argparse
import asyncio
import collections
import re
import signal
import sys
import time

LOOPBACK = "127.0.0.1"
CHUNK = 1 << 16
PASV = re.compile(rb"^227 [^(]*\((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)")
EPSV = re.compile(rb"^229 [^(]*\((.)\1\1(\d+)\1\)")


class DelayedPipe:
    """Copies reader to writer, each chunk delivered `delay` seconds after it was read. A
    separate writer task keeps reading and delivering independent, so the delay does not cut the
    throughput. `rewrite` (for the control connection's server side) may replace whole lines."""

    def __init__(self, reader, writer, delay, rewrite=None):
        self.reader, self.writer, self.delay, self.rewrite = reader, writer, delay, rewrite
        self.queue = collections.deque()
        self.ready = asyncio.Event()

    async def run(self):
        deliver = asyncio.ensure_future(self._deliver())
        try:
            await self._read()
        finally:
            self.queue.append((time.monotonic() + self.delay, None))
            self.ready.set()
            await deliver

    async def _read(self):
        pending = b""
        while True:
            try:
                data = await self.reader.read(CHUNK)
            except (ConnectionError, OSError):
                data = b""
            if not data:
                if pending:
                    self._push(pending)
                return
            if self.rewrite is None:
                self._push(data)
                continue
            pending += data
            *lines, pending = pending.split(b"\n")
            out = b""
            for line in lines:
                out += await self.rewrite(line + b"\n")
            if out:
                self._push(out)

    def _push(self, data):
        self.queue.append((time.monotonic() + self.delay, data))
        self.ready.set()

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
                try:
                    if self.writer.can_write_eof():
                        self.writer.write_eof()
                    else:
                        self.writer.close()
                except (ConnectionError, OSError):
                    pass
                return
            try:
                self.writer.write(data)
                await self.writer.drain()
            except (ConnectionError, OSError):
                return


async def link(client_reader, client_writer, host, port, delay, rewrite=None):
    """One proxied connection: upstream is reached after one delay, then both ways delayed."""
    await asyncio.sleep(delay)
    try:
        up_reader, up_writer = await asyncio.open_connection(host, port)
    except OSError:
        client_writer.close()
        return
    try:
        await asyncio.gather(
            DelayedPipe(client_reader, up_writer, delay).run(),
            DelayedPipe(up_reader, client_writer, delay, rewrite).run(),
        )
    finally:
        for w in (client_writer, up_writer):
            try:
                w.close()
            except OSError:
                pass


async def data_listener(host, port, delay):
    """A one-shot listener that forwards its one connection to host:port; returns its port."""
    done = asyncio.Event()

    async def on_connect(reader, writer):
        server.close()
        try:
            await link(reader, writer, host, port, delay)
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


def control_rewriter(delay):
    async def rewrite(line):
        m = PASV.match(line)
        if m:
            host = ".".join(x.decode() for x in m.groups()[:4])
            port = int(m.group(5)) * 256 + int(m.group(6))
            if host != LOOPBACK:
                host = LOOPBACK  # the server may announce another of its own addresses
            mine = await data_listener(host, port, delay)
            return b"227 Entering Passive Mode (127,0,0,1,%d,%d).\r\n" % (mine // 256, mine % 256)
        m = EPSV.match(line)
        if m:
            mine = await data_listener(LOOPBACK, int(m.group(2)), delay)
            return b"229 Entering Extended Passive Mode (|||%d|)\r\n" % mine
        return line

    return rewrite


async def main_async(a):
    delay = a.delay_ms / 1000.0

    async def on_control(reader, writer):
        await link(reader, writer, LOOPBACK, a.upstream, delay, control_rewriter(delay))

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


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--upstream", type=int, required=True, help="FTP server port on 127.0.0.1")
    ap.add_argument("--listen", type=int, default=0, help="control port (0: any free one)")
    ap.add_argument("--delay-ms", type=float, default=10.0, help="one-way delay, each direction")
    ap.add_argument("--port-file", help="also write the listening port here")
    ap.add_argument("--lifetime", type=float, default=6 * 3600, help="stop after this long (s)")
    a = ap.parse_args()
    if not 0 <= a.delay_ms <= 1000:
        sys.exit("--delay-ms must be 0..1000")
    asyncio.run(main_async(a))


if __name__ == "__main__":
    main()
