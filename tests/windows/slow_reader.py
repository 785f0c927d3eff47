#!/usr/bin/env python3
"""The far end of a port that drains slowly, for the Win32 write test under wine.

Opens a pseudo-terminal, prints its slave path, then reads the master side a few kilobytes at a
time, so a writer with write time-outs set sees WriteFile report fewer bytes than it was given.
Once COUNT bytes have come it answers one byte on the line: K when byte i was i % 251 for every
i, X otherwise. Then it keeps the terminal open until it is terminated.

    slow_reader.py COUNT
"""
import os
import pty
import signal
import sys
import time
import tty

CHUNK = 4096
PAUSE_S = 0.01


def main() -> int:
    count = int(sys.argv[1])
    master, slave = pty.openpty()
    tty.setraw(slave)
    print(os.ttyname(slave), flush=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))

    received = 0
    good = True
    while received < count:
        time.sleep(PAUSE_S)
        data = os.read(master, min(CHUNK, count - received))
        for offset, byte in enumerate(data):
            if byte != (received + offset) % 251:
                good = False
        received += len(data)
    os.write(master, b"K" if good else b"X")
    while True:
        time.sleep(1)


if __name__ == "__main__":
    sys.exit(main())
