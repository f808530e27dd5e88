#!/usr/bin/env python3
"""Runs a command in the running board and prints its output (the PC's end
of the command channel; the board's end is board/guest/agent).

    exec.py SOCKET [--timeout SECONDS] COMMAND...

SOCKET is the Unix socket qemu serves the board's second serial port on.
The words of COMMAND are joined with spaces into a shell script, which the
board runs with sh; its output (standard output and errors together) is
printed and its exit status is this program's. 124 means no answer within
the time (default 60 s), 125 that the channel could not be used. One
command at a time: callers wait for each other on SOCKET.lock.
"""
import base64
import fcntl
import os
import socket
import sys
import time


def main(argv):
    if len(argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    path = argv[1]
    args = argv[2:]
    timeout = 60.0
    if args[0] == "--timeout":
        timeout = float(args[1])
        args = args[2:]
    script = " ".join(args).encode()
    ident = "%d.%d" % (os.getpid(), time.monotonic_ns() % 1000000007)
    marker = ("\n@@board-done %s " % ident).encode()
    deadline = time.monotonic() + timeout
    with open(path + ".lock", "a") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        try:
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            s.connect(path)
        except OSError as e:
            sys.stderr.write("board: cannot reach %s: %s\n" % (path, e))
            return 125
        s.sendall(("%s %s\n" % (ident, base64.b64encode(script).decode())).encode())
        data = b""
        while True:
            end = data.find(marker)
            if end >= 0:
                nl = data.find(b"\n", end + len(marker))
                if nl >= 0:
                    status = data[end + len(marker):nl].strip()
                    # Output before an earlier request's end is not ours.
                    start = data.rfind(b"\n@@board-done ", 0, end)
                    start = 0 if start < 0 else data.find(b"\n", start + 1) + 1
                    sys.stdout.buffer.write(data[start:end])
                    sys.stdout.flush()
                    return int(status) if status.isdigit() else 125
            left = deadline - time.monotonic()
            if left <= 0:
                sys.stdout.buffer.write(data)
                sys.stderr.write("board: no answer within %g s\n" % timeout)
                return 124
            s.settimeout(left)
            try:
                chunk = s.recv(65536)
            except socket.timeout:
                continue
            if not chunk:
                sys.stderr.write("board: the channel closed\n")
                return 125
            data += chunk


if __name__ == "__main__":
    sys.exit(main(sys.argv))
