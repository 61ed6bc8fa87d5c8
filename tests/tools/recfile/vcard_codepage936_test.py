"""What reaches the device in code page 936: characters it lacks, values longer than a field, notes that overflow."""
import os

from vcard_case import FIXTURES, Cp936, ImportCase, Leftovers, Payloads, Run, Text


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
