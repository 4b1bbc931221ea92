#!/usr/bin/python3
"""The peak memory of one update of a huge podcast feed, against the size of its document.

A loopback server on 127.0.0.1 serves a generated RSS feed of ITEMS items (1,000,000 by default),
each with a date and an MP3 enclosure, and a small body for every enclosure. corvane-cli imports
the feed, takes "newest=3" as the feed's own choice and runs one update under GNU time; the
script prints the document's size, the update's peak resident size and their ratio, and checks
that the package took exactly the three newest episodes. The goal for 1,000,000 items is a peak
below 200 MB, whatever the document's size.

usage: huge_feed.py --cli PATH/corvane-cli [--items N] [--limit-mb MB]
Exits 1 when the peak is above the limit or the wrong episodes were taken.
"""

import argparse
import http.server
import os
import subprocess
import sys
import tempfile
import threading
from email.utils import formatdate

STAMP = 1_700_000_000
# Twenty MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz: 417 bytes each) of silence.
EPISODE = (b"\xff\xfb\x90\x64" + b"\x00" * 413) * 20


def feed_document(items):
    # Dates run backwards except for three items in the middle that are newer than all the
    # others, so a selection that kept only the first or the last items would be caught.
    newest = {items // 3: 3, items // 2: 2, (2 * items) // 3: 1}
    parts = ['<?xml version="1.0" encoding="UTF-8"?>\n<rss version="2.0"><channel>'
             "<title>Huge</title><link>http://example.com/</link><description>bench</description>\n"]
    for i in range(items):
        when = STAMP + newest[i] * 86400 if i in newest else STAMP - i * 60
        parts.append(f"<item><title>Episode {i}</title><link>http://example.com/{i}</link>"
                     f"<description>Episode {i} of the huge feed, a few words long.</description>"
                     f"<pubDate>{formatdate(when, usegmt=True)}</pubDate>"
                     f'<enclosure url="{{base}}/ep/{i}.mp3" type="audio/mpeg" length="{len(EPISODE)}"/>'
                     "</item>\n")
    parts.append("</channel></rss>\n")
    return "".join(parts), sorted(newest)


class Handler(http.server.BaseHTTPRequestHandler):
    feed = b""
    fetched = []

    def do_GET(self):
        if self.path == "/feed.xml":
            body, kind = self.feed, "application/rss+xml"
        elif self.path.startswith("/ep/"):
            body, kind = EPISODE, "audio/mpeg"
            self.fetched.append(self.path)
        else:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Last-Modified", formatdate(STAMP, usegmt=True))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *arguments):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--items", type=int, default=1_000_000)
    parser.add_argument("--limit-mb", type=float, default=200.0)
    options = parser.parse_args()

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    base = f"http://127.0.0.1:{server.server_address[1]}"
    text, expected = feed_document(options.items)
    Handler.feed = text.replace("{base}", base).encode()
    threading.Thread(target=server.serve_forever, daemon=True).start()

    with tempfile.TemporaryDirectory() as folder:
        home = os.path.join(folder, "home")
        os.makedirs(home)
        environment = dict(os.environ, XDG_CONFIG_HOME=os.path.join(folder, "config"),
                           no_proxy="*", http_proxy="", https_proxy="")
        opml = os.path.join(folder, "feeds.opml")
        with open(opml, "w") as out:
            out.write('<?xml version="1.0"?>\n<opml version="1.0"><head/><body>\n'
                      f'<outline text="Huge" type="rss" xmlUrl="{base}/feed.xml"/>\n</body></opml>\n')
        quiet = dict(env=environment, check=True, stdout=subprocess.DEVNULL)
        subprocess.run([options.cli, "--home", home, "import", opml, "--yes"], **quiet)
        subprocess.run([options.cli, "--home", home, "feed-options", f"{base}/feed.xml",
                        "newest=3"], **quiet)
        report = os.path.join(folder, "time")
        # GNU time around the child: a child of this Python process would report this
        # process's size as its own.
        child = subprocess.run(["/usr/bin/time", "-v", "-o", report, options.cli, "--home", home,
                                "update", "--quiet", "--output", os.path.join(home, "out.mrf")],
                               env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        with open(report) as lines:
            peak_kb = next(int(line.split(":")[1]) for line in lines
                           if "Maximum resident set size" in line)
    server.shutdown()

    size_mb = len(Handler.feed) / 1e6
    peak_mb = peak_kb / 1024
    taken = sorted(int(path[4:-4]) for path in Handler.fetched)
    print(f"{options.items} items, document {size_mb:.1f} MB: update peak {peak_mb:.1f} MB "
          f"({peak_mb / size_mb:.2f} x the document; goal < {options.limit_mb:.0f} MB), "
          f"exit {child.returncode}, episodes fetched {taken} (expected {expected})")
    if child.returncode != 0:
        print(child.stderr.decode(errors="replace")[-2000:], file=sys.stderr)
    ok = child.returncode == 0 and peak_mb < options.limit_mb and taken == expected
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
