"""Driver of the end-to-end cases: paths, simulators, the Wine runner, record files and checks."""
import json
import os
import re
import signal
import subprocess
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
