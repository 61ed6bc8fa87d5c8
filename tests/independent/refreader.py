#!/usr/bin/env python3
"""Reference reader for record files, written apart from the C++ reader.

Reads a record file, turns every block into the record payload the device
receives and prints, per block, the payload's counted bytes (every byte up
to and including the NUL after field 10) as lowercase hex.

Exit codes follow the transfer entry: 2 when the file cannot be opened,
3 when it is refused (shorter than 8 bytes, no trailer magic, or broken
inside one of the announced blocks). A refused file prints nothing.

Usable as a module: read_payloads(data) -> (code, [payload bytes]).
"""

import struct
import sys

TRAILER_MAGIC = b"\xff\xaa\xff\xbb"
BLOCK_START_MARK = b"\xaa\xbb\x55\x44"
BLOCK_END_MARK = b"\x44\x55\xbb\xaa"
STRING_TERMINATOR = 0xFF
TRAILER_SIZE = 8
FIELD_TEXT_MAX = 255
NOTES_MAX = 511

RESULT_OK = 0
RESULT_CANNOT_OPEN = 2
RESULT_REFUSED = 3

# "称谓:" in code page 936, the prefix of the notes' title line.
TITLE_PREFIX = b"\xb3\xc6\xce\xbd\x3a"
LINE_END = b"\r\n"

PREFERRING = ("00", "01", "10", "11", "12", "13")
FIRST_WINS = ("14", "15", "16", "50", "51", "60", "61")
NOTES_ONLY = ("80",)
KNOWN_CODES = PREFERRING + FIRST_WINS + NOTES_ONLY


class BrokenFile(Exception):
    """The file's structure does not hold the announced blocks."""


def is_lead_byte(b):
    return 0x81 <= b <= 0xFE


def cut_text(raw):
    """Cut a string to what fits a 256-byte slot (255 bytes of text).

    The cut walks the text by characters from its start so that a
    double-byte character is never split; a lead byte counts as a pair
    with whatever byte follows it inside the string.
    """
    if len(raw) <= FIELD_TEXT_MAX:
        return raw
    kept = 0
    while kept < len(raw):
        width = 2 if is_lead_byte(raw[kept]) and kept + 1 < len(raw) else 1
        if kept + width > FIELD_TEXT_MAX:
            break
        kept += width
    return raw[:kept]


def slot_text(raw):
    """The text a consumer sees in a slot: the cut string up to its first NUL."""
    text = cut_text(raw)
    nul = text.find(b"\x00")
    return text if nul < 0 else text[:nul]


def read_int(data, pos):
    if pos < 0 or pos + 4 > len(data):
        raise BrokenFile("number at %d runs past the file" % pos)
    return struct.unpack_from("<i", data, pos)[0]


def find_block_start(data, pos, scan_end):
    """Position of the next start mark at or after pos, scanning only
    windows that lie completely before scan_end (the trailer)."""
    p = pos
    while p + 4 <= scan_end:
        window = data[p:p + 4]
        if window == TRAILER_MAGIC:
            raise BrokenFile("trailer magic at %d before the last block" % p)
        if window == BLOCK_START_MARK:
            return p
        p += 1
    raise BrokenFile("trailer reached before the last block")


def read_string(data, pos, limit):
    """One 0xFF-terminated string starting at pos that must end before limit."""
    end = data.find(bytes([STRING_TERMINATOR]), pos, limit)
    if end < 0:
        raise BrokenFile("string at %d has no terminator before the end mark" % pos)
    return data[pos:end], end + 1


def read_block(data, start):
    """Entries of the block at start, and the position right after it."""
    body_length = read_int(data, start + 4)
    count = read_int(data, start + 13)
    if body_length < 5:
        raise BrokenFile("block at %d: body length %d" % (start, body_length))
    if count < 0:
        raise BrokenFile("block at %d: entry count %d" % (start, count))
    end_mark = start + 13 + body_length
    if data[end_mark:end_mark + 4] != BLOCK_END_MARK:
        raise BrokenFile("block at %d: no end mark at %d" % (start, end_mark))
    entries = []
    pos = start + 18
    for _ in range(count):
        code, pos = read_string(data, pos, end_mark)
        label, pos = read_string(data, pos, end_mark)
        value, pos = read_string(data, pos, end_mark)
        entries.append((slot_text(code), slot_text(label), slot_text(value)))
    return entries, end_mark + 4


def is_ascii_text(text):
    return all(b < 0x80 for b in text)


def is_email_address(text):
    if not is_ascii_text(text) or len(text) < 5:
        return False
    at = text.find(b"@")
    if at < 0 or at != text.rfind(b"@"):
        return False
    if at == 0 or at == len(text) - 1:
        return False
    if text[0:1] == b"." or text[-1:] == b".":
        return False
    return text[at + 1:at + 2] != b"."


def assemble_record(entries):
    """The eleven field texts of one block."""
    slots = {}
    notes = bytearray()

    def fits(own_value, line):
        return (len(notes) + len(own_value) + 3 < NOTES_MAX + 1
                and len(notes) + len(line) <= NOTES_MAX)

    def notes_line(label, value):
        return label + b":" + value + LINE_END

    for code, label, value in entries:
        key = code.decode("latin-1")
        if key not in KNOWN_CODES:
            continue
        if key in NOTES_ONLY:
            line = notes_line(label, value)
            if fits(value, line):
                notes += line
            continue
        if key not in slots:
            slots[key] = value
            continue
        if key in FIRST_WINS or is_ascii_text(value):
            line = notes_line(label, value)
            if fits(value, line):
                notes += line
        else:
            line = notes_line(label, slots[key])
            if fits(value, line):
                notes += line
                slots[key] = value

    if "01" in slots:
        title = TITLE_PREFIX + slots["01"] + LINE_END
        if len(notes) + len(title) <= NOTES_MAX:
            notes += title

    email = slots.get("61", b"")
    return [
        slots.get("00", b""),
        b"",
        slots.get("15", b""),
        slots.get("16", b""),
        slots.get("13", b""),
        slots.get("10", b""),
        slots.get("11", b""),
        slots.get("12", b""),
        email if is_email_address(email) else b"",
        slots.get("60", b""),
        bytes(notes),
    ]


def record_payload(fields):
    """Counted bytes of the payload: each field followed by its NUL."""
    return b"".join(field + b"\x00" for field in fields)


def read_blocks(data):
    """(result, [entries per block]) for the bytes of a record file."""
    if len(data) < TRAILER_SIZE or data[-4:] != TRAILER_MAGIC:
        return RESULT_REFUSED, []
    block_count = struct.unpack_from("<i", data, len(data) - TRAILER_SIZE)[0]
    scan_end = len(data) - TRAILER_SIZE
    blocks = []
    pos = 0
    try:
        for _ in range(max(block_count, 0)):
            start = find_block_start(data, pos, scan_end)
            entries, pos = read_block(data, start)
            blocks.append(entries)
    except BrokenFile:
        return RESULT_REFUSED, []
    return RESULT_OK, blocks


def read_payloads(data):
    result, blocks = read_blocks(data)
    return result, [record_payload(assemble_record(b)) for b in blocks]


def read_path(path):
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return RESULT_CANNOT_OPEN, []
    return read_payloads(data)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: refreader.py RECORD_FILE\n")
        return 64
    result, payloads = read_path(argv[1])
    if result == RESULT_OK:
        sys.stdout.write("".join(p.hex() + "\n" for p in payloads))
    return result


if __name__ == "__main__":
    sys.exit(main(sys.argv))
