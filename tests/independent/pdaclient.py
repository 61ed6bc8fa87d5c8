#!/usr/bin/env python3
"""Independent client of the handheld's serial protocol.

Library: frame codec (0x7E flags, 0x7D stuffing, FCS-16/X.25 computed bit
by bit), the device messages, and PdaClient, which talks to a device over a
serial line or pseudo-terminal.

CLI:
    pdaclient.py selftest
    pdaclient.py --link PATH probe [N]
    pdaclient.py --link PATH info
    pdaclient.py --link PATH record HEXDATA
    pdaclient.py --link PATH contact CODE:LABEL:VALUE ...   (texts in UTF-8,
                                                             sent as CP936)
Each request command prints the reply as hex, or "no reply" (exit 1).
"""

import argparse
import os
import select
import struct
import sys
import termios
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import refreader  # noqa: E402

FLAG = 0x7E
ESCAPE = 0x7D
ESCAPE_OFFSET = 0x20
FCS_PRESET = 0xFFFF
FCS_GOOD = 0xF0B8
FCS_POLY_REFLECTED = 0x8408
RECEIVE_LIMIT = 4091

CMD_INFO = 0x01
CMD_PROBE = 0x02
CMD_RECORD = 0x07
REPLY_BIT = 0x80


# ---- frame codec -------------------------------------------------------

def fcs16(data, register=FCS_PRESET):
    """FCS-16 register after data, one bit at a time (LSB first)."""
    for byte in data:
        register ^= byte
        for _ in range(8):
            if register & 1:
                register = (register >> 1) ^ FCS_POLY_REFLECTED
            else:
                register >>= 1
    return register


def make_fcs(data):
    return ~fcs16(data) & 0xFFFF


def check_fcs(data_with_fcs):
    return fcs16(data_with_fcs) == FCS_GOOD


def stuff(data):
    out = bytearray()
    for byte in data:
        if byte in (FLAG, ESCAPE):
            out += bytes([ESCAPE, byte - ESCAPE_OFFSET])
        else:
            out.append(byte)
    return bytes(out)


def encode_frame(payload):
    """One frame with its own opening and closing flag."""
    fcs = make_fcs(payload)
    return bytes([FLAG]) + stuff(payload + bytes([fcs & 0xFF, fcs >> 8])) + bytes([FLAG])


class FrameReceiver:
    """Rebuilds frames from single bytes the way the library does: every
    frame needs its own opening flag; a frame's closing flag is consumed."""

    HUNT, START, DATA, ESCAPED = range(4)

    def __init__(self):
        self.good = []
        self.bad = 0
        self._reset()

    def _reset(self):
        self.state = self.HUNT
        self.stored = bytearray()

    def _store(self, byte):
        if len(self.stored) < RECEIVE_LIMIT:
            self.stored.append(byte)

    def feed(self, data):
        for byte in data:
            if self.state == self.HUNT:
                if byte == FLAG:
                    self.state = self.START
            elif self.state == self.START:
                if byte == ESCAPE:
                    self.state = self.ESCAPED
                elif byte != FLAG:
                    self._store(byte)
                    self.state = self.DATA
            elif self.state == self.DATA:
                if byte == FLAG:
                    self._end_frame()
                elif byte == ESCAPE:
                    self.state = self.ESCAPED
                else:
                    self._store(byte)
            else:
                self._store((byte + ESCAPE_OFFSET) & 0xFF)
                self.state = self.DATA

    def _end_frame(self):
        frame = bytes(self.stored)
        if len(frame) >= 2 and check_fcs(frame):
            self.good.append(frame[:-2])
        else:
            self.bad += 1
        self._reset()

    def take(self):
        frames, self.good = self.good, []
        return frames


# ---- device messages ---------------------------------------------------

def message(code, body):
    return struct.pack("<BH", code, len(body)) + body


def info_request():
    return message(CMD_INFO, b"")


def probe_request(filler_count=4000):
    return message(CMD_PROBE, bytes(filler_count))


def record_request(data, flag=1):
    return message(CMD_RECORD, struct.pack("<BH", flag, len(data)) + data)


def is_reply_to(frame, code):
    """A frame is the reply when its code matches and its length agrees."""
    if len(frame) < 3 or frame[0] != (code | REPLY_BIT):
        return False
    return struct.unpack_from("<H", frame, 1)[0] + 3 == len(frame)


def parse_info_reply(reply):
    """(free KB, server type bytes) of an information reply."""
    body = reply[3:]
    free_kb = struct.unpack_from("<H", body, 1)[0]
    server = body[3:]
    nul = server.find(b"\x00")
    return free_kb, server if nul < 0 else server[:nul]


def contact_payload(entries):
    """Record data for a contact given as (code, label, value) byte triples."""
    cut = [tuple(refreader.slot_text(s) for s in entry) for entry in entries]
    return refreader.record_payload(refreader.assemble_record(cut))


def payload_fields(data):
    """The eleven texts of record data, decoded from CP936."""
    parts = data.split(b"\x00")
    return [p.decode("gbk") for p in parts[:11]]


# ---- the line ----------------------------------------------------------

def open_raw(path):
    """Open a serial line or pty raw, 57600 8N1, without making it ours."""
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    attrs = termios.tcgetattr(fd)
    iflag, oflag, cflag, lflag, ispeed, ospeed, cc = attrs
    iflag &= ~(termios.IGNBRK | termios.BRKINT | termios.PARMRK | termios.ISTRIP
               | termios.INLCR | termios.IGNCR | termios.ICRNL | termios.IXON
               | termios.IXOFF | termios.IXANY | termios.INPCK)
    oflag &= ~termios.OPOST
    lflag &= ~(termios.ECHO | termios.ECHONL | termios.ICANON | termios.ISIG | termios.IEXTEN)
    cflag &= ~(termios.CSIZE | termios.PARENB | termios.CSTOPB | termios.CRTSCTS)
    cflag |= termios.CS8 | termios.CREAD | termios.CLOCAL
    cc[termios.VMIN] = 0
    cc[termios.VTIME] = 0
    termios.tcsetattr(fd, termios.TCSANOW,
                      [iflag, oflag, cflag, lflag, termios.B57600, termios.B57600, cc])
    return fd


class PdaClient:
    def __init__(self, path):
        self.fd = open_raw(path)
        self.receiver = FrameReceiver()
        self.skipped = []

    def close(self):
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def send_raw(self, data):
        view = memoryview(data)
        deadline = time.monotonic() + 10
        while view:
            _, writable, _ = select.select([], [self.fd], [], 0.5)
            if writable:
                try:
                    view = view[os.write(self.fd, view):]
                except BlockingIOError:
                    pass
            if time.monotonic() > deadline:
                raise TimeoutError("the line took no more bytes for 10 s (%d left)" % len(view))

    def send_message(self, msg):
        self.send_raw(encode_frame(msg))

    def receive_frames(self, timeout):
        """Good frames that arrive within timeout seconds (at least one, or [])."""
        deadline = time.monotonic() + timeout
        while True:
            frames = self.receiver.take()
            if frames:
                return frames
            left = deadline - time.monotonic()
            if left <= 0:
                return []
            readable, _, _ = select.select([self.fd], [], [], left)
            if readable:
                try:
                    chunk = os.read(self.fd, 4096)
                except (BlockingIOError, OSError):
                    chunk = b""
                self.receiver.feed(chunk)

    def request(self, msg, timeout=3.0):
        """Send msg and wait for its reply; frames that are not the reply are
        kept in self.skipped. Returns the reply or None."""
        self.send_message(msg)
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            for frame in self.receive_frames(left):
                if is_reply_to(frame, msg[0]):
                    return frame
                self.skipped.append(frame)

    def probe(self, filler_count=4000, timeout=3.0):
        return self.request(probe_request(filler_count), timeout)

    def info(self, timeout=1.0):
        return self.request(info_request(), timeout)

    def record(self, data, timeout=20.0):
        return self.request(record_request(data), timeout)


# ---- CLI ---------------------------------------------------------------

def selftest():
    """Known answers of the codec; returns a list of failure texts."""
    failures = []
    checks = [
        (encode_frame(b"\x01\x00\x00"), bytes.fromhex("7e010000109c7e")),
        (encode_frame(b""), bytes.fromhex("7e00007e")),
        (encode_frame(record_request(bytes.fromhex("4c690000000000000031323300000000"))),
         bytes.fromhex("7e071300011000" "4c690000000000000031323300000000" "b4a87e")),
        (stuff(b"\x7e\x7d\x01"), b"\x7d\x5e\x7d\x5d\x01"),
        (bytes([make_fcs(b"123456789") & 0xFF, make_fcs(b"123456789") >> 8]), bytes.fromhex("6e90")),
    ]
    for got, want in checks:
        if got != want:
            failures.append("codec: expected %s got %s" % (want.hex(), got.hex()))
    rx = FrameReceiver()
    rx.feed(b"\x55\x7e\x7e" + encode_frame(b"\x7e\x7d\x00")[1:] + b"\x7e\x00\x00\x7e" + b"\x7e\x01\x02\x03\x7e")
    if rx.take() != [b"\x7e\x7d\x00", b""] or rx.bad != 1:
        failures.append("receiver: stuffed frame, empty frame, bad frame not told apart")
    if contact_payload([(b"00", b"", b"Li"), (b"12", b"Tel", b"123")]) != \
            bytes.fromhex("4c690000000000000031323300000000"):
        failures.append("assembly: example record differs")
    return failures


def parse_entry(text):
    parts = text.split(":", 2)
    if len(parts) != 3:
        raise argparse.ArgumentTypeError("entry must be CODE:LABEL:VALUE")
    return tuple(p.encode("gbk") for p in parts)


def main():
    parser = argparse.ArgumentParser(description="independent client of the device protocol")
    parser.add_argument("--link", help="serial line or pty of the device")
    parser.add_argument("--timeout", type=float)
    parser.add_argument("command", choices=["selftest", "probe", "info", "record", "contact"])
    parser.add_argument("args", nargs="*")
    args = parser.parse_args()

    if args.command == "selftest":
        failures = selftest()
        for failure in failures:
            print(failure)
        print("selftest: %s" % ("FAILED" if failures else "ok"))
        return 1 if failures else 0
    if not args.link:
        parser.error("--link is needed")
    with PdaClient(args.link) as client:
        if args.command == "probe":
            reply = client.probe(int(args.args[0]) if args.args else 4000, args.timeout or 3.0)
        elif args.command == "info":
            reply = client.info(args.timeout or 1.0)
        elif args.command == "record":
            reply = client.record(bytes.fromhex("".join(args.args)), args.timeout or 20.0)
        else:
            data = contact_payload([parse_entry(a) for a in args.args])
            print("data %s" % data.hex())
            reply = client.record(data, args.timeout or 20.0)
    if reply is None:
        print("no reply")
        return 1
    print(reply.hex())
    return 0


if __name__ == "__main__":
    sys.exit(main())
