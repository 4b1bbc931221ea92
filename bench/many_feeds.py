#!/usr/bin/python3
"""Many feeds at once: the whole corvane-cli update process against newsboat's reload, in one run.

A loopback server listens on 127.0.0.2 to 127.0.0.101 (each address bound on its own) and
answers every request after a delay, with Last-Modified, and 304 to an If-Modified-Since that
is not older. Each case runs both programs interleaved, ROUNDS times, on a fresh cache and then
once more where every feed answers 304, and prints the medians, their ratio (Corvane's time over
newsboat's; the goal is at most 1.0), the peak memory of both, and how many requests came over
how many TCP connections.

  1. 100 feeds, one per address, answered after 100 ms (newsboat with reload-threads 100).
  2. 1,000 feeds, ten per address, answered after 20 ms.
  3. One small feed, and an unchanged 3,000-item feed, answered after 20 ms.
  4. 20,000 feeds on one host, answered at once: the CPU time of corvane-cli's default update
     against --connections 6 (the same downloads at once to that host; goal at most 1.25: idle
     workers must not rescan the queue).

usage: many_feeds.py --cli PATH/corvane-cli [--rounds N] [--only NAME]
Needs newsboat (scripts/install-deps).
"""

import argparse
import asyncio
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from email.utils import formatdate, parsedate_to_datetime

ADDRESSES = [f"127.0.0.{n}" for n in range(2, 102)]
PORT = 8431
LAST_MODIFIED = 1_700_000_000


def feed_document(title, items):
    parts = [f'<?xml version="1.0" encoding="UTF-8"?>\n<rss version="2.0"><channel><title>{title}</title>'
             f'<link>http://example.com/</link><description>bench</description>\n']
    for i in range(items):
        parts.append(f"<item><title>{title} item {i}</title><link>http://example.com/{i}</link>"
                     f"<description>Item {i} of {title}, a few words long.</description>"
                     f"<pubDate>{formatdate(LAST_MODIFIED - i * 3600, usegmt=True)}</pubDate></item>\n")
    parts.append("</channel></rss>\n")
    return "".join(parts).encode()


class LoopbackFeeds:
    """The server: path -> body on every address, one asyncio loop on its own thread."""

    def __init__(self):
        self.bodies = {}
        self.delay = 0.1
        self.requests = 0
        self.connections = 0
        self.loop = asyncio.new_event_loop()
        self.ready = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.failure = None
        self.thread.start()
        self.ready.wait()
        if self.failure:
            sys.exit(f"many_feeds: cannot listen on port {PORT}: {self.failure}")

    def _run(self):
        asyncio.set_event_loop(self.loop)

        async def start():
            self.servers = [await asyncio.start_server(self._serve, host, PORT, backlog=1024,
                                                       reuse_address=True) for host in ADDRESSES]
        try:
            self.loop.run_until_complete(start())
        except OSError as error:  # the port taken, say: tell it rather than wait for ever
            self.failure = error
            self.ready.set()
            return
        self.ready.set()
        self.loop.run_forever()

    async def _serve(self, reader, writer):
        self.connections += 1
        try:
            while True:
                head = await reader.readuntil(b"\r\n\r\n")
                lines = head.decode("latin-1").split("\r\n")
                method, target, version = lines[0].split(" ", 2)
                headers = {}
                for line in lines[1:]:
                    if ":" in line:
                        name, value = line.split(":", 1)
                        headers[name.strip().lower()] = value.strip()
                self.requests += 1
                await asyncio.sleep(self.delay)
                keep = (headers.get("connection", "").lower() != "close"
                        if version == "HTTP/1.1" else headers.get("connection", "").lower() == "keep-alive")
                writer.write(self._answer(target, headers, keep))
                await writer.drain()
                if not keep:
                    break
        except (asyncio.IncompleteReadError, ConnectionError, ValueError):
            pass
        finally:
            writer.close()

    def _answer(self, target, headers, keep):
        body = self.bodies.get(target.split("?")[0])
        stamp = formatdate(LAST_MODIFIED, usegmt=True)
        connection = "keep-alive" if keep else "close"
        if body is None:
            return f"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: {connection}\r\n\r\n".encode()
        since = headers.get("if-modified-since")
        try:
            unchanged = since is not None and parsedate_to_datetime(since).timestamp() >= LAST_MODIFIED
        except (TypeError, ValueError):
            unchanged = False
        if unchanged:
            return (f"HTTP/1.1 304 Not Modified\r\nLast-Modified: {stamp}\r\nConnection: {connection}"
                    f"\r\n\r\n").encode()
        return (f"HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\nLast-Modified: {stamp}\r\n"
                f"Content-Length: {len(body)}\r\nConnection: {connection}\r\n\r\n").encode() + body

    def counts(self):
        return self.requests, self.connections


def run_child(arguments, environment, cpu=False):
    """Wall seconds (CPU seconds with cpu) and peak kilobytes of one child; exits on failure.

    The peak comes from GNU time around the child: a child forked from this Python process would
    report this process's size as its own (Linux keeps the high-water mark across exec)."""
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.monotonic()
        child = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", report.name, *arguments],
                               env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        seconds = time.monotonic() - start
        if child.returncode not in (0, 3):
            sys.exit(f"{arguments[0]} failed ({child.returncode}): "
                     f"{child.stderr.decode(errors='replace')[-2000:]}")
        peak, user, system = report.read().split()[-3:]
    return (float(user) + float(system) if cpu else seconds), int(peak)


class Corvane:
    name = "corvane-cli"

    def __init__(self, cli, folder, urls):
        self.cli = cli
        self.home = os.path.join(folder, "home")
        os.makedirs(self.home)
        self.environment = dict(os.environ, XDG_CONFIG_HOME=os.path.join(folder, "config"),
                                no_proxy="*", http_proxy="", https_proxy="")
        opml = os.path.join(folder, "feeds.opml")
        with open(opml, "w") as out:
            out.write('<?xml version="1.0"?>\n<opml version="1.0"><head/><body>\n')
            for n, url in enumerate(urls):
                out.write(f'<outline text="Feed {n}" type="rss" xmlUrl="{url}"/>\n')
            out.write("</body></opml>\n")
        subprocess.run([cli, "--home", self.home, "import", opml, "--yes"], env=self.environment,
                       check=True, stdout=subprocess.DEVNULL)

    def run(self, extra=(), cpu=False):
        return run_child([self.cli, "--home", self.home, "update", "--quiet", "--output",
                          os.path.join(self.home, "out.mrf"), *extra], self.environment, cpu)


class Newsboat:
    name = "newsboat"

    def __init__(self, folder, urls):
        self.folder = folder
        with open(os.path.join(folder, "urls"), "w") as out:
            out.write("".join(url + "\n" for url in urls))
        with open(os.path.join(folder, "config"), "w") as out:
            out.write("reload-threads 100\n")
        self.environment = dict(os.environ, HOME=folder, XDG_CONFIG_HOME=folder, XDG_DATA_HOME=folder,
                                LANG="C.UTF-8", no_proxy="*", http_proxy="", https_proxy="")

    def run(self):
        folder = self.folder
        return run_child(["newsboat", "-x", "reload", "-u", os.path.join(folder, "urls"), "-c",
                          os.path.join(folder, "cache.db"), "-C", os.path.join(folder, "config")],
                         self.environment)


def measure(server, cli, name, urls, delay, rounds, fresh_too=True):
    server.delay = delay
    times = {}  # (program, "fresh" | "304") -> [seconds]
    peaks = {}
    counted = {}
    for _ in range(rounds):
        folders = [tempfile.mkdtemp(prefix="corvane-bench-") for _ in range(2)]
        programs = [Corvane(cli, folders[0], urls), Newsboat(folders[1], urls)]
        for kind in ("fresh", "304"):
            for program in programs:  # interleaved
                before = server.counts()
                seconds, peak = program.run()
                after = server.counts()
                times.setdefault((program.name, kind), []).append(seconds)
                peaks[program.name] = max(peaks.get(program.name, 0), peak)
                counted[(program.name, kind)] = (after[0] - before[0], after[1] - before[1])
        for folder in folders:
            shutil.rmtree(folder)
    for kind in ("fresh", "304") if fresh_too else ("304",):
        ours = statistics.median(times[("corvane-cli", kind)])
        theirs = statistics.median(times[("newsboat", kind)])
        requests, connections = counted[("corvane-cli", kind)]
        print(f"{name}, {kind:5}: corvane-cli {ours:7.3f} s, newsboat {theirs:7.3f} s, "
              f"ratio {ours / theirs:5.2f} (goal <= 1.0); corvane-cli {requests} requests "
              f"on {connections} connections")
    print(f"{name}: peak memory corvane-cli {peaks['corvane-cli'] / 1024:.1f} MB, "
          f"newsboat {peaks['newsboat'] / 1024:.1f} MB")
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--only", choices=["100", "1000", "single", "scheduler"])
    arguments = parser.parse_args()
    if not shutil.which("newsboat"):
        sys.exit("many_feeds: newsboat is not installed (scripts/install-deps)")
    server = LoopbackFeeds()
    small = feed_document("Small", 10)
    cases = arguments.only
    if cases in (None, "100"):
        urls = [f"http://{host}:{PORT}/feed.xml" for host in ADDRESSES]
        server.bodies = {"/feed.xml": small}
        measure(server, arguments.cli, "100 feeds on 100 hosts, 100 ms", urls, 0.1, arguments.rounds)
    if cases in (None, "1000"):
        urls = [f"http://{host}:{PORT}/feed{n}.xml" for n in range(10) for host in ADDRESSES]
        server.bodies = {f"/feed{n}.xml": small for n in range(10)}
        measure(server, arguments.cli, "1000 feeds on 100 hosts, 20 ms", urls, 0.02, arguments.rounds)
    if cases in (None, "single"):
        server.bodies = {"/small.xml": small, "/big.xml": feed_document("Big", 3000)}
        measure(server, arguments.cli, "one small feed, 20 ms", [f"http://127.0.0.2:{PORT}/small.xml"],
                0.02, arguments.rounds)
        measure(server, arguments.cli, "one 3,000-item feed, 20 ms", [f"http://127.0.0.2:{PORT}/big.xml"],
                0.02, arguments.rounds, fresh_too=False)
    if cases in (None, "scheduler"):
        scheduler_cpu(server, arguments.cli, arguments.rounds)


def scheduler_cpu(server, cli, rounds):
    server.delay = 0
    server.bodies = {f"/f{n}.xml": feed_document("F", 1) for n in range(20000)}
    urls = [f"http://127.0.0.2:{PORT}/f{n}.xml" for n in range(20000)]
    folder = tempfile.mkdtemp(prefix="corvane-bench-")
    corvane = Corvane(cli, folder, urls)
    corvane.run()  # fills the cache: both measured runs are all-304
    times = {"default": [], "six": []}
    for _ in range(rounds):
        times["default"].append(corvane.run(cpu=True)[0])
        times["six"].append(corvane.run(("--connections", "6"), cpu=True)[0])
    shutil.rmtree(folder)
    ours, six = statistics.median(times["default"]), statistics.median(times["six"])
    print(f"20,000 feeds on one host, CPU: default {ours:.2f} s, --connections 6 {six:.2f} s, "
          f"ratio {ours / six:.2f} (goal <= 1.25)")


if __name__ == "__main__":
    main()
