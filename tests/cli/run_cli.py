#!/usr/bin/env python3
"""Runs one command-line case against the vexlink binary.

usage: run_cli.py <vexlink> <expected-dir> <case>

Every case runs the program in a fresh scratch directory (removed at the
end), with a bounded run time, and compares the whole standard output, the
exit code, an empty standard error and, where the program writes files,
their whole content with the files in <expected-dir>.
"""
import datetime
import fcntl
import os
import re
import sqlite3
import stat
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
import testrun  # noqa: E402
from testrun import FAILURES, Scratch, check, closed_port, main, read, text, write  # noqa: E402

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
            data = text(read(path))
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
    check("-g: vexlink.ini", text(read(ini)), expected("vexlink.ini"))
    check("-g: only vexlink.ini", listing(cwd), ["vexlink.ini"])
    # Its TEMP_PATH (a Windows path) does not exist here: no place for the
    # database, refused before the host is contacted.
    expect_run("-c generated", ["-c", "vexlink.ini", "-U", "USER"] + no_host(), cwd, 8, b"", stdin=b"cGFzcw==\n")
    check("-c generated: nothing created", listing(cwd), ["vexlink.ini"])


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
    data = text(read(xml))
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
    # Windows takes a command line of at most 32,767 characters: a longer
    # one never starts the program (the caller's CreateProcess fails), so
    # there the long argument stays just inside that limit.
    long_arg = "A" * (30000 if testrun.WINDOWS else 100000)
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
    for args in (["-c", "v.ini", "-U", ""], ["-c", "v.ini", "-A", b"\xff\x00"[:1]], ["-U", "-c", "-c", "v.ini"]):
        expect_config_ok("odd value", args, cwd, stdin=b"pw\n")
    # A work directory that cannot be created: no database, refused at once.
    expect_run("work directory too long", ["-c", "v.ini", "-d", long_arg] + no_host(), cwd, 8, b"", stdin=b"pw\n")
    if testrun.WINDOWS:
        # Names Windows forbids: no work directory, refused at once.
        for name in ("w*?", "a:b", "q<>", 'x"y', "p|q"):
            expect_run("forbidden name %r" % name, ["-c", "v.ini", "-d", name] + no_host(), cwd, 8, b"",
                       stdin=b"pw\n")
        code, _, _ = testrun.run(EXE, ["A" * 33000], cwd)
        check("a command line over 32,767 characters does not start", code != 0 and code != RUN_OK, True)
    check("odd: no files", listing(cwd), ["v.ini"])


def case_unreadable_ini(cwd):
    expect_run("missing ini", ["-c", os.path.join(cwd, "none.ini")], cwd, 8, b"", stdin=b"pw\n")
    expect_run("empty name", ["-c", ""], cwd, 8, b"", stdin=b"pw\n")
    os.mkdir(os.path.join(cwd, "dir.ini"))
    expect_run("directory as ini", ["-c", "dir.ini"], cwd, 8, b"", stdin=b"pw\n")
    write(os.path.join(cwd, "ok.ini"), b"[TCP]\nUSERID=U\n")
    expect_run("second ini missing", ["-c", "ok.ini", "-c", "none.ini"], cwd, 8, b"", stdin=b"pw\n")


def case_full_configuration(cwd):
    write(os.path.join(cwd, "v.ini"), b"[GLOBAL]\nMSGLEVEL=1\nTEMP_PATH=" + cwd.encode() + b"\n[TCP]\nUSERID=U\nMEMBER=M\n")
    args = ["-c", "v.ini", "-d", "run1", "-U", "USER", "-A", "127.0.0.1", "-O", "15200", "-S", "2",
            "-D", "logs", "-l", "0"]
    expect_config_ok("complete", args, cwd, stdin=b"cGFzc3dvcmQ=\r\n")
    expect_config_ok("slash options", ["/c", "v.ini", "/U", "U2"], cwd, stdin=b"cGFzc3dvcmQ=\n")
    check("complete: only the work directory", listing(cwd), ["run1", "v.ini"])


def case_password_input(cwd):
    """The password line: trimmed; empty or "*" is the passwordless logon;
    no line at all or a line that is not Base64 refuses the run (exit 8)."""
    write(os.path.join(cwd, "v.ini"), b"[GLOBAL]\nMSGLEVEL=1\nTEMP_PATH=" + cwd.encode() + b"\n[TCP]\nPASSWORD=INI\n")
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
        code, stdout, stderr = run(["-c", "v.ini", "-l", "1", "-D", cwd + "/", "-d", workdir] + no_host(), cwd, data)
        check("password %s: exit code" % workdir, code, rc)
        check("password %s: output" % workdir, stdout + stderr, b"")
        texts, _ = log_texts(cwd, workdir)
        if texts is not None:
            check("password %s: line %r" % (workdir, line), line in texts, True)
    # Standard input closed entirely.
    proc = subprocess.run(testrun.WRAPPER + [EXE, "-c", "v.ini"] + no_host(), cwd=cwd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
    check("closed stdin: exit code", proc.returncode, 8)
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


def run_logged(cwd, workdir, ini, extra=(), stdin=b"cGFzcw==\n"):
    """A run with its own log (MSGLEVEL from the INI text); (exit code, log texts)."""
    write(os.path.join(cwd, "r.ini"), ini)
    code, stdout, stderr = run(["-c", "r.ini", "-l", "1", "-D", cwd + "/", "-d", workdir] + no_host() + list(extra),
                               cwd, stdin)
    check(workdir + ": output", stdout + stderr, b"")
    texts, _ = log_texts(cwd, workdir)
    return code, texts or []


def case_paths_and_files(cwd):
    """The database is a plain file name in the work directory; nothing is
    reached through a link; a file that is not SQLite is left alone; one run
    per work directory; what the run creates is owner-only."""
    tmp = os.path.join(cwd, "tmp")
    os.mkdir(tmp)
    victim = os.path.join(cwd, "victim.txt")
    write(victim, b"not a database\n")
    base = b"[GLOBAL]\nMSGLEVEL=1\nTEMP_PATH=" + tmp.encode() + b"\n[SQLITE]\n"
    for n, name in enumerate([b"../../victim.txt", b"sub/q.db", b"..", b"c:q.db", b"a\\b.db"]):
        code, texts = run_logged(cwd, "d%d" % n, base + b"DBNAME=" + name + b"\n")
        check("DBNAME %r: exit code" % name, code, 8)
        check("DBNAME %r: refused" % name,
              ("SQLITE.DBNAME '%s' refused: it must be a plain file name" % name.decode()).encode() in texts, True)
    check("the file outside is untouched", read(victim), b"not a database\n")
    plain = base + b"DBNAME=q.db\n"

    # Not SQLite where the database goes, or a link there: refused, left alone.
    os.mkdir(os.path.join(tmp, "n"))
    write(os.path.join(tmp, "n", "q.db"), b"precious text\n")
    os.mkdir(os.path.join(tmp, "l"))
    other = sqlite3.connect(os.path.join(cwd, "other.db"))
    other.execute("CREATE TABLE Keep (x)")
    other.commit()
    other.close()
    os.symlink(os.path.join(cwd, "other.db"), os.path.join(tmp, "l", "q.db"))
    for workdir, line in (("n", "is not an SQLite database: refused and left alone"),
                          ("l", "is not a regular file: refused")):
        code, texts = run_logged(cwd, workdir, plain)
        check("%s: exit code" % workdir, code, 8)
        check("%s: line" % workdir, any(line.encode() in t for t in texts), True)
    check("the text file is left alone", read(os.path.join(tmp, "n", "q.db")), b"precious text\n")
    other = sqlite3.connect(os.path.join(cwd, "other.db"))
    check("the linked database keeps its table",
          other.execute("SELECT name FROM sqlite_master").fetchall(), [("Keep",)])
    other.close()

    # A work directory that is a link.
    os.mkdir(os.path.join(cwd, "elsewhere"))
    os.symlink(os.path.join(cwd, "elsewhere"), os.path.join(tmp, "s"))
    code, texts = run_logged(cwd, "s", plain)
    check("linked work directory: exit code", code, 8)
    check("linked work directory: nothing put there", listing(os.path.join(cwd, "elsewhere")), [])

    # Another process holds the work directory: refused before any table.
    os.mkdir(os.path.join(tmp, "busy"))
    held = sqlite3.connect(os.path.join(tmp, "busy", "q.db"))
    held.execute("CREATE TABLE System (PID)")
    held.execute("INSERT INTO System VALUES (4711)")
    held.commit()
    held.close()
    lock = open(os.path.join(tmp, "busy", "vexlink.lock"), "w")
    fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    code, texts = run_logged(cwd, "busy", plain)
    lock.close()
    check("busy: exit code", code, 8)
    check("busy: line", ("Work directory '%s/busy' is in use by another run: refused" % tmp).encode() in texts, True)
    held = sqlite3.connect(os.path.join(tmp, "busy", "q.db"))
    check("busy: tables untouched", held.execute("SELECT PID FROM System").fetchall(), [(4711,)])
    held.close()

    # Whatever the umask: the work directory 0700, the database and the log
    # 0600 (the refused connection leaves the database with its row).
    old = os.umask(0)
    try:
        code, texts = run_logged(cwd, "m", plain)
    finally:
        os.umask(old)
    check("modes: exit code", code, RUN_OK)
    log_name = [n for n in os.listdir(cwd) if n.endswith(".m.log")]
    modes = [stat.S_IMODE(os.stat(p).st_mode) for p in
             [os.path.join(tmp, "m"), os.path.join(tmp, "m", "q.db")] + [os.path.join(cwd, n) for n in log_name]]
    check("modes of work directory, database, log", modes, [0o700, 0o600, 0o600])
    check("the lock file is removed at the end", os.path.exists(os.path.join(tmp, "m", "vexlink.lock")), False)


def case_timeouts_and_ports(cwd):
    """Out-of-range time-outs are clamped (SQLITE.T0 below 1 s: its default)
    with a level 1 line; a port above 65535 or below 0 refuses the run."""
    rows = [
        ("a", b"[FTP]\nT1=65536\nT0=-1\n", RUN_OK,
         [b"FTP.T1=65536 is outside 1..65535 seconds: 65535 used", b"FTP.T0=-1 is outside 1..65535 seconds: 1 used"]),
        ("b", b"[SQLITE]\nT0=0\n", RUN_OK, [b"SQLITE.T0=0 is outside 1..2147483 seconds: 30 used"]),
        ("c", b"[TCP]\nPC_PORT=70000\n", 8, [b"TCP.PC_PORT=70000 is not a port (0..65535): refused"]),
    ]
    glob = b"[GLOBAL]\nMSGLEVEL=1\nTEMP_PATH=" + cwd.encode() + b"\n"
    for workdir, ini, rc, lines in rows:
        code, texts = run_logged(cwd, workdir, glob + ini)
        check("%s: exit code" % workdir, code, rc)
        for line in lines:
            check("%s: line %r" % (workdir, line), line in texts, True)
    # -O after the INI file; an empty -S leaves the key to its default.
    code, texts = run_logged(cwd, "d", glob, ["-O", "65536"])
    check("-O 65536: exit code", code, 8)
    code, texts = run_logged(cwd, "e", glob + b"[TCP]\nTCPTLSSECLEVEL=3\n", ["-S", ""])
    check("-S '': exit code", code, RUN_OK)
    check("-S '': the default level", b"\tTLS security level set to: 1" in texts, True)


def case_log_escaping_and_literal_paths(cwd):
    """Control characters from the command line do not start a log line;
    "*" and "?" in -c and -d are taken literally."""
    write(os.path.join(cwd, "a*.ini"), b"[GLOBAL]\nMSGLEVEL=2\nTEMP_PATH=" + cwd.encode() + b"\n")
    write(os.path.join(cwd, "avexlink.ini"), b"[GLOBAL]\nMSGLEVEL=1\nTEMP_PATH=" + cwd.encode() + b"\n")
    code, stdout, stderr = run(["-U", "x\nFORGED line\r\x1b", "-c", "a*.ini", "-l", "1", "-D", cwd + "/", "-d", "w*?"]
                               + no_host(), cwd, b"\n")
    check("exit code", code, RUN_OK)
    check("output", stdout + stderr, b"")
    texts, data = log_texts(cwd, "w*?")
    if texts is None:
        return
    check("the argument in one line, escaped",
          b"*** AddNewARGParm Name=Value: TCP.USERID=x\\nFORGED line\\r\\x1B" in texts, True)
    check("no forged line", [t for t in data.split(b"\n") if t.startswith(b"FORGED")], [])
    check("MSGLEVEL of a*.ini (level 2 shown)", b"Password is empty!" in texts, True)
    check("the work directory named literally", os.path.isdir(os.path.join(cwd, "w*?")), True)


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
    "log_escaping_and_literal_paths": "'*' and '?' cannot be in a Windows file name (odd_arguments checks that "
                                      "such a work directory is refused)",
}

if __name__ == "__main__":
    sys.exit(main(CASES, ["vexlink", "expected-dir"], context, default_bound=50, windows_skips=WINDOWS_SKIPS))
