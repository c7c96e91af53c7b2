#!/usr/bin/env python3
# Writes the manual (README.md, CHANGELOG.md, docs/*.md, the man pages) as HTML for offline reading.
"""Usage: make_html_manual.py OUTDIR

Writes OUTDIR/index.html from README.md, OUTDIR/docs/NAME.html from each docs/NAME.md,
OUTDIR/changelog.html from CHANGELOG.md and OUTDIR/LICENSE.txt from LICENSE (when they
exist), the man pages docs/man/*.1 as OUTDIR/docs/man/NAME.1.html (mandoc -T html; skipped
when there are none), the images of docs/images, and one stylesheet, kelvo.css. Links between
the .md files become links between the pages; every page names the others in a bar at its
top. Then every relative link and image of every page is checked: a target missing from
OUTDIR, or an anchor missing from its page, fails the run (exit 1), so the manual works
offline. Needs Debian's python3-markdown and mandoc.
"""
import html
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

try:
    import markdown
except ImportError:
    # Debian's python3-markdown belongs to Debian's python3; another python3 may come first
    # on the PATH (a version manager's), so run again under Debian's own.
    debian = "/usr/bin/python3"
    if os.path.realpath(sys.executable) != os.path.realpath(debian) and os.path.exists(debian):
        os.execv(debian, [debian] + sys.argv)
    sys.exit("make_html_manual.py: Python-Markdown is missing (Debian: apt-get install "
             "python3-markdown)")

ROOT = Path(__file__).resolve().parent.parent
STYLESHEET = """\
body { font-family: sans-serif; line-height: 1.45; max-width: 52em; margin: 0 auto;
       padding: 0 1em 3em; color: #1a1a1a; background: #fff; }
nav { border-bottom: 1px solid #ccc; padding: 0.6em 0; font-size: 0.9em; }
nav a { margin-right: 0.8em; white-space: nowrap; }
h1, h2, h3, h4 { line-height: 1.2; }
a { color: #0645ad; }
code, pre { font-family: monospace; font-size: 0.92em; background: #f4f4f4; }
pre { padding: 0.6em 0.8em; overflow-x: auto; border: 1px solid #e0e0e0; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #ccc; padding: 0.3em 0.5em; vertical-align: top; text-align: left; }
th { background: #f0f0f0; }
img { max-width: 100%; }
table.head, table.foot, table.head td, table.foot td { border: none; width: 100%; }
"""
# The pages in reading order in the bar; any other docs/*.md follows them.
READING_ORDER = ["user-guide", "reference", "palettes-and-outputs", "recipes", "plugin",
                 "developers"]


class Page:
    """One output page: where its source is, where it goes, and the title in the bar."""

    def __init__(self, source: Path, target: str, title: str):
        self.source, self.target, self.title = source, target, title


def Relative(target: str, start: str) -> str:
    """The link from page `start` to `target`, both relative to OUTDIR."""
    return os.path.relpath(target, os.path.dirname(start) or ".").replace(os.sep, "/")


def Title(text: str, fallback: str) -> str:
    match = re.search(r"^#\s+(.+)$", text, re.M)
    return match.group(1).strip() if match else fallback


def CollectPages():
    pages = [Page(ROOT / "README.md", "index.html", "Kelvo")]
    docs = sorted((ROOT / "docs").glob("*.md"),
                  key=lambda d: (READING_ORDER.index(d.stem) if d.stem in READING_ORDER
                                 else len(READING_ORDER), d.stem))
    for doc in docs:
        text = doc.read_text(encoding="utf-8")
        pages.append(Page(doc, f"docs/{doc.stem}.html", Title(text, doc.stem)))
    if (ROOT / "CHANGELOG.md").is_file():
        pages.append(Page(ROOT / "CHANGELOG.md", "changelog.html", "Changes"))
    return pages


def MapLink(href: str, page: Page, targets: dict) -> str:
    """A link of the Markdown source made a link between the pages written."""
    if re.match(r"^[a-z][a-z0-9+.-]*:", href, re.I) or href.startswith(("#", "/")):
        return href
    path, _, anchor = href.partition("#")
    source = (page.source.parent / path).resolve()
    if source in targets:
        path = Relative(targets[source], page.target)
    elif source == (ROOT / "LICENSE").resolve():
        path = Relative("LICENSE.txt", page.target)
    elif source.is_relative_to(ROOT / "docs" / "images"):
        path = Relative("docs/images/" + str(source.relative_to(ROOT / "docs" / "images")),
                        page.target)
    return path + ("#" + anchor if anchor else "")


def Nav(page: Page, pages, manuals) -> str:
    links = [f'<a href="{Relative(p.target, page.target)}">{html.escape(p.title)}</a>'
             for p in pages]
    links += [f'<a href="{Relative(target, page.target)}">{html.escape(name)}(1)</a>'
              for name, target in manuals]
    return "<nav>" + " ".join(links) + "</nav>"


def Document(title: str, stylesheet: str, nav: str, body: str) -> str:
    return ("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            f"<title>{html.escape(title)}</title>\n"
            f"<link rel=\"stylesheet\" href=\"{stylesheet}\">\n</head>\n<body>\n{nav}\n"
            f"<main>\n{body}\n</main>\n</body>\n</html>\n")


def WriteMarkdownPages(out: Path, pages, manuals):
    targets = {p.source.resolve(): p.target for p in pages}
    for page in pages:
        converter = markdown.Markdown(extensions=["tables", "fenced_code", "toc", "sane_lists"],
                                      output_format="html")
        body = converter.convert(page.source.read_text(encoding="utf-8"))
        def Rewrite(match):
            link = MapLink(html.unescape(match.group(2)), page, targets)
            return f'{match.group(1)}="{html.escape(link)}"'

        body = re.sub(r'(href|src)="([^"]*)"', Rewrite, body)
        text = Document(page.title, Relative("kelvo.css", page.target),
                        Nav(page, pages, manuals), body)
        (out / page.target).parent.mkdir(parents=True, exist_ok=True)
        (out / page.target).write_text(text, encoding="utf-8")


def WriteManualPages(out: Path, pages, manuals):
    for name, target in manuals:
        source = ROOT / "docs" / "man" / (name + ".1")
        result = subprocess.run(["mandoc", "-T", "html", "-O", "fragment", str(source)],
                                capture_output=True, text=True)
        if result.returncode != 0:
            sys.exit(f"make_html_manual.py: mandoc failed on {source}: {result.stderr.strip()}")
        page = Page(source, target, name + "(1)")
        text = Document(page.title, Relative("kelvo.css", target), Nav(page, pages, manuals),
                        result.stdout)
        (out / target).parent.mkdir(parents=True, exist_ok=True)
        (out / target).write_text(text, encoding="utf-8")


def BrokenLinks(out: Path):
    """Every relative link or image of the pages whose file, or anchor, is not in OUTDIR."""
    problems, ids = [], {}
    pages = sorted(out.rglob("*.html"))
    for page in pages:
        ids[page.resolve()] = set(re.findall(r'\sid="([^"]+)"', page.read_text(encoding="utf-8")))
    for page in pages:
        text = page.read_text(encoding="utf-8")
        for href in re.findall(r'(?:href|src)="([^"]*)"', text):
            href = html.unescape(href)
            if re.match(r"^[a-z][a-z0-9+.-]*:", href, re.I):
                continue  # a web address: not part of the offline manual
            path, _, anchor = href.partition("#")
            target = (page.parent / path).resolve() if path else page.resolve()
            where = page.relative_to(out)
            if not target.is_file() or not target.is_relative_to(out.resolve()):
                problems.append(f"{where}: link to missing '{href}'")
            elif anchor and target.suffix == ".html" and anchor not in ids.get(target, set()):
                problems.append(f"{where}: link to missing anchor '{href}'")
    return problems


def main() -> int:
    if len(sys.argv) != 2 or sys.argv[1].startswith("-"):
        print(__doc__, file=sys.stderr)
        return 2
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    pages = CollectPages()
    manuals = []
    man_sources = sorted((ROOT / "docs" / "man").glob("*.1"),
                         key=lambda m: (m.stem != "kelvo", m.stem))
    if man_sources and shutil.which("mandoc") is None:
        sys.exit("make_html_manual.py: mandoc is missing (Debian: apt-get install mandoc)")
    for source in man_sources:
        manuals.append((source.stem, f"docs/man/{source.name}.html"))
    (out / "kelvo.css").write_text(STYLESHEET, encoding="utf-8")
    WriteMarkdownPages(out, pages, manuals)
    WriteManualPages(out, pages, manuals)
    if (ROOT / "docs" / "images").is_dir():
        shutil.copytree(ROOT / "docs" / "images", out / "docs" / "images", dirs_exist_ok=True)
    if (ROOT / "LICENSE").is_file():
        shutil.copyfile(ROOT / "LICENSE", out / "LICENSE.txt")
    problems = BrokenLinks(out)
    for problem in problems:
        print(f"make_html_manual.py: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
