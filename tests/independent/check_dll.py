#!/usr/bin/env python3
"""Acceptance run of imex.dll under Wine, judged from outside.

    check_dll.py --arch win32|win64 --dll PATH --hostcheck PATH
                 [--fakeimex PATH] [--wine-dir DIR] [--workdir DIR]
                 [--only NAME[,NAME...]] [--init]

For each scenario it writes a record file of its own, works out the
records the device must receive (refreader.py, and literal expectations
for hand-made blocks), starts pdapeer.py on COM1 and/or COM2 (the symlinks
DIR/ports/COMn of the Wine prefix), runs hostcheck.exe under Wine through
tests/wine/winerun.sh and checks the result code, the progress callbacks,
the message boxes (caption: the DLL's file name without extension, the
framework's default title), the dialogs and percentages shown, and every
frame each peer received, byte for byte and in order. hostcheck loads a
copy of the DLL from a folder of its own, as a host program finds it.

The line-fault box (a record without a reply for 20 s), refused records,
replies left on the line and no device at all are judged by imexcheck
(tests/check) alone; one 20-second wait per build is enough.

One line per scenario, then "N passed, M failed"; the exit code is 1 when
any scenario failed. DIR defaults to $IMEX_WINE_DIR, else build/wine of this
checkout (the runner's own).
"""

import argparse
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from dll_harness import Context, Findings  # noqa: E402
from dll_scenarios import SCENARIOS  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--arch", choices=["win32", "win64"], required=True)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--hostcheck", required=True)
    parser.add_argument("--fakeimex", help="the stand-in DLL with known faults")
    parser.add_argument("--wine-dir")
    parser.add_argument("--workdir")
    parser.add_argument("--only", help="comma-separated scenario names")
    parser.add_argument("--init", action="store_true", help="make a fresh working prefix first")
    args = parser.parse_args()
    ctx = Context(args)

    prefix = os.path.join(ctx.wine_dir, ctx.arch, "prefix")
    if args.init or not os.path.isdir(prefix):
        done = ctx.winerun("--init", timeout=300)
        if done.returncode != 0:
            print("winerun --init failed:\n" + done.stdout.decode(errors="replace"))
            return 1

    wanted = set(args.only.split(",")) if args.only else None
    passed = failed = 0
    started = time.time()
    print("check_dll: %s, %s, work in %s" % (ctx.arch, ctx.dll, ctx.workdir), flush=True)
    for name, function in SCENARIOS:
        if wanted is not None and name not in wanted:
            continue
        t0 = time.time()
        ctx.begin(name)
        try:
            findings = function(ctx)
        except Exception as error:  # a broken scenario is a failure, not a crash
            findings = Findings(["driver error: %s: %s" % (type(error).__name__, error)])
        finally:
            ctx.end()
        if findings is None:
            print("SKIP %-26s (no stand-in DLL given)" % name, flush=True)
            continue
        if findings:
            failed += 1
            print("FAIL %-26s %5.1f s" % (name, time.time() - t0), flush=True)
            for text in findings:
                print("     - " + text, flush=True)
        else:
            passed += 1
            print("ok   %-26s %5.1f s" % (name, time.time() - t0), flush=True)
    print("(%.0f s in all)" % (time.time() - started))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
