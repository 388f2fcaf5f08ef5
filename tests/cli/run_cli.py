#!/usr/bin/env python3
"""Runs one command-line case against the vexlink binary.

usage: run_cli.py <vexlink> <expected-dir> <case>

Every case runs the program in a fresh scratch directory (removed at the
end), with a bounded run time, and compares the whole standard output, the
exit code, an empty standard error and, where the program writes files,
their whole content with the files in <expected-dir>.
"""
import datetime
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
import testrun  # noqa: E402
from testrun import FAILURES, Scratch, check, closed_port, main, read, write  # noqa: E402

EXE = None
EXPECTED = None

# Exit code of a run whose configuration step went through: it goes on to
# the transfer, pointed (no_host) at a port of 127.0.0.1 where nothing
# listens, so the connection is refused at once and the run ends with 16.
RUN_OK = 16

TOO_FEW = b"too few entry arguments, use -h for more details\n"
INI_DONE = b"\nThe new vexlink.ini file has been generated\n"
XML_DONE = b"\nThe new tcplogger.xml file has been generated\n"


def expected(name):
    return read(os.path.join(EXPECTED, name))


def run(args, cwd, stdin=b""):
    return testrun.run(EXE, args, cwd, stdin)


def expect_run(label, args, cwd, rc, out, stdin=b""):
    code, stdout, stderr = run(args, cwd, stdin)
    check(label + ": exit code", code, rc)
    check(label + ": standard output", stdout, out)
    check(label + ": standard error", stderr, b"")


def no_host():
    return ["-A", "127.0.0.1", "-O", str(closed_port())]


def expect_config_ok(label, args, cwd, stdin=b""):
    """A run whose configuration step succeeds: no output, RUN_OK."""
    expect_run(label, list(args) + no_host(), cwd, RUN_OK, b"", stdin)


def listing(cwd):
    return sorted(os.listdir(cwd))


def log_texts(directory, workdir):
    """The text part of every line of the run's log in directory (the
    program name column and what precedes it cut off), or None when there
    is no log file."""
    today = datetime.date.today()
    for d in (today, today - datetime.timedelta(days=1)):  # a run may cross midnight
        path = os.path.join(directory, "vexlink.%d-%02d-%02d.%s.log" % (d.year, d.month, d.day, workdir))
        if os.path.exists(path):
            data = read(path)
            matches = [(re.match(rb"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d vexlink   (.*)$", line), line)
                       for line in data.split(b"\n")[:-1]]
            return [m.group(1) if m else line for m, line in matches], data
    FAILURES.append("no log file for work directory %r in %r" % (workdir, os.listdir(directory)))
    return None, b""


# ---------------------------------------------------------------- cases

def case_help_variants(cwd):
    usage = expected("usage.txt")
    expect_run("no arguments", [], cwd, 8, TOO_FEW)
    expect_run("-h", ["-h"], cwd, 4, usage)
    expect_run("/h", ["/h"], cwd, 4, usage)
    check("-h: no files", listing(cwd), [])
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
    check("-g: only vexlink.ini", listing(cwd), ["vexlink.ini"])
    expect_config_ok("-c generated", ["-c", "vexlink.ini", "-U", "USER"], cwd, stdin=b"cGFzcw==\n")


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
        ["-U", "user", "-d", "work", "-l", "0"],  # no -c
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
        expect_config_ok("odd value", args, cwd, stdin=b"pw\n")
    check("odd: no files", listing(cwd), ["v.ini"])


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
    expect_config_ok("complete", args, cwd, stdin=b"cGFzc3dvcmQ=\r\n")
    expect_config_ok("slash options", ["/c", "v.ini", "/U", "U2"], cwd, stdin=b"cGFzc3dvcmQ=\n")
    check("complete: no files", listing(cwd), ["v.ini"])


def case_password_input(cwd):
    write(os.path.join(cwd, "v.ini"), b"[TCP]\nPASSWORD=INI\n")
    for label, data in (("empty", b""), ("line feed only", b"\n"), ("CR LF only", b"\r\n"),
                        ("long line", b"P" * 100000 + b"\n"), ("no line end", b"cGFzcw=="),
                        ("binary", bytes(range(256)) * 64)):
        expect_config_ok("password " + label, ["-c", "v.ini"], cwd, stdin=data)
    # Standard input closed entirely.
    proc = subprocess.run([EXE, "-c", "v.ini"] + no_host(), cwd=cwd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
    check("closed stdin: exit code", proc.returncode, RUN_OK)
    check("closed stdin: output", proc.stdout + proc.stderr, b"")


def case_binary_ini(cwd):
    noise = bytes(((i * 151 + 7) & 0xFF) for i in range(65536))
    write(os.path.join(cwd, "noise.ini"), noise)
    expect_config_ok("binary ini", ["-c", "noise.ini"], cwd, stdin=b"pw\n")
    write(os.path.join(cwd, "nul.ini"), b"\0" * 1000 + b"\n[TCP]\0\nUSERID=\0U\n" + b"\0")
    expect_config_ok("NUL ini", ["-c", "nul.ini"], cwd, stdin=b"pw\n")
    write(os.path.join(cwd, "long.ini"), b"[" + b"S" * 300000 + b"]\n" + b"K=" + b"v" * 300000)
    expect_config_ok("long lines ini", ["-c", "long.ini"], cwd, stdin=b"pw\n")
    write(os.path.join(cwd, "empty.ini"), b"")
    expect_config_ok("empty ini", ["-c", "empty.ini"], cwd, stdin=b"pw\n")


def case_log_configuration(cwd):
    # What the configuration step writes to the log, in order, and that no
    # secret reaches it: a PASSWORD key before any section, the INI file's
    # TCP.PASSWORD and TCP.TCPCRYPTKEY, and the password line.
    secrets = [b"toplevelsecret", b"inisecret", b"cryptsecret", b"c2VjcmV0"]
    write(os.path.join(cwd, "v.ini"),
          b"PASSWORD=toplevelsecret\n SPACED =x\n[GLOBAL]\nMSGLEVEL=2\n[TCP]\nUSERID=INIUSER\n"
          b"PASSWORD=inisecret\nTCPCRYPTKEY=cryptsecret\n[FTP]\nT1=60\nT0=30\n")
    logdir = cwd + "/"
    args = ["-l", "1", "-D", logdir, "-d", "wd", "-U", "ARGU", "-U", "ARGU2", "-A", "1.1.1.1",
            "-c", "v.ini", "-A", "127.0.0.1", "-S", "3", "-O", str(closed_port())]
    code, stdout, stderr = run(args, cwd, b"c2VjcmV0\r\n")
    check("log configuration: exit code", code, RUN_OK)
    check("log configuration: output", stdout + stderr, b"")
    texts, data = log_texts(cwd, "wd")
    if texts is None:
        return
    for secret in secrets:
        check("secret %r not in the log" % secret, secret in data, False)
    want = [
        b"*** AddNewARGParm Name=Value: GLOBAL.LOG=1",
        b"*** AddNewARGParm Name=Value: GLOBAL.LOG_PATH=" + logdir.encode(),
        b"*** AddNewARGParm Name=Value: GLOBAL.WORK_DIR=wd",
        b"*** AddNewARGParm Name=Value: TCP.USERID=ARGU",
        b"*** AddNewARGParm Name=Value: TCP.USERID=ARGU2",
        b"*** AddNewARGParm Name=Value: TCP.IP_ADDR=1.1.1.1",
        b"INI file found: v.ini",
        b"*** AddNewINIParm Name=Value: PASSWORD=********",
        b"*** AddNewINIParm Name=Value: SPACED =x",
        b"*** AddNewINIParm Name=Value: GLOBAL.MSGLEVEL=2",
        b"*** AddNewINIParm Name=Value: TCP.USERID=INIUSER",
        b"*** AddNewINIParm Name=Value: TCP.TCPCRYPTKEY=********",
        b"*** AddNewINIParm Name=Value: FTP.T0=30",
        b"*** ChangeINIParmByARG Name=Value: TCP.USERID=INIUSER",
        b"*** ChangeINIParmByARG Name=Value: TCP.IP_ADDR=127.0.0.1",
    ]
    start = [i for i, t in enumerate(texts) if t.startswith(b"*** ")]
    first = start[0] if start else len(texts)
    check("log configuration: lines", texts[first:first + len(want)], want)
    check("log configuration: no empty-password warning", b"Password is empty!" in texts, False)
    # The password line's CR LF is taken off before it is decoded.
    check("log configuration: the password line decoded", b"Error decoding Base64" in texts, False)


def case_log_failures(cwd):
    write(os.path.join(cwd, "v2.ini"), b"[GLOBAL]\nMSGLEVEL=2\n")
    long_arg = "L" * 5000
    cases = [
        ("a", ["-C"], 8, b"Invalid argument: -C"),
        ("b", ["-c"], 8, b"Invalid argument: -c"),
        ("c", ["file.ini"], 8, b"Invalid argument: file.ini"),
        ("d", ["-c", "v2.ini", "-U"], 8, b"Invalid argument: -U"),
        ("e", ["-c", "missing.ini"], 8, b"INI file can't be read, check a file name and path (missing.ini)"),
        ("f", [], 8, b"-c argument with .INI file missing"),
        ("g", ["-c", "v2.ini"] + no_host(), RUN_OK, b"Password is empty!"),
        # Too long for one log message: the logger writes its own
        # replacement line naming the format.
        ("h", [long_arg], 8, b"CANNOT PRINTF, format=Invalid argument: %s"),
        ("i", [long_arg[:900]], 8, b"Invalid argument: " + long_arg.encode()[:900]),
    ]
    for workdir, extra, rc, line in cases:
        code, stdout, stderr = run(["-l", "1", "-D", cwd + "/", "-d", workdir] + extra, cwd, b"")
        check("log failure %s: exit code" % workdir, code, rc)
        check("log failure %s: output" % workdir, stdout + stderr, b"")
        texts, _ = log_texts(cwd, workdir)
        if texts is not None:
            check("log failure %s: line %r" % (workdir, line[:60]),
                  any(t.startswith(line) for t in texts), True)


def context(args):
    global EXE, EXPECTED
    EXE, EXPECTED = os.path.abspath(args[0]), args[1]
    return Scratch("vexlink-cli-")


CASES = {name[5:]: (lambda fn: lambda scratch: fn(scratch.path))(fn)
         for name, fn in list(globals().items()) if name.startswith("case_")}

if __name__ == "__main__":
    sys.exit(main(CASES, ["vexlink", "expected-dir"], context, default_bound=50))
