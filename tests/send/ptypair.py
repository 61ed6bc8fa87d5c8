#!/usr/bin/env python3
"""Two pseudo-terminals joined like a null-modem cable, for trying the
serial-line tools without hardware.

    ptypair.py LINK_A LINK_B

Creates two pseudo-terminals, publishes their slaves as the symlinks LINK_A
and LINK_B (neither may exist yet), prints "ptypair: ready LINK_A LINK_B" and
copies every byte written to one slave out of the other, until SIGTERM or
SIGINT; then removes the links. Only the masters are held, so a program on
either slave is the only one that has that line open (no lock, no other
holder), as with a real port. Exit 2 on bad usage, 1 when a link cannot be
made.
"""
import os
import select
import signal
import sys
import time


def main():
    if len(sys.argv) != 3 or sys.argv[1].startswith("-"):
        print(__doc__.strip(), file=sys.stderr if len(sys.argv) != 2 or sys.argv[1] != "--help" else sys.stdout)
        return 0 if sys.argv[1:] == ["--help"] else 2
    links = sys.argv[1:]
    for link in links:
        if os.path.lexists(link):
            print(f"ptypair: {link} exists; it is left alone", file=sys.stderr)
            return 1
    masters = []
    for link in links:
        master, slave = os.openpty()
        os.symlink(os.ttyname(slave), link)
        os.close(slave)
        os.set_blocking(master, False)
        masters.append(master)
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    signal.signal(signal.SIGINT, lambda *_: stop.append(1))
    print(f"ptypair: ready {links[0]} {links[1]}", flush=True)
    try:
        while not stop:
            try:
                readable, _, _ = select.select(masters, [], [], 0.2)
            except InterruptedError:
                continue
            for k, master in enumerate(masters):
                if master not in readable:
                    continue
                try:
                    data = os.read(master, 4096)
                except (BlockingIOError, InterruptedError):
                    continue
                except OSError:
                    # EIO: nobody has this slave open right now; it may be opened again.
                    time.sleep(0.02)
                    continue
                other = masters[1 - k]
                while data and not stop:
                    try:
                        data = data[os.write(other, data):]
                    except (BlockingIOError, OSError):
                        time.sleep(0.005)
    finally:
        for link in links:
            if os.path.islink(link):
                os.unlink(link)
    return 0


if __name__ == "__main__":
    sys.exit(main())
