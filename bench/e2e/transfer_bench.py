#!/usr/bin/env python3
"""Whole-transfer benchmark: 1,000 typical contacts through imex.dll under Wine
to pdasim pacing the line at 57600 baud (10 bits a byte).

    transfer_bench.py --imexhost PATH [--records N] [--contacts short|full] [--workdir DIR]

Contacts "short" (the default) hold a name, a mobile number, an e-mail address
and a company (about 60 payload bytes); "full" ones hold what an address book
entry often has: besides those, work and home numbers, a department, a title,
a postal address and a note (about 200 bytes).

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


def full_contacts(count):
    """Text of `count` distinct contacts with the fields a full address book entry has."""
    blocks = []
    for k in range(count):
        blocks.append(f"00\t姓名\t联系人{k:04d}\n01\t称谓\t经理\n10\t手机\t139{k:08d}\n"
                      f"12\t办公电话\t010-6{k:07d}\n11\t住宅电话\t021-5{k:07d}\n"
                      f"61\t电子邮件\tuser{k}@example.com\n15\t公司\t华信科技有限公司\n"
                      f"16\t部门\t第{k % 9}事业部\n60\t地址\t北京市海淀区中关村大街{k % 100}号\n"
                      f"80\t备注\t每周三下午有空\n")
    return "\n".join(blocks)


def report(payloads, wire_bytes, wire_s, total_s, span):
    """The figures both benchmarks print: the records, the wire-time bound and the ratio to it."""
    print(f"records            {len(payloads)} (payload bytes {sum(map(len, payloads))}, "
          f"mean {sum(map(len, payloads)) / len(payloads):.1f})")
    print(f"wire bytes         {wire_bytes} (request and reply frames, flags and stuffing)")
    print(f"wire-time bound    {wire_s:.3f} s at {BAUD} baud, {BITS_PER_BYTE} bits a byte")
    print(f"transfer time      {total_s:.3f} s ({span})")
    print(f"ratio              {total_s / wire_s:.3f}")
    print(f"overhead           {(total_s - wire_s) * 1000 / len(payloads):.2f} ms per record")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--imexhost", required=True)
    parser.add_argument("--records", type=int, default=1000)
    parser.add_argument("--contacts", choices=["short", "full"], default="short")
    parser.add_argument("--workdir", default=os.path.join(e2e.REPO, "build", "bench-e2e"))
    options = parser.parse_args()
    os.makedirs(options.workdir, exist_ok=True)

    text = e2e.contacts(options.records) if options.contacts == "short" else full_contacts(options.records)
    path = e2e.build_file(options.workdir, "contacts", text)
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
    report(payloads, wire_bytes, wire_s, total_s, "first callback to result")
    print(f"whole run          {run.elapsed:.1f} s (Wine start, connection and unload included)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
