#!/usr/bin/env python3
"""scripts/send.sh as a user runs it, with pdasim --device on a pair of
joined pseudo-terminals (ptypair.py) in place of the handheld on its cable.

    send_test.py refusals --pdasim PATH     what send.sh refuses before anything starts (no Wine)
    send_test.py transfer --pdasim PATH --imexhost PATH
                                            transfers through the real DLL under Wine, and what
                                            imexhost itself refuses

send.sh runs with --no-build: the tools are those of the build tree. Exit 0
when every check held, 1 when one failed.
"""
import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SEND = os.path.join(REPO, "scripts", "send.sh")
WINERUN = os.path.join(REPO, "tests", "wine", "winerun.sh")
PTYPAIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ptypair.py")
WINE_PORTS = os.path.join(os.environ.get("IMEX_WINE_DIR", os.path.join(REPO, "build", "wine")), "ports")
READY_S = 10
SEND_LIMIT_S = 120

# The library's box text for a refused record.
RECORD_REFUSED_TEXT = "此纪录数据传送失败"

THREE_CARDS = """BEGIN:VCARD\r
VERSION:3.0\r
FN:张伟\r
N:张;伟;;;\r
TEL;TYPE=CELL:13812345678\r
END:VCARD\r
BEGIN:VCARD\r
VERSION:3.0\r
FN:Li Na\r
N:Li;Na;;;\r
TEL;TYPE=WORK:010-62345678\r
END:VCARD\r
BEGIN:VCARD\r
VERSION:3.0\r
FN:王芳\r
N:王;芳;;;\r
EMAIL:wang.fang@example.com\r
END:VCARD\r
"""


class Failures:
    def __init__(self):
        self.messages = []

    def expect(self, condition, message):
        if not condition:
            self.messages.append(message)
        return condition


class Started:
    """A helper process that prints a ready line; stopped with SIGTERM."""

    def __init__(self, command, ready_prefix):
        self.command = command
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                        start_new_session=True)
        line = ""
        deadline = time.monotonic() + READY_S
        while time.monotonic() < deadline and not line.startswith(ready_prefix):
            if self.process.poll() is not None:
                break
            line = self.process.stdout.readline()
        if not line.startswith(ready_prefix):
            self.stop()
            raise RuntimeError(f"{' '.join(command)} gave no ready line within {READY_S} s: "
                               f"{self.process.stderr.read().strip()}")

    @property
    def pid(self):
        return self.process.pid

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def send(*args, env=None, script=SEND, user=None):
    command = (["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups"] if user else []) + \
        ["bash", script, "--no-build"] + list(args)
    result = subprocess.run(command, capture_output=True, text=True, timeout=SEND_LIMIT_S,
                            env=dict(os.environ, **(env or {})))
    return result.returncode, result.stdout + result.stderr


def check_table(failures, cases):
    for args, status, said, kwargs in cases:
        code, out = send(*args, **kwargs)
        failures.expect(code == status, f"send.sh {' '.join(args)}: status {code}, expected {status}; it said: {out}")
        failures.expect(said in out, f"send.sh {' '.join(args)}: no \"{said}\" in: {out}")


def refusals(options, work, failures):
    pair = Started([sys.executable, PTYPAIR, f"{work}/a", f"{work}/b"], "ptypair: ready")
    device = Started([options.pdasim, "--device", f"{work}/a", "--quiet"], "pdasim: ready")
    book = os.path.join(work, "book.rec")
    with open(book, "wb") as out:
        out.write(b"not checked before the port")
    with open(os.path.join(work, "other.vcf"), "w") as out:
        out.write(THREE_CARDS)
    b = f"{work}/b"
    try:
        cases = [
            (["--help"], 0, "usage: scripts/send.sh", {}),
            ([], 101, "send: give a PORT and at least one FILE", {}),
            (["--bogus", b, book], 101, "send: unknown option --bogus", {}),
            (["--json", b, book], 101, "send: --json goes with --trace FILE", {}),
            (["--trace", book, b, book], 101, f"send: --trace {book} would overwrite {book}", {}),
            ([b, book, f"{work}/other.vcf"], 101, "a record file or vCard files, not both", {}),
            ([b, f"{work}/missing.vcf"], 2, f"send: cannot read {work}/missing.vcf: no such file", {}),
            (["/dev/ttyNONE9", book], 10, "send: no such port: /dev/ttyNONE9", {}),
            ([book, book], 10, f"send: {book} is not a serial line (a character device", {}),
            (["/dev/null", book], 10, "send: /dev/null cannot be used as a serial line: "
                                      "stty: /dev/null: Inappropriate ioctl for device", {}),
            ([f"{work}/a", book], 10, f"send: {work}/a is in use: pdasim (pid {device.pid}) holds its lock file "
                                      f"/run/lock/LCK..pts_", {}),
        ]
        check_table(failures, cases)
        # Held open by another program (this one), with no lock.
        held = os.open(b, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            check_table(failures, [([b, book], 10, f"send: {b} is held by another program: ", {})])
            code, out = send(b, book)
            failures.expect(f"(pid {os.getpid()})" in out, f"the holder's pid {os.getpid()} not named: {out}")
        finally:
            os.close(held)
        if os.geteuid() == 0:
            # A user without the line's group. The script is copied where that
            # user can read it; it leaves before it needs the rest of the tree.
            os.chmod(work, 0o755)
            os.makedirs(f"{work}/scripts")
            shutil.copy(SEND, f"{work}/scripts/send.sh")
            os.chmod(book, 0o644)
            code, out = send(b, book, script=f"{work}/scripts/send.sh", user="65534")
            failures.expect(code == 10 and f"may not read and write {b}" in out and "add yourself to the group" in out,
                            f"another user on {b}: status {code}: {out}")
        else:
            print("(the permission case needs root to run send.sh as another user; not run)")
    finally:
        device.stop()
        pair.stop()


def transfer(options, work, failures):
    pair = Started([sys.executable, PTYPAIR, f"{work}/a", f"{work}/b"], "ptypair: ready")
    b = f"{work}/b"
    book = os.path.join(work, "book.vcf")
    with open(book, "w", encoding="utf-8") as out:
        out.write(THREE_CARDS)
    trace = os.path.join(work, "trace.jsonl")
    log = os.path.join(work, "device.jsonl")
    com1 = os.path.join(WINE_PORTS, "COM1")
    try:
        device = Started([options.pdasim, "--device", f"{work}/a", "--quiet", "--refuse-every", "2", "--log", log],
                         "pdasim: ready")
        try:
            code, out = send("--trace", trace, "--json", b, book)
        finally:
            device.stop()
        lines = out.strip().splitlines()
        failures.expect(code == 8, f"refused record: status {code}, expected 8: {out}")
        failures.expect(lines and lines[-1] == "3 records: 2 stored, 1 refused (record 2), 0 line faults",
                        f"last line: {lines[-1] if lines else '(none)'}")
        failures.expect(f"box \"imex\" \"{RECORD_REFUSED_TEXT}\"" in out, f"the box's text not shown: {out}")
        failures.expect(not os.path.lexists(com1), f"{com1} was left behind")
        with open(log, encoding="utf-8") as f:
            logged = [json.loads(line) for line in f]
        failures.expect([(r["fields"][0], r["status"]) for r in logged] == [("张伟", 1), ("Li Na", 0), ("王芳", 1)],
                        f"what the device received: {[(r['fields'][0], r['status']) for r in logged]}")
        with open(trace, encoding="utf-8") as f:
            frames = [json.loads(line) for line in f]
        got = [(f["dir"], f["name"], (f.get("fields") or [""])[0], f.get("status"), f["fcs"]) for f in frames]
        expected = [("host>dev", "probe request", "", None, "ok"), ("dev>host", "probe reply", "", None, "ok"),
                    ("host>dev", "information request", "", None, "ok"),
                    ("dev>host", "information reply", "", None, "ok")]
        for name, status in (("张伟", 1), ("Li Na", 0), ("王芳", 1)):
            expected += [("host>dev", "record request", name, None, "ok"),
                         ("dev>host", "record reply", "", status, "ok")]
        failures.expect(got == expected, f"trace: {got}")

        # The device does not answer: 7, and the last line names the port.
        device = Started([options.pdasim, "--device", f"{work}/a", "--quiet", "--silent"], "pdasim: ready")
        try:
            code, out = send(b, book)
            lines = out.strip().splitlines()
            failures.expect(code == 7 and lines[-1].startswith(f"no record sent: no device answered on {b}"),
                            f"silent device: status {code}: {out}")
            # vCards that make no record file: refused before Wine starts.
            bad = os.path.join(work, "bad.vcf")
            with open(bad, "w") as out_file:
                out_file.write("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Broken\r\n")
            code, out = send(b, bad)
            failures.expect(code == 3 and "send: the vCard file(s) give no record file" in out,
                            f"a broken vCard file: status {code}: {out}")
        finally:
            device.stop()
    finally:
        pair.stop()

    # imexhost's own refusals, under Wine.
    host_cases = [
        (["--help"], {}, 0, "usage: imexhost"),
        (["--mode", "abc", "x.rec"], {}, 101, "imexhost: --mode needs a whole number, not \"abc\""),
        (["--repeat", "0", "x.rec"], {}, 101, "imexhost: --repeat needs a whole number from 1 to 100000, not \"0\""),
        (["--speed", "9600", "x.rec"], {}, 101, "imexhost: unknown option --speed"),
        (["x.rec"], {"IMEX_DISPLAY_HIDDEN": "1"}, 101, "give --answer-boxes"),
    ]
    for args, env, status, said in host_cases:
        result = subprocess.run(["bash", WINERUN, options.imexhost] + args, capture_output=True, text=True,
                                timeout=SEND_LIMIT_S, env=dict(os.environ, **env))
        out = result.stdout + result.stderr
        failures.expect(result.returncode == status and said in out,
                        f"imexhost {' '.join(args)} {env}: status {result.returncode}, expected {status} with "
                        f"\"{said}\": {out}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("part", choices=["refusals", "transfer"])
    parser.add_argument("--pdasim", required=True)
    parser.add_argument("--imexhost")
    options = parser.parse_args()
    if options.part == "transfer" and not options.imexhost:
        parser.error("transfer needs --imexhost")
    work = tempfile.mkdtemp(prefix="send-test-")
    failures = Failures()
    try:
        {"refusals": refusals, "transfer": transfer}[options.part](options, work, failures)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for message in failures.messages:
        print("FAIL: " + message)
    print(f"{options.part}: {'FAIL' if failures.messages else 'PASS'}")
    return 1 if failures.messages else 0


if __name__ == "__main__":
    sys.exit(main())
