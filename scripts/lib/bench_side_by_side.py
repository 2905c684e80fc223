#!/usr/bin/env python3
"""The session benchmark's figures of two runs side by side: bench_side_by_side.py LINUX WINE.

Reads the ratio report bench_session prints after its runs (Linux build, and the Windows build under
wine64) and prints one row per figure with the ratio wine64 / Linux. Exit status 1 when a figure is
missing from either report."""
import re
import sys

NUMBER = r"(-?[0-9]+(?:\.[0-9]+)?)"
# (figure, unit, pattern, group)
FIGURES = [
    ("exposure requested to its tile drawn", "ms", r"exposure requested to its tile drawn: " + NUMBER + " ms", 1),
    ("  one enhancement of the exposure", "ms", r"enhancement of " + NUMBER + " ms", 1),
    ("  the simulated sensor's frame", "ms", r"makes up its frame: " + NUMBER + " ms", 1),
    ("  the rest (without the frame)", "ms", r"the rest, " + NUMBER + " ms", 1),
    ("Full Mouth 18, last exposure to last byte, native", "ms",
     r"last byte, native transfer: " + NUMBER + r" ms.*\n\s+without the simulated sensor's frame", 1),
    ("  without the simulated sensor's frame", "ms",
     r"last byte, native transfer: .*\n\s+without the simulated sensor's frame: " + NUMBER + " ms", 1),
    ("Full Mouth 18, last exposure to last byte, memory", "ms",
     r"last byte, memory transfer: " + NUMBER + r" ms.*\n\s+without the simulated sensor's frame", 1),
    ("  without the simulated sensor's frame", "ms",
     r"last byte, memory transfer: .*\n\s+without the simulated sensor's frame: " + NUMBER + " ms", 1),
    ("Full Mouth 21 at 1300 x 1700: peak over a fresh process", "MB",
     r"Full Mouth 21 session .*: peak (?:resident|working set) " + NUMBER + " MB", 1),
    ("  a fresh process", "MB", r"Full Mouth 21 session .* over a fresh process's " + NUMBER + " MB", 1),
    ("  fixed cost before the first exposure", "MB", r"fixed cost before the first exposure .*: " + NUMBER + " MB", 1),
    ("  what the exposures add", "MB", r"what the exposures add: " + NUMBER + " MB", 1),
    ("    of which their raw frames", "MB", r"= the frames " + NUMBER + " MB", 1),
    ("    of which the working set", "MB", r"the working set " + NUMBER + " MB", 1),
]


def figures(path):
    with open(path, encoding="utf-8", errors="replace") as report:
        text = report.read()
    values = []
    for _, _, pattern, group in FIGURES:
        found = re.search(pattern, text)
        values.append(float(found.group(group)) if found else None)
    return values


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: bench_side_by_side.py LINUX-REPORT WINE-REPORT")
    linux, wine = figures(sys.argv[1]), figures(sys.argv[2])
    width = max(len(name) for name, *_ in FIGURES) + 4
    print(f"{'session benchmark':<{width}}{'Linux':>12}{'wine64':>12}{'wine64/Linux':>14}")
    missing = False
    for (name, unit, _, _), a, b in zip(FIGURES, linux, wine):
        cells = [f"{v:.1f} {unit}" if v is not None else "-" for v in (a, b)]
        ratio = f"{b / a:.2f}" if a and b is not None else "-"
        missing |= a is None or b is None
        print(f"{name:<{width}}{cells[0]:>12}{cells[1]:>12}{ratio:>14}")
    print("Linux: peak resident (VmHWM); wine64: peak working set (GetProcessMemoryInfo) of the 64-bit build")
    if missing:
        print("(-: the figure is missing from that run's report)")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
