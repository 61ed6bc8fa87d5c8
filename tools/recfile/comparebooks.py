#!/usr/bin/python3
"""Compares what two vCard files hold in the record file's terms: the
address book that went in (`recfile build --vcard`) and the one the device's
store came back as (`pdasim --export-vcard`).

    comparebooks.py [--listings DIR] SENT.vcf RECEIVED.vcf

Both are read by `recfile entries` (beside this file), so each card becomes
a list of "CODE VALUE" lines as `recfile build --vcard` maps it. The device keeps further numbers, mails, the title and
the notes as labelled lines of one notes text ("手机:139...", "称谓:经理"); on
the received side those lines are read back into their codes by the labels
the build gave them. Cards are paired in order. Prints a unified diff of the
two listings (nothing when they agree) and a summary line; exits 0 when they
agree, 1 when they differ, 2 when a file cannot be read. --listings writes
the two listings to DIR/sent.txt and DIR/received.txt as well, for diff(1).
"""
import difflib
import json
import os
import subprocess
import sys

RECFILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "recfile")  # the build puts us beside it


class BookError(Exception):
    pass


def Recfile(*args):
    """recfile's output; BookError with its message when it fails."""
    try:
        run = subprocess.run([RECFILE] + list(args), capture_output=True)
    except OSError as error:
        raise BookError("cannot run %s: %s" % (RECFILE, error.strerror))
    if run.returncode != 0:
        raise BookError(run.stderr.decode("utf-8", "replace").strip() or "recfile %s failed" % args[0])
    return run.stdout.decode("utf-8")


def Unescaped(text):
    out, at = [], 0
    while at < len(text):
        if text[at] == "\\" and at + 1 < len(text):
            out.append({"t": "\t", "r": "\r", "n": "\n"}.get(text[at + 1], text[at + 1]))
            at += 2
        else:
            out.append(text[at])
            at += 1
    return "".join(out)


def Entries(path):
    """(card count, [(card number, code, label, value)]) as recfile maps the file."""
    cards, entries = 0, []
    for line in Recfile("entries", path).splitlines():
        fields = line.split("\t")
        if fields[0] == "card":
            cards += 1
        else:
            number, code, label, value = fields
            entries.append((int(number), code, Unescaped(label), Unescaped(value)))
    return cards, entries


def Normal(text):
    return text.replace("\r\n", "\n").replace("\r", "\n")


def NotesEntries(notes, labelCodes, notesCode):
    """The notes text's labelled lines as (code, value); a line without a known
    label continues the value before it (a note of several lines)."""
    entries = []
    for line in Normal(notes).split("\n"):
        label, colon, value = line.partition(":")
        if colon and label in labelCodes:
            entries.append([labelCodes[label], value])
        elif entries:
            entries[-1][1] += "\n" + line
        elif line:
            entries.append([notesCode, line])
    return [(code, value) for code, value in entries]


def Listing(book, received, labelCodes, notesCode):
    cardCount, entries = book
    perCard = {}
    for number, code, _label, value in entries:
        if received and code == notesCode:
            perCard.setdefault(number, []).extend(NotesEntries(value, labelCodes, notesCode))
        else:
            perCard.setdefault(number, []).append((code, Normal(value)))
    lines = []
    for number in sorted(perCard):
        # The device orders a card's values by field, not as the card did.
        for code, value in sorted(perCard[number]):
            lines.append("card %d: %s %s\n" % (number, code, value.replace("\n", "\\n")))
    return cardCount, lines


def main(argv):
    listings = None
    if len(argv) == 4 and argv[0] == "--listings":
        listings, argv = argv[1], argv[2:]
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    try:
        codes = [json.loads(line) for line in Recfile("fields").splitlines()]
        sentBook, receivedBook = Entries(argv[0]), Entries(argv[1])
    except BookError as error:
        sys.stderr.write("comparebooks: %s\n" % error)
        return 2
    # The labels the build writes, each with its code, read back from the device's notes.
    labelCodes = {row["label"]: row["code"] for row in codes if row["label"]}
    labelCodes.update((label, code) for book in (sentBook, receivedBook) for _n, code, label, _v in book[1])
    notesCode = next(row["code"] for row in codes if row["rule"] == "notes-only")
    sentCards, sent = Listing(sentBook, False, labelCodes, notesCode)
    receivedCards, received = Listing(receivedBook, True, labelCodes, notesCode)
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
