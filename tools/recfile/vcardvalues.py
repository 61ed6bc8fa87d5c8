"""A property's value: its types, its name for messages, its text with escapes resolved by the card's version."""


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
