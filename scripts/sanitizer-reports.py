#!/usr/bin/env python3
"""Reads the sanitizer logs of a test run and decides which reports fail it.

usage: sanitizer-reports.py --root DIR --suppressions FILE LOG...

Every report of AddressSanitizer, LeakSanitizer, UndefinedBehaviorSanitizer
and ThreadSanitizer in the logs is sorted into one of three kinds:

  ours      the code where the fault happens is ours: the topmost frame of one
            of the report's stacks (after the sanitizer's own frames) was built
            from this tree, including the Qt and standard library templates
            compiled into our programs. Always fails the run.
  foreign   it happens inside Qt, glibc or another library we do not build,
            and a suppression entry names it. Counted, never fails.
  unknown   it happens inside such a library, but no entry names it. Fails
            the run until it is fixed or given an entry with its reason.

A suppression entry is a line "KIND:PATTERN" right below a comment line that
gives its reason. KIND is race, mutex (any other ThreadSanitizer report),
leak, address or undefined; PATTERN is a shell-style pattern matched against
each function name and library file name of the report's stacks.

Prints every report that fails, then one line per kind; exits 1 when any
report fails.
"""

import argparse
import fnmatch
import os
import re
import sys
from dataclasses import dataclass, field

FRAME = re.compile(r"^\s*#\d+\s+(?:0x[0-9a-f]+\s+)?(?:in\s+)?(?P<rest>.*)$")
MODULE = re.compile(r"\((?P<module>[^()+]+)\+0x[0-9a-f]+\)")
LOCATION = re.compile(r"\s(?P<file>[^\s]+?):\d+(?::\d+)?(?=\s|$)")
# Headers of ours and of the libraries whose templates are compiled into our
# programs; anything else with a source line is someone else's build.
COMPILED_IN = ("/usr/include/", "/usr/lib/gcc/", "/usr/lib/llvm-")

STARTS = {
    "WARNING: ThreadSanitizer:": "tsan",
    "ERROR: AddressSanitizer:": "address",
    "ERROR: LeakSanitizer:": "leaks",
}
END = re.compile(r"^SUMMARY: (ThreadSanitizer|AddressSanitizer|UndefinedBehaviorSanitizer)")
UBSAN = re.compile(r"^(?P<place>\S+?):\d+:\d+: runtime error: ")
LEAK = re.compile(r"^(Direct|Indirect) leak of ")
ACCESS = re.compile(r"^\s+(Previous )?(atomic )?(read|write)\b", re.IGNORECASE)


@dataclass
class Frame:
    function: str
    file: str | None
    module: str | None


@dataclass
class Report:
    kind: str                 # race, mutex, leak, address, undefined
    log: str
    lines: list[str] = field(default_factory=list)
    stacks: list[list[Frame]] = field(default_factory=list)


def parse_frame(line: str) -> Frame | None:
    match = FRAME.match(line)
    if not match:
        return None
    rest = match.group("rest")
    module_match = MODULE.search(rest)
    module = module_match.group("module") if module_match else None
    text = rest[: module_match.start()] if module_match else rest
    locations = list(LOCATION.finditer(" " + text))
    source = locations[-1].group("file") if locations else None
    function = text[: locations[-1].start()] if locations else text
    return Frame(function.strip(), None if source in (None, "<null>") else source, module)


def report_kind(line: str) -> str | None:
    """The kind of report the line starts; "leaks" for the leak list's heading."""
    for text, tool in STARTS.items():
        if text in line:
            if tool == "tsan":
                return "race" if "data race" in line else "mutex"
            return tool
    if LEAK.match(line):
        return "leak"
    if UBSAN.match(line):
        return "undefined"
    return None


def read_reports(path: str) -> list[Report]:
    reports: list[Report] = []
    current: Report | None = None
    stack: list[Frame] = []
    relevant = True

    def close_stack():
        nonlocal stack
        if current is not None and stack and relevant:
            current.stacks.append(stack)
        stack = []

    with open(path, errors="replace") as log:
        for line in log:
            kind = report_kind(line)
            if kind:
                close_stack()
                current = None if kind == "leaks" else Report(kind, path, [line])
                relevant = True
                if current:
                    reports.append(current)
                if kind == "undefined":
                    # The fault's own place comes first, then its stack.
                    stack = [Frame("", UBSAN.match(line).group("place"), None)]
                continue
            if current is None:
                continue
            current.lines.append(line)
            frame = parse_frame(line)
            if frame:
                stack.append(frame)
                continue
            close_stack()
            if END.match(line):
                current = None
            elif current.kind == "race" and line.strip() and not line.startswith("="):
                # Of a race only the two accesses say where it happens; the
                # other stacks (where the memory or a lock was made, where a
                # thread started) say nothing about whose code raced.
                relevant = bool(ACCESS.match(line))
    close_stack()
    return reports


def is_runtime(frame: Frame) -> bool:
    # The sanitizer's interceptors sit in our programs, without a source line.
    if frame.file is None and frame.module and ".so" not in os.path.basename(frame.module):
        return True
    return frame.function.startswith(("__interceptor_", "__sanitizer", "__asan", "__tsan", "__lsan",
                                      "__ubsan", "operator new", "operator delete"))


def is_ours(frame: Frame, root: str) -> bool:
    # Built here, with debug information: our sources and the templates
    # compiled into our programs.
    if frame.file is None:
        return False
    if not os.path.isabs(frame.file):
        # Built with a relative path: ours when it names a file of this tree.
        return os.path.isfile(os.path.join(root, frame.file))
    path = os.path.normpath(frame.file)
    return path.startswith(root) or path.startswith(COMPILED_IN)


def top_frame(stack: list[Frame]) -> Frame | None:
    return next((f for f in stack if not is_runtime(f)), None)


@dataclass
class Entry:
    kind: str
    pattern: str
    reason: str
    used: int = 0


def read_suppressions(path: str) -> list[Entry]:
    entries: list[Entry] = []
    reason = None
    with open(path) as file:
        for number, raw in enumerate(file, 1):
            line = raw.strip()
            if not line:
                reason = None
            elif line.startswith("#"):
                reason = line.lstrip("# ")
            else:
                kind, _, pattern = line.partition(":")
                if kind not in ("race", "mutex", "leak", "address", "undefined") or not pattern:
                    sys.exit(f"{path}:{number}: not KIND:PATTERN: {line}")
                if not reason:
                    sys.exit(f"{path}:{number}: the entry has no reason on the line above it")
                entries.append(Entry(kind, pattern, reason))
    return entries


def matching_entry(report: Report, entries: list[Entry]) -> Entry | None:
    names = []
    for stack in report.stacks:
        for frame in stack:
            names.append(frame.function)
            if frame.module:
                names.append(os.path.basename(frame.module))
    for entry in entries:
        if entry.kind == report.kind and any(fnmatch.fnmatchcase(n, entry.pattern) for n in names):
            return entry
    return None


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--suppressions", required=True)
    parser.add_argument("logs", nargs="*")
    args = parser.parse_args()
    root = os.path.realpath(args.root).rstrip("/") + "/"
    entries = read_suppressions(args.suppressions)

    counts = {"ours": 0, "foreign": 0, "unknown": 0}
    for log in sorted(args.logs):
        for report in read_reports(log):
            tops = [top_frame(stack) for stack in report.stacks]
            if any(top is not None and is_ours(top, root) for top in tops):
                verdict = "ours"
            else:
                entry = matching_entry(report, entries)
                if entry:
                    entry.used += 1
                    counts["foreign"] += 1
                    continue
                verdict = "unknown"
            counts[verdict] += 1
            title = "OURS" if verdict == "ours" else "NOT SUPPRESSED (inside a library we do not build)"
            print(f"==== {title}: {report.kind} in {log}")
            sys.stdout.writelines(report.lines)
            print()

    for entry in entries:
        if entry.used:
            print(f"suppressed {entry.used}x {entry.kind}:{entry.pattern} ({entry.reason})")
    print(f"sanitizer reports: {counts['ours']} ours, {counts['unknown']} unknown inside libraries, "
          f"{counts['foreign']} suppressed inside libraries")
    return 1 if counts["ours"] or counts["unknown"] else 0


if __name__ == "__main__":
    sys.exit(main())
