"""The packages as a user gets them, unpacked into a scratch root: the installed programs run
without a library path, finding libwirecomm-2.so.2 through their RUNPATH.
usage: run_package_test.py <cpack> <build dir> <tests/e2e dir>"""
import glob
import os
import subprocess
import sys

cpack, build, e2e = sys.argv[1:4]
sys.path.insert(0, e2e)
from frontend import Scratch, Vexlink, check, check_true  # noqa: E402

PACKAGES = ["vexlink", "libwirecomm-2-2", "libwirecomm-2-dev", "vexlink-hostemu"]


def run(args, **kw):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120, **kw)


def main():
    out_dir = os.path.join(build, "packages")
    for old in glob.glob(os.path.join(out_dir, "*.deb")):
        os.remove(old)
    r = run([cpack, "-G", "DEB", "-B", out_dir, "--config", os.path.join(build, "CPackConfig.cmake")], cwd=build)
    check_true("cpack succeeded", r.returncode == 0, r.stdout.decode("latin-1"))
    debs = sorted(glob.glob(os.path.join(out_dir, "*.deb")))
    check("packages built", sorted(os.path.basename(d).split("_")[0] for d in debs), sorted(PACKAGES))

    scratch = Scratch()
    emu = run_ = None
    try:
        root = scratch.file("root")
        for deb in debs:
            r = run(["dpkg", "-x", deb, root])
            check_true("dpkg -x " + deb, r.returncode == 0, r.stdout.decode("latin-1"))
        usr = os.path.join(root, "usr")
        arch = run(["dpkg-architecture", "-qDEB_HOST_MULTIARCH"]).stdout.decode().strip() or "x86_64-linux-gnu"
        for path in ["lib/%s/libwirecomm-2.so.2" % arch, "lib/%s/libwirecomm-2.so" % arch,
                     "lib/%s/pkgconfig/wirecomm-2.pc" % arch, "include/wirecomm-2/wirecomm.h",
                     "share/man/man1/vexlink.1.gz", "share/man/man1/vexlink-hostemu.1.gz",
                     "share/doc/vexlink/front-end.md", "share/vexlink-hostemu/sample/hostemu.ini"]:
            check_true("installed: " + path, os.path.exists(os.path.join(usr, path)))
        r = run(["readelf", "-d", os.path.join(usr, "lib", arch, "libwirecomm-2.so.2")])
        check_true("soname", b"[libwirecomm-2.so.2]" in r.stdout, r.stdout.decode("latin-1"))

        exe = os.path.join(usr, "bin", "vexlink")
        emu_exe = os.path.join(usr, "bin", "vexlink-hostemu")
        env = {k: v for k, v in os.environ.items() if k != "LD_LIBRARY_PATH"}
        r = run([exe, "-h"], env=env)
        check("-h exit code", r.returncode, 4)
        check("-h first lines", r.stdout.split(b"\n")[:3],
              [b"", b" vexlink.exe VERSION=07.04.00", b" The TLS encpypted file and command transfer protocol"])
        r = run([exe, "-t"], env=env)
        check("-t exit code", r.returncode, 4)
        check_true("-t lists IBM-1141", b"IBM-1141" in r.stdout, r.stdout.decode("latin-1")[:400])

        # The installed emulator with the installed sample configuration.
        emu = subprocess.Popen([emu_exe, "-c", os.path.join(usr, "share/vexlink-hostemu/sample/hostemu.ini"),
                                "-p", "0"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        line = emu.stdout.readline()
        check_true("installed emulator prints its port", line.strip().isdigit(), repr(line))
        run_ = Vexlink(exe, scratch, int(line), work_dir="pkg", t0=30, extra_tcp=("MEMBER=VEXSTC",))
        run_.wait_ready()
        m = run_.request("PHGETFILE", "VEXUSR1.DEMO.DATA")
        with open(os.path.join(usr, "share/vexlink-hostemu/sample/seed/VEXUSR1.DEMO.DATA"), "rb") as f:
            seed = f.read()
        # Fixed records lose their trailing blanks on a text download.
        want = b"\n".join(l.rstrip(b" ") for l in seed.split(b"\n"))
        check("download equals the installed sample data set", run_.download(m), want)
        check("exit code after CLOSE", run_.close()[0], 0)
    finally:
        if run_ is not None:
            run_.kill()
        if emu is not None:
            emu.terminate()
            emu.wait(timeout=10)
            emu.stdout.close()
        scratch.remove()


if __name__ == "__main__":
    try:
        main()
    except Exception as e:  # noqa: BLE001 - any failure fails the test
        print("packaging test failed:", e)
        sys.exit(1)
    print("packaging test passed")
