"""A test front end for vexlink, written the way the PHP front end works.

It starts the host emulator on 127.0.0.1 (port 0, a free port), starts
vexlink with an INI file, writes the Base64 password on its standard input,
and then talks to the running program through the SQLite database only:
Request rows in, Response and System rows and downloaded files out.

Every process it starts is killed when the test ends, whatever happened.
"""
import base64
import os
import shutil
import signal
import sqlite3
import subprocess
import tempfile
import time

USER = "VEXUSR1"
PASSWORD = "VEXPWD1"
MEMBER = "VEXSTC"


class TestFailure(Exception):
    pass


def check(what, actual, expected):
    if actual != expected:
        a = repr(actual)
        e = repr(expected)
        raise TestFailure("%s:\n  expected %s\n  actual   %s" % (what, e[:600], a[:600]))


def check_true(what, condition, detail=""):
    if not condition:
        raise TestFailure("%s %s" % (what, detail[:800]))


def wait_for(what, predicate, timeout=20.0, interval=0.05):
    """Polls predicate until it gives a true value; fails after timeout seconds."""
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > end:
            raise TestFailure("timed out waiting for " + what)
        time.sleep(interval)


class Scratch:
    """A scratch directory removed at the end."""

    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="vexlink-e2e-")

    def file(self, *names):
        return os.path.join(self.path, *names)

    def remove(self):
        shutil.rmtree(self.path, ignore_errors=True)


def write_seed(directory, datasets):
    """A seed for the emulator's catalogue.

    datasets: list of (name, dsorg, recfm, lrecl, content) where content is a
    list of records (bytes, PC code page) for PS, or a dict member -> records
    for PO.
    """
    os.makedirs(directory, exist_ok=True)
    lines = []
    for name, dsorg, recfm, lrecl, content in datasets:
        lines.append("%s %s %s %d" % (name, dsorg, recfm, lrecl))
        if dsorg == "PS":
            with open(os.path.join(directory, name), "wb") as f:
                f.write(b"".join(r + b"\n" for r in content))
        else:
            os.makedirs(os.path.join(directory, name), exist_ok=True)
            for member, records in content.items():
                with open(os.path.join(directory, name, member), "wb") as f:
                    f.write(b"".join(r + b"\n" for r in records))
    with open(os.path.join(directory, "catalog.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


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
        with open(self.ini, "w") as f:
            f.write("\n".join(text) + "\n")
        self.log_path = scratch.file("hostemu.log")
        self.log = open(self.log_path, "wb")
        self.proc = subprocess.Popen([exe, "-c", self.ini, "-v"], stdout=subprocess.PIPE, stderr=self.log)
        line = self.proc.stdout.readline()
        if not line.strip().isdigit():
            text = self.log_text()
            self.stop()
            raise TestFailure("emulator did not start: %r %s" % (line, text))
        self.port = int(line)

    def log_text(self):
        if not self.log.closed:
            self.log.flush()
        with open(self.log_path, "rb") as f:
            return f.read().decode("latin-1")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()
        self.log.close()


def ini_text(port, temp_path, log_path, dbname="q.db", t0=20, msglevel=5, extra_global=(), extra_tcp=(),
             user=USER, member=MEMBER):
    lines = ["[GLOBAL]", "MSGLEVEL=%d" % msglevel, "TEMP_PATH=" + temp_path, "LOG_PATH=" + log_path,
             "CODEPAGE=17"] + list(extra_global)
    tcp = ["IP_ADDR=127.0.0.1", "HOST_PORT=%d" % port, "MEMBER=" + member, "USERID=" + user, "TCPCRYPT=1"]
    # A key given in extra_tcp replaces the default one (an INI file keeps
    # the first of two equal keys).
    given = {kv.split("=", 1)[0] for kv in extra_tcp}
    lines += ["[TCP]"] + [kv for kv in tcp if kv.split("=", 1)[0] not in given] + list(extra_tcp)
    lines += ["[FTP]", "T0=%d" % t0, "T1=10", "[SQLITE]", "T0=5"]
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
        with open(self.ini, "w") as f:
            f.write(ini_text(port, self.temp_path, self.log_dir + "/", **ini))
        self.work_dir = work_dir
        self.dir = os.path.join(self.temp_path, work_dir)
        self.db_path = os.path.join(self.dir, ini.get("dbname", "q.db") or "")
        self.out = open(scratch.file("vexlink-%d.out" % id(self)), "wb")
        self.proc = subprocess.Popen([exe, "-c", self.ini, "-d", work_dir, "-l", "5"] + list(args),
                                     stdin=subprocess.PIPE, stdout=self.out, stderr=subprocess.STDOUT,
                                     cwd=scratch.path)
        # line: the raw password line instead of the Base64 of password.
        self.proc.stdin.write(base64.b64encode(password.encode()) + b"\n" if line is None else line)
        self.proc.stdin.close()
        self.db = None
        self.next_id = 2

    # -- the process

    def wait(self, timeout=30):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise TestFailure("vexlink did not end within %d s" % timeout)

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
        with open(os.path.join(self.log_dir, names[0]), "rb") as f:
            data = f.read().decode("latin-1")
        texts = []
        for line in data.split("\n"):
            # "YYYY-MM-DD HH:MM:SS vexlink   text"
            texts.append(line[30:] if len(line) >= 30 else line)
        return texts

    def logged(self, text):
        return sum(1 for t in self.log_lines() if t == text)

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
        if msg_id is None:
            msg_id = self.next_id
        self.next_id = msg_id + 1
        as_bytes = lambda v: v.encode("latin-1") if isinstance(v, str) else v
        self.db.execute("INSERT INTO Request (Id, Cmd, Data, File) VALUES (?,?,?,?)",
                        (msg_id, as_bytes(cmd), as_bytes(data), as_bytes(file)))
        return msg_id

    def responses(self, msg_id=None, cmd=None):
        rows = self.db.execute("SELECT Id, Cmd, Data, File FROM Response ORDER BY ROWID").fetchall()
        out = []
        for r in rows:
            row = (r[0], r[1].decode("latin-1"), r[2], r[3].decode("latin-1"))
            if msg_id is not None and row[0] != msg_id:
                continue
            if cmd is not None and row[1] != cmd:
                continue
            out.append(row)
        return out

    def system(self):
        return [r[0] for r in self.db.execute("SELECT PID FROM System ORDER BY ROWID").fetchall()]

    def requests_left(self):
        return self.db.execute("SELECT COUNT(*) FROM Request").fetchone()[0]

    def wait_response(self, msg_id, cmd, timeout=30):
        return wait_for("%s for request %d" % (cmd, msg_id), lambda: self.responses(msg_id, cmd), timeout)

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
        with open(files[0], "rb") as f:
            return f.read()

    def close(self, timeout=30):
        msg_id = self.request("CLOSE")
        rc = self.wait(timeout)
        return rc, msg_id
