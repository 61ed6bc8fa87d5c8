#!/usr/bin/env python3
"""scripts/send.sh as a user runs it (--no-build: the tools of the build tree), with
pdasim --device on joined pseudo-terminals (ptypair.py) for the handheld on its cable.

    send_test.py refusals --pdasim PATH                   what it refuses before anything starts
    send_test.py transfer --pdasim PATH --imexhost PATH   transfers under Wine; imexhost's refusals
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SEND = os.path.join(REPO, "scripts", "send.sh")
WINERUN = os.path.join(REPO, "tests", "wine", "winerun.sh")
PTYPAIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ptypair.py")
COM1 = os.path.join(os.environ.get("IMEX_WINE_DIR", os.path.join(REPO, "build", "wine")), "ports", "COM1")
RECORD_REFUSED_TEXT = "此纪录数据传送失败"
CARDS = "".join(f"BEGIN:VCARD\r\nVERSION:3.0\r\nFN:{name}\r\nTEL:{tel}\r\nEND:VCARD\r\n"
                for name, tel in (("张伟", "13812345678"), ("Li Na", "010-62345678"), ("王芳", "021-5555")))
failures = []


def start(*command):
    """A helper that prints a ready line before it serves."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               start_new_session=True)
    line = process.stdout.readline()
    if " ready " not in line:
        process.kill()
        sys.exit(f"{' '.join(command)} did not get ready: {line}{process.stderr.read()}")
    return process


def stop(*processes):
    for process in processes:
        process.terminate()
        process.wait(10)


def run(command, env=None):
    result = subprocess.run(command, capture_output=True, text=True, timeout=120, env=dict(os.environ, **(env or {})))
    return result.returncode, result.stdout + result.stderr


def expect_table(cases, prefix=("bash", SEND, "--no-build"), env=None):
    for args, status, said in cases:
        code, out = run(list(prefix) + args, env)
        if code != status or said not in out:
            failures.append(f"{' '.join(args)}: status {code} (expected {status}), no \"{said}\" in: {out}")


def refusals(options, work):
    a, b, book = f"{work}/a", f"{work}/b", f"{work}/book.rec"
    open(book, "w").write("read only by the DLL, after the port's checks")
    open(f"{work}/other.vcf", "w").write(CARDS)
    pair = start(sys.executable, PTYPAIR, a, b)
    device = start(options.pdasim, "--device", a, "--quiet")
    held = os.open(b, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    expect_table([
        (["--help"], 0, "usage: scripts/send.sh"),
        ([], 101, "send: give a PORT and at least one FILE"),
        (["--bogus", b, book], 101, "send: unknown option --bogus"),
        (["--json", b, book], 101, "send: --json goes with --trace FILE"),
        ([b, book, "--charset"], 101, "send: --charset needs the name of a character set"),
        (["--trace", book, b, book], 101, f"send: --trace {book} would overwrite {book}"),
        ([b, book, f"{work}/other.vcf"], 101, "a record file or vCard files, not both"),
        ([b, f"{work}/none.vcf"], 2, f"send: cannot read {work}/none.vcf: no such file"),
        (["/dev/ttyNONE9", book], 10, "send: no such port: /dev/ttyNONE9"),
        ([book, book], 10, f"send: {book} is not a serial line (a character device"),
        (["/dev/null", book], 10, "send: /dev/null cannot be used as a serial line: stty: /dev/null: Inappropriate"),
        ([a, book], 10, f"send: {a} is in use: pdasim (pid {device.pid}) holds its lock file /run/lock/LCK..pts_"),
        ([b, book], 10, f"send: {b} is held by another program: "),
        ([b, book], 10, f" (pid {os.getpid()}); end it first"),
    ])
    os.close(held)
    if os.geteuid() == 0:
        # A user outside the line's group; the script, copied where that user
        # reads it, refuses before it needs the rest of the tree.
        os.chmod(work, 0o755)
        os.makedirs(f"{work}/scripts")
        shutil.copy(SEND, f"{work}/scripts/send.sh")
        expect_table([([b, book], 10, f"may not read and write {b}")],
                     ("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "bash",
                      f"{work}/scripts/send.sh", "--no-build"))
    stop(device, pair)


def transfer(options, work):
    a, b, book, trace, log = (f"{work}/{n}" for n in ("a", "b", "book.vcf", "trace.jsonl", "device.jsonl"))
    open(book, "w", encoding="utf-8").write(CARDS)
    pair = start(sys.executable, PTYPAIR, a, b)
    device = start(options.pdasim, "--device", a, "--quiet", "--refuse-every", "2", "--log", log)
    code, out = run(["bash", SEND, "--no-build", "--trace", trace, "--json", b, book])
    stop(device)
    last = out.strip().splitlines()[-1:]
    if (code, last) != (8, ["3 records: 2 stored, 1 refused (record 2), 0 line faults"]):
        failures.append(f"refused record 2: status {code}, last line {last}: {out}")
    if f"box \"imex\" \"{RECORD_REFUSED_TEXT}\"" not in out or os.path.lexists(COM1):
        failures.append(f"the box's text is not shown, or {COM1} was left behind: {out}")
    received = [(r["fields"][0], r["status"]) for r in map(json.loads, open(log, encoding="utf-8"))]
    if received != [("张伟", 1), ("Li Na", 0), ("王芳", 1)]:
        failures.append(f"the device received {received}")
    frames = [(f["dir"], f["name"], f.get("fields", [""])[0], f.get("status"), f["fcs"])
              for f in map(json.loads, open(trace, encoding="utf-8"))]
    expected = [("host>dev", "probe request", "", None, "ok"), ("dev>host", "probe reply", "", None, "ok"),
                ("host>dev", "information request", "", None, "ok"), ("dev>host", "information reply", "", None, "ok")]
    for name, status in received:
        expected += [("host>dev", "record request", name, None, "ok"), ("dev>host", "record reply", "", status, "ok")]
    if frames != expected:
        failures.append(f"trace: {frames}")

    device = start(options.pdasim, "--device", a, "--quiet", "--silent")
    open(f"{work}/bad.vcf", "w").write("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Cut;Off\r\n")
    expect_table([([b, book], 7, f"no record sent: no device answered on {b}"),
                  ([b, f"{work}/bad.vcf"], 3, "send: the vCard file(s) give no record file")])
    stop(device, pair)

    expect_table([
        (["--help"], 0, "usage: imexhost"),
        (["--mode", "abc", "x.rec"], 101, "imexhost: --mode needs a whole number, not \"abc\""),
        (["--repeat", "0", "x.rec"], 101, "imexhost: --repeat needs a whole number from 1 to 100000, not \"0\""),
        (["--speed", "9600", "x.rec"], 101, "imexhost: unknown option --speed"),
        (["x.rec"], 101, "nobody can see this display (IMEX_DISPLAY_HIDDEN=1), so the first message box would"),
    ], ("bash", WINERUN, options.imexhost), {"IMEX_DISPLAY_HIDDEN": "1"})


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("part", choices=["refusals", "transfer"])
    parser.add_argument("--pdasim", required=True)
    parser.add_argument("--imexhost")
    options = parser.parse_args()
    work = tempfile.mkdtemp(prefix="send-test-")
    try:
        globals()[options.part](options, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("\n".join(["FAIL: " + f for f in failures] + [f"{options.part}: {'FAIL' if failures else 'PASS'}"]))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
