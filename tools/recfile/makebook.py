#!/usr/bin/env python3
"""Writes an address book of made-up contacts as one vCard file, the cards in
turn in the styles that phones and mail programs export: vCard 2.1 with
quoted-printable UTF-8 (Android), 3.0 with grouped items, labels and folded
lines (Apple), 3.0 with repeated TYPE parameters (Google), and 4.0.

    makebook.py COUNT OUTPUT.vcf [SEED]

Every value fits the record file: texts code page 936 holds, no value over
255 bytes, few enough further values that the device's notes keep them all.
The same COUNT and SEED always give the same file.
"""
import random
import sys

FAMILY = "王李张刘陈杨黄赵吴周徐孙马朱胡郭何高林罗郑梁谢宋唐许韩冯邓曹彭曾肖田董袁潘于蒋蔡余杜叶程苏魏吕丁任沈"
GIVEN = ["伟", "芳", "娜", "秀英", "敏", "静", "丽", "强", "磊", "军", "洋", "勇", "艳", "杰", "娟", "涛", "明",
         "超", "秀兰", "霞", "平", "刚", "桂英", "建华", "文", "华", "红", "建国", "志强", "晓东", "海燕", "雪梅"]
LATIN_GIVEN = ["Anna", "Ben", "Chloe", "David", "Emma", "Felix", "Grace", "Henry", "Iris", "Jack", "Lena", "Max"]
LATIN_FAMILY = ["Smith", "Müller", "García", "Rossi", "Dubois", "Novak", "Jensen", "O'Brien", "Kowalski", "Silva"]
COMPANIES = [("北京华信科技有限公司", "市场部"), ("上海东方贸易公司", "财务部"), ("深圳创新电子", "研发中心"),
             ("浙江大学", "计算机学院"), ("广州南方物流集团", ""), ("Acme Corp", "Sales"),
             ("Nordwind GmbH", "Einkauf"), ("成都天府软件园", "运营部")]
TITLES = ["经理", "教授", "主任", "工程师", "总监", "Dr.", "Director", "会计师"]
CITIES = [("北京市", "海淀区", "中关村大街"), ("上海市", "浦东新区", "世纪大道"), ("广州市", "天河区", "体育西路"),
          ("深圳市", "南山区", "科技园南路"), ("杭州市", "西湖区", "文三路"), ("成都市", "武侯区", "天府大道")]
LATIN_STREETS = [("12 High Street", "Oxford", "OX1 4AA", "UK"), ("Hauptstrasse 5", "Berlin", "10115", "Germany"),
                 ("1 Rue de Rivoli", "Paris", "75001", "France")]
NOTES = ["每周三下午有空", "大学同学", "客户，重要", "生日3月15日; 喜欢喝茶", "Met at the 2025 fair, likes tea",
         "请勿在晚上十点后来电", "项目：智能仓储\n联系人：小王", "Prefers e-mail; speaks 中文 and English"]


class Contact:
    def __init__(self, rng, index):
        self.latin = index % 5 == 4
        if self.latin:
            self.given, self.family = rng.choice(LATIN_GIVEN), rng.choice(LATIN_FAMILY)
            self.fn = "%s %s" % (self.given, self.family)
        else:
            self.family, self.given = rng.choice(FAMILY), rng.choice(GIVEN)
            self.fn = self.family + self.given
        self.phones = []
        kinds = ["CELL", "HOME", "WORK", "FAX", "CELL", None]
        for _ in range(rng.randint(1, 4)):
            kind = rng.choice(kinds)
            number = ("1%d%09d" % (rng.choice([3, 5, 8]), rng.randrange(10 ** 9)) if kind in ("CELL", None)
                      else "0%d-%08d" % (rng.randint(10, 99), rng.randrange(10 ** 8)))
            self.phones.append((kind, number))
        self.mails = ["%s.%d@example%s" % ("user", index * 7 + k, rng.choice([".cn", ".com", ".org"]))
                      for k in range(rng.randint(0, 2))]
        self.org = rng.choice(COMPANIES) if rng.random() < 0.7 else None
        self.title = rng.choice(TITLES) if rng.random() < 0.4 else None
        if self.latin:
            self.address = rng.choice(LATIN_STREETS) if rng.random() < 0.5 else None
        else:
            city = rng.choice(CITIES)
            self.address = (city[0], city[1], "%s%d号" % (city[2], rng.randint(1, 999)),
                            "%06d" % rng.randrange(10 ** 6)) if rng.random() < 0.6 else None
        self.note = rng.choice(NOTES) if rng.random() < 0.5 else None
        self.birthday = "19%02d-%02d-%02d" % (rng.randint(50, 99), rng.randint(1, 12), rng.randint(1, 28)) \
            if rng.random() < 0.3 else None
        self.url = "https://example.org/~c%d" % index if rng.random() < 0.2 else None


def Escape30(text):
    return text.replace("\\", "\\\\").replace(",", "\\,").replace(";", "\\;").replace("\n", "\\n")


def Fold(line, limit=75):
    """CRLF + space every `limit` octets, never inside a character."""
    out, current, size = [], "", 0
    for char in line:
        width = len(char.encode("utf-8"))
        if size + width > limit:
            out.append(current)
            current, size = " ", 1
        current += char
        size += width
    out.append(current)
    return "\r\n".join(out)


def Qp(text):
    """Quoted-printable as Android writes it: every non-ASCII byte as =XX,
    soft line breaks so that no line passes 76 characters."""
    encoded = "".join(chr(b) if 32 < b < 127 and b != ord("=") else "=%02X" % b for b in text.encode("utf-8"))
    lines = []
    while len(encoded) > 74:
        cut = 73
        while encoded[cut - 1] == "=" or encoded[cut - 2] == "=":  # keep =XX whole
            cut -= 1
        lines.append(encoded[:cut] + "=")
        encoded = encoded[cut:]
    lines.append(encoded)
    return "\r\n".join(lines)


def Line21(name, value):
    if all(ord(c) < 128 for c in value) and "\n" not in value:
        return "%s:%s" % (name, value)
    return "%s;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:%s" % (name, Qp(value.replace("\n", "\r\n")))


def Android21(c):
    lines = ["BEGIN:VCARD", "VERSION:2.1",
             Line21("N", ";".join([c.family, c.given, "", "", ""])), Line21("FN", c.fn)]
    for kind, number in c.phones:
        lines.append("TEL;%s:%s" % ({"CELL": "CELL", "HOME": "HOME", "WORK": "WORK", "FAX": "WORK;FAX",
                                     None: "VOICE"}[kind], number))
    lines += ["EMAIL;HOME:%s" % m for m in c.mails]
    if c.org:
        lines.append(Line21("ORG", ";".join(p for p in c.org if p)))
    if c.title:
        lines.append(Line21("TITLE", c.title))
    if c.address:
        if c.latin:
            parts = ["", "", c.address[0], c.address[1], "", c.address[2], c.address[3]]
        else:
            parts = ["", "", c.address[2], c.address[1], c.address[0], c.address[3], ""]
        lines.append(Line21("ADR;HOME", ";".join(parts)))
    if c.note:
        lines.append(Line21("NOTE", c.note))
    if c.birthday:
        lines.append("BDAY:" + c.birthday)
    lines.append("X-ANDROID-CUSTOM:vnd.android.cursor.item/nickname;;1;;;;;;;;;;;;;")
    lines.append("END:VCARD")
    return lines


def Apple30(c, index):
    lines = ["BEGIN:VCARD", "VERSION:3.0", "PRODID:-//Apple Inc.//iPhone OS 17.5//EN",
             "N:%s;%s;;;" % (Escape30(c.family), Escape30(c.given)), "FN:" + Escape30(c.fn)]
    if c.org:
        lines.append("ORG:%s;%s;" % (Escape30(c.org[0]), Escape30(c.org[1])))
    if c.title:
        lines.append("TITLE:" + Escape30(c.title))
    item = 0
    for kind, number in c.phones:
        if kind is None:
            # A number under a label of the user's own: the label says what it is.
            item += 1
            lines += ["item%d.TEL:%s" % (item, number), "item%d.X-ABLabel:mobile" % item]
        elif kind == "FAX":
            lines.append("TEL;type=WORK;type=FAX:" + number)
        else:
            lines.append("TEL;type=%s;type=VOICE%s:%s" % (kind, ";type=pref" if item == 0 else "", number))
    lines += ["EMAIL;type=INTERNET;type=HOME:%s" % m for m in c.mails]
    if c.address:
        item += 1
        if c.latin:
            parts = ["", "", c.address[0], c.address[1], "", c.address[2], c.address[3]]
        else:
            parts = ["", "", c.address[2], c.address[0] + c.address[1], "", c.address[3], ""]
        lines += ["item%d.ADR;type=HOME;type=pref:%s" % (item, ";".join(Escape30(p) for p in parts)),
                  "item%d.X-ABADR:cn" % item]
    if c.note:
        lines.append("NOTE:" + Escape30(c.note))
    if c.birthday:
        lines.append("BDAY;value=date:" + c.birthday)
    if c.url:
        lines.append("item%d.URL;type=pref:%s" % (item + 1, c.url))
    lines.append("END:VCARD")
    return [Fold(line) for line in lines]


def Google30(c):
    lines = ["BEGIN:VCARD", "VERSION:3.0", "FN:" + Escape30(c.fn),
             "N:%s;%s;;;" % (Escape30(c.family), Escape30(c.given))]
    lines += ["EMAIL;TYPE=INTERNET;TYPE=WORK:%s" % m for m in c.mails]
    for kind, number in c.phones:
        lines.append("TEL;TYPE=%s:%s" % ({"FAX": "WORK,FAX"}.get(kind, kind or "VOICE"), number))
    if c.address:
        if c.latin:
            street, city, code, country = c.address
            lines.append("ADR;TYPE=WORK:;;%s;%s;;%s;%s" % (Escape30(street), Escape30(city), code, country))
        else:
            lines.append("ADR;TYPE=HOME:;;%s;%s;%s;%s;中国" % (Escape30(c.address[2]), c.address[1],
                                                          c.address[0], c.address[3]))
    if c.org:
        lines.append("ORG:" + ";".join(Escape30(p) for p in c.org if p))
    if c.title:
        lines.append("TITLE:" + Escape30(c.title))
    if c.note:
        lines.append("NOTE:" + Escape30(c.note))
    lines += ["CATEGORIES:myContacts", "END:VCARD"]
    return [Fold(line) for line in lines]


def Rfc40(c):
    lines = ["BEGIN:VCARD", "VERSION:4.0", "KIND:individual", "FN:" + Escape30(c.fn),
             "N:%s;%s;;;" % (Escape30(c.family), Escape30(c.given))]
    for kind, number in c.phones:
        types = {"CELL": "cell,voice", "HOME": "home,voice", "WORK": "work,voice", "FAX": "work,fax",
                 None: "voice"}[kind]
        lines.append('TEL;VALUE=uri;TYPE="%s":tel:%s' % (types, number))
    lines += ["EMAIL;TYPE=work:%s" % m for m in c.mails]
    if c.org:
        lines.append("ORG:" + ";".join(Escape30(p) for p in c.org if p))
    if c.title:
        lines.append("TITLE:" + Escape30(c.title))
    if c.address:
        parts = (["", "", c.address[0], c.address[1], "", c.address[2], c.address[3]] if c.latin else
                 ["", "", c.address[2], c.address[1], c.address[0], c.address[3], ""])
        lines.append("ADR;TYPE=home:" + ";".join(Escape30(p) for p in parts))
    if c.note:
        lines.append("NOTE:" + Escape30(c.note))
    if c.birthday:
        lines.append("ANNIVERSARY:" + c.birthday.replace("-", ""))
    lines.append("END:VCARD")
    return [Fold(line) for line in lines]


def main(argv):
    if len(argv) not in (2, 3):
        sys.stderr.write(__doc__)
        return 64
    count, path = int(argv[0]), argv[1]
    rng = random.Random(int(argv[2]) if len(argv) == 3 else 936)
    cards = []
    for index in range(count):
        contact = Contact(rng, index)
        style = index % 4
        cards += (Android21(contact) if style == 0 else Apple30(contact, index) if style == 1
                  else Google30(contact) if style == 2 else Rfc40(contact))
    text = "\r\n".join(cards) + "\r\n"
    with open(path, "wb") as out:
        out.write(b"\xef\xbb\xbf" + text.encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
