#!/usr/bin/env python3
"""Transfer speed of vexlink through the host emulator on loopback.

usage: bench_transfer.py <vexlink> <vexlink-hostemu> <transfer_baseline> [MB] [record sizes...]
       bench_transfer.py --latency <vexlink> <vexlink-hostemu> [requests]

For each record size (default 80 and 31989 bytes) it measures a download and
an upload of MB megabytes (default 100) through the emulator: the time from
the Request row to the row that ends the transfer (HPEOD for a download, the
HPMSG with ROWS= for an upload), as MB/s of record data and records/s, and
the peak resident memory of that vexlink run (VmHWM before its CLOSE), and
the processor time (user + system) vexlink and the emulator used meanwhile.

The total holds the front end's own polling of the database (every 20 ms) and
the start of the request. "Streaming" leaves that out: for a download, from
the row that names the file (the first record is there) to HPEOD; for an
upload, the total less the shortest of three PHTXT round trips measured just
before in the same run. Next to
it, in the same run, the same bytes over a plain loopback TCP connection
written to a file (transfer_baseline): once with one write per record and once
in writes of 64 KiB (the real limit). Prints a Markdown table.

--latency: one vexlink run answers `requests` PING rows (answered by vexlink
itself) and as many PHTXT rows (answered by the emulator), in random order,
each inserted at a random moment 0 to 250 ms after the previous answer (not
in step with any polling period); prints the median and the 95th percentile
of the time from the committed row to its answer row (the database is polled
every millisecond).
"""
import os
import random
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "e2e"))
from frontend import Emulator, Scratch, Vexlink, check, wait_for, write_seed  # noqa: E402

POLL = 0.02


def record_bytes(size, i):
    # Printable, different from record to record, the last byte never a blank.
    stem = ("%09d" % i).encode()
    return (stem * (size // len(stem) + 1))[:size - 1] + b"Z"


def peak_rss_mb(pid):
    """The high-water mark of the process's resident memory (VmHWM), in MB.

    (wait4's ru_maxrss would also count the front end's own image, which
    the child had between fork and exec.)"""
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024.0
    return float("nan")


def cpu_seconds(pid):
    """User + system processor seconds the process has used so far."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rpartition(")")[2].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def cpu_during(emu, run):
    """The processor seconds of vexlink and of the emulator, for taking differences."""
    return cpu_seconds(run.proc.pid), cpu_seconds(emu.proc.pid)


def end_run(run):
    """The peak resident memory in MB, then CLOSE and the exit code."""
    rss = peak_rss_mb(run.proc.pid)
    run.request("CLOSE")
    check("exit code after CLOSE", run.wait(60), 0)
    return rss


def request_latency(run):
    """Seconds from a PHTXT row to its answer: what every request costs
    before and after its data moves (the send thread's pass, the turn's
    way to the host and back, the polls of both threads)."""
    start = time.monotonic()
    msg = run.request("PHTXT", "latency")
    wait_for("the answer to PHTXT", lambda: run.responses(msg, "HPTXT"), 60, POLL)
    return time.monotonic() - start


def download(scratch, emu, vexlink, size, count, name):
    """(total seconds, streaming seconds: first record to the end, peak RSS MB, processor seconds
    of vexlink and of the emulator from the request to the end)."""
    run = Vexlink(vexlink, scratch, emu.port, work_dir="down%d" % size, t0=120, msglevel=1)
    try:
        run.wait_ready()
        cpu = cpu_during(emu, run)
        start = time.monotonic()
        msg = run.request("PHGETFILE", name)
        wait_for("the first record", lambda: run.responses(msg, "HPDATA"), 3600, POLL)
        first = time.monotonic()
        wait_for("the end of the download", lambda: run.responses(msg, "HPEOD"), 3600, POLL)
        end = time.monotonic()
        cpu = [b - a for a, b in zip(cpu, cpu_during(emu, run))]
        path = run.responses(msg, "HPDATA")[0][3]
        check("download size", os.path.getsize(path), count * (size + 1))
        rss = end_run(run)
    finally:
        run.kill()
    return end - start, end - first, rss, cpu


def upload(scratch, emu, vexlink, size, count):
    """(total seconds, streaming seconds: total less a request's latency, peak RSS MB, processor
    seconds of vexlink and of the emulator from the request to the end)."""
    path = scratch.file("upload-%d.txt" % size)
    with open(path, "wb") as f:
        for i in range(count):
            f.write(record_bytes(size, i) + b"\n")
    run = Vexlink(vexlink, scratch, emu.port, work_dir="up%d" % size, t0=120, msglevel=1)
    try:
        run.wait_ready()
        latency = min(request_latency(run) for _ in range(3))
        cpu = cpu_during(emu, run)
        start = time.monotonic()
        run.request("PHMODIFY", "VEXUSR1.U%d RECFM(VB) LRECL(%d)" % (size, size + 4), path)
        msgs = wait_for("the end of the upload", lambda: [m for m in run.hpmsgs() if b"ROWS=" in m], 3600, POLL)
        seconds = time.monotonic() - start
        cpu = [b - a for a, b in zip(cpu, cpu_during(emu, run))]
        check("rows stored", msgs[0].split(b"ROWS=")[1].split()[0], str(count).encode())
        rss = end_run(run)
    finally:
        run.kill()
        os.remove(path)
    return seconds, max(seconds - latency, 1e-3), rss, cpu


def baseline(exe, size, total, directory, chunk=0):
    out = os.popen("%s %d %d %s %d" % (exe, size, total, directory, chunk)).read()
    fields = dict(kv.split("=") for kv in out.split())
    return float(fields["seconds"])


def answered(db, msg_id, cmd):
    return db.execute("SELECT 1 FROM Response WHERE Id=? AND Cmd=? LIMIT 1", (msg_id, cmd)).fetchone() is not None


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100.0 * (len(ordered) - 1))))]


def latency(vexlink, hostemu, requests):
    scratch = Scratch()
    emu = None
    run = None
    times = {"PING": [], "PHTXT": []}
    try:
        seed = scratch.file("seed")
        write_seed(seed, [])
        emu = Emulator(hostemu, scratch, seed)
        run = Vexlink(vexlink, scratch, emu.port, work_dir="lat", t0=120, msglevel=1)
        run.wait_ready()
        order = ["PING"] * requests + ["PHTXT"] * requests
        random.shuffle(order)
        for cmd in order:
            time.sleep(random.uniform(0, 0.25))
            start = time.monotonic()
            msg = run.request(cmd, "latency")  # autocommit: committed when execute returns
            answer = "PING" if cmd == "PING" else "HPTXT"
            deadline = start + 60
            while not answered(run.db, msg, answer):
                if time.monotonic() > deadline:
                    raise RuntimeError("no answer to %s %d" % (cmd, msg))
                time.sleep(0.001)
            times[cmd].append(time.monotonic() - start)
        end_run(run)
    finally:
        if run is not None:
            run.kill()
        if emu is not None:
            emu.stop()
        scratch.remove()
    print("| request | answered by | requests | median ms | 95th percentile ms | max ms |")
    print("|---|---|---|---|---|---|")
    for cmd, who in (("PING", "vexlink"), ("PHTXT", "emulator")):
        t = times[cmd]
        print("| %s | %s | %d | %.1f | %.1f | %.1f |" % (cmd, who, len(t), 1000 * statistics.median(t),
                                                          1000 * percentile(t, 95), 1000 * max(t)))
    return 0


def main():
    if len(sys.argv) >= 4 and sys.argv[1] == "--latency":
        return latency(sys.argv[2], sys.argv[3], int(sys.argv[4]) if len(sys.argv) > 4 else 200)
    if len(sys.argv) < 4:
        print(__doc__)
        return 2
    vexlink, hostemu, base = sys.argv[1:4]
    megabytes = int(sys.argv[4]) if len(sys.argv) > 4 else 100
    sizes = [int(s) for s in sys.argv[5:]] or [80, 31989]
    rows = []
    for size in sizes:
        count = megabytes * 1000 * 1000 // size
        total = count * size
        scratch = Scratch()
        emu = None
        try:
            seed = scratch.file("seed")
            name = "VEXUSR1.B%d" % size
            write_seed(seed, [(name, "PS", "VB", size + 4, [record_bytes(size, i) for i in range(count)])])
            emu = Emulator(hostemu, scratch, seed)
            d_sec, d_stream, d_rss, d_cpu = download(scratch, emu, vexlink, size, count, name)
            u_sec, u_stream, u_rss, u_cpu = upload(scratch, emu, vexlink, size, count)
            b_sec = baseline(base, size, total, scratch.path)
            l_sec = baseline(base, size, total, scratch.path, 64 * 1024)
        finally:
            if emu is not None:
                emu.stop()
            scratch.remove()
        mb = total / 1e6
        for what, sec, stream, rss, cpu in (("download", d_sec, d_stream, d_rss, d_cpu),
                                            ("upload", u_sec, u_stream, u_rss, u_cpu)):
            rows.append("| %s | %d | %d | %.0f | %.2f | %.1f | %.0f | %.2f | %.1f | %.0f | %.0f%% | %.0f%% | %.0f "
                        "| %.2f / %.2f |" % (
                            what, size, count, mb, sec, mb / sec, count / sec, stream, mb / stream, count / stream,
                            100.0 * b_sec / stream, 100.0 * l_sec / stream, rss, cpu[0], cpu[1]))
        for what, sec in (("TCP + file, a write per record", b_sec), ("TCP + file, 64 KiB writes", l_sec)):
            rows.append("| %s | %d | %d | %.0f | %.2f | %.1f | %.0f | %.2f | %.1f | %.0f | %.0f%% | %.0f%% | |" % (
                what, size, count, mb, sec, mb / sec, count / sec, sec, mb / sec, count / sec,
                100.0 * b_sec / sec, 100.0 * l_sec / sec) + " |")
        sys.stdout.flush()
    print("| transfer | record bytes | records | MB | total s | MB/s | records/s | streaming s | streaming MB/s "
          "| streaming records/s | of a write per record | of 64 KiB writes | peak RSS MB "
          "| processor s, vexlink / emulator |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    for row in rows:
        print(row)
    return 0


if __name__ == "__main__":
    sys.exit(main())
