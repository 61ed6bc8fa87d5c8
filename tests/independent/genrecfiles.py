#!/usr/bin/env python3
"""Seeded generator of record files, valid and broken, for the reader checks.

    genrecfiles.py --out DIR [--count N] [--seed S]

Every file is named NNNNN-KIND.rec; KIND starting with "broken-" marks a
file the reader must refuse with result 3. Each generated file is checked
against its own construction before it is written: a valid file must give
one payload per announced block, equal to the payloads assembled straight
from the entries the generator put in (not parsed back), and a broken file
must be refused. A generator slip therefore stops the run instead of
turning into a false report about the reader under test.
"""

import argparse
import os
import random
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import refreader  # noqa: E402

START = refreader.BLOCK_START_MARK
END = refreader.BLOCK_END_MARK
MAGIC = refreader.TRAILER_MAGIC
FF = b"\xff"

UNKNOWN_CODES = [b"02", b"0", b"000", b"1", b"99", b"", b"0O", b"00 ", b" 00",
                 b"61x", b"8", b"\xa3\xb8\xa3\xb0", b"00\x00ab", b"15\x00"]

EMAILS = [b"a@b.c", b"ab@c", b"a@b.", b".a@bc", b"a@.bc", b"@abcd", b"abcd@",
          b"a@@bc", b"a@b@c", b"a.@bc", b"abcd", b"", b"name@example.com",
          b"first.last@sub.example.org", b"x@y", b"\xd6\xd0@b.cn",
          b"a@b.c\x00junk", b"a@b\x00.c", b"  @  ", b"a@b..c", b"-@-.-",
          b"a" * 250 + b"@b.cn", b"a" * 300 + b"@b.cn"]

BROKEN_KINDS = ["short", "badmagic", "fewblocks", "magic-in-gap", "small-length",
                "negative-count", "no-endmark", "entries-past-end",
                "no-terminator"]


def ascii_text(rng, n):
    return bytes(rng.randint(0x20, 0x7E) for _ in range(n))


def chinese_text(rng, chars):
    return "".join(chr(rng.randint(0x4E00, 0x9FA5)) for _ in range(chars)).encode("gbk")


def mixed_text(rng, approx_bytes):
    out = bytearray()
    while len(out) < approx_bytes:
        if rng.random() < 0.5:
            out += ascii_text(rng, rng.randint(1, 4))
        else:
            out += chinese_text(rng, rng.randint(1, 4))
    return bytes(out)


def long_text(rng):
    """More than 255 bytes; an odd ASCII prefix moves the 255-byte boundary
    into the middle of a double-byte character or just past one."""
    style = rng.randrange(5)
    if style == 4:
        # A lead byte at the boundary pairs with whatever byte follows it,
        # a NUL or an ASCII byte included.
        return ascii_text(rng, rng.choice([253, 254, 255])) + bytes([rng.randint(0x81, 0xFE)]) \
            + rng.choice([b"0", b"\x00", b"\x7f", b""]) + ascii_text(rng, rng.randint(0, 9))
    if style == 0:
        return ascii_text(rng, rng.randint(256, 400))
    prefix = ascii_text(rng, rng.randint(0, 3))
    if style == 1:
        return prefix + chinese_text(rng, rng.randint(128, 200))
    if style == 2:
        return prefix + mixed_text(rng, rng.randint(256, 380))
    return ascii_text(rng, rng.choice([254, 255, 256])) + chinese_text(rng, 3)


def some_value(rng):
    pick = rng.random()
    if pick < 0.15:
        return b""
    if pick < 0.40:
        return ascii_text(rng, rng.randint(1, 30))
    if pick < 0.65:
        return chinese_text(rng, rng.randint(1, 12))
    if pick < 0.78:
        return mixed_text(rng, rng.randint(1, 40))
    if pick < 0.86:
        return long_text(rng)
    if pick < 0.90:
        return ascii_text(rng, rng.choice([253, 254, 255]))
    if pick < 0.95:
        return ascii_text(rng, rng.randint(0, 5)) + b"\x00" + mixed_text(rng, rng.randint(1, 8))
    return ascii_text(rng, rng.randint(100, 250))


def some_label(rng):
    pick = rng.random()
    if pick < 0.25:
        return b""
    if pick < 0.6:
        return ascii_text(rng, rng.randint(1, 10))
    if pick < 0.9:
        return chinese_text(rng, rng.randint(1, 4))
    if pick < 0.95:
        return long_text(rng)
    return b"L\x00" + ascii_text(rng, 3)


def some_code(rng, favourites):
    pick = rng.random()
    if pick < 0.45:
        return rng.choice(favourites)
    if pick < 0.85:
        return rng.choice(refreader.KNOWN_CODES).encode()
    return rng.choice(UNKNOWN_CODES)


def random_entries(rng):
    favourites = [c.encode() for c in rng.sample(refreader.KNOWN_CODES, 3)]
    entries = []
    for _ in range(rng.choice([0, 1, 2, 3, 5, 8, 12, 20])):
        code = some_code(rng, favourites)
        value = rng.choice(EMAILS) if code == b"61" and rng.random() < 0.7 else some_value(rng)
        entries.append((code, some_label(rng), value))
    return entries


def notes_edge_entries(rng):
    """Fill the notes close to 511 bytes, then offer one more line sized to
    land on either side of both fit conditions."""
    entries = []
    used = 0
    target = 511 - rng.randint(3, 20)
    while target - used > 3:
        size = min(target - used - 3, rng.randint(150, 250))
        entries.append((b"80", b"", ascii_text(rng, size)))
        used += size + 3
    room = 512 - used - 3
    size = max(room + rng.randint(-2, 1), 0)
    code = rng.choice([b"80", b"00", b"15", b"01"])
    if code != b"80":
        entries.insert(0, (code, b"", b"first"))
    value = rng.choice([ascii_text(rng, size), (chinese_text(rng, size // 2) + b"x" * (size % 2))])
    entries.append((code, ascii_text(rng, rng.choice([0, 0, 1, 2])), value))
    if rng.random() < 0.5:
        entries.append((b"01", b"t", ascii_text(rng, rng.randint(0, 12))))
    return entries


def displacing_entries(rng):
    """Preferring codes met again with ASCII and non-ASCII values."""
    code = rng.choice(refreader.PREFERRING).encode()
    entries = []
    for _ in range(rng.randint(2, 6)):
        value = rng.choice([b"", ascii_text(rng, rng.randint(1, 9)),
                            chinese_text(rng, rng.randint(1, 5)), long_text(rng)])
        entries.append((code, some_label(rng), value))
    return entries


def scrub_marks(raw):
    """Remove every start mark and trailer magic from junk bytes."""
    data = bytearray(raw)
    for mark in (START, MAGIC):
        pos = data.find(mark)
        while pos >= 0:
            data[pos + 3] = 0x00
            pos = data.find(mark)
    return bytes(data)


def junk(rng, max_len=40):
    """Bytes the block scan passes over: rich in mark bytes, never a mark."""
    n = rng.randint(0, max_len)
    pool = [0xAA, 0xBB, 0x55, 0x44, 0xFF, 0x7E, 0x7D, 0x00]
    raw = bytes(rng.choice(pool) if rng.random() < 0.6 else rng.randrange(256) for _ in range(n))
    tail = rng.choice([b"", b"", b"\xaa", b"\xaa\xaa", b"\xaa\xbb\x55", b"\xff\xaa\xff", b"\xaa\xbb"])
    return scrub_marks(raw + tail)


def header_filler(rng, n):
    if rng.random() < 0.2:
        return rng.choice([START, MAGIC, END, b"\xff" * 4])[:n].ljust(n, b"\x00")
    return bytes(rng.randrange(256) for _ in range(n))


def entry_bytes(entries):
    return b"".join(code + FF + label + FF + value + FF for code, label, value in entries)


def build_block(rng, entries, extra=b"", length=None, count=None, end_mark=END,
                drop_last_terminator=False):
    body = entry_bytes(entries)
    if drop_last_terminator:
        body = body[:-1]
    real_length = 5 + len(body) + len(extra)
    return (START
            + struct.pack("<i", real_length if length is None else length)
            + header_filler(rng, 4) + header_filler(rng, 1)
            + struct.pack("<i", len(entries) if count is None else count)
            + header_filler(rng, 1) + body + extra + end_mark)


def some_extra(rng):
    pick = rng.random()
    if pick < 0.75:
        return b""
    if pick < 0.9:
        return bytes(rng.randrange(256) for _ in range(rng.randint(1, 12)))
    return rng.choice([START, END, MAGIC, FF * 3, b"\x00"])


def some_entries(rng):
    pick = rng.random()
    if pick < 0.6:
        return random_entries(rng)
    if pick < 0.8:
        return notes_edge_entries(rng)
    return displacing_entries(rng)


def trailer(count):
    return struct.pack("<i", count) + MAGIC


def expected_payloads(blocks, count):
    """Payloads assembled straight from the generated entries."""
    out = []
    for entries in blocks[:max(count, 0)]:
        cut = [tuple(refreader.slot_text(s) for s in entry) for entry in entries]
        out.append(refreader.record_payload(refreader.assemble_record(cut)))
    return out


def valid_file(rng):
    blocks = [some_entries(rng) for _ in range(rng.choice([0, 1, 1, 2, 3, 4, 6]))]
    data = bytearray()
    for entries in blocks:
        data += junk(rng) if rng.random() < 0.6 else b""
        data += build_block(rng, entries, extra=some_extra(rng))
    count = len(blocks)
    pick = rng.random()
    if pick < 0.12 and blocks:
        count = rng.randint(0, len(blocks) - 1)
    elif pick < 0.18:
        count = rng.choice([0, -1, -(2 ** 31)])
    if rng.random() < 0.15:
        # Bytes after the last announced block are never read: they may
        # hold anything, including a broken block or the trailer magic.
        data += rng.choice([MAGIC, START + b"\x01\x00", build_block(rng, [(b"00", b"", b"x")], length=2),
                            bytes(rng.randrange(256) for _ in range(10))])
        count = min(count, len(blocks))
    if rng.random() < 0.5:
        data += junk(rng)
    data += trailer(count)
    return bytes(data), expected_payloads(blocks, count)


def valid_blocks(rng, n):
    return [some_entries(rng) for _ in range(n)]


def file_with_broken_block(rng, make_broken):
    """Valid blocks around one broken block that lies inside the count."""
    before = valid_blocks(rng, rng.randint(0, 2))
    after = valid_blocks(rng, rng.randint(0, 2))
    data = bytearray()
    for entries in before:
        data += junk(rng, 10) + build_block(rng, entries)
    data += junk(rng, 10) + make_broken()
    for entries in after:
        data += junk(rng, 10) + build_block(rng, entries)
    data += junk(rng, 10) + trailer(len(before) + 1 + len(after))
    return bytes(data)


def broken_file(rng, kind):
    if kind == "short":
        return rng.choice([b"", MAGIC, b"\x00" + MAGIC, b"\x00\x00\x00" + MAGIC,
                           bytes(rng.randrange(256) for _ in range(rng.randint(0, 7)))])
    if kind == "badmagic":
        data, _ = valid_file(rng)
        data = bytearray(data)
        at = len(data) - rng.randint(1, 4)
        data[at] ^= 1 << rng.randrange(8)
        return bytes(data)
    if kind == "fewblocks":
        blocks = valid_blocks(rng, rng.randint(0, 3))
        data = b"".join(junk(rng) + build_block(rng, e) for e in blocks) + junk(rng)
        return data + trailer(len(blocks) + rng.randint(1, 3))
    if kind == "magic-in-gap":
        blocks = valid_blocks(rng, rng.randint(1, 3))
        at = rng.randrange(len(blocks))
        data = bytearray()
        for i, entries in enumerate(blocks):
            gap = junk(rng, 8)
            if i == at:
                gap += MAGIC + junk(rng, 8)
            data += gap + build_block(rng, entries)
        return bytes(data) + trailer(len(blocks))

    entries = random_entries(rng)
    if kind == "small-length":
        length = rng.choice([-(2 ** 31), -1000, -5, -1, 0, 1, 2, 3, 4])
        return file_with_broken_block(rng, lambda: build_block(rng, entries, length=length))
    if kind == "negative-count":
        count = rng.choice([-1, -2, -(2 ** 31)])
        return file_with_broken_block(rng, lambda: build_block(rng, entries, count=count))
    if kind == "no-endmark":
        real = 5 + len(entry_bytes(entries))
        pick = rng.randrange(3)
        if pick == 0:
            length = real + rng.choice([-3, -2, -1, 1, 2, 3])
            if length < 5:
                length = real + 1
            return file_with_broken_block(rng, lambda: build_block(rng, entries, length=length))
        if pick == 1:
            length = rng.choice([real + 100000, 2 ** 31 - 1])
            return file_with_broken_block(rng, lambda: build_block(rng, entries, length=length))
        mark = bytearray(END)
        mark[rng.randrange(4)] ^= 0x10
        return file_with_broken_block(rng, lambda: build_block(rng, entries, end_mark=bytes(mark)))
    if kind == "entries-past-end":
        count = min(len(entries) + rng.choice([1, 2, 1000, 2 ** 31]), 2 ** 31 - 1)
        extra = rng.choice([b"", b"x", b"\x00\x01"])
        return file_with_broken_block(rng, lambda: build_block(rng, entries, extra=extra, count=count))
    if kind == "no-terminator":
        if not entries:
            entries = [(b"00", b"n", b"v")]
        return file_with_broken_block(rng, lambda: build_block(rng, entries, drop_last_terminator=True))
    raise ValueError(kind)


def generate(out_dir, count, seed):
    """Write count files into out_dir; returns [(path, kind)]."""
    rng = random.Random(seed)
    os.makedirs(out_dir, exist_ok=True)
    written = []
    for index in range(count):
        if index % 3 == 2:
            kind = "broken-" + BROKEN_KINDS[(index // 3) % len(BROKEN_KINDS)]
            for _ in range(100):
                data = broken_file(rng, kind[len("broken-"):])
                result, _ = refreader.read_payloads(data)
                if result == refreader.RESULT_REFUSED:
                    break
            else:
                raise RuntimeError("could not build a %s file" % kind)
        else:
            kind = "valid"
            data, expected = valid_file(rng)
            result, payloads = refreader.read_payloads(data)
            if result != refreader.RESULT_OK or payloads != expected:
                raise RuntimeError("file %d: the reader does not give the generated records" % index)
        path = os.path.join(out_dir, "%05d-%s.rec" % (index, kind))
        with open(path, "wb") as f:
            f.write(data)
        written.append((path, kind))
    return written


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True)
    parser.add_argument("--count", type=int, default=300)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    written = generate(args.out, args.count, args.seed)
    broken = sum(1 for _, kind in written if kind.startswith("broken-"))
    print("%d files written to %s (%d valid, %d broken)" % (len(written), args.out, len(written) - broken, broken))
    return 0


if __name__ == "__main__":
    sys.exit(main())
