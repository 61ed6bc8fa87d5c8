#!/usr/bin/env python3
"""Stand-in for the handheld on a pseudo-terminal of its own.

    pdapeer.py --link PATH --log FILE [--behaviour normal|silent|probe-only]
               [--refuse K,...] [--ignore K,...] [--reply-delay MS]
               [--free-kb N] [--server-type TEXT] [--taken-status N] [--chaff]

Creates a pty, points the symlink PATH at its slave end, prints
"ready PATH -> SLAVE" and answers the device protocol on the master end:
probe (2) -> 0x82, information (1) -> 0x81 with the free space and server
type given, record (7) -> 0x87 with status 1 (or --taken-status), or 0 for
the record numbers listed in --refuse. Records listed in --ignore get no
reply at all. With --chaff every reply is preceded by what a receiver must
pass over: bytes outside frames, a frame with a bad FCS, a reply with
another code, and a reply with the right code whose length field disagrees.
Behaviours: normal; silent (never answers); probe-only (answers only the
probe). Record numbers count the record requests this peer received, from 1.

Every frame it receives is written to the log as one JSON line with its
arrival time: probe, info and record requests decoded (a record with its
flag, data as hex and the eleven NUL-terminated texts decoded from CP936),
anything else as hex, frames with a bad FCS as "bad". The receiver keeps
frames of any size up to 64 KiB, far beyond the largest the library sends.

It runs until SIGTERM or SIGINT, then removes the link if it still points
at its slave.
"""

import argparse
import json
import os
import select
import signal
import struct
import sys
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pdaclient  # noqa: E402

PEER_FRAME_LIMIT = 65536


class PeerReceiver(pdaclient.FrameReceiver):
    """The library's receive state machine without its 4091-byte limit, so
    that a frame the library sends is never cut here. Also counts the bytes
    passed over outside frames and keeps bad frames for the log."""

    def __init__(self):
        self.noise = 0
        self.bad_frames = []
        super().__init__()

    def feed(self, data):
        for byte in data:
            if self.state == self.HUNT and byte != pdaclient.FLAG:
                self.noise += 1
            super().feed(bytes([byte]))

    def _store(self, byte):
        if len(self.stored) < PEER_FRAME_LIMIT:
            self.stored.append(byte)

    def _end_frame(self):
        frame = bytes(self.stored)
        if not (len(frame) >= 2 and pdaclient.check_fcs(frame)):
            self.bad_frames.append(frame)
        super()._end_frame()


def number_list(text):
    if not text:
        return set()
    return {int(part) for part in text.split(",") if part.strip()}


def decode_fields(data):
    """The eleven NUL-terminated texts at the front of record data."""
    fields = []
    pos = 0
    for _ in range(11):
        nul = data.find(b"\x00", pos)
        if nul < 0:
            fields.append(data[pos:].decode("gbk", errors="replace"))
            pos = len(data)
            continue
        fields.append(data[pos:nul].decode("gbk", errors="replace"))
        pos = nul + 1
    return fields


class Peer:
    def __init__(self, args):
        self.args = args
        self.refuse = number_list(args.refuse)
        self.ignore = number_list(args.ignore)
        self.records = 0
        self.receiver = PeerReceiver()
        self.log = open(args.log, "a", encoding="utf-8")
        self.master, self.slave = os.openpty()
        # Raw from the start: whatever Wine leaves unset must not cook bytes.
        tty.setraw(self.slave)
        tty.setraw(self.master)
        os.set_blocking(self.master, False)
        self.slave_name = os.ttyname(self.slave)
        self.stopping = False

    def write_log(self, entry):
        entry["t"] = time.time()
        self.log.write(json.dumps(entry, ensure_ascii=False) + "\n")
        self.log.flush()

    def link(self):
        path = self.args.link
        tmp = path + ".peer-%d" % os.getpid()
        os.symlink(self.slave_name, tmp)
        os.replace(tmp, path)

    def unlink(self):
        try:
            if os.readlink(self.args.link) == self.slave_name:
                os.unlink(self.args.link)
        except OSError:
            pass

    def send(self, message):
        self.send_raw(pdaclient.encode_frame(message))

    def send_raw(self, data):
        deadline = time.monotonic() + 5
        view = memoryview(data)
        while view and time.monotonic() < deadline:
            _, writable, _ = select.select([], [self.master], [], 0.5)
            if writable:
                try:
                    view = view[os.write(self.master, view):]
                except BlockingIOError:
                    pass
        if view:
            self.write_log({"kind": "peer-error", "what": "reply not written", "left": len(view)})

    def answers(self, code):
        behaviour = self.args.behaviour
        if behaviour == "silent":
            return False
        if behaviour == "probe-only":
            return code == pdaclient.CMD_PROBE
        return True

    def reply(self, message):
        if self.args.reply_delay > 0:
            time.sleep(self.args.reply_delay / 1000.0)
        if self.args.chaff:
            self.send_raw(b"\x55\x00\x7d\xff")
            fcs = pdaclient.make_fcs(message) ^ 0x0101
            self.send_raw(bytes([pdaclient.FLAG])
                          + pdaclient.stuff(message + bytes([fcs & 0xFF, fcs >> 8]))
                          + bytes([pdaclient.FLAG]))
            self.send(bytes([0x85]) + message[1:])
            self.send(message[:1] + struct.pack("<H", len(message) - 3 + 1) + message[3:])
        self.send(message)

    def handle(self, frame, noise):
        entry = {"length": len(frame), "noise_before": noise}
        consistent = len(frame) >= 3 and struct.unpack_from("<H", frame, 1)[0] + 3 == len(frame)
        entry["consistent"] = consistent
        code = frame[0] if frame else None
        if code == pdaclient.CMD_PROBE and len(frame) >= 3:
            count = struct.unpack_from("<H", frame, 1)[0]
            filler = frame[3:]
            entry.update(kind="probe", count=count, filler_zero=not any(filler),
                         filler=filler.hex())
            self.write_log(entry)
            if self.answers(code):
                self.reply(pdaclient.message(0x82, b""))
            return
        if code == pdaclient.CMD_INFO:
            entry.update(kind="info", hex=frame.hex())
            self.write_log(entry)
            if self.answers(code):
                body = b"\x00" + struct.pack("<H", self.args.free_kb) \
                    + self.args.server_type.encode("gbk") + b"\x00"
                self.reply(pdaclient.message(0x81, body))
            return
        if code == pdaclient.CMD_RECORD and len(frame) >= 6:
            self.records += 1
            seq = self.records
            flag = frame[3]
            data_length = struct.unpack_from("<H", frame, 4)[0]
            data = frame[6:]
            status = 0 if seq in self.refuse else self.args.taken_status
            entry.update(kind="record", seq=seq, flag=flag,
                         length_field=struct.unpack_from("<H", frame, 1)[0],
                         data_length=data_length, data=data.hex(),
                         fields=decode_fields(data),
                         answered=self.answers(code) and seq not in self.ignore,
                         status=status)
            self.write_log(entry)
            if entry["answered"]:
                self.reply(pdaclient.message(0x87, bytes([status])))
            return
        entry.update(kind="other", hex=frame.hex())
        self.write_log(entry)

    def run(self):
        self.link()
        print("ready %s -> %s" % (self.args.link, self.slave_name), flush=True)
        while not self.stopping:
            try:
                readable, _, _ = select.select([self.master], [], [], 0.2)
            except InterruptedError:
                continue
            if not readable:
                continue
            try:
                chunk = os.read(self.master, 65536)
            except (BlockingIOError, InterruptedError):
                continue
            except OSError as error:
                # EIO while nobody holds the slave open should not happen
                # (we keep it open); note it and go on.
                self.write_log({"kind": "peer-error", "what": "read: %s" % error})
                time.sleep(0.05)
                continue
            noise_before = self.receiver.noise
            self.receiver.feed(chunk)
            for bad in self.receiver.bad_frames:
                self.write_log({"kind": "bad", "stored": len(bad), "head": bad[:64].hex()})
            self.receiver.bad_frames = []
            for frame in self.receiver.take():
                self.handle(frame, self.receiver.noise - noise_before)
                noise_before = self.receiver.noise
        self.unlink()
        self.log.close()


def main():
    parser = argparse.ArgumentParser(description="stand-in device on a pseudo-terminal")
    parser.add_argument("--link", required=True, help="symlink to point at the pty's slave")
    parser.add_argument("--log", required=True, help="JSON-lines log of received frames")
    parser.add_argument("--behaviour", choices=["normal", "silent", "probe-only"], default="normal")
    parser.add_argument("--refuse", default="", help="record numbers answered with status 0")
    parser.add_argument("--ignore", default="", help="record numbers left without a reply")
    parser.add_argument("--reply-delay", type=int, default=0, help="ms before each reply")
    parser.add_argument("--free-kb", type=lambda t: int(t, 0), default=2048)
    parser.add_argument("--server-type", default="IndepPDA 1.0")
    parser.add_argument("--taken-status", type=lambda t: int(t, 0), default=1,
                        help="status byte of a record taken (non-zero)")
    parser.add_argument("--chaff", action="store_true",
                        help="send frames to be passed over before every reply")
    args = parser.parse_args()

    peer = Peer(args)

    def stop(signum, frame):
        peer.stopping = True

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    peer.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
