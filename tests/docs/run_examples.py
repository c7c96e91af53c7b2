#!/usr/bin/env python3
# Runs every shell example of README.md and docs/*.md against an installed kelvo.
"""Usage: run_examples.py --prefix PREFIX [--keep] [DOCUMENT...]

PREFIX is where `cmake --install` put kelvo; PREFIX/bin goes first on the PATH. Every
document (default: README.md and docs/*.md) gets a fresh temporary directory of its own, and
its examples run there in order, as a reader following the document would run them: a later
example may use what an earlier one made (hero.settings, out/). A fenced block whose info
string is `sh` is an example and runs with `bash -euo pipefail`. Markers on the last non-blank
line before a block:

  <!-- example: not run (REASON) -->   the block needs what a test cannot have (a farm,
                                        Windows, Blender, the source tree); it is not run
  <!-- example: setup NAME... -->      first make the fixtures NAME... (tests/docs/
                                        doc_fixtures.py) in the document's directory

Each failure is reported with its file and line; the last line is `N passed, N failed`, and
the exit code is 1 when anything failed (2 for a usage error).
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
from dataclasses import dataclass, field
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import doc_fixtures  # noqa: E402

REPO = doc_fixtures.REPO
BLOCK_TIMEOUT = 300  # seconds; the longest example renders the demo's 24 frames a few times
MARKER = re.compile(r"^\s*<!--\s*example:\s*(.*?)\s*-->\s*$")
FENCE = re.compile(r"^(\s*)(```+|~~~+)\s*([^`\s]*)")
SHELL_NAMES = {"bash", "shell", "console", "zsh"}  # shell under another name: a mistake


@dataclass
class Block:
    line: int  # 1-based line of the opening fence
    language: str
    text: str
    marker: str = ""
    setups: list = field(default_factory=list)


def ParseDocument(path: Path):
    """The fenced blocks of one Markdown file, each with its marker; and the problems found
    (a marker that no block follows, an unknown marker, a shell block not marked `sh`)."""
    lines = path.read_text(encoding="utf-8").splitlines()
    blocks, problems = [], []
    pending = None  # (line number, marker text) of a marker awaiting its block
    i = 0
    while i < len(lines):
        line = lines[i]
        fence = FENCE.match(line)
        marker = MARKER.match(line)
        if marker:
            if pending:
                problems.append((pending[0], "marker not followed by a fenced block"))
            pending = (i + 1, marker.group(1))
            i += 1
            continue
        if not fence:
            if line.strip() and pending:
                problems.append((pending[0], "marker not followed by a fenced block"))
                pending = None
            i += 1
            continue
        indent, ticks, language = fence.group(1), fence.group(2), fence.group(3)
        body, j = [], i + 1
        while j < len(lines) and not lines[j].strip().startswith(ticks):
            body.append(lines[j][len(indent):] if lines[j].startswith(indent) else lines[j])
            j += 1
        block = Block(i + 1, language, "\n".join(body) + "\n")
        if pending:
            block.marker = pending[1]
            pending = None
        blocks.append(block)
        i = j + 1
    if pending:
        problems.append((pending[0], "marker not followed by a fenced block"))

    for block in blocks:
        if block.language in SHELL_NAMES:
            problems.append((block.line, f"shell example fenced as '{block.language}': use sh"))
        if not block.marker:
            continue
        if block.language != "sh":
            problems.append((block.line, "marker on a block that is not sh"))
        elif re.fullmatch(r"not run \(.+\)", block.marker):
            pass
        elif block.marker.startswith("setup "):
            block.setups = block.marker.split()[1:]
            unknown = [n for n in block.setups if n not in doc_fixtures.FIXTURES]
            if unknown:
                problems.append((block.line, f"unknown fixture {', '.join(unknown)}; known: "
                                 f"{', '.join(sorted(doc_fixtures.FIXTURES))}"))
        else:
            problems.append((block.line, f"unknown marker '{block.marker}'"))
    return blocks, problems


def Tail(text: str, count: int = 12) -> str:
    lines = text.rstrip().splitlines()
    return "\n".join("    " + line for line in lines[-count:])


def RunDocument(path: Path, env: dict, demo, scratch: Path, counts: dict, keep: bool):
    name = path.relative_to(REPO) if path.is_relative_to(REPO) else path
    blocks, problems = ParseDocument(path)
    for line, problem in sorted(problems):
        print(f"FAIL {name}:{line}: {problem}")
        counts["failed"] += 1
    faulty = {line for line, _ in problems}  # counted already; such a block is not run
    work = Path(tempfile.mkdtemp(prefix=path.stem + "-", dir=scratch))
    made = set()
    for block in blocks:
        if block.language != "sh" or block.marker.startswith("not run ("):
            continue
        if block.line in faulty:
            continue
        where = f"{name}:{block.line}"
        try:
            for setup in block.setups:
                if setup not in made:
                    doc_fixtures.FIXTURES[setup](work, demo, env)
                    made.add(setup)
        except (subprocess.CalledProcessError, RuntimeError, OSError) as error:
            print(f"FAIL {where}: fixture {' '.join(block.setups)}: {error}")
            counts["failed"] += 1
            continue
        script = scratch / "example.sh"
        script.write_text(block.text, encoding="utf-8")
        try:
            result = subprocess.run(["bash", "-euo", "pipefail", str(script)], cwd=work,
                                    env=env, stdout=subprocess.PIPE,
                                    stderr=subprocess.STDOUT, text=True,
                                    timeout=BLOCK_TIMEOUT, stdin=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            print(f"FAIL {where}: still running after {BLOCK_TIMEOUT} s")
            counts["failed"] += 1
            continue
        if result.returncode == 0:
            counts["passed"] += 1
            print(f"ok   {where}")
        else:
            counts["failed"] += 1
            print(f"FAIL {where}: exit code {result.returncode}\n{Tail(block.text)}")
            print("  output:\n" + Tail(result.stdout))
    if not keep:
        shutil.rmtree(work, ignore_errors=True)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--prefix", required=True, help="where cmake --install put kelvo")
    parser.add_argument("--keep", action="store_true", help="keep the work directories")
    parser.add_argument("documents", nargs="*", type=Path)
    args = parser.parse_args()
    kelvo = args.prefix.rstrip("/") + "/bin/kelvo"
    if not os.access(kelvo, os.X_OK):
        print(f"run_examples.py: no kelvo program at '{kelvo}'", file=sys.stderr)
        return 2
    documents = args.documents or [REPO / "README.md"] + sorted((REPO / "docs").glob("*.md"))
    env = dict(os.environ)
    env["PATH"] = os.path.abspath(args.prefix) + "/bin" + os.pathsep + env.get("PATH", "")
    env["LC_ALL"] = "C.UTF-8"
    counts = {"passed": 0, "failed": 0}
    scratch = Path(tempfile.mkdtemp(prefix="kelvo-doc-examples-"))
    env["HOME"] = str(scratch)  # nothing an example does reaches the user's own files
    try:
        demo = doc_fixtures.DemoSource(scratch, env)
        for document in documents:
            RunDocument(document.resolve(), env, demo, scratch, counts, args.keep)
    finally:
        if args.keep:
            print(f"work directories kept in {scratch}")
        else:
            shutil.rmtree(scratch, ignore_errors=True)
    print(f"{counts['passed']} passed, {counts['failed']} failed")
    return 1 if counts["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
