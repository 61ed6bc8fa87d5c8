#!/usr/bin/env python3
"""Tests of `recfile build --vcard`.

    test_vcard_import.py RECFILE [unittest arguments, e.g. a class name]

Each fixture in fixtures/ is an address book as an exporter writes it, with
beside it (same name, .txt) the record file it stands for, written by hand
in recfile's build input. The test builds both and compares the bytes.
The other cases write their small vCards inline.

Runs only recfile, so any python3 will do; recfile itself needs
python3-vobject for its interpreter (/usr/bin/python3 unless RECFILE_PYTHON
says otherwise). Without it the run fails at once and says to run
scripts/setup.sh.
"""
import difflib
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = os.path.join(HERE, "fixtures")
RECFILE = None
TIMEOUT_S = 30

# In a description, "\n" inside a value stands for CR LF: a build line cannot
# hold a line break. Both are two bytes, so swapping them in the built file
# leaves every length right.
LINE_BREAK_MARK = "\\n"


def Run(*args, stdin=None):
    return subprocess.run([RECFILE] + list(args), input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=TIMEOUT_S)


def Text(data):
    return data.decode("utf-8", "replace")


def Cp936(text):
    return text.encode("gbk")


def Payloads(path):
    """The record payload of each block, split into its eleven fields."""
    proc = Run("payloads", path)
    if proc.returncode != 0:
        raise AssertionError("recfile payloads %s: exit %d\n%s" % (path, proc.returncode, Text(proc.stderr)))
    records = []
    for line in proc.stdout.decode("ascii").split():
        payload = bytes.fromhex(line)
        records.append(payload.split(b"\0")[:11])
    return records


def Qp(text, charset):
    """Every byte of the text in the charset as =XX, as Android writes quoted-printable."""
    return "".join("=%02X" % byte for byte in text.encode(charset))


def Crlf(*lines):
    """A file's bytes from its lines: each str as UTF-8, each bytes as it is."""
    return b"".join((line.encode("utf-8") if isinstance(line, str) else line) + b"\r\n" for line in lines)


class ImportCase(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory(prefix="vcard-test-")
        self.addCleanup(self.work.cleanup)

    def Path(self, name):
        return os.path.join(self.work.name, name)

    def Write(self, name, data):
        path = self.Path(name)
        with open(path, "wb") as out:
            out.write(data.encode("utf-8") if isinstance(data, str) else data)
        return path

    def Card(self, name, lines, eol="\r\n"):
        """A vCard file from its lines; line N of the list is line N of the file."""
        return self.Write(name, eol.join(lines) + eol)

    def BuildDescription(self, description, output):
        """The record file the description stands for, through plain `recfile build`."""
        marks = sum(line.count(LINE_BREAK_MARK) for line in description.split("\n") if not line.startswith("#"))
        source = self.Write(os.path.basename(output) + ".txt", description)
        proc = Run("build", source, output)
        self.assertEqual(proc.returncode, 0, "the expected description does not build:\n" + Text(proc.stderr))
        with open(output, "rb") as built:
            data = built.read()
        # A CP936 trail byte 5C before "n" would be miscounted here; the count makes that loud.
        self.assertEqual(data.count(b"\\n"), marks, "line-break marks in the description are ambiguous")
        data = data.replace(b"\\n", b"\r\n")
        with open(output, "wb") as built:
            built.write(data)
        return data

    def BuildVcards(self, *args, stdin=None, expect_exit=0):
        proc = Run("build", "--vcard", *args, stdin=stdin)
        self.assertEqual(proc.returncode, expect_exit,
                         "recfile build --vcard %s: exit %d\nstdout: %s\nstderr: %s"
                         % (" ".join(args), proc.returncode, Text(proc.stdout), Text(proc.stderr)))
        return proc

    def AssertSameRecords(self, got_path, expected_path):
        with open(got_path, "rb") as got, open(expected_path, "rb") as expected:
            if got.read() == expected.read():
                return
        dumps = []
        for path in (expected_path, got_path):
            proc = Run("dump", path)
            dumps.append(Text(proc.stdout + proc.stderr).replace(path, "FILE").splitlines())
        diff = "\n".join(difflib.unified_diff(dumps[0], dumps[1], "expected (description)", "built from vCards",
                                              lineterm=""))
        self.fail("the record files differ; recfile dump of both:\n" + diff)

    def AssertLine(self, output, *parts):
        """Some line of `output` holds every one of `parts`."""
        lines = Text(output).splitlines()
        for line in lines:
            if all(part in line for part in parts):
                return line
        self.fail("no line holds all of %r in:\n%s" % (parts, "\n".join(lines)))

    def AssertNothingWritten(self, proc, output, *parts):
        self.assertEqual(proc.returncode, 1, Text(proc.stderr))
        self.AssertLine(proc.stderr, *parts)
        self.AssertLine(proc.stderr, "nothing written")
        self.assertFalse(os.path.exists(output), "an output file was written")
        self.assertEqual(Leftovers(output), [], "a partial output file was left behind")


def Leftovers(output):
    """Files beside `output` whose names begin with its name, other than itself."""
    folder, name = os.path.split(output)
    return sorted(f for f in os.listdir(folder or ".") if f.startswith(name) and f != name)


class Fixtures(ImportCase):
    """Exporters' files against the record files written by hand for them."""

    def Check(self, name):
        expected = self.Path("expected.rec")
        got = self.Path("got.rec")
        with open(os.path.join(FIXTURES, name + ".txt"), encoding="utf-8") as description:
            self.BuildDescription(description.read(), expected)
        proc = self.BuildVcards(os.path.join(FIXTURES, name + ".vcf"), got)
        self.AssertSameRecords(got, expected)
        return proc

    def test_android_21_quoted_printable_utf8(self):
        proc = self.Check("android_21")
        self.assertEqual(Text(proc.stdout).splitlines()[0],
                         "recfile: %s: 3 contact(s), 19 entries; left out (no field code): "
                         "BDAY 1, PHOTO 1, X-ANDROID-CUSTOM 2" % self.Path("got.rec"))
        self.assertEqual(Text(proc.stderr), "")

    def test_outlook_and_old_phone_21_quoted_printable_gbk(self):
        self.Check("gbk_21")

    def test_ios_30_bom_groups_labels_folding(self):
        proc = self.Check("ios_30")
        # A number's label chose its kind; the e-mail's and the URL's labels are lost.
        self.assertEqual(Text(proc.stdout).splitlines()[0],
                         "recfile: %s: 3 contact(s), 19 entries; left out (no field code): "
                         "BDAY 1, PRODID 3, URL 1, X-ABADR 2, X-ABLABEL 2, X-ABSHOWAS 1, X-SOCIALPROFILE 1"
                         % self.Path("got.rec"))

    def test_google_30_several_cards(self):
        proc = self.Check("google_30")
        self.assertEqual(Text(proc.stdout).splitlines()[0],
                         "recfile: %s: 5 contact(s), 27 entries; left out (no field code): "
                         "BDAY 1, CATEGORIES 5, URL 1, X-ABLABEL 1" % self.Path("got.rec"))

    def test_vcard_40_lf_uri_numbers(self):
        self.Check("v40")

    def test_backslashes_that_escape_nothing_stay(self):
        # Windows paths written without escaping, the last backslash at the
        # very end of the value; 2.1 keeps every backslash but the one before ";".
        source = self.Card("paths.vcf", [
            "BEGIN:VCARD", "VERSION:3.0", "FN:Li Lei", "NOTE:Scans in D:\\Scans\\", "END:VCARD",
            "BEGIN:VCARD", "VERSION:2.1", "FN:Han Meimei", "NOTE:Backup: \\\\fs01\\backup\\; weekly\\", "END:VCARD"])
        expected, got = self.Path("expected.rec"), self.Path("got.rec")
        self.BuildDescription("00\t姓名\tLi Lei\n80\t备注\tScans in D:\\Scans\\\n\n"
                              "00\t姓名\tHan Meimei\n80\t备注\tBackup: \\\\fs01\\backup; weekly\\\n", expected)
        self.BuildVcards(source, got)
        self.AssertSameRecords(got, expected)


    def test_numbers_of_two_kinds_and_padded_values(self):
        # A number typed as two kinds takes the one the device keeps apart
        # first (fax before mobile before home before work); spaces that an
        # exporter leaves around a value are not part of it.
        source = self.Card("kinds.vcf", [
            "BEGIN:VCARD", "VERSION:3.0", "FN:  Wang Wu  ",
            "TEL;TYPE=CELL,FAX:010-1", "TEL;TYPE=HOME;TYPE=CELL:139", "TEL;TYPE=WORK,HOME:010-2",
            "TEL;TYPE=PAGER:  777  ", "END:VCARD"])
        expected, got = self.Path("expected.rec"), self.Path("got.rec")
        self.BuildDescription("00\t姓名\tWang Wu\n13\t传真\t010-1\n10\t手机\t139\n11\t住宅电话\t010-2\n"
                              "10\t电话\t777\n", expected)
        self.BuildVcards(source, got)
        self.AssertSameRecords(got, expected)


class Inputs(ImportCase):
    """Several files in one run, and standard input."""

    def Description(self, name):
        with open(os.path.join(FIXTURES, name + ".txt"), encoding="utf-8") as description:
            return description.read()

    def test_several_files_give_their_blocks_in_order(self):
        expected = self.Path("expected.rec")
        self.BuildDescription(self.Description("android_21") + "\n" + self.Description("google_30") + "\n"
                              + self.Description("v40"), expected)
        got = self.Path("got.rec")
        proc = self.BuildVcards(os.path.join(FIXTURES, "android_21.vcf"), os.path.join(FIXTURES, "google_30.vcf"),
                                os.path.join(FIXTURES, "v40.vcf"), got)
        self.AssertSameRecords(got, expected)
        self.AssertLine(proc.stdout, "10 contact(s), 60 entries")

    def test_cards_are_numbered_across_files(self):
        # The second file's second card is card 5 after android_21's three.
        second = self.Card("second.vcf", [
            "BEGIN:VCARD", "VERSION:3.0", "FN:刘洋", "TEL;TYPE=CELL:186 0101 0202", "END:VCARD",
            "BEGIN:VCARD", "VERSION:3.0", "FN:孙丽", "NOTE:生日快乐🎂", "END:VCARD"])
        output = self.Path("out.rec")
        proc = Run("build", "--vcard", os.path.join(FIXTURES, "android_21.vcf"), second, output)
        self.AssertNothingWritten(proc, output, second + ":9:", "card 5 (孙丽)", "NOTE", "U+1F382")

    def test_standard_input_gives_the_bytes_of_the_file(self):
        fixture = os.path.join(FIXTURES, "ios_30.vcf")
        from_file, from_stdin = self.Path("file.rec"), self.Path("stdin.rec")
        self.BuildVcards(fixture, from_file)
        with open(fixture, "rb") as data:
            self.BuildVcards("-", from_stdin, stdin=data.read())
        self.AssertSameRecords(from_stdin, from_file)

    def test_standard_input_is_named_in_messages(self):
        output = self.Path("out.rec")
        proc = Run("build", "--vcard", "-", output,
                   stdin="BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Jürgen Weiß\r\nEND:VCARD\r\n".encode("utf-8"))
        self.AssertNothingWritten(proc, output, "(standard input):3:", "card 1", "FN", "U+00DF")

    def test_standard_input_among_files(self):
        expected = self.Path("expected.rec")
        self.BuildDescription(self.Description("gbk_21") + "\n" + self.Description("v40"), expected)
        got = self.Path("got.rec")
        with open(os.path.join(FIXTURES, "v40.vcf"), "rb") as data:
            self.BuildVcards(os.path.join(FIXTURES, "gbk_21.vcf"), "-", got, stdin=data.read())
        self.AssertSameRecords(got, expected)


class CodePage936(ImportCase):
    """Characters code page 936 lacks, and values longer than a field."""

    def EmojiNote(self):
        # Android 2.1: the note comes after the photo and its blank line.
        return self.Card("emoji.vcf", [
            "BEGIN:VCARD",
            "VERSION:2.1",
            "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E6=9D=8E;=E9=9B=B7;;;",
            "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E6=9D=8E=E9=9B=B7",
            "TEL;CELL:139 1234 5678",
            "PHOTO;ENCODING=BASE64;JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAECAwQFBgcICQoL",
            " DA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+P0D/",
            "",
            "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E7=94=9F=E6=97=A5=E5=BF=AB=E4=B9=90=F0=9F=8E=82",
            "END:VCARD"])

    def SharpS(self):
        # Google 3.0; CP936 has ü but no ß.
        return self.Card("sharp_s.vcf", [
            "BEGIN:VCARD",
            "VERSION:3.0",
            "FN:Jürgen Weber",
            "N:Weber;Jürgen;;;",
            "TEL;TYPE=CELL:+49 170 1234567",
            "ADR;TYPE=HOME:;;Goethestraße 7;Frankfurt am Main;;60313;Deutschland",
            "END:VCARD"])

    def Gb18030Only(self):
        # U+20000 is four bytes in GB18030 and not in CP936 at all.
        return self.Card("ext_b.vcf", [
            "BEGIN:VCARD",
            "VERSION:4.0",
            "FN:林\U00020000",
            "N:林;\U00020000;;;",
            "TEL;VALUE=uri;TYPE=cell:tel:+86-138-0000-0000",
            "END:VCARD"], eol="\n")

    def test_emoji_stops_the_build_naming_where(self):
        source, output = self.EmojiNote(), self.Path("out.rec")
        proc = Run("build", "--vcard", source, output)
        # Line 9: the blank line after the photo counts.
        self.AssertNothingWritten(proc, output, source + ":9:", "card 1 (李雷)", "NOTE", "U+1F382")

    def test_sharp_s_stops_the_build_naming_where(self):
        source, output = self.SharpS(), self.Path("out.rec")
        proc = Run("build", "--vcard", source, output)
        self.AssertNothingWritten(proc, output, source + ":6:", "card 1 (Jürgen Weber)", "ADR;TYPE=HOME", "U+00DF")

    def test_gb18030_only_character_stops_the_build_naming_where(self):
        source, output = self.Gb18030Only(), self.Path("out.rec")
        proc = Run("build", "--vcard", source, output)
        self.AssertNothingWritten(proc, output, source + ":3:", "card 1 (林\U00020000)", "FN", "U+20000")

    def test_name_is_given_for_a_property_before_fn(self):
        # vCard puts no order on properties; here the company comes first.
        source = self.Card("org_first.vcf", [
            "BEGIN:VCARD", "VERSION:4.0", "ORG:☕ Café Lumière", "FN:Léa Martin", "END:VCARD"], eol="\n")
        output = self.Path("out.rec")
        proc = Run("build", "--vcard", source, output)
        self.AssertNothingWritten(proc, output, source + ":3:", "card 1 (Léa Martin)", "ORG", "U+2615")

    def test_every_such_character_is_named(self):
        source = self.Card("two.vcf", [
            "BEGIN:VCARD", "VERSION:3.0", "FN:Jürgen Weiß", "NOTE:Grüße 😀", "END:VCARD"])
        output = self.Path("out.rec")
        proc = Run("build", "--vcard", source, output)
        self.AssertNothingWritten(proc, output, source + ":3:", "FN", "U+00DF")
        self.AssertLine(proc.stderr, source + ":4:", "NOTE", "U+00DF")

    def test_an_existing_output_is_left_as_it_was(self):
        output = self.Write("out.rec", b"\x00the old record file\xff\xaa\xff\xbb")
        for source in (self.EmojiNote(), self.SharpS(), self.Gb18030Only()):
            with self.subTest(source=os.path.basename(source)):
                proc = Run("build", "--vcard", source, output)
                self.assertEqual(proc.returncode, 1, Text(proc.stderr))
                with open(output, "rb") as kept:
                    self.assertEqual(kept.read(), b"\x00the old record file\xff\xaa\xff\xbb")
                self.assertEqual(Leftovers(output), [], "a partial output file was left behind")

    def test_replace_writes_a_question_mark(self):
        cases = [
            (self.EmojiNote(), "00\t姓名\t李雷\n10\t手机\t139 1234 5678\n80\t备注\t生日快乐?\n"),
            (self.SharpS(), "00\t姓名\tJürgen Weber\n10\t手机\t+49 170 1234567\n"
                            "60\t地址\tGoethestra?e 7, Frankfurt am Main, 60313, Deutschland\n"),
            (self.Gb18030Only(), "00\t姓名\t林?\n10\t手机\t+86-138-0000-0000\n"),
        ]
        for source, description in cases:
            with self.subTest(source=os.path.basename(source)):
                expected, got = self.Path("expected.rec"), self.Path("got.rec")
                self.BuildDescription(description, expected)
                proc = self.BuildVcards("--replace", source, got)
                self.AssertSameRecords(got, expected)
                self.assertNotIn("nothing written", Text(proc.stderr))

    def LongOrg(self, ascii_bytes):
        # 0123456789 repeated, so a cut in the wrong place shows.
        text = ("0123456789" * 26)[:ascii_bytes]
        source = self.Card("long.vcf", [
            "BEGIN:VCARD", "VERSION:3.0", "FN:周杰", "ORG:%s中;市场部" % text, "END:VCARD"])
        return source, text

    def test_lead_byte_on_the_field_boundary(self):
        source, text = self.LongOrg(254)
        output = self.Path("out.rec")
        proc = self.BuildVcards(source, output)
        self.AssertLine(proc.stderr, source + ":4:", "card 1 (周杰)", "ORG", "256 bytes", "first 254")
        [record] = Payloads(output)
        self.assertEqual(record[2], text.encode("ascii"))
        self.assertEqual(record[3], Cp936("市场部"))

    def test_exactly_a_field_is_not_reported(self):
        source, text = self.LongOrg(253)
        output = self.Path("out.rec")
        proc = self.BuildVcards(source, output)
        self.assertEqual(Text(proc.stderr), "")
        [record] = Payloads(output)
        self.assertEqual(record[2], text.encode("ascii") + Cp936("中"))
        self.assertEqual(len(record[2]), 255)


class Malformed(ImportCase):
    """Files that are not well-formed vCards stop the build, and nothing is written."""

    ANDROID_HEAD = ["BEGIN:VCARD", "VERSION:2.1", "N:Li;Lei;;;", "FN:Li Lei"]

    def Refused(self, source, *parts, output=None):
        output = output or self.Path("out.rec")
        proc = Run("build", "--vcard", source, output)
        self.AssertNothingWritten(proc, output, *parts)
        return proc

    def test_line_without_colon(self):
        source = self.Card("colon.vcf", self.ANDROID_HEAD + ["TEL;CELL 139 1234 5678", "END:VCARD"])
        self.Refused(source, source + ":5:")

    def test_line_without_colon_after_a_photo(self):
        source = self.Card("colon_photo.vcf", self.ANDROID_HEAD + [
            "PHOTO;ENCODING=BASE64;JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAECAwQFBgcICQoL",
            " DA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+P0D/",
            "",
            "NOTE likes tea",
            "END:VCARD"])
        self.Refused(source, source + ":8:")

    def test_card_never_closed_at_the_end(self):
        # An export cut short: the second card has no END:VCARD.
        source = self.Card("cut.vcf", self.ANDROID_HEAD + ["END:VCARD",
                                                           "BEGIN:VCARD", "VERSION:2.1", "FN:Han Meimei",
                                                           "TEL;CELL:139 0000 0000"])
        self.Refused(source, source + ":6:")

    def test_card_never_closed_before_the_next(self):
        source = self.Card("unclosed.vcf", self.ANDROID_HEAD + [
            "BEGIN:VCARD", "VERSION:2.1", "FN:Han Meimei", "END:VCARD"])
        self.Refused(source, source + ":1:")

    def test_empty_file(self):
        source = self.Write("empty.vcf", b"")
        self.Refused(source, source)

    def test_file_with_no_card(self):
        # An Outlook CSV export handed over by mistake.
        source = self.Write("contacts.csv", "First Name,Last Name,Mobile Phone\r\n雷,李,139 1234 5678\r\n")
        self.Refused(source, source)

    def test_calendar_instead_of_cards(self):
        source = self.Card("calendar.ics", ["BEGIN:VCALENDAR", "VERSION:2.0", "BEGIN:VEVENT",
                                            "SUMMARY:Meeting", "END:VEVENT", "END:VCALENDAR"])
        self.Refused(source, source)

    def test_one_bad_file_among_good_ones_writes_nothing(self):
        bad = self.Card("colon.vcf", self.ANDROID_HEAD + ["TEL;CELL 139 1234 5678", "END:VCARD"])
        output = self.Write("out.rec", b"old")
        proc = Run("build", "--vcard", os.path.join(FIXTURES, "android_21.vcf"), bad,
                   os.path.join(FIXTURES, "v40.vcf"), output)
        self.assertEqual(proc.returncode, 1)
        self.AssertLine(proc.stderr, bad + ":5:")
        self.AssertLine(proc.stderr, "nothing written")
        with open(output, "rb") as kept:
            self.assertEqual(kept.read(), b"old")

    def test_missing_file(self):
        self.Refused(self.Path("no-such.vcf"), self.Path("no-such.vcf"))


STRAY_BYTE_ORG = Crlf("BEGIN:VCARD", "VERSION:2.1", "FN:Lena Voss",
                      "ORG;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Nord=80 Handel", "END:VCARD")
UTF8_NAME = "王小明".encode("utf-8")


class ExporterHabits(ImportCase):
    """What address books write beyond the letter of vCard, each row a file
    and the record file it stands for; the build warns only where a row says."""

    ROWS = [
        # (what, options, file, expected description, parts of the one warning line)
        ("Shift_JIS declared, quoted-printable and as it is (2.1)", [], Crlf(
            "BEGIN:VCARD", "VERSION:2.1",
            "N;CHARSET=SHIFT_JIS;ENCODING=QUOTED-PRINTABLE:%s;%s" % (Qp("佐藤", "shift_jis"), Qp("みどり", "shift_jis")),
            b"ADR;HOME;CHARSET=SHIFT_JIS:;;" + "北区梅田1-2;大阪市;大阪府;530-0001;日本".encode("shift_jis"),
            "TEL;CHARSET=SHIFT_JIS;CELL:090-1234-5678", "END:VCARD"),
         "00\t姓名\t佐藤みどり\n60\t地址\t日本大阪府大阪市北区梅田1-2 530-0001\n10\t手机\t090-1234-5678\n", None),
        # ソ is 83 5C: its second byte is no backslash escaping the separator.
        ("Shift_JIS with the byte 5C before a separator (3.0)", [], Crlf(
            "BEGIN:VCARD", "VERSION:3.0", "FN:Mori", b"ORG;CHARSET=Shift_JIS:" + "株式会社ソ;開発部".encode("shift_jis"),
            "END:VCARD"),
         "00\t姓名\tMori\n15\t公司\t株式会社ソ\n16\t部门\t開発部\n", None),
        ("GB2312 declared, with a character only GBK has", [], Crlf(
            "BEGIN:VCARD", "VERSION:2.1", b"N;LANGUAGE=zh-cn;CHARSET=gb2312:" + Cp936("王;镕芳"),
            b"FN;CHARSET=gb2312:" + Cp936("王镕芳"), "TEL;WORK;VOICE:010-6552 0000", "END:VCARD"),
         "00\t姓名\t王镕芳\n12\t办公电话\t010-6552 0000\n", None),
        ("Big5, quoted-printable (3.0)", [], Crlf(
            "BEGIN:VCARD", "VERSION:3.0", "FN;CHARSET=BIG5;ENCODING=QUOTED-PRINTABLE:" + Qp("陳大文", "big5"),
            "TEL;TYPE=HOME:2345 6789", "END:VCARD"),
         "00\t姓名\t陳大文\n11\t住宅电话\t2345 6789\n", None),
        ("ISO-8859-1 with the euro of Windows-1252, and Windows-1251", [], Crlf(
            "BEGIN:VCARD", "VERSION:2.1", b"FN;CHARSET=ISO-8859-1:" + "José Müller".encode("latin-1"),
            b"NOTE;CHARSET=ISO-8859-1:" + "Rabatt 5 €".encode("cp1252"),
            b"TITLE;CHARSET=WINDOWS-1251:" + "Инженер".encode("cp1251"), "END:VCARD"),
         "00\t姓名\tJosé Müller\n80\t备注\tRabatt 5 €\n01\t称谓\tИнженер\n", None),
        ("UTF-16 without and with its byte-order mark", [], Crlf(
            "BEGIN:VCARD", "VERSION:2.1", "FN;CHARSET=UTF-16;ENCODING=QUOTED-PRINTABLE:" + Qp("赵敏", "utf-16-be"),
            "NOTE;CHARSET=UTF-16;ENCODING=QUOTED-PRINTABLE:" + Qp("\ufeff周五见", "utf-16-le"), "END:VCARD"),
         "00\t姓名\t赵敏\n80\t备注\t周五见\n", None),
        ("a UTF-8 character cut by a fold, and by a soft break with a space after it", [], Crlf(
            "BEGIN:VCARD", "VERSION:3.0", b"FN:" + UTF8_NAME[:5], b" " + UTF8_NAME[5:],
            "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:" + Qp("会议", "utf-8")[:12] + "= ",
            Qp("会议", "utf-8")[12:], "END:VCARD"),
         "00\t姓名\t王小明\n80\t备注\t会议\n", None),
        ("a property name the parser does not take", [], Crlf(
            "BEGIN:VCARD", "VERSION:3.0", "FN:Lars Berg", "X-messaging/twitter-All:larsberg",
            "EMAIL;TYPE=INTERNET:lars@example.org", "END:VCARD"),
         "00\t姓名\tLars Berg\n61\t电子邮件\tlars@example.org\n",
         (":4: card 1 (Lars Berg)", "X-messaging/twitter-All", "left out")),
        ("a 2.1 base64 photo on lines without indent, to its blank line", [], Crlf(
            "BEGIN:VCARD", "VERSION:2.1", "FN:Ana Lima", "PHOTO;ENCODING=BASE64;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD",
            "2wBDAAMCAgMCAgMDAwMEAwMEBQgFBQQEBQoHBwYI", "DAoMDAsKCwsNDhIQDQ4RDgsLEBYQERMUFRUVDA8X", "",
            "TEL;CELL:+55 11 91234 5678", "END:VCARD"),
         "00\t姓名\tAna Lima\n10\t手机\t+55 11 91234 5678\n", None),
        ("parameter values separated by commas", [], Crlf(
            "BEGIN:VCARD", "VERSION:2.1", "FN:Dana Reed", "TEL;TYPE=VOICE;MSG,WORK:+1-919-555-0142",
            "TEL;VOICE,HOME:+1-919-555-0100", "END:VCARD"),
         "00\t姓名\tDana Reed\n12\t办公电话\t+1-919-555-0142\n11\t住宅电话\t+1-919-555-0100\n", None),
        ("a stray byte in a quoted-printable value, with --replace", ["--replace"], STRAY_BYTE_ORG,
         "00\t姓名\tLena Voss\n15\t公司\tNord? Handel\n", None),
        ("a UTF-16 file", [], Crlf(
            "BEGIN:VCARD", "VERSION:3.0", "FN:李雷", "TEL;TYPE=CELL:139 1234 5678", "END:VCARD")
         .decode("utf-8").encode("utf-16"),
         "00\t姓名\t李雷\n10\t手机\t139 1234 5678\n", None),
        ("--charset leaves a 4.0 card UTF-8", ["--charset", "gbk"], Crlf(
            "BEGIN:VCARD", "VERSION:4.0", "FN:张伟", "END:VCARD"),
         "00\t姓名\t张伟\n", None),
    ]

    def test_each_habit_converts(self):
        for what, options, data, description, warning in self.ROWS:
            with self.subTest(what):
                source, expected, got = self.Write("in.vcf", data), self.Path("expected.rec"), self.Path("got.rec")
                self.BuildDescription(description, expected)
                proc = self.BuildVcards(*options, source, got)
                self.AssertSameRecords(got, expected)
                if warning:
                    self.AssertLine(proc.stderr, source + warning[0], *warning[1:])
                    self.assertEqual(len(Text(proc.stderr).splitlines()), 1, Text(proc.stderr))
                else:
                    self.assertEqual(Text(proc.stderr), "")

    REFUSALS = [
        # (what, options, file, parts of a message line)
        ("a stray byte in a quoted-printable value", [], STRAY_BYTE_ORG,
         (":4: card 1 (Lena Voss), ORG", "80", 'after "Nord"', "--replace")),
        ("UTF-8 cut short without CHARSET", [], Crlf(
            "BEGIN:VCARD", "VERSION:3.0", "FN:Li Lei", b"NOTE:caf\xc3", "END:VCARD"),
         (":4: card 1 (Li Lei), NOTE", "C3", "--charset")),
        ("a character set nobody knows", [], Crlf(
            "BEGIN:VCARD", "VERSION:2.1", "TEL;CELL:139", "FN;CHARSET=X-MAC-KLINGON:Li Lei", "END:VCARD"),
         (":4: card 1 (Li Lei), FN", "X-MAC-KLINGON", "UTF-8")),
        ("undeclared bytes that --charset does not read", ["--charset", "shift_jis"], Crlf(
            "BEGIN:VCARD", "VERSION:2.1", b"FN:Caf\xe9 Lumi\xe8re", "END:VCARD"),
         (":3: card 1, FN", "E9", "shift_jis", "--charset", "--replace")),
        ("a --charset no codec reads", ["--charset", "no-such-set"], Crlf("BEGIN:VCARD", "FN:Li", "END:VCARD"),
         ("--charset no-such-set", "character set")),
        ("a --charset whose text is not ASCII with 8-bit bytes", ["--charset", "utf-16"],
         Crlf("BEGIN:VCARD", "FN:Li", "END:VCARD"), ("--charset utf-16", "UTF-8")),
    ]

    def test_each_refusal_names_where_and_what_to_do(self):
        for what, options, data, parts in self.REFUSALS:
            with self.subTest(what):
                source, output = self.Write("in.vcf", data), self.Path("out.rec")
                proc = Run("build", "--vcard", *options, source, output)
                self.AssertNothingWritten(proc, output, *[source + p if p.startswith(":") else p for p in parts])

    def test_undeclared_gbk_is_refused_until_charset_names_it(self):
        # Outlook writes the system code page and says nothing about it.
        source = self.Write("outlook.vcf", Crlf(
            "BEGIN:VCARD", "VERSION:2.1", b"N:" + Cp936("陈;静"), b"FN:" + Cp936("陈静"),
            b"ORG:" + Cp936("深圳南山科技有限公司;市场部"), "TEL;CELL;VOICE:135 0000 6789",
            "EMAIL;PREF;INTERNET:chen.jing@example.cn", "END:VCARD"))
        output = self.Path("out.rec")
        proc = Run("build", "--vcard", source, output)
        self.AssertNothingWritten(proc, output, source + ":3: card 1, N", "not UTF-8", "--charset gbk")
        expected = self.Path("expected.rec")
        self.BuildDescription("00\t姓名\t陈静\n15\t公司\t深圳南山科技有限公司\n16\t部门\t市场部\n10\t手机\t135 0000 6789\n"
                              "61\t电子邮件\tchen.jing@example.cn\n", expected)
        self.BuildVcards("--charset", "gbk", source, output)
        self.AssertSameRecords(output, expected)


class DeviceMisses(ImportCase):
    """Values the device will not get are named; the build still succeeds."""

    def test_notes_overflow(self):
        # One mobile takes the field, the next 25 take 25 * 20 bytes of the
        # 511 of the notes ("手机:" + 13 + CR LF each), the last three do not
        # fit. The short note after them still does: 500 + 9 bytes.
        numbers = ["138 0000 %04d" % n for n in range(1, 30)]
        lines = ["BEGIN:VCARD", "VERSION:2.1",
                 "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E7=8E=8B;=E7=A3=8A;;;",
                 "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E7=8E=8B=E7=A3=8A"]
        lines += ["TEL;CELL:" + n for n in numbers] + ["NOTE:ok", "END:VCARD"]
        source, output = self.Card("many.vcf", lines), self.Path("out.rec")
        proc = self.BuildVcards(source, output)
        for line, number in ((31, "138 0000 0027"), (32, "138 0000 0028"), (33, "138 0000 0029")):
            self.AssertLine(proc.stderr, "%s:%d:" % (source, line), "card 1 (王磊)", "TEL;CELL", number,
                            "will not reach the device", "notes")
        reported = [l for l in Text(proc.stderr).splitlines() if "will not reach" in l]
        self.assertEqual(len(reported), 3, "\n".join(reported))
        self.AssertLine(proc.stdout, "3 value(s) will not reach the device")
        [record] = Payloads(output)
        self.assertEqual(record[5], b"138 0000 0001")
        self.assertIn(Cp936("手机:138 0000 0026\r\n"), record[10])
        self.assertNotIn(b"0027", record[10])
        self.assertTrue(record[10].endswith(Cp936("备注:ok\r\n")))

    def test_first_mail_not_an_address_the_device_takes(self):
        source = self.Card("mail.vcf", [
            "BEGIN:VCARD",
            "VERSION:3.0",
            "FN:张伟",
            "N:张;伟;;;",
            "EMAIL;TYPE=INTERNET;TYPE=HOME:张伟@例子.公司",
            "EMAIL;TYPE=INTERNET;TYPE=WORK:zhangwei@example.cn",
            "TEL;TYPE=CELL:138 1234 5678",
            "END:VCARD",
            "BEGIN:VCARD",
            "VERSION:3.0",
            "FN:Li Si",
            "EMAIL;TYPE=INTERNET:li.si@.example.com",
            "END:VCARD"])
        output = self.Path("out.rec")
        proc = self.BuildVcards(source, output)
        self.AssertLine(proc.stderr, source + ":5:", "card 1 (张伟)", "EMAIL", "张伟@例子.公司",
                        "will not reach the device", "e-mail")
        self.AssertLine(proc.stderr, source + ":12:", "card 2 (Li Si)", "EMAIL", "li.si@.example.com",
                        "will not reach the device", "e-mail")
        self.assertNotIn("zhangwei@example.cn", Text(proc.stderr))
        self.AssertLine(proc.stdout, "2 value(s) will not reach the device")
        first, second = Payloads(output)
        self.assertEqual(first[8], b"")
        self.assertIn(Cp936("电子邮件:zhangwei@example.cn\r\n"), first[10])
        self.assertEqual(second[8], b"")

    def test_everything_arrives_nothing_reported(self):
        # A full card whose values all find a place: no report at all.
        output = self.Path("out.rec")
        proc = self.BuildVcards(os.path.join(FIXTURES, "android_21.vcf"), output)
        self.assertEqual(Text(proc.stderr), "")
        self.assertNotIn("will not reach", Text(proc.stdout))


def VobjectMissing():
    python = os.environ.get("RECFILE_PYTHON") or "/usr/bin/python3"
    try:
        proc = subprocess.run([python, "-c", "import vobject"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=TIMEOUT_S)
    except OSError as error:
        return "%s cannot be run (%s)" % (python, error)
    return None if proc.returncode == 0 else "%s has no vobject module" % python


def main():
    global RECFILE
    if len(sys.argv) < 2:
        sys.stderr.write(__doc__)
        return 64
    RECFILE = os.path.abspath(sys.argv[1])
    missing = VobjectMissing()
    if missing:
        sys.stderr.write("test_vcard_import: %s; recfile build --vcard needs python3-vobject: "
                         "run scripts/setup.sh\n" % missing)
        return 1
    program = unittest.main(argv=[sys.argv[0]] + sys.argv[2:], exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
