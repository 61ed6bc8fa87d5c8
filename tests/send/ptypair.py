#!/usr/bin/env python3
"""ptypair.py [--record FILE] LINK_A LINK_B: two pseudo-terminals joined like a null-modem cable,
their slaves published as the symlinks LINK_A and LINK_B (neither may exist), until SIGTERM or SIGINT.
--record FILE: every byte written on LINK_B (the host's end) also goes to FILE, as it passed.

Prints "ptypair: ready LINK_A LINK_B" once both serve. Only the masters are held, so a program on
a slave is alone on that line, as on a real port."""
import os
import select
import signal
import sys
import time


def main():
    links = sys.argv[1:]
    record = None
    if links[:1] == ["--record"] and len(links) > 1:
        record = open(links[1], "wb", buffering=0)
        links = links[2:]
    if len(links) != 2 or any(os.path.lexists(link) for link in links):
        sys.exit(f"ptypair: give two links that do not exist yet\n{__doc__}")
    masters = []
    for link in links:
        master, slave = os.openpty()
        os.symlink(os.ttyname(slave), link)
        os.close(slave)
        masters.append(master)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    signal.signal(signal.SIGINT, lambda *_: sys.exit(0))
    print(f"ptypair: ready {links[0]} {links[1]}", flush=True)
    try:
        while True:
            for k in select.select(masters, [], [], 0.2)[0]:
                try:
                    data = os.read(k, 4096)
                    os.write(masters[1 - masters.index(k)], data)
                    if record and k == masters[1]:
                        record.write(data)
                except OSError:  # EIO: nobody has that slave open right now, as on an unplugged line
                    time.sleep(0.02)
    finally:
        for link in links:
            os.unlink(link)


if __name__ == "__main__":
    main()
