#!/usr/bin/env python3
"""Runs one command-line case against the vexlink binary.

usage: run_cli.py <vexlink> <expected-dir> <case>

Every case runs the program in a fresh scratch directory (removed at the
end), with a bounded run time, and compares the whole standard output, the
exit code, an empty standard error and, where the program writes files,
their whole content with the files in <expected-dir>.
"""
import os
import shutil
import subprocess
import sys
import tempfile

EXE = None
EXPECTED = None
FAILURES = []

TOO_FEW = b"too few entry arguments, use -h for more details\n"
INI_DONE = b"\nThe new vexlink.ini file has been generated\n"
XML_DONE = b"\nThe new tcplogger.xml file has been generated\n"


def expected(name):
    with open(os.path.join(EXPECTED, name), "rb") as f:
        return f.read()


def run(args, cwd, stdin=b""):
    """Runs vexlink with args (str or bytes); returns (exit code, stdout, stderr)."""
    proc = subprocess.run([EXE] + list(args), cwd=cwd, input=stdin,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
    return proc.returncode, proc.stdout, proc.stderr


def check(what, actual, want):
    if actual != want:
        FAILURES.append("%s:\n  expected %r\n  actual   %r" % (what, want[:400], actual[:400]))


def expect_run(label, args, cwd, rc, out, stdin=b""):
    code, stdout, stderr = run(args, cwd, stdin)
    check(label + ": exit code", code, rc)
    check(label + ": standard output", stdout, out)
    check(label + ": standard error", stderr, b"")


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def listing(cwd):
    return sorted(os.listdir(cwd))


# ---------------------------------------------------------------- cases

def case_no_arguments(cwd):
    expect_run("no arguments", [], cwd, 8, TOO_FEW)
    check("no arguments: no files", listing(cwd), [])


def case_help(cwd):
    usage = expected("usage.txt")
    expect_run("-h", ["-h"], cwd, 4, usage)
    expect_run("/h", ["/h"], cwd, 4, usage)
    check("-h: no files", listing(cwd), [])


def case_help_variants(cwd):
    usage = expected("usage.txt")
    write(os.path.join(cwd, "v.ini"), b"[TCP]\nUSERID=U\n")
    # Before -c: the INI file is never opened, so a missing one is no error.
    expect_run("-h -c missing", ["-h", "-c", "missing.ini"], cwd, 4, usage)
    # After -c: the file is read first; later arguments are never examined.
    expect_run("-c v.ini -h", ["-c", "v.ini", "-h", "--bad--"], cwd, 4, usage, stdin=b"pw\n")
    expect_run("-c missing -h", ["-c", "missing.ini", "-h"], cwd, 8, b"")
    # An invalid argument before -h wins.
    expect_run("-C -h", ["-C", "-h"], cwd, 8, b"")
    # Only the first informational option runs.
    expect_run("-h -g", ["-h", "-g"], cwd, 4, usage)
    check("-h -g: no file written", sorted(listing(cwd)), ["v.ini"])


def case_table_list(cwd):
    expect_run("-t", ["-t"], cwd, 4, expected("tablelist.txt"))
    expect_run("-U u -t", ["-U", "u", "-t", "-h"], cwd, 4, expected("tablelist.txt"))


def case_generate_ini(cwd):
    ini = os.path.join(cwd, "vexlink.ini")
    write(ini, b"old content that is longer than nothing\n" * 1000)
    expect_run("-g", ["-g"], cwd, 4, INI_DONE)
    check("-g: vexlink.ini", read(ini), expected("vexlink.ini"))
    check("-g: line count", read(ini).count(b"\n"), 115)
    check("-g: only vexlink.ini", listing(cwd), ["vexlink.ini"])


def case_generate_ini_unwritable(cwd):
    # A directory in the way: the file cannot be created, which is not
    # reported; the completion message and exit code 4 still come.
    os.mkdir(os.path.join(cwd, "vexlink.ini"))
    expect_run("-g blocked", ["-g"], cwd, 4, INI_DONE)
    os.mkdir(os.path.join(cwd, "tcplogger.xml"))
    expect_run("-x blocked", ["-x"], cwd, 4, XML_DONE)
    check("blocked: still directories",
          [os.path.isdir(os.path.join(cwd, n)) for n in ("vexlink.ini", "tcplogger.xml")], [True, True])


def case_generate_xml(cwd):
    xml = os.path.join(cwd, "tcplogger.xml")
    write(xml, b"x" * 5000)
    expect_run("-x", ["-x"], cwd, 4, XML_DONE)
    data = read(xml)
    check("-x: tcplogger.xml", data, expected("tcplogger.xml"))
    check("-x: no line end after the last line", data.endswith(b"</talverix>"), True)
    check("-x: only tcplogger.xml", listing(cwd), ["tcplogger.xml"])


def case_invalid_arguments(cwd):
    write(os.path.join(cwd, "v.ini"), b"[TCP]\nUSERID=U\n")
    bad = [
        ["v.ini"],                 # a file name without -c
        ["-c"],                    # -c as the last argument
        ["-c", "v.ini", "-U"],     # value missing after other options
        ["-C", "v.ini"],           # letters are case-sensitive
        ["-c", "v.ini", "-z"],     # unknown letter
        ["--c", "v.ini"],
        ["-cv.ini"],
        ["-:"],
        ["-"],
        ["/"],
        ["-c", "v.ini", "extra"],
    ]
    for args in bad:
        expect_run("invalid %r" % args, args, cwd, 8, b"", stdin=b"pw\n")
    check("invalid: no files", listing(cwd), ["v.ini"])


def case_odd_arguments(cwd):
    write(os.path.join(cwd, "v.ini"), b"[TCP]\nUSERID=U\n")
    long_arg = "A" * 100000
    odd = [
        [""],
        ["", ""],
        ["-c", "v.ini", ""],
        [long_arg],
        ["-" + long_arg],
        ["-c", "v.ini", b"\xff\xfe\x80"],
        [b"-\xc4"],
        [b"\x01\x02\x1b[2J"],
    ]
    for args in odd:
        expect_run("odd argument", args, cwd, 8, b"", stdin=b"pw\n")
    # Odd but valid values are simply stored.
    for args in (["-c", "v.ini", "-U", ""], ["-c", "v.ini", "-d", long_arg],
                 ["-c", "v.ini", "-A", b"\xff\x00"[:1]], ["-U", "-c", "-c", "v.ini"]):
        expect_run("odd value", args, cwd, 0, b"", stdin=b"pw\n")
    check("odd: no files", listing(cwd), ["v.ini"])


def case_missing_c(cwd):
    expect_run("no -c", ["-U", "user", "-d", "work", "-l", "0"], cwd, 8, b"", stdin=b"pw\n")


def case_unreadable_ini(cwd):
    expect_run("missing ini", ["-c", os.path.join(cwd, "none.ini")], cwd, 8, b"", stdin=b"pw\n")
    expect_run("empty name", ["-c", ""], cwd, 8, b"", stdin=b"pw\n")
    os.mkdir(os.path.join(cwd, "dir.ini"))
    expect_run("directory as ini", ["-c", "dir.ini"], cwd, 8, b"", stdin=b"pw\n")
    write(os.path.join(cwd, "ok.ini"), b"[TCP]\nUSERID=U\n")
    expect_run("second ini missing", ["-c", "ok.ini", "-c", "none.ini"], cwd, 8, b"", stdin=b"pw\n")


def case_full_configuration(cwd):
    write(os.path.join(cwd, "v.ini"), b"[GLOBAL]\nMSGLEVEL=1\n[TCP]\nUSERID=U\nMEMBER=M\n")
    args = ["-c", "v.ini", "-d", "run1", "-U", "USER", "-A", "127.0.0.1", "-O", "15200", "-S", "2",
            "-D", "logs", "-l", "0"]
    expect_run("complete", args, cwd, 0, b"", stdin=b"cGFzc3dvcmQ=\r\n")
    expect_run("slash options", ["/c", "v.ini", "/U", "U2"], cwd, 0, b"", stdin=b"cGFzc3dvcmQ=\n")
    check("complete: no files", listing(cwd), ["v.ini"])


def case_password_input(cwd):
    write(os.path.join(cwd, "v.ini"), b"[TCP]\nPASSWORD=INI\n")
    for label, data in (("empty", b""), ("line feed only", b"\n"), ("CR LF only", b"\r\n"),
                        ("long line", b"P" * 100000 + b"\n"), ("no line end", b"cGFzcw=="),
                        ("binary", bytes(range(256)) * 64)):
        expect_run("password " + label, ["-c", "v.ini"], cwd, 0, b"", stdin=data)
    # Standard input closed entirely.
    proc = subprocess.run([EXE, "-c", "v.ini"], cwd=cwd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
    check("closed stdin: exit code", proc.returncode, 0)
    check("closed stdin: output", proc.stdout + proc.stderr, b"")


def case_binary_ini(cwd):
    noise = bytes(((i * 151 + 7) & 0xFF) for i in range(65536))
    write(os.path.join(cwd, "noise.ini"), noise)
    expect_run("binary ini", ["-c", "noise.ini"], cwd, 0, b"", stdin=b"pw\n")
    write(os.path.join(cwd, "nul.ini"), b"\0" * 1000 + b"\n[TCP]\0\nUSERID=\0U\n" + b"\0")
    expect_run("NUL ini", ["-c", "nul.ini"], cwd, 0, b"", stdin=b"pw\n")
    write(os.path.join(cwd, "long.ini"), b"[" + b"S" * 300000 + b"]\n" + b"K=" + b"v" * 300000)
    expect_run("long lines ini", ["-c", "long.ini"], cwd, 0, b"", stdin=b"pw\n")
    write(os.path.join(cwd, "empty.ini"), b"")
    expect_run("empty ini", ["-c", "empty.ini"], cwd, 0, b"", stdin=b"pw\n")


def case_generated_ini_read_back(cwd):
    expect_run("-g", ["-g"], cwd, 4, INI_DONE)
    expect_run("-c generated", ["-c", "vexlink.ini", "-U", "USER"], cwd, 0, b"", stdin=b"cGFzcw==\n")


def main():
    global EXE, EXPECTED
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    EXE, EXPECTED, name = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3]
    case = globals().get("case_" + name)
    if case is None:
        print("unknown case " + name)
        return 2
    cwd = tempfile.mkdtemp(prefix="vexlink-cli-")
    try:
        case(cwd)
    finally:
        shutil.rmtree(cwd, ignore_errors=True)
    for failure in FAILURES:
        print("FAIL " + failure)
    if not FAILURES:
        print("ok " + name)
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
