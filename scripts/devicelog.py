#!/usr/bin/env python3
"""Lists what the simulated device received, from pdasim's record log.

    devicelog.py --pdasim PATH LOG

One paragraph per record (at most the first 20): its number, length and
whether the device stored it, then each non-empty field under the field code
that feeds it (from pdasim's field table, so the labels never drift from the
record's one definition); a last line counts the records received and stored.
"""
import argparse
import json
import subprocess

# A long address book is listed in part; the log and the vCard hold it all.
SHOWN = 20


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pdasim", required=True, help="the pdasim whose --payload-fields names the fields")
    parser.add_argument("log", help="pdasim's --log file")
    args = parser.parse_args()
    # The record's eleven fields and the file's field codes that feed them; a
    # field whose value must pass a test also says which.
    table = subprocess.run([args.pdasim, "--payload-fields"], capture_output=True, text=True, check=True).stdout
    fields = [json.loads(line) for line in table.splitlines()]
    names = [f"{f['code']} ({f['name']})" if f["checked"] else f["code"] or f["name"] for f in fields]
    try:
        lines = open(args.log, encoding="utf-8").read().splitlines()
    except FileNotFoundError:
        lines = []
    records = [json.loads(line) for line in lines]
    for rec in records[:SHOWN]:
        status = {None: "not answered", 0: "refused"}.get(rec["status"], "stored")
        print(f"record {rec['seq']} ({rec['length']} bytes, {status})")
        for label, text in zip(names, rec["fields"]):
            if text:
                shown = text.replace("\r\n", "\n" + " " * 18)
                print(f"  {label:<15} {shown}")
    if len(records) > SHOWN:
        print(f"... and {len(records) - SHOWN} more record(s), all of them in {args.log}")
    stored = sum(1 for rec in records if rec["status"])
    print(f"{len(records)} record(s) received, {stored} stored on the device")


if __name__ == "__main__":
    main()
