"""A test front end working as the PHP one does: the host emulator on 127.0.0.1, vexlink with an
INI file and the Base64 password line, then the run's SQLite database only."""
import base64
import functools
import os
import signal
import sqlite3
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
import testrun  # noqa: E402
from testrun import Scratch, TestFailure, check, fail, read, wait_for, write  # noqa: E402,F401

# For scripts without a runner (demo, bench, package test): the first failed check ends them.
check = functools.partial(testrun.check, fatal=True)
check_true = functools.partial(testrun.check_true, fatal=True)

USER = "VEXUSR1"
PASSWORD = "VEXPWD1"
MEMBER = "VEXSTC"


def write_seed(directory, datasets):
    """The emulator's catalogue seed from (name, dsorg, recfm, lrecl, content): content the records
    (bytes, PC code page) of a PS data set, or a dict member -> records of a PO one."""
    os.makedirs(directory, exist_ok=True)
    for name, dsorg, recfm, lrecl, content in datasets:
        members = {"": content} if dsorg == "PS" else content
        for member, records in members.items():
            os.makedirs(os.path.join(directory, name) if member else directory, exist_ok=True)
            write(os.path.join(directory, name, member) if member else os.path.join(directory, name),
                  b"".join(r + b"\n" for r in records))
    write(os.path.join(directory, "catalog.txt"), "".join("%s %s %s %d\n" % d[:4] for d in datasets))


class Emulator:
    """vexlink-hostemu on 127.0.0.1, on a free port."""

    def __init__(self, exe, scratch, seed, faults=(), users=None, codepage=17, extra=()):
        self.ini = scratch.file("hostemu.ini")
        users = users if users is not None else {USER: PASSWORD}
        text = ["[HOSTEMU]", "LISTEN = 127.0.0.1", "PORT = 0", "CODEPAGE = %d" % codepage,
                "MEMBERS = " + MEMBER, "CATALOG =", "SEED = " + seed, "SYSNAME = EMU1"] + list(extra)
        for name, password in users.items():
            text += ["[USER %s]" % name, "PASSWORD = " + password]
        text += ["[FAULTS]"] + ["%s = %s" % kv for kv in faults]
        write(self.ini, "\n".join(text) + "\n")
        self.log_path = scratch.file("hostemu.log")
        self.log = open(self.log_path, "wb")
        # The Windows build's emulator runs under Wine, as vexlink.exe does; Wine hands it SIGINT as
        # Ctrl-C (a Windows program never sees SIGTERM).
        wine = exe.lower().endswith(".exe")
        self.stop_signal = signal.SIGINT if wine else signal.SIGTERM
        self.proc = subprocess.Popen((testrun.WRAPPER if wine else []) + [exe, "-c", self.ini, "-v"],
                                     stdout=subprocess.PIPE, stderr=self.log)
        line = self.proc.stdout.readline()
        if not line.strip().isdigit():
            text = self.log_text()
            self.stop()
            raise TestFailure("emulator did not start: %r %s" % (line, text))
        self.port = int(line)

    def log_text(self):
        if not self.log.closed:
            self.log.flush()
        return read(self.log_path).decode("latin-1")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(self.stop_signal)
            try:
                check("emulator exit code after its stop signal", self.proc.wait(timeout=10), 0)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
                fail("the emulator did not stop on its stop signal")
        self.proc.stdout.close()
        self.log.close()


def ini_text(port, temp_path, log_path, dbname="q.db", t0=20, msglevel=5, extra_global=(), extra_tcp=(),
             user=USER, member=MEMBER, sqlite_t0=5):
    lines = ["[GLOBAL]", "MSGLEVEL=%d" % msglevel, "TEMP_PATH=" + temp_path, "LOG_PATH=" + log_path,
             "CODEPAGE=17"] + list(extra_global)
    tcp = ["IP_ADDR=127.0.0.1", "HOST_PORT=%d" % port, "MEMBER=" + member, "USERID=" + user, "TCPCRYPT=1"]
    # A key in extra_tcp replaces the default (an INI file keeps the first of two equal keys).
    given = {kv.split("=", 1)[0] for kv in extra_tcp}
    lines += ["[TCP]"] + [kv for kv in tcp if kv.split("=", 1)[0] not in given] + list(extra_tcp)
    lines += ["[FTP]", "T0=%d" % t0, "T1=10", "[SQLITE]", "T0=%d" % sqlite_t0]
    if dbname is not None:
        lines.append("DBNAME=" + dbname)
    return "\n".join(lines) + "\n"


class Vexlink:
    """One run of vexlink: the INI file, the password line, the database."""

    def __init__(self, exe, scratch, port, work_dir="w", password=PASSWORD, args=(), line=None, **ini):
        self.scratch = scratch
        self.temp_path = scratch.file("tmp")
        self.log_dir = scratch.file("logs")
        os.makedirs(self.temp_path, exist_ok=True)
        os.makedirs(self.log_dir, exist_ok=True)
        self.ini = scratch.file("vexlink-%s.ini" % (work_dir.replace("/", "_").replace(".", "_") or "none"))
        write(self.ini, ini_text(port, self.temp_path, self.log_dir + "/", **ini))
        self.work_dir = work_dir
        self.dir = os.path.join(self.temp_path, work_dir)
        self.db_path = os.path.join(self.dir, ini.get("dbname", "q.db") or "")
        self.out = open(scratch.file("vexlink-%d.out" % id(self)), "wb")
        self.proc = subprocess.Popen(testrun.WRAPPER + [exe, "-c", self.ini, "-d", work_dir, "-l", "5"] + list(args),
                                     stdin=subprocess.PIPE, stdout=self.out, stderr=subprocess.STDOUT,
                                     cwd=scratch.path)
        # The line ends in CR LF as a Windows front end's does; line: the raw password line instead.
        self.proc.stdin.write(base64.b64encode(password.encode()) + b"\r\n" if line is None else line)
        self.proc.stdin.close()
        self.db = None
        self.next_id = 2

    # -- the process

    def pid(self):
        """The process id the run sees. Under Wine that is the Windows
        process id, which Linux does not show: there the System row's."""
        if not testrun.WINDOWS:
            return self.proc.pid
        pids = self.system()
        return pids[0] if pids else None

    def wait(self, timeout=30):
        return self.proc.wait(timeout=timeout)  # subprocess.TimeoutExpired fails the case

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        if self.db is not None:
            self.db.close()
            self.db = None
        self.out.close()

    def log_lines(self):
        """The texts of the run's log file (after date, time and program)."""
        names = [n for n in os.listdir(self.log_dir) if n.endswith("." + self.work_dir + ".log")] \
            if os.path.isdir(self.log_dir) else []
        if not names:
            return []
        # "YYYY-MM-DD HH:MM:SS vexlink   text"
        lines = testrun.text(read(os.path.join(self.log_dir, names[0]))).decode("latin-1").split("\n")
        return [line[30:] if len(line) >= 30 else line for line in lines]

    # -- the database

    def open_db(self, timeout=20):
        def ready():
            if not os.path.exists(self.db_path):
                return False
            try:
                db = sqlite3.connect(self.db_path, timeout=10, isolation_level=None)
                names = {r[0] for r in db.execute("SELECT name FROM sqlite_master WHERE type='table'")}
                if {"Request", "Response", "System"} <= names:
                    return db
                db.close()
            except sqlite3.Error:
                pass
            return False
        self.db = wait_for("the database", ready, timeout)
        self.db.text_factory = bytes
        return self.db

    def wait_ready(self, timeout=20):
        """Waits for HPREADY; gives the System rows."""
        if self.db is None:
            self.open_db(timeout)
        wait_for("HPREADY", lambda: self.responses(cmd="HPREADY"), timeout)
        return wait_for("the System row", lambda: self.system(), timeout)

    def request(self, cmd, data=b"", file=b"", msg_id=None):
        msg_id = self.next_id if msg_id is None else msg_id
        self.next_id = msg_id + 1
        as_bytes = lambda v: v.encode("latin-1") if isinstance(v, str) else v
        self.db.execute("INSERT INTO Request (Id, Cmd, Data, File) VALUES (?,?,?,?)",
                        (msg_id, as_bytes(cmd), as_bytes(data), as_bytes(file)))
        return msg_id

    def responses(self, msg_id=None, cmd=None):
        rows = [(r[0], r[1].decode("latin-1"), r[2], r[3].decode("latin-1"))
                for r in self.db.execute("SELECT Id, Cmd, Data, File FROM Response ORDER BY ROWID")]
        return [r for r in rows if msg_id in (None, r[0]) and cmd in (None, r[1])]

    def system(self):
        """The System rows, also of a run whose database the front end never opened."""
        db = self.db or sqlite3.connect(self.db_path)
        rows = [r[0] for r in db.execute("SELECT PID FROM System ORDER BY ROWID").fetchall()]
        if db is not self.db:
            db.close()
        return rows

    def requests_left(self):
        return self.db.execute("SELECT COUNT(*) FROM Request").fetchone()[0]

    def wait_response(self, msg_id, cmd, timeout=30):
        return wait_for("%s for request %d" % (cmd, msg_id), lambda: self.responses(msg_id, cmd), timeout)

    def ask(self, cmd, data, answer, timeout=30):
        """Inserts a request and waits for its rows of Cmd answer."""
        return self.wait_response(self.request(cmd, data), answer, timeout)

    def wait_end_of(self, msg_id, timeout=30):
        """Waits until the exchange of a request has ended: HPEOD or HPEODFAIL."""
        return wait_for("end of request %d" % msg_id,
                        lambda: self.responses(msg_id, "HPEOD") or self.responses(msg_id, "HPEODFAIL"), timeout)

    def hpmsgs(self):
        return [r[2] for r in self.responses(cmd="HPMSG")]

    def wait_hpmsg(self, count, timeout=30):
        return wait_for("%d HPMSG rows" % count, lambda: len(self.hpmsgs()) >= count and self.hpmsgs(), timeout)

    def download(self, msg_id, timeout=60):
        """The file of a download once its HPEOD row is there."""
        self.wait_end_of(msg_id, timeout)
        check("HPEOD, not a failed download", [r[1] for r in self.responses(msg_id)
                                              if r[1] in ("HPEOD", "HPEODFAIL")], ["HPEOD"])
        files = [r[3] for r in self.responses(msg_id, "HPDATA")]
        if not files:
            return None
        check("one download file per request", len(files), 1)
        return read(testrun.host_path(files[0]))

    def close(self, timeout=30):
        msg_id = self.request("CLOSE")
        rc = self.wait(timeout)
        return rc, msg_id
