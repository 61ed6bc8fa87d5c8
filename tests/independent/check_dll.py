#!/usr/bin/env python3
"""Acceptance run of imex.dll under Wine, judged from outside.

    check_dll.py --arch win32|win64 --dll PATH --hostcheck PATH
                 [--fakeimex PATH] [--wine-dir DIR] [--workdir DIR]
                 [--only NAME[,NAME...]] [--init]

For each scenario it writes a record file of its own, works out the
records the device must receive (refreader.py, and literal expectations
for hand-made blocks), starts pdapeer.py on COM1 and/or COM2 (the symlinks
DIR/ports/COMn of the Wine prefix), runs hostcheck.exe under Wine through
tests/wine/winerun.sh and checks the result code, the progress callbacks,
the message boxes (caption: the DLL's file name without extension, the
framework's default title), the dialogs and percentages shown, and every
frame each peer received, byte for byte and in order. hostcheck loads a
copy of the DLL from a folder of its own, as a host program finds it.

The line-fault box (a record without a reply for 20 s), refused records,
replies left on the line and no device at all are judged by imexcheck
(tests/check) alone; one 20-second wait per build is enough.

One line per scenario, then "N passed, M failed"; the exit code is 1 when
any scenario failed. DIR defaults to $IMEX_WINE_DIR, else build/wine of this
checkout (the runner's own).
"""

import argparse
import json
import os
import random
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
import genrecfiles  # noqa: E402
import pdaclient  # noqa: E402
import refreader  # noqa: E402

WINERUN = os.path.join(REPO, "tests", "wine", "winerun.sh")
PDAPEER = os.path.join(HERE, "pdapeer.py")

BOX_REFUSED = "此纪录数据传送失败"
PROBE_FILLER = 4000
RUN_LIMIT_S = 60

START = refreader.BLOCK_START_MARK
END = refreader.BLOCK_END_MARK
MAGIC = refreader.TRAILER_MAGIC


def gbk(text):
    return text.encode("gbk")


# ---- record files ------------------------------------------------------

def entry_bytes(entries):
    return b"".join(c + b"\xff" + l + b"\xff" + v + b"\xff" for c, l, v in entries)


def block(entries, extra=b"", spare=b"\x00\x00\x00\x00\x00\x00"):
    """One block; spare holds the six bytes the reader does not interpret."""
    body = entry_bytes(entries) + extra
    return (START + struct.pack("<i", 5 + len(body)) + spare[0:4] + spare[4:5]
            + struct.pack("<i", len(entries)) + spare[5:6] + body + END)


def trailer(count):
    return struct.pack("<i", count) + MAGIC


def payload_of(entries):
    """The counted record bytes of one block, straight from its entries."""
    cut = [tuple(refreader.slot_text(s) for s in e) for e in entries]
    return refreader.record_payload(refreader.assemble_record(cut))


def fields_payload(fields):
    assert len(fields) == 11
    return b"".join(f + b"\x00" for f in fields)


def checked_payloads(data, expected, blocks_placed=None):
    """The reference reader must agree with the construction before a
    result of the DLL is judged by it; a slip here is the driver's own.
    The block scan passes over block bodies, so a mark inside one (random
    Chinese text can form one) would make the file ambiguous."""
    placed = len(expected) if blocks_placed is None else blocks_placed
    if data.count(START) != placed or data.count(MAGIC) != 1:
        raise RuntimeError("driver: a mark stands inside the file's data")
    result, payloads = refreader.read_payloads(data)
    if result != 0 or payloads != expected:
        raise RuntimeError("driver: the reference reader disagrees with the file's construction")
    return payloads


def example_block():
    """The 48-byte example's block: payload 4c69 00 x7 313233 00 x4."""
    return [(b"00", b"", b"Li"), (b"12", b"Tel", b"123")]


EXAMPLE_PAYLOAD = bytes.fromhex("4c690000000000000031323300000000")


def chinese_block():
    entries = [
        (b"00", gbk("姓名"), gbk("张三")),
        (b"10", gbk("手机"), b"13800138000"),
        (b"00", gbk("别名"), gbk("李四")),           # displaces 张三 into the notes
        (b"01", gbk("称谓"), gbk("先生")),
        (b"61", gbk("邮件"), b"zhang@example.cn"),
        (b"60", gbk("地址"), gbk("北京市海淀区")),
        (b"15", gbk("公司"), gbk("某公司")),
        (b"15", gbk("公司2"), gbk("第二")),           # first wins: to the notes
        (b"80", gbk("备注"), b"~}" + gbk("混合") + b"\x11\x13\r\n"),
        (b"99", b"x", b"ignored"),
        (b"00", gbk("英文"), b"Zhang San"),          # ASCII never displaces
    ]
    fields = [gbk("李四"), b"", gbk("某公司"), b"", b"", b"13800138000", b"", b"",
              b"zhang@example.cn", gbk("北京市海淀区"),
              gbk("别名:张三\r\n公司2:第二\r\n备注:~}混合") + b"\x11\x13\r\n\r\n"
              + gbk("英文:Zhang San\r\n称谓:先生\r\n")]
    return entries, fields_payload(fields)


def mixed_block():
    entries = [
        (b"61", b"mail", b"a@.bc"),                  # fails the e-mail test
        (b"16", gbk("部门"), gbk("研发部")),
        (b"13", b"fax", b"010-1234"),
        (b"11", b"tel", b"62345678"),
        (b"12", b"home", b""),
        (b"12", b"home2", gbk("无")),                # displaces the empty value
        (b"14", b"x", b"first14"),                   # held, shown nowhere
        (b"14", b"y", b"second14"),
    ]
    fields = [b"", b"", b"", gbk("研发部"), b"010-1234", b"", b"62345678", gbk("无"), b"",
              b"", b"home2:\r\ny:second14\r\n"]
    return entries, fields_payload(fields)


def short_entries(rng):
    """Seeded entries whose strings all fit a slot (a longer one is cut or
    refused at the implementer's choice, so it is not judged here)."""
    while True:
        entries = genrecfiles.some_entries(rng)
        if all(len(s) <= refreader.FIELD_TEXT_MAX for e in entries for s in e):
            return entries


def several_blocks_file(seed):
    for attempt in range(100):
        try:
            return several_blocks_attempt(random.Random(seed + attempt))
        except MarkInData:
            continue
    raise RuntimeError("driver: no file without marks in its data")


class MarkInData(Exception):
    pass


def several_blocks_attempt(rng):
    chinese, chinese_payload = chinese_block()
    mixed, mixed_payload = mixed_block()
    blocks = [example_block(), [], chinese, short_entries(rng), mixed, short_entries(rng),
              short_entries(rng)]
    data = bytearray(b"\x7e\xaa\xbb\x55\x00")            # passed over before the first block
    for i, entries in enumerate(blocks):
        spare = bytes(rng.randrange(256) for _ in range(6))
        data += genrecfiles.junk(rng, 12) if i % 2 else b""
        data += block(entries, spare=spare)
    data += block([(b"00", b"", b"never sent")])         # beyond the announced count
    data += trailer(len(blocks))
    if data.count(START) != len(blocks) + 1 or data.count(MAGIC) != 1:
        raise MarkInData()
    expected = [payload_of(e) for e in blocks]
    if expected[0] != EXAMPLE_PAYLOAD or expected[1] != b"\x00" * 11 \
            or expected[2] != chinese_payload or expected[4] != mixed_payload:
        raise RuntimeError("driver: literal expectations disagree with the reference assembly")
    return bytes(data), checked_payloads(bytes(data), expected, len(blocks) + 1)


def simple_file(count_blocks, seed):
    rng = random.Random(seed)
    while True:
        blocks = [[(b"00", b"", gbk("联系人%d" % (i + 1))), (b"12", b"Tel", b"%d" % (1000 + i))]
                  + short_entries(rng)[:3] for i in range(count_blocks)]
        data = b"".join(block(e) for e in blocks) + trailer(count_blocks)
        if data.count(START) == count_blocks and data.count(MAGIC) == 1:
            return data, checked_payloads(data, [payload_of(e) for e in blocks])


def largest_record_file():
    """One block whose record has the greatest length assembly allows:
    nine full 255-byte fields, the empty field 1, and 511 bytes of notes,
    rich in bytes the frame must stuff."""
    def filled(pattern, n):
        return (pattern * (n // len(pattern) + 1))[:n]

    # 81 7E and 81 7D are double-byte characters whose trail byte is stuffed.
    stuffy = b"~}~}" + b"\x81\x7e\x81\x7d" + gbk("中文") + b"\x7e\x7d"
    entries = [
        (b"00", b"", filled(stuffy, 255)),
        (b"15", b"", filled(b"}~" + gbk("公司"), 255)),
        (b"16", b"", filled(gbk("部门") + b"~", 255)),
        (b"13", b"", filled(b"~" * 3 + b"1", 255)),
        (b"10", b"", filled(b"}", 255)),
        (b"11", b"", filled(b"\x7e\x7d\x7e", 255)),
        (b"12", b"", filled(gbk("电话") + b"}~}", 255)),
        (b"61", b"", b"a" * 202 + b"~}" * 24 + b"@b.cn"),
        (b"60", b"", filled(gbk("北京") + b"~", 255)),
        (b"80", b"", filled(b"~}" + gbk("备注"), 250)),
        (b"80", b"", filled(gbk("说明") + b"}", 255)),
    ]
    if any(len(v) > 255 or b"\xff" in v or b"\x00" in v for _, _, v in entries):
        raise RuntimeError("driver: a value of the largest record does not fit its slot")
    data = block(entries) + trailer(1)
    payload = payload_of(entries)
    if len(payload) != 2817:
        raise RuntimeError("driver: the largest record is %d bytes, not 2817" % len(payload))
    return data, checked_payloads(data, [payload])


# ---- Wine, peers and the host -------------------------------------------

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


# ---- scenarios -----------------------------------------------------------

def scenario_peer_answers_client(ctx):
    """The peer itself, driven by the other engineer's client, no Wine."""
    f = Findings()
    link = os.path.join(ctx.scenario_dir, "line")
    peer = Peer(ctx, "LINE", refuse="2", link=link)
    try:
        big = bytes([0x7E, 0x7D, 0x41]) * 1361 + b"\x7e"
        with pdaclient.PdaClient(link) as client:
            probe = client.probe()
            info = client.info()
            first = client.record(b"\x00" * 11, timeout=3)
            second = client.record(b"x\x00" * 5 + b"\x00", timeout=3)
            third = client.record(big, timeout=5)
        f.expect(probe is not None and probe[0] == 0x82, "probe reply %r" % probe)
        if f.expect(info is not None, "no information reply"):
            f.expect(pdaclient.parse_info_reply(info) == (2048, b"IndepPDA 1.0"),
                     "information reply %s" % info.hex())
        f.expect(first == bytes.fromhex("87010001"), "record 1 reply %r" % first)
        f.expect(second == bytes.fromhex("87010000"), "refused record 2 reply %r" % second)
        f.expect(third == bytes.fromhex("87010001"), "4084-byte record reply %r" % third)
    finally:
        peer.stop()
    f.expect(not os.path.lexists(link), "the peer left its link behind")
    log = peer.log()
    f.expect(kinds(log) == ["probe", "info", "record", "record", "record"], "log %s" % kinds(log))
    if len(log) == 5:
        f.expect(log[4]["data"] == big.hex() and log[4]["length"] == 4090,
                 "4084-byte record logged as %d bytes" % log[4]["length"])
        f.expect(log[2]["fields"] == [""] * 11, "fields of an empty record %r" % log[2]["fields"])
    return f


def scenario_host_findings_fail(ctx):
    """hostcheck against a DLL with known faults: each fault must be seen."""
    f = Findings()
    if ctx.fakeimex is None:
        return None
    rec = ctx.write("any.rec", b"0123456789")
    run = ctx.host(rec, mode=1, dll=ctx.fakeimex)
    check_host(f, run, [("(1,2) (2,2)", 10)])
    run = ctx.host(rec, mode=14, dll=ctx.fakeimex)
    check_host(f, run, [("(1,1)", 5)], boxes=["fake | " + BOX_REFUSED])
    for mode, what in ((11, "changed callee-saved register"), (12, "wrong stack or xmm6"),
                       (13, "report from another thread")):
        run = ctx.host(rec, mode=mode, dll=ctx.fakeimex)
        f.expect(run.exit_code == 1 and run.findings(),
                 "fault %d (%s) not reported: exit %s" % (mode, what, run.exit_code))
    return f


def scenario_several_blocks(ctx):
    f = Findings()
    data, payloads = several_blocks_file(20261208)
    rec = ctx.write("several.rec", data)
    com1 = ctx.peer("COM1", delay=120)
    com2 = ctx.peer("COM2")
    run = ctx.host(rec)
    ctx.end()
    check_host(f, run, [(callbacks_text(len(payloads)), 0)])
    check_transfer(f, "COM1", com1.log(), payloads)
    f.expect(not com2.log(), "COM2 was used although COM1 answered: %s" % kinds(com2.log()))
    got = percentages(run)
    f.expect(got == expected_percentages(len(payloads)),
             "percentages %s, expected %s" % (got, expected_percentages(len(payloads))))
    f.expect(any(d == "Connecting ..." for d in run.dialogs()),
             "no \"Connecting ...\" dialog seen (%s)" % run.dialogs())
    return f


def scenario_no_blocks(ctx):
    """Files announcing no block (a trailer alone; a block, then a count of
    0 or -1) connect, send nothing, not even the block beyond the count,
    and give 0."""
    f = Findings()
    for name, data in (("trailer-only.rec", trailer(0)),
                       ("zero.rec", block(example_block()) + trailer(0)),
                       ("negative.rec", block(example_block()) + trailer(-1))):
        rec = ctx.write(name, data)
        com1 = ctx.peer("COM1", delay=120, log_name="COM1-" + name)
        run = ctx.host(rec)
        ctx.end()
        g = Findings()
        check_host(g, run, [("", 0)])
        check_transfer(g, "COM1", com1.log(), [])
        check_dialogs(g, run, 1, [])
        f.extend("%s: %s" % (name, text) for text in g)
    return f


def scenario_no_ports(ctx):
    f = Findings()
    data, _ = simple_file(1, 4)
    rec = ctx.write("noports.rec", data)
    run = ctx.host(rec)
    check_host(f, run, [("", 7)])
    return f


# COM1 fails, COM2 takes the transfer: (name, COM1's behaviour, blocks,
# entries per block, the frames COM1 sees, the one of them COM2's probe is
# timed from and what that is, the gap expected in seconds).
FAIL_OVER_CASES = [
    ("com1_silent_com2_answers", "silent", 3, 5, ["probe"], 0, "COM1's probe", (2.7, 6.0)),
    ("com1_probe_only", "probe-only", 2, 6, ["probe", "info"], 1, "the unanswered information request", (0.8, 3.0)),
]


def fail_over_scenario(name, behaviour, blocks, entries, com1_kinds, timed_from, timed_what, gap_range):
    def scenario(ctx):
        f = Findings()
        data, payloads = simple_file(blocks, entries)
        rec = ctx.write(name + ".rec", data)
        com1 = ctx.peer("COM1", behaviour=behaviour)
        com2 = ctx.peer("COM2", delay=120)
        run = ctx.host(rec)
        ctx.end()
        check_host(f, run, [(callbacks_text(blocks), 0)])
        check_dialogs(f, run, 2, expected_percentages(blocks))
        log1, log2 = com1.log(), com2.log()
        check_clean_frames(f, "COM1", log1)
        f.expect(kinds(log1) == com1_kinds, "COM1 frames %s, expected %s" % (compress(kinds(log1)),
                                                                             ", ".join(com1_kinds)))
        check_transfer(f, "COM2", log2, payloads)
        if len(log1) > timed_from and log2:
            gap = log2[0]["t"] - log1[timed_from]["t"]
            f.expect(gap_range[0] <= gap <= gap_range[1], "COM2 probed %.2f s after %s, expected %.1f to %.1f s"
                     % (gap, timed_what, gap_range[0], gap_range[1]))
        return f
    return scenario


def quiet_line_scenario(ctx, name, data, mode, want_result, missing=False):
    f = Findings()
    rec = os.path.join(ctx.scenario_dir, "missing.rec") if missing else ctx.write(name, data)
    com1 = ctx.peer("COM1")
    com2 = ctx.peer("COM2")
    run = ctx.host(rec, mode=mode)
    ctx.end()
    check_host(f, run, [("", want_result)])
    f.expect(not run.dialogs(), "dialogs %s, expected none" % run.dialogs())
    for peer in (com1, com2):
        f.expect(not peer.log(), "%s saw %s, expected nothing on the line"
                 % (peer.port, compress(kinds(peer.log()))))
    return f


def scenario_bad_trailer_magic(ctx):
    data = bytearray(block(example_block()) + trailer(1))
    data[-1] = 0xBA
    return quiet_line_scenario(ctx, "badmagic.rec", bytes(data), 1, 3)


def scenario_missing_file(ctx):
    return quiet_line_scenario(ctx, None, None, 1, 2, missing=True)


def scenario_mode_0(ctx):
    return quiet_line_scenario(ctx, "mode0.rec", block(example_block()) + trailer(1), 0, 0)


def scenario_mode_2_missing_file(ctx):
    return quiet_line_scenario(ctx, None, None, 2, 0, missing=True)


def scenario_short_file(ctx):
    """Shorter than a trailer: which result is the implementer's choice, but
    no connection may be tried."""
    return quiet_line_scenario(ctx, "short.rec", b"\xaa\xff\xbb", 1, None)


def scenario_largest_record(ctx):
    f = Findings()
    data, payloads = largest_record_file()
    rec = ctx.write("largest.rec", data)
    com1 = ctx.peer("COM1")
    run = ctx.host(rec)
    ctx.end()
    check_host(f, run, [(callbacks_text(1), 0)])
    check_transfer(f, "COM1", com1.log(), payloads)
    return f


def scenario_second_call(ctx):
    f = Findings()
    data, payloads = simple_file(3, 9)
    rec = ctx.write("twice.rec", data)
    com1 = ctx.peer("COM1", delay=120)
    com2 = ctx.peer("COM2")
    run = ctx.host(rec, calls=2)
    ctx.end()
    check_host(f, run, [(callbacks_text(3), 0)] * 2)
    # Probe fillers are judged on their own in second_call_probe_filler.
    check_transfer(f, "COM1", com1.log(), payloads, calls=2, fillers=[None, "any"])
    f.expect(not com2.log(), "COM2 was used although COM1 answered: %s" % compress(kinds(com2.log())))
    check_dialogs(f, run, 2, expected_percentages(3, 2))
    return f


def scenario_chatty_device(ctx):
    """Before each reply the device sends noise, a frame with a bad FCS, a
    reply with another code and one whose length field disagrees; the
    replies' own bytes need stuffing. Only the true replies may count."""
    f = Findings()
    data, payloads = simple_file(3, 17)
    rec = ctx.write("chatty.rec", data)
    com1 = ctx.peer("COM1", refuse="2", extra=["--chaff", "--taken-status", "0x7e",
                                               "--free-kb", "0x7d7e", "--server-type", "~}~"])
    com2 = ctx.peer("COM2")
    run = ctx.host(rec)
    ctx.end()
    check_host(f, run, [(callbacks_text(3), 0)], boxes=["%s | %s" % (ctx.caption, BOX_REFUSED)])
    check_transfer(f, "COM1", com1.log(), payloads)
    f.expect(not com2.log(), "COM2 was used: %s" % compress(kinds(com2.log())))
    return f


def scenario_many_random_blocks(ctx):
    """Sixty seeded blocks of every kind the generator makes (notes at the
    edge of their room, displacing values, e-mail candidates, unknown
    codes, NULs inside strings), junk between blocks."""
    f = Findings()
    rng = random.Random(20261209)
    while True:
        blocks = [short_entries(rng) for _ in range(60)]
        data = b"".join(genrecfiles.junk(rng, 6) + block(e) for e in blocks) + trailer(len(blocks))
        if data.count(START) == len(blocks) and data.count(MAGIC) == 1:
            break
    payloads = checked_payloads(data, [payload_of(e) for e in blocks])
    rec = ctx.write("many.rec", data)
    com1 = ctx.peer("COM1")
    run = ctx.host(rec)
    ctx.end()
    check_host(f, run, [(callbacks_text(len(blocks)), 0)])
    check_transfer(f, "COM1", com1.log(), payloads)
    return f


def scenario_second_call_probe_filler(ctx):
    """The request buffer is never cleared, so a literal reading sends the
    previous call's last record (contact data) again as the second call's
    probe filler. The team's documented decision mends that leak: the filler
    is zeros on every call. A filler of anything else fails here."""
    f = Findings()
    data, payloads = simple_file(1, 13)
    rec = ctx.write("filler.rec", data)
    com1 = ctx.peer("COM1")
    run = ctx.host(rec, calls=2)
    ctx.end()
    check_host(f, run, [(callbacks_text(1), 0)] * 2)
    zeros = bytes(PROBE_FILLER)
    check_transfer(f, "COM1", com1.log(), payloads, calls=2, fillers=[zeros, zeros])
    return f


SCENARIOS = [
    ("peer_answers_client", scenario_peer_answers_client),
    ("host_findings_fail", scenario_host_findings_fail),
    ("several_blocks", scenario_several_blocks),
    ("no_blocks", scenario_no_blocks),
    ("no_ports", scenario_no_ports),
] + [(case[0], fail_over_scenario(*case)) for case in FAIL_OVER_CASES] + [
    ("bad_trailer_magic", scenario_bad_trailer_magic),
    ("missing_file", scenario_missing_file),
    ("mode_0", scenario_mode_0),
    ("mode_2_missing_file", scenario_mode_2_missing_file),
    ("short_file", scenario_short_file),
    ("largest_record", scenario_largest_record),
    ("chatty_device", scenario_chatty_device),
    ("many_random_blocks", scenario_many_random_blocks),
    ("second_call", scenario_second_call),
    ("second_call_probe_filler", scenario_second_call_probe_filler),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--arch", choices=["win32", "win64"], required=True)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--hostcheck", required=True)
    parser.add_argument("--fakeimex", help="the stand-in DLL with known faults")
    parser.add_argument("--wine-dir")
    parser.add_argument("--workdir")
    parser.add_argument("--only", help="comma-separated scenario names")
    parser.add_argument("--init", action="store_true", help="make a fresh working prefix first")
    args = parser.parse_args()
    ctx = Context(args)

    prefix = os.path.join(ctx.wine_dir, ctx.arch, "prefix")
    if args.init or not os.path.isdir(prefix):
        done = ctx.winerun("--init", timeout=300)
        if done.returncode != 0:
            print("winerun --init failed:\n" + done.stdout.decode(errors="replace"))
            return 1

    wanted = set(args.only.split(",")) if args.only else None
    passed = failed = 0
    started = time.time()
    print("check_dll: %s, %s, work in %s" % (ctx.arch, ctx.dll, ctx.workdir), flush=True)
    for name, function in SCENARIOS:
        if wanted is not None and name not in wanted:
            continue
        t0 = time.time()
        ctx.begin(name)
        try:
            findings = function(ctx)
        except Exception as error:  # a broken scenario is a failure, not a crash
            findings = Findings(["driver error: %s: %s" % (type(error).__name__, error)])
        finally:
            ctx.end()
        if findings is None:
            print("SKIP %-26s (no stand-in DLL given)" % name, flush=True)
            continue
        if findings:
            failed += 1
            print("FAIL %-26s %5.1f s" % (name, time.time() - t0), flush=True)
            for text in findings:
                print("     - " + text, flush=True)
        else:
            passed += 1
            print("ok   %-26s %5.1f s" % (name, time.time() - t0), flush=True)
    print("(%.0f s in all)" % (time.time() - started))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
