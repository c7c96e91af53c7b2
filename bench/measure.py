#!/usr/bin/env python3
"""Runs one command and reports its wall-clock time and the peak of the resident memory of
the whole process tree it starts (workers included), sampled every 20 ms from /proc:

  measure.py COMMAND [ARGS...]   prints "SECONDS PEAK_MIB" on stdout; the command's own
                                 output goes to /dev/null; exit code 1 when the command failed
  measure.py --cpu COMMAND ...   prints "SECONDS PEAK_MIB CPU_SECONDS": the processor time, user
                                 and system, of the command and every process it waited for
"""

import os
import resource
import subprocess
import sys
import time


def descendants(root):
    """`root` and every process below it, through the kernel's lists of children."""
    found, stack = [], [root]
    while stack:
        pid = stack.pop()
        found.append(pid)
        try:
            for task in os.listdir("/proc/%d/task" % pid):
                with open("/proc/%d/task/%s/children" % (pid, task)) as children:
                    stack.extend(int(child) for child in children.read().split())
        except OSError:
            pass
    return found


def tree_rss_kib(root):
    """The summed VmRSS of `root` and every process below it."""
    total = 0
    for pid in descendants(root):
        try:
            with open("/proc/%d/status" % pid) as status:
                for line in status:
                    if line.startswith("VmRSS:"):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total


def main():
    cpu = len(sys.argv) > 1 and sys.argv[1] == "--cpu"
    command = sys.argv[2:] if cpu else sys.argv[1:]
    started = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    peak = 0
    while process.poll() is None:
        peak = max(peak, tree_rss_kib(process.pid))
        time.sleep(0.02)
    elapsed = time.monotonic() - started
    if cpu:
        # This script's only child, so its children's time is the command's.
        used = resource.getrusage(resource.RUSAGE_CHILDREN)
        print("%.3f %.1f %.3f" % (elapsed, peak / 1024.0, used.ru_utime + used.ru_stime))
    else:
        print("%.3f %.1f" % (elapsed, peak / 1024.0))
    return 0 if process.returncode == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
