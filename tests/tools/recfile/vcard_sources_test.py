"""Exporters' files against their hand-written record files, and several inputs in one run."""
import os

from vcard_case import FIXTURES, ImportCase, Run, Text


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
