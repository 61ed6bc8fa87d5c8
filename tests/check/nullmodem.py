#!/usr/bin/env python3
"""nullmodem.py LINK_A LINK_B: two pseudo-terminals joined like a null-modem cable, their slaves
published as the symlinks LINK_A and LINK_B (neither may exist), until SIGTERM or SIGINT. Prints
"nullmodem: ready LINK_A LINK_B" once both serve.

Unlike a blocking relay, it never waits on one side: what a side cannot take now (nobody has that
port open, or its buffer is full) is dropped, as bytes on a cable nobody listens to are, so the other
direction goes on flowing."""
import errno
import os
import select
import signal
import sys


def main():
    links = sys.argv[1:]
    if len(links) != 2 or any(os.path.lexists(link) for link in links):
        sys.exit(f"nullmodem: give two links that do not exist yet\n{__doc__}")
    masters = []
    for link in links:
        master, slave = os.openpty()
        os.set_blocking(master, False)
        os.symlink(os.ttyname(slave), link)
        os.close(slave)
        masters.append(master)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    signal.signal(signal.SIGINT, lambda *_: sys.exit(0))
    print(f"nullmodem: ready {links[0]} {links[1]}", flush=True)
    try:
        while True:
            ready = select.select(masters, [], [], 0.2)[0]
            idle = True
            for k in ready:
                try:
                    data = os.read(k, 4096)
                except OSError as error:  # EIO: nobody has this port open right now
                    if error.errno not in (errno.EIO, errno.EAGAIN):
                        raise
                    continue
                idle = False
                try:
                    os.write(masters[1 - masters.index(k)], data)
                except OSError as error:
                    if error.errno not in (errno.EIO, errno.EAGAIN):
                        raise
            if ready and idle:
                select.select([], [], [], 0.02)  # both ends hung up: do not spin
    finally:
        for link in links:
            os.unlink(link)


if __name__ == "__main__":
    main()
