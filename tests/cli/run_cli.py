#!/usr/bin/env python3
"""Command-line cases of vexlink, each in a fresh scratch directory: whole standard output, exit
code, empty standard error, and written files against <expected-dir>.
usage: run_cli.py <vexlink> <expected-dir> <case>"""
import contextlib
import datetime
import os
import re
import socket
import sqlite3
import stat
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
import testrun  # noqa: E402
from testrun import FAILURES, Scratch, check, check_true, closed_port, fail, main, read, text, write  # noqa: E402

EXE = None
EXPECTED = None

# Exit code of a run whose configuration went through: its connection (no_host) is refused at once.
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


STARS = b"*" * 55
ASCTIME = rb"[A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4}"
FRAME = [STARS, rb".+", rb"VEXLINK: FTP client, x64, supporting TLS",
         rb"compiled [A-Z][a-z]{2} [ \d]\d \d{4} \d\d:\d\d:\d\d", rb"started at " + ASCTIME, STARS,
         rb"VEXLINK: VERSION=07\.04\.00", rb"VEXLINK: PID=\d+", rb"VEXLINK: PHP_HANDLER=%s",
         rb"VEXLINK: LIBWIRECOMM_VERSION=2\.8\.1", rb"VEXLINK: SQLITE_VERSION: \d+\.\d+\.\d+"]


def log_texts(directory, workdir, prefix=""):
    """(texts after date, time and program name, whole log) of the run's log in directory, the
    frame (prologue, VEXLINK lines, epilogue) checked; (None, b"") when there is none."""
    today = datetime.date.today()
    for d in (today, today - datetime.timedelta(days=1)):  # a run may cross midnight
        path = os.path.join(directory, "%svexlink.%s.%s.log" % (prefix, d.isoformat(), workdir))
        if os.path.exists(path):
            data = text(read(path))
            check("log ends with a line feed", data.endswith(b"\n"), True)
            texts = []
            for line in data.split(b"\n")[:-1]:
                m = re.match(rb"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d vexlink   (.*)$", line)
                check("log line layout", m is not None, True)
                texts.append(m.group(1) if m else line)
            frame = [re.escape(workdir.encode()).join(f.split(b"%s")) if f != STARS else re.escape(f) for f in FRAME]
            head = [bool(re.fullmatch(f, t)) for f, t in zip(frame, texts)] + [False] * (len(frame) - len(texts))
            check("log prologue %r" % texts[:11], head, [True] * len(frame))
            check_true("log epilogue", len(texts) > 13 and texts[-3] == texts[-1] == STARS and
                       re.fullmatch(rb"Ended at " + ASCTIME + rb" with RC=\d+", texts[-2]), repr(texts[-3:]))
            check("stars only in the banners", texts.count(STARS), 4)
            return texts, data
    FAILURES.append("no log file for work directory %r in %r" % (workdir, os.listdir(directory)))
    return None, b""


# ---------------------------------------------------------------- cases

def case_help_variants(cwd):
    usage = expected("usage.txt")
    expect_run("no arguments", [], cwd, 8, TOO_FEW)
    expect_run("-h", ["-h"], cwd, 4, usage)
    check("-h: no files", listing(cwd), [])
    write(os.path.join(cwd, "v.ini"), b"[TCP]\nUSERID=U\n")
    # /h is -h; an INI file after -h is never opened; one before it is read first and later arguments
    # are never examined; an invalid argument before -h wins; only the first informational option runs.
    for args, rc, out in ((["/h"], 4, usage), (["-h", "-c", "missing.ini"], 4, usage),
                          (["-c", "v.ini", "-h", "--bad--"], 4, usage), (["-c", "missing.ini", "-h"], 8, b""),
                          (["-C", "-h"], 8, b""), (["-h", "-g"], 4, usage)):
        expect_run(" ".join(args), args, cwd, rc, out, stdin=b"pw\n")
    check("-h -g: no file written", listing(cwd), ["v.ini"])


def case_table_list(cwd):
    expect_run("-t", ["-t"], cwd, 4, expected("tablelist.txt"))
    expect_run("-U u -t", ["-U", "u", "-t", "-h"], cwd, 4, expected("tablelist.txt"))


def case_generate_ini(cwd):
    ini = os.path.join(cwd, "vexlink.ini")
    write(ini, b"old content that is longer than nothing\n" * 1000)
    expect_run("-g", ["-g"], cwd, 4, INI_DONE)
    check("-g: vexlink.ini", text(read(ini)), expected("vexlink.ini"))
    check("-g: only vexlink.ini", listing(cwd), ["vexlink.ini"])
    # Its TEMP_PATH (a Windows path) does not exist here: refused before the host is contacted.
    expect_run("-c generated", ["-c", "vexlink.ini", "-U", "USER"] + no_host(), cwd, 8, b"", stdin=b"cGFzcw==\n")
    check("-c generated: nothing created", listing(cwd), ["vexlink.ini"])


def case_generate_ini_unwritable(cwd):
    # A directory in the way: not reported; the completion message and exit code 4 still come.
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
    data = text(read(xml))
    check("-x: tcplogger.xml", data, expected("tcplogger.xml"))
    check("-x: no line end after the last line", data.endswith(b"</talverix>"), True)
    check("-x: only tcplogger.xml", listing(cwd), ["tcplogger.xml"])


def case_refused_arguments(cwd):
    """Invalid or odd arguments and unreadable INI files: exit 8, no output, no files."""
    write(os.path.join(cwd, "v.ini"), b"[TCP]\nUSERID=U\n")
    os.mkdir(os.path.join(cwd, "dir.ini"))
    # Windows takes a command line of at most 32,767 characters: a longer one never starts the
    # program (the caller's CreateProcess fails), so there the long argument stays inside it.
    long_arg = "A" * (30000 if testrun.WINDOWS else 100000)
    # A file name without -c, -c last, a value missing, case-sensitive letters, an unknown one, ..., no -c.
    bad = [["v.ini"], ["-c"], ["-c", "v.ini", "-U"], ["-C", "v.ini"], ["-c", "v.ini", "-z"], ["--c", "v.ini"],
           ["-cv.ini"], ["-:"], ["-"], ["/"], ["-c", "v.ini", "extra"], ["-U", "user", "-d", "work", "-l", "0"]]
    odd = [[""], ["", ""], ["-c", "v.ini", ""], [long_arg], ["-" + long_arg], ["-c", "v.ini", b"\xff\xfe\x80"],
           [b"-\xc4"], [b"\x01\x02\x1b[2J"]]
    unreadable = [["-c", "none.ini"], ["-c", ""], ["-c", "dir.ini"], ["-c", "v.ini", "-c", "none.ini"]]
    # The last: a work directory that cannot be created, refused at once.
    for args in bad + odd + unreadable + [["-c", "v.ini", "-d", long_arg] + no_host()]:
        expect_run("refused %.60r" % args, args, cwd, 8, b"", stdin=b"pw\n")
    # Odd but valid values are simply stored.
    for args in (["-c", "v.ini", "-U", ""], ["-c", "v.ini", "-A", b"\xff\x00"[:1]], ["-U", "-c", "-c", "v.ini"]):
        expect_config_ok("odd value", args, cwd, stdin=b"pw\n")
    if testrun.WINDOWS:
        # Names Windows forbids: no work directory, refused at once.
        for name in ("w*?", "a:b", "q<>", 'x"y', "p|q"):
            expect_run("forbidden name %r" % name, ["-c", "v.ini", "-d", name] + no_host(), cwd, 8, b"",
                       stdin=b"pw\n")
        code, _, _ = testrun.run(EXE, ["A" * 33000], cwd)
        check("a command line over 32,767 characters does not start", code != 0 and code != RUN_OK, True)
    check("refused: no files", listing(cwd), ["dir.ini", "v.ini"])


def case_full_configuration(cwd):
    write(os.path.join(cwd, "v.ini"), b"[GLOBAL]\nMSGLEVEL=1\nTEMP_PATH=" + cwd.encode() + b"\n[TCP]\nUSERID=U\nMEMBER=M\n")
    args = ["-c", "v.ini", "-d", "run1", "-U", "USER", "-A", "127.0.0.1", "-O", "15200", "-S", "2",
            "-D", "logs", "-l", "0"]
    expect_config_ok("complete", args, cwd, stdin=b"cGFzc3dvcmQ=\r\n")
    expect_config_ok("slash options", ["/c", "v.ini", "/U", "U2"], cwd, stdin=b"cGFzc3dvcmQ=\n")
    check("complete: only the work directory", listing(cwd), ["run1", "v.ini"])


def case_password_input(cwd):
    """The password line is trimmed; empty or "*" logs on without password; none or not Base64: exit 8,
    System -8, and nothing reaches the host."""
    write(os.path.join(cwd, "v.ini"),
          b"[GLOBAL]\nMSGLEVEL=1\nTEMP_PATH=" + cwd.encode() + b"\n[TCP]\nPASSWORD=INI\n[SQLITE]\nDBNAME=q.db\n")
    listener = socket.create_server(("127.0.0.1", 0))
    host = ["-A", "127.0.0.1", "-O", str(listener.getsockname()[1])]
    empty = b'Password line empty or "*": logon without password, password check off'
    decoded = b"Password successfully decoded"
    refused = b"Password line is not a valid Base64 password, run refused"
    rows = [
        ("a", b"", 8, b"Password line missing: standard input ended without a line, run refused"),
        ("b", b"\n", RUN_OK, empty),
        ("c", b"\r\n", RUN_OK, empty),
        ("d", b" * \n", RUN_OK, empty),
        ("e", b"cGFzcw== \t\n", RUN_OK, decoded),
        ("f", b"\tcGFzcw\r\n", RUN_OK, decoded),
        ("g", b"cGFzcw==", RUN_OK, decoded),
        ("h", b"P" * 100000 + b"\n", RUN_OK, decoded),
        ("i", b"!!!!####\n", 8, refused),
        ("j", b"cGF zcw==\n", 8, refused),
        ("k", b"QQ==QUJD\n", 8, refused),
        ("l", b"AA==\n", 8, refused),  # a NUL byte cannot travel in a C text
        ("m", bytes(range(256)) * 64, 8, refused),
    ]
    for workdir, data, rc, line in rows:
        code, texts = run_logged(cwd, workdir, ["-c", "v.ini"] + (host if rc == 8 else no_host()), data)
        check("password %s: exit code" % workdir, code, rc)
        check("password %s: line %r" % (workdir, line), line in texts, True)
        if rc == 8:
            check("password %s: System" % workdir, sql(os.path.join(cwd, workdir, "q.db"), "SELECT PID FROM System"),
                  [(-8,)])
    listener.setblocking(False)
    with contextlib.suppress(BlockingIOError):
        listener.accept()
        fail("a refused password line reached the host")
    listener.close()
    # Standard input closed entirely.
    proc = subprocess.run(testrun.WRAPPER + [EXE, "-c", "v.ini"] + no_host(), cwd=cwd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
    check("closed stdin: exit code", proc.returncode, 8)
    check("closed stdin: output", proc.stdout + proc.stderr, b"")


def case_binary_ini(cwd):
    for name, content in (("noise.ini", bytes(((i * 151 + 7) & 0xFF) for i in range(65536))),
                          ("nul.ini", b"\0" * 1000 + b"\n[TCP]\0\nUSERID=\0U\n" + b"\0"),
                          ("long.ini", b"[" + b"S" * 300000 + b"]\n" + b"K=" + b"v" * 300000), ("empty.ini", b"")):
        write(os.path.join(cwd, name), content)
        expect_config_ok(name, ["-c", name], cwd, stdin=b"pw\n")


def case_log_configuration(cwd):
    # The configuration's log lines in order, and no secret of the INI file or the password line.
    secrets = [b"toplevelsecret", b"inisecret", b"cryptsecret", b"c2VjcmV0"]
    write(os.path.join(cwd, "v.ini"),
          b"PASSWORD=toplevelsecret\n SPACED =x\n[GLOBAL]\nMSGLEVEL=2\nTEMP_PATH=" + cwd.encode() + b"\n[TCP]\nUSERID=INIUSER\n"
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
        b"*** AddNewINIParm Name=Value: GLOBAL.TEMP_PATH=" + cwd.encode(),
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
    write(os.path.join(cwd, "v2.ini"), b"[GLOBAL]\nMSGLEVEL=2\nTEMP_PATH=" + cwd.encode() + b"\n")
    long_arg = "L" * 5000
    cases = [
        ("a", ["-C"], 8, b"Invalid argument: -C"),
        ("b", ["-c"], 8, b"Invalid argument: -c"),
        ("c", ["file.ini"], 8, b"Invalid argument: file.ini"),
        ("d", ["-c", "v2.ini", "-U"], 8, b"Invalid argument: -U"),
        ("e", ["-c", "missing.ini"], 8, b"INI file can't be read, check a file name and path (missing.ini)"),
        ("f", [], 8, b"-c argument with .INI file missing"),
        ("g", ["-c", "v2.ini"] + no_host(), 8, b"Password is empty!"),
        # Too long for one log message: the logger's replacement line naming the format.
        ("h", [long_arg], 8, b"CANNOT PRINTF, format=Invalid argument: %s"),
        ("i", [long_arg[:900]], 8, b"Invalid argument: " + long_arg.encode()[:900]),
    ]
    for workdir, extra, rc, line in cases:
        code, texts = run_logged(cwd, workdir, extra, b"")
        check("log failure %s: exit code" % workdir, code, rc)
        check("log failure %s: line %r" % (workdir, line[:60]), any(t.startswith(line) for t in texts), True)
        check_true("log failure %s: the exit code in the epilogue" % workdir,
                   texts[-2:-1] and texts[-2].endswith(b"RC=8"))


def run_logged(cwd, workdir, args, stdin=b"cGFzcw==\n"):
    """A run logging to cwd, its output empty; (exit code, log texts)."""
    code, stdout, stderr = run(["-l", "1", "-D", cwd + "/", "-d", workdir] + list(args), cwd, stdin)
    check(workdir + ": output", stdout + stderr, b"")
    return code, log_texts(cwd, workdir)[0] or []


def sql(path, script):
    """Runs the statements of script on the database at path; the rows of the last."""
    with contextlib.closing(sqlite3.connect(path)) as db, db:
        return [db.execute(statement).fetchall() for statement in script.split(";")][-1]


def run_ini(cwd, workdir, ini, extra=()):
    """run_logged with the INI text ini (its MSGLEVEL applies)."""
    write(os.path.join(cwd, "r.ini"), ini)
    return run_logged(cwd, workdir, ["-c", "r.ini"] + no_host() + list(extra))


def case_paths_and_files(cwd):
    """DBNAME is a plain name; no link followed; non-SQLite left alone; files owner-only (one run per
    work directory: tests/e2e)."""
    tmp = os.path.join(cwd, "tmp")
    os.mkdir(tmp)
    victim = os.path.join(cwd, "victim.txt")
    write(victim, b"not a database\n")
    base = b"[GLOBAL]\nMSGLEVEL=1\nTEMP_PATH=" + tmp.encode() + b"\n[SQLITE]\n"
    for n, name in enumerate([b"../../victim.txt", b"sub/q.db", b"..", b"c:q.db", b"a\\b.db"]):
        code, texts = run_ini(cwd, "d%d" % n, base + b"DBNAME=" + name + b"\n")
        check("DBNAME %r: exit code" % name, code, 8)
        check("DBNAME %r: refused" % name,
              ("SQLITE.DBNAME '%s' refused: it must be a plain file name" % name.decode()).encode() in texts, True)
    check("the file outside is untouched", read(victim), b"not a database\n")
    plain = base + b"DBNAME=q.db\n"

    # Not SQLite where the database goes, or a link there: refused, left alone.
    os.mkdir(os.path.join(tmp, "n"))
    write(os.path.join(tmp, "n", "q.db"), b"precious text\n")
    os.mkdir(os.path.join(tmp, "l"))
    sql(os.path.join(cwd, "other.db"), "CREATE TABLE Keep (x)")
    os.symlink(os.path.join(cwd, "other.db"), os.path.join(tmp, "l", "q.db"))
    for workdir, line in (("n", "is not an SQLite database: refused and left alone"),
                          ("l", "is not a regular file: refused")):
        code, texts = run_ini(cwd, workdir, plain)
        check("%s: exit code" % workdir, code, 8)
        check("%s: line" % workdir, any(line.encode() in t for t in texts), True)
    check("the text file is left alone", read(os.path.join(tmp, "n", "q.db")), b"precious text\n")
    check("the linked database keeps its table", sql(os.path.join(cwd, "other.db"), "SELECT name FROM sqlite_master"),
          [("Keep",)])

    # A work directory that is a link.
    os.mkdir(os.path.join(cwd, "elsewhere"))
    os.symlink(os.path.join(cwd, "elsewhere"), os.path.join(tmp, "s"))
    code, texts = run_ini(cwd, "s", plain)
    check("linked work directory: exit code", code, 8)
    check("linked work directory: nothing put there", listing(os.path.join(cwd, "elsewhere")), [])

    # Whatever the umask: work directory 0700, database and log 0600.
    old = os.umask(0)
    try:
        code, texts = run_ini(cwd, "m", plain)
    finally:
        os.umask(old)
    check("modes: exit code", code, RUN_OK)
    log_name = [n for n in os.listdir(cwd) if n.endswith(".m.log")]
    modes = [stat.S_IMODE(os.stat(p).st_mode) for p in
             [os.path.join(tmp, "m"), os.path.join(tmp, "m", "q.db")] + [os.path.join(cwd, n) for n in log_name]]
    check("modes of work directory, database, log", modes, [0o700, 0o600, 0o600])
    check("the lock file is removed at the end", os.path.exists(os.path.join(tmp, "m", "vexlink.lock")), False)


def case_timeouts_and_ports(cwd):
    """Out-of-range time-outs are clamped with a level 1 line; a port outside 0..65535 refuses the run."""
    rows = [
        ("a", b"[FTP]\nT1=65536\nT0=-1\n", RUN_OK,
         [b"FTP.T1=65536 is outside 1..65535 seconds: 65535 used", b"FTP.T0=-1 is outside 1..65535 seconds: 1 used"]),
        ("b", b"[SQLITE]\nT0=0\n", RUN_OK, [b"SQLITE.T0=0 is outside 1..2147483 seconds: 30 used"]),
        ("c", b"[TCP]\nPC_PORT=70000\n", 8, [b"TCP.PC_PORT=70000 is not a port (0..65535): refused"]),
    ]
    glob = b"[GLOBAL]\nMSGLEVEL=1\nTEMP_PATH=" + cwd.encode() + b"\n"
    for workdir, ini, rc, lines in rows:
        code, texts = run_ini(cwd, workdir, glob + ini)
        check("%s: exit code" % workdir, code, rc)
        for line in lines:
            check("%s: line %r" % (workdir, line), line in texts, True)
    # -O after the INI file; an empty -S leaves the key to its default.
    code, texts = run_ini(cwd, "d", glob, ["-O", "65536"])
    check("-O 65536: exit code", code, 8)
    code, texts = run_ini(cwd, "e", glob + b"[TCP]\nTCPTLSSECLEVEL=3\n", ["-S", ""])
    check("-S '': exit code", code, RUN_OK)
    check("-S '': the default level", b"\tTLS security level set to: 1" in texts, True)


def case_log_escaping_and_literal_paths(cwd):
    """Control characters from the command line start no log line; "*" and "?" in -c and -d are
    literal; XML's special characters in the paths reach the logger's configuration escaped."""
    odd = os.path.join(cwd, "it's & <odd>")
    os.mkdir(odd)
    workdir = "w*?'&<"
    for level in (0, 2):
        write(os.path.join(odd, "a*.ini"), b"[GLOBAL]\nMSGLEVEL=%d\nTEMP_PATH=%s\n" % (level, cwd.encode()))
        write(os.path.join(odd, "avexlink.ini"), b"[GLOBAL]\nMSGLEVEL=1\nTEMP_PATH=" + cwd.encode() + b"\n")
        code, stdout, stderr = run(["-U", "x\nFORGED line\r\x1b", "-c", odd + "/a*.ini", "-l", "1", "-D", odd + "/",
                                    "-d", workdir] + no_host(), cwd, b"\n")
        check("exit code", code, RUN_OK)
        check("output", stdout + stderr, b"")
        if level == 0:
            check("MSGLEVEL 0: no log file", sorted(os.listdir(odd)), ["a*.ini", "avexlink.ini"])
    texts, data = log_texts(odd, workdir)
    if texts is None:
        return
    check("the argument in one line, escaped",
          b"*** AddNewARGParm Name=Value: TCP.USERID=x\\nFORGED line\\r\\x1B" in texts, True)
    check("no forged line", [t for t in data.split(b"\n") if t.startswith(b"FORGED")], [])
    check("MSGLEVEL of a*.ini (level 2 shown)", b"Password is empty!" in texts, True)
    check("the work directory named literally", os.path.isdir(os.path.join(cwd, workdir)), True)


def case_log_levels_off_and_place(cwd):
    """MSGLEVEL 1 logs information, 2 adds warnings; without -l 1 nothing. -D is a file name prefix,
    the later of -D and -c decides; with neither -D, LOG_PATH nor -d the log is ".vexlink.<date>..log"."""
    def ini(level, log_path=None):
        write(os.path.join(cwd, "l.ini"), "[GLOBAL]\nMSGLEVEL=%d\nTEMP_PATH=%s\n%s" % (
            level, cwd, "" if log_path is None else "LOG_PATH=%s\n" % log_path))
        return "l.ini"
    for level in (1, 2):
        logs = os.path.join(cwd, "logs%d" % level)
        code, _, _ = run(["-l", "1", "-d", "wd", "-c", ini(level, logs)] + no_host(), cwd, b"\n")
        check("MSGLEVEL %d: exit code" % level, code, RUN_OK)
        texts = log_texts(logs, "wd")[0] or []
        check("MSGLEVEL %d: only the log file" % level, len(os.listdir(logs)), 1)
        check("MSGLEVEL %d: information" % level, b"INI file found: l.ini" in texts, True)
        check("MSGLEVEL %d: warning" % level, b"Password is empty!" in texts, level == 2)
        check("MSGLEVEL %d: no details" % level, any(t.startswith(b"SQLITE_QUERY") for t in texts), False)
    offlogs = os.path.join(cwd, "off")
    for args in (["-h"], ["-l", "0", "-h"], []):
        run(["-d", "wd", "-c", ini(5, offlogs)] + args + no_host(), cwd, b"\n")
        check("no log %r" % args, os.path.exists(offlogs), False)
    check("-h exit code", run(["-l", "1", "-c", ini(1, offlogs), "-D", cwd + "/pre", "-d", "w", "-h"], cwd)[0], 4)
    log_texts(cwd, "w", "pre")
    check("INI LOG_PATH not used after -D", os.path.exists(offlogs), False)
    run(["-l", "1", "-D", cwd + "/pre", "-c", ini(1, offlogs), "-d", "w", "-h"], cwd)
    log_texts(offlogs, "w")
    run(["-l", "1", "-c", ini(1), "-h"], cwd)
    log_texts(cwd, "", ".")


def context(args):
    global EXE, EXPECTED
    EXE, EXPECTED = os.path.abspath(args[0]), args[1]
    return Scratch("vexlink-cli-")


CASES = {name[5:]: (lambda fn: lambda scratch: fn(scratch.path))(fn)
         for name, fn in list(globals().items()) if name.startswith("case_")}

# Cases that cannot mean anything on Windows, with the reason.
WINDOWS_SKIPS = {
    "paths_and_files": "symbolic links, flock() against the run's lock and POSIX file modes have no Windows "
                       "counterpart here (the directory lock is LockFileEx, which Linux flock() does not see; "
                       "files take their folder's access rights)",
    "log_escaping_and_literal_paths": "'*' and '?' cannot be in a Windows file name (refused_arguments checks that "
                                      "such a work directory is refused)",
}

if __name__ == "__main__":
    sys.exit(main(CASES, ["vexlink", "expected-dir"], context, default_bound=50, windows_skips=WINDOWS_SKIPS))
