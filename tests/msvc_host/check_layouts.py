#!/usr/bin/env python3
"""Checks the tables of virtual operations and the records that cross between the host and
Kelvo.flt against the one list of their slots below.

Two compilers are asked, each for the side it builds:
- the host's side: clang for the 32-bit Microsoft C++ ABI (-fdump-vtable-layouts,
  -fdump-record-layouts) on the MSVC-ABI test host's declarations;
- the module's side: the g++ that builds Kelvo.flt, whose emitted tables are read from its
  assembly output of the module's own sources.

  check_layouts.py --host-cxx CLANG --module-cxx GXX --source-dir DIR [--stamp FILE]
  check_layouts.py ... --move-slot   proves the check: with a slot moved in either side's
                                     declarations it must fail

Exit code 0 when every table and record matches.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

# The slots, first to last. An entry is a name with its parameter types; "?" stands for an
# operation the interface leaves unnamed, "?(N)" for N parameters of any type; " | " separates
# the spellings of one slot on the two sides.
DESTRUCTOR = "~ImageFilter() [scalar deleting] | Destroy(unsigned int)"
FILTER_SLOTS = [
    DESTRUCTOR,
    "DescriptionText()",
    "AuthorText()",
    "CopyrightText()",
    "FilterVersion()",
    "CapabilityMask()",
    "ShowAboutBox(HWND__*)",
    "ShowControlDialog(HWND__*)",
    "SetSource(Bitmap*)",
    "SetForeground(Bitmap*)",
    "SetMask(Bitmap*)",
    "SetFilterInfo(ImageFilterInfo*)",
    "RenderFrame(HWND__*)",
    "Max()",
    "Lerp(int, int, float)",
    "Lerp(int, int, int)",
    "ConfigBlockSize()",
    "LoadConfigBlock(void*)",
    "SaveConfigBlock(void*)",
    "CreatePreview(HWND__*, Bitmap**)",
    "RequiredChannels()",
    "DlgHandle()",
    "MakeDlgInteractive(HWND__*)",
    "IsInteractive()",
    "CreateNode(HWND__*)",
    "Node()",
    "FilterUpdate()",
]
DESCRIPTOR_SLOTS = [
    "?(0)",
    "CreateFilter(int)",
    "?(1)",
    "?(1)",
    "ClassNameText()",
    "SuperClassIdentifier()",
    # The host returns the record by value, which its compiler passes as a pointer after
    # `this`; the module takes that pointer explicitly.
    "ClassIdentifier() | ClassIdentifier(ClassIdentifierRecord*)",
    "CategoryText()",
    "?(1)",
    "?(0)",
    "?(1)",
    "?(1)",
    "?(0)",
    "?(1)",
    "?(1)",
]
BITMAP_SLOTS = [
    "Width()",
    "Height()",
    "GetChannelData(unsigned long, unsigned long&)",
    "ReadPixels(int, int, int, BMM_Color_64*)",
    "PutPixels(int, int, int, BMM_Color_64*)",
]
SPINNER_SLOTS = [
    "GetIntValue()",
    "SetIntValue(int, int)",
    "SetValueRange(int, int, int)",
    "AttachEdit(HWND__*, int)",
]

# Each side's classes: the interfaces as the host declares them, and the module's (and the
# stand-in host's) classes that implement them.
HOST_TABLES = {"ImageFilter": FILTER_SLOTS, "ClassDesc": DESCRIPTOR_SLOTS,
               "Bitmap": BITMAP_SLOTS, "ISpinnerControl": SPINNER_SLOTS}
MODULE_TABLES = {"PaletteRenderFilter": FILTER_SLOTS, "PaletteRenderClassDesc": DESCRIPTOR_SLOTS,
                 "MemoryBitmap": BITMAP_SLOTS, "SpinnerHandle": SPINNER_SLOTS}
MODULE_SOURCES = ["plugin/palette_render_filter.cpp", "plugin/class_desc.cpp",
                  "host/memory_bitmap.cpp", "hostapi/spinner_control_win32.cpp"]

# Records: size, then (offset, field) pairs.
RECORDS = {
    "BMM_Color_64": (8, [(0, "r"), (2, "g"), (4, "b"), (6, "a")]),
    "ImageFilterInfo": (4, [(0, "frameNumber")]),
    "ClassIdentifierRecord": (8, [(0, "partA"), (4, "partB")]),
}

HOST_PROBE = """#include <tests/msvc_host/host_interface.h>
void Probe(ImageFilter* f, ClassDesc* d, Bitmap* b, ISpinnerControl* s) {
    f->Max(); d->Slot0(); b->Width(); s->GetIntValue();
}
"""

TYPEDEFS = {"HWND": "HWND__*", "DWORD": "unsigned long", "ULONG": "unsigned long",
            "WORD": "unsigned short", "UINT": "unsigned int"}
OPERATION = re.compile(r"(\w+)::(~?\w+)\(([^)]*)\)((?:\s*\[[^\]]*\])*)\s*$")


def canonical_parameter(text):
    text = re.sub(r"\s+([*&])", r"\1", text.strip())
    base = re.match(r"\w+", text)
    if base and base.group(0) in TYPEDEFS:
        text = TYPEDEFS[base.group(0)] + text[base.end():]
    return text


def operation(entry):
    """'Name(type, type)' of a dumped slot, with the destructor's kind; None for other lines."""
    match = OPERATION.search(entry)
    if not match:
        return None
    _, name, parameters, tags = match.groups()
    parameters = [canonical_parameter(p) for p in parameters.split(",") if p.strip()]
    text = "%s(%s)" % (name, ", ".join(parameters))
    kind = re.search(r"\[[a-z ]*deleting\]|\[complete\]|\[base\]", tags)
    return text + " " + kind.group(0) if kind else text


def matches(expected, actual):
    for spelling in expected.split(" | "):
        wildcard = re.fullmatch(r"\?\((\d+)\)", spelling)
        if wildcard:
            parameters = re.fullmatch(r"\w+\((.*)\)", actual)
            count = len(parameters.group(1).split(", ")) if parameters and parameters.group(1) else 0
            if parameters and count == int(wildcard.group(1)):
                return True
        elif spelling == actual:
            return True
    return False


def compare_table(side, name, expected, actual, problems):
    if actual is None:
        problems.append("%s: no table for %s in the dump" % (side, name))
        return
    for slot in range(max(len(expected), len(actual))):
        want = expected[slot] if slot < len(expected) else "(no slot)"
        got = actual[slot] if slot < len(actual) else "(no slot)"
        if not matches(want, got):
            problems.append("%s: %s slot %d is %s, expected %s" % (side, name, slot, got, want))


def run(command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        sys.exit("check_layouts: %s failed:\n%s" % (command[0], result.stderr))
    return result.stdout


def host_dump(clang, include_dirs):
    command = [clang, "--target=i686-pc-windows-msvc", "-std=c++20", "-fno-rtti",
               "-fno-exceptions", "-ffreestanding", "-x", "c++", "-S", "-o", os.devnull,
               "-Xclang", "-fdump-vtable-layouts", "-Xclang", "-fdump-record-layouts"]
    command += ["-I" + d for d in include_dirs] + ["-"]
    result = subprocess.run(command, input=HOST_PROBE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        sys.exit("check_layouts: %s failed:\n%s" % (clang, result.stderr))
    return result.stdout


def host_tables(dump):
    tables = {}
    current = None
    for line in dump.splitlines():
        header = re.match(r"VFTable for '(\w+)' \(\d+ entr", line)
        if header:
            current = tables.setdefault(header.group(1), [])
            continue
        entry = re.match(r"\s*\d+ \| (.*)$", line)
        if current is not None and entry:
            slot = operation(entry.group(1))
            if slot is not None:
                current.append(slot)
        elif not line.strip():
            current = None
    return tables


def host_records(dump):
    records = {}
    for block in dump.split("*** Dumping ")[1:]:
        if not block.startswith("AST Record Layout"):
            continue
        lines = block.strip().splitlines()[1:]
        name = re.search(r"(?:struct|class) (\w+)", lines[0]).group(1)
        fields = [(int(m.group(1)), m.group(2)) for m in
                  (re.match(r"\s*(\d+) \|\s+\S.*?(\w+)$", l) for l in lines[1:]) if m]
        size = int(re.search(r"sizeof=(\d+)", block).group(1))
        records[name] = (size, fields)
    return records


def module_tables(gxx, source_dir, include_dirs, cxxfilt):
    tables = {}
    for source in MODULE_SOURCES:
        command = [gxx, "-std=c++20", "-DNOMINMAX", "-S", "-o", "-"]
        command += ["-I" + d for d in include_dirs] + [os.path.join(source_dir, source)]
        symbol = None
        for line in run(command).splitlines():
            label = re.match(r"_(_ZTV\w+):$", line)
            if label:
                symbol = label.group(1)
                tables[symbol] = []
            elif symbol and re.match(r"\s+\.long\s", line):
                tables[symbol].append(line.split()[-1])
            else:
                symbol = None
    named = {}
    for symbol, entries in tables.items():
        # Two words come before the slots: the offset to the top and the type's identity.
        names = run([cxxfilt] + [symbol] + [e[1:] for e in entries[2:]]).splitlines()
        table_name = re.sub(r"^vtable for (\(anonymous namespace\)::)?", "", names[0])
        named[table_name] = [operation(n) or n for n in names[1:]]
    return named


def check(args, host_includes, module_includes):
    problems = []
    host_dump_text = host_dump(args.host_cxx, host_includes)
    found = host_tables(host_dump_text)
    for name, slots in HOST_TABLES.items():
        compare_table("host", name, slots, found.get(name), problems)
    records = host_records(host_dump_text)
    for name, layout in RECORDS.items():
        if records.get(name) != layout:
            problems.append("host: record %s is %s, expected %s"
                            % (name, records.get(name), layout))
    found = module_tables(args.module_cxx, args.source_dir, module_includes, args.cxxfilt)
    for name, slots in MODULE_TABLES.items():
        compare_table("module", name, slots, found.get(name), problems)
    return problems


def moved_copy(source_dir, relative, first, second, root):
    """A copy of `relative` under `root` with the lines holding `first` and `second` swapped."""
    with open(os.path.join(source_dir, relative)) as f:
        lines = f.readlines()
    found = [next((i for i, l in enumerate(lines) if text in l), None) for text in (first, second)]
    if None in found:
        sys.exit("check_layouts: %s no longer declares %s and %s" % (relative, first, second))
    a, b = found
    lines[a], lines[b] = lines[b], lines[a]
    target = os.path.join(root, relative)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    with open(target, "w") as f:
        f.writelines(lines)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host-cxx", required=True)
    parser.add_argument("--module-cxx", required=True)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--cxxfilt", default="c++filt")
    parser.add_argument("--stamp")
    parser.add_argument("--move-slot", action="store_true")
    args = parser.parse_args()
    source = [args.source_dir]

    if not args.move_slot:
        problems = check(args, source, source)
        for problem in problems:
            print("check_layouts: " + problem)
        if problems:
            return 1
        print("check_layouts: %d tables and %d records as the host's compiler lays them out"
              % (len(HOST_TABLES) + len(MODULE_TABLES), len(RECORDS)))
        if args.stamp:
            open(args.stamp, "w").close()
        return 0

    # One slot moved on each side in turn: the host's Lerp pair in declaration order, and the
    # module's Max after the first Lerp. The check must name the moved slots.
    failures = 0
    with tempfile.TemporaryDirectory() as root:
        moved_copy(args.source_dir, "tests/msvc_host/host_interface.h",
                   "Lerp(int a, int b, int l)", "Lerp(int a, int b, float l)", root)
        problems = check(args, [root] + source, source)
        print("\n".join("host side moved: " + p for p in problems))
        failures += not any("host: ImageFilter slot 14" in p for p in problems)
        shutil.rmtree(os.path.join(root, "tests"))
        moved_copy(args.source_dir, "hostapi/host_api.h",
                   "virtual int Max();", "virtual int Lerp(int a, int b, float l);", root)
        problems = check(args, source, [root] + source)
        print("\n".join("module side moved: " + p for p in problems))
        failures += not any("module: PaletteRenderFilter slot 13" in p for p in problems)
    print("check_layouts: a moved slot was %s" % ("missed" if failures else "found on both sides"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
