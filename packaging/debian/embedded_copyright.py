#!/usr/bin/env python3
"""Prints the copyright paragraph of a library compiled into kelvo, for its copyright file.

    embedded_copyright.py COPYRIGHT FILES COMMENT

COPYRIGHT is the library's own machine-readable Debian copyright file (its -dev package's),
FILES the Files: pattern to give it, COMMENT a one-line Comment: (what it is, which version).
The paragraph gathers the copyright lines of every Files paragraph of COPYRIGHT but the
Debian packaging's own (debian/*), under their one licence, whose text follows inline. A
file that is not machine-readable, names several licences for the library's files, or lacks
the licence's text is refused with a message and exit status 1: a copyright file that says
less than the library's would be wrong, not merely short.
"""

import sys


def paragraphs(text):
    """The file's paragraphs as lists of (field, value lines) in order, field names lowered."""
    result, fields = [], []
    for line in text.splitlines() + [""]:
        if not line.strip():
            if fields:
                result.append(fields)
            fields = []
        elif line[0] in " \t":
            if not fields:
                raise ValueError("a continuation line opens a paragraph")
            fields[-1][1].append(line)
        elif ":" in line:
            name, value = line.split(":", 1)
            fields.append((name.strip().lower(), [value.strip()]))
        else:
            raise ValueError(f"no field in the line {line!r}")
    return result


def field(paragraph, name):
    """The value lines of field `name`, or None."""
    for key, lines in paragraph:
        if key == name:
            return lines
    return None


def packaging_only(patterns):
    """True when every pattern of a Files field names the Debian packaging."""
    return all(p == "debian" or p.startswith("debian/") for p in patterns)


def license_text(all_paragraphs, files_paragraphs, name):
    """The licence text lines of `name`: inline in a Files paragraph or in its own paragraph."""
    for paragraph in files_paragraphs + [p for p in all_paragraphs if field(p, "files") is None]:
        lines = field(paragraph, "license")
        if lines and lines[0] == name and len(lines) > 1:
            return lines[1:]
    raise ValueError(f"the licence {name} has no text")


def embedded_paragraph(text, files, comment):
    """The paragraph for the library whose copyright file is `text`, as lines."""
    all_paragraphs = paragraphs(text)
    if not all_paragraphs or field(all_paragraphs[0], "format") is None:
        raise ValueError("it is not a machine-readable copyright file (no Format: field)")
    ours = [p for p in all_paragraphs[1:] if field(p, "files") is not None and
            not packaging_only(" ".join(field(p, "files")).split())]
    if not ours:
        raise ValueError("it has no Files paragraph for the library's own files")
    names = {(field(p, "license") or [""])[0] for p in ours}
    if len(names) != 1 or not next(iter(names)):
        raise ValueError(f"its files carry several licences or none: {sorted(names)}")
    name = names.pop()
    holders = []
    for paragraph in ours:
        for line in field(paragraph, "copyright") or []:
            line = line.strip()
            if line and line not in holders:
                holders.append(line)
    if not holders:
        raise ValueError("it names no copyright holder")
    out = [f"Files: {files}", f"Copyright: {holders[0]}"]
    out += [f"           {holder}" for holder in holders[1:]]
    out.append(f"License: {name}")
    out += [" " + line.strip() if line.strip() else " ." for line in
            license_text(all_paragraphs, ours, name)]
    out.append(f"Comment: {comment}")
    return out


def main(argv):
    if len(argv) != 4:
        print("usage: embedded_copyright.py COPYRIGHT FILES COMMENT", file=sys.stderr)
        return 2
    try:
        with open(argv[1], encoding="utf-8") as source:
            lines = embedded_paragraph(source.read(), argv[2], argv[3])
    except (OSError, UnicodeDecodeError, ValueError) as error:
        print(f"embedded_copyright.py: {argv[1]}: {error}", file=sys.stderr)
        return 1
    print("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
