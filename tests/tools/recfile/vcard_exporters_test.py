"""Exporters' habits beyond the letter of vCard: character sets, folds, parameters, and their refusals."""
from vcard_case import Cp936, Crlf, ImportCase, Qp, Run, Text


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
