"""Character sets: a value's bytes to text by its CHARSET, the byte-order mark, the card's version or --charset."""
import binascii
import codecs

from vcarderrors import CardError, UnreadableValue

# Exporters write the older name for what Windows extended (GBK under GB2312,
# Microsoft's forms of Shift_JIS, Big5 and EUC-KR, Windows-1252's euro under
# ISO-8859-1); the extension reads the older set's text as Windows does.
CHARSET_SUPERSETS = {"gb2312": "gbk", "shift_jis": "cp932", "big5": "cp950", "euc_kr": "cp949",
                     "iso8859-1": "cp1252"}
# Offered for undeclared 8-bit text when its bytes read cleanly in them.
LIKELY_CHARSETS = (("gbk", "GBK"), ("cp1252", "Windows-1252"))


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
