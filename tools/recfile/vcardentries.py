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

The reading is done by the modules beside this file: vcardlines.py (bytes
to content lines), vcardcharsets.py (values' character sets), vcardcards.py
(cards and their refusals) and vcardvalues.py (escapes and types).
"""
import sys

try:
    import vobject  # noqa: F401 (here only to say when it is missing)
except ImportError:  # the tool's own message, not a traceback
    sys.stderr.write("vcardentries: python3-vobject is not installed (scripts/setup.sh installs it)\n")
    sys.exit(2)

# The modules beside this file are read as they are, leaving no bytecode
# cache in the folder recfile is installed in.
sys.dont_write_bytecode = True

from vcardcards import CardError, ReadSource, Reading  # noqa: E402 (after the checks above)
from vcardcharsets import AsciiCompatible, CodecOf  # noqa: E402
from vcardvalues import PropertyText, TypesOf, Values  # noqa: E402

# The exit status of a run that stopped at a refusal (its last line).
REFUSED = 3
# Properties whose value has components separated by ";".
STRUCTURED = {"N", "ADR", "ORG"}


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
