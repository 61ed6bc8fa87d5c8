#!/usr/bin/env python3
"""scripts/send.sh as a user runs it (--no-build: the tools of the build tree), with
pdasim --device on joined pseudo-terminals (ptypair.py) for the handheld on its cable.

    send_test.py refusals --pdasim PATH --native-build DIR  what it refuses before anything is sent
    send_test.py native --pdasim PATH --native-build DIR    the native sender's outcomes, several ports, --only
    send_test.py transfer --pdasim PATH --native-build DIR --imexhost PATH
                                                            --dll: transfers under Wine; imexhost's refusals
    send_test.py frames --pdasim PATH --native-build DIR    the native sender's bytes on the line are the DLL's
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
SAMPLE = os.path.join(REPO, "samples", "contacts.rec")  # 5 records
COM1 = os.path.join(os.environ.get("IMEX_WINE_DIR", os.path.join(REPO, "build", "wine")), "ports", "COM1")
RECORD_REFUSED_TEXT = "此纪录数据传送失败"
CARDS = "".join(f"BEGIN:VCARD\r\nVERSION:3.0\r\nFN:{name}\r\nTEL:{tel}\r\nEND:VCARD\r\n"
                for name, tel in (("张伟", "13812345678"), ("Li Na", "010-62345678"), ("王芳", "021-5555")))
failures = []
NATIVE_BUILD = None
# Every helper started, so that none outlives the test: not when a case
# raises, nor when the test is ended (each helper runs in a session of its own).
helpers = []


def start(*command):
    """A helper that prints a ready line before it serves."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               start_new_session=True)
    helpers.append(process)
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
    result = subprocess.run(command, capture_output=True, text=True, timeout=120,
                            env=dict(os.environ, IMEX_NATIVE_BUILD=NATIVE_BUILD, **(env or {})))
    return result.returncode, result.stdout + result.stderr


def expect_table(cases, prefix=("bash", SEND, "--no-build"), env=None):
    for args, status, said in cases:
        code, out = run(list(prefix) + args, env)
        if code != status or said not in out:
            failures.append(f"{' '.join(args)}: status {code} (expected {status}), no \"{said}\" in: {out}")


def cards(count):
    return "".join(f"BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Contact {k}\r\nTEL:010-{k:04}\r\nEND:VCARD\r\n"
                   for k in range(1, count + 1))


def refusals(options, work):
    a, b, book = f"{work}/a", f"{work}/b", f"{work}/book.rec"
    shutil.copy(SAMPLE, book)
    open(f"{work}/other.vcf", "w").write(CARDS)
    open(f"{work}/junk.rec", "w").write("no record file")
    pair = start(sys.executable, PTYPAIR, a, b)
    device = start(options.pdasim, "--device", a, "--quiet", "--log", f"{work}/device.jsonl")
    held = os.open(b, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    expect_table([
        (["--help"], 0, "usage: scripts/send.sh"),
        ([], 101, "send: give a PORT and at least one FILE"),
        (["--bogus", b, book], 101, "send: unknown option --bogus"),
        (["--json", b, book], 101, "send: --json goes with --trace FILE"),
        ([b, book, "--charset"], 101, "send: --charset needs the name of a character set"),
        (["--trace", book, b, book], 101, f"send: --trace {book} would overwrite {book}"),
        ([b, book, f"{work}/other.vcf"], 101, "a record file or vCard files, not both"),
        (["--dll", f"{a},{b}", book], 101, f"send: --dll takes one PORT, not {a},{b}"),
        (["--dll", "--only", "2", b, book], 101, "send: --dll sends the whole file"),
        (["--only", "6", b, book], 101, "imexsend: --only: record 6 is beyond the file's 5 records"),
        (["--only", "2,x", b, book], 101, "imexsend: --only: \"x\" is not a record number"),
        (["--only", "4-2", b, book], 101, "imexsend: --only: \"4-2\" is not a record number"),
        ([b, f"{work}/none.vcf"], 2, f"send: cannot read {work}/none.vcf: no such file"),
        ([b, f"{work}/junk.rec"], 3, f"imexsend: {work}/junk.rec: the trailer magic is missing"),
        (["/dev/ttyNONE9", book], 10, "no record sent: no such port: /dev/ttyNONE9"),
        ([book, book], 10, f"no record sent: {book} is not a serial line (a character device"),
        (["/dev/null", book], 10, "no record sent: /dev/null cannot be used as a serial line: Inappropriate"),
        ([a, book], 10, f"{a} is in use: pdasim (pid {device.pid}) holds its lock file /run/lock/LCK..pts_"),
        ([b, book], 10, f"{b} is held by another program: "),
        ([b, book], 10, f" (pid {os.getpid()}); end it first"),
        (["--dll", b, book], 10, f"send: {b} is held by another program: "),
    ])
    os.close(held)
    if os.geteuid() == 0:
        # A user outside the line's group; the script, copied where that user
        # reads it, refuses before it needs the rest of the tree.
        os.chmod(work, 0o755)
        os.chmod(book, 0o644)
        os.makedirs(f"{work}/scripts")
        os.makedirs(f"{work}/build/send")
        os.chmod(f"{work}/build/send", 0o777)
        shutil.copy(SEND, f"{work}/scripts/send.sh")
        shutil.copy(os.path.join(REPO, "scripts", "common.sh"), f"{work}/scripts/common.sh")
        expect_table([([b, book], 10, f"may not read and write {b}")],
                     ("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "bash",
                      f"{work}/scripts/send.sh", "--no-build"), env={"IMEX_SEND_WORK": f"{work}/build/send"})
    stop(device, pair)
    if os.path.getsize(f"{work}/device.jsonl") != 0:
        failures.append("a refused command sent records: " + open(f"{work}/device.jsonl").read())


def sent(log):
    """What the device took and how it answered: (name, status) per record, in order."""
    return [(r["fields"][0], r["status"]) for r in map(json.loads, open(log, encoding="utf-8"))]


def native(options, work):
    """The native sender's outcomes, each case on a fresh line with its own device."""
    three, ten = f"{work}/three.vcf", f"{work}/ten.vcf"
    open(three, "w", encoding="utf-8").write(CARDS)
    open(ten, "w").write(cards(10))
    trace = f"{work}/trace.jsonl"
    all_stored = "3 records: 3 stored, 0 refused, 0 line faults"
    refused_2 = "3 records: 2 stored, 1 refused (record 2), 0 line faults"
    # (case, the device's faults, send.sh's options, status, last line, what the device took)
    cases = [
        ("every record stored", [], ["--trace", trace, "--json"], 0, all_stored, [1, 1, 1]),
        ("one refused", ["--refuse-every", "2"], [], 8, refused_2, [1, 0, 1]),
        ("each reply twice", ["--duplicate-replies", "--refuse-every", "2"], [], 8, refused_2, [1, 0, 1]),
        ("an unsolicited reply", ["--unsolicited", "1", "--refuse-every", "2"], [], 8, refused_2, [1, 0, 1]),
        # Record 2's reply (taken) comes a second after its time-out and must not answer record 3.
        ("unanswered, then its late reply", ["--late-reply", "2", "--refuse-every", "3"], [], 8,
         "3 records: 1 stored, 1 refused (record 3), 1 line faults (record 2)", [1, 1, 0]),
        ("--only as the summary lists", ["--refuse-every", "2"], ["--only", "1, 3"], 8,
         "2 records: 1 stored, 1 refused (record 3), 0 line faults", [1, 0]),
        ("a silent device", ["--silent"], [], 7, "no record sent: no device answered on ", []),
    ]
    for case, faults, args, status, last, statuses in cases:
        a, b, log = f"{work}/a", f"{work}/b", f"{work}/device.jsonl"
        pair = start(sys.executable, PTYPAIR, a, b)
        device = start(options.pdasim, "--device", a, "--quiet", "--log", log, *faults)
        code, out = run(["bash", SEND, "--no-build", *args, b, three])
        stop(device, pair)
        lines = out.strip().splitlines()
        if code != status or not lines or not lines[-1].startswith(last):
            failures.append(f"{case}: status {code} (expected {status}), last line not \"{last}\": {out}")
        if [s for _, s in sent(log)] != statuses:
            failures.append(f"{case}: the device answered {sent(log)}, expected statuses {statuses}")
        os.unlink(log)
    frames = [(f["dir"], f["name"], f.get("status")) for f in map(json.loads, open(trace, encoding="utf-8"))]
    expected = [("host>dev", "probe request", None), ("dev>host", "probe reply", None),
                ("host>dev", "information request", None), ("dev>host", "information reply", None)]
    expected += [("host>dev", "record request", None), ("dev>host", "record reply", 1)] * 3
    if frames != expected:
        failures.append(f"--trace: {frames}")

    # Two handhelds at once, the first silent: each its summary, the first's status.
    pairs, logs = [], []
    for k, faults in ((1, ["--silent"]), (2, [])):
        a, b, log = f"{work}/a{k}", f"{work}/b{k}", f"{work}/device{k}.jsonl"
        pairs.append(start(sys.executable, PTYPAIR, a, b))
        pairs.append(start(options.pdasim, "--device", a, "--quiet", "--log", log, *faults))
        logs.append(log)
    code, out = run(["bash", SEND, "--no-build", f"{work}/b1,{work}/b2", three])
    stop(*reversed(pairs))
    wanted = [f"{work}/b1: no record sent: no device answered on {work}/b1", f"{work}/b2: {all_stored}"]
    if code != 7 or not all(any(line.startswith(w) for line in out.splitlines()) for w in wanted) \
            or len(sent(logs[1])) != 3:
        failures.append(f"two ports, the first silent: status {code}, {sent(logs[1])} stored: {out}")

    # The line vanishes during the records (the cable is pulled: its ends close).
    a, b, log = f"{work}/a", f"{work}/b", f"{work}/device.jsonl"
    pair = start(sys.executable, PTYPAIR, a, b)
    device = start(options.pdasim, "--device", a, "--quiet", "--log", log, "--delay-ms", "300")
    sender = subprocess.Popen(["bash", SEND, "--no-build", b, ten], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True, env=dict(os.environ, IMEX_NATIVE_BUILD=NATIVE_BUILD))
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline and (not os.path.exists(log) or len(open(log).readlines()) < 3):
        time.sleep(0.05)
    pair.send_signal(signal.SIGKILL)
    pair.wait()
    started = time.monotonic()
    out = sender.communicate(timeout=60)[0]
    took = time.monotonic() - started
    stop(device)
    stored = [line for line in out.splitlines() if " records: " in line]
    if (sender.returncode != 9 or "the line was lost before record " not in out or not stored
            or not stored[-1].startswith("10 records: ") or " 0 line faults" in stored[-1] or took > 5):
        failures.append(f"a vanishing line: status {sender.returncode} after {took:.1f} s: {out}")
    elif int(stored[-1].split(": ")[1].split()[0]) > len(sent(log)):
        failures.append(f"a vanishing line: more records counted stored than the device took ({sent(log)}): {out}")
    for link in (a, b):
        if os.path.lexists(link):
            os.unlink(link)


def transfer(options, work):
    a, b, book, trace, log = (f"{work}/{n}" for n in ("a", "b", "book.vcf", "trace.jsonl", "device.jsonl"))
    open(book, "w", encoding="utf-8").write(CARDS)
    pair = start(sys.executable, PTYPAIR, a, b)
    device = start(options.pdasim, "--device", a, "--quiet", "--refuse-every", "2", "--log", log)
    code, out = run(["bash", SEND, "--no-build", "--dll", "--trace", trace, "--json", b, book])
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
    expect_table([(["--dll", b, book], 7, f"no record sent: no device answered on {b}"),
                  (["--dll", b, f"{work}/bad.vcf"], 3, "send: the vCard file(s) give no record file")])
    stop(device, pair)

    expect_table([
        (["--help"], 0, "usage: imexhost"),
        (["--mode", "abc", "x.rec"], 101, "imexhost: --mode needs a whole number, not \"abc\""),
        (["--repeat", "0", "x.rec"], 101, "imexhost: --repeat needs a whole number from 1 to 100000, not \"0\""),
        (["--speed", "9600", "x.rec"], 101, "imexhost: unknown option --speed"),
        (["x.rec"], 101, "nobody can see this display (IMEX_DISPLAY_HIDDEN=1), so the first message box would"),
    ], ("bash", WINERUN, options.imexhost), {"IMEX_DISPLAY_HIDDEN": "1"})


def frames(options, work):
    """The same file through the DLL (--dll) and the native sender: the bytes each wrote on the line,
    recorded as they passed, are the same, and so are the summaries."""
    a, b = f"{work}/a", f"{work}/b"
    seen = {}
    for name, extra in (("dll", ["--dll"]), ("native", [])):
        capture = f"{work}/{name}.bin"
        pair = start(sys.executable, PTYPAIR, "--record", capture, a, b)
        device = start(options.pdasim, "--device", a, "--quiet", "--refuse-every", "2")
        code, out = run(["bash", SEND, "--no-build", *extra, b, SAMPLE])
        stop(device, pair)
        seen[name] = (code, out.strip().splitlines()[-1:], open(capture, "rb").read())
    dll, native = seen["dll"], seen["native"]
    if dll[:2] != (8, ["5 records: 3 stored, 2 refused (records 2, 4), 0 line faults"]) or native[:2] != dll[:2]:
        failures.append(f"summaries: DLL {dll[:2]}, native {native[:2]}")
    # The probe's 4007 bytes, the information request's 7 and five records'.
    if len(dll[2]) < 4014 + 5 * 20 or native[2] != dll[2]:
        failures.append(f"the bytes on the line differ: DLL {len(dll[2])} B, native {len(native[2])} B, first "
                        f"difference at {next((k for k, (x, y) in enumerate(zip(dll[2], native[2])) if x != y), None)}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("part", choices=["refusals", "native", "transfer", "frames"])
    parser.add_argument("--pdasim", required=True)
    parser.add_argument("--native-build", required=True, help="the native build whose imexsend, recfile, pdatap run")
    parser.add_argument("--imexhost")
    options = parser.parse_args()
    global NATIVE_BUILD
    NATIVE_BUILD = os.path.abspath(options.native_build)
    work = tempfile.mkdtemp(prefix="send-test-")
    # The book and the logs of send.sh in this run's folder: the two Windows
    # builds' runs may go at once.
    os.environ["IMEX_SEND_WORK"] = os.path.join(work, "send-work")
    for stop_signal in (signal.SIGTERM, signal.SIGINT):
        signal.signal(stop_signal, lambda number, frame: sys.exit(128 + number))
    try:
        globals()[options.part](options, work)
    finally:
        for helper in helpers:
            if helper.poll() is None:
                helper.kill()
                helper.wait()
        shutil.rmtree(work, ignore_errors=True)
    print("\n".join(["FAIL: " + f for f in failures] + [f"{options.part}: {'FAIL' if failures else 'PASS'}"]))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
