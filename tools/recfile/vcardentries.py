#!/usr/bin/python3
"""Reads vCard files and prints what the cards say, property by property,
for `recfile build --vcard`, which maps them onto the record file's fields.

The file's bytes are unfolded (folded lines, quoted-printable soft breaks,
2.1 base64 lines) before they are decoded, each value in its own character
set: its CHARSET, else UTF-8 or what --charset names. python3-vobject's
pattern splits a line into group, name, parameters and value; the escapes
are resolved by the card's version. Nothing here knows the record file:
which properties become which fields is recfile's (VcardMapping.cpp).

    vcardentries.py [--values NAMES] [--lenient NAMES] [--charset NAME] [--replace] FILE...
                                          (- reads standard input)

--values NAMES (comma-separated property names): the properties whose
values are read; a line that names one but cannot be read as a property
stops the run, as its value would be lost. --lenient NAMES: further
properties whose values are read with bytes that do not decode as U+FFFD.
The values of all other properties are not read (their bytes stop nothing).
--charset NAME: the character set of values that name none (2.1 and 3.0
cards of files without a byte-order mark); by default UTF-8, and 8-bit text
that is not UTF-8 stops the run. --replace reads bytes that do not decode in
a value's named character set as U+FFFD, which recfile writes as "?".

Output, UTF-8, one item per line, fields separated by tabs, and backslash,
tab, CR and LF inside a field written as \\\\, \\t, \\r, \\n:

    card     SOURCE  LINE  NUMBER            a card begins (LINE: its BEGIN; NUMBER: over all inputs)
    prop     LINE  GROUP  NAME  TYPES  PROPERTY  [VALUE...]
    note     SOURCE  LINE  NUMBER  MESSAGE   a line of card NUMBER left out
    refusal  SOURCE  LINE  NUMBER  PROPERTY  MESSAGE

A prop line follows its card: TYPES are its TYPE values (both spellings,
upper case, comma-separated), PROPERTY the line as it names itself
(item1.TEL;TYPE=CELL), the VALUE fields the value's text, one per component
of N, ADR and ORG, none when the value is not read. A refusal is the last
line (exit status 3): a file that is not a well-formed vCard, or a value
that does not decode, with the place (LINE and NUMBER 0 where there is
none); the refused card's FN and N come before it, read leniently, so that
recfile can name it.
"""
import binascii
import codecs
import re
import sys

try:
    import vobject
except ImportError:  # the tool's own message, not a traceback
    sys.stderr.write("vcardentries: python3-vobject is not installed (scripts/setup.sh installs it)\n")
    sys.exit(2)


# The card's own structure: a line naming one of them that cannot be read stops the run.
STRUCTURE = {"VERSION", "BEGIN", "END"}


class CardError(Exception):
    """A refusal (or a warning about a line left out) and where: the line,
    the card (its index in the file) with the properties that name it, and
    the property."""

    def __init__(self, line, message, card=None, namingProps=(), prop=""):
        super().__init__(message)
        self.line = line
        self.card = card
        self.namingProps = list(namingProps)
        self.prop = prop


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


# From the file's bytes to properties. The bytes are unfolded before any of
# them is decoded, so a character cut by a fold comes out whole, and each
# value is decoded in its own character set (its CHARSET, else the file's);
# the escapes are resolved in the decoded text only, so the trail byte 5C of
# a Shift_JIS, GBK or Big5 character is never taken for a backslash.

# Exporters write the older name for what Windows extended (GBK under GB2312,
# Microsoft's forms of Shift_JIS, Big5 and EUC-KR, Windows-1252's euro under
# ISO-8859-1); the extension reads the older set's text as Windows does.
CHARSET_SUPERSETS = {"gb2312": "gbk", "shift_jis": "cp932", "big5": "cp950", "euc_kr": "cp949",
                     "iso8859-1": "cp1252"}
# Offered for undeclared 8-bit text when its bytes read cleanly in them.
LIKELY_CHARSETS = (("gbk", "GBK"), ("cp1252", "Windows-1252"))
ENCODING_WORDS = {"QUOTED-PRINTABLE", "BASE64", "8BIT", "7BIT"}
BASE64_LINE = re.compile(rb"[ \t]*[A-Za-z0-9+/=]+[ \t]*")


# The exit status of a run that stopped at a refusal (its last line).
REFUSED = 3
# Properties whose value has components separated by ";".
STRUCTURED = {"N", "ADR", "ORG"}


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
        self.version = "3.0"  # the card's, set when the card is read

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


def NamingProps(children, decoding):
    """The card's FN and N with their values read leniently, for recfile to
    name the card in a message."""
    version = VersionOf(children)
    props = [p for p in children if p.name in ("FN", "N")]
    for prop in props:
        prop.value = decoding.Text(prop, version, lenient=True)
        prop.version = version
    return props


def VersionOf(children):
    return next((c.raw.decode("latin-1").strip() for c in children if c.name == "VERSION"), "3.0")


def DecodeCard(index, children, skipped, decoding, reading):
    """Sets the text of every property whose value is read and returns the
    warnings about the card's lines left out; a value that does not decode
    raises CardError naming its line and card."""
    version = VersionOf(children)
    for prop in children:
        prop.version = version
        if prop.name in reading.values or prop.name in reading.lenient:
            try:
                prop.value = decoding.Text(prop, version, lenient=prop.name in reading.lenient)
            except UnreadableValue as error:
                raise CardError(prop.lineNumber, str(error), index, NamingProps(children, decoding),
                                PropertyText(prop))
    return [CardError(line, "cannot read \"%s\" as a property (NAME, parameters, \":\", value); the line is "
                      "left out" % written, index) for line, written in skipped]


class Reading:
    """Which properties' values are read: `values` strictly, `lenient` with
    bytes that do not decode as U+FFFD."""

    def __init__(self, values=(), lenient=()):
        self.values = set(values)
        self.lenient = set(lenient)


def ReadSource(source, reading, charset=None, replace=False):
    """(line of BEGIN, properties, warnings about lines left out) per card of one file."""
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
    for index, (begin, children, skipped) in enumerate(SplitCards(raw, decoding, reading)):
        cards.append((begin, children, DecodeCard(index, children, skipped, decoding, reading)))
    return cards


def SplitCards(raw, decoding, reading):
    """(line of BEGIN, properties, lines left out) per card. Cards nested in
    a card (a 2.1 AGENT) are passed over."""
    cards = []
    begin, children, skipped, nested = None, [], [], []

    def Refuse(number, message):
        if begin is None:
            raise CardError(number, message)
        raise CardError(number, message, len(cards), NamingProps(children, decoding))

    for number, data in LogicalLines(raw):
        prop = ParseProperty(data, number)
        if prop is None:
            written = WrittenName(data)
            if begin is None:
                Refuse(number, "\"%s\" outside a card (no BEGIN:VCARD before it); remove the line, or the file is "
                       "joined from pieces that lost a card's start" % data.decode("utf-8", "replace")[:60])
            if not nested and written.split(".")[-1].upper() in reading.values | STRUCTURE:
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


def PropLine(prop):
    fields = ["prop", str(prop.lineNumber or 0), prop.group or "", prop.name, ",".join(sorted(TypesOf(prop))),
              PropertyText(prop)]
    if prop.value is not None:
        values = Values(prop.version)
        fields += values.Parts(prop.value) if prop.name in STRUCTURED else [values.Text(prop.value)]
    return "\t".join(Escaped(f) for f in fields)


def CardLines(shown, begin, number, props):
    return ["\t".join(["card", Escaped(shown), str(begin or 0), str(number)])] + [PropLine(p) for p in props]


def main(argv):
    charset, replace, reading = None, False, Reading()
    args = list(argv)
    while args and args[0] in ("--values", "--lenient", "--charset", "--replace"):
        option = args.pop(0)
        if option == "--replace":
            replace = True
            continue
        if not args:
            sys.stderr.write(__doc__)
            return 64
        value = args.pop(0)
        if option == "--charset":
            charset = value
        else:
            (reading.values if option == "--values" else reading.lenient).update(n for n in value.split(",") if n)
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
    number = 0
    status = 0
    for source in sources:
        shown = "(standard input)" if source == "-" else source
        try:
            cards = ReadSource(source, reading, charset, replace)
        except CardError as error:
            card = 0
            if error.card is not None:
                card = number + 1 + error.card
                out += CardLines(shown, 0, card, error.namingProps)
            out.append("\t".join(["refusal", Escaped(shown), str(error.line or 0), str(card), Escaped(error.prop),
                                   Escaped(error)]))
            status = REFUSED
            break
        for begin, children, warnings in cards:
            number += 1
            out += CardLines(shown, begin, number, children)
            for warning in warnings:
                out.append("\t".join(["note", Escaped(shown), str(warning.line or 0), str(number), Escaped(warning)]))
    sys.stdout.buffer.write(("\n".join(out) + "\n" if out else "").encode("utf-8"))
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
