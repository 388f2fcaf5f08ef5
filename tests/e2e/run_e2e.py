#!/usr/bin/env python3
"""End-to-end cases of vexlink against the host emulator on loopback, each within a time bound.
usage: run_e2e.py <vexlink> <vexlink-hostemu> <case>"""
import contextlib
import os
import random
import signal
import socket
import sqlite3
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "common"))
sys.path.insert(0, HERE)
from frontend import Emulator, Vexlink, write_seed  # noqa: E402
from testrun import Scratch, check, check_true, main, read, wait_for, write  # noqa: E402
import testrun  # noqa: E402

VEXLINK = HOSTEMU = None

# The sample data of most cases: a few data sets of every kind.
JCL_HELLO = [b"//HELLO    JOB (ACCT),'E2E',CLASS=A,MSGCLASS=X", b"//STEP1    EXEC PGM=IEFBR14"]
BASE_SEED = [
    ("VEXUSR1.DEMO.DATA", "PS", "VB", 255, [b"first record", b"", b"third record \xe4\xf6\xfc\xdf"]),
    ("VEXUSR1.JCL", "PO", "FB", 80, {"HELLO": JCL_HELLO, "OTHER": [b"//OTHER JOB"]}),
    ("VEXUSR1.OLD.DATA", "PS", "FB", 80, [b"to be deleted"]),
]


class Case:
    """What one case started: emulators, runs, a scratch directory (dump on failure)."""

    def __init__(self, seed=None):
        self.seed = BASE_SEED if seed is None else seed
        self.scratch = Scratch("vexlink-e2e-")
        self.emulators = []
        self.runs = []

    def emulator(self, datasets=None, faults=(), users=None, extra=()):
        seed = self.scratch.file("seed-%d" % len(self.emulators))
        write_seed(seed, self.seed + list(datasets or []))
        emu = Emulator(HOSTEMU, self.scratch, seed, faults=faults, users=users, extra=extra)
        self.emulators.append(emu)
        return emu

    def vexlink(self, emu_or_port, **kw):
        port = emu_or_port.port if isinstance(emu_or_port, Emulator) else emu_or_port
        run = Vexlink(VEXLINK, self.scratch, port, **kw)
        self.runs.append(run)
        return run

    def ready(self, emu_or_port, **kw):
        """A run of vexlink() once it is ready (HPREADY)."""
        run = self.vexlink(emu_or_port, **kw)
        run.wait_ready()
        return run

    def cleanup(self):
        for run in self.runs:
            run.kill()
        for emu in self.emulators:
            emu.stop()
        self.scratch.cleanup()

    def dump(self):
        for run in self.runs[-3:]:
            run.out.flush()
            print("--- vexlink (%s): exit code %s, last log lines:\n  %s\n--- its output:\n%s"
                  % (run.work_dir, run.proc.poll(), "\n  ".join(run.log_lines()[-25:]),
                     read(run.out.name)[-2000:].decode("latin-1")))
        for emu in self.emulators[-2:]:
            print("--- emulator log:\n" + emu.log_text()[-3000:])


def records_text(records):
    return b"".join(r + b"\n" for r in records)


def random_records(rng, count, max_len, alphabet):
    out = []
    for i in range(count):
        n = rng.choice([0, 1, 79, 80, max_len]) if i % 50 == 0 else rng.randint(0, max_len)
        out.append(bytes(rng.choice(alphabet) for _ in range(n)))
    return out


# PC characters (table 17) that survive the way to the host and back; not the currency sign,
# where IBM-1141 has the euro.
TEXT_ALPHABET = [c for c in range(0x20, 0x7F)] + [c for c in range(0xA0, 0x100) if c != 0xA4]


# ---------------------------------------------------------------- cases

def case_request_kinds(c):
    """The opening, requests no other case sends, answers filed under their own requests, the close."""
    emu = c.emulator()
    run = c.vexlink(emu)
    check("System row: the process id", run.wait_ready(), [run.pid()])
    ready = run.responses(cmd="HPREADY")
    check("one HPREADY row of MsgID 1", [r[0] for r in ready], [1])
    check_true("HPREADY carries the host's text", ready[0][2].startswith(b"HOSTEMU READY"), repr(ready[0][2]))
    wait_for("the identification line at the host",
             lambda: "<- PHREADY 'VEXLINK.EXE: VERSION=07.04.00, PID=%d, LOGFILE=vexlink." % run.pid()
             in emu.log_text())

    # Options: answered with text, no exchange.
    txt = run.ask("PHSETOPT", "FTTRAIL=N", "HPTXT")
    check_true("PHSETOPT answer", b"FTTRAIL=N" in txt[0][2], repr(txt))

    # Text to the host.
    txt = run.ask("PHTXT", "hello host", "HPTXT")
    check_true("PHTXT answer", txt[0][2].endswith(b"hello host"), repr(txt))

    # Download of a member, into the work directory.
    m = run.request("PHGETFILE", "VEXUSR1.JCL(HELLO)")
    check("member download", run.download(m), records_text(JCL_HELLO))
    path = run.responses(m, "HPDATA")[0][3]
    check_true("download file in the work directory", os.path.dirname(testrun.host_path(path)) == run.dir, path)

    # Job submission: HPMSG with RC=0 (filed under 0), then HPEOD.
    before = len(run.hpmsgs())
    eod = run.ask("PHSUBMIT", "VEXUSR1.JCL(HELLO)", "HPEOD")
    check_true("job id", eod[0][2].startswith(b"JOBID="), repr(eod))
    msgs = run.hpmsgs()
    check_true("submit message", len(msgs) == before + 1 and msgs[-1].startswith(b"RC=0"), repr(msgs))
    check("HPMSG rows carry Id 0", {r[0] for r in run.responses(cmd="HPMSG")}, {0})

    # Dynamic allocation: one HPMSG.
    run.request("PHBPXWDYN", "ALLOC DD(SYSUT1) DA('VEXUSR1.DEMO.DATA') SHR")
    msgs = run.wait_hpmsg(before + 2)
    check_true("allocation answered", msgs[-1].startswith(b"RC="), repr(msgs[-1]))
    check("no row left behind", run.requests_left(), 0)

    # Several requests in one go: each answer filed under its own request, not the last one queued.
    run.db.execute("BEGIN")
    first = run.request("PHTXT", "one")
    second = run.request("PHTXT", "two")
    ping = run.request("PING", "three")
    listing = run.request("PHGPODIR", "VEXUSR1.JCL")
    run.db.execute("COMMIT")
    check("member list after the texts", run.download(listing), b"HELLO\nOTHER\n")
    check("first answer", [r[2] for r in run.responses(first)], [b"TEXT RECEIVED BY EMU1: one"])
    check("second answer", [r[2] for r in run.responses(second)], [b"TEXT RECEIVED BY EMU1: two"])
    check("PING answer", [r[2] for r in run.responses(ping)], [b"three"])
    check("exit code", run.close()[0], 0)
    # The connection kept by the front end still reads the file's last state.
    check("System row after the run", run.system(), [-1])
    check_true("database deleted", not os.path.exists(run.db_path), run.db_path)
    check_true("download file deleted", not os.path.exists(path), path)


def case_download_modes(c):
    rng = random.Random(8)
    # The longest record a line to the PC holds, and enough short ones to meet every byte.
    big = random_records(rng, 40, 31989, TEXT_ALPHABET[:40]) + [b"B" * 31989]
    small = random_records(rng, 3000, 80, TEXT_ALPHABET)
    emu = c.emulator([("VEXUSR1.BIG.DATA", "PS", "VB", 32756, big),
                      ("VEXUSR1.SMALL.DATA", "PS", "VB", 84, small)])

    # Text: one line per record, translated back to the PC code page.
    run = c.ready(emu, work_dir="text")
    for name, records in (("VEXUSR1.BIG.DATA", big), ("VEXUSR1.SMALL.DATA", small)):
        check("text download of " + name, download(run, name), records_text(records))
    # Binary mode: the host's bytes, records concatenated.
    run.ask("PHSETOPT", "FTTRAIL=Y", "HPTXT")
    binary = download(run, "VEXUSR1.SMALL.DATA")
    check("binary download: the records without separators", len(binary), sum(len(r) for r in small))
    # Each PC byte of the text stands for one host byte, always the same; letters and digits as in EBCDIC.
    mapping = {}
    clashes = {pc for pc, host in zip(b"".join(small), binary) if mapping.setdefault(pc, host) != host}
    check("PC bytes with more than one host byte", clashes, set())
    check("host bytes of letters, digits and blank", bytes(mapping.get(ch, 0) for ch in b"AZaz09 "),
          "AZaz09 ".encode("cp273"))
    check_true("all PC bytes seen", len(mapping) > 150, str(len(mapping)))
    check("exit code of the text run", run.close()[0], 0)

    # Hexadecimal image: one line of upper-case digits per record.
    run = c.ready(emu, work_dir="hex", extra_global=["DOWNLOAD_FORMAT=hex"])
    for name, records in (("VEXUSR1.BIG.DATA", big), ("VEXUSR1.SMALL.DATA", small)):
        check("hex download of " + name, download(run, name), b"".join(r.hex().upper().encode() + b"\n" for r in records))
    check("exit code of the hex run", run.close()[0], 0)


def upload(run, c, name, content):
    before = len(run.hpmsgs())
    run.request("PHMODIFY", name + " RECFM(VB) LRECL(32756)", write(c.scratch.file(name.replace(".", "_")), content))
    msgs = run.wait_hpmsg(before + 2, timeout=120)
    check_true("upload of %s: intermediate HPMSG, then ROWS=" % name,
               b"RECORDS RECEIVED" in msgs[before] and b"ROWS=" in msgs[before + 1], repr(msgs[before:]))
    return int(msgs[before + 1].split(b"ROWS=")[1].split()[0])


def download(run, name):
    return run.download(run.request("PHGETFILE", name), 120)


def case_upload_modes(c):
    rng = random.Random(9)
    emu = c.emulator()
    run = c.ready(emu, work_dir="text")

    # Text with LF (more lines than two flushes of the queue take), with CR LF (the CR travels
    # with the record), and lines longer than a line to the host (cut into 31989 bytes).
    lines = random_records(rng, 25000, 120, TEXT_ALPHABET)
    crlf = b"".join(line + b"\r\n" for line in lines[:500])
    for name, content, rows, back in [
            ("VEXUSR1.UP.LF", records_text(lines), len(lines), records_text(lines)),
            ("VEXUSR1.UP.CRLF", crlf, 500, crlf),
            ("VEXUSR1.UP.LONG", records_text([b"a" * 31989, b"b" * 31990, b"c" * 70000, b""]), 1 + 2 + 3 + 1,
             records_text([b"a" * 31989, b"b" * 31989, b"b", b"c" * 31989, b"c" * 31989, b"c" * 6022, b""]))]:
        check("rows stored in " + name, upload(run, c, name, content), rows)
        check(name + " read back", download(run, name), back)

    # Binary: records as read, line feeds included, untranslated.
    run.ask("PHSETOPT", "FTTRAIL=Y", "HPTXT")
    blob = bytes(rng.randrange(256) for _ in range(300000)) + b"\n" * 3 + b"x" * 40000
    rows = upload(run, c, "VEXUSR1.UP.BIN", blob)
    check_true("binary pieces", rows >= len(blob) // 31989, str(rows))
    check("binary upload read back", download(run, "VEXUSR1.UP.BIN"), blob)
    check("exit code", run.close()[0], 0)


def case_local_and_odd_requests(c):
    emu = c.emulator()
    run = c.ready(emu)
    up = c.scratch.file("never.txt")
    write(up, b"must not reach the host\n")

    # PING: the payload comes back at once, nothing reaches the host.
    ping = run.wait_response(run.request("PING", "echo 'quoted' text", up), "PING")
    check("PING echo", ping[0][2], b"echo 'quoted' text")
    check("PING with empty data", run.ask("PING", "", "PING")[0][2], b"")

    # An unknown Cmd: logged, nothing sent, its file not uploaded.
    run.request("PHBOGUS", "x", up)
    run.ask(" PHTXT ", "blanks around the Cmd", "HPTXT")
    check_true("unknown Cmd logged", "ERROR: unrecognized FTP data item with prefix: PHBOGUS" in run.log_lines())
    check("exit code", run.close()[0], 0)
    host = emu.log_text()
    check_true("nothing of PING, PHBOGUS or the file at the host",
               "PING" not in host and "PHBOGUS" not in host and "PHDATA" not in host and "PHEOD" not in host, host)


def case_runs_that_end_at_the_start(c):
    """No database, a rejected password, a work directory outside TEMP_PATH."""
    emu = c.emulator()
    # No database name: the path is the work directory itself.
    run = c.vexlink(emu, dbname=None)
    check("exit code without a database", run.wait(30), 8)
    check_true("logged", "SocketFTP-Send-Thread SqLite is not ready" in run.log_lines())
    run = c.vexlink(emu, work_dir="w2", dbname="missing/q.db")
    check("exit code with an unreachable database", run.wait(30), 8)

    run = c.vexlink(emu, work_dir="pw", password="WRONG")
    check("exit code of a rejected password", run.wait(30), 16)
    check("failure row", run.system(), [-6])

    accepted = emu.log_text().count("accepted")
    for work_dir in ("..", "../escape", "a/../../b", "/abs"):
        run = c.vexlink(emu, work_dir=work_dir)
        check("exit code for " + work_dir, run.wait(30), 8)
        check_true("no database for " + work_dir, not os.path.exists(os.path.normpath(run.db_path)), run.db_path)
    # (The log file's name holds the work directory; ".." still names a file in LOG_PATH.)
    check_true("refusal logged",
               "GLOBAL.WORK_DIR '..' refused: it must lie inside GLOBAL.TEMP_PATH" in c.runs[-4].log_lines())
    check("no connection made for them", emu.log_text().count("accepted"), accepted)
    check_true("nothing created outside TEMP_PATH", not os.path.exists(c.scratch.file("escape")))


def case_rows_without_waiting(c):
    # An upload that drains the queue (over 10666 records) behind a request that passes the turn:
    # the drain must let the host's answer to that request in.
    emu = c.emulator()
    run = c.ready(emu, t0=5)
    path = write(c.scratch.file("long_upload"), records_text(b"L%05d" % i for i in range(11000)))
    before = len(run.hpmsgs())
    run.db.execute("BEGIN")
    run.request("PHSETOPT", "TRAILINGBLANKS=Y")
    run.request("PHMODIFY", "VEXUSR1.LONG.UP RECFM(VB) LRECL(84)", path)
    run.db.execute("COMMIT")
    msgs = run.wait_hpmsg(before + 2, timeout=20)
    check_true("the long upload was stored", any(b"ROWS=11000" in m for m in msgs[before:]), repr(msgs[before:]))

    # CLOSE between rows of one transaction: those before go out, those behind stay in Request.
    run.db.execute("BEGIN")
    run.request("PHTXT", "before the close")
    run.request("CLOSE")
    run.request("PHDELETE", "VEXUSR1.DEMO.DATA")
    run.request("PHGETFILE", "VEXUSR1.JCL(HELLO)")
    run.db.execute("COMMIT")
    check("exit code", run.wait(30), 0)
    host = emu.log_text()
    check("the text before CLOSE sent, nothing behind it",
          ["<- PHTXT 'before the close'" in host, "<- PHDELETE" in host, "<- PHGETFILE" in host], [True, False, False])
    check("the rows behind CLOSE stay", run.requests_left(), 2)

    # An upload inserted while the host works on a delete (answers 1.5 s late): the delete's
    # "RC=0" is not the upload's acknowledgement.
    emu = c.emulator(faults=[("DELAY_MS", "1500")])
    run = c.ready(emu, work_dir="late", t0=5)
    before = len(run.hpmsgs())
    run.request("PHDELETE", "VEXUSR1.OLD.DATA")
    wait_for("the delete taken", lambda: run.requests_left() == 0)
    run.request("PHMODIFY", "VEXUSR1.UP.AFTER RECFM(VB) LRECL(256)", write(c.scratch.file("small"), b"one\ntwo\n"))
    msgs = run.wait_hpmsg(before + 3, timeout=20)
    check_true("the delete was answered", msgs[before].startswith(b"RC=0"), repr(msgs[before:]))
    check_true("the upload was stored", any(b"ROWS=2" in m for m in msgs[before:]), repr(msgs[before:]))
    check("exit code", run.close()[0], 0)


def case_download_cut_off(c):
    emu = c.emulator([("VEXUSR1.TEN.DATA", "PS", "VB", 84, [b"record %d" % i for i in range(10)])],
                     faults=[("FAIL_AFTER", "2"), ("REQUESTS", "PHGDSLST")])
    run = c.ready(emu, t0=10)
    # A list cut off by the host's error: HPEODFAIL under its MsgID, never HPEOD (which the host sends).
    m1 = run.request("PHGDSLST", "VEXUSR1.**")
    run.wait_end_of(m1)
    # The row naming the download file cannot be written.
    run.db.execute("CREATE TRIGGER no_file_row BEFORE INSERT ON Response WHEN NEW.Cmd = 'HPDATA' "
                   "BEGIN SELECT RAISE(ABORT, 'refused'); END")
    m3 = run.request("PHGETFILE", "VEXUSR1.TEN.DATA")
    run.wait_end_of(m3)
    run.db.execute("DROP TRIGGER no_file_row")
    # The next download is a download of its own, complete.
    m4 = run.request("PHGETFILE", "VEXUSR1.DEMO.DATA")
    check("next download complete", run.download(m4), b"first record\n\nthird record \xe4\xf6\xfc\xdf\n")
    first = run.responses(m1)
    check("the cut-off list", [r[1] for r in first], ["HPDATA", "HPEODFAIL"])
    check_true("its reason names the host's error", b"RC=12" in first[1][2], repr(first[1]))
    check("the file holds the records sent before the error", read(testrun.host_path(first[0][3])).count(b"\n"), 2)
    check("the download without its file row", [(r[1], r[2][:40]) for r in run.responses(m3)],
          [("HPEODFAIL", b"ERROR: the Response row naming the downl")])
    check_true("a file of its own", run.responses(m4, "HPDATA")[0][3] != first[0][3])
    check("exit code", run.close()[0], 0)


def case_uploads_refused(c):
    emu = c.emulator()
    run = c.ready(emu, t0=5, extra_global=["UPLOAD_FORMAT=HEX"])
    # Only regular files; a hex line with an odd number of digits is refused with its line number.
    # Nothing reaches the host, the run goes on.
    fifo = c.scratch.file("fifo")
    os.mkfifo(fifo)
    odd = write(c.scratch.file("odd.hex"), b"4142\n414\n43\n")
    refused = [(fifo, b"not a regular file"), ("/dev/zero", b"not a regular file"),
               (c.scratch.path, b"not a regular file"), (odd, b"upload line 2 has an odd number")]
    if testrun.WINDOWS:
        # A Windows program sees Linux's FIFOs and devices (through Wine) as
        # plain files: there are none such on Windows.
        refused = refused[2:]
    for path, reason in refused:
        m = run.request("PHMODIFY", "VEXUSR1.NEVER.DATA RECFM(VB) LRECL(255)", path)
        rows = run.wait_response(m, "PHEODFAIL", timeout=10)
        check_true("the reason for " + path, reason in rows[0][2], repr(rows))
        check("the file named", rows[0][3], path)
    good = write(c.scratch.file("good.hex"), b"4142\r\n43\n")
    before = len(run.hpmsgs())
    run.request("PHMODIFY", "VEXUSR1.HEX.UP RECFM(VB) LRECL(255)", good)
    msgs = run.wait_hpmsg(before + 2, timeout=20)
    check_true("the good upload was stored", any(b"ROWS=2" in m for m in msgs[before:]), repr(msgs[before:]))
    check_true("nothing refused reached the host", "VEXUSR1.NEVER.DATA" not in emu.log_text())
    # A file that cannot be read ends the run as a failure, at once.
    missing = c.scratch.file("does-not-exist.txt")
    run.request("PHMODIFY", "VEXUSR1.NEVER.DATA RECFM(VB) LRECL(255)", missing)
    started = time.monotonic()
    check("exit code", run.wait(30), 16)
    check_true("ends at once", time.monotonic() - started < 5)
    check_true("logged", ("Uploading file '%s' can't be read" % missing) in run.log_lines())


def case_work_directory_in_use(c):
    """One run per work directory, between two vexlink processes (flock on
    Linux, LockFileEx on Windows): the second ends at once with exit code 8
    and says why; the holder removes the lock file at its end."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    listener.settimeout(30)
    try:
        # A host that takes the connection and never answers keeps the first run waiting.
        first = c.vexlink(listener.getsockname()[1], t0=5, msglevel=1)
        conn, _ = listener.accept()
        lock = os.path.join(first.dir, "vexlink.lock")
        wait_for("the first run's lock file", lambda: os.path.exists(lock))
        # A front end's row in the first run's database: the second run must not empty it.
        with contextlib.closing(sqlite3.connect(first.db_path)) as db, db:
            db.execute("CREATE TABLE System (PID INTEGER NOT NULL)")
            db.execute("INSERT INTO System VALUES (4711)")
        second = c.vexlink(listener.getsockname()[1], t0=5, msglevel=1)
        check("second run: exit code", second.wait(60), 8)
        check("second run: the first run's tables untouched", first.system(), [4711])
        check_true("second run: why", any(l.startswith("Work directory '") and l.endswith("' is in use by another run: refused")
                                          for l in first.log_lines()), repr(first.log_lines()))
        conn.close()
        check("first run: exit code", first.wait(60), 16)
        check("the lock file is removed at the end", os.path.exists(lock), False)
    finally:
        listener.close()


def case_windows_emulator(c):
    """The Windows build's emulator under Wine (the other cases take the Linux one) serves a list and a
    download; then SIGINT, which Wine hands to vexlink.exe as Ctrl-C, ends the run in order."""
    run = c.ready(c.emulator())
    check("member list", run.download(run.request("PHGPODIR", "VEXUSR1.JCL")), b"HELLO\nOTHER\n")
    check("member download", download(run, "VEXUSR1.JCL(HELLO)"), records_text(JCL_HELLO))
    run.proc.send_signal(signal.SIGINT)
    check("exit code after Ctrl-C", run.wait(30), 16)
    check("System after Ctrl-C", sorted(run.system()), [-int(signal.SIGINT), -1])


def context(args):
    global VEXLINK, HOSTEMU
    VEXLINK, HOSTEMU = args
    return Case()


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}

if __name__ == "__main__":
    sys.exit(main(CASES, ["vexlink", "vexlink-hostemu"], context, {"download_modes": 300, "upload_modes": 300}))
