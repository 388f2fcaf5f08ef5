#!/usr/bin/env python3
"""Fault cases of vexlink, end to end, against the host emulator on loopback.

usage: run_faults.py <vexlink> <vexlink-hostemu> <libwirecomm-2.so> <case>

Each case asserts what the front end sees (exit code, System and Response
rows, files left or deleted) and that nothing is lost, served twice or left
hanging. Every case has a time bound; every process it started is killed and
its scratch directory removed at the end, whatever happened.
"""
import base64
import os
import random
import shutil
import signal
import socket
import stat
import sqlite3
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import frontend  # noqa: E402
from frontend import (PASSWORD, USER, Emulator, Scratch, TestFailure, Vexlink, check, check_true,  # noqa: E402
                      wait_for, write_seed)

VEXLINK = None
HOSTEMU = None
WIRECOMM = None

JCL = [b"//HELLO    JOB (ACCT),'FAULT',CLASS=A,MSGCLASS=X", b"//STEP1    EXEC PGM=IEFBR14"]
SMALL = [b"first record", b"", b"third record \xe4\xf6\xfc\xdf"]
SEED = [
    ("VEXUSR1.DEMO.DATA", "PS", "VB", 255, SMALL),
    ("VEXUSR1.JCL", "PO", "FB", 80, {"HELLO": JCL}),
]
TEXT_ALPHABET = [c for c in range(0x20, 0x7F)] + [c for c in range(0xA0, 0x100) if c != 0xA4]


def records_text(records):
    return b"".join(r + b"\n" for r in records)


def random_records(rng, count, max_len):
    return [bytes(rng.choice(TEXT_ALPHABET) for _ in range(rng.randint(0, max_len))) for _ in range(count)]


class Case:
    """What one case started: emulators, runs, proxies, a scratch directory."""

    def __init__(self):
        self.scratch = Scratch()
        self.emulators = []
        self.runs = []
        self.proxies = []

    def emulator(self, datasets=(), faults=(), users=None, extra=()):
        seed = self.scratch.file("seed-%d" % len(self.emulators))
        write_seed(seed, SEED + list(datasets))
        emu = Emulator(HOSTEMU, self.scratch, seed, faults=faults, users=users, extra=extra)
        self.emulators.append(emu)
        return emu

    def vexlink(self, port, **kw):
        run = Vexlink(VEXLINK, self.scratch, port, **kw)
        self.runs.append(run)
        return run

    def cleanup(self):
        for run in self.runs:
            run.kill()
        for proxy in self.proxies:
            proxy.stop()
        for emu in self.emulators:
            emu.stop()
        # A run as another user leaves files that user owns; root removes them.
        self.scratch.remove()


class CuttingProxy:
    """A TCP relay between vexlink and the emulator that ends the host's side
    of the connection, without a word, once `limit` bytes have gone from the
    PC to the host: the host drops the connection."""

    def __init__(self, upstream_port, limit):
        self.upstream_port = upstream_port
        self.limit = limit
        self.forwarded = 0
        self.cut = threading.Event()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.listener.settimeout(30)
        self.port = self.listener.getsockname()[1]
        self.sockets = []
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        try:
            pc, _ = self.listener.accept()
        except OSError:
            return
        host = socket.create_connection(("127.0.0.1", self.upstream_port), timeout=30)
        self.sockets = [pc, host]
        back = threading.Thread(target=self.pump, args=(host, pc, False), daemon=True)
        back.start()
        self.pump(pc, host, True)

    def pump(self, src, dst, count):
        try:
            while not self.cut.is_set():
                data = src.recv(65536)
                if not data:
                    break
                if count:
                    room = self.limit - self.forwarded
                    if len(data) >= room:
                        dst.sendall(data[:room])
                        self.forwarded += room
                        self.drop()
                        return
                    self.forwarded += len(data)
                dst.sendall(data)
        except OSError:
            pass

    def drop(self):
        self.cut.set()
        for s in self.sockets:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()

    def stop(self):
        self.drop()
        self.listener.close()


def system_rows(db_path):
    db = sqlite3.connect(db_path)
    try:
        return [r[0] for r in db.execute("SELECT PID FROM System ORDER BY ROWID")]
    finally:
        db.close()


# ---------------------------------------------------------------- cases

def case_drop_mid_download(c):
    """The host closes the connection after 20 records of a 500-record download."""
    records = random_records(random.Random(3), 500, 80)
    emu = c.emulator([("VEXUSR1.MANY.DATA", "PS", "VB", 84, records)], faults=[("DROP_AFTER", "20")])
    run = c.vexlink(emu.port)
    run.wait_ready()
    m = run.request("PHGETFILE", "VEXUSR1.MANY.DATA")
    later = run.request("PHTXT", "after the drop")
    started = time.monotonic()
    rc = run.wait(40)
    check("exit code", rc, 16)
    check_true("ends without waiting for T0 (20 s)", time.monotonic() - started < 15,
               "%.1f s" % (time.monotonic() - started))
    system = run.system()
    check("System rows: the run ended (-1) and the conversation lost (-27)", sorted(system), [-27, -1])
    check("no HPEOD for the broken download", run.responses(m, "HPEOD"), [])
    files = [r[3] for r in run.responses(m, "HPDATA")]
    check("one file row for the broken download", len(files), 1)
    check_true("the partial download is deleted at the end of the run", not os.path.exists(files[0]), files[0])
    check_true("the database is deleted at the end of the run", not os.path.exists(run.db_path))
    check("the request after the drop stays unserved in Request", run.requests_left(), 1)
    check("its row", run.db.execute("SELECT Id FROM Request").fetchall(), [(later,)])


def case_drop_mid_upload(c):
    """The host side ends the connection after 300 kB of a 3 MB upload."""
    emu = c.emulator()
    proxy = CuttingProxy(emu.port, 300000)
    c.proxies.append(proxy)
    run = c.vexlink(proxy.port)
    run.wait_ready()
    lines = random_records(random.Random(5), 30000, 200)
    content = records_text(lines)
    path = c.scratch.file("upload.txt")
    with open(path, "wb") as f:
        f.write(content)
    run.request("PHMODIFY", "VEXUSR1.UP.DATA RECFM(VB) LRECL(255)", path)
    started = time.monotonic()
    rc = run.wait(60)
    elapsed = time.monotonic() - started
    check_true("the cut happened", proxy.cut.is_set())
    check("exit code", rc, 16)
    check_true("ends without waiting for T0 (20 s)", elapsed < 15, "%.1f s" % elapsed)
    system = run.system()
    check_true("System rows: the run ended and the conversation failed",
               -1 in system and len(system) == 2 and min(system) in (-27, -26), repr(system))
    check_true("no ROWS= message: the front end does not take the upload as stored",
               not any(b"ROWS=" in m for m in run.hpmsgs()), repr(run.hpmsgs()))
    with open(path, "rb") as f:
        check_true("the front end's upload file is left as it was", f.read() == content)
    check_true("the database is deleted at the end of the run", not os.path.exists(run.db_path))
    # The host stored nothing of the broken upload.
    check_true("nothing stored at the host", "ROWS=" not in emu.log_text())


def case_host_never_answers(c):
    """The host takes a download request and never answers: T0 ends the run."""
    emu = c.emulator(faults=[("NEVER_ANSWER", "YES"), ("REQUESTS", "PHGETFILE")])
    run = c.vexlink(emu.port, t0=3)
    run.wait_ready()
    m1 = run.request("PHGDSLST", "VEXUSR1.**")
    run.wait_response(m1, "HPEOD")
    listing = run.responses(m1, "HPDATA")[0][3]
    m2 = run.request("PHGETFILE", "VEXUSR1.DEMO.DATA")
    wait_for("the request taken", lambda: run.requests_left() == 0)
    waiting = [run.request("PING", "not lost %d" % i) for i in range(3)]
    started = time.monotonic()
    rc = run.wait(30)
    elapsed = time.monotonic() - started
    check("exit code", rc, 6)
    check_true("ends about T0 after the last traffic", elapsed < 8, "%.1f s" % elapsed)
    check("System row still the process id (nothing closed)", run.system(), [run.proc.pid])
    check_true("the database is left in place", os.path.exists(run.db_path))
    check_true("the finished download is left in place", os.path.exists(listing))
    check("nothing answered for the request that hangs", run.responses(m2), [])
    check("the requests behind it stay in Request, in order",
          [r[0] for r in run.db.execute("SELECT Id FROM Request ORDER BY ROWID")], waiting)
    log = [t for t in run.log_lines() if t]
    check_true("the timeout line", log[-2].startswith("SocketFTP Communication timeout T0=3[sec] expired"),
               repr(log[-3:]))
    check_true("the end line", log[-1].endswith("with RC=6"), repr(log[-2:]))


def case_database_locked(c):
    """The front end holds a write lock longer than the busy timeout (5 s)
    while requests wait, and once while the host's answer arrives."""
    emu = c.emulator(faults=[("DELAY_MS", "1500"), ("REQUESTS", "PHGDSLST")])
    run = c.vexlink(emu.port, t0=60)
    run.wait_ready()

    # Requests wait behind the lock.
    ids = [run.request("PING", "p1"), run.request("PHGPODIR", "VEXUSR1.JCL"), run.request("PING", "p2"),
           run.request("PHGETFILE", "VEXUSR1.DEMO.DATA"), run.request("PING", "p3")]
    other = sqlite3.connect(run.db_path, timeout=10, isolation_level=None)
    other.execute("BEGIN IMMEDIATE")
    time.sleep(8)
    served_during_lock = len(run.responses())
    other.execute("COMMIT")
    wait_for("all requests answered", lambda: run.responses(ids[-1], "PING"), 60)
    run.wait_end_of(ids[3], 60)
    time.sleep(1.5)
    answers = [(r[0], r[1]) for r in run.responses() if r[0] in ids]
    check("each request answered once, in order", answers,
          [(ids[0], "PING"), (ids[1], "HPDATA"), (ids[1], "HPEOD"), (ids[2], "PING"), (ids[3], "HPDATA"),
           (ids[3], "HPEOD"), (ids[4], "PING")])
    check_true("nothing was served while the lock was held", served_during_lock <= 2,
               "%d rows" % served_during_lock)
    check("member list complete", run.download(ids[1]), b"HELLO\n")
    check("download complete", run.download(ids[3]), records_text(SMALL))
    check("Request empty", run.requests_left(), 0)

    # The lock is taken after the request left Request and before the
    # host's (delayed) answer arrives: the answer's rows must not be lost.
    m = run.request("PHGDSLST", "VEXUSR1.**")
    wait_for("the list request taken", lambda: run.requests_left() == 0)
    other.execute("BEGIN IMMEDIATE")
    time.sleep(8)
    other.execute("COMMIT")
    other.close()
    run.wait_end_of(m, 60)
    listing = run.download(m)
    check("the list written while the front end held the lock", listing,
          b"VEXUSR1.DEMO.DATA\nVEXUSR1.JCL\n")
    check("one HPEOD row", len(run.responses(m, "HPEOD")), 1)
    rc, _ = run.close()
    check("exit code", rc, 0)


def case_download_dir_unwritable(c):
    """The work directory (where downloads go) becomes unwritable during the
    run; the database, in write-ahead-log mode, stays writable."""
    emu = c.emulator()
    root = os.geteuid() == 0
    lib_dir = c.scratch.file("lib")
    exe = VEXLINK
    if root:
        # Root writes anywhere: the run goes as the user nobody, from a copy
        # of the program and its library that this user can reach.
        os.makedirs(lib_dir)
        exe = os.path.join(lib_dir, "vexlink")
        shutil.copy2(VEXLINK, exe)
        for name in os.listdir(os.path.dirname(WIRECOMM)):
            if name.startswith("libwirecomm-2.so"):
                shutil.copy2(os.path.join(os.path.dirname(WIRECOMM), name), lib_dir)
    os.makedirs(c.scratch.file("tmp"))
    os.makedirs(c.scratch.file("logs"))
    if root:
        for top, dirs, files in os.walk(c.scratch.path):
            for n in [top] + [os.path.join(top, f) for f in files]:
                os.chown(n, 65534, 65534)
    real_popen = subprocess.Popen

    def popen_as_nobody(*args, **kw):
        if root:
            kw.update(user=65534, group=65534, extra_groups=[])
            env = dict(os.environ)
            env["LD_LIBRARY_PATH"] = lib_dir
            kw["env"] = env
        return real_popen(*args, **kw)

    frontend.subprocess.Popen = popen_as_nobody
    try:
        run = Vexlink(exe, c.scratch, emu.port)
        c.runs.append(run)
    finally:
        frontend.subprocess.Popen = real_popen
    run.wait_ready()
    # The log of a write-ahead-log database needs no new file in the
    # directory: the run can still write its rows.
    check("write-ahead log", run.db.execute("PRAGMA journal_mode=WAL").fetchone()[0], b"wal")
    os.chmod(run.dir, 0o555)
    try:
        m1 = run.request("PHGETFILE", "VEXUSR1.DEMO.DATA")
        run.wait_end_of(m1)
        failed = run.responses(m1, "HPEODFAIL")
        check("the failed download is reported", len(failed), 1)
        check_true("with the records lost", failed[0][2].startswith(
            b"ERROR: download file could not be created, 3 record(s) lost"), repr(failed[0][2]))
        check("no file row", run.responses(m1, "HPDATA"), [])
        m2 = run.request("PING", "still there")
        check("the run goes on", run.wait_response(m2, "PING")[0][2], b"still there")
    finally:
        os.chmod(run.dir, 0o755)
    m3 = run.request("PHGETFILE", "VEXUSR1.DEMO.DATA")
    check("a download once the directory is writable again", run.download(m3), records_text(SMALL))
    check_true("logged for each record", run.log_lines().count("SaveReceivedString: No temp file created!") == 3)
    rc, _ = run.close()
    check("exit code", rc, 0)


def case_garbage_from_host(c):
    """Garbage blocks before every record, and an unknown item before every answer."""
    records = random_records(random.Random(11), 100, 120)
    emu = c.emulator([("VEXUSR1.MANY.DATA", "PS", "VB", 124, records)],
                     faults=[("GARBAGE", "37"), ("GARBAGE_MODE", "BLOCK"), ("UNKNOWN_PREFIX", "YES")])
    run = c.vexlink(emu.port)
    run.wait_ready()
    check("many records through the garbage", download(run, "VEXUSR1.MANY.DATA"), records_text(records))
    m = run.request("PHTXT", "hello")
    check("text answer", run.wait_response(m, "HPTXT")[0][2], b"TEXT RECEIVED BY EMU1: hello")
    check_true("unknown items logged and dropped",
               run.log_lines().count("ERROR: unrecognized FTP data item with prefix: HPBOGUS   ") >= 3)
    check("no row of the unknown item", run.responses(cmd="HPBOGUS"), [])
    rc, _ = run.close()
    check("exit code", rc, 0)


def case_garbage_outside_frames(c):
    """Bytes outside any frame, and a block of 32768 bytes: the library refuses
    the conversation; the run ends with 16 and the System row -26."""
    for faults in ([("GARBAGE", "16"), ("GARBAGE_MODE", "RAW"), ("REQUESTS", "PHGETFILE")],
                   [("OVERSIZE", "YES")]):
        emu = c.emulator(faults=faults)
        run = c.vexlink(emu.port, work_dir="w%d" % len(c.emulators))
        run.wait_ready()
        m = run.request("PHGETFILE", "VEXUSR1.DEMO.DATA")
        started = time.monotonic()
        rc = run.wait(40)
        check("exit code (%s)" % faults[0][0], rc, 16)
        check_true("ends at once", time.monotonic() - started < 15)
        check("System rows (%s)" % faults[0][0], sorted(run.system()), [-26, -1])
        check("no HPEOD", run.responses(m, "HPEOD"), [])
        check_true("nothing left behind", not os.path.exists(run.db_path))


def download(run, name, timeout=120):
    m = run.request("PHGETFILE", name)
    return run.download(m, timeout)


def case_odd_request_rows(c):
    """Request rows with NUL bytes, quotes and 1 MB of Data."""
    emu = c.emulator()
    run = c.vexlink(emu.port)
    run.wait_ready()
    quoted = b"it's \"quoted\" ''; DROP TABLE Response; --"
    m1 = run.request("PING", quoted)
    check("quotes come back unchanged", run.wait_response(m1, "PING")[0][2], quoted)
    # Line ends in Data reach the log (MSGLEVEL 5) escaped, never as a line of their own.
    forged = b"x\n2026-01-01 00:00:00 vexlink   FORGED\r\n"
    m0 = run.request("PHTXT", forged)
    run.wait_response(m0, "HPTXT")
    # Unescaped, the text after the line feed would be a line of its own, behind the genuine prefix.
    check_true("no forged log line", not any(t.startswith("2026-01-01 00:00:00 vexlink   FORGED")
                                             for t in run.log_lines()))
    check_true("the Data logged escaped", any("x\\n2026-01-01 00:00:00 vexlink   FORGED\\r\\n" in t
                                              for t in run.log_lines()))
    m2 = run.request("PHTXT", b"before\x00after")
    check("text up to the NUL byte reaches the host", run.wait_response(m2, "HPTXT")[0][2],
          b"TEXT RECEIVED BY EMU1: before")
    run.request("PING", b"x" * (1 << 20))
    m4 = run.request("PHTXT", b"y" * (1 << 20))
    m5 = run.request(b"PH\x00TXT", b"nul in the command")
    m6 = run.request("PHTXT", quoted)
    check("the run goes on after them", run.wait_response(m6, "HPTXT")[0][2], b"TEXT RECEIVED BY EMU1: " + quoted)
    check("nothing sent for the 1 MB row", run.responses(m4), [])
    check_true("nothing of it at the host", "y" * 100 not in emu.log_text())
    check("nothing for the command with a NUL byte", run.responses(m5), [])
    log = run.log_lines()
    check_true("the refused payloads are logged",
               sum(1 for t in log if t.startswith("ERROR: payload of ") and "1048576 bytes" in t) == 2, repr(log[-40:]))
    # Quotes in an uploaded file's name and in its target.
    up = c.scratch.file("it's a \"file\".txt")
    with open(up, "wb") as f:
        f.write(b"one\ntwo\n")
    run.request("PHMODIFY", "'VEXUSR1.QUOTED.DATA' RECFM(VB) LRECL(255)", up)
    msgs = run.wait_hpmsg(2)
    check_true("upload of a file with quotes in its name", any(b"ROWS=2" in m for m in msgs), repr(msgs))
    check("read back", download(run, "VEXUSR1.QUOTED.DATA"), b"one\ntwo\n")
    check("Request empty", run.requests_left(), 0)
    rc, _ = run.close()
    check("exit code", rc, 0)


def case_thousand_requests(c):
    """1000 requests inserted in one transaction are all answered, in order
    (990 answered inside the PC, 10 data set lists answered by the host)."""
    emu = c.emulator()
    run = c.vexlink(emu.port, t0=60)
    run.wait_ready()
    expected = []
    run.db.execute("BEGIN")
    for i in range(1000):
        if i % 100 == 50:
            m = run.request("PHGDSLST", "VEXUSR1.DEMO.DATA")
            expected += [(m, "HPDATA", b""), (m, "HPEOD", b"ENTRIES=1")]
        else:
            m = run.request("PING", "p%d" % i)
            expected.append((m, "PING", b"p%d" % i))
    run.db.execute("COMMIT")
    last = expected[-1][0]
    wait_for("the last answer", lambda: run.responses(last, "PING"), 120, 0.2)
    time.sleep(0.5)
    got = [(r[0], r[1], r[2]) for r in run.responses() if r[0] >= expected[0][0]]
    check("1010 answers", len(got), 1010)
    check("each request answered once, in order, with its data", got, expected)
    check("Request empty", run.requests_left(), 0)
    rc, _ = run.close()
    check("exit code", rc, 0)


def case_twenty_processes(c):
    """20 vexlink processes with their own work directories against one emulator."""
    emu = c.emulator()
    runs = [c.vexlink(emu.port, work_dir="p%02d" % i, t0=60) for i in range(20)]
    for run in runs:
        run.wait_ready(60)
    pending = []
    for i, run in enumerate(runs):
        up = c.scratch.file("up%02d.txt" % i)
        with open(up, "wb") as f:
            f.write(b"process %d\nline two\n" % i)
        run.request("PHMODIFY", "VEXUSR1.P%02d.DATA RECFM(VB) LRECL(255)" % i, up)
        pending.append(run.request("PHGETFILE", "VEXUSR1.DEMO.DATA"))
    for run, m in zip(runs, pending):
        check("download of " + run.work_dir, run.download(m, 120), records_text(SMALL))
        check_true("upload of " + run.work_dir, any(b"ROWS=2" in x for x in run.hpmsgs()), repr(run.hpmsgs()))
    for i, run in enumerate(runs):
        check("read back " + run.work_dir, download(run, "VEXUSR1.P%02d.DATA" % i),
              b"process %d\nline two\n" % i)
    for run in runs:
        run.request("CLOSE")
    for run in runs:
        check("exit code of " + run.work_dir, run.wait(60), 0)
        check("System row of " + run.work_dir, run.system(), [-1])
        check_true("database of %s deleted" % run.work_dir, not os.path.exists(run.db_path))


# ---------------------------------------------------------------- secrets

SECRET = "Zq7-Secret-Pw"
CRYPT_KEY = "9F86D081884C7D659A2FEAA0C55AD015A3BF4F1B2B0B822CD15D6C15B0F00A08"


def secret_forms():
    """Every form of the password and the crypt key a leak could take."""
    pw = SECRET.encode()
    forms = {"password": pw, "password (Base64)": base64.b64encode(pw),
             "password (Base64, unpadded)": base64.b64encode(pw).rstrip(b"="),
             "password (EBCDIC)": SECRET.encode("cp273"), "password (hex)": pw.hex().encode(),
             "password (HEX)": pw.hex().upper().encode(),
             "crypt key": CRYPT_KEY.encode(), "crypt key (lower)": CRYPT_KEY.lower().encode()}
    return forms


def leaks_in(data):
    return [name for name, form in secret_forms().items() if form in data]


def proc_texts(pid):
    """Command line and environment of a process and of its descendants."""
    texts = []
    pending = [pid]
    while pending:
        p = pending.pop()
        for what in ("cmdline", "environ"):
            try:
                with open("/proc/%d/%s" % (p, what), "rb") as f:
                    texts.append(("%s of %d" % (what, p), f.read()))
            except OSError:
                pass
        try:
            for task in os.listdir("/proc/%d/task" % p):
                with open("/proc/%d/task/%s/children" % (p, task)) as f:
                    pending += [int(x) for x in f.read().split()]
        except OSError:
            pass
    return texts


def case_secrets(c):
    """The password (from standard input, Base64 or decoded) and the crypt
    key never appear in any file a run leaves, in the log at any MSGLEVEL, in
    the conversation trace, in the database, on a command line or in an
    environment; the crypt key is logged masked."""
    emu = c.emulator(users={USER: SECRET})
    # The conversation trace's configuration, as the program writes it.
    gen = subprocess.run([VEXLINK, "-x"], cwd=c.scratch.path, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL, timeout=30)
    check_true("tcplogger.xml written", os.path.exists(c.scratch.file("tcplogger.xml")), str(gen.returncode))
    seen = []

    def inspect(run, what):
        for name, data in proc_texts(run.proc.pid):
            leaks = leaks_in(data)
            check("%s of the %s run" % (name, what), leaks, [])
            seen.append(name)

    for level in (1, 2, 3, 4, 5):
        run = c.vexlink(emu.port, work_dir="lvl%d" % level, password=SECRET, msglevel=level,
                        extra_tcp=["TCPDEBUG=YES"])
        run.wait_ready()
        inspect(run, "MSGLEVEL %d" % level)
        m = run.request("PHGETFILE", "VEXUSR1.DEMO.DATA")
        run.download(m)
        up = c.scratch.file("up%d.txt" % level)
        with open(up, "wb") as f:
            f.write(b"one\n")
        run.request("PHMODIFY", "VEXUSR1.S%d.DATA RECFM(VB) LRECL(255)" % level, up)
        run.wait_hpmsg(2)
        # The database while the run is on.
        with open(run.db_path, "rb") as f:
            check("database of MSGLEVEL %d" % level, leaks_in(f.read()), [])
        rc, _ = run.close()
        check("exit code at MSGLEVEL %d" % level, rc, 0)
        check_true("a log was written at MSGLEVEL %d" % level, len(run.log_lines()) > 3)

    # A rejected password, and a run ended by T0 (which leaves its database).
    run = c.vexlink(emu.port, work_dir="wrong", password=SECRET + "x", msglevel=5, extra_tcp=["TCPDEBUG=YES"])
    check("exit code of the rejected password", run.wait(30), 16)
    run = c.vexlink(emu.port, work_dir="t0", password=SECRET, msglevel=5, t0=2, extra_tcp=["TCPDEBUG=YES"])
    run.wait_ready()
    check("exit code at T0", run.wait(30), 6)
    check_true("database left by T0", os.path.exists(run.db_path))
    # Crypt mode 3 with a key against a plain host: the key is handed over
    # and logged masked; the connection is refused.
    run = c.vexlink(emu.port, work_dir="mode3", password=SECRET, msglevel=5,
                    extra_tcp=["TCPDEBUG=YES", "TCPCRYPT=3", "TCPCRYPTKEY=" + CRYPT_KEY])
    check("exit code of mode 3 against a plain host", run.wait(30), 16)
    log = run.log_lines()
    check_true("the crypt key is logged, masked",
               "*** AddNewINIParm Name=Value: TCP.TCPCRYPTKEY=********" in log and "\tTCPCRYPTKEY is set ********" in log,
               "\n".join(log)[-2000:])

    for run in c.runs:
        run.out.flush()
    # Every file the runs left: INI files, logs, traces, databases, outputs.
    emu_files = {emu.ini, emu.log_path}
    inputs = {run.ini for run in c.runs}
    scanned = 0
    traces = 0
    for top, dirs, files in os.walk(c.scratch.path):
        if os.path.basename(top).startswith("seed-"):
            continue
        for name in files:
            path = os.path.join(top, name)
            if path in emu_files:
                continue
            with open(path, "rb") as f:
                data = f.read()
            leaks = leaks_in(data)
            if path in inputs:
                # The INI files are what the front end wrote: the key is there.
                leaks = [k for k in leaks if not k.startswith("crypt key")]
            check("secrets in " + os.path.relpath(path, c.scratch.path), leaks, [])
            scanned += 1
            if name == "wiretrace.log" and data:
                traces += 1
    check_true("files scanned", scanned >= 10, str(scanned))
    check_true("the conversation trace was written", traces >= 1, str(traces))
    # A run is not dumpable once it holds the password: its environment is
    # readable by root only, its command line by everybody.
    check_true("processes inspected", len(seen) >= (10 if os.geteuid() == 0 else 5), str(len(seen)))


def case_password_line(c):
    """A password line the program cannot read never reaches the host: exit 8
    and System -8. Blanks and tabs around the Base64 text are trimmed."""
    emu = c.emulator(users={USER: SECRET})
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    try:
        b64 = base64.b64encode(SECRET.encode())
        for n, (line, text) in enumerate([
                (b"", "Password line missing: standard input ended without a line, run refused"),
                (b"!!!!####\n", "Password line is not a valid Base64 password, run refused"),
                (b64 + b"!\n", "Password line is not a valid Base64 password, run refused")]):
            run = c.vexlink(listener.getsockname()[1], work_dir="bad%d" % n, line=line)
            check("exit code of %r" % line, run.wait(30), 8)
            check("System of %r" % line, system_rows(run.db_path), [-8])
            check_true("logged for %r" % line, text in run.log_lines(), repr(run.log_lines()[-10:]))
        listener.settimeout(0.5)
        try:
            listener.accept()[0].close()
            check_true("nothing reached the host", False)
        except socket.timeout:
            pass
    finally:
        listener.close()
    run = c.vexlink(emu.port, work_dir="trim", line=base64.b64encode(SECRET.encode()) + b" \t\r\n")
    run.wait_ready()
    check("exit code of the trimmed line", run.close()[0], 0)


def case_signals(c):
    """SIGTERM mid-download, SIGINT and SIGHUP between requests: the run ends
    in order: no HPEOD, the partial file deleted, System minus the signal,
    the conversation deallocated, exit code 16. What the run creates is
    owner-only whatever the umask."""
    records = random_records(random.Random(9), 300000, 80)
    emu = c.emulator([("VEXUSR1.BIG.DATA", "PS", "VB", 84, records)])
    old = os.umask(0)
    try:
        run = c.vexlink(emu.port, work_dir="term", msglevel=1)
    finally:
        os.umask(old)
    run.wait_ready()
    m = run.request("PHGETFILE", "VEXUSR1.BIG.DATA")
    rows = wait_for("the download file", lambda: run.responses(m, "HPDATA"), 30, 0.01)
    path = rows[0][3]
    modes = [stat.S_IMODE(os.stat(p).st_mode) for p in (run.dir, run.db_path, path)]
    check("modes of work directory, database, download", modes, [0o700, 0o600, 0o600])
    run.proc.send_signal(signal.SIGTERM)
    check("exit code after SIGTERM", run.wait(30), 16)
    check("System after SIGTERM", sorted(run.system()), [-15, -1])
    check("no HPEOD for the cut download", run.responses(m, "HPEOD"), [])
    check_true("the partial download is deleted", not os.path.exists(path), path)
    check_true("the signal is logged", "MODUL_FTP: signal 15 received, the run ends" in run.log_lines())
    for sig in (signal.SIGINT, signal.SIGHUP):
        run = c.vexlink(emu.port, work_dir="s%d" % sig)
        run.wait_ready()
        run.proc.send_signal(sig)
        check("exit code after %s" % sig.name, run.wait(30), 16)
        check("System after %s" % sig.name, sorted(run.system()), [-int(sig), -1])
    wait_for("the host sees the conversations end",
             lambda: emu.log_text().count("ended by the PC: CM_DEALLOCATED_NORMAL") >= 2, 10)


def case_tls_mode4_checks(c):
    """Crypt mode 4 checks the host as mode 3 does: a host whose certificate
    does not carry the configured common name never receives the logon."""
    d = c.scratch.file("pki")
    os.makedirs(d)

    def sh(*args):
        subprocess.run(list(args), cwd=d, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)

    sh("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
       "-subj", "/CN=FaultsCA", "-days", "2")
    for name, cn in (("server", "localhost"), ("client", "pc.client")):
        sh("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".csr",
           "-subj", "/CN=" + cn)
        sh("openssl", "x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
           "-CAcreateserial", "-out", name + ".pem", "-days", "2")
    emu = c.emulator(extra=["TLS = YES", "TLS_CERT = " + d + "/server.pem", "TLS_KEY = " + d + "/server.key",
                            "TLS_CLIENT_CA = " + d + "/ca.pem"])
    os.environ["WIRECOMM_CLIENT_CERT"] = d + "/client.pem"
    os.environ["WIRECOMM_CLIENT_KEY"] = d + "/client.key"
    # The library's own fallback trusts the CA as well: only the name decides.
    os.environ["WIRECOMM_PEM_CA"] = d + "/ca.pem"
    tls = ["TCPCRYPT=4", "TCPPEMCA=" + d + "/ca.pem"]
    run = c.vexlink(emu.port, work_dir="evil", extra_tcp=tls + ["TCPCOMMONNAME=good.host"])
    check("exit code against the wrong name", run.wait(30), 16)
    check("System: the PC refused the host", system_rows(run.db_path), [-47])
    log = run.log_lines()
    check_true("the server checks logged",
               "\tServer checks: CA %s/ca.pem, common name good.host, key pin off (crypt mode 4)" % d in log,
               "\n".join(log)[-1500:])
    check_true("no 'password rejected'", not any("rejected the userid or password" in t for t in log))
    check_true("the logon never reached the host", "accepted" not in emu.log_text(), emu.log_text())
    run = c.vexlink(emu.port, work_dir="good", extra_tcp=tls + ["TCPCOMMONNAME=localhost"])
    run.wait_ready()
    check("exit code against the right name", run.close()[0], 0)


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}
BOUNDS = {"twenty_processes": 500, "thousand_requests": 300, "secrets": 300, "database_locked": 200}


def main():
    global VEXLINK, HOSTEMU, WIRECOMM
    if len(sys.argv) != 5 or sys.argv[4] not in CASES:
        print("usage: run_faults.py <vexlink> <vexlink-hostemu> <libwirecomm-2.so> <%s>" % "|".join(sorted(CASES)))
        return 2
    VEXLINK, HOSTEMU, WIRECOMM, name = sys.argv[1:5]

    def bound(signum, frame):
        raise TestFailure("case %s did not end within its time bound" % name)

    signal.signal(signal.SIGALRM, bound)
    signal.alarm(BOUNDS.get(name, 150))
    c = Case()
    try:
        CASES[name](c)
        result = 0
        print("PASS", name)
    except TestFailure as e:
        result = 1
        print("FAIL", name + ":", e)
        for run in c.runs[-3:]:
            tail = run.log_lines()[-25:]
            print("--- vexlink (%s): exit code %s, log files %s, last log lines:\n  %s"
                  % (run.work_dir, run.proc.poll(), os.listdir(run.log_dir) if os.path.isdir(run.log_dir) else None,
                     "\n  ".join(tail)))
            run.out.flush()
            with open(run.out.name, "rb") as f:
                print("--- its output:\n" + f.read()[-2000:].decode("latin-1"))
        for emu in c.emulators[-1:]:
            print("--- emulator log:\n" + emu.log_text()[-3000:])
    finally:
        signal.alarm(0)
        c.cleanup()
    return result


if __name__ == "__main__":
    sys.exit(main())
