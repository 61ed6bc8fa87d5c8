#!/usr/bin/env python3
"""The demo's listing of stored records, run as the demo runs it.

    check_demo_listing.py --pdasim PATH --listing scripts/devicelog.py

Feeds the listing program that scripts/demo.sh runs over pdasim's record log
a log of known records and compares what it prints, so the listing keeps its
labels while they come from pdasim's field table. Also checks that table's
JSON lines. Exits 1 on any difference.
"""

import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

FIELDS = ["张三", "", "公司", "部门", "13", "10", "11", "12", "a@b.cn", "地址", "称谓:先生\r\n备注:x\r\n"]

RECORDS = [
    {"seq": 1, "time": "2026-01-01T00:00:00.000Z", "flag": 1, "length": 60, "data": "", "fields": FIELDS,
     "status": 1},
    {"seq": 2, "time": "2026-01-01T00:00:01.000Z", "flag": 1, "length": 17, "data": "",
     "fields": ["Li", "", "", "", "", "", "", "123", "", "", ""], "status": 0},
    {"seq": 3, "time": "2026-01-01T00:00:02.000Z", "flag": 1, "length": 13, "data": "",
     "fields": ["Wu", "", "", "", "", "", "", "", "", "", ""], "status": None},
]

EXPECTED = """\
record 1 (60 bytes, stored)
  00              张三
  15              公司
  16              部门
  13              13
  10              10
  11              11
  12              12
  61 (e-mail)     a@b.cn
  60              地址
  notes           称谓:先生
                  备注:x
                  
record 2 (17 bytes, refused)
  00              Li
  12              123
record 3 (13 bytes, not answered)
  00              Wu
3 record(s) received, 1 stored on the device
"""


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pdasim", required=True)
    parser.add_argument("--listing", required=True)
    args = parser.parse_args()
    failures = []

    table = subprocess.run([args.pdasim, "--payload-fields"], capture_output=True, text=True, check=True).stdout
    rows = [json.loads(line) for line in table.splitlines()]
    if [row.get("field") for row in rows] != list(range(11)):
        failures.append("field numbers %r" % [row.get("field") for row in rows])
    for row in rows:
        if not (isinstance(row.get("name"), str) and row["name"] and isinstance(row.get("code"), str)
                and re.fullmatch(r"(\d\d)?", row["code"]) and isinstance(row.get("checked"), bool)):
            failures.append("table row %r" % row)

    with tempfile.TemporaryDirectory(prefix="demo-listing-") as workdir:
        log = os.path.join(workdir, "device.jsonl")
        with open(log, "w", encoding="utf-8") as f:
            for record in RECORDS:
                f.write(json.dumps(record, ensure_ascii=False) + "\n")
        listing = [sys.executable, args.listing, "--pdasim", args.pdasim]
        run = subprocess.run(listing + [log], capture_output=True, text=True)
        if run.returncode != 0:
            failures.append("the listing failed: " + run.stderr)
        elif run.stdout != EXPECTED:
            failures.append("listing differs:\n" + run.stdout)

        # A long store is listed in part, and the count still covers all of it.
        long_log = os.path.join(workdir, "long.jsonl")
        with open(long_log, "w", encoding="utf-8") as f:
            for seq in range(1, 24):
                record = dict(RECORDS[1], seq=seq, status=0 if seq == 23 else 1)
                f.write(json.dumps(record, ensure_ascii=False) + "\n")
        run = subprocess.run(listing + [long_log], capture_output=True, text=True)
        headers = re.findall(r"^record (\d+) ", run.stdout, re.M)
        if headers != [str(k) for k in range(1, 21)]:
            failures.append("a long store lists records %r" % headers)
        if ("... and 3 more record(s), all of them in %s\n" % long_log) not in run.stdout:
            failures.append("a long store does not say what it left out:\n" + run.stdout[-300:])
        if not run.stdout.endswith("23 record(s) received, 22 stored on the device\n"):
            failures.append("a long store's count: " + run.stdout[-100:])

    for failure in failures:
        print("FAIL " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
