"""The scenarios of the DLL's acceptance run, in SCENARIOS in the order they run."""
import os
import random

import genrecfiles
import pdaclient
from dll_harness import (PROBE_FILLER, Findings, Peer, callbacks_text, check_clean_frames, check_dialogs,
                         check_host, check_transfer, compress, expected_percentages, kinds, percentages)
from dll_records import (MAGIC, START, block, checked_payloads, example_block, largest_record_file, payload_of,
                         several_blocks_file, short_entries, simple_file, trailer)

BOX_REFUSED = "此纪录数据传送失败"


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
