"""Wine, device peers and hostcheck runs for the DLL's acceptance run, and the checks of what they saw."""
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
WINERUN = os.path.join(REPO, "tests", "wine", "winerun.sh")
PDAPEER = os.path.join(HERE, "pdapeer.py")

PROBE_FILLER = 4000
RUN_LIMIT_S = 60


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class HostRun:
    def __init__(self):
        self.lines = []          # (time, text) of stdout, without CR
        self.stderr = ""
        self.exit_code = None
        self.timed_out = False
        self.started = 0.0
        self.ended = 0.0

    @property
    def boxes(self):
        return [(t, text[len("box: "):]) for t, text in self.lines if text.startswith("box: ")]

    def calls(self):
        """[(callbacks text, result)] in order."""
        out = []
        pending = None
        for _, text in self.lines:
            if text.startswith("callbacks:"):
                pending = text[len("callbacks:"):].strip()
            elif text.startswith("result: ") and pending is not None:
                out.append((pending, int(text[len("result: "):])))
                pending = None
        return out

    def odd_lines(self):
        return [text for _, text in self.lines
                if not text.startswith(("box: ", "callbacks:", "result: "))]

    def dialogs(self):
        mark = "hostcheck: dialog: "
        return [line[len(mark):].strip() for line in self.stderr.splitlines() if line.startswith(mark)]

    def findings(self):
        return [line.strip() for line in self.stderr.splitlines()
                if line.startswith("hostcheck: ") and not line.startswith("hostcheck: dialog: ")]


class Peer:
    def __init__(self, ctx, port, behaviour="normal", refuse="", ignore="", delay=0, link=None,
                 extra=(), log_name=None):
        self.port = port
        # A scenario that starts a port's peer more than once names each log.
        self.log_path = os.path.join(ctx.scenario_dir, "%s.jsonl" % (log_name or port))
        link = link or os.path.join(ctx.ports_dir, port)
        cmd = [sys.executable, PDAPEER, "--link", link, "--log", self.log_path,
               "--behaviour", behaviour, "--reply-delay", str(delay)]
        if refuse:
            cmd += ["--refuse", refuse]
        if ignore:
            cmd += ["--ignore", ignore]
        cmd += list(extra)
        self.proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     start_new_session=True)
        ready, _, _ = select.select([self.proc.stdout], [], [], 10)
        line = self.proc.stdout.readline().decode(errors="replace") if ready else ""
        if not line.startswith("ready "):
            self.stop()
            raise RuntimeError("pdapeer on %s did not get ready: %r %s" % (
                port, line, self.proc.stderr.read().decode(errors="replace")))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)

    def log(self):
        try:
            with open(self.log_path, encoding="utf-8") as f:
                return [json.loads(line) for line in f if line.strip()]
        except FileNotFoundError:
            return []


class Context:
    def __init__(self, args):
        self.arch = args.arch
        self.hostcheck = os.path.abspath(args.hostcheck)
        self.fakeimex = os.path.abspath(args.fakeimex) if args.fakeimex else None
        self.wine_dir = os.path.abspath(args.wine_dir or os.environ.get("IMEX_WINE_DIR")
                                        or os.path.join(REPO, "build", "wine"))
        self.ports_dir = os.path.join(self.wine_dir, "ports")
        self.workdir = args.workdir or tempfile.mkdtemp(prefix="check_dll-%s-" % args.arch)
        # Nothing of the build folder beside it: the DLL must need only itself.
        dll_dir = os.path.join(self.workdir, "dll")
        os.makedirs(dll_dir, exist_ok=True)
        self.dll = shutil.copy(os.path.abspath(args.dll), dll_dir)
        self.caption = os.path.splitext(os.path.basename(self.dll))[0]
        self.env = dict(os.environ, IMEX_WINE_ARCH=self.arch, IMEX_WINE_DIR=self.wine_dir)
        self.peers = []
        self.scenario_dir = self.workdir

    def winerun(self, *args, timeout=120):
        return subprocess.run(["bash", WINERUN] + list(args), env=self.env, timeout=timeout,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)

    def begin(self, name):
        self.scenario_dir = os.path.join(self.workdir, name)
        # Peers append to their logs: a rerun must not read the last run's.
        shutil.rmtree(self.scenario_dir, ignore_errors=True)
        os.makedirs(self.scenario_dir)
        # A port without a peer must lead nowhere, whatever an earlier run left.
        os.makedirs(self.ports_dir, exist_ok=True)
        for port in ("COM1", "COM2"):
            link = os.path.join(self.ports_dir, port)
            if os.path.islink(link) or os.path.exists(link):
                os.unlink(link)

    def peer(self, port, **options):
        peer = Peer(self, port, **options)
        self.peers.append(peer)
        return peer

    def end(self):
        for peer in self.peers:
            peer.stop()
        self.peers = []

    def write(self, name, data):
        path = os.path.join(self.scenario_dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def host(self, record_path, mode=1, calls=1, dll=None, limit=RUN_LIMIT_S):
        run = HostRun()
        cmd = ["bash", WINERUN, self.hostcheck, winpath(dll or self.dll), winpath(record_path),
               str(mode)]
        if calls != 1:
            cmd.append(str(calls))
        run.started = time.time()
        proc = subprocess.Popen(cmd, env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                start_new_session=True)
        err_chunks = []

        def read_stdout():
            for raw in proc.stdout:
                run.lines.append((time.time(), raw.decode("utf-8", errors="replace").rstrip("\r\n")))

        def read_stderr():
            err_chunks.append(proc.stderr.read())

        readers = [threading.Thread(target=read_stdout), threading.Thread(target=read_stderr)]
        for reader in readers:
            reader.start()
        try:
            run.exit_code = proc.wait(limit)
        except subprocess.TimeoutExpired:
            run.timed_out = True
            # Wine first, then whatever is left of the run.
            self.winerun("--stop", timeout=60)
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            run.exit_code = proc.wait(10)
        for reader in readers:
            reader.join(10)
        run.ended = time.time()
        run.stderr = b"".join(err_chunks).decode("utf-8", errors="replace")
        with open(os.path.join(self.scenario_dir, "host.out"), "w", encoding="utf-8") as f:
            f.write("".join("%.3f %s\n" % line for line in run.lines))
            f.write("--- stderr\n" + run.stderr)
        return run

# ---- checks --------------------------------------------------------------

class Findings(list):
    def expect(self, condition, text):
        if not condition:
            self.append(text)
        return condition


def callbacks_text(block_count):
    return " ".join("(%d,%d)" % (b, block_count) for b in range(1, block_count + 1))


def check_host(f, run, calls, boxes=()):
    """Exit code, stdout shape, results and callbacks, boxes in order.
    calls: [(callbacks text, result or None for "not judged")]."""
    if run.timed_out:
        f.append("hostcheck did not end within its limit (Wine stopped)")
        return
    f.expect(run.exit_code == 0, "hostcheck exit code %s, findings %s" % (run.exit_code, run.findings()))
    f.expect(not run.odd_lines(), "unexpected stdout lines %r" % run.odd_lines())
    got = run.calls()
    if f.expect(len(got) == len(calls), "%d call(s) reported, expected %d" % (len(got), len(calls))):
        for i, ((got_cb, got_result), (want_cb, want_result)) in enumerate(zip(got, calls)):
            tag = "call %d: " % (i + 1) if len(calls) > 1 else ""
            if want_result is not None:
                f.expect(got_result == want_result, "%sresult %d, expected %d" % (tag, got_result, want_result))
            f.expect(got_cb == want_cb, "%scallbacks [%s], expected [%s]" % (tag, got_cb, want_cb))
    got_boxes = [text for _, text in run.boxes]
    f.expect(got_boxes == list(boxes), "boxes %r, expected %r" % (got_boxes, list(boxes)))


def frames(log):
    return [e for e in log if e["kind"] not in ("peer-error",)]


def kinds(log):
    return [e["kind"] for e in frames(log)]


def check_clean_frames(f, port, log):
    for e in log:
        if e["kind"] == "bad":
            f.append("%s: frame with a bad FCS (%d bytes stored, head %s)" % (port, e["stored"], e["head"][:32]))
        elif e["kind"] == "peer-error":
            f.append("%s: peer: %s" % (port, e["what"]))
        elif e.get("noise_before"):
            f.append("%s: %d bytes outside frames before a %s" % (port, e["noise_before"], e["kind"]))
        elif e["kind"] != "bad" and not e.get("consistent", True):
            f.append("%s: %s message whose length field disagrees with its %d bytes"
                     % (port, e["kind"], e["length"]))


def check_probe(f, port, entry, filler=None):
    if entry["kind"] != "probe":
        return
    f.expect(entry["count"] == PROBE_FILLER and entry["length"] == PROBE_FILLER + 3,
             "%s: probe of %d bytes with count %d, expected %d and %d"
             % (port, entry["length"], entry["count"], PROBE_FILLER + 3, PROBE_FILLER))
    if filler == "any":
        return
    if filler is None:
        f.expect(entry["filler_zero"], "%s: filler of the first probe is not all zero" % port)
    else:
        got = bytes.fromhex(entry["filler"])
        if got != filler:
            first = next((i for i in range(min(len(got), len(filler))) if got[i] != filler[i]),
                         min(len(got), len(filler)))
            f.append("%s: probe filler differs from what was expected "
                     "at byte %d: got %s..., expected %s..."
                     % (port, first + 3, got[first:first + 8].hex(), filler[first:first + 8].hex()))


def check_transfer(f, port, log, payloads, calls=1, fillers=None):
    """The line of a device that answered: per call probe, info, records."""
    check_clean_frames(f, port, log)
    seq = kinds(log)
    want = (["probe", "info"] + ["record"] * len(payloads)) * calls
    if not f.expect(seq == want, "%s: frames %s, expected %s" % (port, compress(seq), compress(want))):
        return
    log = frames(log)
    per_call = 2 + len(payloads)
    for c in range(calls):
        part = log[c * per_call:(c + 1) * per_call]
        check_probe(f, port, part[0], None if not fillers else fillers[c])
        f.expect(part[1]["hex"] == "010000", "%s: information request %s, expected 010000"
                 % (port, part[1]["hex"]))
        for i, (entry, payload) in enumerate(zip(part[2:], payloads)):
            check_record(f, port, c * len(payloads) + i + 1, entry, payload)


def check_record(f, port, number, entry, payload):
    data = bytes.fromhex(entry["data"])
    where = "%s: record %d" % (port, number)
    f.expect(entry["flag"] == 1, "%s: flag %d, expected 1" % (where, entry["flag"]))
    f.expect(entry["data_length"] == len(data) and entry["length_field"] == len(data) + 3,
             "%s: length fields %d/%d for %d data bytes" % (where, entry["length_field"],
                                                            entry["data_length"], len(data)))
    if data != payload:
        first = next((i for i in range(min(len(data), len(payload))) if data[i] != payload[i]),
                     min(len(data), len(payload)))
        f.append("%s: %d data bytes differ from the %d expected at byte %d: got %s, expected %s"
                 % (where, len(data), len(payload), first, data[first:first + 12].hex(),
                    payload[first:first + 12].hex()))


def compress(seq):
    out = []
    for k in seq:
        if out and out[-1][0] == k:
            out[-1][1] += 1
        else:
            out.append([k, 1])
    return " ".join(k if n == 1 else "%s*%d" % (k, n) for k, n in out)


def percentages(run):
    out = []
    for text in run.dialogs():
        parts = [p.strip() for p in text.split("|")]
        if parts and parts[0] == "Transfering ..." and len(parts) == 2:
            out.append(parts[1])
    return out


def expected_percentages(count, calls=1):
    return ["%d%%" % (n * 100 // count) for n in range(1, count + 1)] * calls


def connection_dialogs(run):
    return sum(1 for text in run.dialogs() if text == "Connecting ...")


def check_dialogs(f, run, connects, percents=None):
    """How many connection dialogs came up and, where given, the transfer
    dialogs' percentages. The watcher looks every 20 ms, so a scenario that
    judges dialogs holds its peers' replies back a little."""
    got = connection_dialogs(run)
    f.expect(got == connects, "%d \"Connecting ...\" dialog(s), expected %d (%s)" % (got, connects, run.dialogs()))
    if percents is not None:
        f.expect(percentages(run) == percents, "percentages %s, expected %s" % (percentages(run), percents))
