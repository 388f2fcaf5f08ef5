#!/usr/bin/env python3
"""Fault cases against the host emulator on loopback: nothing lost, served twice or left hanging.
usage: run_faults.py <vexlink> <vexlink-hostemu> <libwirecomm-2.so> <case>"""
import base64
import contextlib
import glob
import os
import random
import signal
import socket
import stat
import sqlite3
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "common"))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import run_e2e  # noqa: E402
from frontend import USER  # noqa: E402
from run_e2e import TEXT_ALPHABET, download, random_records, records_text  # noqa: E402
from testrun import check, check_true, main, read, wait_for, write  # noqa: E402

VEXLINK = HOSTEMU = WIRECOMM = None

JCL = [b"//HELLO    JOB (ACCT),'FAULT',CLASS=A,MSGCLASS=X", b"//STEP1    EXEC PGM=IEFBR14"]
SMALL = [b"first record", b"", b"third record \xe4\xf6\xfc\xdf"]
SEED = [
    ("VEXUSR1.DEMO.DATA", "PS", "VB", 255, SMALL),
    ("VEXUSR1.JCL", "PO", "FB", 80, {"HELLO": JCL}),
]


class Case(run_e2e.Case):
    """What one case started (see tests/e2e), and cutting relays."""

    def __init__(self):
        super().__init__(SEED)
        self.proxies = []

    def cleanup(self):
        for proxy in self.proxies:
            proxy.stop()
        super().cleanup()


class CuttingProxy:
    """A relay that drops both sides once `limit` bytes went from PC to host; with
    `stall`, the host's bytes stop after that many and the connection stays open."""

    def __init__(self, upstream_port, limit, stall=None):
        self.cut = threading.Event()
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.listener.settimeout(30)
        self.port = self.listener.getsockname()[1]
        self.sockets = []
        threading.Thread(target=self.serve, args=(upstream_port, limit, stall), daemon=True).start()

    def serve(self, upstream_port, limit, stall):
        with contextlib.suppress(OSError):
            pc, _ = self.listener.accept()
            host = socket.create_connection(("127.0.0.1", upstream_port), timeout=30)
            self.sockets = [pc, host]
            threading.Thread(target=self.pump, args=(host, pc, stall, False), daemon=True).start()
            self.pump(pc, host, limit, True)

    def pump(self, src, dst, limit, drop):
        """Relays src to dst; at the limit it drops both sides, or holds."""
        with contextlib.suppress(OSError):
            while not self.cut.is_set():
                data = src.recv(65536)
                if not data:
                    break
                if limit is not None and len(data) >= limit:
                    dst.sendall(data[:limit])
                    if drop:
                        self.stop()
                    else:
                        self.cut.wait()
                    return
                limit = None if limit is None else limit - len(data)
                dst.sendall(data)

    def stop(self):
        self.cut.set()
        for s in self.sockets + [self.listener]:
            with contextlib.suppress(OSError):
                s.shutdown(socket.SHUT_RDWR)
            s.close()


# ---------------------------------------------------------------- cases

def case_broken_downloads(c):
    """The host drops the connection after 20 of 500 records (-27), or sends bytes outside any frame or
    a block of 32768 bytes (-26): exit 16 at once, no HPEOD, files deleted, the request behind kept."""
    records = random_records(random.Random(3), 500, 80, TEXT_ALPHABET)
    for faults, lost in (([("DROP_AFTER", "20")], -27),
                         ([("GARBAGE", "16"), ("GARBAGE_MODE", "RAW"), ("REQUESTS", "PHGETFILE")], -26),
                         ([("OVERSIZE", "YES")], -26)):
        what = faults[0][0]
        emu = c.emulator([("VEXUSR1.MANY.DATA", "PS", "VB", 84, records)], faults=faults)
        run = c.ready(emu.port, work_dir="w%d" % len(c.emulators))
        m = run.request("PHGETFILE", "VEXUSR1.MANY.DATA")
        later = run.request("PHTXT", "after the drop")
        started = time.monotonic()
        check("exit code (%s)" % what, run.wait(40), 16)
        check_true("ends without waiting for T0 (%s)" % what, time.monotonic() - started < 15)
        check("System rows: the run ended, the conversation lost (%s)" % what, sorted(run.system()), [lost, -1])
        check("no HPEOD (%s)" % what, run.responses(m, "HPEOD"), [])
        files = [r[3] for r in run.responses(m, "HPDATA")]
        check_true("one file row (none possible before the first record) (%s)" % what,
                   len(files) == 1 or (lost == -26 and not files), repr(files))
        check_true("its file deleted at the end (%s)" % what, not any(os.path.exists(f) for f in files), repr(files))
        check_true("the database deleted at the end (%s)" % what, not os.path.exists(run.db_path))
        check("the request behind stays in Request (%s)" % what,
              run.db.execute("SELECT Id FROM Request").fetchall(), [(later,)])


def case_drop_mid_upload(c):
    """The host side ends the connection after 300 kB of an 800 kB upload."""
    emu = c.emulator()
    proxy = CuttingProxy(emu.port, 300000)
    c.proxies.append(proxy)
    run = c.ready(proxy.port)
    lines = random_records(random.Random(5), 8000, 200, TEXT_ALPHABET)
    content = records_text(lines)
    path = write(c.scratch.file("upload.txt"), content)
    run.request("PHMODIFY", "VEXUSR1.UP.DATA RECFM(VB) LRECL(255)", path)
    started = time.monotonic()
    check("exit code", run.wait(60), 16)
    check_true("ends without waiting for T0 (20 s)", time.monotonic() - started < 15)
    check_true("the cut happened", proxy.cut.is_set())
    check_true("System rows: the run ended and the conversation failed",
               sorted(run.system()) in ([-27, -1], [-26, -1]), repr(run.system()))
    check_true("no ROWS= message: the front end does not take the upload as stored",
               not any(b"ROWS=" in m for m in run.hpmsgs()), repr(run.hpmsgs()))
    check_true("the front end's upload file is left as it was", read(path) == content)
    check_true("the database is deleted at the end of the run", not os.path.exists(run.db_path))
    # The host stored nothing of the broken upload.
    check_true("nothing stored at the host", "ROWS=" not in emu.log_text())


def case_host_never_answers(c):
    """The host takes a download request and never answers: T0 ends the run."""
    emu = c.emulator(faults=[("NEVER_ANSWER", "YES"), ("REQUESTS", "PHGETFILE")])
    run = c.ready(emu.port, t0=3)
    m1 = run.request("PHGDSLST", "VEXUSR1.**")
    run.wait_response(m1, "HPEOD")
    listing = run.responses(m1, "HPDATA")[0][3]
    m2 = run.request("PHGETFILE", "VEXUSR1.DEMO.DATA")
    wait_for("the request taken", lambda: run.requests_left() == 0)
    waiting = [run.request("PING", "not lost %d" % i) for i in range(3)]
    started = time.monotonic()
    check("exit code", run.wait(30), 6)
    check_true("ends about T0 after the last traffic", time.monotonic() - started < 8)
    check("System row still the process id (nothing closed)", run.system(), [run.proc.pid])
    check_true("the database is left in place", os.path.exists(run.db_path))
    check_true("the finished download is left in place", os.path.exists(listing))
    check("nothing answered for the request that hangs", run.responses(m2), [])
    check("the requests behind it stay in Request, in order",
          [r[0] for r in run.db.execute("SELECT Id FROM Request ORDER BY ROWID")], waiting)
    log = [t for t in run.log_lines() if t]
    check_true("the timeout line, then the end line", log[-2].startswith(
        "SocketFTP Communication timeout T0=3[sec] expired") and log[-1].endswith("with RC=6"), repr(log[-3:]))


def case_database_locked(c):
    """The front end holds a write lock beyond the busy timeout while requests wait and while an answer arrives."""
    emu = c.emulator(faults=[("DELAY_MS", "1500"), ("REQUESTS", "PHGDSLST")])
    run = c.ready(emu.port, t0=60, sqlite_t0=1)

    # Requests wait behind the lock: the front end inserts them and holds the database locked, even
    # against readers, beyond the busy timeout before it commits (the engine wakes at once on a
    # commit, so rows committed before a lock would be served before it).
    before = len(run.responses())
    run.db.execute("BEGIN EXCLUSIVE")
    ids = [run.request("PING", "p1"), run.request("PHGPODIR", "VEXUSR1.JCL"), run.request("PING", "p2"),
           run.request("PHGETFILE", "VEXUSR1.DEMO.DATA"), run.request("PING", "p3")]
    time.sleep(2.5)
    served_during_lock = len(run.responses()) - before
    run.db.execute("COMMIT")
    other = sqlite3.connect(run.db_path, timeout=10, isolation_level=None)
    wait_for("all requests answered", lambda: run.responses(ids[-1], "PING"), 60)
    run.wait_end_of(ids[3], 60)
    time.sleep(1.5)
    answers = [(r[0], r[1]) for r in run.responses() if r[0] in ids]
    check("each request answered once, in order", answers,
          [(ids[0], "PING"), (ids[1], "HPDATA"), (ids[1], "HPEOD"), (ids[2], "PING"), (ids[3], "HPDATA"),
           (ids[3], "HPEOD"), (ids[4], "PING")])
    check("nothing was served while the lock was held", served_during_lock, 0)
    check("member list complete", run.download(ids[1]), b"HELLO\n")
    check("download complete", run.download(ids[3]), records_text(SMALL))
    check("Request empty", run.requests_left(), 0)

    # Locked after the request left Request, before the delayed answer: its rows must not be lost.
    m = run.request("PHGDSLST", "VEXUSR1.**")
    wait_for("the list request taken", lambda: run.requests_left() == 0)
    other.execute("BEGIN IMMEDIATE")
    time.sleep(3.5)
    other.execute("COMMIT")
    other.close()
    run.wait_end_of(m, 60)
    listing = run.download(m)
    check("the list written while the front end held the lock", listing,
          b"VEXUSR1.DEMO.DATA\nVEXUSR1.JCL\n")
    check("one HPEOD row", len(run.responses(m, "HPEOD")), 1)
    check("exit code", run.close()[0], 0)


def case_garbage_from_host(c):
    """Garbage blocks before every record, and an unknown item before every answer."""
    records = random_records(random.Random(11), 100, 120, TEXT_ALPHABET)
    emu = c.emulator([("VEXUSR1.MANY.DATA", "PS", "VB", 124, records)],
                     faults=[("GARBAGE", "37"), ("GARBAGE_MODE", "BLOCK"), ("UNKNOWN_PREFIX", "YES")])
    run = c.ready(emu.port)
    check("many records through the garbage", download(run, "VEXUSR1.MANY.DATA"), records_text(records))
    check("text answer", run.ask("PHTXT", "hello", "HPTXT")[0][2], b"TEXT RECEIVED BY EMU1: hello")
    check_true("unknown items logged and dropped",
               run.log_lines().count("ERROR: unrecognized FTP data item with prefix: HPBOGUS   ") >= 3)
    check("no row of the unknown item", run.responses(cmd="HPBOGUS"), [])
    check("exit code", run.close()[0], 0)


def case_odd_request_rows(c):
    """Request rows with NUL bytes, quotes and 1 MB of Data."""
    emu = c.emulator()
    run = c.ready(emu.port)
    quoted = b"it's \"quoted\" ''; DROP TABLE Response; --"
    check("quotes come back unchanged", run.ask("PING", quoted, "PING")[0][2], quoted)
    # Line ends in Data reach the log (MSGLEVEL 5) escaped, never as a line of their own.
    forged = b"x\n2026-01-01 00:00:00 vexlink   FORGED\r\n"
    run.ask("PHTXT", forged, "HPTXT")
    check_true("no forged log line", not any(t.startswith("2026-01-01 00:00:00 vexlink   FORGED")
                                             for t in run.log_lines()))
    check_true("the Data logged escaped", any("x\\n2026-01-01 00:00:00 vexlink   FORGED\\r\\n" in t
                                              for t in run.log_lines()))
    check("text up to the NUL byte reaches the host", run.ask("PHTXT", b"before\x00after", "HPTXT")[0][2],
          b"TEXT RECEIVED BY EMU1: before")
    run.request("PING", b"x" * (1 << 20))
    m4 = run.request("PHTXT", b"y" * (1 << 20))
    m5 = run.request(b"PH\x00TXT", b"nul in the command")
    check("the run goes on after them", run.ask("PHTXT", quoted, "HPTXT")[0][2], b"TEXT RECEIVED BY EMU1: " + quoted)
    check("nothing sent for the 1 MB row", run.responses(m4), [])
    check_true("nothing of it at the host", "y" * 100 not in emu.log_text())
    check("nothing for the command with a NUL byte", run.responses(m5), [])
    # Quotes in an uploaded file's name and in its target.
    up = write(c.scratch.file("it's a \"file\".txt"), b"one\ntwo\n")
    run.request("PHMODIFY", "'VEXUSR1.QUOTED.DATA' RECFM(VB) LRECL(255)", up)
    msgs = run.wait_hpmsg(2)
    check_true("upload of a file with quotes in its name", any(b"ROWS=2" in m for m in msgs), repr(msgs))
    check("read back", download(run, "VEXUSR1.QUOTED.DATA"), b"one\ntwo\n")
    check("Request empty", run.requests_left(), 0)
    check("exit code", run.close()[0], 0)


def case_thousand_requests(c):
    """1000 requests of one transaction (10 answered by the host) are all answered, in order."""
    emu = c.emulator()
    run = c.ready(emu.port, t0=60)
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
    wait_for("the last answer", lambda: run.responses(expected[-1][0], "PING"), 120, 0.2)
    time.sleep(0.5)
    got = [(r[0], r[1], r[2]) for r in run.responses() if r[0] >= expected[0][0]]
    check("each request answered once, in order, with its data", got, expected)
    check("Request empty", run.requests_left(), 0)
    check("exit code", run.close()[0], 0)


def case_twenty_processes(c):
    """20 vexlink processes with their own work directories against one emulator."""
    emu = c.emulator()
    runs = [c.vexlink(emu.port, work_dir="p%02d" % i, t0=60) for i in range(20)]
    pending = []
    for i, run in enumerate(runs):
        run.wait_ready(60)
        up = write(c.scratch.file("up%02d.txt" % i), b"process %d\nline two\n" % i)
        run.request("PHMODIFY", "VEXUSR1.P%02d.DATA RECFM(VB) LRECL(255)" % i, up)
        pending.append(run.request("PHGETFILE", "VEXUSR1.DEMO.DATA"))
    for i, (run, m) in enumerate(zip(runs, pending)):
        check("download of " + run.work_dir, run.download(m, 120), records_text(SMALL))
        check("read back " + run.work_dir, download(run, "VEXUSR1.P%02d.DATA" % i), b"process %d\nline two\n" % i)
        run.request("CLOSE")
    for run in runs:
        check("exit code of " + run.work_dir, run.wait(60), 0)
        check("System row of " + run.work_dir, run.system(), [-1])
        check_true("database of %s deleted" % run.work_dir, not os.path.exists(run.db_path))


# ---------------------------------------------------------------- secrets

SECRET = "Zq7-Secret-Pw"
CRYPT_KEY = "9F86D081884C7D659A2FEAA0C55AD015A3BF4F1B2B0B822CD15D6C15B0F00A08"


PW = SECRET.encode()
# Every form of the password and the crypt key a leak could take.
SECRET_FORMS = {"password": PW, "password (Base64)": base64.b64encode(PW),
                "password (Base64, unpadded)": base64.b64encode(PW).rstrip(b"="),
                "password (EBCDIC)": SECRET.encode("cp273"), "password (hex)": PW.hex().encode(),
                "password (HEX)": PW.hex().upper().encode(),
                "crypt key": CRYPT_KEY.encode(), "crypt key (lower)": CRYPT_KEY.lower().encode()}


def leaks_in(data):
    return [name for name, form in SECRET_FORMS.items() if form in data]


def proc_texts(pid):
    """Command line and environment of a process and of its descendants."""
    texts, pending = [], [pid]
    while pending:
        p = pending.pop()
        for what in ("cmdline", "environ"):
            with contextlib.suppress(OSError):
                texts.append(("%s of %d" % (what, p), read("/proc/%d/%s" % (p, what))))
        for path in glob.glob("/proc/%d/task/*/children" % p):
            with contextlib.suppress(OSError):
                pending += [int(x) for x in read(path).split()]
    return texts


def case_secrets(c):
    """No form of the password or crypt key in any file, log level, trace, database,
    command line or environment a run leaves; the crypt key is logged masked."""
    emu = c.emulator(users={USER: SECRET})
    # The conversation trace's configuration, as the program writes it.
    gen = subprocess.run([VEXLINK, "-x"], cwd=c.scratch.path, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL, timeout=30)
    check_true("tcplogger.xml written", os.path.exists(c.scratch.file("tcplogger.xml")), str(gen.returncode))
    seen = []

    def inspect(run, what):
        for name, data in proc_texts(run.proc.pid):
            check("%s of the %s run" % (name, what), leaks_in(data), [])
            seen.append(name)

    # Level 5 logs all that the others do; level 1 the least.
    for level in (1, 5):
        run = c.ready(emu.port, work_dir="lvl%d" % level, password=SECRET, msglevel=level, extra_tcp=["TCPDEBUG=YES"])
        inspect(run, "MSGLEVEL %d" % level)
        download(run, "VEXUSR1.DEMO.DATA")
        up = write(c.scratch.file("up%d.txt" % level), b"one\n")
        run.request("PHMODIFY", "VEXUSR1.S%d.DATA RECFM(VB) LRECL(255)" % level, up)
        run.wait_hpmsg(2)
        # The database while the run is on.
        check("database of MSGLEVEL %d" % level, leaks_in(read(run.db_path)), [])
        check("exit code at MSGLEVEL %d" % level, run.close()[0], 0)
        check_true("a log was written at MSGLEVEL %d" % level, len(run.log_lines()) > 3)

    # A rejected password, and a run ended by T0 (which leaves its database).
    run = c.vexlink(emu.port, work_dir="wrong", password=SECRET + "x", msglevel=5, extra_tcp=["TCPDEBUG=YES"])
    check("exit code of the rejected password", run.wait(30), 16)
    run = c.ready(emu.port, work_dir="t0", password=SECRET, msglevel=5, t0=2, extra_tcp=["TCPDEBUG=YES"])
    check("exit code at T0", run.wait(30), 6)
    check_true("database left by T0", os.path.exists(run.db_path))
    # Crypt mode 3 with a key against a plain host: the key is logged masked; the connection is refused.
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
            data = read(path)
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
    # Once it holds the password a run is not dumpable: its environment is readable by root only.
    check_true("processes inspected", len(seen) >= (4 if os.geteuid() == 0 else 2), str(len(seen)))


def case_signals(c):
    """SIGTERM mid-download, SIGINT and SIGHUP between requests end the run in order (exit 16,
    System minus the signal, partial file deleted, deallocated); files are owner-only whatever the umask."""
    records = random_records(random.Random(9), 20000, 80, TEXT_ALPHABET)
    emu = c.emulator([("VEXUSR1.BIG.DATA", "PS", "VB", 84, records)])
    # The host's bytes stop after about 3000 records: the download is open when the signal comes.
    proxy = CuttingProxy(emu.port, None, stall=300000)
    c.proxies.append(proxy)
    old = os.umask(0)
    try:
        run = c.vexlink(proxy.port, work_dir="term", msglevel=1)
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
        run = c.ready(emu.port, work_dir="s%d" % sig)
        run.proc.send_signal(sig)
        check("exit code after %s" % sig.name, run.wait(30), 16)
        check("System after %s" % sig.name, sorted(run.system()), [-int(sig), -1])
    wait_for("the host sees the conversations end",
             lambda: emu.log_text().count("ended by the PC: CM_DEALLOCATED_NORMAL") >= 2, 10)


def case_tls_mode4_checks(c):
    """Crypt mode 4 checks the host's certificate name as mode 3 does: a wrong one never gets the logon."""
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
    check("System: the PC refused the host", run.system(), [-47])
    log = run.log_lines()
    check_true("the server checks logged",
               "\tServer checks: CA %s/ca.pem, common name good.host, key pin off (crypt mode 4)" % d in log,
               "\n".join(log)[-1500:])
    check_true("no 'password rejected'", not any("rejected the userid or password" in t for t in log))
    check_true("the logon never reached the host", "accepted" not in emu.log_text(), emu.log_text())
    run = c.ready(emu.port, work_dir="good", extra_tcp=tls + ["TCPCOMMONNAME=localhost"])
    check("exit code against the right name", run.close()[0], 0)


def context(args):
    global VEXLINK, HOSTEMU, WIRECOMM
    VEXLINK, HOSTEMU, WIRECOMM = args
    run_e2e.VEXLINK, run_e2e.HOSTEMU = VEXLINK, HOSTEMU
    return Case()


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}

if __name__ == "__main__":
    sys.exit(main(CASES, ["vexlink", "vexlink-hostemu", "libwirecomm-2.so"], context,
                  {"twenty_processes": 500, "thousand_requests": 300, "secrets": 300}, 150))
