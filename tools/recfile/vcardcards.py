"""Cards of a file: where each begins and ends, which values are read, and the refusals with their place."""
import sys

from vcardcharsets import Decoding, UnicodeFileBytes
from vcarderrors import CardError, UnreadableValue
from vcardlines import LogicalLines, ParseProperty, WrittenName
from vcardvalues import PropertyText

# The card's own structure: a line naming one of them that cannot be read stops the run.
STRUCTURE = {"VERSION", "BEGIN", "END"}


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
