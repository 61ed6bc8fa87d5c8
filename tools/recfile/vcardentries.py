#!/usr/bin/python3
"""Reads vCard files and prints, card by card, the record-file entries that
`recfile build --vcard` writes.

The parsing is python3-vobject's (vCard 2.1, 3.0 and 4.0: folded lines,
quoted-printable with any CHARSET, grouped properties, both TYPE spellings);
what is ours is the mapping of properties onto the record file's field codes,
which lives in CODE_LABELS and EntriesOfCard below and nowhere else.

    vcardentries.py FILE...        (- reads standard input)
    vcardentries.py --fields FILE...

Output for recfile, UTF-8, one item per line, fields separated by tabs, and
backslash, tab, CR and LF inside a field written as \\\\, \\t, \\r, \\n:

    card   SOURCE  LINE  NUMBER             a card begins (LINE: its BEGIN)
    entry  CODE  LABEL  LINE  PROPERTY  VALUE
    left   PROPERTY-NAME  COUNT             properties that have no code

--fields prints "NUMBER<TAB>CODE<TAB>VALUE" per entry instead, for people
and tests comparing what two address books hold.

A file that is not UTF-8 or not a well-formed vCard stops the run: one line
"SOURCE:LINE: what is wrong" on standard error, exit status 1, no output.
"""
import collections
import io
import sys

try:
    import vobject
except ImportError:  # the tool's own message, not a traceback
    sys.stderr.write("vcardentries: python3-vobject is not installed (scripts/setup.sh installs it)\n")
    sys.exit(2)

# Field code -> label, as the sample record file labels its entries.
CODE_LABELS = {
    "00": "姓名",
    "01": "称谓",
    "10": "手机",
    "11": "住宅电话",
    "12": "办公电话",
    "13": "传真",
    "15": "公司",
    "16": "部门",
    "60": "地址",
    "61": "电子邮件",
    "80": "备注",
}
# A number whose types name no kind the record file knows.
OTHER_PHONE_LABEL = "电话"

# Telephone types in order of precedence: a work fax is a fax, a home mobile a mobile.
PHONE_TYPES = (("FAX", "13"), ("CELL", "10"), ("MOBILE", "10"), ("IPHONE", "10"), ("HOME", "11"), ("WORK", "12"))
# Words of a grouped label (item1.X-ABLabel) that say what kind of number it is.
PHONE_LABEL_WORDS = (("fax", "13"), ("传真", "13"), ("mobile", "10"), ("cell", "10"), ("手机", "10"),
                     ("home", "11"), ("住宅", "11"), ("家", "11"), ("work", "12"), ("办公", "12"))

# Properties that say nothing about the contact and are not counted as left out.
STRUCTURE = {"VERSION", "BEGIN", "END"}


class CardError(Exception):
    def __init__(self, line, message):
        super().__init__(message)
        self.line = line


def IsCjk(text):
    """Han, kana or hangul anywhere in the text: such names and addresses are
    written largest part first and without spaces. Müller and García are not."""
    return any(0x2E80 <= ord(c) <= 0x9FFF or 0xAC00 <= ord(c) <= 0xD7AF or 0xF900 <= ord(c) <= 0xFAFF
               or 0x20000 <= ord(c) <= 0x3FFFF for c in text)


def LineBreaksAsCrLf(text):
    return text.replace("\r\n", "\n").replace("\r", "\n").replace("\n", "\r\n")


def TypesOf(prop):
    """TYPE values in both spellings (TYPE=A,B / TYPE=A;TYPE=B / bare A;B of 2.1), upper case."""
    types = set()
    for value in prop.params.get("TYPE", []):
        types.update(t.strip().strip('"').upper() for t in value.split(","))
    types.update(p.upper() for p in getattr(prop, "singletonparams", []))
    types.discard("")
    return types


def PropertyText(prop):
    """The property as its line names it, for messages: item1.TEL;TYPE=CELL."""
    text = (prop.group + "." if prop.group else "") + prop.name
    for key, values in prop.params.items():
        if key in ("CHARSET", "ENCODING"):
            continue
        text += ";" + key + "=" + ",".join(values)
    for single in getattr(prop, "singletonparams", []):
        text += ";" + single
    return text


def SplitEscaped(raw, separator, escapable):
    """Splits at each separator that no backslash escapes and resolves the
    escapes of the characters in `escapable` (n and N: a line break). Any
    other backslash stays as written, with the character after it; vobject's
    own splitter would turn a lone one at the end into "\\eof"."""
    parts, current, at = [], [], 0
    while at < len(raw):
        char = raw[at]
        if char == "\\" and at + 1 < len(raw):
            following = raw[at + 1]
            if following not in escapable:
                current.append(char + following)
            else:
                current.append("\n" if following in "nN" else following)
            at += 2
            continue
        if char == separator:
            parts.append("".join(current))
            current = []
        else:
            current.append(char)
        at += 1
    parts.append("".join(current))
    return parts


class Values:
    """A property's value as text or as its parts, unescaped by the card's
    version. vobject's own conversion keeps only the first of comma-separated
    texts (a 2.1 note "at the fair, likes tea" would lose its second half), so
    the cards are read untransformed and the escapes resolved here."""

    # 3.0 and 4.0 escape \\ \, \; \n (vobject also takes \N and \").
    ESCAPABLE = "\\;,nN\""

    def __init__(self, version):
        self.legacy = version.startswith("2.")

    def Text(self, raw):
        # 2.1 escapes only the semicolon, and Android's writer does so in
        # single texts too ("after 6pm\; weekends").
        return "".join(SplitEscaped(raw, None, ";" if self.legacy else self.ESCAPABLE))

    def Parts(self, raw, count=0):
        parts = SplitEscaped(raw, ";", ";")
        if not self.legacy:
            parts = [self.Text(p) for p in parts]
        return parts + [""] * (count - len(parts))


def JoinedName(parts):
    """N's parts as one text: CJK names family first without spaces, others given first."""
    family, given, additional, prefix, suffix = parts[:5]
    if IsCjk(family + given + additional):
        return family + given + additional
    return " ".join(p for p in (given, additional, family, suffix) if p)


def JoinedAddress(parts):
    """ADR's seven parts as one text, in the order the address is read."""
    box, extended, street, city, region, code, country = parts[:7]
    if IsCjk(street + extended + box + city + region + country):
        text = country + region + city + street + extended + box
        return text + (" " + code if code and text else code)
    return ", ".join(p for p in (street, extended, box, city, region, code, country) if p)


def PhoneCode(prop, groupLabels):
    types = TypesOf(prop)
    for kind, code in PHONE_TYPES:
        if kind in types:
            return code, CODE_LABELS[code]
    label = groupLabels.get(prop.group, "").lower() if prop.group else ""
    for word, code in PHONE_LABEL_WORDS:
        if word in label:
            return code, CODE_LABELS[code]
    return "10", OTHER_PHONE_LABEL


def PhoneNumber(text):
    number = text.strip()
    return number[4:] if number.lower().startswith("tel:") else number


def EntriesOfCard(children):
    """(code, label, line, property text, value) per property of a card that
    has a code, in file order, and the names of the properties left out."""
    version = next((c.value.strip() for c in children if c.name == "VERSION"), "3.0")
    values = Values(version)
    groupLabels = {c.group: c.value for c in children if c.group and c.name == "X-ABLABEL"}
    # Groups whose number came in: their label named its kind. The label of
    # an e-mail, an address or a URL is lost and counted as left out.
    numberGroups = set()
    hasName = any(c.name == "FN" and values.Text(c.value).strip() for c in children)
    hasTitle = any(c.name == "TITLE" and values.Text(c.value).strip() for c in children)
    entries = []
    left = []

    def Add(code, label, prop, value):
        value = LineBreaksAsCrLf(value.strip())
        if value:
            entries.append((code, label, prop.lineNumber, PropertyText(prop), value))
            if prop.group and prop.name == "TEL":
                numberGroups.add(prop.group)

    for prop in children:
        name = prop.name
        if name == "FN":
            Add("00", CODE_LABELS["00"], prop, values.Text(prop.value))
        elif name == "N":
            # The name comes from FN when there is one; N then only lends its
            # honorific prefix as the form of address.
            parts = values.Parts(prop.value, 5)
            if not hasName:
                Add("00", CODE_LABELS["00"], prop, JoinedName(parts))
            if not hasTitle:
                Add("01", CODE_LABELS["01"], prop, parts[3])
        elif name == "TITLE":
            Add("01", CODE_LABELS["01"], prop, values.Text(prop.value))
        elif name == "TEL":
            code, label = PhoneCode(prop, groupLabels)
            Add(code, label, prop, PhoneNumber(values.Text(prop.value)))
        elif name == "EMAIL":
            Add("61", CODE_LABELS["61"], prop, values.Text(prop.value))
        elif name == "ORG":
            parts = values.Parts(prop.value, 1)
            Add("15", CODE_LABELS["15"], prop, parts[0])
            Add("16", CODE_LABELS["16"], prop, " ".join(p for p in parts[1:] if p))
        elif name == "ADR":
            Add("60", CODE_LABELS["60"], prop, JoinedAddress(values.Parts(prop.value, 7)))
        elif name == "NOTE":
            Add("80", CODE_LABELS["80"], prop, values.Text(prop.value))
        elif name not in STRUCTURE:
            left.append(prop)
    leftNames = [p.name for p in left if not (p.name == "X-ABLABEL" and p.group in numberGroups)]
    return entries, leftNames


def ReadSource(source):
    """The cards of one file, each with the line of its BEGIN."""
    try:
        raw = sys.stdin.buffer.read() if source == "-" else open(source, "rb").read()
    except OSError as error:
        raise CardError(None, "cannot read: " + (error.strerror or str(error)))
    try:
        text = raw.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        line = raw[:error.start].count(b"\n") + 1
        raise CardError(line, "not UTF-8 text (byte offset %d)" % error.start)
    if "BEGIN:VCARD" not in text.upper():
        raise CardError(None, "holds no vCard (no BEGIN:VCARD line)")
    try:
        return [(begin, EntriesOfCard(children)) for begin, children in SplitCards(text)]
    except vobject.base.VObjectError as error:
        raise CardError(getattr(error, "lineNumber", None), getattr(error, "msg", str(error)))
    except (ValueError, LookupError, UnicodeError) as error:
        # A quoted-printable text in a charset that does not decode, and the like.
        raise CardError(None, "cannot be read as a vCard: %s" % error)


def SplitCards(text):
    """(line of BEGIN, properties) per card. vobject reads the lines (folding,
    quoted-printable, charsets, parameters, groups); the cards are put
    together here because vobject's own assembly decodes every value by
    3.0's rules, which cuts 2.1 texts at their first comma. Cards nested in
    a card (a 2.1 AGENT) are passed over."""
    physical = text.split("\n")

    def StartLine(number):
        # vobject's reader numbers a line that follows a blank one, or the
        # file's first, one too low; the logical line starts at the next
        # line that is not blank.
        number = max(number, 1)
        while number <= len(physical) and not physical[number - 1].strip(" \t\r"):
            number += 1
        return number

    cards = []
    begin, children, nested = None, [], []
    for line, number in vobject.base.getLogicalLines(io.StringIO(text), allowQP=True):
        number = StartLine(number)
        prop = vobject.base.textLineToContentLine(line, number)
        kind = prop.value.strip().upper()
        if prop.name == "BEGIN":
            if begin is None:
                if kind != "VCARD":
                    raise CardError(number, "BEGIN:%s where a vCard should begin" % prop.value.strip())
                begin, children = number, []
            else:
                nested.append(kind)
        elif prop.name == "END":
            if begin is None:
                raise CardError(number, "END:%s without a BEGIN before it" % prop.value.strip())
            if nested:
                if kind != nested.pop():
                    raise CardError(number, "END:%s does not close what began inside the card" % prop.value.strip())
            elif kind != "VCARD":
                raise CardError(number, "END:%s where END:VCARD should close the card of line %d"
                                % (prop.value.strip(), begin))
            else:
                cards.append((begin, children))
                begin = None
        elif begin is None:
            raise CardError(number, "%s outside a card (no BEGIN:VCARD before it)" % prop.name)
        elif not nested:
            children.append(prop)
    if begin is not None:
        raise CardError(begin, "the card that begins here is never closed (no END:VCARD)")
    return cards


def Escaped(text):
    return str(text).replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r").replace("\n", "\\n")


def main(argv):
    fieldsOnly = bool(argv) and argv[0] == "--fields"
    sources = argv[1:] if fieldsOnly else argv
    if not sources:
        sys.stderr.write(__doc__)
        return 64
    out = []
    leftCounts = collections.Counter()
    number = 0
    for source in sources:
        shown = "(standard input)" if source == "-" else source
        try:
            cards = ReadSource(source)
        except CardError as error:
            where = shown + (":%d" % error.line if error.line else "")
            sys.stderr.write("recfile: %s: %s\n" % (where, error))
            return 1
        for begin, (entries, leftNames) in cards:
            number += 1
            leftCounts.update(leftNames)
            if not fieldsOnly:
                out.append("\t".join(["card", Escaped(shown), str(begin or 0), str(number)]))
            for code, label, line, prop, value in entries:
                if fieldsOnly:
                    out.append("\t".join([str(number), code, Escaped(value)]))
                else:
                    out.append("\t".join(["entry", code, Escaped(label), str(line or 0), Escaped(prop),
                                          Escaped(value)]))
    if not fieldsOnly:
        for name, count in sorted(leftCounts.items()):
            out.append("\t".join(["left", Escaped(name), str(count)]))
    sys.stdout.buffer.write(("\n".join(out) + "\n" if out else "").encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
