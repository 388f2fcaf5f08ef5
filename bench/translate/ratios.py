#!/usr/bin/env python3
"""Runs translate_bench and prints the throughput ratios of the translation
against memcpy and glibc iconv on the same buffer (medians of CPU-time
throughput over interleaved repetitions).

Usage: python3 bench/translate/ratios.py BUILD/bench/translate/translate_bench [repetitions]
"""
import json
import subprocess
import sys
import tempfile


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    binary = sys.argv[1]
    reps = sys.argv[2] if len(sys.argv) > 2 else "10"
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run([binary, "--benchmark_repetitions=" + reps,
                        "--benchmark_enable_random_interleaving=true",
                        "--benchmark_report_aggregates_only=true",
                        "--benchmark_out=" + out.name, "--benchmark_out_format=json"],
                       check=True, stdout=subprocess.DEVNULL)
        data = json.load(open(out.name))
    med = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") == "median":
            med[b["run_name"]] = b["bytes_per_second"]
    goal_ok = True
    for size, label in (("67108864", "64 MiB"), ("1048576", "1 MiB")):
        mc = med["BM_Memcpy/" + size]
        print("%s: memcpy %.2f GB/s" % (label, mc / 1e9))
        for name, iconv_name in (("BM_TranslateToPC", "BM_IconvToPC"), ("BM_TranslateToHost", "BM_IconvToHost")):
            t = med[name + "/" + size]
            ic = med[iconv_name + "/" + size]
            print("  %-18s %6.2f GB/s = %5.1f%% of memcpy, %5.1fx iconv (%.2f GB/s)"
                  % (name[3:], t / 1e9, 100 * t / mc, t / ic, ic / 1e9))
            if size == "67108864":
                goal_ok = goal_ok and t >= 0.7 * mc and t >= 2.5 * ic
        for k, kname in ((0, "scalar"), (1, "AVX2"), (2, "AVX-512 VBMI")):
            key = "BM_Kernel/%s/%d" % (size, k)
            if key in med:
                print("  kernel %-12s %6.2f GB/s = %5.1f%% of memcpy" % (kname, med[key] / 1e9, 100 * med[key] / mc))
    print("goal (64 MiB: >= 70% of memcpy and >= 2.5x iconv):", "met" if goal_ok else "NOT met")


if __name__ == "__main__":
    main()
