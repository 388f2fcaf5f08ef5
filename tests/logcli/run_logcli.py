#!/usr/bin/env python3
"""Runs vexlink with logging on and checks the run's log (usage: run_logcli.py <vexlink> <case>).

Each case runs in a fresh scratch directory with a bounded run time; a transfer
run points at a closed port of 127.0.0.1, so it ends on its own.
"""
import datetime
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
import testrun  # noqa: E402
from testrun import FAILURES, check, check_true, closed_port, read, report, write  # noqa: E402

EXE = None

LINE = re.compile(rb"^(\d{4}-\d\d-\d\d) (\d\d:\d\d:\d\d) vexlink   (.*)$")
STARS = b"*" * 55
ASCTIME = rb"[A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4}"


def run(args, cwd, stdin=b""):
    proc = subprocess.run(testrun.WRAPPER + [EXE] + list(args), cwd=cwd, input=stdin,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=90)
    # Logging never writes to standard error.
    check("standard error of %r" % (args,), proc.stderr, b"")
    return proc.returncode


def find_log(directory, prefix, workdir):
    """The one log file of the run in directory (dated today or, across midnight, yesterday)."""
    today = datetime.date.today()
    names = ["%svexlink.%s.%s.log" % (prefix, d.isoformat(), workdir) for d in (today, today - datetime.timedelta(1))]
    found = [n for n in names if os.path.exists(os.path.join(directory, n))]
    check_true("log file %s in %s" % (names[0], directory), len(found) == 1, str(os.listdir(directory)))
    return os.path.join(directory, found[0]) if found else None


def texts_of(path):
    """The text part of every line; checks the layout of each line."""
    data = testrun.text(read(path))
    check_true("log ends with a line feed", data.endswith(b"\n"))
    texts = []
    for line in data.split(b"\n")[:-1]:
        m = LINE.match(line)
        check_true("line layout: date, time, program padded to 9, text", m is not None, repr(line))
        if m:
            datetime.datetime.strptime((m.group(1) + b" " + m.group(2)).decode(), "%Y-%m-%d %H:%M:%S")
            texts.append(m.group(3))
    return texts


def check_frame(texts, rc, workdir):
    """The six prologue lines, the five VEXLINK lines, the epilogue."""
    if texts is None:
        return
    check_true("at least 14 lines", len(texts) >= 14, repr(texts))
    if len(texts) < 14:
        return
    check("prologue stars", texts[0], STARS)
    check_true("maker line", len(texts[1]) > 0 and texts[1] != STARS)
    check("title", texts[2], b"VEXLINK: FTP client, x64, supporting TLS")
    check_true("compiled line", re.fullmatch(rb"compiled [A-Z][a-z]{2} [ \d]\d \d{4} \d\d:\d\d:\d\d", texts[3]),
               repr(texts[3]))
    check_true("started line", re.fullmatch(rb"started at " + ASCTIME, texts[4]), repr(texts[4]))
    check("prologue end", texts[5], STARS)
    check("version", texts[6], b"VEXLINK: VERSION=07.04.00")
    check("pid", re.fullmatch(rb"VEXLINK: PID=\d+", texts[7]) is not None, True)
    check("php handler", texts[8], b"VEXLINK: PHP_HANDLER=" + workdir)
    check("libwirecomm", texts[9], b"VEXLINK: LIBWIRECOMM_VERSION=2.8.1")
    check_true("sqlite version", re.fullmatch(rb"VEXLINK: SQLITE_VERSION: \d+\.\d+\.\d+", texts[10]),
               repr(texts[10]))
    check("epilogue stars", texts[-3], STARS)
    check_true("epilogue with the exit code",
               re.fullmatch(rb"Ended at " + ASCTIME + rb" with RC=" + str(rc).encode(), texts[-2]), repr(texts[-2]))
    check("epilogue end", texts[-1], STARS)
    check("stars only in the banners", texts.count(STARS), 4)


def transfer_ini(cwd, msglevel, log_path=None):
    lines = ["[GLOBAL]", "MSGLEVEL=%d" % msglevel, "TEMP_PATH=%s" % os.path.join(cwd, "tmp")]
    if log_path is not None:
        lines.append("LOG_PATH=%s" % log_path)
    lines += ["[TCP]", "IP_ADDR=127.0.0.1", "HOST_PORT=%d" % closed_port(), "USERID=U", "MEMBER=M",
              "[FTP]", "T0=3", "T1=3", "[SQLITE]", "DBNAME=q.db"]
    path = os.path.join(cwd, "v.ini")
    write(path, ("\n".join(lines) + "\n").encode())
    os.makedirs(os.path.join(cwd, "tmp"), exist_ok=True)
    return path


def logged(directory, prefix, workdir, rc):
    """The texts of the run's log, its frame checked; None without the file."""
    path = find_log(directory, prefix, workdir)
    texts = texts_of(path) if path else None
    check_frame(texts, rc, workdir.encode())
    return texts


# ---------------------------------------------------------------- cases

def case_run_log_levels(cwd):
    # MSGLEVEL 1: information (type 3) written, warnings (type 2) and details (type 4) not; 2 adds warnings.
    for level in (1, 2):
        logs = os.path.join(cwd, "logs%d" % level)
        ini = transfer_ini(cwd, level, logs)
        rc = run(["-l", "1", "-d", "wd", "-c", ini], cwd, stdin=b"\n" if level == 1 else b"")
        texts = logged(logs, "", "wd", rc) or []
        check("only the log file in logs", len(os.listdir(logs)), 1)
        check_true("information written", b"INI file found: " + ini.encode() in texts, repr(texts))
        check("warning at MSGLEVEL %d" % level, b"Password is empty!" in texts, level == 2)
        check_true("no detail lines", not any(t.startswith(b"SQLITE_QUERY") for t in texts), repr(texts))


def case_log_off(cwd):
    ini = transfer_ini(cwd, 5, os.path.join(cwd, "logs"))
    for args in (["-d", "wd", "-c", ini, "-h"], ["-l", "0", "-d", "wd", "-c", ini, "-h"], ["-d", "wd", "-c", ini]):
        run(args, cwd, stdin=b"\n")
        check("no log directory %r" % args, os.path.exists(os.path.join(cwd, "logs")), False)
        check("no log file here %r" % args, [n for n in os.listdir(cwd) if "vexlink" in n], [])


def case_log_path_option(cwd):
    # -D is glued to the file name and the later of -D and -c decides; with neither -D, LOG_PATH
    # nor -d the log is ".vexlink.<date>..log" in the current directory.
    ini = transfer_ini(cwd, 1, os.path.join(cwd, "fromini"))
    check("-h exit code", run(["-l", "1", "-c", ini, "-D", os.path.join(cwd, "pre"), "-d", "w", "-h"], cwd), 4)
    logged(cwd, "pre", "w", 4)
    check("INI LOG_PATH not used", os.path.exists(os.path.join(cwd, "fromini")), False)
    run(["-l", "1", "-D", os.path.join(cwd, "pre"), "-c", ini, "-d", "w", "-h"], cwd)
    logged(os.path.join(cwd, "fromini"), "", "w", 4)
    run(["-l", "1", "-c", transfer_ini(cwd, 1), "-h"], cwd)
    logged(cwd, ".", "", 4)


def case_invalid_argument(cwd):
    logs = os.path.join(cwd, "logs")
    check("exit code", run(["-l", "1", "-d", "bad", "-c", transfer_ini(cwd, 1, logs), "-X"], cwd), 8)
    texts = logged(logs, "", "bad", 8) or []
    check_true("error line", b"Invalid argument: -X" in texts, repr(texts))


def case_escaped_paths(cwd):
    # XML's special characters in the INI path, the log path and the work directory. MSGLEVEL 0
    # admits nothing: no file proves the logger read the INI file through its escaped path.
    odd = os.path.join(cwd, "it's & <odd>")
    os.mkdir(odd)
    ini = os.path.join(odd, "a'b&c<d.ini")
    for level in (0, 1):
        write(ini, b"[GLOBAL]\nMSGLEVEL=%d\n" % level)
        check("exit code", run(["-l", "1", "-D", odd + "/", "-d", "w'&<", "-c", ini, "-h"], cwd), 4)
        if level == 0:
            check("MSGLEVEL 0: no log file", sorted(os.listdir(odd)), [os.path.basename(ini)])
    texts = logged(odd, "", "w'&<", 4) or []
    check_true("INI read", b"INI file found: " + ini.encode() in texts, repr(texts))


# Cases that cannot mean anything on Windows, with the reason.
WINDOWS_SKIPS = {
    "escaped_paths": "'<' cannot be in a Windows file name",
}


def main():
    global EXE
    EXE = os.path.abspath(sys.argv[1])
    case = sys.argv[2]
    if testrun.WINDOWS and case in WINDOWS_SKIPS:
        print("%s: skipped on Windows: %s" % (case, WINDOWS_SKIPS[case]))
        return testrun.SKIPPED
    cwd = tempfile.mkdtemp(prefix="vexlink-logcli-")
    try:
        globals()["case_" + case](cwd)
    except subprocess.TimeoutExpired as e:
        FAILURES.append("run did not end in time: %s" % e)
    finally:
        shutil.rmtree(cwd, ignore_errors=True)
    return report()


if __name__ == "__main__":
    sys.exit(main())
