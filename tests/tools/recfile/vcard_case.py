"""What the vCard import tests share: running recfile, building the expected record file, the checks."""
import difflib
import os
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = os.path.join(HERE, "fixtures")
RECFILE = None
TIMEOUT_S = 30

# In a description, "\n" inside a value stands for CR LF: a build line cannot
# hold a line break. Both are two bytes, so swapping them in the built file
# leaves every length right.
LINE_BREAK_MARK = "\\n"


def Run(*args, stdin=None):
    return subprocess.run([RECFILE] + list(args), input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=TIMEOUT_S)


def Text(data):
    return data.decode("utf-8", "replace")


def Cp936(text):
    return text.encode("gbk")


def Payloads(path):
    """The record payload of each block, split into its eleven fields."""
    proc = Run("payloads", path)
    if proc.returncode != 0:
        raise AssertionError("recfile payloads %s: exit %d\n%s" % (path, proc.returncode, Text(proc.stderr)))
    records = []
    for line in proc.stdout.decode("ascii").split():
        payload = bytes.fromhex(line)
        records.append(payload.split(b"\0")[:11])
    return records


def Qp(text, charset):
    """Every byte of the text in the charset as =XX, as Android writes quoted-printable."""
    return "".join("=%02X" % byte for byte in text.encode(charset))


def Crlf(*lines):
    """A file's bytes from its lines: each str as UTF-8, each bytes as it is."""
    return b"".join((line.encode("utf-8") if isinstance(line, str) else line) + b"\r\n" for line in lines)


class ImportCase(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory(prefix="vcard-test-")
        self.addCleanup(self.work.cleanup)

    def Path(self, name):
        return os.path.join(self.work.name, name)

    def Write(self, name, data):
        path = self.Path(name)
        with open(path, "wb") as out:
            out.write(data.encode("utf-8") if isinstance(data, str) else data)
        return path

    def Card(self, name, lines, eol="\r\n"):
        """A vCard file from its lines; line N of the list is line N of the file."""
        return self.Write(name, eol.join(lines) + eol)

    def BuildDescription(self, description, output):
        """The record file the description stands for, through plain `recfile build`."""
        marks = sum(line.count(LINE_BREAK_MARK) for line in description.split("\n") if not line.startswith("#"))
        source = self.Write(os.path.basename(output) + ".txt", description)
        proc = Run("build", source, output)
        self.assertEqual(proc.returncode, 0, "the expected description does not build:\n" + Text(proc.stderr))
        with open(output, "rb") as built:
            data = built.read()
        # A CP936 trail byte 5C before "n" would be miscounted here; the count makes that loud.
        self.assertEqual(data.count(b"\\n"), marks, "line-break marks in the description are ambiguous")
        data = data.replace(b"\\n", b"\r\n")
        with open(output, "wb") as built:
            built.write(data)
        return data

    def BuildVcards(self, *args, stdin=None, expect_exit=0):
        proc = Run("build", "--vcard", *args, stdin=stdin)
        self.assertEqual(proc.returncode, expect_exit,
                         "recfile build --vcard %s: exit %d\nstdout: %s\nstderr: %s"
                         % (" ".join(args), proc.returncode, Text(proc.stdout), Text(proc.stderr)))
        return proc

    def AssertSameRecords(self, got_path, expected_path):
        with open(got_path, "rb") as got, open(expected_path, "rb") as expected:
            if got.read() == expected.read():
                return
        dumps = []
        for path in (expected_path, got_path):
            proc = Run("dump", path)
            dumps.append(Text(proc.stdout + proc.stderr).replace(path, "FILE").splitlines())
        diff = "\n".join(difflib.unified_diff(dumps[0], dumps[1], "expected (description)", "built from vCards",
                                              lineterm=""))
        self.fail("the record files differ; recfile dump of both:\n" + diff)

    def AssertLine(self, output, *parts):
        """Some line of `output` holds every one of `parts`."""
        lines = Text(output).splitlines()
        for line in lines:
            if all(part in line for part in parts):
                return line
        self.fail("no line holds all of %r in:\n%s" % (parts, "\n".join(lines)))

    def AssertNothingWritten(self, proc, output, *parts):
        self.assertEqual(proc.returncode, 1, Text(proc.stderr))
        self.AssertLine(proc.stderr, *parts)
        self.AssertLine(proc.stderr, "nothing written")
        self.assertFalse(os.path.exists(output), "an output file was written")
        self.assertEqual(Leftovers(output), [], "a partial output file was left behind")


def Leftovers(output):
    """Files beside `output` whose names begin with its name, other than itself."""
    folder, name = os.path.split(output)
    return sorted(f for f in os.listdir(folder or ".") if f.startswith(name) and f != name)
