#!/usr/bin/python3
"""Reads what corvane-cli writes with the parsers other programs use, and reads what those parsers
read with corvane-cli.

  other_parsers.py CLI opml            OPML 2.0 export read by listparser and by our own reader
  other_parsers.py CLI atom FILE...    Atom entries as feedparser sees them against `feed --json`

Exits 77 (a skip for ctest) when the Debian packages python3-listparser or python3-feedparser
are missing, 1 with a message on the first disagreement.
"""
import json
import os
import subprocess
import sys
import tempfile

SKIP = 77


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def private_env(folder):
    env = dict(os.environ)
    for name, sub in (("CORVANE_HOME", "home"), ("XDG_CONFIG_HOME", "config"),
                      ("XDG_RUNTIME_DIR", "run"), ("HOME", "user"), ("XDG_DATA_HOME", "data")):
        path = os.path.join(folder, sub)
        os.makedirs(path, mode=0o700, exist_ok=True)
        env[name] = path
    env["TMPDIR"] = folder
    return env


def run(cli, env, *arguments):
    done = subprocess.run([cli, *arguments], env=env, capture_output=True, text=True, timeout=60)
    if done.returncode != 0:
        fail("corvane-cli %s: exit %d: %s" % (" ".join(arguments), done.returncode, done.stderr))
    return done.stdout


# A list as other programs write it: names in "text" only, nesting, characters to escape.
IMPORTED = """<?xml version="1.0" encoding="UTF-8"?>
<opml version="2.0"><head><title>From elsewhere</title></head><body>
<outline text="Tech &amp; Science">
  <outline text="Deeper"><outline text="Inner &quot;Q&quot;" type="rss"
      xmlUrl="http://inner.example/feed?a=1&amp;b=2" htmlUrl="http://inner.example/"/></outline>
  <outline text="Alpha" title="Alpha Title" type="rss" xmlUrl="http://alpha.example/rss"/>
</outline>
<outline text="Loose" type="rss" xmlUrl="http://loose.example/atom.xml"/>
</body></opml>
"""

EXPECTED_FEEDS = [
    ("http://inner.example/feed?a=1&b=2", "Inner \"Q\"", [["Tech & Science", "Deeper"]]),
    ("http://alpha.example/rss", "Alpha Title", [["Tech & Science"]]),
    ("http://loose.example/atom.xml", "Loose", []),
]


def check_opml(cli):
    try:
        import listparser
    except ImportError:
        print("python3-listparser is not installed", file=sys.stderr)
        return SKIP
    with tempfile.TemporaryDirectory() as folder:
        env = private_env(folder)
        source = os.path.join(folder, "in.opml")
        with open(source, "w", encoding="utf-8") as out:
            out.write(IMPORTED)
        run(cli, env, "import", "--yes", source)
        shown = run(cli, env, "list")
        exported = os.path.join(folder, "out.opml")
        run(cli, env, "export", "--format", "opml2", exported)

        result = listparser.parse(exported)
        if result.bozo:
            fail("listparser: %s" % result.bozo_exception)
        if result.meta.get("title") != "News Subscriptions" or not result.meta.get("created_parsed"):
            fail("listparser head: %r" % result.meta)
        got = [(f["url"], f["title"], f["categories"]) for f in result.feeds]
        if got != EXPECTED_FEEDS:
            fail("listparser feeds:\n  got      %r\n  expected %r" % (got, EXPECTED_FEEDS))

        # Our own reader, in a second program folder, shows the same tree.
        other = private_env(os.path.join(folder, "second"))
        run(cli, other, "import", "--yes", exported)
        again = run(cli, other, "list")
        if again != shown:
            fail("our reader:\n%s\nagainst\n%s" % (again, shown))
    return 0


def main():
    if len(sys.argv) < 3:
        fail("usage: other_parsers.py CLI opml|atom [FILE...]")
    cli, what = sys.argv[1], sys.argv[2]
    if what == "opml":
        return check_opml(cli)
    if what == "atom":
        return check_atom(cli, sys.argv[3:])
    fail("unknown check " + what)
    return 1


def alternate_link(links):
    for link in links:
        if link.get("rel", "alternate") == "alternate":
            return link.get("href")
    return None


def compare(where, ours, theirs, problems):
    if ours != theirs:
        problems.append("%s: ours %r, feedparser %r" % (where, ours, theirs))


def compare_entry(where, ours, entry, problems):
    compare(where + " title", ours["title"], entry.get("title"), problems)
    compare(where + " guid", ours["guid"], entry.get("id"), problems)
    compare(where + " link", ours["link"], alternate_link(entry.get("links", [])), problems)
    compare(where + " pubDate", ours["pubDate"], entry.get("published", entry.get("updated")),
            problems)
    # feedparser keeps the markup of an xhtml text, which this reader drops.
    summary = entry.get("summary")
    if summary is None or "<" not in summary:
        compare(where + " description", ours["description"], summary, problems)
    enclosures = entry.get("enclosures", [])
    first = enclosures[0] if enclosures else {}
    compare(where + " enclosure",
            (ours["enclosureUrl"], ours["enclosureType"], ours["enclosureLength"]),
            (first.get("href"), first.get("type"), first.get("length")), problems)


def check_atom(cli, files):
    try:
        import feedparser
    except ImportError:
        print("python3-feedparser is not installed", file=sys.stderr)
        return SKIP
    problems = []
    checked = 0
    for path in files:
        with open(path, "rb") as document:
            if b"<feed" not in document.read(4096).replace(b"atom:feed", b"feed"):
                continue  # not Atom
        with tempfile.TemporaryDirectory() as folder:
            ours = json.loads(run(cli, private_env(folder), "feed", path, "--json"))
        theirs = feedparser.parse(path)
        name = os.path.basename(path)
        channel = ours["channel"]
        compare(name + " title", channel["title"], theirs.feed.get("title"), problems)
        # feedparser takes an id that looks like an address for a missing link; compare links.
        compare(name + " link", channel["link"], alternate_link(theirs.feed.get("links", [])),
                problems)
        compare(name + " description", channel["description"], theirs.feed.get("subtitle"),
                problems)
        compare(name + " items", len(ours["items"]), len(theirs.entries), problems)
        for number, (item, entry) in enumerate(zip(ours["items"], theirs.entries), 1):
            compare_entry("%s item %d" % (name, number), item, entry, problems)
        checked += 1
    if not checked:
        fail("no Atom document among " + " ".join(files))
    if problems:
        fail("\n  ".join([""] + problems))
    print("%d Atom documents agree" % checked)
    return 0


if __name__ == "__main__":
    sys.exit(main())
