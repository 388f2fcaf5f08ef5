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

# The Windows build's tests run the program through Wine (the CMake file
# sets VEXLINK_TEST_WRAPPER). Its standard output and error are text mode
# there: every line ends in CR LF, which text() checks and takes off so the
# expectations stay those of the Linux build.
WRAPPER = os.environ.get("VEXLINK_TEST_WRAPPER", "").split()
WINDOWS = bool(WRAPPER)
# Exit code of a case that cannot mean anything on Windows (ctest: skipped).
SKIPPED = 77


def text(data):
    """Output of a text-mode writer with LF line ends: on Windows, CR LF
    required and turned into LF; elsewhere as it is."""
    if not WINDOWS:
        return data
    if data.replace(b"\r\n", b"").count(b"\n"):
        FAILURES.append("a line ends without CR in Windows text output: %.300r" % data)
    return data.replace(b"\r\n", b"\n")


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


def host_path(path):
    """A path the program wrote (into the database) as this side finds it:
    under Wine a Windows path of drive Z: (the Linux root) or without drive,
    with backslashes."""
    if not WINDOWS:
        return path
    if len(path) >= 2 and path[1] == ":" and path[0] in "Zz":
        path = path[2:]
    return path.replace("\\", "/")


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
    proc = subprocess.run(WRAPPER + [exe] + list(args), cwd=cwd, input=stdin,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    return proc.returncode, text(proc.stdout), text(proc.stderr)


class Scratch:
    """A scratch directory, removed by cleanup."""

    def __init__(self, prefix="vexlink-test-"):
        self.path = tempfile.mkdtemp(prefix=prefix)

    def file(self, *names):
        return os.path.join(self.path, *names)

    def cleanup(self):
        shutil.rmtree(self.path, ignore_errors=True)

    remove = cleanup


def main(cases, arg_names, context, bounds=None, default_bound=90, windows_skips=None):
    """Runs the case named by the last argument within its time bound (in
    seconds) on context(other arguments): an object with cleanup() and,
    optionally, dump() (called when the case failed). Returns the exit code.
    windows_skips: case name -> why it cannot mean anything on Windows;
    such a case is skipped there (exit code SKIPPED) with its reason."""
    args = sys.argv[1:]
    if len(args) != len(arg_names) + 1 or args[-1] not in cases:
        print("usage: %s %s <%s>" % (os.path.basename(sys.argv[0]), " ".join("<%s>" % a for a in arg_names),
                                      "|".join(sorted(cases))))
        return 2
    name = args[-1]
    if WINDOWS and name in (windows_skips or {}):
        print("%s: skipped on Windows: %s" % (name, windows_skips[name]))
        return SKIPPED

    def bound(signum, frame):
        raise TestFailure("case %s did not end within its time bound" % name)

    signal.signal(signal.SIGALRM, bound)
    # Wine starts each program more slowly.
    signal.alarm((bounds or {}).get(name, default_bound) * (3 if WINDOWS else 1))
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
