#!/usr/bin/env python3
"""Whole-transfer benchmark: 1,000 typical contacts through imex.dll under Wine
to pdasim pacing the line at 57600 baud (10 bits a byte).

    transfer_bench.py --imexhost PATH [--records N] [--workdir DIR]

Prints the time from the first progress callback to the result, the wire-time
bound of the same records (every request and reply frame with its flags and
stuffing, both directions, one after the other), their ratio and the overhead
per record. Not a test: it reports, it does not judge (exit 0 unless the run
itself failed). Needs the native pdasim and recfile (IMEX_PDASIM, IMEX_RECFILE).
"""
import argparse
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "e2e"))
import e2e  # noqa: E402  (the end-to-end driver: simulators, Wine runner, recfile)

BAUD = 57600
BITS_PER_BYTE = 10
FLAG, ESCAPE = 0x7E, 0x7D
RECORD_REPLY = bytes([0x87, 0x01, 0x00, 0x01])  # record taken


def fcs16(data):
    register = 0xFFFF
    for byte in data:
        register ^= byte
        for _ in range(8):
            register = (register >> 1) ^ 0x8408 if register & 1 else register >> 1
    return register ^ 0xFFFF


def frame_length(message):
    fcs = fcs16(message)
    body = bytes(message) + bytes([fcs & 0xFF, fcs >> 8])
    return 2 + len(body) + sum(1 for b in body if b in (FLAG, ESCAPE))


def record_request(data):
    n = len(data)
    return bytes([0x07, (n + 3) & 0xFF, (n + 3) >> 8, 0x01, n & 0xFF, n >> 8]) + data


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--imexhost", required=True)
    parser.add_argument("--records", type=int, default=1000)
    parser.add_argument("--workdir", default=os.path.join(e2e.REPO, "build", "bench-e2e"))
    options = parser.parse_args()
    os.makedirs(options.workdir, exist_ok=True)

    path = e2e.build_file(options.workdir, "contacts", e2e.contacts(options.records))
    payloads = [bytes.fromhex(p) for p in e2e.payloads(path)]
    wire_bytes = sum(frame_length(record_request(p)) + frame_length(RECORD_REPLY) for p in payloads)
    wire_s = wire_bytes * BITS_PER_BYTE / BAUD

    class Options:
        imexhost = options.imexhost
        hostcheck = None
        workdir = options.workdir
    case = e2e.Case(Options)
    try:
        case.start_sims(com1=["--pace", "--quiet"], com2=None)
        run = case.host(path, limit=3600)
    finally:
        case.stop_all()
    first = [t for t, text in run.lines if text.startswith("progress 1/")]
    done = [t for t, text in run.lines if text.startswith("result ")]
    received = len(case.sims["COM1"].records())
    if run.results() != [0] or not first or not done or received != len(payloads):
        print(f"run failed: results {run.results()}, device received {received} of {len(payloads)}\n"
              + run.describe())
        return 1
    total_s = done[0] - first[0]
    print(f"records            {len(payloads)} (payload bytes {sum(map(len, payloads))}, "
          f"mean {sum(map(len, payloads)) / len(payloads):.1f})")
    print(f"wire bytes         {wire_bytes} (request and reply frames, flags and stuffing)")
    print(f"wire-time bound    {wire_s:.3f} s at {BAUD} baud, {BITS_PER_BYTE} bits a byte")
    print(f"transfer time      {total_s:.3f} s (first callback to result)")
    print(f"ratio              {total_s / wire_s:.3f}")
    print(f"overhead           {(total_s - wire_s) * 1000 / len(payloads):.2f} ms per record")
    print(f"whole run          {run.elapsed:.1f} s (Wine start, connection and unload included)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
