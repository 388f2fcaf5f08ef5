#!/usr/bin/env python3
"""Time from a committed Request row to its answer row, through the emulator.

usage: request_latency.py <vexlink> <vexlink-hostemu> [requests per kind]

One vexlink run against the host emulator on loopback. For PING (answered
inside vexlink) and PHTXT (answered by the emulator with HPTXT), it inserts
the requests one after the other at random moments (a random pause of 0 to
50 ms before each, so that none is in step with a polling period) and times
each from the return of its committed INSERT to the first sight of its
answer row, which the script looks for every 0.2 ms. Prints the median, the
95th percentile and the largest time per kind, in milliseconds.
"""
import os
import random
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "e2e"))
from frontend import Emulator, Scratch, Vexlink, check, write_seed  # noqa: E402

LOOK = 0.0002


def answer_time(run, cmd, answer, data):
    msg = run.request(cmd, data)
    start = time.monotonic()
    query = "SELECT 1 FROM Response WHERE Id=? AND Cmd=?"
    while not run.db.execute(query, (msg, answer)).fetchone():
        if time.monotonic() - start > 30:
            raise RuntimeError("no %s for %s %d" % (answer, cmd, msg))
        time.sleep(LOOK)
    return time.monotonic() - start


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100.0 * (len(ordered) - 1))))]


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    vexlink, hostemu = (os.path.abspath(p) for p in sys.argv[1:3])
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 200
    random.seed(15)
    scratch = Scratch()
    emu = None
    run = None
    try:
        seed = scratch.file("seed")
        write_seed(seed, [])
        emu = Emulator(hostemu, scratch, seed)
        run = Vexlink(vexlink, scratch, emu.port, work_dir="lat", t0=120, msglevel=1)
        run.wait_ready()
        print("| request | answer | requests | median ms | 95th ms | max ms |")
        print("|---|---|---|---|---|---|")
        for cmd, answer in (("PING", "PING"), ("PHTXT", "HPTXT")):
            times = []
            for i in range(count):
                time.sleep(random.uniform(0, 0.05))
                times.append(1000.0 * answer_time(run, cmd, answer, "latency %d" % i))
            print("| %s | %s | %d | %.1f | %.1f | %.1f |" % (cmd, answer, count, percentile(times, 50),
                                                          percentile(times, 95), max(times)))
            sys.stdout.flush()
        check("exit code after CLOSE", run.close(60)[0], 0)
    finally:
        if run is not None:
            run.kill()
        if emu is not None:
            emu.stop()
        scratch.remove()
    return 0


if __name__ == "__main__":
    sys.exit(main())
