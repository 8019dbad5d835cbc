#!/usr/bin/env python3
"""The RS485 wire between the VM guest's USB adapter and its 8250 UART.

qemu hands every byte from one serial device's socket to the other whatever baud rate and parity
the guest's drivers set: its emulated FTDI chip and 8250 take the settings but do not act on them.
A real wire does: a UART at another baud rate or parity than the sender decodes no character of
it. So this joins the two sockets as socat would and reads, from qemu's trace log, the settings
the guest's drivers wrote into each emulated chip (ftdi_sio's SET_BAUD/SET_DATA requests, the
8250's divisor and line control register); a byte crosses unharmed only while both ends are at
the same baud rate, parity and character size, and arrives as NUL otherwise (Linux hands a
character with a framing error to the reader as NUL).

The first UART is the guest's console: its settings are the 8250 events before the guest prints
the console marker; later ones are the RS485 line's (nothing reopens the console after that).

Usage: rs485_wire.py ADAPTER_SOCKET LINE_SOCKET TRACE_LOG CONSOLE_LOG
Runs until both sockets close or SIGTERM; prints a summary line on standard error at the end.
"""
import os
import re
import select
import signal
import socket
import sys
import time

MARKER = b"VMTEST uptime before tests"
FTDI_BAUD = re.compile(r"usb_serial_set_baud dev \S+ baud rate (\d+)")
FTDI_DATA = re.compile(r"usb_serial_set_data dev \S+ parity (\w), data bits (\d+)")
UART = re.compile(r"serial_update_parameters baudrate=(\d+) parity='(\w)' data=(\d+)")


class Ends:
    """The settings each end's chip was last given; None until the guest set them."""

    def __init__(self):
        self.adapter = [None, None, None]  # baud, parity letter, data bits
        self.line = [None, None, None]
        self.changes = []  # what was seen, for the summary

    def take(self, text, after_marker):
        m = FTDI_BAUD.search(text)
        if m:
            self.adapter[0] = int(m.group(1))
            self.note("adapter")
            return
        m = FTDI_DATA.search(text)
        if m:
            self.adapter[1], self.adapter[2] = m.group(1), int(m.group(2))
            self.note("adapter")
            return
        m = UART.search(text)
        if m and after_marker:
            self.line = [int(m.group(1)), m.group(2), int(m.group(3))]
            self.note("line")

    def note(self, which):
        value = self.adapter if which == "adapter" else self.line
        if None in value:
            return
        text = "%s %d%s%d" % (which, value[0], value[1], value[2])
        if not self.changes or self.changes[-1] != text:
            self.changes.append(text)

    def matched(self):
        return None not in self.adapter and self.adapter == self.line


class Tail:
    """New whole lines of a file that another process keeps writing."""

    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.rest = b""

    def lines(self):
        try:
            with open(self.path, "rb") as f:
                f.seek(self.offset)
                data = f.read()
        except OSError:
            return []
        self.offset += len(data)
        data = self.rest + data
        parts = data.split(b"\n")
        self.rest = parts.pop()
        return parts


def connect(path, deadline):
    while True:
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            s.connect(path)
            return s
        except OSError:
            s.close()
            if time.monotonic() > deadline:
                raise
            time.sleep(0.05)


def main():
    if len(sys.argv) != 5:
        sys.stderr.write(__doc__)
        return 2
    adapter_path, line_path, trace_path, console_path = sys.argv[1:]
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    deadline = time.monotonic() + 60
    adapter = connect(adapter_path, deadline)
    line = connect(line_path, deadline)
    trace, console = Tail(trace_path), Tail(console_path)
    ends = Ends()
    marker = False
    passed = {"to line": 0, "to adapter": 0}
    damaged = {"to line": 0, "to adapter": 0}
    open_ends = {adapter: (line, "to line"), line: (adapter, "to adapter")}

    def catch_up():
        nonlocal marker
        # The console first: trace lines read after the marker was printed are the line's.
        if not marker:
            marker = any(MARKER in text for text in console.lines())
        for text in trace.lines():
            ends.take(text.decode("ascii", "replace"), marker)

    while open_ends and not stop:
        try:
            ready, _, _ = select.select(list(open_ends), [], [], 0.05)
        except InterruptedError:
            continue
        catch_up()
        for s in ready:
            data = s.recv(4096)
            other, direction = open_ends[s]
            if not data:
                del open_ends[s]
                continue
            if ends.matched():
                passed[direction] += len(data)
            else:
                damaged[direction] += len(data)
                data = bytes(len(data))
            try:
                other.sendall(data)
            except OSError:
                pass
    sys.stderr.write(
        "vm-test: RS485 wire: passed %d bytes to the line, %d to the adapter; damaged %d and %d "
        "(settings apart); settings seen: %s\n"
        % (passed["to line"], passed["to adapter"], damaged["to line"], damaged["to adapter"],
           ", ".join(ends.changes) or "none"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
