"""Helpers of the Python test runners: failures collected per case, file reading and writing, a
closed port of 127.0.0.1, a scratch directory, polling, a program run, and the runner's main."""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

FAILURES = []
_RESERVED = []


class TestFailure(Exception):
    """A step a case cannot go on from."""


def fail(text, fatal=False):
    """Records a failure; a fatal one ends the case (TestFailure)."""
    if fatal:
        raise TestFailure(text)
    FAILURES.append(text)


def check(what, actual, want, fatal=False):
    if actual != want:
        fail("%s:\n  expected %.600r\n  actual   %.600r" % (what, want, actual), fatal)


def check_true(what, condition, detail="", fatal=False):
    if not condition:
        fail("%s %s" % (what, detail), fatal)


def closed_port():
    """A port of 127.0.0.1 that refuses connections at once: bound, not listening, until exit."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    _RESERVED.append(s)
    return s.getsockname()[1]


def write(path, data):
    """Writes bytes (or text as Latin-1) to path; returns path."""
    with open(path, "wb") as f:
        f.write(data.encode("latin-1") if isinstance(data, str) else data)
    return path


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


def wait_for(what, predicate, timeout=20.0, interval=0.05):
    """Polls predicate until it gives a true value, which it returns."""
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > end:
            raise TestFailure("timed out waiting for " + what)
        time.sleep(interval)


def run(exe, args, cwd, stdin=b"", timeout=30):
    """Runs exe with args (str or bytes); (exit code, stdout, stderr)."""
    proc = subprocess.run([exe] + list(args), cwd=cwd, input=stdin,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    return proc.returncode, proc.stdout, proc.stderr


class Scratch:
    """A scratch directory, removed by cleanup."""

    def __init__(self, prefix="vexlink-test-"):
        self.path = tempfile.mkdtemp(prefix=prefix)

    def file(self, *names):
        return os.path.join(self.path, *names)

    def cleanup(self):
        shutil.rmtree(self.path, ignore_errors=True)

    remove = cleanup


def main(cases, arg_names, context, bounds=None, default_bound=90):
    """Runs the case named by the last argument within its time bound (seconds) on context(other
    arguments), an object with cleanup() and optionally dump() (on failure); the exit code."""
    args = sys.argv[1:]
    if len(args) != len(arg_names) + 1 or args[-1] not in cases:
        print("usage: %s %s <%s>" % (os.path.basename(sys.argv[0]), " ".join("<%s>" % a for a in arg_names),
                                      "|".join(sorted(cases))))
        return 2
    name = args[-1]

    def bound(signum, frame):
        raise TestFailure("case %s did not end within its time bound" % name)

    signal.signal(signal.SIGALRM, bound)
    signal.alarm((bounds or {}).get(name, default_bound))
    ctx = context(args[:-1])
    try:
        cases[name](ctx)
    except (TestFailure, subprocess.TimeoutExpired, OSError, ValueError, IndexError, KeyError) as e:
        FAILURES.append("%s: %s" % (type(e).__name__, e))
    finally:
        signal.alarm(0)
        if FAILURES and hasattr(ctx, "dump"):
            ctx.dump()
        ctx.cleanup()
    print(name, end=": ")
    return report()
