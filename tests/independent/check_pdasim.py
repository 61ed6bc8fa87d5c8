#!/usr/bin/env python3
"""Drive the device simulator over a pseudo-terminal with the independent
client and check its replies and its record log.

    check_pdasim.py --pdasim PATH

Runs two sessions: a device that stores records (with a chosen free space
and server type) and one started with --refuse-records. Prints each failed
check, then "N passed, M failed"; exits 1 on any failure.
"""

import argparse
import json
import os
import selectors
import signal
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import pdaclient  # noqa: E402

READY_TIMEOUT_S = 10
LOG_TIMEOUT_S = 5
EXIT_TIMEOUT_S = 5


def gbk(text):
    return text.encode("gbk")


def gbk_with_flag_bytes():
    """Chinese characters whose code page 936 bytes include 0x7D or 0x7E,
    so that stuffing is needed inside the text."""
    found = []
    for cp in range(0x4E00, 0x9FA6):
        raw = chr(cp).encode("gbk")
        if raw[1] in (0x7D, 0x7E):
            found.append(chr(cp))
        if len(found) == 6:
            break
    return "".join(found)


def contacts():
    """Made-up contacts as (code, label, value) entries in code page 936."""
    flagged = gbk_with_flag_bytes()
    return [
        [(b"00", b"", b"Li"), (b"12", b"Tel", b"123")],
        [(b"00", gbk("姓名"), gbk("张三")), (b"10", gbk("手机"), b"13800138000"),
         (b"13", gbk("公司"), gbk("北京某某科技有限公司")), (b"61", b"E-mail", b"zhang.san@example.cn"),
         (b"60", gbk("地址"), gbk("北京市海淀区中关村大街1号")), (b"01", b"", gbk("先生")),
         (b"15", gbk("部门"), gbk("研发部")), (b"15", gbk("部门2"), gbk("测试部"))],
        [],
        [(b"00", b"N", b"A~B}C" + gbk(flagged)), (b"80", gbk(flagged), b"~~}}" + gbk("备注") * 3),
         (b"16", b"", b"\x7e\x7d\x7e")],
        [(b"80", b"", b"x" * 250), (b"80", b"", gbk("长") * 120), (b"11", b"", gbk("码") * 200),
         (b"12", b"", b"9" * 300), (b"00", b"", gbk("名") * 127 + b"a"), (b"01", b"", gbk("女士"))],
        [(b"00", b"a", b""), (b"00", gbk("名"), gbk("王五")), (b"61", b"", b"bad@.cn")],
    ]


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, ok, what, detail=""):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print("FAIL %s%s" % (what, (": " + detail) if detail else ""))
        return ok

    def equal(self, got, want, what):
        return self.check(got == want, what, "" if got == want else "expected %r, got %r" % (want, got))


class Simulator:
    """pdasim on a pty, started and stopped by this check."""

    def __init__(self, exe, workdir, name, flags):
        self.link = os.path.join(workdir, name + ".pty")
        self.log = os.path.join(workdir, name + ".jsonl")
        self.stderr_path = os.path.join(workdir, name + ".stderr")
        self.stderr = open(self.stderr_path, "wb")
        self.proc = subprocess.Popen([exe, "--pty", self.link, "--log", self.log, "--quiet"] + flags,
                                     stdout=subprocess.PIPE, stderr=self.stderr,
                                     start_new_session=True)

    def wait_ready(self):
        """The first stdout line, or an explanation of why none came."""
        sel = selectors.DefaultSelector()
        sel.register(self.proc.stdout, selectors.EVENT_READ)
        deadline = time.monotonic() + READY_TIMEOUT_S
        line = b""
        while not line.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not sel.select(left):
                return None, "no ready line within %d s (see %s)" % (READY_TIMEOUT_S, self.stderr_path)
            chunk = os.read(self.proc.stdout.fileno(), 1)
            if not chunk:
                return None, "pdasim ended before it was ready (exit %s, see %s)" % (
                    self.proc.poll(), self.stderr_path)
            line += chunk
        return line.decode("utf-8", "replace").rstrip("\n"), ""

    def terminate(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            code = self.proc.wait(EXIT_TIMEOUT_S)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            code = None
        self.proc.stdout.close()
        self.stderr.close()
        return code


def read_log(path, want_lines):
    """Log lines, waiting a little for the last records to be written."""
    deadline = time.monotonic() + LOG_TIMEOUT_S
    while True:
        try:
            with open(path, "rb") as f:
                lines = [ln for ln in f.read().split(b"\n") if ln.strip()]
        except FileNotFoundError:
            lines = []
        if len(lines) >= want_lines or time.monotonic() > deadline:
            return lines


def run_session(exe, workdir, checks, name, flags, free_kb, server_type, status):
    sim = Simulator(exe, workdir, name, flags)
    try:
        line, why = sim.wait_ready()
        if not checks.check(line is not None, name + ": ready line", why):
            return
        checks.equal(line, "pdasim: ready " + sim.link, name + ": ready line names the link")

        sent = []
        with pdaclient.PdaClient(sim.link) as client:
            reply = client.probe(4000, timeout=3.0)
            checks.equal(reply and reply.hex(), "820000", name + ": probe reply")

            reply = client.info(timeout=1.0)
            if checks.check(reply is not None, name + ": info reply arrives within 1000 ms"):
                want = b"\x81" + struct.pack("<H", 4 + len(server_type)) + b"\x00" \
                    + struct.pack("<H", free_kb) + server_type + b"\x00"
                checks.equal(reply.hex(), want.hex(), name + ": info reply bytes")
                checks.equal(pdaclient.parse_info_reply(reply), (free_kb, server_type),
                             name + ": free space and server type")

            for index, entries in enumerate(contacts()):
                data = pdaclient.contact_payload(entries)
                reply = client.record(data, timeout=20.0)
                checks.equal(reply and reply.hex(), "870100%02x" % status,
                             "%s: record %d reply" % (name, index + 1))
                sent.append(data)

            # Asked again after the records, the device still answers.
            reply = client.info(timeout=1.0)
            checks.check(reply is not None and reply[0] == 0x81, name + ": info after records")
            checks.equal(client.receiver.bad, 0, name + ": frames from pdasim with a bad FCS")
            checks.equal([f.hex() for f in client.skipped], [], name + ": unexpected frames from pdasim")

        lines = read_log(sim.log, len(sent))
        checks.equal(len(lines), len(sent), name + ": log lines, one per record")
        seqs = []
        for index, (raw, data) in enumerate(zip(lines, sent)):
            what = "%s: log record %d" % (name, index + 1)
            try:
                rec = json.loads(raw)
            except ValueError as e:
                checks.check(False, what + " is JSON", "%s in %r" % (e, raw[:200]))
                continue
            keys = {"seq", "time", "flag", "length", "data", "fields", "status"}
            checks.check(keys <= set(rec), what + " keys", "missing %s" % sorted(keys - set(rec)))
            checks.equal(rec.get("flag"), 1, what + " flag")
            checks.equal(rec.get("length"), len(data), what + " length")
            checks.equal(rec.get("data"), data.hex(), what + " data")
            checks.equal(rec.get("fields"), pdaclient.payload_fields(data), what + " fields")
            checks.equal(rec.get("status"), status, what + " status")
            seqs.append(rec.get("seq"))
        if seqs and all(isinstance(s, int) for s in seqs):
            checks.equal(seqs, list(range(seqs[0], seqs[0] + len(seqs))), name + ": seq numbers run on by one")
        else:
            checks.check(not seqs, name + ": seq numbers are integers", repr(seqs))
    finally:
        code = sim.terminate()
        checks.check(code is not None, name + ": pdasim ends on SIGTERM within %d s" % EXIT_TIMEOUT_S)
        checks.check(not os.path.lexists(sim.link), name + ": link removed at exit", sim.link)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pdasim", required=True)
    args = parser.parse_args()

    checks = Checks()
    for failure in pdaclient.selftest():
        checks.check(False, "client selftest", failure)
    checks.check(True, "client selftest")

    with tempfile.TemporaryDirectory(prefix="pdasim-check-") as workdir:
        run_session(args.pdasim, workdir, checks, "storing",
                    ["--free-kb", "40960", "--server-type", "PalmOS 3.5"], 40960, b"PalmOS 3.5", 1)
        run_session(args.pdasim, workdir, checks, "refusing",
                    ["--refuse-records", "--free-kb", "7", "--server-type", "X"], 7, b"X", 0)
    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
