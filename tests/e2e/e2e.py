#!/usr/bin/env python3
"""End-to-end cases: imex.dll under Wine, a simulated device behind COM1 and COM2.

    e2e.py CASE --imexhost PATH [--workdir DIR] [--limit S]
    e2e.py --list

Each case writes its record file with the native recfile tool, starts one
pdasim per port on a pseudo-terminal of its own (behind the prefix's COM1 and
COM2 links), runs imexhost.exe through the Wine runner and judges what the
host printed (progress, results, dialogs, message boxes) and what the device
logged (every record it received, byte for byte). A case that is a table runs
this once per row. What the independent suite (tests/independent) judges with
its own host and peer is not judged again here.

Environment: IMEX_PDASIM and IMEX_RECFILE name the native tools (defaults in
<repo>/build/native); IMEX_WINE_DIR the private Wine directory (the runner's
default otherwise); IMEX_ARTIFACTS where screenshots go (<repo>/build/artifacts).
Exit 0 when every check of the case held, 1 when one failed, 2 on bad usage.
"""
import argparse
import os
import shutil
import sys
import time

import e2e_driver
from e2e_cases import CASES
from e2e_driver import (DEFAULT_RUN_LIMIT_S, PDASIM, RECFILE, REPO, Case, CaseFailure, Checks, HostRun, Sim,
                        build_file, contacts, payloads, recfile, run_windows, stop_wine, win_path)

# The bench and SDK scripts import e2e for the driver's names, so they are found here too.
__all__ = ["CASES", "PDASIM", "RECFILE", "REPO", "Case", "CaseFailure", "Checks", "HostRun", "Sim", "build_file",
           "contacts", "payloads", "recfile", "run_windows", "stop_wine", "win_path", "main"]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("case", nargs="?", choices=sorted(CASES))
    parser.add_argument("--list", action="store_true", help="list the cases")
    parser.add_argument("--imexhost", help="path of imexhost.exe (imex.dll beside it)")
    parser.add_argument("--workdir", help="scratch directory for the case")
    parser.add_argument("--limit", type=float, default=DEFAULT_RUN_LIMIT_S,
                        help="seconds one Windows program may run (keep it below the CTest time-out, "
                             "so a hang is reported with its output)")
    options = parser.parse_args()
    if options.list:
        for name in sorted(CASES):
            print(f"{name}: {CASES[name].__doc__.split(chr(10))[0]}")
        return 0
    if not options.case or not options.imexhost:
        parser.print_usage(sys.stderr)
        return 2
    for tool in (PDASIM, RECFILE):
        if not os.access(tool, os.X_OK):
            print(f"e2e: no native tool at {tool}: build the native preset first, or set IMEX_PDASIM "
                  f"and IMEX_RECFILE", file=sys.stderr)
            return 2
    options.workdir = os.path.abspath(options.workdir or os.path.join(REPO, "build", "e2e-work", options.case))
    shutil.rmtree(options.workdir, ignore_errors=True)
    os.makedirs(options.workdir)
    e2e_driver.RUN_LIMIT_S = options.limit
    c = Case(options)
    start = time.monotonic()
    try:
        CASES[options.case](c)
    except CaseFailure as failure:
        c.stop_all()
        print(f"FAIL {options.case} ({time.monotonic() - start:.1f} s)\n{failure}\n(work files: {options.workdir})")
        return 1
    except BaseException:
        c.stop_all()
        raise
    print(f"PASS {options.case} ({time.monotonic() - start:.1f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
