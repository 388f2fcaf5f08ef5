#!/usr/bin/env python3
"""Many vexlink runs at once against one host emulator.

usage: bench_scale.py <vexlink> <vexlink-hostemu> [runs] [KB]

Starts `runs` (default 200) vexlink processes at the same moment, each with
its own work directory and database, against one emulator. Each run lists
the data sets (PHGDSLST), downloads a data set of KB kilobytes (default 1000)
of 80-byte records (PHGETFILE), uploads a file of the same size (PHMODIFY),
and ends with CLOSE. Every result is checked: the list, the downloaded bytes,
the stored row count of the upload (ROWS=), the exit code 0. Prints the wall
time, the peak resident memory of each run (VmHWM just before its CLOSE) as
minimum / median / maximum, and every failure with its run.
"""
import os
import statistics
import sys
import threading
import time
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "e2e"))
from frontend import Emulator, Scratch, Vexlink, check, check_true, wait_for, write_seed  # noqa: E402

SIZE = 80
POLL = 0.1
LIMIT = 900  # seconds any one step may take on a loaded machine


def record_bytes(i):
    stem = ("%09d" % i).encode()
    return (stem * (SIZE // len(stem) + 1))[:SIZE - 1] + b"Z"


def peak_rss_mb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024.0
    return float("nan")


def one_run(n, exe, scratch, port, records, upload_path, result):
    run = Vexlink(exe, scratch, port, work_dir="r%03d" % n, t0=600, msglevel=1)
    try:
        run.wait_ready(LIMIT)
        m = run.request("PHGDSLST", "VEXUSR1.**")
        names = [x for x in run.download(m, LIMIT).split(b"\n") if x]
        check_true("the list names the download", b"VEXUSR1.SCALE" in names, repr(names))
        m = run.request("PHGETFILE", "VEXUSR1.SCALE")
        data = run.download(m, LIMIT)
        check("downloaded bytes", data, b"".join(r + b"\n" for r in records))
        run.request("PHMODIFY", "VEXUSR1.UP%03d RECFM(VB) LRECL(%d)" % (n, SIZE + 4), upload_path)
        msgs = wait_for("the end of the upload", lambda: [x for x in run.hpmsgs() if b"ROWS=" in x], LIMIT, POLL)
        check("rows stored", msgs[0].split(b"ROWS=")[1].split()[0], str(len(records)).encode())
        result["rss"] = peak_rss_mb(run.proc.pid)
        run.request("CLOSE")
        check("exit code after CLOSE", run.wait(LIMIT), 0)
    except Exception as e:  # every failure is reported with its run
        result["error"] = "%s: %s" % (type(e).__name__, e)
        result["trace"] = traceback.format_exc()
    finally:
        run.kill()


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    exe, hostemu = sys.argv[1:3]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 200
    kb = int(sys.argv[4]) if len(sys.argv) > 4 else 1000
    count = kb * 1000 // SIZE
    records = [record_bytes(i) for i in range(count)]
    scratch = Scratch()
    emu = None
    try:
        seed = scratch.file("seed")
        write_seed(seed, [("VEXUSR1.SCALE", "PS", "VB", SIZE + 4, records)])
        upload_path = scratch.file("upload.txt")
        with open(upload_path, "wb") as f:
            f.write(b"".join(r + b"\n" for r in records))
        emu = Emulator(hostemu, scratch, seed)
        results = [dict() for _ in range(runs)]
        threads = [threading.Thread(target=one_run, args=(n, exe, scratch, emu.port, records, upload_path,
                                                          results[n])) for n in range(runs)]
        start = time.monotonic()
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        wall = time.monotonic() - start
        refused = emu.log_text().count("rejected")
    finally:
        if emu is not None:
            emu.stop()
        scratch.remove()
    failures = [(n, r["error"]) for n, r in enumerate(results) if "error" in r]
    rss = [r["rss"] for r in results if "rss" in r]
    print("| runs | KB down + up each | wall s | failures | peak RSS MB min / median / max | runs over 16 MB "
          "| allocations refused |")
    print("|---|---|---|---|---|---|---|")
    print("| %d | %d + %d | %.1f | %d | %s | %d | %d |" % (
        runs, kb, kb, wall, len(failures),
        "%.1f / %.1f / %.1f" % (min(rss), statistics.median(rss), max(rss)) if rss else "-",
        sum(1 for x in rss if x >= 16.0), refused))
    for n, error in failures:
        print("run %d: %s" % (n, error))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
