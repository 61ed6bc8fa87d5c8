#!/usr/bin/env python3
"""Native sender benchmark: 1,000 typical contacts through imexsend to pdasim pacing the line at
57600 baud (10 bits a byte), the same records and the same wire-time bound as transfer_bench.py's
run of the DLL under Wine, so the two ratios compare.

    send_bench.py [--imexsend PATH] [--records N] [--contacts short|full] [--workdir DIR]

Prints the time from the information line (the records start) to the summary, the wire-time bound
of the same records (every request and reply frame with its flags and stuffing, both directions, one
after the other), their ratio and the overhead per record. Not a test: it reports, it does not judge
(exit 0 unless the run itself failed). Needs the native pdasim and recfile (IMEX_PDASIM, IMEX_RECFILE)
and imexsend (default: build/native).
"""
import argparse
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "e2e"))
sys.path.insert(0, HERE)
import e2e  # noqa: E402  (simulators and recfile)
import transfer_bench as wire  # noqa: E402  (the wire-time bound and the contacts, as the DLL's run counts them)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--imexsend", default=os.path.join(e2e.REPO, "build/native/tools/imexsend/imexsend"))
    parser.add_argument("--records", type=int, default=1000)
    parser.add_argument("--contacts", choices=["short", "full"], default="short")
    parser.add_argument("--workdir", default=os.path.join(e2e.REPO, "build", "bench-send"))
    options = parser.parse_args()
    os.makedirs(options.workdir, exist_ok=True)

    text = e2e.contacts(options.records) if options.contacts == "short" else wire.full_contacts(options.records)
    path = e2e.build_file(options.workdir, "contacts", text)
    payloads = [bytes.fromhex(p) for p in e2e.payloads(path)]
    wire_bytes = sum(wire.frame_length(wire.record_request(p)) + wire.frame_length(wire.RECORD_REPLY)
                     for p in payloads)
    wire_s = wire_bytes * wire.BITS_PER_BYTE / wire.BAUD

    link = os.path.join(options.workdir, "line")
    log = os.path.join(options.workdir, "device.jsonl")
    for stale in (link, log):
        if os.path.lexists(stale):
            os.unlink(stale)
    device = subprocess.Popen([e2e.PDASIM, "--pty", link, "--pace", "--quiet", "--log", log],
                              stdout=subprocess.PIPE, text=True)
    try:
        if "ready" not in device.stdout.readline():
            print("pdasim did not get ready")
            return 1
        started = time.monotonic()
        sender = subprocess.Popen([options.imexsend, link, path], stdout=subprocess.PIPE, text=True)
        lines = [(time.monotonic(), line.rstrip("\n")) for line in sender.stdout]
        sender.wait()
        ended = time.monotonic()
    finally:
        device.terminate()
        device.wait(10)
    first = [t for t, line in lines if line.startswith("device ")]
    done = [t for t, line in lines if " records: " in line]
    received = len(open(log).readlines())
    if sender.returncode != 0 or not first or not done or received != len(payloads):
        print(f"run failed: status {sender.returncode}, device received {received} of {len(payloads)}: "
              + "\n".join(line for _, line in lines))
        return 1
    total_s = done[-1] - first[0]
    wire.report(payloads, wire_bytes, wire_s, total_s, "information line to summary")
    print(f"whole run          {ended - started:.1f} s (connection and the probe's 4,007 bytes included)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
