"""Helpers of the Python test runners: failures collected per case, file
reading and writing, and a port of 127.0.0.1 on which nothing listens.

A closed port is kept bound (without listening) until the runner ends: a
connection to it is refused at once, and no other test can take it in the
meantime, as it could after a bind-and-close.
"""
import socket

FAILURES = []
_RESERVED = []


def check(what, actual, want):
    if actual != want:
        FAILURES.append("%s:\n  expected %r\n  actual   %r" % (what, want, actual))


def check_true(what, condition, detail=""):
    if not condition:
        FAILURES.append("%s %s" % (what, detail))


def closed_port():
    """A port of 127.0.0.1 on which nothing listens, reserved until exit."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    _RESERVED.append(s)
    return s.getsockname()[1]


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def report():
    """Prints the failures or "ok"; the runner's exit code."""
    if FAILURES:
        print("\n".join(FAILURES))
        return 1
    print("ok")
    return 0
