#!/usr/bin/env python3
"""Transfer speed of vexlink through the host emulator on loopback.

usage: bench_transfer.py <vexlink> <vexlink-hostemu> <transfer_baseline> [MB] [record sizes...]

For each record size (default 80 and 31989 bytes) it measures a download and
an upload of MB megabytes (default 100) through the emulator: the time from
the Request row to the row that ends the transfer (HPEOD for a download, the
HPMSG with ROWS= for an upload), as MB/s of record data and records/s, and
the peak resident memory of that vexlink run (VmHWM before its CLOSE).

Every request first waits for the engine's polls (each thread's pass starts
with a 125 ms sleep, and the conversation looks for the turn every 125 ms),
so the total holds up to about a quarter of a second that does not depend on
the size. "Streaming" leaves it out: for a download, from the row that names
the file (the first record is there) to HPEOD; for an upload, the total less
the shortest of three PHTXT round trips measured just before in the same run. Next to
it, the same bytes over a plain loopback TCP connection written to a file
(transfer_baseline). Prints a Markdown table.
"""
import os
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
    """(total seconds, streaming seconds: first record to the end, peak RSS MB)."""
    run = Vexlink(vexlink, scratch, emu.port, work_dir="down%d" % size, t0=120, msglevel=1)
    try:
        run.wait_ready()
        start = time.monotonic()
        msg = run.request("PHGETFILE", name)
        wait_for("the first record", lambda: run.responses(msg, "HPDATA"), 3600, POLL)
        first = time.monotonic()
        wait_for("the end of the download", lambda: run.responses(msg, "HPEOD"), 3600, POLL)
        end = time.monotonic()
        path = run.responses(msg, "HPDATA")[0][3]
        check("download size", os.path.getsize(path), count * (size + 1))
        rss = end_run(run)
    finally:
        run.kill()
    return end - start, end - first, rss


def upload(scratch, emu, vexlink, size, count):
    """(total seconds, streaming seconds: total less a request's latency, peak RSS MB)."""
    path = scratch.file("upload-%d.txt" % size)
    with open(path, "wb") as f:
        for i in range(count):
            f.write(record_bytes(size, i) + b"\n")
    run = Vexlink(vexlink, scratch, emu.port, work_dir="up%d" % size, t0=120, msglevel=1)
    try:
        run.wait_ready()
        latency = min(request_latency(run) for _ in range(3))
        start = time.monotonic()
        run.request("PHMODIFY", "VEXUSR1.U%d RECFM(VB) LRECL(%d)" % (size, size + 4), path)
        msgs = wait_for("the end of the upload", lambda: [m for m in run.hpmsgs() if b"ROWS=" in m], 3600, POLL)
        seconds = time.monotonic() - start
        check("rows stored", msgs[0].split(b"ROWS=")[1].split()[0], str(count).encode())
        rss = end_run(run)
    finally:
        run.kill()
        os.remove(path)
    return seconds, max(seconds - latency, 1e-3), rss


def baseline(exe, size, total, directory):
    out = os.popen("%s %d %d %s" % (exe, size, total, directory)).read()
    fields = dict(kv.split("=") for kv in out.split())
    return float(fields["seconds"])


def main():
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
            d_sec, d_stream, d_rss = download(scratch, emu, vexlink, size, count, name)
            u_sec, u_stream, u_rss = upload(scratch, emu, vexlink, size, count)
            b_sec = baseline(base, size, total, scratch.path)
        finally:
            if emu is not None:
                emu.stop()
            scratch.remove()
        mb = total / 1e6
        for what, sec, stream, rss in (("download", d_sec, d_stream, d_rss), ("upload", u_sec, u_stream, u_rss)):
            rows.append("| %s | %d | %d | %.0f | %.2f | %.1f | %.0f | %.2f | %.1f | %.0f | %.0f%% | %.0f |" % (
                what, size, count, mb, sec, mb / sec, count / sec, stream, mb / stream, count / stream,
                100.0 * b_sec / stream, rss))
        rows.append("| TCP + file | %d | %d | %.0f | %.2f | %.1f | %.0f | %.2f | %.1f | %.0f | 100%% | |" % (
            size, count, mb, b_sec, mb / b_sec, count / b_sec, b_sec, mb / b_sec, count / b_sec))
        sys.stdout.flush()
    print("| transfer | record bytes | records | MB | total s | MB/s | records/s | streaming s | streaming MB/s "
          "| streaming records/s | of TCP + file | peak RSS MB |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|")
    for row in rows:
        print(row)
    return 0


if __name__ == "__main__":
    sys.exit(main())
