"""A vCard file's bytes to content lines: unfolded, then split into group, name, parameters and value bytes."""
import re

import vobject

# From the file's bytes to properties. The bytes are unfolded before any of
# them is decoded, so a character cut by a fold comes out whole, and each
# value is decoded in its own character set (its CHARSET, else the file's);
# the escapes are resolved in the decoded text only, so the trail byte 5C of
# a Shift_JIS, GBK or Big5 character is never taken for a backslash.

ENCODING_WORDS = {"QUOTED-PRINTABLE", "BASE64", "8BIT", "7BIT"}
BASE64_LINE = re.compile(rb"[ \t]*[A-Za-z0-9+/=]+[ \t]*")


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
