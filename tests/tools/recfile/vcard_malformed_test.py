"""Files that are not well-formed vCards: the build stops and writes nothing."""
import os

from vcard_case import FIXTURES, ImportCase, Run


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
