#!/usr/bin/python3
"""Two pseudo-terminals joined like a null-modem cable, their terminal ends linked at A and B.

Usage: pty_pair.py A B
Unlike a socat pair it keeps neither terminal end open itself, so a port that refuses lines other
programs hold opens either end. Runs until killed.
"""
import os
import select
import sys
import time
import tty


def make(link):
    master, slave = os.openpty()
    tty.setraw(slave)
    name = os.ttyname(slave)
    os.close(slave)
    if os.path.islink(link):
        os.unlink(link)
    os.symlink(name, link)
    return master


def main():
    ends = [make(sys.argv[1]), make(sys.argv[2])]
    other = {ends[0]: ends[1], ends[1]: ends[0]}
    while True:
        readable, _, _ = select.select(ends, [], [], 1.0)
        idle = True
        for fd in readable:
            try:
                data = os.read(fd, 4096)
            except OSError:  # nobody has this terminal end open (yet)
                continue
            idle = False
            try:
                os.write(other[fd], data)
            except OSError:
                pass  # nobody listens on the far end: lost, as on a line
        if idle:
            time.sleep(0.005)


if __name__ == "__main__":
    main()
