"""The end-to-end cases, each registered in CASES under the name ctest gives it."""
import os
import shutil
import subprocess

from e2e_driver import (ARTIFACTS, COMPAREBOOKS, CONNECTING_TEXT, INFO_CODE, MAKEBOOK, PROBE_CODE,
                        RECORD_REFUSED_TEXT, REPLY_DELAY_MS, SAMPLE, SYSTEM_PYTHON, THREE_CONTACTS, WINE_DIR,
                        Sim, build_file, gap, payloads, recfile, win_path)

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

