#!/usr/bin/python3
"""Drive the device simulator with --export-vcard over a pseudo-terminal and
read the exported file back with vobject, a vCard reader of its own.

    check_pdasim_vcard.py --pdasim PATH

Needs python3-vobject (Debian's /usr/bin/python3 has it; a pyenv python
usually does not). Three sessions: a device that refuses every fourth
record, whose file must hold the others' cards in order after each reply
and still after SIGKILL; one whose store stays empty; one whose file
cannot be written, which must say so once and go on answering. Prints each
failed check, then "N passed, M failed"; exits 1 on any failure.
"""

import argparse
import os
import signal
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import check_pdasim  # noqa: E402
import pdaclient  # noqa: E402

try:
    import vobject
except ImportError:
    sys.exit("check_pdasim_vcard: python3-vobject is missing for %s (apt-get install python3-vobject)"
             % sys.executable)

REFUSE_EVERY = 4
MAX_LINE_OCTETS = 75
PHONES = ((4, "FAX"), (5, "CELL"), (6, "HOME"), (7, "WORK"))


def gbk(text):
    return text.encode("gbk")


def raw_record(fields):
    """Record data straight from eleven CP936 texts: each with its NUL, then one more."""
    assert len(fields) == 11
    return b"".join(f + b"\x00" for f in fields) + b"\x00"


def hand_made():
    """Records whose texts need every escape and fold the export knows."""
    long_notes = gbk("很长的备注,") * 30 + b"\r\n" + b"tail;\\"
    return [
        raw_record([gbk("王; 五, 先生"), b"", gbk("某某公司;总部"), gbk("研发部,测试组"), b"010-1,2",
                    b"138\\0013", b"010;3", b"+86 10 4", b"w@example.cn", gbk("北京市,海淀区;中关村"),
                    gbk("称谓:先生\r\n备注:a,b;c\\d\r\n")]),
        raw_record([b"A" * 69 + gbk("中文") + b",;\\", b"", b"", gbk("部门"), b"", b"", b"", b"", b"", b"",
                    long_notes]),
        raw_record([b"", b"", b"", b"", b"", b"", b"", b"", b"", b"", b"line1\rline2\nline3\r\n"]),
        # 0xFF starts no CP936 character: a reader gets U+FFFD for it.
        raw_record([b"\xff" + gbk("张"), b"", b"", b"", b"", b"", b"", b"5", b"", b"", b""]),
    ]


def texts(data):
    """The eleven texts of record data as a device would read them."""
    parts = data.split(b"\x00")
    return [p.decode("gbk", "replace") for p in parts[:11]]


def newlines(text):
    return text.replace("\r\n", "\n").replace("\r", "\n")


def expected_card(fields):
    """What a vCard reader should find for one record, as plain values."""
    f = [newlines(t) for t in fields]
    card = {"fn": f[0], "n": (f[0], "", "", "", "")}
    if f[2] or f[3]:
        card["org"] = [f[2], f[3]] if f[3] else [f[2]]
    tels = [(kind, f[index]) for index, kind in PHONES if f[index]]
    if tels:
        card["tel"] = tels
    if f[8]:
        card["email"] = [("INTERNET", f[8])]
    if f[9]:
        card["adr"] = ("", "", f[9], "", "", "", "")
    if f[10]:
        card["note"] = f[10]
    return card


def read_card(component):
    """The same plain values from one parsed card."""
    card = {}
    for name, lines in component.contents.items():
        if name == "version":
            continue
        if name == "n":
            v = lines[0].value
            card["n"] = (v.family, v.given, v.additional, v.prefix, v.suffix)
        elif name == "adr":
            v = lines[0].value
            card["adr"] = (v.box, v.extended, v.street, v.city, v.region, v.code, v.country)
        elif name in ("tel", "email"):
            card[name] = [(",".join(line.params.get("TYPE", [])), line.value) for line in lines]
        elif name == "org":
            card["org"] = list(lines[0].value)
        else:
            card[name] = lines[0].value if len(lines) == 1 else [line.value for line in lines]
    return card


def read_export(path, checks, what):
    """Parsed cards of the file (None when it cannot be read), after checking its bytes."""
    try:
        with open(path, "rb") as f:
            raw = f.read()
    except OSError as e:
        checks.check(False, what + ": file readable", str(e))
        return None
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        checks.check(False, what + ": UTF-8", str(e))
        return None
    if raw:
        lines = raw.split(b"\r\n")
        checks.equal(lines[-1], b"", what + ": ends with CR LF")
        bare = [ln for ln in lines if b"\n" in ln or b"\r" in ln]
        checks.check(not bare, what + ": no line ends but CR LF", "%d lines, the first %r" % (len(bare), bare[:1]))
        long_lines = [ln for ln in lines if len(ln) > MAX_LINE_OCTETS]
        checks.check(not long_lines, what + ": lines of at most %d octets" % MAX_LINE_OCTETS,
                     "%d longer, the first %r" % (len(long_lines), long_lines[:1]))
    try:
        cards = list(vobject.readComponents(text))
    except Exception as e:  # vobject raises several kinds
        checks.check(False, what + ": vobject parses it", "%s: %s" % (type(e).__name__, e))
        return None
    for card in cards:
        checks.equal((card.name, card.version.value), ("VCARD", "3.0"), what + ": a vCard 3.0")
    return cards


def stored_session(exe, workdir, checks):
    name = "storing"
    vcf = os.path.join(workdir, name + ".vcf")
    sim = check_pdasim.Simulator(exe, workdir, name, ["--export-vcard", vcf, "--refuse-every", str(REFUSE_EVERY)])
    killed = False
    try:
        line, why = sim.wait_ready()
        if not checks.check(line is not None, name + ": ready line", why):
            return
        cards = read_export(vcf, checks, name + ": at start")
        checks.equal(cards, [], name + ": no cards before any record")

        # Every REFUSE_EVERY-th record is refused: a filler goes there, so
        # every contact of interest is stored.
        contacts = [pdaclient.contact_payload(entries) for entries in check_pdasim.contacts()] + hand_made()
        records = []
        for data in contacts:
            if (len(records) + 1) % REFUSE_EVERY == 0:
                records.append(raw_record([b"refused"] + [b""] * 10))
            records.append(data)
        want = []
        with pdaclient.PdaClient(sim.link) as client:
            for index, data in enumerate(records):
                number = index + 1
                taken = number % REFUSE_EVERY != 0
                reply = client.record(data, timeout=20.0)
                checks.equal(reply and reply.hex(), "87010001" if taken else "87010000",
                             "%s: record %d reply" % (name, number))
                if taken:
                    want.append(expected_card(texts(data)))
                # Current as soon as the reply is in.
                cards = read_export(vcf, checks, "%s: after record %d" % (name, number))
                if cards is not None:
                    checks.equal(len(cards), len(want), "%s: cards after record %d" % (name, number))

        # Killed outright, the device leaves a whole file behind.
        sim.proc.send_signal(signal.SIGKILL)
        sim.proc.wait()
        killed = True
        cards = read_export(vcf, checks, name + ": after SIGKILL")
        if cards is not None:
            got = [read_card(c) for c in cards]
            checks.equal(len(got), len(want), name + ": one card per stored record")
            for index, (g, w) in enumerate(zip(got, want)):
                checks.equal(g, w, "%s: card %d" % (name, index + 1))
        checks.equal(sorted(os.listdir(workdir)).count(name + ".vcf.tmp"), 0, name + ": no temporary file left")
    finally:
        sim.terminate()
        if killed and os.path.lexists(sim.link):
            os.unlink(sim.link)


def empty_session(exe, workdir, checks):
    name = "empty"
    vcf = os.path.join(workdir, name + ".vcf")
    with open(vcf, "w") as f:
        f.write("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:stale\r\nN:stale;;;;\r\nEND:VCARD\r\n")
    sim = check_pdasim.Simulator(exe, workdir, name, ["--export-vcard", vcf, "--refuse-records"])
    try:
        line, why = sim.wait_ready()
        if not checks.check(line is not None, name + ": ready line", why):
            return
        with pdaclient.PdaClient(sim.link) as client:
            reply = client.record(raw_record([b"x"] + [b""] * 10), timeout=20.0)
            checks.equal(reply and reply.hex(), "87010000", name + ": refused")
        checks.equal(read_export(vcf, checks, name), [], name + ": the stale file replaced by an empty store")
    finally:
        checks.equal(sim.terminate(), 0, name + ": exit status")


def unwritable_session(exe, workdir, checks):
    name = "unwritable"
    vcf = os.path.join(workdir, "missing", name + ".vcf")
    sim = check_pdasim.Simulator(exe, workdir, name, ["--export-vcard", vcf])
    try:
        line, why = sim.wait_ready()
        if not checks.check(line is not None, name + ": ready line", why):
            return
        with pdaclient.PdaClient(sim.link) as client:
            for number in range(1, 4):
                reply = client.record(raw_record([b"x"] + [b""] * 10), timeout=20.0)
                checks.equal(reply and reply.hex(), "87010001", "%s: record %d still answered" % (name, number))
    finally:
        checks.equal(sim.terminate(), 0, name + ": exit status")
    with open(sim.stderr_path, "rb") as f:
        err = f.read().decode("utf-8", "replace").splitlines()
    told = [ln for ln in err if vcf in ln]
    checks.equal(len(told), 1, name + ": the failure told once, with the path")
    checks.check(any(os.strerror(2) in ln for ln in told), name + ": with the reason", repr(told))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pdasim", required=True)
    args = parser.parse_args()

    checks = check_pdasim.Checks()
    with tempfile.TemporaryDirectory(prefix="pdasim-vcard-") as workdir:
        stored_session(args.pdasim, workdir, checks)
        empty_session(args.pdasim, workdir, checks)
        unwritable_session(args.pdasim, workdir, checks)
    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
