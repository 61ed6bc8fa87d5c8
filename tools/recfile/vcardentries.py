#!/usr/bin/python3
"""Reads vCard files and prints, card by card, the record-file entries that
`recfile build --vcard` writes.

The file's bytes are unfolded (folded lines, quoted-printable soft breaks,
2.1 base64 lines) before they are decoded, each value in its own character
set: its CHARSET, else UTF-8 or what --charset names. python3-vobject's
pattern splits a line into group, name, parameters and value. What is ours
is the mapping of properties onto the record file's field codes, which
lives in PHONE_TYPES and EntriesOfCard below and nowhere else; the field
codes and their labels come from the record's one field table, which the
build writes beside this script (`recfile fields`).

    vcardentries.py [--fields] [--charset NAME] [--replace] FILE...
                                          (- reads standard input)

--charset NAME: the character set of values that name none (2.1 and 3.0
cards of files without a byte-order mark); by default UTF-8, and 8-bit text
that is not UTF-8 stops the run. --replace reads bytes that do not decode in
a value's named character set as U+FFFD, which recfile writes as "?".

Output for recfile, UTF-8, one item per line, fields separated by tabs, and
backslash, tab, CR and LF inside a field written as \\\\, \\t, \\r, \\n:

    card   SOURCE  LINE  NUMBER             a card begins (LINE: its BEGIN)
    entry  CODE  LABEL  LINE  PROPERTY  VALUE
    left   PROPERTY-NAME  COUNT             properties that have no code

--fields prints "NUMBER<TAB>CODE<TAB>VALUE" per entry instead, for people
and tests comparing what two address books hold.

A file that is not a well-formed vCard, or a value that does not decode,
stops the run: one line "SOURCE:LINE: card N (NAME), PROPERTY: what is
wrong; what to do" on standard error, exit status 1, no output. A line that
is no property and holds no value the record keeps is left out with such a
line on standard error.
"""
import binascii
import codecs
import collections
import json
import os
import re
import sys

try:
    import vobject
except ImportError:  # the tool's own message, not a traceback
    sys.stderr.write("vcardentries: python3-vobject is not installed (scripts/setup.sh installs it)\n")
    sys.exit(2)


def LoadFieldCodes():
    """The record's field codes as `recfile fields` prints them; the build
    writes that table beside this script (RECFILE_FIELD_TABLE may name
    another copy)."""
    path = os.environ.get("RECFILE_FIELD_TABLE") or os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                                 "record-fields.jsonl")
    try:
        with open(path, encoding="utf-8") as table:
            return [json.loads(line) for line in table if line.strip()]
    except (OSError, ValueError) as error:
        sys.stderr.write(f"vcardentries: cannot read the field table {path} ({error}); run the copy that the "
                         "build puts beside recfile\n")
        sys.exit(2)


FIELD_CODES = LoadFieldCodes()
# Record field name -> the code that fills it; code -> the label written with it.
CODE_OF = {row["name"]: row["code"] for row in FIELD_CODES if row["name"]}
CODE_LABELS = {row["code"]: row["label"] for row in FIELD_CODES if row["label"]}
TITLE_CODE = next(row["code"] for row in FIELD_CODES if row["title"])
NOTES_CODE = next(row["code"] for row in FIELD_CODES if row["rule"] == "notes-only")
# A number whose types name no kind the record file knows.
OTHER_PHONE_LABEL = "电话"

# Telephone types in order of precedence: a work fax is a fax, a home mobile a mobile.
PHONE_TYPES = (("FAX", "fax"), ("CELL", "mobile"), ("MOBILE", "mobile"), ("IPHONE", "mobile"), ("HOME", "home phone"),
               ("WORK", "work phone"))
# Words of a grouped label (item1.X-ABLabel) that say what kind of number it is.
PHONE_LABEL_WORDS = (("fax", "fax"), ("传真", "fax"), ("mobile", "mobile"), ("cell", "mobile"), ("手机", "mobile"),
                     ("home", "home phone"), ("住宅", "home phone"), ("家", "home phone"), ("work", "work phone"),
                     ("办公", "work phone"))

# Properties that say nothing about the contact and are not counted as left out.
STRUCTURE = {"VERSION", "BEGIN", "END"}


class CardError(Exception):
    """A refusal (or a warning about a line left out) and where: the line,
    the card (its index in the file), the card's name and the property."""

    def __init__(self, line, message, card=None, name="", prop=""):
        super().__init__(message)
        self.line = line
        self.card = card
        self.name = name
        self.prop = prop

    def Where(self, shown, firstNumber):
        """FILE:LINE: card N (NAME), PROPERTY, as recfile's own messages put it."""
        where = shown + (":%d" % self.line if self.line else "")
        if self.card is not None:
            where += ": card %d" % (firstNumber + self.card) + (" (%s)" % self.name if self.name else "")
        return where + (", " + self.prop if self.prop else "")


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
    for kind, field in PHONE_TYPES:
        if kind in types:
            return CODE_OF[field], CODE_LABELS[CODE_OF[field]]
    label = groupLabels.get(prop.group, "").lower() if prop.group else ""
    for word, field in PHONE_LABEL_WORDS:
        if word in label:
            return CODE_OF[field], CODE_LABELS[CODE_OF[field]]
    return CODE_OF["mobile"], OTHER_PHONE_LABEL


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

    def Keep(field, prop, value):
        Add(CODE_OF[field], CODE_LABELS[CODE_OF[field]], prop, value)

    for prop in children:
        name = prop.name
        if name == "FN":
            Keep("name", prop, values.Text(prop.value))
        elif name == "N":
            # The name comes from FN when there is one; N then only lends its
            # honorific prefix as the form of address.
            parts = values.Parts(prop.value, 5)
            if not hasName:
                Keep("name", prop, JoinedName(parts))
            if not hasTitle:
                Add(TITLE_CODE, CODE_LABELS[TITLE_CODE], prop, parts[3])
        elif name == "TITLE":
            Add(TITLE_CODE, CODE_LABELS[TITLE_CODE], prop, values.Text(prop.value))
        elif name == "TEL":
            code, label = PhoneCode(prop, groupLabels)
            Add(code, label, prop, PhoneNumber(values.Text(prop.value)))
        elif name == "EMAIL":
            Keep("e-mail", prop, values.Text(prop.value))
        elif name == "ORG":
            parts = values.Parts(prop.value, 1)
            Keep("company", prop, parts[0])
            Keep("department", prop, " ".join(p for p in parts[1:] if p))
        elif name == "ADR":
            Keep("address", prop, JoinedAddress(values.Parts(prop.value, 7)))
        elif name == "NOTE":
            Add(NOTES_CODE, CODE_LABELS[NOTES_CODE], prop, values.Text(prop.value))
        elif name not in STRUCTURE:
            left.append(prop)
    leftNames = [p.name for p in left if not (p.name == "X-ABLABEL" and p.group in numberGroups)]
    return entries, leftNames


# From the file's bytes to properties. The bytes are unfolded before any of
# them is decoded, so a character cut by a fold comes out whole, and each
# value is decoded in its own character set (its CHARSET, else the file's);
# the escapes are resolved in the decoded text only, so the trail byte 5C of
# a Shift_JIS, GBK or Big5 character is never taken for a backslash.

# Properties whose values go into the record file. A line that names one of
# them but cannot be read stops the build, as its value would be lost; any
# other such line is left out with a warning.
VALUE_PROPERTIES = {"FN", "N", "TITLE", "TEL", "EMAIL", "ORG", "ADR", "NOTE"}
# The values the mapping reads; the rest are left out unread, so bytes in
# them that do not decode stop nothing.
READ_PROPERTIES = VALUE_PROPERTIES | {"VERSION", "X-ABLABEL"}

# Exporters write the older name for what Windows extended (GBK under GB2312,
# Microsoft's forms of Shift_JIS, Big5 and EUC-KR, Windows-1252's euro under
# ISO-8859-1); the extension reads the older set's text as Windows does.
CHARSET_SUPERSETS = {"gb2312": "gbk", "shift_jis": "cp932", "big5": "cp950", "euc_kr": "cp949",
                     "iso8859-1": "cp1252"}
# Offered for undeclared 8-bit text when its bytes read cleanly in them.
LIKELY_CHARSETS = (("gbk", "GBK"), ("cp1252", "Windows-1252"))
ENCODING_WORDS = {"QUOTED-PRINTABLE", "BASE64", "8BIT", "7BIT"}
BASE64_LINE = re.compile(rb"[ \t]*[A-Za-z0-9+/=]+[ \t]*")


class UnreadableValue(Exception):
    pass


class Property:
    """One content line, as vobject's ContentLine names its parts; `value`
    is set to the text of `raw` (the value's bytes) once it is decoded."""

    def __init__(self, group, name, params, singletonparams, raw, lineNumber):
        self.group = group
        self.name = name
        self.params = params
        self.singletonparams = singletonparams
        self.raw = raw
        self.lineNumber = lineNumber
        self.value = None

    def Encoding(self):
        return next((e.upper() for e in self.params.get("ENCODING", []) if e.upper() in ENCODING_WORDS), "")


def CodecOf(charset):
    """Python's codec for a charset name, or None when it names no text encoding."""
    try:
        info = codecs.lookup(charset.strip().strip('"'))
    except LookupError:
        return None
    if not getattr(info, "_is_text_encoding", True):
        return None
    return CHARSET_SUPERSETS.get(info.name, info.name)


def AsciiCompatible(codec):
    """The file's structure (names, parameters, line ends) reads as ASCII in it."""
    sample = "BEGIN:VCARD\r\nTEL;TYPE=CELL:+1\r\n"
    return sample.encode(codec) == sample.encode("ascii")


def UnicodeFileBytes(raw):
    """The file's bytes, as UTF-8 when a byte-order mark says the file is
    Unicode text, and whether one did."""
    if raw.startswith(codecs.BOM_UTF8):
        return raw[len(codecs.BOM_UTF8):], True
    if raw[:2] in (codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE):
        try:
            return raw.decode("utf-16").encode("utf-8"), True
        except UnicodeDecodeError as error:
            raise CardError(None, "not UTF-16 text as its byte-order mark says (byte offset %d); save it "
                            "again as UTF-8" % error.start)
    return raw, False


def PhysicalLines(raw):
    """The file's lines without their ends: LF or CR LF, or CR alone in a file without LF."""
    return [line.rstrip(b"\r") for line in (raw.split(b"\n") if b"\n" in raw else raw.split(b"\r"))]


def HeadEncoding(line):
    """QUOTED-PRINTABLE, BASE64 or "" as the start of a content line names it."""
    colon = line.find(b":")
    head = bytes(line if colon < 0 else line[:colon]).upper()
    words = {w.strip(b' "') for w in re.split(rb"[;=,]", head)}
    if b"QUOTED-PRINTABLE" in words:
        return "QUOTED-PRINTABLE"
    return "BASE64" if b"BASE64" in words or b";ENCODING=B" in head else ""


def LogicalLines(raw):
    """(number of its first line, bytes) per content line, unfolded: a line
    that begins with a space or tab goes on from the one before (that space
    or tab taken off); a quoted-printable value whose line ends in "=" goes
    on at the start of the next line; a base64 value goes on over lines of
    base64 without indent, as 2.1 writes them, to its blank line. A blank
    line ends every value."""
    lines = []
    going = False
    for number, line in enumerate(PhysicalLines(raw), 1):
        if not line.strip(b" \t"):
            going = False
            continue
        if going:
            current = lines[-1][1]
            encoding = HeadEncoding(current)
            if encoding == "QUOTED-PRINTABLE" and current.rstrip(b" \t").endswith(b"="):
                del current[len(current.rstrip(b" \t")) - 1:]
                current += line
                continue
            if line[:1] in (b" ", b"\t"):
                current += line[1:]
                continue
            if encoding == "BASE64" and BASE64_LINE.fullmatch(line):
                current += line.strip(b" \t")
                continue
        lines.append((number, bytearray(line)))
        going = True
    return [(number, bytes(line)) for number, line in lines]


def SplitOutsideQuotes(text, separator):
    parts, current, quoted = [], [], False
    for char in text:
        if char == '"':
            quoted = not quoted
        if char == separator and not quoted:
            parts.append("".join(current))
            current = []
        else:
            current.append(char)
    parts.append("".join(current))
    return parts


def ParamsOf(text):
    """The parameters as {NAME: [values]} and the bare ones of 2.1 as a list.
    Values separated by commas are several values, also bare ones
    (TEL;VOICE;MSG,WORK is three types); a bare encoding counts as ENCODING."""
    params, singles = {}, []
    for item in SplitOutsideQuotes(text.encode("latin-1").decode("utf-8", "replace"), ";"):
        name, equals, written = item.partition("=")
        values = [v.strip().strip('"') for v in SplitOutsideQuotes(written if equals else name, ",")]
        values = [v for v in values if v]
        if equals:
            params.setdefault(name.strip().upper(), []).extend(values)
        else:
            for value in values:
                if value.upper() in ENCODING_WORDS:
                    params.setdefault("ENCODING", []).append(value)
                else:
                    singles.append(value)
    return params, singles


def ParseProperty(data, number):
    """The content line's parts, read by vobject's own pattern; None when the
    line is not NAME, parameters, ":" and a value."""
    match = vobject.base.line_re.match(data.decode("latin-1"))
    if match is None:
        return None
    params, singles = ParamsOf(match.group("params"))
    # Lotus Notes writes X_NAME for X-NAME.
    return Property(match.group("group"), match.group("name").replace("_", "-").upper(), params, singles,
                    match.group("value").encode("latin-1"), number)


def WrittenName(data):
    """What a line that is no property names itself, for messages: up to its first ";", ":" or space."""
    return re.match(rb"[^;:\s]*", data).group().decode("utf-8", "replace")[:40]


class Decoding:
    """How a value's bytes become text. Quoted-printable is undone first;
    then a CHARSET parameter decides, but in a file that began with a
    byte-order mark a value written out as it is stays Unicode. Without
    CHARSET a 4.0 card and such a file are UTF-8, and the rest is in the
    character set --charset names, else UTF-8. `replace` puts U+FFFD (which
    recfile's --replace writes as "?") for bytes that do not read in a
    character set so named; undeclared 8-bit text that is not UTF-8 is never
    guessed at."""

    def __init__(self, charset=None, replace=False, unicodeFile=False):
        self.charset = charset
        self.replace = replace
        self.unicodeFile = unicodeFile

    def Text(self, prop, version, lenient=False):
        data = prop.raw
        encoded = prop.Encoding() == "QUOTED-PRINTABLE"
        if encoded:
            data = binascii.a2b_qp(data)
        declared = prop.params.get("CHARSET", [""])[0]
        undeclared = False
        if declared and (encoded or not self.unicodeFile):
            codec = CodecOf(declared)
            if codec is None and lenient:
                codec = "utf-8"
            elif codec is None:
                raise UnreadableValue("CHARSET=%s names no character set recfile knows; save the file as UTF-8"
                                      % declared)
            said = "%s text, as its CHARSET says" % declared
        elif self.unicodeFile or version.startswith("4"):
            codec, said = "utf-8", "UTF-8 text, as the %s says" % ("file's byte-order mark" if self.unicodeFile
                                                                    else "card's version 4.0")
        elif self.charset:
            codec, said = CodecOf(self.charset), "%s text, as --charset says" % self.charset
        else:
            codec, undeclared = "utf-8", True
        if codec == "utf-16" and data[:2] not in (codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE):
            codec = "utf-16-be"  # the byte order a text without its mark has
        try:
            text = data.decode(codec, "replace" if lenient or (self.replace and not undeclared) else "strict")
        except UnicodeDecodeError as error:
            before = "".join(c if c.isprintable() else " " for c in data[:error.start].decode(codec, "replace")[-20:])
            place = "the byte 0x%02X%s" % (data[error.start], ' after "%s"' % before if before.strip() else "")
            if undeclared:
                raise UnreadableValue(UndeclaredComplaint(data, place))
            raise UnreadableValue("%s is not %s; correct the value, or --replace writes \"?\" for the bytes "
                                  "that do not read" % (place, said))
        # A byte-order mark some exporters put before a UTF-8 or UTF-16 value is no character of it.
        return text[1:] if text.startswith("\ufeff") else text


def UndeclaredComplaint(data, place):
    """The refusal of 8-bit text without CHARSET that is not UTF-8, with the
    character sets it reads cleanly in."""
    likely = []
    for codec, name in LIKELY_CHARSETS:
        try:
            data.decode(codec)
            likely.append("%s: --charset %s" % (name, codec))
        except UnicodeDecodeError:
            pass
    readsAs = ("it reads cleanly as " + ", or as ".join(likely) if likely else
               "it reads cleanly in none of " + ", ".join(name for _codec, name in LIKELY_CHARSETS))
    return ("%s is not UTF-8 and the value names no CHARSET; say what the file's 8-bit text is with "
            "--charset NAME (%s); for UTF-8 with damaged bytes, --charset utf-8 --replace writes \"?\" for "
            "them" % (place, readsAs))


def CardName(children, version, decoding):
    """The card's name for messages (FN, else N), read leniently; empty when it does not read."""
    values = Values(version)
    for wanted in ("FN", "N"):
        for prop in children:
            if prop.name != wanted:
                continue
            text = decoding.Text(prop, version, lenient=True)
            name = values.Text(text) if wanted == "FN" else JoinedName(values.Parts(text, 5))
            if name.strip() and "\ufffd" not in name:
                return name.strip()
    return ""


def VersionOf(children):
    return next((c.raw.decode("latin-1").strip() for c in children if c.name == "VERSION"), "3.0")


def DecodeCard(index, children, skipped, decoding):
    """Sets the text of every property the mapping reads and returns the
    warnings about the card's lines left out; a value that does not decode
    raises CardError naming its line and card."""
    version = VersionOf(children)
    name = CardName(children, version, decoding)
    for prop in children:
        if prop.name in READ_PROPERTIES:
            try:
                # A label only chooses a number's kind; it need not read perfectly.
                prop.value = decoding.Text(prop, version, lenient=prop.name == "X-ABLABEL")
            except UnreadableValue as error:
                raise CardError(prop.lineNumber, str(error), index, name, PropertyText(prop))
    return [CardError(line, "cannot read \"%s\" as a property (NAME, parameters, \":\", value); the line is "
                      "left out" % written, index, name) for line, written in skipped]


def ReadSource(source, charset=None, replace=False, warnings=None):
    """The cards of one file, each with the line of its BEGIN; the lines left
    out are added to `warnings` (CardError each)."""
    try:
        if source == "-":
            raw = sys.stdin.buffer.read()
        else:
            with open(source, "rb") as data:
                raw = data.read()
    except OSError as error:
        raise CardError(None, "cannot read: " + (error.strerror or str(error)))
    raw, unicodeFile = UnicodeFileBytes(raw)
    if b"BEGIN:VCARD" not in raw.upper():
        raise CardError(None, "holds no vCard (no BEGIN:VCARD line); give a vCard file (.vcf)")
    decoding = Decoding(charset, replace, unicodeFile)
    cards = []
    for index, (begin, children, skipped) in enumerate(SplitCards(raw, decoding)):
        cardWarnings = DecodeCard(index, children, skipped, decoding)
        if warnings is not None:
            warnings.extend(cardWarnings)
        cards.append((begin, EntriesOfCard(children)))
    return cards


def SplitCards(raw, decoding):
    """(line of BEGIN, properties, lines left out) per card. Cards nested in
    a card (a 2.1 AGENT) are passed over."""
    cards = []
    begin, children, skipped, nested = None, [], [], []

    def Refuse(number, message):
        if begin is None:
            raise CardError(number, message)
        raise CardError(number, message, len(cards), CardName(children, VersionOf(children), decoding))

    for number, data in LogicalLines(raw):
        prop = ParseProperty(data, number)
        if prop is None:
            written = WrittenName(data)
            if begin is None:
                Refuse(number, "\"%s\" outside a card (no BEGIN:VCARD before it); remove the line, or the file is "
                       "joined from pieces that lost a card's start" % data.decode("utf-8", "replace")[:60])
            if not nested and written.split(".")[-1].upper() in VALUE_PROPERTIES | STRUCTURE:
                Refuse(number, "\"%s\" cannot be read as a property (NAME, parameters, \":\", value); correct the "
                       "line, or its value is lost" % data.decode("utf-8", "replace")[:60])
            skipped.append((number, written))
            continue
        kind = prop.raw.decode("latin-1").strip().upper()
        if prop.name == "BEGIN":
            if begin is None:
                if kind != "VCARD":
                    Refuse(number, "BEGIN:%s where a vCard should begin; give a vCard file (.vcf)" % kind)
                begin, children, skipped = number, [], []
            else:
                nested.append(kind)
        elif prop.name == "END":
            if begin is None:
                Refuse(number, "END:%s without a BEGIN before it; remove the line, or the file is joined from "
                       "pieces that lost a card's start" % kind)
            if nested:
                if kind != nested.pop():
                    Refuse(number, "END:%s does not close what began inside the card; correct the line" % kind)
            elif kind != "VCARD":
                Refuse(number, "END:%s where END:VCARD should close the card of line %d; correct the line"
                       % (kind, begin))
            else:
                cards.append((begin, children, skipped))
                begin = None
        elif begin is None:
            Refuse(number, "%s outside a card (no BEGIN:VCARD before it); remove the line, or the file is joined "
                   "from pieces that lost a card's start" % prop.name)
        elif not nested:
            children.append(prop)
    if begin is not None:
        Refuse(begin, "the card that begins here is never closed (no END:VCARD); the file may be cut short: "
               "export it again")
    return cards


def Escaped(text):
    return str(text).replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r").replace("\n", "\\n")


def main(argv):
    fieldsOnly, charset, replace = False, None, False
    args = list(argv)
    while args and args[0] in ("--fields", "--charset", "--replace"):
        option = args.pop(0)
        if option == "--charset":
            if not args:
                sys.stderr.write(__doc__)
                return 64
            charset = args.pop(0)
        fieldsOnly = fieldsOnly or option == "--fields"
        replace = replace or option == "--replace"
    sources = args
    if not sources:
        sys.stderr.write(__doc__)
        return 64
    if charset is not None:
        codec = CodecOf(charset)
        if codec is None or not AsciiCompatible(codec):
            reason = ("names no character set recfile knows" if codec is None
                      else "is not read byte by byte over ASCII as vCard lines are; save the file as UTF-8")
            sys.stderr.write("recfile: --charset %s: %s\n" % (charset, reason))
            return 64
    out = []
    leftCounts = collections.Counter()
    number = 0
    for source in sources:
        shown = "(standard input)" if source == "-" else source
        warnings = []
        try:
            cards = ReadSource(source, charset, replace, warnings)
        except CardError as error:
            sys.stderr.write("recfile: %s: %s\n" % (error.Where(shown, number + 1), error))
            return 1
        for warning in warnings:
            sys.stderr.write("recfile: %s: %s\n" % (warning.Where(shown, number + 1), warning))
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
