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
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
WINERUN = os.path.join(REPO, "tests", "wine", "winerun.sh")
WINEENV = os.path.join(REPO, "tests", "wine", "wineenv.sh")
PDASIM = os.environ.get("IMEX_PDASIM", os.path.join(REPO, "build/native/tools/pdasim/pdasim"))
RECFILE = os.environ.get("IMEX_RECFILE", os.path.join(REPO, "build/native/tools/recfile/recfile"))
WINE_DIR = os.environ.get("IMEX_WINE_DIR", os.path.join(REPO, "build", "wine"))
ARTIFACTS = os.environ.get("IMEX_ARTIFACTS", os.path.join(REPO, "build", "artifacts"))
SAMPLE = os.path.join(REPO, "samples", "contacts.rec")
# The vCard tools import Debian's python3-vobject, which the system's
# interpreter has (a python3 earlier on PATH may not).
SYSTEM_PYTHON = "/usr/bin/python3"
MAKEBOOK = os.path.join(REPO, "tools", "recfile", "makebook.py")
COMPAREBOOKS = os.path.join(os.path.dirname(RECFILE), "comparebooks.py")  # the build puts it beside recfile

# What the library shows; the host prints every text as UTF-8.
CONNECTING_TEXT = "Connecting ..."
TRANSFERING_TEXT = "Transfering ..."
BOX_CAPTION = "imex"
RECORD_REFUSED_TEXT = "此纪录数据传送失败"
PROBE_CODE = "0x02"
INFO_CODE = "0x01"
RECORD_CODE = "0x07"

# Time-outs of the library, in seconds.
PROBE_TIMEOUT_S = 3.0
INFO_TIMEOUT_S = 1.0
# A reply delay that keeps a dialog up long enough to press a key in it or take
# its picture, yet stays within the information request's time-out.
REPLY_DELAY_MS = 700

SIM_READY_S = 10.0
# A Wine program starts in well under a second; a case's own waits come on top.
DEFAULT_RUN_LIMIT_S = 240.0
RUN_LIMIT_S = DEFAULT_RUN_LIMIT_S

THREE_CONTACTS = """\
00\t姓名\t张伟
10\t手机\t13812345678
61\t电子邮件\tzhang.wei@example.com

00\t姓名\tLi Na
12\t办公电话\t010-62345678
15\t公司\t上海东方贸易公司

00\t姓名\t王芳
80\t备注\t每周三下午有空
"""


class CaseFailure(Exception):
    pass


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Checks:
    """Collects failed expectations so one run reports all of them."""

    def __init__(self):
        self.failed = []

    def expect(self, condition, message):
        if not condition:
            self.failed.append(message)
        return condition

    def equal(self, actual, expected, what):
        return self.expect(actual == expected, f"{what}: expected {expected!r}, got {actual!r}")

    def within(self, value, low, high, what):
        return self.expect(value is not None and low <= value <= high,
                           f"{what}: expected between {low:.2f} and {high:.2f} s, got {value}")


class Sim:
    """One pdasim on a pseudo-terminal behind the prefix's COMn link."""

    def __init__(self, port, args, workdir):
        self.port = port
        self.log_path = os.path.join(workdir, f"{port}-records.jsonl")
        self.err_path = os.path.join(workdir, f"{port}-pdasim.err")
        if os.path.exists(self.log_path):
            os.unlink(self.log_path)
        self.notes = []  # (monotonic time, text) of every line pdasim wrote on stderr
        link = os.path.join(WINE_DIR, "ports", port)
        os.makedirs(os.path.dirname(link), exist_ok=True)
        command = [PDASIM, "--pty", link, "--log", self.log_path] + list(args)
        # A session of its own: the pty must not become anyone's controlling terminal.
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        start_new_session=True)
        self.ready = threading.Event()
        threading.Thread(target=self._read_stdout, daemon=True).start()
        self.err_thread = threading.Thread(target=self._read_stderr, daemon=True)
        self.err_thread.start()
        if not self.ready.wait(SIM_READY_S):
            self.stop()
            raise CaseFailure(f"pdasim on {port} did not print its ready line within {SIM_READY_S:.0f} s; "
                              f"command {' '.join(command)}; its stderr: {self.stderr_text()}")

    def _read_stdout(self):
        for line in self.process.stdout:
            if line.startswith(b"pdasim: ready"):
                self.ready.set()

    def _read_stderr(self):
        with open(self.err_path, "wb") as out:
            for line in self.process.stderr:
                self.notes.append((time.monotonic(), line.decode("utf-8", "replace").rstrip("\n")))
                out.write(line)
                out.flush()

    def stderr_text(self):
        return " | ".join(text for _, text in self.notes[-20:]) or "(nothing)"

    def requests(self, code):
        """Arrival times of the requests with this code, as pdasim reported them."""
        return [t for t, text in self.notes if text.startswith(f"pdasim: request {code} received")]

    def records(self):
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path, encoding="utf-8") as log:
            return [json.loads(line) for line in log if line.strip()]

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.err_thread.join(5)


def stop_wine():
    # Wine goes first: none of its processes may see its serial line hang up.
    script = f'source "{WINEENV}"; [ -d "$WINEPREFIX" ] || exit 0; wine_server -k; wine_server -w'
    subprocess.run(["bash", "-c", script], env=dict(os.environ, IMEX_WINE_DIR=WINE_DIR),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


class HostRun:
    """Output of one Windows program run: lines with their arrival times."""

    def __init__(self, lines, code, elapsed, stderr):
        self.lines = lines  # (monotonic time, text)
        self.code = code
        self.elapsed = elapsed
        self.stderr = stderr

    def texts(self):
        return [text for _, text in self.lines]

    def matching(self, pattern):
        regex = re.compile(pattern)
        return [m for m in (regex.match(text) for text in self.texts()) if m]

    def progress(self):
        return [(int(m[1]), int(m[2])) for m in self.matching(r"progress (-?\d+)/(-?\d+)$")]

    def results(self):
        return [int(m[1]) for m in self.matching(r"result (-?\d+): ")]

    def dialogs(self, kind):
        """Logged dialogs of one kind: (host time, number, texts...)."""
        out = []
        for m in self.matching(r"\[(\d+\.\d+)\] dialog " + kind + r" (\d+)((?: \"[^\"]*\")+)$"):
            out.append((float(m[1]), int(m[2])) + tuple(re.findall(r"\"([^\"]*)\"", m[3])))
        return out

    def boxes(self):
        return [(float(m[1]), m[2], m[3]) for m in self.matching(r"\[(\d+\.\d+)\] box \"([^\"]*)\" \"([^\"]*)\"$")]

    def describe(self):
        out = "\n".join(self.texts()) or "(no output)"
        return f"exit {self.code} after {self.elapsed:.1f} s; host output:\n{out}\nstderr: {self.stderr.strip()[-800:]}"


def run_windows(program, args, workdir, limit=None):
    limit = RUN_LIMIT_S if limit is None else limit
    command = ["bash", WINERUN, program] + list(args)
    # A box nobody answers ends at the case's time limit, with the host's output.
    env = dict(os.environ, IMEX_WINE_DIR=WINE_DIR, IMEX_DISPLAY_HIDDEN="0")
    start = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                               start_new_session=True)
    lines = []
    err = []
    reader = threading.Thread(target=lambda: [lines.append((time.monotonic(),
                                                            l.decode("utf-8", "replace").rstrip("\r\n")))
                                              for l in process.stdout], daemon=True)
    err_reader = threading.Thread(target=lambda: err.append(process.stderr.read().decode("utf-8", "replace")),
                                  daemon=True)
    reader.start()
    err_reader.start()
    try:
        code = process.wait(limit)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGTERM)
        process.wait(30)
        stop_wine()
        reader.join(5)
        partial = HostRun(lines, None, time.monotonic() - start, "".join(err))
        raise CaseFailure(f"{os.path.basename(program)} did not end within {limit:.0f} s: look for a dialog "
                          f"or message box that nobody closed, or a request that never completed.\n"
                          + partial.describe())
    reader.join(10)
    err_reader.join(10)
    run = HostRun(lines, code, time.monotonic() - start, "".join(err))
    with open(os.path.join(workdir, "host-output.txt"), "a", encoding="utf-8") as out:
        out.write(f"$ {' '.join(command)}\n{run.describe()}\n\n")
    return run


def recfile(*args, check=True):
    result = subprocess.run([RECFILE] + list(args), capture_output=True, text=True)
    if check and result.returncode != 0:
        raise CaseFailure(f"recfile {' '.join(args)} failed ({result.returncode}): {result.stderr.strip()}")
    return result


def build_file(workdir, name, text):
    source = os.path.join(workdir, name + ".txt")
    target = os.path.join(workdir, name + ".rec")
    with open(source, "w", encoding="utf-8") as out:
        out.write(text)
    recfile("build", source, target)
    return target


def payloads(path):
    return recfile("payloads", path).stdout.split()


def contacts(count, first=0):
    """Text of `count` distinct contacts of typical size."""
    blocks = []
    for k in range(first, first + count):
        blocks.append(f"00\t姓名\t联系人{k:04d}\n10\t手机\t139{k:08d}\n"
                      f"61\t电子邮件\tuser{k}@example.com\n15\t公司\t华信科技{k % 7}部\n")
    return "\n".join(blocks)


class Case:
    def __init__(self, options):
        self.options = options
        self.workdir = options.workdir
        self.checks = Checks()
        self.sims = {}

    # -- set-up and tear-down ------------------------------------------------

    def start_sims(self, com1=None, com2=None):
        """Starts the simulators; None leaves a port with a silent device."""
        for port, args in (("COM1", com1), ("COM2", com2)):
            self.sims[port] = Sim(port, ["--silent"] if args is None else args, self.workdir)

    def stop_all(self):
        # The Windows program has ended, so no Wine process holds a port; the
        # server stays up for the next case (a cold start costs seconds).
        # A hung program stops Wine itself.
        for sim in self.sims.values():
            sim.stop()

    def host(self, record_file, *extra, limit=None):
        return run_windows(self.options.imexhost, list(extra) + [win_path(record_file)], self.workdir, limit)

    def sim_notes(self):
        return "\n".join(f"{port} pdasim: {sim.stderr_text()}" for port, sim in self.sims.items())

    # -- shared judgements ---------------------------------------------------

    def expect_sent(self, port, expected, what, statuses=None):
        """The device on `port` received exactly these payloads, in order, flag 1."""
        records = self.sims[port].records()
        got = [r["data"] for r in records]
        if not self.checks.expect(got == expected,
                                  f"{what}: {port} received {len(got)} record(s) that differ from the "
                                  f"{len(expected)} expected payload(s) (recfile payloads); "
                                  f"first difference at record {first_difference(got, expected)}"):
            return records
        self.checks.equal([r["flag"] for r in records], [1] * len(records), f"{what}: flag bytes")
        self.checks.equal([r["seq"] for r in records], list(range(1, len(records) + 1)), f"{what}: sequence")
        self.checks.equal([r["length"] for r in records], [len(p) // 2 for p in expected], f"{what}: data lengths")
        if statuses is not None:
            self.checks.equal([r["status"] for r in records], statuses, f"{what}: device statuses")
        return records

    def expect_transfer_dialogs(self, run, percents, what="transfer dialogs"):
        dialogs = run.dialogs("transfer")
        self.checks.equal([d[1] for d in dialogs], list(range(1, len(percents) + 1)), f"{what}: numbers")
        self.checks.equal([d[2] for d in dialogs], [TRANSFERING_TEXT] * len(dialogs), f"{what}: label (4004)")
        self.checks.equal([d[3] for d in dialogs], [f"{p}%" for p in percents], f"{what}: percentages (4002)")
        return dialogs

    def expect_progress_before_transfer(self, run, what="order"):
        """Each callback comes before its record's transfer dialog, and after the previous one."""
        order = [t for t in run.texts() if t.startswith("progress ") or " dialog transfer " in t]
        kinds = ["p" if t.startswith("progress") else "t" for t in order]
        self.checks.equal("".join(kinds), "pt" * (len(kinds) // 2), f"{what}: callbacks and transfer dialogs")

    def expect_boxes_per_record(self, run, texts, what="message boxes"):
        """Every box is captioned with the DLL's name and comes while its record's transfer dialog is the
        latest one; texts holds one tuple of box texts per record."""
        self.checks.equal([(b[1], b[2]) for b in run.boxes()], [(BOX_CAPTION, t) for one in texts for t in one],
                          f"{what}: captions and texts")
        self.checks.equal(boxes_per_record(run), texts, f"{what}: the records they belong to")

    def expect_no_requests(self, port, what):
        sim = self.sims[port]
        self.checks.expect(not any(sim.requests(code) for code in (PROBE_CODE, INFO_CODE, RECORD_CODE)),
                           f"{what}: {port} saw requests ({sim.stderr_text()})")

    def finish(self, run=None):
        if self.checks.failed:
            details = "\n".join(" - " + f for f in self.checks.failed)
            host = run.describe() if run is not None else ""
            raise CaseFailure(f"{len(self.checks.failed)} check(s) failed:\n{details}\n{host}\n{self.sim_notes()}")


def first_difference(got, expected):
    for k, (a, b) in enumerate(zip(got, expected)):
        if a != b:
            return f"{k + 1}: got {a[:80]}... expected {b[:80]}..."
    return f"{min(len(got), len(expected)) + 1} (one list is longer)"


def gap(times, k):
    return times[k] - times[k - 1] if len(times) > k else None


def boxes_per_record(run):
    """The texts of the message boxes shown while each transfer dialog was the latest one."""
    starts = [d[0] for d in run.dialogs("transfer")]
    return [tuple(text for at, _, text in run.boxes() if start <= at < (starts + [float("inf")])[k + 1])
            for k, start in enumerate(starts)]


# -- the cases ---------------------------------------------------------------

CASES = {}


def case(function):
    CASES[function.__name__] = function
    return function


# The rows of transfers_reach_the_device_whole. Each writes its record file and returns it with COM1's pdasim
# options and a judgement of its own over the records the device logged (or None).
def three_contacts(c):
    path = build_file(c.workdir, "three", THREE_CONTACTS)
    c.checks.equal(len(payloads(path)), 3, "three contacts: blocks in the test file")
    return path, [], None


def sample_file(c):
    c.checks.equal(len(payloads(SAMPLE)), 5, "sample file: blocks in the sample")

    def first_contact(records):
        # The device splits each record into its eleven texts: spot-check the first contact.
        if records:
            c.checks.equal(records[0]["fields"][0], "张伟", "sample file: first record, field 0 (name)")
            c.checks.equal(records[0]["fields"][8], "zhang.wei@example.com.cn",
                           "sample file: first record, field 8 (e-mail)")
    return SAMPLE, ["--server-type", "掌上电脑"], first_contact


def control_bytes_on_xon_xoff_line(c):
    text = ("00\t姓名\t张\x11伟\x13\n10\t手机\t\x13\x11 138\x13\n\n"
            "00\t姓名\t\x11\x11\x13\x13\n80\t备注\tXON\x11XOFF\x13\n")
    path = build_file(c.workdir, "control", text)
    c.checks.expect(all(any(p[k:k + 2] == byte for k in range(0, len(p), 2))
                        for p in payloads(path) for byte in ("11", "13")),
                    "control bytes: every payload holds 0x11 and 0x13")
    # The server type goes out in the information reply: an XOFF swallowed
    # there breaks the reply's FCS and the attempt fails.
    return path, ["--xon-xoff", "--server-type", "PDA\x13\x11\x13"], None


def vcard_book(c):
    count = 48
    book = os.path.join(c.workdir, "book.vcf")
    record_file = os.path.join(c.workdir, "book.rec")
    exported = os.path.join(c.workdir, "device.vcf")
    for path in (record_file, exported):
        if os.path.exists(path):
            os.unlink(path)
    subprocess.run([SYSTEM_PYTHON, MAKEBOOK, str(count), book, "12"], check=True)
    built = recfile("build", "--vcard", book, record_file)
    c.checks.expect("will not reach the device" not in built.stderr,
                    f"vcard book: recfile says values are lost: {built.stderr.strip()}")
    c.checks.equal(len(payloads(record_file)), count, "vcard book: blocks built from the book")

    def store_matches_book(records):
        compared = subprocess.run([SYSTEM_PYTHON, COMPAREBOOKS, book, exported], capture_output=True, text=True)
        c.checks.expect(compared.returncode == 0,
                        f"vcard book: the exported store differs from the book ({compared.returncode}):\n"
                        f"{compared.stdout[-3000:]}{compared.stderr}")
    return record_file, ["--export-vcard", exported], store_matches_book


@case
def transfers_reach_the_device_whole(c):
    """Files that go whole to the device on COM1: a callback (K,N) before each record's transfer dialog,
    percentages up to 100, the exact payloads in order, result 0, one connection, no box. The files: three
    contacts; the five-contact sample; records and a server type holding XON and XOFF on a line left with
    software flow control on (the library turns it off); an address book of vCards in four exporters' styles,
    which comes back out of the device's store with every value."""
    for row in (three_contacts, sample_file, control_bytes_on_xon_xoff_line, vcard_book):
        what = row.__name__.replace("_", " ")
        path, device, judge = row(c)
        expected = payloads(path)
        count = len(expected)
        c.start_sims(com1=device, com2=[])
        run = c.host(path, "--log-dialogs")
        c.stop_all()
        c.checks.equal(run.code, 0, f"{what}: exit code")
        c.checks.equal(run.results(), [0], f"{what}: results")
        c.checks.equal(run.texts()[-1:], [f"{count} records: {count} stored, 0 refused, 0 line faults"],
                       f"{what}: summary line")
        c.checks.equal(run.progress(), [(k, count) for k in range(1, count + 1)], f"{what}: progress callbacks")
        c.checks.equal([(d[1], d[2]) for d in run.dialogs("connect")], [(1, CONNECTING_TEXT)],
                       f"{what}: connection dialogs (control 4003)")
        c.expect_transfer_dialogs(run, [k * 100 // count for k in range(1, count + 1)], f"{what}: transfer dialogs")
        c.expect_progress_before_transfer(run, what)
        records = c.expect_sent("COM1", expected, f"{what}: COM1 device", statuses=[1] * count)
        c.checks.equal(len(c.sims["COM1"].requests(PROBE_CODE)), 1, f"{what}: probes on COM1")
        c.checks.equal(len(c.sims["COM1"].requests(INFO_CODE)), 1, f"{what}: information requests on COM1")
        c.expect_no_requests("COM2", f"{what}: connected on COM1")
        c.checks.equal(run.boxes(), [], f"{what}: message boxes")
        if judge is not None:
            judge(records)
    c.finish(run)


@case
def dialogs_and_boxes_render_with_text(c):
    """The connection dialog, each record's dialog and a message box, as the screen shows them: PNGs go to
    $IMEX_ARTIFACTS/screenshots, each with text on a face (more than two colours). What the boxes and the
    replies mean, the line-fault box after the record time-out among them, imexcheck judges
    (tests/check)."""
    path = build_file(c.workdir, "three", THREE_CONTACTS)
    shots = os.path.join(c.workdir, "shots")
    shutil.rmtree(shots, ignore_errors=True)
    os.makedirs(shots)
    # Replies held back keep each dialog up for its picture, taken 0.3 s after
    # it comes up; the box stays up 1 s.
    c.start_sims(com1=["--delay-ms", str(REPLY_DELAY_MS), "--refuse-every", "2"], com2=[])
    run = c.host(path, "--log-dialogs", "--answer-boxes=1000", "--screenshots", win_path(shots))
    c.stop_all()
    c.checks.equal((run.code, run.texts()[-1:]),
                   (8, ["3 records: 2 stored, 1 refused (record 2), 0 line faults"]), "exit code and summary line")
    c.expect_boxes_per_record(run, [(), (RECORD_REFUSED_TEXT,), ()])
    out_dir = os.path.join(ARTIFACTS, "screenshots")
    os.makedirs(out_dir, exist_ok=True)
    for name in ("connect-1", "transfer-1", "transfer-2", "transfer-3", "box-1"):
        bmp = os.path.join(shots, name + ".bmp")
        if not c.checks.expect(os.path.exists(bmp), f"no screenshot {name}.bmp"):
            continue
        png = os.path.join(out_dir, name + ".png")
        subprocess.run(["convert", bmp, png], check=True)
        colours = subprocess.run(["convert", png, "-format", "%k", "info:"], capture_output=True,
                                 text=True).stdout.strip()
        # A rendered dialog has text on a face: more than two colours.
        c.checks.expect(colours.isdigit() and int(colours) > 2, f"{name}.png holds {colours} colour(s)")
        print(f"screenshot {png} ({colours} colours)")
    c.finish(run)


@case
def no_device_names_what_each_port_did(c):
    """A silent device behind COM1 and nothing behind COM2: result 7 and exit 7, and imexhost's last line
    tells the port that opens from the one that does not."""
    path = build_file(c.workdir, "three", THREE_CONTACTS)
    c.sims["COM1"] = Sim("COM1", ["--silent"], c.workdir)
    com2 = os.path.join(WINE_DIR, "ports", "COM2")
    if os.path.lexists(com2):
        os.unlink(com2)
    run = c.host(path, "--answer-boxes")
    c.stop_all()
    c.checks.equal((run.code, run.results()), (7, [7]), "exit code and results")
    last = run.texts()[-1] if run.texts() else ""
    c.checks.expect(last.startswith("no record sent: no device answered on COM1 or COM2 (COM1 opens; "
                                    "COM2 cannot be opened (error "), f"summary line: {last!r}")
    c.finish(run)


@case
def broken_body_gives_3_after_connecting(c):
    """Bodies broken behind a good trailer (a block announced but missing; an end mark
    missing): result 3 after connecting, before any callback or record."""
    c.start_sims(com1=[], com2=[])
    variants = []
    # One block more announced than the file holds.
    variants.append(("a missing block", build_file(c.workdir, "missing-block", THREE_CONTACTS + "\n!count 4\n")))
    # The second block's end mark overwritten with ordinary bytes.
    good = build_file(c.workdir, "good", THREE_CONTACTS)
    with open(good, "rb") as f:
        data = bytearray(f.read())
    end_mark = bytes.fromhex("4455bbaa")
    second = data.find(end_mark, data.find(end_mark) + 1)
    data[second:second + 4] = b"\x20\x20\x20\x20"
    no_end = os.path.join(c.workdir, "no-end-mark.rec")
    with open(no_end, "wb") as f:
        f.write(data)
    variants.append(("an end mark missing", no_end))
    for what, path in variants:
        oracle = recfile("payloads", path, check=False)
        c.checks.equal(oracle.returncode, 3, f"{what}: recfile payloads exit code (the file must be broken)")
    runs = []
    for what, path in variants:
        run = c.host(path, "--log-dialogs", "--answer-boxes")
        runs.append(run)
        c.checks.equal(run.results(), [3], f"{what}: results")
        c.checks.equal(run.progress(), [], f"{what}: progress callbacks")
        c.checks.equal(len(run.dialogs("connect")), 1, f"{what}: connection dialogs (the trailer is good)")
        c.checks.equal(run.dialogs("transfer"), [], f"{what}: transfer dialogs")
    c.stop_all()
    c.checks.equal(len(c.sims["COM1"].requests(INFO_CODE)), 2, "information requests on COM1 (one per run)")
    c.checks.equal(c.sims["COM1"].records(), [], "records on COM1")
    c.finish(runs[-1] if runs else None)


@case
def escape_ends_one_attempt_or_one_record(c):
    """Escape ends what its dialog waits for and the call goes on to result 0: in the connection dialog on
    COM1 it fails that attempt and COM2 takes the records; in transfer dialog 1 it abandons record 1 without
    a box, and records 2 and 3 still go (every record is refused, so each one not abandoned shows a box)."""
    path = build_file(c.workdir, "three", THREE_CONTACTS)
    expected = payloads(path)
    refused = (RECORD_REFUSED_TEXT,)
    # Replies held back (within the information request's 1 s) keep the
    # dialog up when Escape comes; without Escape COM1 would connect.
    held = ["--delay-ms", str(REPLY_DELAY_MS)]
    # row, dialog, COM1's device, connection dialogs, the device that gets the records, its statuses, boxes,
    # imexhost's exit status and last line
    for what, dialog, com1, connects, port, statuses, boxes, code, summary in (
            ("connect", "connect", held, [1, 2], "COM2", [1, 1, 1], [(), (), ()], 0,
             "3 records: 3 stored, 0 refused, 0 line faults"),
            ("transfer", "transfer", held + ["--refuse-every", "1"], [1], "COM1", [0, 0, 0], [(), refused, refused],
             8, "3 records: 0 stored, 2 refused (records 2, 3), 0 line faults, 1 abandoned (record 1)"),
            ("transfer, nothing refused", "transfer", held, [1], "COM1", [1, 1, 1], [(), (), ()], 9,
             "3 records: 2 stored, 0 refused, 0 line faults, 1 abandoned (record 1)")):
        c.start_sims(com1=com1, com2=[])
        run = c.host(path, "--log-dialogs", "--answer-boxes", "--press", f"escape@{dialog}:1")
        c.stop_all()
        c.checks.equal(run.results(), [0], f"{what}: results")
        c.checks.equal((run.code, run.texts()[-1:]), (code, [summary]), f"{what}: exit code and summary line")
        c.checks.equal(len(run.matching(rf"\[\d+\.\d+\] press escape in {dialog} 1$")), 1,
                       f"{what}: Escape pressed")
        c.checks.equal(run.progress(), [(1, 3), (2, 3), (3, 3)], f"{what}: progress callbacks")
        attempts = run.dialogs("connect")
        c.checks.equal([d[1] for d in attempts], connects, f"{what}: connection dialogs")
        if len(connects) == 2:
            c.checks.within(gap([d[0] for d in attempts], 1), 0.0, 2.5,
                            f"{what}: COM1 attempt ended by Escape (dialog 1 to 2)")
            c.checks.equal(c.sims["COM1"].records(), [], f"{what}: records on COM1")
        c.expect_transfer_dialogs(run, [33, 66, 100], f"{what}: transfer dialogs")
        c.expect_boxes_per_record(run, boxes, f"{what}: message boxes")
        # A record whose dialog Escape ended was on the line already; the
        # device still gets it whole, and the records after it unharmed.
        c.expect_sent(port, expected, f"{what}: {port} device", statuses=statuses)
    c.finish(run)


@case
def reentry_gives_1(c):
    """ImEx called again from the progress callback, and from a second thread: 1; the outer call goes on."""
    path = build_file(c.workdir, "three", THREE_CONTACTS)
    expected = payloads(path)
    c.start_sims(com1=[], com2=[])
    runs = []
    for flag, line in (("--reenter", "reentry result"), ("--reenter-thread", "reentry-thread result")):
        run = c.host(path, flag)
        runs.append(run)
        c.checks.equal([int(m[1]) for m in run.matching(line + r" (-?\d+)$")], [1], f"{flag}: {line}")
        c.checks.equal(run.results(), [0], f"{flag}: outer result")
        c.checks.equal(run.progress(), [(1, 3), (2, 3), (3, 3)], f"{flag}: progress callbacks (outer call only)")
    c.stop_all()
    c.expect_sent("COM1", expected * 2, "COM1 device (each outer call once)")
    c.checks.equal(len(c.sims["COM1"].requests(PROBE_CODE)), 2, "probes on COM1 (no connection by a re-entry)")
    c.finish(runs[-1])


@case
def caller_window_is_disabled_then_active_again(c):
    """Called from a visible window, also one that is a dialog of the caller's disabled main window: that window
    is disabled while each dialog is up, enabled and active again at each dialog's end."""
    path = build_file(c.workdir, "three", THREE_CONTACTS)
    for option in ("--owner-window", "--owner-window=nested"):
        c.start_sims(com1=[], com2=[])
        run = c.host(path, option, "--log-dialogs")
        c.stop_all()
        c.checks.equal(run.results(), [0], f"{option}: results")
        c.checks.equal([m[1] for m in run.matching(r"\[[\d.]+\] owner before the calls: (.*)$")],
                       ["enabled 1 active 1"], f"{option}: the caller's window before the call")
        c.checks.equal([m[1] for m in run.matching(r"\[[\d.]+\] owner while dialog is up: (.*)$")],
                       ["enabled 0"] * 4,
                       f"{option}: the caller's window while the connection and the three transfer dialogs are up")
        c.checks.equal([(m[1], m[2]) for m in run.matching(r"\[[\d.]+\] owner at end of (\w+): (.*)$")],
                       [("connect", "enabled 1 active 1")] + [("transfer", "enabled 1 active 1")] * 3,
                       f"{option}: the caller's window as each dialog is destroyed")
        c.checks.equal([m[1] for m in run.matching(r"\[[\d.]+\] owner after the calls: (.*)$")],
                       ["enabled 1 active 1"], f"{option}: the caller's window after the call")
        if option.endswith("nested"):
            # Its own modal loop keeps the main window disabled; we never enable it.
            c.checks.equal([m[1] for m in run.matching(r"\[[\d.]+\] main window after the calls: (.*)$")],
                           ["enabled 0"], f"{option}: the caller's main window after the call")
    c.finish(run)


@case
def process_exit_during_transfer_does_not_hang(c):
    """The process ends in the middle of a transfer (in the callback, and from another thread while a record is
    sent): the module's shut-down waits for no worker and no window, and the process ends with its own code."""
    path = build_file(c.workdir, "three", THREE_CONTACTS)
    expected = payloads(path)
    for option, code, sent in (("--exit-in-callback", 42, 1), ("--exit-from-thread", 43, 2)):
        c.start_sims(com1=["--delay-ms", "600"], com2=[])
        run = c.host(path, option, "2", limit=30)
        c.stop_all()
        c.checks.equal(run.code, code, f"{option}: exit code")
        c.checks.expect(run.elapsed < 12, f"{option}: the process took {run.elapsed:.1f} s to end")
        c.checks.equal(run.results(), [], f"{option}: results (the call never returns)")
        got = [r["data"] for r in c.sims["COM1"].records()]
        c.checks.equal(got[:1], expected[:1], f"{option}: the first record reached the device")
        c.checks.expect(len(got) <= sent, f"{option}: {len(got)} records reached the device")
    c.finish(run)


@case
def twenty_transfers_keep_handles(c):
    """Twenty transfers in one process: no handle or thread left behind after the first one."""
    path = build_file(c.workdir, "one", "00\t姓名\t张伟\n10\t手机\t13812345678\n")
    expected = payloads(path)
    c.start_sims(com1=[], com2=[])
    run = c.host(path, "--repeat", "20", "--report-handles")
    c.stop_all()
    c.checks.equal(run.results(), [0] * 20, "results")
    before = run.matching(r"handles before (\d+) threads (\d+)$")
    per_call = [(int(m[2]), int(m[3])) for m in run.matching(r"handles after call (\d+): (\d+) threads (\d+)$")]
    if c.checks.expect(before and len(per_call) == 20, "handle report lines missing"):
        hb, tb = int(before[0][1]), int(before[0][2])
        print(f"handles before {hb}, after each call {[h for h, _ in per_call]}; "
              f"threads before {tb}, after each call {[t for _, t in per_call]}")
        # The first transfer may set up what the process keeps for good (the
        # window station, the first window's and the port driver's objects);
        # from then on every transfer must give back all it took.
        c.checks.equal([h for h, _ in per_call[1:]], [per_call[0][0]] * 19,
                       "handles after calls 2..20 (against call 1)")
        c.checks.expect(per_call[0][0] - hb <= 16,
                        f"the first transfer kept {per_call[0][0] - hb} handles (at most 16 expected)")
        c.checks.equal([t for _, t in per_call], [tb] * 20, "threads after each call")
    c.expect_sent("COM1", expected * 20, "COM1 device")
    c.finish(run)


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
    global RUN_LIMIT_S
    RUN_LIMIT_S = options.limit
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
