#!/usr/bin/env python3
"""Hand-computed cases for the independent reader, so that the reference
itself is held to known answers before it judges anyone else."""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import refreader  # noqa: E402

# One block of two entries: ("00", "", "Li") and ("12", "Tel", "123").
EXAMPLE_48 = bytes.fromhex(
    "aabb5544" "17000000" "00000000" "00" "02000000" "00"
    "3030ffff4c69ff" "3132ff54656cff313233ff"
    "4455bbaa" "01000000" "ffaaffbb")
EXAMPLE_48_LINE = "4c690000000000000031323300000000"

TITLE = b"\xb3\xc6\xce\xbd:"
ZHONG = "中".encode("gbk")


def block(entries, extra=b"", count=None):
    body = b"".join(c + b"\xff" + l + b"\xff" + v + b"\xff" for c, l, v in entries) + extra
    return (refreader.BLOCK_START_MARK + struct.pack("<i", 5 + len(body)) + b"\0" * 5
            + struct.pack("<i", len(entries) if count is None else count) + b"\0"
            + body + refreader.BLOCK_END_MARK)


def record_file(blocks, count=None, lead=b""):
    return lead + b"".join(blocks) + struct.pack("<i", len(blocks) if count is None else count) \
        + refreader.TRAILER_MAGIC


def fields_of(entries):
    return refreader.assemble_record(entries)


class ExampleFile(unittest.TestCase):
    def test_cli_prints_the_example_payload(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "example.rec")
            with open(path, "wb") as f:
                f.write(EXAMPLE_48)
            proc = subprocess.run([sys.executable, os.path.join(HERE, "refreader.py"), path],
                                  stdout=subprocess.PIPE)
        self.assertEqual(proc.returncode, 0)
        self.assertEqual(proc.stdout, (EXAMPLE_48_LINE + "\n").encode())

    def test_cli_refuses_missing_and_short_files(self):
        with tempfile.TemporaryDirectory() as tmp:
            missing = subprocess.run([sys.executable, os.path.join(HERE, "refreader.py"),
                                      os.path.join(tmp, "none.rec")], stdout=subprocess.PIPE)
            path = os.path.join(tmp, "short.rec")
            with open(path, "wb") as f:
                f.write(b"\0\0\0" + refreader.TRAILER_MAGIC)
            short = subprocess.run([sys.executable, os.path.join(HERE, "refreader.py"), path],
                                   stdout=subprocess.PIPE)
        self.assertEqual((missing.returncode, missing.stdout), (2, b""))
        self.assertEqual((short.returncode, short.stdout), (3, b""))

    def test_bytes_in_front_change_nothing(self):
        self.assertEqual(refreader.read_payloads(b"\x01\xaa\xaa\xbb\x55" + EXAMPLE_48),
                         (0, [bytes.fromhex(EXAMPLE_48_LINE)]))


class FileStructure(unittest.TestCase):
    def test_changed_magic_is_refused(self):
        for i in range(1, 5):
            data = bytearray(EXAMPLE_48)
            data[-i] ^= 0x01
            self.assertEqual(refreader.read_payloads(bytes(data)), (3, []))

    def test_zero_and_negative_counts_read_nothing(self):
        for count in (0, -1):
            self.assertEqual(refreader.read_payloads(EXAMPLE_48[:40] + struct.pack("<i", count)
                                                     + refreader.TRAILER_MAGIC), (0, []))

    def test_overlapping_start_mark_is_found(self):
        data = record_file([block([(b"00", b"", b"x")])], lead=b"\xaa")
        self.assertEqual(refreader.read_payloads(data), (0, [b"x" + b"\0" * 11]))

    def test_count_smaller_than_blocks_reads_the_first(self):
        data = record_file([block([(b"00", b"", b"a")]), block([(b"00", b"", b"b")])], count=1)
        self.assertEqual(refreader.read_payloads(data)[1], [b"a" + b"\0" * 11])

    def test_too_few_blocks_and_magic_in_gap_are_refused(self):
        one = block([(b"00", b"", b"a")])
        self.assertEqual(refreader.read_payloads(record_file([one], count=2))[0], 3)
        self.assertEqual(refreader.read_payloads(record_file([one], lead=refreader.TRAILER_MAGIC))[0], 3)

    def test_broken_blocks_are_refused(self):
        good = block([(b"00", b"", b"a")])
        bad_length = good[:4] + struct.pack("<i", 4) + good[8:]
        bad_count = good[:13] + struct.pack("<i", -1) + good[17:]
        more_entries = good[:13] + struct.pack("<i", 2) + good[17:]
        no_end = good[:-1] + b"\x00"
        for broken in (bad_length, bad_count, more_entries, no_end):
            self.assertEqual(refreader.read_payloads(record_file([broken])), (3, []))

    def test_bytes_after_the_last_entry_are_accepted(self):
        data = record_file([block([(b"00", b"", b"a")], extra=b"\xff\xffzz")])
        self.assertEqual(refreader.read_payloads(data), (0, [b"a" + b"\0" * 11]))

    def test_empty_block_keeps_the_next_blocks_entries(self):
        data = record_file([block([]), block([(b"12", b"", b"9")])])
        self.assertEqual(refreader.read_payloads(data)[1], [b"\0" * 11, b"\0" * 7 + b"9" + b"\0" * 4])


class LongStrings(unittest.TestCase):
    def test_ascii_is_cut_to_255(self):
        self.assertEqual(refreader.cut_text(b"a" * 300), b"a" * 255)
        self.assertEqual(refreader.cut_text(b"a" * 255), b"a" * 255)

    def test_double_byte_character_is_not_split(self):
        self.assertEqual(refreader.cut_text(ZHONG * 130), ZHONG * 127)
        self.assertEqual(refreader.cut_text(b"a" + ZHONG * 130), b"a" + ZHONG * 127)

    def test_nul_ends_the_text(self):
        self.assertEqual(refreader.slot_text(b"ab\0cd"), b"ab")


class Assembly(unittest.TestCase):
    def test_only_title(self):
        self.assertEqual(fields_of([(b"01", b"x", b"")])[10], TITLE + b"\r\n")
        self.assertEqual(fields_of([(b"01", b"x", b"Dr")])[10], TITLE + b"Dr\r\n")

    def test_preferring_code_displaced_by_non_ascii(self):
        f = fields_of([(b"00", b"a", b""), (b"00", b"Nm", ZHONG)])
        self.assertEqual((f[0], f[10]), (ZHONG, b"Nm:\r\n"))

    def test_preferring_code_keeps_first_against_ascii(self):
        f = fields_of([(b"00", b"a", b"A"), (b"00", b"Nm", b"B")])
        self.assertEqual((f[0], f[10]), (b"A", b"Nm:B\r\n"))

    def test_first_wins(self):
        f = fields_of([(b"15", b"a", b"A"), (b"15", b"b", ZHONG)])
        self.assertEqual((f[2], f[10]), (b"A", b"b:" + ZHONG + b"\r\n"))

    def test_field_order(self):
        codes = [b"00", b"15", b"16", b"13", b"10", b"11", b"12", b"61", b"60"]
        f = fields_of([(c, b"", b"v" + c) for c in codes[:7]] + [(b"61", b"", b"a@b.c"), (b"60", b"", b"v60")])
        self.assertEqual(f, [b"v00", b"", b"v15", b"v16", b"v13", b"v10", b"v11", b"v12", b"a@b.c", b"v60", b""])

    def test_unmapped_first_values_are_held_back(self):
        f = fields_of([(b"14", b"a", b"1"), (b"14", b"b", b"2"), (b"99", b"c", b"3"), (b"000", b"d", b"4")])
        self.assertEqual(f[10], b"b:2\r\n")
        self.assertEqual(f[:10], [b""] * 10)

    def test_email_rules(self):
        accepted = [b"a@b.c", b"a.@bc", b"ab@cd"]
        refused = [b"a@bc", b"ab@c.", b"a@.bc", b"@abcd", b"abcd@", b"a@b@c", b".a@bc", b"\xd6\xd0@b.c"]
        for text in accepted:
            self.assertTrue(refreader.is_email_address(text), text)
        for text in refused:
            self.assertFalse(refreader.is_email_address(text), text)
        self.assertEqual(fields_of([(b"61", b"", b"a@bc")])[8], b"")

    def test_notes_fit_limits(self):
        filler = [(b"80", b"", b"x" * 247), (b"80", b"", b"y" * 247)]  # 500 bytes of notes
        self.assertEqual(len(fields_of(filler)[10]), 500)
        self.assertEqual(len(fields_of(filler + [(b"80", b"", b"z" * 9)])[10]), 500)
        self.assertEqual(len(fields_of(filler + [(b"80", b"", b"z" * 8)])[10]), 511)
        self.assertEqual(len(fields_of(filler + [(b"80", b"L", b"z" * 8)])[10]), 500)

    def test_payload_of_empty_record(self):
        self.assertEqual(refreader.record_payload(fields_of([])), b"\0" * 11)


if __name__ == "__main__":
    unittest.main()
