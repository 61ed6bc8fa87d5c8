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


def IsAscii(text):
    return all(ord(c) < 0x80 for c in text)


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


def JoinedName(name):
    """N's parts as one text: CJK names family first without spaces, others given first."""
    family, given, additional = (Components(name.family), Components(name.given), Components(name.additional))
    if not IsAscii(family + given + additional):
        return family + given + additional
    parts = [Components(name.given), Components(name.additional), Components(name.family),
             Components(name.suffix)]
    return " ".join(p for p in parts if p)


def Components(value):
    if isinstance(value, (list, tuple)):
        return " ".join(v for v in value if v)
    return value or ""


def JoinedAddress(address):
    """ADR's seven parts as one text, in the order the address is read."""
    if not IsAscii("".join(Components(getattr(address, p)) for p in
                           ("street", "extended", "box", "city", "region", "country"))):
        parts = [address.country, address.region, address.city, address.street, address.extended, address.box]
        text = "".join(Components(p) for p in parts)
        code = Components(address.code)
        return text + (" " + code if code and text else code)
    parts = [address.street, address.extended, address.box, address.city, address.region, address.code,
             address.country]
    return ", ".join(Components(p) for p in parts if Components(p))


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


def PhoneNumber(prop):
    number = prop.value.strip()
    return number[4:] if number.lower().startswith("tel:") else number


def EntriesOfCard(card):
    """(code, label, line, property text, value) per property with a code, in file
    order, and the names of the properties left out."""
    children = list(card.getChildren())
    groupLabels = {c.group: c.value for c in children if c.group and c.name == "X-ABLABEL"}
    usedGroups = set()
    hasName = any(c.name == "FN" and c.value.strip() for c in children)
    hasTitle = any(c.name == "TITLE" and c.value.strip() for c in children)
    entries = []
    left = []

    def Add(code, label, prop, value):
        value = LineBreaksAsCrLf(value.strip())
        if value:
            entries.append((code, label, prop.lineNumber, PropertyText(prop), value))
            if prop.group:
                usedGroups.add(prop.group)

    for prop in children:
        name = prop.name
        if name == "FN":
            Add("00", CODE_LABELS["00"], prop, prop.value)
        elif name == "N":
            # The name comes from FN when there is one; N then only lends its
            # honorific prefix as the form of address.
            if not hasName:
                Add("00", CODE_LABELS["00"], prop, JoinedName(prop.value))
            if not hasTitle and Components(prop.value.prefix):
                Add("01", CODE_LABELS["01"], prop, Components(prop.value.prefix))
        elif name == "TITLE":
            Add("01", CODE_LABELS["01"], prop, prop.value)
        elif name == "TEL":
            code, label = PhoneCode(prop, groupLabels)
            Add(code, label, prop, PhoneNumber(prop))
        elif name == "EMAIL":
            Add("61", CODE_LABELS["61"], prop, prop.value)
        elif name == "ORG":
            parts = prop.value if isinstance(prop.value, list) else [prop.value]
            Add("15", CODE_LABELS["15"], prop, parts[0] if parts else "")
            Add("16", CODE_LABELS["16"], prop, " ".join(p for p in parts[1:] if p))
        elif name == "ADR":
            Add("60", CODE_LABELS["60"], prop, JoinedAddress(prop.value))
        elif name == "NOTE":
            Add("80", CODE_LABELS["80"], prop, prop.value)
        elif name not in STRUCTURE:
            left.append(prop)
    leftNames = [p.name for p in left if not (p.name == "X-ABLABEL" and p.group in usedGroups)]
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
    cards = []
    try:
        for card in vobject.readComponents(text, allowQP=True):
            if card.name != "VCARD":
                raise CardError(None, "holds a %s, not a vCard" % (card.name or "text without BEGIN"))
            lines = [c.lineNumber for c in card.getChildren() if c.lineNumber]
            begin = min(lines) - 1 if lines else None
            cards.append((begin, EntriesOfCard(card)))
    except vobject.base.VObjectError as error:
        raise CardError(getattr(error, "lineNumber", None), getattr(error, "msg", str(error)))
    except (ValueError, LookupError, UnicodeError) as error:
        # A quoted-printable text in a charset that does not decode, and the like.
        raise CardError(None, "cannot be read as a vCard: %s" % error)
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
