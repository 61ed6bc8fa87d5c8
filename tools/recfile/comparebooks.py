#!/usr/bin/python3
"""Compares what two vCard files hold in the record file's terms: the
address book that went in (`recfile build --vcard`) and the one the device's
store came back as (`pdasim --export-vcard`).

    comparebooks.py [--listings DIR] SENT.vcf RECEIVED.vcf

Both are read with vcardentries.py's mapping, so each card becomes a list of
"CODE VALUE" lines. The device keeps further numbers, mails, the title and
the notes as labelled lines of one notes text ("手机:139...", "称谓:经理"); on
the received side those lines are read back into their codes by the labels
the build gave them. Cards are paired in order. Prints a unified diff of the
two listings (nothing when they agree) and a summary line; exits 0 when they
agree, 1 when they differ, 2 when a file cannot be read. --listings writes
the two listings to DIR/sent.txt and DIR/received.txt as well, for diff(1).
"""
import difflib
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vcardentries  # noqa: E402  (beside this file)

LABEL_CODES = {label: code for code, label in vcardentries.CODE_LABELS.items()}
LABEL_CODES[vcardentries.OTHER_PHONE_LABEL] = vcardentries.CODE_OF["mobile"]
NOTES_CODE = vcardentries.NOTES_CODE


def Normal(text):
    return text.replace("\r\n", "\n").replace("\r", "\n")


def NotesEntries(notes):
    """The notes text's labelled lines as (code, value); a line without a known
    label continues the value before it (a note of several lines)."""
    entries = []
    for line in Normal(notes).split("\n"):
        label, colon, value = line.partition(":")
        if colon and label in LABEL_CODES:
            entries.append([LABEL_CODES[label], value])
        elif entries:
            entries[-1][1] += "\n" + line
        elif line:
            entries.append([NOTES_CODE, line])
    return [(code, value) for code, value in entries]


def Listing(path, received):
    cards = vcardentries.ReadSource(path)
    lines = []
    for number, (_begin, (entries, _left)) in enumerate(cards, start=1):
        pairs = []
        for code, _label, _line, _prop, value in entries:
            if received and code == NOTES_CODE:
                pairs.extend(NotesEntries(value))
            else:
                pairs.append((code, Normal(value)))
        # The device orders a card's values by field, not as the card did.
        for code, value in sorted(pairs):
            lines.append("card %d: %s %s\n" % (number, code, value.replace("\n", "\\n")))
    return len(cards), lines


def main(argv):
    listings = None
    if len(argv) == 4 and argv[0] == "--listings":
        listings, argv = argv[1], argv[2:]
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    try:
        sentCards, sent = Listing(argv[0], received=False)
        receivedCards, received = Listing(argv[1], received=True)
    except vcardentries.CardError as error:
        sys.stderr.write("comparebooks: %s\n" % error)
        return 2
    if listings:
        os.makedirs(listings, exist_ok=True)
        for name, lines in (("sent.txt", sent), ("received.txt", received)):
            with open(os.path.join(listings, name), "w", encoding="utf-8") as out:
                out.writelines(lines)
    diff = list(difflib.unified_diff(sent, received, fromfile=argv[0], tofile=argv[1]))
    sys.stdout.writelines(diff)
    missing = sum(1 for line in diff if line.startswith("-") and not line.startswith("---"))
    extra = sum(1 for line in diff if line.startswith("+") and not line.startswith("+++"))
    print("comparebooks: %d card(s) sent, %d received; %d value(s) sent, %d missing, %d unexpected"
          % (sentCards, receivedCards, len(sent), missing, extra))
    return 0 if not diff and sentCards == receivedCards else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
