#!/usr/bin/env python3
"""Compare the team's record file tool with the independent reader.

    check_recfile.py --recfile PATH [--count N] [--seed S] [--keep DIR] [--budget SECONDS]

Generates record files (valid and broken), runs `PATH payloads FILE` on
each and compares its stdout and exit code byte for byte with what
refreader.py gives. A path that does not exist is checked as well (result
2). Prints "N passed, M failed" and exits 1 on any mismatch.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import genrecfiles  # noqa: E402
import refreader  # noqa: E402

SHOWN_MISMATCHES = 5
TOOL_TIMEOUT_S = 10


def expected_for(path):
    result, payloads = refreader.read_path(path)
    out = "".join(p.hex() + "\n" for p in payloads) if result == 0 else ""
    return result, out.encode()


def run_tool(tool, path):
    try:
        proc = subprocess.run([tool, "payloads", path], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=TOOL_TIMEOUT_S)
    except subprocess.TimeoutExpired:
        return None, b"", b"no answer within %d s (hang?)" % TOOL_TIMEOUT_S
    return proc.returncode, proc.stdout, proc.stderr


def short(text, limit=400):
    text = text.decode("latin-1") if isinstance(text, bytes) else text
    return text if len(text) <= limit else text[:limit] + "...(%d chars)" % len(text)


def first_difference(expected, got):
    exp_lines = expected.decode("latin-1").splitlines()
    got_lines = got.decode("latin-1").splitlines()
    for i in range(max(len(exp_lines), len(got_lines))):
        e = exp_lines[i] if i < len(exp_lines) else "<none>"
        g = got_lines[i] if i < len(got_lines) else "<none>"
        if e != g:
            return "line %d: expected %s\n                got %s" % (i + 1, short(e, 300), short(g, 300))
    return "same lines, different bytes (line ends?)"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--recfile", required=True, help="the team's recfile tool")
    parser.add_argument("--count", type=int, default=600)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--keep", help="write the files here and keep them")
    parser.add_argument("--budget", type=float, default=0,
                        help="stop comparing after this many seconds (0: no limit)")
    args = parser.parse_args()

    if not os.access(args.recfile, os.X_OK):
        print("cannot run %s" % args.recfile)
        return 2

    with tempfile.TemporaryDirectory(prefix="recfiles-") as tmp:
        out_dir = args.keep or tmp
        cases = genrecfiles.generate(out_dir, args.count, args.seed)
        cases.append((os.path.join(out_dir, "no-such-file.rec"), "missing"))

        passed = 0
        failures = []
        started = time.monotonic()
        for compared, (path, kind) in enumerate(cases):
            if args.budget and time.monotonic() - started > args.budget:
                print("time budget of %g s used up after %d of %d files" % (args.budget, compared, len(cases)))
                break
            exp_code, exp_out = expected_for(path)
            code, out, err = run_tool(args.recfile, path)
            if code == exp_code and out == exp_out:
                passed += 1
            else:
                failures.append((path, kind, exp_code, exp_out, code, out, err))

        for path, kind, exp_code, exp_out, code, out, err in failures[:SHOWN_MISMATCHES]:
            print("MISMATCH %s (%s)" % (path, kind))
            print("  expected: exit %s, %d line(s)" % (exp_code, exp_out.count(b"\n")))
            print("  got:      exit %s, %d line(s)" % (code, out.count(b"\n")))
            if out != exp_out:
                print("  " + first_difference(exp_out, out))
            if err:
                print("  stderr: %s" % short(err.strip()))
        if failures and not args.keep:
            print("(rerun with --keep DIR --seed %d --count %d to keep the files)" % (args.seed, args.count))

        by_kind = {}
        for _, kind, *_ in failures:
            by_kind[kind] = by_kind.get(kind, 0) + 1
        if by_kind:
            print("failures by kind: " + ", ".join("%s %d" % kv for kv in sorted(by_kind.items())))
        print("%d passed, %d failed" % (passed, len(failures)))
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
