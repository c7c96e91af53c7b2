#!/usr/bin/env python3
"""Writes CHANGELOG.md as a Debian changelog on stdout: one entry per release, newest first,
each release's points as the entry's items. Usage: debian_changelog.py CHANGELOG.md

The release heading is '## VERSION (YYYY-MM-DD)'; the date becomes the entry's date, so the
changelog, and the package, are the same however often they are built."""

import datetime
import re
import sys
import textwrap

MAINTAINER = "The Kelvo project <kelvo@kelvo.invalid>"
HEADING = re.compile(r"^## (\d+(?:\.\d+)*) \((\d{4})-(\d{2})-(\d{2})\)\s*$")


def releases(text):
    """(version, date, [point]) for each release, in the file's order."""
    found = []
    for line in text.splitlines():
        heading = HEADING.match(line)
        if heading:
            found.append((heading.group(1), datetime.datetime(
                *map(int, heading.group(2, 3, 4)), tzinfo=datetime.timezone.utc), []))
        elif found and line.startswith("- "):
            found[-1][2].append(line[2:].strip())
        elif found and found[-1][2] and line.startswith("  "):
            found[-1][2][-1] += " " + line.strip()
        elif found and line.strip() and not line.startswith("#"):
            found[-1][2].append(line.strip())
    return found


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: debian_changelog.py CHANGELOG.md")
    entries = releases(open(sys.argv[1], encoding="utf-8").read())
    if not entries:
        sys.exit("debian_changelog.py: no '## VERSION (DATE)' release in " + sys.argv[1])
    out = []
    for version, date, points in entries:
        out.append("kelvo (%s) unstable; urgency=medium\n" % version)
        for point in points:
            plain = point.replace("**", "").replace("`", "")
            out.append(textwrap.fill(plain, width=78, initial_indent="  * ",
                                     subsequent_indent="    "))
        out.append("\n -- %s  %s\n" % (MAINTAINER, date.strftime("%a, %d %b %Y %H:%M:%S +0000")))
    sys.stdout.write("\n".join(out))


if __name__ == "__main__":
    main()
